#include "imageops/resample_passes.h"

#include <immintrin.h>

#include <algorithm>
#include <cstring>

#include "imageops/parallel.h"
#include "imageops/resample.h"

// The loops are compiled twice, for plain x86-64 and for AVX2, and chosen at run time. Each
// lane of a vector holds one channel of one pixel and receives exactly the additions the
// scalar definition makes, in the same order (sum from 0, then += byte * weight tap by tap):
// vectors run across pixels and channels, never across taps, so the bytes written are the
// same whichever loop runs.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace imageops {
namespace {

typedef float v8f __attribute__((vector_size(32)));

#define IMAGEOPS_INLINE static inline __attribute__((always_inline))

// Horizontal pass: a block of kBlockRows source rows is converted to floats once, laid out
// column by column with the rows side by side ([column][row][B, G, R]), so that one tap of
// one output column is three contiguous vector loads covering all rows of the block.
// Columns are converted in runs just ahead of the output columns that need them, into a ring
// of slots (column & mask) just large enough for the columns still in use, so the block
// buffer stays in the first-level cache.
constexpr int kBlockRows = 8;
constexpr int kColumnFloats = kBlockRows * 3;
constexpr int kConvertRun = 64;
// A ring that would need more slots than this (very wide rows shrunk a great deal) would make
// the per-thread block buffer large; such rows take the plain loop instead.
constexpr size_t kMaxBufferColumns = size_t(1) << 17;

struct HorizontalJob {
    const uint8_t* src;
    size_t srcStride;
    int width;
    int rows;
    const int32_t* index;
    const float* weight;
    int outputs;
    int taps;
    const int32_t* need;  // highest source column that any of outputs 0..i reads
    uint32_t mask;        // slot of column c in the block buffer: c & mask
    uint8_t* dst;
    size_t dstStride;
};

// Vertical pass: each output row is formed 64 bytes (channels) at a time: for every tap,
// eight vectors of the named intermediate row are converted, weighted and added. The few
// rows a tap list names stay in cache from one output row to the next.
struct VerticalJob {
    const uint8_t* src;
    size_t srcStride;
    int rowBytes;
    const int32_t* index;
    const float* weight;
    int taps;
    uint8_t* dst;
    size_t dstStride;
};

IMAGEOPS_INLINE v8f Join(__m128 lo, __m128 hi) {
    v8f v;
    std::memcpy(&v, &lo, 16);
    std::memcpy(reinterpret_cast<char*>(&v) + 16, &hi, 16);
    return v;
}

namespace plain {

// Eight bytes as eight floats.
IMAGEOPS_INLINE v8f LoadBytes(const uint8_t* p) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i words = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), zero);
    return Join(_mm_cvtepi32_ps(_mm_unpacklo_epi16(words, zero)), _mm_cvtepi32_ps(_mm_unpackhi_epi16(words, zero)));
}

// Four bytes (a pixel and the next pixel's first byte) as four floats at out.
IMAGEOPS_INLINE __m128 PixelFloats(const uint8_t* p) {
    int32_t raw;
    std::memcpy(&raw, p, 4);
    const __m128i zero = _mm_setzero_si128();
    const __m128i words = _mm_unpacklo_epi8(_mm_cvtsi32_si128(raw), zero);
    return _mm_cvtepi32_ps(_mm_unpacklo_epi16(words, zero));
}
IMAGEOPS_INLINE void StorePixel4(float* out, const uint8_t* p) { _mm_storeu_ps(out, PixelFloats(p)); }
// The same, storing only the pixel's three floats.
IMAGEOPS_INLINE void StorePixel3(float* out, const uint8_t* p) {
    const __m128 f = PixelFloats(p);
    _mm_storel_pi(reinterpret_cast<__m64*>(out), f);
    _mm_store_ss(out + 2, _mm_movehl_ps(f, f));
}

// The stored bytes of eight sums, as ResampleSumToByte: a sum that is not >= 0 gives 0, one
// above 255 gives 255, else it is rounded in the current rounding mode (nearest-even), as
// nearbyint does.
IMAGEOPS_INLINE void SumsToBytes(uint8_t* out, const v8f& sums) {
    __m128 lo, hi;
    std::memcpy(&lo, &sums, 16);
    std::memcpy(&hi, reinterpret_cast<const char*>(&sums) + 16, 16);
    const __m128 zero = _mm_setzero_ps();
    const __m128 top = _mm_set1_ps(255.0f);
    // max(x, 0) returns 0 for NaN when 0 is the second operand.
    lo = _mm_min_ps(_mm_max_ps(lo, zero), top);
    hi = _mm_min_ps(_mm_max_ps(hi, zero), top);
    const __m128i words = _mm_packs_epi32(_mm_cvtps_epi32(lo), _mm_cvtps_epi32(hi));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(words, words));
}

#include "imageops/resample_loops.inc"

}  // namespace plain

#pragma GCC push_options
#pragma GCC target("avx2")
namespace wide {

IMAGEOPS_INLINE v8f LoadBytes(const uint8_t* p) {
    const __m256 f = _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))));
    v8f v;
    std::memcpy(&v, &f, sizeof v);
    return v;
}

