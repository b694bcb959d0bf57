#include "imageops/resample.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <memory>
#include <mutex>
#include <numbers>
#include <optional>

#include "graphics/bitmap.h"
#include "graphics/errors.h"
#include "graphics/size_check.h"
#include "imageops/parallel.h"
#include "imageops/resample_passes.h"
#include "imageops/rows_ready.h"

// Kernels are evaluated in double and rounded once to float on return, so that the values
// the filters are known by (Bell(1) = 1/8, Mitchell(0) = 8/9, ...) come out as the nearest
// floats. Everything the resampler itself computes (scale, centre, support, weights, sums)
// is 32-bit float arithmetic, one rounding per operation.

float SincPi(float x) {
    if (x == 0.0f) return 1.0f;
    const float px = static_cast<float>(std::numbers::pi * static_cast<double>(x));
    return static_cast<float>(std::sin(static_cast<double>(px)) / static_cast<double>(px));
}

float BoxKernel(float x) {
    // Half-open on the left so that a pixel exactly between two taps belongs to one of them.
    return (x > -0.5f && x <= 0.5f) ? 1.0f : 0.0f;
}

float TriangleKernel(float x) {
    const double t = std::fabs(static_cast<double>(x));
    return t < 1.0 ? static_cast<float>(1.0 - t) : 0.0f;
}

float HermiteKernel(float x) {
    const double t = std::fabs(static_cast<double>(x));
    return t < 1.0 ? static_cast<float>((2.0 * t - 3.0) * t * t + 1.0) : 0.0f;
}

float BellKernel(float x) {
    const double t = std::fabs(static_cast<double>(x));
    if (t < 0.5) return static_cast<float>(0.75 - t * t);
    if (t < 1.5) {
        const double u = t - 1.5;
        return static_cast<float>(0.5 * u * u);
    }
    return 0.0f;
}

float BSplineKernel(float x) {
    const double t = std::fabs(static_cast<double>(x));
    if (t < 1.0) return static_cast<float>(0.5 * t * t * t - t * t + 2.0 / 3.0);
    if (t < 2.0) {
        const double u = 2.0 - t;
        return static_cast<float>(u * u * u / 6.0);
    }
    return 0.0f;
}

float Lanczos3Kernel(float x) {
    const float t = std::fabs(x);
    if (t < 3.0f) return SincPi(t) * SincPi(t / 3.0f);
    return 0.0f;
}

float MitchellKernel(float x) {
    // Mitchell-Netravali with B = C = 1/3.
    const double t = std::fabs(static_cast<double>(x));
    const double t2 = t * t;
    if (t < 1.0) return static_cast<float>((7.0 * t2 * t - 12.0 * t2 + 16.0 / 3.0) / 6.0);
    if (t < 2.0) return static_cast<float>((-(7.0 / 3.0) * t2 * t + 12.0 * t2 - 20.0 * t + 32.0 / 3.0) / 6.0);
    return 0.0f;
}

const std::array<FilterEntry, 7> FilterTable = {{
    {"Box (Fastest)", BoxKernel, 0.5f},
    {"Triangle", TriangleKernel, 1.0f},
    {"Hermite", HermiteKernel, 1.0f},
    {"Bell", BellKernel, 1.5f},
    {"B-Spline", BSplineKernel, 2.0f},
    {"Lanczos3 (Best)", Lanczos3Kernel, 3.0f},
    {"Mitchell", MitchellKernel, 2.0f},
}};

uint8_t ResampleSumToByte(float sum) {
    if (!(sum >= 0.0f)) return 0;  // negative lobes; a NaN cannot arise from finite weights
    if (sum > 255.0f) return 255;
    return static_cast<uint8_t>(std::nearbyint(sum));
}

