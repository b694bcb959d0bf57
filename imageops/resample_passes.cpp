#include "imageops/resample_passes.h"

#include <immintrin.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "graphics/errors.h"
#include "graphics/size_check.h"
#include "imageops/parallel.h"
#include "imageops/resample.h"

// The loops are compiled twice, for plain x86-64 and for AVX2, and chosen at run time. Each
// lane of a vector holds one channel of one pixel and receives exactly the additions the
// scalar definition makes, in the same order (sum from 0, then += byte * weight tap by tap):
// vectors run across pixels and channels, never across taps, so the bytes written are the
// same whichever loop runs.
//
// The AVX2 copy is marked function by function (IMAGEOPS_TARGET), not with a pragma or a file
// built with -mavx2: both compilers accept the attribute, and nothing else in this file (nor
// any library template it instantiates) can come out compiled for AVX2.
// The plain copy passes 32-byte vectors only between always-inlined functions of this file,
// so the ABI note both compilers give about them does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace imageops {
namespace {

typedef float v8f __attribute__((vector_size(32)));

// Expanded where used, so each copy of the loops picks up its own IMAGEOPS_TARGET.
#define IMAGEOPS_INLINE static inline __attribute__((always_inline)) IMAGEOPS_TARGET
#define IMAGEOPS_TARGET

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
    int ringRows;         // source row y is row y % ringRows of src; 0: row y
};

inline const uint8_t* SourceRow(const HorizontalJob& job, int y) {
    return job.src + size_t(job.ringRows > 0 ? y % job.ringRows : y) * job.srcStride;
}

// Vertical pass: each output row is formed 64 bytes (channels) at a time: for every tap,
// eight vectors of the named intermediate row are converted, weighted and added.
//
// The intermediate rows are made as the output rows need them, kBlockRows at a time, into a
// ring just larger than the rows one output row reads (row y in slot y mod ringRows); so the
// intermediate picture never exists whole, and the rows being read stay in cache.

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

// Writes output column i of every present row from its 24 sums (row by row, B, G, R). Each
// store writes 4 bytes, the fourth landing on the next pixel (written after this one) or on
// the slack byte after the last pixel.
IMAGEOPS_INLINE void StoreColumn(uint8_t* const* out, int rowCount, int i, const v8f& s0, const v8f& s1,
                                 const v8f& s2) {
    uint8_t bytes[32] = {};
    SumsToBytes(bytes, s0);
    SumsToBytes(bytes + 8, s1);
    SumsToBytes(bytes + 16, s2);
    for (int r = 0; r < rowCount; ++r) std::memcpy(out[r] + size_t(i) * 3, bytes + 3 * r, 4);
}

#include "imageops/resample_loops.inc"

}  // namespace plain

#undef IMAGEOPS_TARGET
#define IMAGEOPS_TARGET __attribute__((target("avx2")))
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

IMAGEOPS_INLINE __m128i SumsToByteLanes(const v8f& sums) {
    __m256 v;
    std::memcpy(&v, &sums, sizeof v);
    v = _mm256_min_ps(_mm256_max_ps(v, _mm256_setzero_ps()), _mm256_set1_ps(255.0f));
    const __m256i n = _mm256_cvtps_epi32(v);
    const __m128i words = _mm_packs_epi32(_mm256_castsi256_si128(n), _mm256_extracti128_si256(n, 1));
    return _mm_packus_epi16(words, words);  // the 8 bytes twice
}

IMAGEOPS_INLINE void SumsToBytes(uint8_t* out, const v8f& sums) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), SumsToByteLanes(sums));
}

// As the plain version, but the rows' 4-byte groups are picked out in registers: going
// through memory would make each 4-byte load straddle two of the 8-byte stores.
IMAGEOPS_INLINE void StoreColumn(uint8_t* const* out, int rowCount, int i, const v8f& s0, const v8f& s1,
                                 const v8f& s2) {
    const __m128i low = _mm_unpacklo_epi64(SumsToByteLanes(s0), SumsToByteLanes(s1));  // bytes 0..15
    const __m128i high = _mm_alignr_epi8(SumsToByteLanes(s2), low, 12);                // bytes 12..27
    const __m128i groups = _mm_setr_epi8(0, 1, 2, 3, 3, 4, 5, 6, 6, 7, 8, 9, 9, 10, 11, 12);
    const __m128i rows03 = _mm_shuffle_epi8(low, groups);
    const __m128i rows47 = _mm_shuffle_epi8(high, groups);
    const uint32_t words[8] = {uint32_t(_mm_cvtsi128_si32(rows03)),    uint32_t(_mm_extract_epi32(rows03, 1)),
                               uint32_t(_mm_extract_epi32(rows03, 2)), uint32_t(_mm_extract_epi32(rows03, 3)),
                               uint32_t(_mm_cvtsi128_si32(rows47)),    uint32_t(_mm_extract_epi32(rows47, 1)),
                               uint32_t(_mm_extract_epi32(rows47, 2)), uint32_t(_mm_extract_epi32(rows47, 3))};
    if (rowCount == kBlockRows) {  // the usual full block, unrolled
#pragma GCC unroll 8
        for (int r = 0; r < kBlockRows; ++r) std::memcpy(out[r] + size_t(i) * 3, &words[r], 4);
        return;
    }
    for (int r = 0; r < rowCount; ++r) std::memcpy(out[r] + size_t(i) * 3, &words[r], 4);
}

