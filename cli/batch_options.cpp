#include "cli/batch_options.h"

#include <array>
#include <optional>

#include "app/core/pipeline.h"
#include "graphics/integer_field.h"

const char* const kBatchUsage =
    "Usage: imbrix-batch [options] FILE...\n"
    "Makes resized and rotated copies of pictures, as the Imbrix window does.\n"
    "Prints the path of each result written; messages go to standard error.\n"
    "\n"
    "  -r, --rotate none|right|flip|left    turn the result (default none)\n"
    "  -s, --scale full|half|quarter        scale (default half)\n"
    "  -W, --width N | N%                   result width in pixels or percent\n"
    "  -H, --height N | N%                  result height in pixels or percent\n"
    "                                       (either one selects a special size; a side not\n"
    "                                       given follows the picture's proportions)\n"
    "      --keep-aspect | --no-keep-aspect fit a special size to the picture's\n"
    "                                       proportions (default keep)\n"
    "  -f, --filter box|triangle|hermite|bell|bspline|lanczos3|mitchell\n"
    "                                       resampling filter (default lanczos3)\n"
    "  -t, --type same|bmp|jpg|gif|png      result file type (default jpg)\n"
    "  -q, --quality 1..100                 JPEG quality (default 85)\n"
    "      --max-size N                     keep JPEG results under N kilobytes by\n"
    "                                       lowering the quality, down to 10 at most\n"
    "                                       (default 0: no limit)\n"
    "  -o, --workdir DIR                    folder for the results (default: the current\n"
    "                                       directory; it must exist)\n"
    "      --prefix TEXT, --suffix TEXT     put around each result's base name\n"
    "      --stop-at-first-error            stop at the first file that cannot be\n"
    "                                       converted (default: go on, list them at the end)\n"
    "      --auto-orient | --no-auto-orient turn pictures upright as the camera recorded\n"
    "                                       (EXIF orientation) before --rotate (default on)\n"
    "  -h, --help                           display this help and exit\n"
    "      --version                        output version information and exit\n"
    "\n"
    "An existing file is never overwritten: a taken name gets -1, -2, ... before its\n"
    "extension.\n"
    "A file that cannot be read or converted is skipped and the batch goes on; the\n"
    "failed files are listed with their reasons at the end. A result that cannot be\n"
    "written (missing folder, full disk) stops the batch.\n"
    "Exit status: 0 when every file gave a result, 1 when any file failed or a result\n"
    "could not be written, 2 on a usage error.\n";

namespace {

template <size_t N>
int Choose(const std::string& option, const std::string& value, const std::array<const char*, N>& names) {
    for (size_t i = 0; i < N; ++i)
        if (value == names[i]) return static_cast<int>(i);
    std::string allowed;
    for (const char* n : names) allowed += std::string(allowed.empty() ? "" : ", ") + n;
    throw UsageError{"invalid value '" + value + "' for " + option + " (one of: " + allowed + ")"};
}

// "N" or "N%" with N a non-negative integer.
void SpecialSide(const std::string& option, const std::string& value, std::string& text, std::string& units) {
    std::string number = value;
    units = kUnitPixels;
    if (!number.empty() && number.back() == '%') {
        number.pop_back();
        units = kUnitPercent;
    }
    const std::optional<int> n = ParseIntegerField(number);
    if (number.empty() || !n || *n < 0 || number.find_first_not_of("0123456789") != std::string::npos)
        throw UsageError{"invalid value '" + value + "' for " + option + " (a number of pixels, or a percentage such as 50%)"};
    text = number;
}

}  // namespace

