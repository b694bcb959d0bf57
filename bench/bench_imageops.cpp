// Resampling and rotation at camera sizes: wall time with every core the library chooses to
// use, and pixels per second (target pixels for resampling, picture pixels for rotation).
#include <benchmark/benchmark.h>

#include <random>
#include <thread>

#include "graphics/bitmap.h"
#include "imageops/resample.h"
#include "imageops/rotate.h"

namespace {

TBitmap Noise(int width, int height) {
    TBitmap bmp(width, height, TPixelFormat::pf24bit);
    std::mt19937 rng(42);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = bmp.ScanLine(y);
        for (int x = 0; x < width * 3; ++x) row[x] = static_cast<uint8_t>(rng());
    }
    return bmp;
}

const TBitmap& Source() {
    static const TBitmap source = Noise(6000, 4000);
    return source;
}

void Resample(benchmark::State& state, int filter, int width, int height, int threads) {
    TBitmap source = Source();
    TBitmap target(width, height, TPixelFormat::pf24bit);
    const FilterEntry& f = FilterTable[filter];
    for (auto _ : state) {
        ResampleBitmap(source, target, f.kernel, f.support, ResampleOptions{threads, true});
        benchmark::DoNotOptimize(target.Bits());
    }
    state.counters["pixels/s"] =
        benchmark::Counter(double(width) * height, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["threads"] = threads > 0 ? threads : std::thread::hardware_concurrency();
}

void RotateRight(benchmark::State& state, int threads) {
    const TBitmap& source = Source();
    for (auto _ : state) {
        auto turned = RotateBitmap(1, source, threads);
        benchmark::DoNotOptimize(turned->Bits());
    }
    state.counters["pixels/s"] = benchmark::Counter(double(source.Width()) * source.Height(),
                                                    benchmark::Counter::kIsIterationInvariantRate);
    state.counters["threads"] = threads > 0 ? threads : std::thread::hardware_concurrency();
}

// What making the 4000 x 6000 result bitmap costs by itself (allocation, first touch of its
// pages, white fill): part of every quarter turn's time, outside the rotation's own work.
void AllocateResult(benchmark::State& state) {
    for (auto _ : state) {
        TBitmap result(4000, 6000, TPixelFormat::pf24bit);
        benchmark::DoNotOptimize(result.Bits());
    }
}

}  // namespace

// threads 0 = the library's own choice (every core for pictures this size); 1 for comparison.
BENCHMARK_CAPTURE(Resample, Lanczos3_6000x4000_to_3000x2000, 5, 3000, 2000, 0)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Resample, Lanczos3_6000x4000_to_3000x2000_1thread, 5, 3000, 2000, 1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Resample, Lanczos3_6000x4000_to_9000x6000, 5, 9000, 6000, 0)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Resample, Box_6000x4000_to_1500x1000, 0, 1500, 1000, 0)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RotateRight, RotateRight90_6000x4000, 0)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RotateRight, RotateRight90_6000x4000_1thread, 1)->UseRealTime()->Unit(benchmark::kMillisecond);

BENCHMARK(AllocateResult)->Name("TBitmap_4000x6000_allocation")->UseRealTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