IMAGEOPS_INLINE __m128 PixelFloats(const uint8_t* p) {
    int32_t raw;
    std::memcpy(&raw, p, 4);
    return _mm_cvtepi32_ps(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(raw)));
}
IMAGEOPS_INLINE void StorePixel4(float* out, const uint8_t* p) { _mm_storeu_ps(out, PixelFloats(p)); }
IMAGEOPS_INLINE void StorePixel3(float* out, const uint8_t* p) {
    const __m128 f = PixelFloats(p);
    _mm_storel_pi(reinterpret_cast<__m64*>(out), f);
    _mm_store_ss(out + 2, _mm_movehl_ps(f, f));
}

IMAGEOPS_INLINE void SumsToBytes(uint8_t* out, const v8f& sums) {
    __m256 v;
    std::memcpy(&v, &sums, sizeof v);
    v = _mm256_min_ps(_mm256_max_ps(v, _mm256_setzero_ps()), _mm256_set1_ps(255.0f));
    const __m256i n = _mm256_cvtps_epi32(v);
    const __m128i words = _mm_packs_epi32(_mm256_castsi256_si128(n), _mm256_extracti128_si256(n, 1));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(words, words));
}

#include "imageops/resample_loops.inc"

}  // namespace wide
#pragma GCC pop_options

// Rows too wide for a block buffer: the direct loop, one pixel and channel at a time.
void HorizontalRowsDirect(const HorizontalJob& job, int64_t begin, int64_t end) {
    const int K = job.taps;
    for (int64_t y = begin; y < end; ++y) {
        const uint8_t* row = job.src + size_t(y) * job.srcStride;
        uint8_t* out = job.dst + size_t(y) * job.dstStride;
        for (int i = 0; i < job.outputs; ++i) {
            const int32_t* ix = job.index + size_t(i) * K;
            const float* wx = job.weight + size_t(i) * K;
            for (int c = 0; c < 3; ++c) {
                float sum = 0.0f;
                for (int t = 0; t < K; ++t) sum += float(row[size_t(ix[t]) * 3 + c]) * wx[t];
                out[size_t(i) * 3 + c] = ResampleSumToByte(sum);
            }
        }
    }
}

}  // namespace

bool HaveWideVectors() {
    static const bool have = __builtin_cpu_supports("avx2");
    return have;
}

void HorizontalPass(PassImage source, int width, int rows, const TapTable& taps, PassTarget target, int threads,
                    bool wideVectors) {
    if (width < 1 || rows < 1 || taps.outputs < 1) return;
    const size_t K = static_cast<size_t>(taps.taps);
    const size_t N = static_cast<size_t>(taps.outputs);
    std::vector<int32_t> need(N), lowest(N);
    int32_t highest = 0;
    for (size_t i = 0; i < N; ++i) {
        int32_t low = taps.index[i * K];
        for (size_t t = 0; t < K; ++t) {
            highest = std::max(highest, taps.index[i * K + t]);
            low = std::min(low, taps.index[i * K + t]);
        }
        need[i] = highest;
        lowest[i] = low;
    }
    // Columns in use while outputs i and i + 1 are formed: from the lowest one they read up to
    // the end of the run converted for them.
    int64_t span = 0;
    for (size_t i = 0; i < N; ++i) {
        const size_t next = std::min(i + 1, N - 1);
        span = std::max<int64_t>(span, need[next] - std::min(lowest[i], lowest[next]) + 1);
    }
    uint32_t slots = 1;
    while (slots < span + kConvertRun && slots < uint32_t(width)) slots *= 2;
    const bool ring = slots < uint32_t(width);
    const size_t bufferColumns = ring ? slots : size_t(width);
    const HorizontalJob job{source.bits,  source.stride, width,       rows,
                            taps.index.data(), taps.weight.data(), taps.outputs, taps.taps,
                            need.data(),  ring ? slots - 1 : ~uint32_t(0), target.bits, target.stride};
    if (bufferColumns > kMaxBufferColumns) {
        ParallelFor(rows, threads, kBlockRows,
                    [&](int64_t begin, int64_t end) { HorizontalRowsDirect(job, begin, end); });
        return;
    }
    const auto block = (wideVectors && HaveWideVectors()) ? wide::HorizontalBlock : plain::HorizontalBlock;
    const int64_t blocks = (int64_t(rows) + kBlockRows - 1) / kBlockRows;
    ParallelFor(blocks, threads, 1, [&](int64_t begin, int64_t end) {
        // Zeroed so that the lanes of rows past the picture's end hold finite values.
        std::vector<float> buffer(bufferColumns * kColumnFloats, 0.0f);
        for (int64_t b = begin; b < end; ++b) block(job, buffer.data(), static_cast<int>(b * kBlockRows));
    });
}

void VerticalPass(PassImage source, int width, const TapTable& taps, PassTarget target, int threads,
                  bool wideVectors) {
    if (width < 1 || taps.outputs < 1) return;
    const VerticalJob job{source.bits, source.stride, width * 3,   taps.index.data(), taps.weight.data(),
                          taps.taps,   target.bits,   target.stride};
    const auto rows = (wideVectors && HaveWideVectors()) ? wide::VerticalRows : plain::VerticalRows;
    ParallelFor(taps.outputs, threads, 1, [&](int64_t begin, int64_t end) { rows(job, begin, end); });
}

}  // namespace imageops
