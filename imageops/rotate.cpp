#include "imageops/rotate.h"

#include <algorithm>
#include <cstring>

#include "graphics/bitmap.h"
#include "graphics/errors.h"
#include "imageops/parallel.h"

namespace {

// Pixel positions within a row run from 0 to 65535.
constexpr int kMaxRowPixels = 65536;
// Quarter turns copy square tiles so that both the rows read and the rows written stay in
// cache; 64 x 64 pixels is 12 KiB each way.
constexpr int kTile = 64;
// Below this many pixels per thread a second thread costs more than it saves.
constexpr double kMinPixelsPerThread = 1 << 18;

enum class Turn { Right, Half, Left };

// The operations copy 3-byte pixels; any other pixel format is turned as its 24-bit copy.
const TBitmap& As24Bit(const TBitmap& input, TBitmap& converted) {
    if (input.PixelFormat() == TPixelFormat::pf24bit) return input;
    converted = input;
    converted.SetPixelFormat(TPixelFormat::pf24bit);
    return converted;
}

inline void CopyPixel(uint8_t* to, const uint8_t* from) { std::memcpy(to, from, 3); }

std::unique_ptr<TBitmap> Turned(const TBitmap& original, Turn turn, int threads) {
    const int W = original.Width();
    const int H = original.Height();
    // Checked before anything is made: the input's rows, and for quarter turns the result's.
    if (W > kMaxRowPixels || (turn != Turn::Half && H > kMaxRowPixels)) throw ERangeError();

    TBitmap converted;
    const TBitmap& input = As24Bit(original, converted);
    const bool quarter = turn != Turn::Half;
    auto result = std::make_unique<TBitmap>(quarter ? H : W, quarter ? W : H, TPixelFormat::pf24bit);
    if (W == 0 || H == 0) return result;

    const uint8_t* src = input.Bits();
    const size_t srcStride = input.RowStride();
    uint8_t* dst = result->Bits();
    const size_t dstStride = result->RowStride();
    const double pixels = double(W) * H;

    if (turn == Turn::Half) {
        // Row y, read from the left, becomes row H - 1 - y written from the right.
        const int n = imageops::ChooseThreadCount(threads, pixels, kMinPixelsPerThread, H);
        imageops::ParallelFor(H, n, 1, [&](int64_t begin, int64_t end) {
            for (int64_t y = begin; y < end; ++y) {
                const uint8_t* from = src + size_t(y) * srcStride;
                uint8_t* to = dst + size_t(H - 1 - y) * dstStride + size_t(W - 1) * 3;
                for (int x = 0; x < W; ++x) CopyPixel(to - size_t(x) * 3, from + size_t(x) * 3);
            }
        });
        return result;
    }

    // Quarter turns: result row r is input column r (right turn) or W - 1 - r (left turn).
    // Threads take disjoint bands of result rows; within a band, tiles of kTile x kTile.
    const int n = imageops::ChooseThreadCount(threads, pixels, kMinPixelsPerThread, (W + kTile - 1) / kTile);
    imageops::ParallelFor(W, n, kTile, [&](int64_t begin, int64_t end) {
        for (int64_t r0 = begin; r0 < end; r0 += kTile) {
            const int64_t r1 = std::min<int64_t>(r0 + kTile, end);
            for (int y0 = 0; y0 < H; y0 += kTile) {
                const int y1 = std::min(y0 + kTile, H);
                for (int64_t r = r0; r < r1; ++r) {
                    uint8_t* to = dst + size_t(r) * dstStride;
                    if (turn == Turn::Right) {
                        // Input (r, y) goes to result column H - 1 - y.
                        const size_t column = size_t(r) * 3;
                        for (int y = y1 - 1; y >= y0; --y)
                            CopyPixel(to + size_t(H - 1 - y) * 3, src + size_t(y) * srcStride + column);
                    } else {
                        // Input (W - 1 - r, y) goes to result column y.
                        const size_t column = size_t(W - 1 - r) * 3;
                        for (int y = y0; y < y1; ++y) CopyPixel(to + size_t(y) * 3, src + size_t(y) * srcStride + column);
                    }
                }
            }
        }
    });
    return result;
}

}  // namespace

std::unique_ptr<TBitmap> RotateRight90(const TBitmap& input) { return Turned(input, Turn::Right, 0); }
std::unique_ptr<TBitmap> RotateHalfTurn(const TBitmap& input) { return Turned(input, Turn::Half, 0); }
std::unique_ptr<TBitmap> RotateLeft90(const TBitmap& input) { return Turned(input, Turn::Left, 0); }

std::unique_ptr<TBitmap> RotateBitmap(int rotationIndex, const TBitmap& input) {
    return RotateBitmap(rotationIndex, input, 0);
}

std::unique_ptr<TBitmap> RotateBitmap(int rotationIndex, const TBitmap& input, int threads) {
    switch (rotationIndex) {
        case 1: return Turned(input, Turn::Right, threads);
        case 2: return Turned(input, Turn::Half, threads);
        case 3: return Turned(input, Turn::Left, threads);
        default: return nullptr;
    }
}
