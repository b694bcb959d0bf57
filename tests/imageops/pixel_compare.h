#pragma once
// Comparing 24-bit bitmaps in tests, with a message that names the first differing pixel.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "graphics/bitmap.h"

namespace imageops_test {

inline std::array<uint8_t, 3> PixelAt(const TBitmap& bmp, int x, int y) {
    const uint8_t* p = bmp.ScanLine(y) + size_t(x) * 3;
    return {p[0], p[1], p[2]};
}

inline void SetPixelBytes(TBitmap& bmp, int x, int y, std::array<uint8_t, 3> bgr) {
    uint8_t* p = bmp.ScanLine(y) + size_t(x) * 3;
    p[0] = bgr[0];
    p[1] = bgr[1];
    p[2] = bgr[2];
}

inline ::testing::AssertionResult SamePixels(const TBitmap& have, const TBitmap& want) {
    if (have.Width() != want.Width() || have.Height() != want.Height())
        return ::testing::AssertionFailure() << "have " << have.Width() << " x " << have.Height() << ", want "
                                             << want.Width() << " x " << want.Height();
    for (int y = 0; y < want.Height(); ++y)
        for (int x = 0; x < want.Width(); ++x)
            for (int c = 0; c < 3; ++c) {
                const int h = have.ScanLine(y)[x * 3 + c], w = want.ScanLine(y)[x * 3 + c];
                if (h != w)
                    return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") channel " << c
                                                         << ": have " << h << ", want " << w;
            }
    return ::testing::AssertionSuccess();
}

}  // namespace imageops_test
