#include "reference_resample.h"

#include <cmath>
#include <stdexcept>

namespace reference {

namespace {

int Reflect(int j, int length) {
    // Short inputs may need more than one mirror; the fast resampler does the same.
    while (j < 0 || j >= length) j = j < 0 ? -j : (length - j) + length - 1;
    return j;
}

uint8_t ToByte(float sum) {
    if (sum > 255.0f) return 255;
    if (sum < 0.0f) return 0;
    return static_cast<uint8_t>(std::nearbyint(sum));
}

}  // namespace

float ScaleFactor(int sourceLength, int targetLength) {
    if (sourceLength == 1) return float(targetLength) / float(sourceLength);
    return float(targetLength - 1) / float(sourceLength - 1);
}

std::vector<std::vector<Tap>> BuildTaps(float scale, int inputLength, int outputs, FilterKernel kernel,
                                        float support) {
    float width = support;
    float factor = 1.0f;
    const bool shrinking = scale < 1.0f;
    if (shrinking) {
        width = support / scale;
        factor = 1.0f / scale;
    }
    std::vector<std::vector<Tap>> lists(static_cast<size_t>(outputs));
    for (int i = 0; i < outputs; ++i) {
        const float centre = float(i) / scale;
        const int left = static_cast<int>(std::floor(centre - width));
        const int right = static_cast<int>(std::ceil(centre + width));
        lists[i].reserve(static_cast<size_t>(right - left + 1));
        for (int j = left; j <= right; ++j) {
            float weight;
            if (shrinking) {
                const float x = (centre - float(j)) / factor;
                weight = kernel(x) / factor;
            } else {
                weight = kernel(centre - float(j));
            }
            if (weight == 0.0f) continue;
            lists[i].push_back(Tap{Reflect(j, inputLength), weight});
        }
        // Each list is divided by its sum (in list order) unless that is 0 or 1.
        float sum = 0.0f;
        for (const Tap& tap : lists[i]) sum += tap.weight;
        if (sum != 0.0f && sum != 1.0f)
            for (Tap& tap : lists[i]) tap.weight = tap.weight / sum;
    }
    return lists;
}

TBitmap Resample(const TBitmap& source, int targetWidth, int targetHeight, FilterKernel kernel, float support) {
    if (source.PixelFormat() != TPixelFormat::pf24bit) throw std::invalid_argument("reference takes 24-bit sources");
    const int SW = source.Width(), SH = source.Height();
    const int DW = targetWidth, DH = targetHeight;

    TBitmap work(DW, SH, TPixelFormat::pf24bit);
    const auto horizontal = BuildTaps(ScaleFactor(SW, DW), SW, DW, kernel, support);
    for (int y = 0; y < SH; ++y) {
        const uint8_t* in = source.ScanLine(y);
        uint8_t* out = work.ScanLine(y);
        for (int i = 0; i < DW; ++i) {
            float sum[3] = {0.0f, 0.0f, 0.0f};
            for (const Tap& tap : horizontal[i])
                for (int c = 0; c < 3; ++c) sum[c] += float(in[tap.index * 3 + c]) * tap.weight;
            for (int c = 0; c < 3; ++c) out[i * 3 + c] = ToByte(sum[c]);
        }
    }

    TBitmap target(DW, DH, TPixelFormat::pf24bit);
    const auto vertical = BuildTaps(ScaleFactor(SH, DH), SH, DH, kernel, support);
    for (int x = 0; x < DW; ++x) {
        for (int i = 0; i < DH; ++i) {
            float sum[3] = {0.0f, 0.0f, 0.0f};
            for (const Tap& tap : vertical[i]) {
                const uint8_t* in = work.ScanLine(tap.index) + x * 3;
                for (int c = 0; c < 3; ++c) sum[c] += float(in[c]) * tap.weight;
            }
            uint8_t* out = target.ScanLine(i) + x * 3;
            for (int c = 0; c < 3; ++c) out[c] = ToByte(sum[c]);
        }
    }
    return target;
}

}  // namespace reference
