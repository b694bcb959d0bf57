#pragma once
// Keeping JPEG results under a file size: the highest quality, not above the one asked for,
// whose file fits, found by bisection over encodings of the same bitmap in memory.
#include <cstdint>
#include <string>
#include <vector>

class TBitmap;

// The lowest quality the search goes down to; below it pictures fall apart into blocks.
inline constexpr int kMinLimitedJpegQuality = 10;

// How a size limit on a JPEG result was met.
struct SizeLimitOutcome {
    int Quality = 0;        // the quality the file was written with
    int RequestedQuality = 0;
    int64_t Bytes = 0;      // its size
    int LimitKB = 0;
    bool OverLimit = false;  // too large even at the lowest quality searched
    bool operator==(const SizeLimitOutcome&) const = default;
};

struct LimitedJpeg {
    std::vector<uint8_t> Bytes;
    SizeLimitOutcome Outcome;
};

// Encodes bitmap as a baseline colour JPEG at quality when that file has at most
// limitKB * 1024 bytes; otherwise at the highest quality q below it whose file fits (so the
// file at q + 1 does not), searched down to min(quality, kMinLimitedJpegQuality). A picture
// that does not fit even there is encoded at that lowest quality and marked OverLimit.
// Quality outside 1..100 fails with "Range check error"; limitKB must be positive.
// (File size is not strictly monotonic in the quality; the bisection finds a quality whose
// next step up is too large, which for real pictures is the highest that fits.)
LimitedJpeg EncodeJpegWithinLimit(TBitmap& bitmap, int quality, int limitKB);

// The line the Out tray's tip adds: "" when the asked-for quality fitted; otherwise what the
// limit did, e.g. "JPEG quality 62 to stay under 100K" or "Over the 20K limit even at JPEG
// quality 10".
std::string SizeLimitNote(const SizeLimitOutcome& outcome);
