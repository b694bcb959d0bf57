#pragma once
// A plain, slow resampler written straight from the definition, kept as the yardstick the
// fast one must match byte for byte.
#include <vector>

#include "graphics/bitmap.h"
#include "imageops/resample.h"

namespace reference {

struct Tap {
    int index;
    float weight;
};

// The tap list of every output position of one pass (scale, input length, output count).
std::vector<std::vector<Tap>> BuildTaps(float scale, int inputLength, int outputs, FilterKernel kernel,
                                        float support);

float ScaleFactor(int sourceLength, int targetLength);

// Resamples a 24-bit source into a new targetWidth x targetHeight bitmap: horizontal pass row
// by row into an intermediate bitmap, then the vertical pass one column at a time.
TBitmap Resample(const TBitmap& source, int targetWidth, int targetHeight, FilterKernel kernel, float support);

}  // namespace reference
