#pragma once
// The one check that runs before any picture-sized allocation. A hostile header can make a
// load fail; it can never make us allocate without bound.
#include <cstdint>

struct PictureLimits {
    uint64_t maxPixels = uint64_t(1) << 27;      // about 134 megapixels
    uint64_t maxAllocation = uint64_t(1) << 30;  // 1 GiB for any one buffer
};

// The limits in force (process-wide; tests and fuzzers may lower them).
PictureLimits& CurrentPictureLimits();

// Fails with EInvalidGraphic unless width x height is a sane picture size whose buffer of
// bitsPerPixel bits per pixel (rows padded to rowAlignment bytes) fits the limits.
// Returns that buffer's size in bytes.
uint64_t CheckPictureSize(int64_t width, int64_t height, int bitsPerPixel, int rowAlignment = 1);

// Fails with EInvalidGraphic unless count x elementSize fits the allocation limit; returns it.
uint64_t CheckAllocation(uint64_t count, uint64_t elementSize);

// For compressed data: fails with EInvalidGraphic unless compressedBytes, inflated at the
// codec's highest possible ratio, could give the neededBytes of the picture. A file of a few
// kilobytes claiming a picture of hundreds of megabytes is refused before that memory is taken.
void CheckCompressedSize(uint64_t neededBytes, uint64_t compressedBytes, uint64_t maxRatio);

// The highest ratios: deflate gives at most about 1032 bytes per input byte; an LZW code
// gives at most its table size (4096) of bytes, and codes are at least 9 bits (TIFF) or 3
// bits (GIF, minimum code size 2) wide; PackBits gives 128 bytes for 2.
inline constexpr uint64_t kDeflateMaxRatio = 1032;
inline constexpr uint64_t kTiffLzwMaxRatio = 4096 * 8 / 9 + 1;
inline constexpr uint64_t kGifLzwMaxRatio = 4096 * 8 / 3 + 1;
inline constexpr uint64_t kPackBitsMaxRatio = 64;

// JPEG streams with more scans than this are refused, by the picture class and by the
// JPEG-in-TIFF codec alike. Real files have a handful (progressive ones about ten); each scan
// re-walks the whole picture, so a small hostile file with thousands of nearly empty scans
// could otherwise keep the decoder busy for minutes.
inline constexpr int kMaxJpegScans = 500;
inline constexpr const char* kTooManyJpegScansMessage = "JPEG file has too many scans";

// For uncompressed data: fails with "Stream read error" (EReadError) unless the declared
// byte count is at most what the file still holds.
void CheckDeclaredSize(uint64_t declaredBytes, uint64_t availableBytes);