#include "imageops/resample_loops.inc"

}  // namespace wide
#undef IMAGEOPS_TARGET
#define IMAGEOPS_TARGET

// Rows too wide for a block buffer: the direct loop, one pixel and channel at a time.
void HorizontalBlockDirect(const HorizontalJob& job, float*, int y0, uint8_t* const* out) {
    const int K = job.taps;
    const int rowCount = std::min(kBlockRows, job.rows - y0);
    for (int r = 0; r < rowCount; ++r) {
        const uint8_t* row = SourceRow(job, y0 + r);
        for (int i = 0; i < job.outputs; ++i) {
            const int32_t* ix = job.index + size_t(i) * K;
            const float* wx = job.weight + size_t(i) * K;
            for (int c = 0; c < 3; ++c) {
                float sum = 0.0f;
                for (int t = 0; t < K; ++t) sum += float(row[size_t(ix[t]) * 3 + c]) * wx[t];
                out[r][size_t(i) * 3 + c] = ResampleSumToByte(sum);
            }
        }
    }
}

}  // namespace

namespace {

// For each output row i, the start of the block holding the lowest source row that output i
// or any later one reads: the rows below it are not read again once output i is begun.
std::vector<int> ReleasableRows(const TapTable& vertical, int rows) {
    const size_t VK = static_cast<size_t>(vertical.taps);
    std::vector<int> releasable(size_t(vertical.outputs), rows);
    int lowest = rows;
    for (size_t i = size_t(vertical.outputs); i-- > 0;) {
        const auto first = vertical.index.begin() + static_cast<ptrdiff_t>(i * VK);
        lowest = std::min(lowest, *std::min_element(first, first + static_cast<ptrdiff_t>(VK)));
        releasable[i] = lowest - lowest % kBlockRows;
    }
    return releasable;
}

}  // namespace

int SourceRingRows(const TapTable& vertical, int rows) {
    // While output i is formed, the rows from its releasable one up to the end of the block
    // holding the highest row it reads must all be there.
    const size_t VK = static_cast<size_t>(vertical.taps);
    const std::vector<int> releasable = ReleasableRows(vertical, rows);
    int span = 1;
    for (size_t i = 0; i < size_t(vertical.outputs); ++i) {
        const auto first = vertical.index.begin() + static_cast<ptrdiff_t>(i * VK);
        const int highest = *std::max_element(first, first + static_cast<ptrdiff_t>(VK));
        const int end = std::min(highest - highest % kBlockRows + kBlockRows, rows);
        span = std::max(span, end - releasable[i]);
    }
    return span;
}

bool HaveWideVectors() {
    static const bool have = __builtin_cpu_supports("avx2");
    return have;
}

