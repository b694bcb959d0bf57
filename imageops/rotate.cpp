#include "imageops/rotate.h"

#include <immintrin.h>

#include <algorithm>
#include <cstring>

#include "graphics/bitmap.h"
#include "graphics/errors.h"
#include "imageops/parallel.h"
#include "imageops/resample_passes.h"

namespace {

// Pixel positions within a row run from 0 to 65535.
constexpr int kMaxRowPixels = 65536;
// Quarter turns work in bands of 64 input columns (result rows): the result rows being
// written and the input rows being read stay in cache, and each input cache line is read once.
constexpr int kTile = 64;
// Below this many pixels per thread a second thread costs more than it saves.
constexpr double kMinPixelsPerThread = 1 << 18;

// Half and MirrorLeftRight keep the rows' length; MirrorTopBottom only moves whole rows; the
// quarter-turn family (Right, Left and the two diagonal mirrors) swaps width and height.
enum class Turn { Right, Half, Left, MirrorLeftRight, MirrorTopBottom, Transpose, Transverse };

// The operations copy 3-byte pixels; any other pixel format is turned as its 24-bit copy.
const TBitmap& As24Bit(const TBitmap& input, TBitmap& converted) {
    if (input.PixelFormat() == TPixelFormat::pf24bit) return input;
    converted = input;
    converted.SetPixelFormat(TPixelFormat::pf24bit);
    return converted;
}

inline void CopyPixel(uint8_t* to, const uint8_t* from) { std::memcpy(to, from, 3); }

struct QuarterJob {
    const uint8_t* src;
    size_t srcStride;
    int W, H;
    uint8_t* dst;
    size_t dstStride;
    // A right turn reverses the result's columns, a left turn its rows; the transpose
    // reverses neither and the transverse both.
    bool flipRows;
    bool flipColumns;
};

// Result row of input column x, and result column of input row y.
inline size_t ResultRow(const QuarterJob& j, int x) { return size_t(j.flipRows ? j.W - 1 - x : x); }
inline size_t ResultColumn(const QuarterJob& j, int y) { return size_t(j.flipColumns ? j.H - 1 - y : y); }

inline void CopyOne(const QuarterJob& j, int x, int y) {
    CopyPixel(j.dst + ResultRow(j, x) * j.dstStride + ResultColumn(j, y) * 3, j.src + size_t(y) * j.srcStride + size_t(x) * 3);
}

// Input columns [x0, x1) (result rows), in tiles of kTile x kTile pixels.
void QuarterColumnsPlain(const QuarterJob& j, int x0, int x1) {
    for (int tx = x0; tx < x1; tx += kTile) {
        const int tx1 = std::min(tx + kTile, x1);
        for (int ty = 0; ty < j.H; ty += kTile) {
            const int ty1 = std::min(ty + kTile, j.H);
            for (int x = tx; x < tx1; ++x)
                for (int y = ty; y < ty1; ++y) CopyOne(j, x, y);
        }
    }
}

// The same with 4 x 4 pixel blocks turned in registers: four input rows of four pixels are
// widened to 4-byte pixels, transposed, and narrowed back into four result rows.
__attribute__((target("avx2"))) void QuarterColumnsWide(const QuarterJob& j, int x0, int x1) {
    const __m128i widen = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m128i narrow = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    for (int tx = x0; tx < x1; tx += kTile) {
        const int tx1 = std::min(tx + kTile, x1);
        // A 16-byte load at pixel x stays inside the row while x + 6 <= W.
        const int vectorEnd = std::max(tx, std::min(tx1, j.W - 2));
        int y = 0;
        for (; y + 4 <= j.H; y += 4) {
            const uint8_t* row = j.src + size_t(y) * j.srcStride;
            int x = tx;
            for (; x + 4 <= vectorEnd; x += 4) {
                const uint8_t* p = row + size_t(x) * 3;
                const __m128i a = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), widen);
                const __m128i b = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + j.srcStride)), widen);
                const __m128i c = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2 * j.srcStride)), widen);
                const __m128i d = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 3 * j.srcStride)), widen);
                // Reversed columns: a result row reads rows y+3..y from the left; else y..y+3.
                const bool reversed = j.flipColumns;
                const __m128i first = reversed ? d : a, second = reversed ? c : b;
                const __m128i third = reversed ? b : c, fourth = reversed ? a : d;
                const __m128i lo01 = _mm_unpacklo_epi32(first, second), lo23 = _mm_unpacklo_epi32(third, fourth);
                const __m128i hi01 = _mm_unpackhi_epi32(first, second), hi23 = _mm_unpackhi_epi32(third, fourth);
                const __m128i out[4] = {_mm_unpacklo_epi64(lo01, lo23), _mm_unpackhi_epi64(lo01, lo23),
                                        _mm_unpacklo_epi64(hi01, hi23), _mm_unpackhi_epi64(hi01, hi23)};
                const size_t column = reversed ? size_t(j.H - 4 - y) : size_t(y);
                for (int k = 0; k < 4; ++k) {
                    uint8_t* to = j.dst + ResultRow(j, x + k) * j.dstStride + column * 3;
                    const __m128i packed = _mm_shuffle_epi8(out[k], narrow);
                    _mm_storel_epi64(reinterpret_cast<__m128i*>(to), packed);
                    const int last = _mm_extract_epi32(packed, 2);
                    std::memcpy(to + 8, &last, 4);
                }
            }
            for (; x < tx1; ++x)
                for (int k = 0; k < 4; ++k) CopyOne(j, x, y + k);
        }
        for (; y < j.H; ++y)
            for (int x = tx; x < tx1; ++x) CopyOne(j, x, y);
    }
}

