#include "graphics/size_check.h"

#include <algorithm>

#include "graphics/errors.h"

PictureLimits& CurrentPictureLimits() {
    static PictureLimits limits;
    return limits;
}

uint64_t CheckPictureSize(int64_t width, int64_t height, int bitsPerPixel, int rowAlignment) {
    const PictureLimits& limits = CurrentPictureLimits();
    if (width < 0 || height < 0 || bitsPerPixel <= 0 || rowAlignment <= 0)
        throw EInvalidGraphic(FormatMessage("Invalid picture size (%lld x %lld pixels)",
                                            static_cast<long long>(width), static_cast<long long>(height)));
    const uint64_t w = static_cast<uint64_t>(width);
    const uint64_t h = static_cast<uint64_t>(height);
    // Each factor is below 2^32 after this test, so the products below cannot wrap. An empty
    // side counts as one: a 0 x 2,000,000,000 picture holds no pixels, but a reader would
    // still walk its two billion rows.
    if (w > 0xFFFFFFFFull || h > 0xFFFFFFFFull || std::max<uint64_t>(w, 1) * std::max<uint64_t>(h, 1) > limits.maxPixels)
        throw EInvalidGraphic(FormatMessage("Picture too large (%llu x %llu pixels)",
                                            static_cast<unsigned long long>(w), static_cast<unsigned long long>(h)));
    const uint64_t rowBits = w * static_cast<uint64_t>(bitsPerPixel);
    const uint64_t align = static_cast<uint64_t>(rowAlignment);
    const uint64_t rowBytes = ((rowBits + 7) / 8 + align - 1) / align * align;
    if (h != 0 && rowBytes > limits.maxAllocation / h)
        throw EInvalidGraphic(FormatMessage("Picture too large (%llu x %llu pixels)",
                                            static_cast<unsigned long long>(w), static_cast<unsigned long long>(h)));
    return rowBytes * h;
}

uint64_t CheckAllocation(uint64_t count, uint64_t elementSize) {
    const uint64_t limit = CurrentPictureLimits().maxAllocation;
    if (elementSize != 0 && count > limit / elementSize)
        throw EInvalidGraphic("Not enough memory for this picture");
    return count * elementSize;
}

void CheckCompressedSize(uint64_t neededBytes, uint64_t compressedBytes, uint64_t maxRatio) {
    // Compared by division so that no product can wrap.
    if (maxRatio != 0 && (neededBytes + maxRatio - 1) / maxRatio > compressedBytes)
        throw EInvalidGraphic("Picture too large for its compressed data");
}

void CheckDeclaredSize(uint64_t declaredBytes, uint64_t availableBytes) {
    if (declaredBytes > availableBytes) throw EReadError(kStreamReadError);
}
