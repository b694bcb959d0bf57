// The settings store: defaults, reading rules, writing, and the round trip between processes.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "app/settings/settings_store.h"
#include "tests/support/test_support.h"

using testsupport::TempDir;

namespace {

// A store file in a temporary folder, written as text so each test states what is stored.
struct Store {
    TempDir dir;
    SettingsLocation location{dir.file("Imbrix.conf")};
    void Write(const std::string& body) {
        std::ofstream(location.IniFile) << "[General]\n" << body;
    }
};

std::string ReadText(const std::string& path) {
    const std::vector<uint8_t> bytes = testsupport::ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
}

std::string Capture(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return out;
    char buffer[512];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    ::pclose(pipe);
    return out;
}

}  // namespace

TEST(SettingsStore, FirstRunGivesTheDefaults) {
    Store store;
    const LoadedSettings s = LoadSettings(store.location);
    EXPECT_EQ(s.Record.OutputType, 2);
    EXPECT_EQ(s.Record.JPEGQuality, 85);
    EXPECT_EQ(s.Record.Resampler, 5);
    EXPECT_TRUE(s.Record.UseIntViewer);
    EXPECT_TRUE(s.Record.PreserveAspectRatio);
    EXPECT_EQ(s.Record.Prefix, "");
    EXPECT_EQ(s.Record.Suffix, "");
    EXPECT_FALSE(s.Record.StopAtFirstError) << "a batch goes on past a bad file by default";
    EXPECT_TRUE(s.Record.AutoOrient) << "pictures are turned upright by default";
    EXPECT_EQ(s.Record.MaxJPEGKB, 0) << "no size limit by default";
    EXPECT_EQ(s.Record.WorkDir, DefaultWorkDir());
    EXPECT_NE(s.Record.WorkDir.find("/results/"), std::string::npos) << s.Record.WorkDir;
    EXPECT_EQ(s.Record.WorkDir.back(), '/');
    EXPECT_EQ(s.Controls, ScaleChoice{}) << "rotation none, half size, empty fields in px";
    EXPECT_TRUE(s.Errors.empty());
    EXPECT_FALSE(std::filesystem::exists(store.location.IniFile)) << "loading created the store";
}

TEST(SettingsStore, ScaleRulesGuardTheSpecialValues) {
    Store store;
    // No "Scale": the four Special values are ignored even though present.
    store.Write("Rotate=2\nSpecialWidth=640\nSpecialHeight=480\nSpecialWidthUnits=%\n");
    LoadedSettings s = LoadSettings(store.location);
    EXPECT_EQ(s.Controls.RotationIndex, 2);
    EXPECT_EQ(s.Controls.Scale, ScaleMode::HalfSize);
    EXPECT_EQ(s.Controls.WidthText, "");
    EXPECT_EQ(s.Controls.WidthUnits, "px");

    // A name that differs in letter case matches nothing; the Special values are still read.
    store.Write("Scale=halfsize\nSpecialWidth=640\nSpecialWidthUnits=PX\nSpecialHeightUnits=cm\nRotate=7\n");
    s = LoadSettings(store.location);
    EXPECT_EQ(s.Controls.Scale, ScaleMode::HalfSize);
    EXPECT_EQ(s.Controls.WidthText, "640");
    EXPECT_EQ(s.Controls.WidthUnits, "px") << "unit texts match without regard to case";
    EXPECT_EQ(s.Controls.HeightText, "") << "a missing Special value reads as empty";
    EXPECT_EQ(s.Controls.HeightUnits, "") << "an unknown unit leaves no item selected";
    EXPECT_EQ(s.Controls.RotationIndex, -1) << "a rotation outside 0..3 selects nothing";

    store.Write("Scale=QuarterSize\n");
    EXPECT_EQ(LoadSettings(store.location).Controls.Scale, ScaleMode::QuarterSize);
    // Units that were never stored are pixels, not "no unit" (which would mean percent).
    EXPECT_EQ(LoadSettings(store.location).Controls.WidthUnits, "px");
    EXPECT_EQ(LoadSettings(store.location).Controls.HeightUnits, "px");
}

TEST(SettingsStore, AValueOfTheWrongTypeDoesNotStopTheOthers) {
    Store store;
    store.Write("OutputType=jpeg\nJPEGQuality=70\nUseIntViewer=2\nPreserveAspectRatio=0\nResampler=x\nSuffix=_s\n"
                "MaxJPEGKB=100K\n");
    LoadedSettings s = LoadSettings(store.location);
    EXPECT_EQ(s.Errors, (std::vector<std::string>{"Invalid data type for 'OutputType'",
                                                  "Invalid data type for 'Resampler'",
                                                  "Invalid data type for 'MaxJPEGKB'"}));
    EXPECT_EQ(s.Record.MaxJPEGKB, 0);
    EXPECT_EQ(s.Record.OutputType, 2);
    EXPECT_EQ(s.Record.Resampler, 5);
    EXPECT_EQ(s.Record.JPEGQuality, 70);
    EXPECT_TRUE(s.Record.UseIntViewer) << "any value other than 0 is true";
    EXPECT_FALSE(s.Record.PreserveAspectRatio);
    EXPECT_EQ(s.Record.Suffix, "_s");

    // A limit below 0, typed into the file by hand, is no limit.
    store.Write("MaxJPEGKB=-5\nOutputType=4\n");
    s = LoadSettings(store.location);
    EXPECT_TRUE(s.Errors.empty());
    EXPECT_EQ(s.Record.MaxJPEGKB, 0);
    EXPECT_EQ(s.Record.OutputType, 4) << "the PNG row";
}