namespace {

// Maps target position 0 onto source position 0 and the last onto the last.
float ScaleFactor(int sourceLength, int targetLength) {
    if (sourceLength == 1) return static_cast<float>(targetLength);
    return static_cast<float>(targetLength - 1) / static_cast<float>(sourceLength - 1);
}

// Mirrors a position outside 0..length-1 back inside: -j below, (length - j) + length - 1
// above. An input shorter than the kernel's reach can need the mirror more than once; a
// position still outside after that (only with absurd supports) is clamped.
int32_t ReflectIndex(int64_t j, int length) {
    for (int n = 0; n < 64 && (j < 0 || j >= length); ++n) j = j < 0 ? -j : (int64_t(length) - j) + length - 1;
    return static_cast<int32_t>(std::clamp<int64_t>(j, 0, length - 1));
}

// Sampled at a spacing that does not divide the kernel evenly, a list's weights can sum to
// far from 1 (a Box list shrinking by 3/4 holds one or two taps of 3/4), which turns a flat
// area into a plaid. Each list is divided by its float sum, taken in list order; a sum of 1
// is left alone so that lists already exact keep their weights bit for bit.
void NormaliseWeights(float* weight, size_t count) {
    float sum = 0.0f;
    for (size_t k = 0; k < count; ++k) sum += weight[k];
    if (sum == 0.0f || sum == 1.0f) return;
    for (size_t k = 0; k < count; ++k) weight[k] = weight[k] / sum;
}

}  // namespace

namespace imageops {

TapTable BuildTapTable(float s, int L, int N, FilterKernel kernel, float support, float firstCentre) {
    const bool shrinking = s < 1.0f;
    if (!(s > 0.0f)) throw EZeroDivide();
    const float w = shrinking ? support / s : support;
    const float fs = shrinking ? 1.0f / s : 1.0f;

    // right - left + 1 <= 2w + 3 for every list; refuse tables that could not be held.
    const double perList = std::floor(2.0 * static_cast<double>(w) + 3.0);
    const double bound = perList * static_cast<double>(N);
    if (!(bound < 1e15)) throw EInvalidGraphic("Not enough memory for this picture");
    CheckAllocation(static_cast<uint64_t>(bound), sizeof(int32_t) + sizeof(float));

    std::vector<size_t> start(static_cast<size_t>(N) + 1, 0);
    std::vector<int32_t> index;
    std::vector<float> weight;
    for (int i = 0; i < N; ++i) {
        const float centre = firstCentre + static_cast<float>(i) / s;
        const int64_t left = static_cast<int64_t>(std::floor(centre - w));
        const int64_t right = static_cast<int64_t>(std::ceil(centre + w));
        for (int64_t j = left; j <= right; ++j) {
            const float x = centre - static_cast<float>(j);
            const float wj = shrinking ? kernel(x / fs) / fs : kernel(x);
            if (wj == 0.0f) continue;
            if (!std::isfinite(wj)) throw EInvalidGraphicOperation("Invalid resampling filter weight");
            index.push_back(ReflectIndex(j, L));
            weight.push_back(wj);
        }
        start[size_t(i) + 1] = index.size();
        NormaliseWeights(weight.data() + start[size_t(i)], start[size_t(i) + 1] - start[size_t(i)]);
    }

    TapTable table;
    table.outputs = N;
    size_t K = 1;
    for (int i = 0; i < N; ++i) K = std::max(K, start[size_t(i) + 1] - start[size_t(i)]);
    table.taps = static_cast<int>(K);
    table.index.assign(size_t(N) * K, 0);
    table.weight.assign(size_t(N) * K, 0.0f);
    for (size_t i = 0; i < size_t(N); ++i) {
        const size_t count = start[i + 1] - start[i];
        std::copy_n(index.begin() + static_cast<ptrdiff_t>(start[i]), count, table.index.begin() + static_cast<ptrdiff_t>(i * K));
        std::copy_n(weight.begin() + static_cast<ptrdiff_t>(start[i]), count, table.weight.begin() + static_cast<ptrdiff_t>(i * K));
        // Padding repeats the last index (weight 0) so that its reads stay where the real ones were.
        const int32_t last = count > 0 ? index[start[i + 1] - 1] : 0;
        std::fill(table.index.begin() + static_cast<ptrdiff_t>(i * K + count), table.index.begin() + static_cast<ptrdiff_t>((i + 1) * K), last);
    }
    return table;
}

}  // namespace imageops

