// Saves or loads the user's settings in a process of its own, for the round-trip test:
//   settings_helper save WORKDIR   writes a fixed non-default record and control state
//   settings_helper load           prints what a start-up would read, one field a line
#include <cstdio>
#include <string>

#include "app/settings/settings_store.h"

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "save" && argc > 2) {
        TSettingsRecord r;
        r.WorkDir = argv[2];
        r.OutputType = 4;
        r.JPEGQuality = 42;
        r.Resampler = 0;
        r.UseIntViewer = false;
        r.PreserveAspectRatio = false;
        r.Prefix = "small_";
        r.Suffix = "_v, final";
        r.MaxJPEGKB = 300;
        ScaleChoice c;
        c.RotationIndex = 3;
        c.Scale = ScaleMode::Special;
        c.WidthText = "50";
        c.WidthUnits = "%";
        c.HeightText = "";
        c.HeightUnits = "px";
        const std::string error = SaveSettings(r, c);
        if (!error.empty()) std::fprintf(stderr, "%s\n", error.c_str());
        return error.empty() ? 0 : 1;
    }
    if (command == "load") {
        const LoadedSettings s = LoadSettings();
        const TSettingsRecord& r = s.Record;
        const ScaleChoice& c = s.Controls;
        std::printf("WorkDir=%s\nOutputType=%d\nJPEGQuality=%d\nResampler=%d\nUseIntViewer=%d\n", r.WorkDir.c_str(),
                    r.OutputType, r.JPEGQuality, r.Resampler, int(r.UseIntViewer));
        std::printf("PreserveAspectRatio=%d\nPrefix=%s\nSuffix=%s\nRotate=%d\nScale=%s\n", int(r.PreserveAspectRatio),
                    r.Prefix.c_str(), r.Suffix.c_str(), c.RotationIndex, ScaleModeName(c.Scale));
        std::printf("MaxJPEGKB=%d\n", r.MaxJPEGKB);
        std::printf("Width=%s%s\nHeight=%s%s\nErrors=%zu\n", c.WidthText.c_str(), c.WidthUnits.c_str(),
                    c.HeightText.c_str(), c.HeightUnits.c_str(), s.Errors.size());
        return 0;
    }
    std::fprintf(stderr, "usage: settings_helper save WORKDIR | load\n");
    return 2;
}