TEST(SettingsStore, SavingWritesEveryValueAndReadsBackTheSame) {
    Store store;
    TSettingsRecord r;
    r.WorkDir = "/tmp/results/";
    r.OutputType = 0;
    r.JPEGQuality = 100;
    r.Resampler = 6;
    r.UseIntViewer = false;
    r.PreserveAspectRatio = true;
    r.Prefix = "a,b";
    r.Suffix = "";
    r.StopAtFirstError = true;
    r.AutoOrient = false;
    r.MaxJPEGKB = 250;
    ScaleChoice c;
    c.RotationIndex = 1;
    c.Scale = ScaleMode::Special;
    c.WidthText = "";
    c.HeightText = "12";
    c.HeightUnits = "%";
    ASSERT_EQ(SaveSettings(r, c, store.location), "");

    const std::string text = ReadText(store.location.IniFile);
    EXPECT_NE(text.find("UseIntViewer=0"), std::string::npos) << text;
    EXPECT_NE(text.find("PreserveAspectRatio=1"), std::string::npos) << text;
    EXPECT_NE(text.find("StopAtFirstError=1"), std::string::npos) << text;
    EXPECT_NE(text.find("AutoOrient=0"), std::string::npos) << text;
    EXPECT_NE(text.find("MaxJPEGKB=250"), std::string::npos) << text;
    EXPECT_NE(text.find("Scale=Special"), std::string::npos) << text;
    EXPECT_NE(text.find("SpecialWidth="), std::string::npos) << "an empty width is still written:\n" << text;

    const LoadedSettings s = LoadSettings(store.location);
    EXPECT_TRUE(s.Errors.empty());
    EXPECT_EQ(s.Record.WorkDir, r.WorkDir);
    EXPECT_EQ(s.Record.OutputType, 0);
    EXPECT_EQ(s.Record.JPEGQuality, 100);
    EXPECT_EQ(s.Record.Resampler, 6);
    EXPECT_FALSE(s.Record.UseIntViewer);
    EXPECT_EQ(s.Record.Prefix, "a,b");
    EXPECT_TRUE(s.Record.StopAtFirstError);
    EXPECT_FALSE(s.Record.AutoOrient);
    EXPECT_EQ(s.Record.MaxJPEGKB, 250);
    EXPECT_EQ(s.Controls, c);
}

TEST(SettingsStore, AStoreThatCannotBeCreatedReportsTheBox) {
    TempDir dir;
    testsupport::WriteFile(dir.file("file"), {1});
    // The store's folder would have to be a regular file: it can never be created.
    const SettingsLocation location{dir.file("file") + "/Imbrix.conf"};
    EXPECT_EQ(SaveSettings(TSettingsRecord{}, ScaleChoice{}, location), kCannotCreateSettingsMessage);
}

TEST(SettingsStore, RoundTripThroughTheUsersStoreInNewProcesses) {
    TempDir home;
    const std::string env = "HOME='" + home.path().string() + "' XDG_CONFIG_HOME='" + home.file("config") + "' ";
    const std::string helper = IMBRIX_SETTINGS_HELPER;
    const std::string first = Capture(env + helper + " load");
    EXPECT_NE(first.find("OutputType=2\nJPEGQuality=85\nResampler=5\nUseIntViewer=1\n"), std::string::npos) << first;
    EXPECT_NE(first.find("Scale=HalfSize\nMaxJPEGKB=0\nWidth=px\nHeight=px\nErrors=0"), std::string::npos) << first;

    ASSERT_EQ(testsupport::RunCommand(env + helper + " save /srv/out"), 0);
    EXPECT_TRUE(std::filesystem::exists(home.path() / "config" / "mrl" / "Imbrix.conf"))
        << "the store is not where the user's settings live";
    const std::string second = Capture(env + helper + " load");
    EXPECT_EQ(second,
              "WorkDir=/srv/out/\nOutputType=4\nJPEGQuality=42\nResampler=0\nUseIntViewer=0\n"
              "PreserveAspectRatio=0\nPrefix=small_\nSuffix=_v, final\nRotate=3\nScale=Special\n"
              "MaxJPEGKB=300\nWidth=50%\nHeight=px\nErrors=0\n");
}