namespace {

// About a millisecond of work: below that, starting a thread costs more than it saves.
constexpr double kMinWorkPerThread = 2.0e6;

}  // namespace

void ResampleBitmap(TBitmap& source, TBitmap& target, FilterKernel kernel, float support) {
    ResampleBitmap(source, target, kernel, support, ResampleOptions{});
}

namespace {

struct Plan {
    imageops::TapTable horizontal, vertical;
};

// The taps of one pass from `from` pixels to `to`.
imageops::TapTable PassTaps(int from, int to, FilterKernel kernel, float support) {
    // First maps to first and last to last, which leaves no spacing for a single output from a
    // longer source (the scale would be 0): that one stands for the whole source, centred on
    // its middle and shrunk by its length, so a thin picture still converts.
    if (to == 1 && from > 1)
        return imageops::BuildTapTable(1.0f / static_cast<float>(from), from, 1, kernel, support,
                                       static_cast<float>(from - 1) / 2.0f);
    return imageops::BuildTapTable(ScaleFactor(from, to), from, to, kernel, support);
}

// Output i of the mirrored pass is output outputs-1-i of the plain one, each tap on the
// mirrored source position, in the same order, so every sum is the same.
imageops::TapTable Mirrored(const imageops::TapTable& plain, int from) {
    imageops::TapTable mirrored = plain;
    const size_t K = size_t(plain.taps), N = size_t(plain.outputs);
    for (size_t i = 0; i < N; ++i)
        for (size_t t = 0; t < K; ++t) {
            mirrored.index[i * K + t] = from - 1 - plain.index[(N - 1 - i) * K + t];
            mirrored.weight[i * K + t] = plain.weight[(N - 1 - i) * K + t];
        }
    return mirrored;
}

imageops::TapTable MadePassTaps(int from, int to, FilterKernel kernel, float support, bool mirror) {
    return mirror ? Mirrored(PassTaps(from, to, kernel, support), from) : PassTaps(from, to, kernel, support);
}

// The pictures of a batch are often of one size, and each of them needs the same tables
// (the vertical one twice when rows are followed): the last few made are kept, so that the
// kernel is evaluated once for all of them. Only tables of ordinary size are kept.
imageops::TapTable PassTaps(int from, int to, FilterKernel kernel, float support, bool mirror) {
    struct Kept {
        int from = 0, to = 0;
        FilterKernel kernel = nullptr;
        float support = 0.0f;
        bool mirror = false;
        std::optional<imageops::TapTable> table;
    };
    static std::mutex mutex;
    static std::array<Kept, 4> kept;
    static size_t nextSlot = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (const Kept& k : kept)
            if (k.table && k.from == from && k.to == to && k.kernel == kernel && k.support == support &&
                k.mirror == mirror)
                return *k.table;
    }
    imageops::TapTable made = MadePassTaps(from, to, kernel, support, mirror);
    if (made.index.size() <= (size_t(1) << 18)) {
        std::lock_guard<std::mutex> lock(mutex);
        kept[nextSlot] = Kept{from, to, kernel, support, mirror, made};
        nextSlot = (nextSlot + 1) % kept.size();
    }
    return made;
}

// Everything that can fail is settled before either bitmap is touched.
Plan PlanResample(int SW, int SH, int DW, int DH, FilterKernel kernel, float support, const ResampleOptions& options) {
    if (SW < 1 || SH < 1) throw EInvalidGraphicOperation("Source bitmap too small");
    if (DW < 1 || DH < 1) throw EInvalidGraphicOperation("Target bitmap too small");
    if (kernel == nullptr) throw EInvalidGraphicOperation("No resampling filter");
    if (!std::isfinite(support) || support < 0.0f) throw EInvalidGraphicOperation("Invalid resampling filter support");
    return {PassTaps(SW, DW, kernel, support, options.mirrorColumns),
            PassTaps(SH, DH, kernel, support, options.mirrorRows)};
}

}  // namespace

