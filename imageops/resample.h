#pragma once
// The seven reconstruction filters and the separable two-pass resampler.
#include <array>

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
