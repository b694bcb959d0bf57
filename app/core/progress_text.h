#pragma once
// The progress dialog's arithmetic, without the dialog.
#include <cstdint>
#include <string>

// Work steps per file: load, convert, resample, rotate, tray entry, write.
inline constexpr int kStepsPerFile = 6;

// The progress range for a batch of fileCount files (0 .. 6 x fileCount).
int64_t ProgressStepCount(int64_t fileCount);

// A text of more than 45 characters becomes its first 23, "..." and its last 20 characters.
// Characters are counted as UTF-8 code points, so a name is never cut inside a character.
std::string ShortenPath(const std::string& text);
