#pragma once
// The two passes of the resampler over raw 24-bit rows. Internal to the resampler.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "imageops/resample.h"
#include "imageops/rows_ready.h"

namespace imageops {

// The taps of every output position of one pass, padded to the same count per position:
// padding taps have weight 0, which leaves every sum unchanged (a sum is never -0), so the
// passes can run one fixed-length loop.
struct TapTable {
    int outputs = 0;
    int taps = 0;                  // taps per output position (at least 1)
    std::vector<int32_t> index;    // outputs * taps source indices, each in 0..length-1
    std::vector<float> weight;     // outputs * taps weights, in the order they are summed
};

// The tap lists of one pass: scale factor, input length, output count, kernel and its support
// radius; output i is centred on source position firstCentre + i / scale. Fails with
// "Floating point division by zero" for a scale of 0.
TapTable BuildTapTable(float scale, int inputLength, int outputs, FilterKernel kernel, float support,
                       float firstCentre = 0.0f);

struct PassImage {
    const uint8_t* bits;
    size_t stride;
    int ringRows = 0;  // > 0: row y is row y % ringRows of bits (a ring the producer refills)
};
struct PassTarget {
    uint8_t* bits;
    size_t stride;
};

// Both passes: every row of a width x rows source resampled by `horizontal` into
// horizontal.outputs columns, then those columns by `vertical` into vertical.outputs rows of
// target. Work is split over `threads` threads by target rows. With sourceRows, each block of
// source rows is waited for (RowsReady::WaitFor) before it is read. A source in a ring
// (source.ringRows, at least SourceRingRows) needs sourceRows, runs on one thread and
// releases the rows behind it (RowsReady::Release). prepareRow (with sourceRows, one thread
// only) is called as ResampleOptions::prepareSourceRow says.
void ResamplePasses(PassImage source, int width, int rows, const TapTable& horizontal, const TapTable& vertical,
                    PassTarget target, int threads, bool wideVectors, RowsReady* sourceRows = nullptr,
                    const SourceRowHook* prepareRow = nullptr, const TargetRowsHook* rowsDone = nullptr);

// The rows a ring of source rows must hold for these vertical taps over `rows` source rows.
int SourceRingRows(const TapTable& vertical, int rows);

// Whether this processor has the wide-vector instructions the fast loops can use.
bool HaveWideVectors();

}  // namespace imageops