// rowLimit: the rotation control's limit on row length; the orientation step has none.
std::unique_ptr<TBitmap> Turned(const TBitmap& original, Turn turn, int threads, bool wideVectors = true,
                                bool rowLimit = true) {
    const int W = original.Width();
    const int H = original.Height();
    const bool quarter = turn == Turn::Right || turn == Turn::Left || turn == Turn::Transpose || turn == Turn::Transverse;
    // Checked before anything is made: the input's rows, and for quarter turns the result's.
    if (rowLimit && (W > kMaxRowPixels || (quarter && H > kMaxRowPixels))) throw ERangeError();

    TBitmap converted;
    const TBitmap& input = As24Bit(original, converted);
    auto result = std::make_unique<TBitmap>();
    result->SetPixelFormat(TPixelFormat::pf24bit);
    // Every pixel is written below: no need to whiten 72 MB first.
    result->SetSizeForOverwrite(quarter ? H : W, quarter ? W : H);
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
    if (turn == Turn::MirrorLeftRight || turn == Turn::MirrorTopBottom) {
        const bool sideways = turn == Turn::MirrorLeftRight;
        const int n = imageops::ChooseThreadCount(threads, pixels, kMinPixelsPerThread, H);
        imageops::ParallelFor(H, n, 1, [&](int64_t begin, int64_t end) {
            for (int64_t y = begin; y < end; ++y) {
                const uint8_t* from = src + size_t(y) * srcStride;
                if (sideways) {
                    uint8_t* to = dst + size_t(y) * dstStride + size_t(W - 1) * 3;
                    for (int x = 0; x < W; ++x) CopyPixel(to - size_t(x) * 3, from + size_t(x) * 3);
                } else {
                    std::memcpy(dst + size_t(H - 1 - y) * dstStride, from, size_t(W) * 3);
                }
            }
        });
        return result;
    }

    // Quarter turns: threads take disjoint bands of input columns, that is of result rows.
    const QuarterJob job{src,       srcStride,
                         W,         H,
                         dst,       dstStride,
                         turn == Turn::Left || turn == Turn::Transverse,
                         turn == Turn::Right || turn == Turn::Transverse};
    const auto columns = (wideVectors && imageops::HaveWideVectors()) ? QuarterColumnsWide : QuarterColumnsPlain;
    const int n = imageops::ChooseThreadCount(threads, pixels, kMinPixelsPerThread, (W + kTile - 1) / kTile);
    imageops::ParallelFor(W, n, kTile, [&](int64_t begin, int64_t end) {
        columns(job, static_cast<int>(begin), static_cast<int>(end));
    });
    return result;
}

}  // namespace

