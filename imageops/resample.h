#pragma once
// The seven reconstruction filters and the separable two-pass resampler.
#include <array>
#include <cstdint>
#include <functional>

class RowsReady;
class TBitmap;

// A kernel takes a distance in source pixels (already divided by the widening factor when
// shrinking) and returns a weight; both 32-bit floats.
using FilterKernel = float (*)(float x);

struct FilterEntry {
    const char* displayName;
    FilterKernel kernel;
    float support;  // half-width in source pixels at scale 1
};

float BoxKernel(float x);
float TriangleKernel(float x);
float HermiteKernel(float x);
float BellKernel(float x);
float BSplineKernel(float x);
float Lanczos3Kernel(float x);
float MitchellKernel(float x);
float SincPi(float x);

// Index 0..6 is the filter setting stored in the settings.
extern const std::array<FilterEntry, 7> FilterTable;

// Resamples source into target, whose width and height the caller has set. The source is
// converted to 24 bits per pixel in place if needed; the target becomes 24 bits per pixel.
void ResampleBitmap(TBitmap& source, TBitmap& target, FilterKernel kernel, float support);

// Called with a source row's index once the row is final and before the resampler first reads
// it, once for each row, in order, on the reading thread: the caller may still change the row
// there (a colour conversion done beside the decoding). Rows never read may be left out.
using SourceRowHook = std::function<void(int y)>;

// Called with n once target rows 0..n-1 are final, as they come, on the resampling thread (which
// is then the only one): the caller may read those rows there, to encode them while the rest
// is still being made.
using TargetRowsHook = std::function<void(int rows)>;

// How the work is spread; the result is the same byte for byte whatever is chosen.
struct ResampleOptions {
    // 0: every core for large pictures, one thread for small ones; n > 0: exactly n threads
    // wherever there is enough work to split.
    int threads = 0;
    // Whether the wide-vector instructions may be used where the processor has them.
    bool allowWideVectors = true;
    // The source's rows as they become final, when it is still being filled (by a decoder on
    // another thread, top row first): the resampler reads a row only once it is final. The
    // source must be 24 bits per pixel and its size set already, and it is never the target.
    RowsReady* sourceRows = nullptr;
    // With sourceRows only; the resampling then runs on one thread.
    SourceRowHook prepareSourceRow = {};
    // The source's columns (rows) sampled as if counted from the other side, and the result
    // stored the same way: the mirror of resampling the mirrored source, byte for byte. For a
    // picture stored turned, so that the result turned upright is that of the upright picture.
    bool mirrorColumns = false;
    bool mirrorRows = false;
    // Sets the resampling to one thread.
    TargetRowsHook targetRowsDone = {};
};
void ResampleBitmap(TBitmap& source, TBitmap& target, FilterKernel kernel, float support,
                    const ResampleOptions& options);

// For a source that never exists whole: its rows pass through a ring that a producer refills.
// The rows the ring must hold to resample a source of `height` rows to targetHeight rows.
int ResampleRingRows(int height, int targetHeight, FilterKernel kernel, float support, bool mirrorRows = false);
// Resamples a ring.Width() x height source whose row y is row y % ring.Height() of ring (24
// bits, at least ResampleRingRows rows) into target, on one thread: each row is read once
// rows says it is final and released once no later output needs it. The bytes are those
// ResampleBitmap gives for the whole source. On its way out, failed or not, it releases
// every row, so that the producer never waits for room in vain. Of options, threads and
// sourceRows are not used.
void ResampleFromRing(const TBitmap& ring, int height, RowsReady& rows, TBitmap& target, FilterKernel kernel,
                      float support, const ResampleOptions& options = {});

// A channel sum as the stored byte: clamped to 0..255, halves rounded to the even neighbour.
uint8_t ResampleSumToByte(float sum);
