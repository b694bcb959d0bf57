// The JPEG metadata scanner: the input as an EXIF block, as a whole marker stream, and
// wrapped into an APP1 segment. A profile the chunks make goes through the sRGB conversion of
// a small bitmap, so damaged profiles reach LittleCMS the way a load hands them over.
#include <cstdint>
#include <vector>

#include "graphics/bitmap.h"
#include "icc/colour_profile.h"
#include "jpeg/jpeg_metadata.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> input(data, data + size);  // exactly its size, for the sanitizer
    volatile int sink = ExifOrientation(input);

    JpegMetadata whole = ScanJpegMetadata(input);
    sink = whole.Orientation;

    std::vector<uint8_t> wrapped = {0xFF, 0xD8, 0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
    const size_t body = std::min<size_t>(size, 65535 - 8);
    wrapped[4] = uint8_t((body + 8) >> 8);
    wrapped[5] = uint8_t(body + 8);
    wrapped.insert(wrapped.end(), data, data + body);
    wrapped.insert(wrapped.end(), {0xFF, 0xDA});
    sink = ScanJpegMetadata(wrapped).Orientation;

    if (!whole.IccProfile.empty()) {
        TBitmap bitmap(4, 3, TPixelFormat::pf24bit);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 12; ++x) bitmap.ScanLine(y)[x] = uint8_t(x * 21 + y * 40);
        ConvertToSRGB(bitmap, whole.IccProfile);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 12; ++x) sink = sink + bitmap.ScanLine(y)[x];
    }
    (void)sink;
    return 0;
}
