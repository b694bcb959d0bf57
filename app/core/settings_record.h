#pragma once
// The settings record the main window holds, the fixed output type table, and the state of
// the window's rotation and scale controls that the store keeps beside the record.
#include <array>
#include <string>

// One row of the output type table: what the settings dialog lists, what the pipeline uses.
struct OutputTypeEntry {
    const char* displayName;
    const char* extension;  // ".*" keeps the source file's own extension
};

inline constexpr int kOutputTypeSame = 0;
// The stored "OutputType" is an index into this table: new rows go at the end, so that a
// stored value keeps its meaning.
inline constexpr std::array<OutputTypeEntry, 5> OutputTypeTable = {{
    {"Same as original", ".*"},
    {".bmp (Windows Bitmap)", ".bmp"},
    {".jpg (JPEG)", ".jpg"},
    {".gif (GIF)", ".gif"},
    {".png (PNG)", ".png"},
}};

struct TSettingsRecord {
    std::string WorkDir;  // always ends in "/"
    int OutputType = 2;   // index into OutputTypeTable; checked where used
    int JPEGQuality = 85;  // valid 1..100; checked where used
    int Resampler = 5;     // index into FilterTable; checked where used
    bool UseIntViewer = true;
    bool PreserveAspectRatio = true;
    std::string Prefix;
    std::string Suffix;
    // A batch stops at the first file that cannot be converted, instead of listing it at the end.
    bool StopAtFirstError = false;
    // Pictures are turned upright as the camera recorded (EXIF orientation) before the
    // rotation control's own turn; off, they are used as stored.
    bool AutoOrient = true;
    // JPEG results are kept under this many kilobytes (1024 bytes) by lowering the quality;
    // 0 (or less) is no limit.
    int MaxJPEGKB = 0;
    bool operator==(const TSettingsRecord&) const = default;
};

// The folder of the running executable, with a trailing "/" (the current folder when it
// cannot be found).
std::string ExecutableFolder();
// The first-run record: the defaults above with WorkDir = ExecutableFolder().
TSettingsRecord DefaultSettings();
// A folder text as the pipeline uses it: ends in exactly one more "/" when it had none.
std::string WithTrailingSeparator(const std::string& folder);

// Which scale radio button is checked.
enum class ScaleMode { FullSize, HalfSize, QuarterSize, Special };

inline constexpr const char* kUnitPixels = "px";
inline constexpr const char* kUnitPercent = "%";

// The state of the window's rotation and scale controls. The pipeline asks its host for it
// once per file, so a change during a batch affects the files not yet started.
// (Whether "Special" sizes keep the picture's proportions is the settings record's
// PreserveAspectRatio.)
struct ScaleChoice {
    // Item of the rotation list: 0 none, 1 "90 Degrees Right", 2 "Flip (180 degrees)",
    // 3 "90 Degrees Left"; -1 when no item is selected (treated as no rotation).
    int RotationIndex = 0;
    ScaleMode Scale = ScaleMode::HalfSize;
    std::string WidthText;   // as typed
    std::string HeightText;
    // Text of the unit lists: "px", "%", or "" when no item is selected. Anything other than
    // exactly "px" is read as a percentage.
    std::string WidthUnits = kUnitPixels;
    std::string HeightUnits = kUnitPixels;
    bool operator==(const ScaleChoice&) const = default;
};

// The texts the store uses for the scale radio buttons.
const char* ScaleModeName(ScaleMode mode);  // "FullSize", "HalfSize", "QuarterSize", "Special"
