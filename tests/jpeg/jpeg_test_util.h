#pragma once
// Helpers shared by the JPEG tests: synthetic pictures, encode/decode through TJPEGImage,
// picture distances and a PPM/PGM reader for the output of other decoders.
#include <cstdint>
#include <string>
#include <vector>

#include "graphics/bitmap.h"
#include "jpeg/jpeg_image.h"

namespace jpegtest {

// A smooth 24-bit picture (every channel its own gradient) that JPEG keeps close.
TBitmap SmoothBitmap(int width, int height);

// Encodes bitmap with TJPEGImage at the quality given and returns the file bytes.
std::vector<uint8_t> Encode(const TBitmap& bitmap, int quality = 90, bool progressive = false, bool gray = false);

// Loads bytes into a TJPEGImage (header only).
void Load(TJPEGImage& image, const std::vector<uint8_t>& bytes);

// The picture drawn at its own size onto a 24-bit bitmap, as the pipeline does.
TBitmap DrawTo24Bit(TJPEGImage& image);

struct Distance {
    double mean = 0;  // mean absolute difference per byte
    int max = 0;      // largest absolute difference
    std::string Describe() const;
};
// Both must be 24-bit and of one size (fails the test otherwise).
Distance Compare(const TBitmap& a, const TBitmap& b);

// Reads a binary PPM (P6) or PGM (P5) file with maxval 255 into a 24-bit bitmap.
TBitmap ReadPnm(const std::string& path);
// Writes a 24-bit bitmap as binary PPM.
void WritePpm(const TBitmap& bitmap, const std::string& path);

std::string Quote(const std::string& path);

}  // namespace jpegtest