std::unique_ptr<TBitmap> RotateRight90(const TBitmap& input) { return Turned(input, Turn::Right, 0); }
std::unique_ptr<TBitmap> RotateHalfTurn(const TBitmap& input) { return Turned(input, Turn::Half, 0); }
std::unique_ptr<TBitmap> RotateLeft90(const TBitmap& input) { return Turned(input, Turn::Left, 0); }

std::unique_ptr<TBitmap> MirrorLeftRight(const TBitmap& input) { return Turned(input, Turn::MirrorLeftRight, 0, true, false); }
std::unique_ptr<TBitmap> MirrorTopBottom(const TBitmap& input) { return Turned(input, Turn::MirrorTopBottom, 0, true, false); }
std::unique_ptr<TBitmap> Transpose(const TBitmap& input) { return Turned(input, Turn::Transpose, 0, true, false); }
std::unique_ptr<TBitmap> Transverse(const TBitmap& input) { return Turned(input, Turn::Transverse, 0, true, false); }

std::unique_ptr<TBitmap> OrientUpright(int orientation, const TBitmap& input, int threads, bool allowWideVectors) {
    switch (orientation) {
        case 2: return Turned(input, Turn::MirrorLeftRight, threads, allowWideVectors, false);
        case 3: return Turned(input, Turn::Half, threads, allowWideVectors, false);
        case 4: return Turned(input, Turn::MirrorTopBottom, threads, allowWideVectors, false);
        case 5: return Turned(input, Turn::Transpose, threads, allowWideVectors, false);
        case 6: return Turned(input, Turn::Right, threads, allowWideVectors, false);
        case 7: return Turned(input, Turn::Transverse, threads, allowWideVectors, false);
        case 8: return Turned(input, Turn::Left, threads, allowWideVectors, false);
        default: return nullptr;
    }
}

std::unique_ptr<TBitmap> RotateBitmap(int rotationIndex, const TBitmap& input) {
    return RotateBitmap(rotationIndex, input, 0);
}

std::unique_ptr<TBitmap> RotateBitmap(int rotationIndex, const TBitmap& input, int threads, bool allowWideVectors) {
    switch (rotationIndex) {
        case 1: return Turned(input, Turn::Right, threads, allowWideVectors);
        case 2: return Turned(input, Turn::Half, threads, allowWideVectors);
        case 3: return Turned(input, Turn::Left, threads, allowWideVectors);
        default: return nullptr;
    }
}

bool OrientUprightInPlace(int orientation, TBitmap& bitmap, int threads) {
    if ((orientation != 2 && orientation != 3 && orientation != 4) || bitmap.PixelFormat() != TPixelFormat::pf24bit)
        return false;
    const int W = bitmap.Width();
    const int H = bitmap.Height();
    if (W == 0 || H == 0) return true;
    auto swapPixels = [](uint8_t* a, uint8_t* b) { std::swap_ranges(a, a + 3, b); };
    auto reverseRow = [&](uint8_t* row) {
        for (int x = 0; x < W / 2; ++x) swapPixels(row + size_t(x) * 3, row + size_t(W - 1 - x) * 3);
    };
    // Row pairs (y, H - 1 - y) from the outside in; a middle row pairs with itself.
    const int pairs = orientation == 2 ? H : (H + 1) / 2;
    const int n = imageops::ChooseThreadCount(threads, double(W) * H, kMinPixelsPerThread, pairs);
    imageops::ParallelFor(pairs, n, 1, [&](int64_t begin, int64_t end) {
        for (int64_t y = begin; y < end; ++y) {
            uint8_t* top = bitmap.ScanLine(static_cast<int>(y));
            uint8_t* bottom = bitmap.ScanLine(H - 1 - static_cast<int>(y));
            if (orientation == 2) {
                reverseRow(top);
            } else if (top == bottom) {
                if (orientation == 3) reverseRow(top);
            } else if (orientation == 4) {
                std::swap_ranges(top, top + size_t(W) * 3, bottom);
            } else {
                for (int x = 0; x < W; ++x) swapPixels(top + size_t(x) * 3, bottom + size_t(W - 1 - x) * 3);
            }
        }
    });
    return true;
}