void ResamplePasses(PassImage source, int width, int rows, const TapTable& horizontal, const TapTable& vertical,
                    PassTarget target, int threads, bool wideVectors, RowsReady* sourceRows,
                    const SourceRowHook* prepareRow, const TargetRowsHook* rowsDone) {
    if (width < 1 || rows < 1 || horizontal.outputs < 1 || vertical.outputs < 1) return;

    // Horizontal: the highest column each output prefix reads, and the ring of column slots.
    const size_t K = static_cast<size_t>(horizontal.taps);
    const size_t N = static_cast<size_t>(horizontal.outputs);
    std::vector<int32_t> need(N), lowest(N);
    int32_t highest = 0;
    for (size_t i = 0; i < N; ++i) {
        int32_t low = horizontal.index[i * K];
        for (size_t t = 0; t < K; ++t) {
            highest = std::max(highest, horizontal.index[i * K + t]);
            low = std::min(low, horizontal.index[i * K + t]);
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
    const HorizontalJob job{source.bits,       source.stride,       width,
                            rows,              horizontal.index.data(), horizontal.weight.data(),
                            horizontal.outputs, horizontal.taps,    need.data(),
                            ring ? slots - 1 : ~uint32_t(0), source.ringRows};
    const bool wide = wideVectors && HaveWideVectors();
    const bool direct = bufferColumns > kMaxBufferColumns;
    const auto block = direct ? HorizontalBlockDirect : wide ? wide::HorizontalBlock : plain::HorizontalBlock;
    const auto verticalRow = wide ? wide::VerticalRow : plain::VerticalRow;

    // Vertical: the ring of intermediate rows. Rows written for one output lie within its taps'
    // rows widened by a block on each side, so a ring longer than that never overwrites a row
    // the output still reads.
    const size_t VK = static_cast<size_t>(vertical.taps);
    int64_t rowSpan = 0;
    for (size_t i = 0; i < size_t(vertical.outputs); ++i) {
        const auto first = vertical.index.begin() + static_cast<ptrdiff_t>(i * VK);
        const auto [lo, hi] = std::minmax_element(first, first + static_cast<ptrdiff_t>(VK));
        rowSpan = std::max<int64_t>(rowSpan, *hi - *lo + 1);
    }
    const int ringRows = static_cast<int>(std::min<int64_t>(rowSpan + 2 * kBlockRows, rows));
    // A source in a ring of rows is read by one thread, releasing the rows behind it: from
    // output i on, no block below the one holding the lowest row a later output reads is made.
    std::vector<int> releasable;
    if (source.ringRows > 0) {
        if (!sourceRows || source.ringRows < SourceRingRows(vertical, rows))
            throw EInvalidGraphicOperation("The ring of source rows is too small");
        threads = 1;
        releasable = ReleasableRows(vertical, rows);
    }
    if (prepareRow && (!sourceRows || threads != 1))
        throw EInvalidGraphicOperation("Source rows are prepared only as they come, on one thread");
    if (rowsDone && threads != 1) throw EInvalidGraphicOperation("Target rows are told as they come, on one thread");
    // Rows prepared so far; rows released unread are never prepared (a ring may hold others
    // in their place by then).
    int prepared = 0;
    const size_t rowBytes = size_t(horizontal.outputs) * 3;
    // One slack byte for the horizontal loop's 4-byte stores; rows rounded to 64 bytes.
    const size_t ringStride = (rowBytes + 1 + 63) / 64 * 64;
    const uint64_t ringBytes = CheckAllocation(ringStride, static_cast<uint64_t>(ringRows));
    if (!direct) CheckAllocation(bufferColumns * kColumnFloats, sizeof(float));  // the direct loop has no buffer

    ParallelFor(vertical.outputs, threads, kBlockRows, [&](int64_t begin, int64_t end) {
        std::vector<float> buffer(direct ? 0 : bufferColumns * kColumnFloats, 0.0f);
        auto ringData = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(ringBytes));
        std::vector<int> held(static_cast<size_t>(ringRows), -1);  // source row in each slot
        std::vector<const uint8_t*> tapRows(VK);
        auto slot = [&](int y) { return ringData.get() + size_t(y % ringRows) * ringStride; };
        for (int64_t i = begin; i < end; ++i) {
            if (!releasable.empty()) {
                sourceRows->Release(releasable[size_t(i)]);
                prepared = std::max(prepared, releasable[size_t(i)]);
            }
            const int32_t* ix = vertical.index.data() + size_t(i) * VK;
            for (size_t t = 0; t < VK; ++t) {
                const int y = ix[t];
                if (held[size_t(y % ringRows)] != y) {
                    const int y0 = y - y % kBlockRows;
                    const int count = std::min(kBlockRows, rows - y0);
                    uint8_t* out[kBlockRows] = {};
                    for (int r = 0; r < count; ++r) {
                        out[r] = slot(y0 + r);
                        held[size_t((y0 + r) % ringRows)] = y0 + r;
                    }
                    if (sourceRows) sourceRows->WaitFor(y0 + count);
                    if (prepareRow)
                        for (; prepared < y0 + count; ++prepared) (*prepareRow)(prepared);
                    block(job, buffer.data(), y0, out);
                }
                tapRows[t] = slot(y);
            }
            verticalRow(vertical.weight.data() + size_t(i) * VK, static_cast<int>(VK), tapRows.data(),
                        static_cast<int>(rowBytes), target.bits + size_t(i) * target.stride);
            if (rowsDone) (*rowsDone)(static_cast<int>(i + 1));
        }
    });
}

}  // namespace imageops