int ResampleRingRows(int height, int targetHeight, FilterKernel kernel, float support, bool mirrorRows) {
    if (height < 1 || targetHeight < 1) throw EInvalidGraphicOperation("Source bitmap too small");
    return imageops::SourceRingRows(PassTaps(height, targetHeight, kernel, support, mirrorRows), height);
}

void ResampleFromRing(const TBitmap& ring, int height, RowsReady& rows, TBitmap& target, FilterKernel kernel,
                      float support, const ResampleOptions& options) {
    // However the resampling ends, the producer is not left waiting for room.
    struct ReleaseAll {
        RowsReady& rows;
        ~ReleaseAll() { rows.Release(INT_MAX); }
    } releaseAll{rows};
    const Plan plan = PlanResample(ring.Width(), height, target.Width(), target.Height(), kernel, support, options);
    if (ring.PixelFormat() != TPixelFormat::pf24bit || ring.Height() < 1)
        throw EInvalidGraphicOperation("The ring of source rows must be a 24-bit bitmap");
    if (target.PixelFormat() != TPixelFormat::pf24bit) target.SetPixelFormat(TPixelFormat::pf24bit);
    imageops::ResamplePasses({ring.Bits(), ring.RowStride(), ring.Height()}, ring.Width(), height, plan.horizontal,
                             plan.vertical, {target.Bits(), target.RowStride()}, 1, options.allowWideVectors, &rows,
                             options.prepareSourceRow ? &options.prepareSourceRow : nullptr,
                             options.targetRowsDone ? &options.targetRowsDone : nullptr);
}

void ResampleBitmap(TBitmap& source, TBitmap& target, FilterKernel kernel, float support,
                    const ResampleOptions& options) {
    const int DW = target.Width();
    const int DH = target.Height();
    const int SW = source.Width();
    const int SH = source.Height();
    const Plan plan = PlanResample(SW, SH, DW, DH, kernel, support, options);
    const imageops::TapTable& horizontal = plan.horizontal;
    const imageops::TapTable& vertical = plan.vertical;

    if (options.sourceRows && (&source == &target || source.PixelFormat() != TPixelFormat::pf24bit))
        throw EInvalidGraphicOperation("A source still being filled must be a 24-bit bitmap of its own");
    const SourceRowHook* prepare = options.sourceRows && options.prepareSourceRow ? &options.prepareSourceRow : nullptr;
    if (source.PixelFormat() != TPixelFormat::pf24bit) source.SetPixelFormat(TPixelFormat::pf24bit);
    if (target.PixelFormat() != TPixelFormat::pf24bit) target.SetPixelFormat(TPixelFormat::pf24bit);

    // Target rows are written while later source rows are still to be read, so a bitmap
    // resampled onto itself is read from a copy.
    TBitmap sourceCopy;
    const TBitmap* from = &source;
    if (&source == &target) {
        sourceCopy = source;
        from = &sourceCopy;
    }

    // The threads split the target's rows; each makes the intermediate rows its rows need.
    const double work = double(SH) * DW * 3 * horizontal.taps + double(DH) * DW * 3 * vertical.taps;
    const TargetRowsHook* rowsDone = options.targetRowsDone ? &options.targetRowsDone : nullptr;
    const int threads = prepare || rowsDone
                            ? 1
                            : imageops::ChooseThreadCount(options.threads, work, kMinWorkPerThread, (DH + 7) / 8);
    imageops::ResamplePasses({from->Bits(), from->RowStride()}, SW, SH, horizontal, vertical,
                             {target.Bits(), target.RowStride()}, threads, options.allowWideVectors,
                             options.sourceRows, prepare, rowsDone);
}
