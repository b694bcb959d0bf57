#pragma once
// Independent decoders the reader tests compare against: Pillow through Debian's Python, and
// the comparison of two decoded pictures with a readable verdict.
#include <filesystem>
#include <optional>
#include <string>

#include "graphics/bitmap.h"

namespace testsupport {

// Debian's Python (the python3 first on PATH may be another one without Pillow).
inline constexpr const char* kSystemPython = "/usr/bin/python3";

// Whether Debian's Python has Pillow (scripts/setup.sh installs python3-pil).
bool HavePillow();

// Pillow's decode of a picture file, put onto white where it has alpha, as a 24-bit bitmap;
// nothing when Pillow refuses the file. `mode` is the Pillow mode to convert through first
// ("RGBA" keeps transparency for the white background; "RGB" ignores it).
std::optional<TBitmap> PillowDecode(const std::filesystem::path& picture, const std::string& mode = "RGBA");

// The picture drawn onto a new white 24-bit bitmap of its size, as the pipeline does.
TBitmap FlattenOnWhite(TBitmap& picture);

// Largest per-channel difference of two 24-bit bitmaps of one size; `where` names the worst
// pixel as "at (x,y) had #RRGGBB wanted #RRGGBB". A size difference gives 256 and says so.
int MaxDifference(const TBitmap& had, const TBitmap& wanted, std::string* where);

}  // namespace testsupport
