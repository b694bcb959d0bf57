#pragma once
// Small helpers shared by the test programs.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "graphics/bitmap.h"
#include "graphics/size_check.h"

namespace testsupport {

// The shared conformance corpus (../shared/corpus beside the checkout), if present. Tests
// that need it GTEST_SKIP when it is absent, as it is in a user's clone.
std::optional<std::filesystem::path> CorpusDir();
#define REQUIRE_CORPUS(var)                                        \
    auto var##_opt = ::testsupport::CorpusDir();                   \
    if (!var##_opt) GTEST_SKIP() << "shared corpus not present";  \
    const std::filesystem::path var = *var##_opt

// A fresh temporary folder, removed with everything in it when the object dies.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    // Path of a file inside the folder, as a string.
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// Restores the picture limits when the test ends, also when it fails half-way.
class LimitsGuard {
public:
    LimitsGuard() : saved_(CurrentPictureLimits()) {}
    ~LimitsGuard() { CurrentPictureLimits() = saved_; }
    LimitsGuard(const LimitsGuard&) = delete;
    LimitsGuard& operator=(const LimitsGuard&) = delete;

private:
    PictureLimits saved_;
};

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadFile(const std::string& path);

// A 24-bit bitmap with deterministic pseudo-random pixels.
TBitmap NoiseBitmap(int width, int height, uint32_t seed = 1);
// Index of the first differing byte of two 24-bit bitmaps' pixels, or -1 when equal
// (sizes must match; a size difference returns -2).
int64_t FirstPixelDifference(const TBitmap& a, const TBitmap& b);

// Runs a command and returns its exit status; output goes to the test log.
int RunCommand(const std::string& command);
// Whether a program is on PATH (or an absolute path exists and is executable).
bool HaveProgram(const std::string& program);

}  // namespace testsupport