BatchOptions ParseBatchOptions(const std::vector<std::string>& args, const std::string& workDirDefault) {
    BatchOptions o;
    o.Settings.WorkDir = WithTrailingSeparator(workDirDefault);
    bool scaleGiven = false, widthGiven = false, heightGiven = false, onlyFiles = false;
    std::string width = "0", widthUnits = kUnitPixels, height = "0", heightUnits = kUnitPixels;

    for (size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        if (onlyFiles || arg.empty() || arg[0] != '-' || arg == "-") {
            o.Files.push_back(arg);
            continue;
        }
        if (arg == "--") {
            onlyFiles = true;
            continue;
        }
        std::optional<std::string> inlineValue;
        if (arg.rfind("--", 0) == 0) {
            const size_t eq = arg.find('=');
            if (eq != std::string::npos) {
                inlineValue = arg.substr(eq + 1);
                arg = arg.substr(0, eq);
            }
        } else if (arg.size() > 2) {  // -W640
            inlineValue = arg.substr(2);
            arg = arg.substr(0, 2);
        }
        auto value = [&]() -> std::string {
            if (inlineValue) return *inlineValue;
            if (i + 1 >= args.size()) throw UsageError{"option " + arg + " needs a value"};
            return args[++i];
        };
        auto flag = [&]() {
            if (inlineValue) throw UsageError{"option " + arg + " takes no value"};
        };

        if (arg == "-h" || arg == "--help") {
            flag();
            o.ShowHelp = true;
        } else if (arg == "--version") {
            flag();
            o.ShowVersion = true;
        } else if (arg == "-r" || arg == "--rotate") {
            o.Scale.RotationIndex = Choose(arg, value(), std::array{"none", "right", "flip", "left"});
        } else if (arg == "-s" || arg == "--scale") {
            o.Scale.Scale = static_cast<ScaleMode>(Choose(arg, value(), std::array{"full", "half", "quarter"}));
            scaleGiven = true;
        } else if (arg == "-W" || arg == "--width") {
            SpecialSide(arg, value(), width, widthUnits);
            widthGiven = true;
        } else if (arg == "-H" || arg == "--height") {
            SpecialSide(arg, value(), height, heightUnits);
            heightGiven = true;
        } else if (arg == "--keep-aspect") {
            flag();
            o.Settings.PreserveAspectRatio = true;
        } else if (arg == "--no-keep-aspect") {
            flag();
            o.Settings.PreserveAspectRatio = false;
        } else if (arg == "-f" || arg == "--filter") {
            o.Settings.Resampler = Choose(
                arg, value(), std::array{"box", "triangle", "hermite", "bell", "bspline", "lanczos3", "mitchell"});
        } else if (arg == "-t" || arg == "--type") {
            // In the order of the output type table.
            o.Settings.OutputType = Choose(arg, value(), std::array{"same", "bmp", "jpg", "gif", "png"});
        } else if (arg == "-q" || arg == "--quality") {
            const std::string v = value();
            const std::optional<int> q = ParseIntegerField(v);
            if (!q || *q < 1 || *q > 100) throw UsageError{"invalid value '" + v + "' for " + arg + " (1..100)"};
            o.Settings.JPEGQuality = *q;
        } else if (arg == "--max-size") {
            const std::string v = value();
            const std::optional<int> kb = ParseIntegerField(v);
            if (!kb || *kb < 0 || v.find_first_not_of("0123456789") != std::string::npos)
                throw UsageError{"invalid value '" + v + "' for " + arg + " (a number of kilobytes, 0 for no limit)"};
            o.Settings.MaxJPEGKB = *kb;
        } else if (arg == "-o" || arg == "--workdir") {
            const std::string v = value();
            if (v.empty()) throw UsageError{"option " + arg + " needs a folder"};
            o.Settings.WorkDir = WithTrailingSeparator(v);
        } else if (arg == "--prefix") {
            o.Settings.Prefix = value();
        } else if (arg == "--suffix") {
            o.Settings.Suffix = value();
        } else if (arg == "--stop-at-first-error") {
            flag();
            o.Settings.StopAtFirstError = true;
        } else if (arg == "--auto-orient") {
            flag();
            o.Settings.AutoOrient = true;
        } else if (arg == "--no-auto-orient") {
            flag();
            o.Settings.AutoOrient = false;
        } else {
            throw UsageError{"unknown option " + arg};
        }
    }

    if (widthGiven || heightGiven) {
        if (scaleGiven) throw UsageError{"--scale cannot be combined with --width or --height"};
        o.Scale.Scale = ScaleMode::Special;
        o.Scale.WidthText = width;
        o.Scale.WidthUnits = widthUnits;
        o.Scale.HeightText = height;
        o.Scale.HeightUnits = heightUnits;
    }
    if (!o.ShowHelp && !o.ShowVersion && o.Files.empty()) throw UsageError{"no picture files given"};
    for (const std::string& f : o.Files)
        if (f.empty()) throw UsageError{"an empty file name was given"};
    return o;
}
