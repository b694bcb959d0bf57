#pragma once
// The conversion to sRGB of RGB profiles made of three curves and a matrix, which is what
// phones and cameras embed (Display P3, Adobe RGB, ProPhoto): per channel a table of linear
// light, one integer matrix to sRGB's linear light, and a table back to sRGB levels. The same
// result as LittleCMS's transform within a level, several times faster.
#include <lcms2.h>

#include <array>
#include <cstdint>
#include <memory>

class MatrixShaperToSRGB {
public:
    // nullptr when the profile is not an RGB matrix/curves one, or one that LittleCMS, with the
    // perceptual intent, would convert otherwise (a table beside the matrix, a black point
    // to compensate, coefficients too large for the sums). `reference` is LittleCMS's
    // transform of the profile to sRGB, perceptual, red-green-blue 8-bit both sides: the
    // tables must agree with it on a grid of colours.
    static std::unique_ptr<MatrixShaperToSRGB> Create(cmsHPROFILE profile, cmsHTRANSFORM reference);

    // width pixels in place: blue, green, red, and with step 4 a fourth byte kept as it is.
    void Convert(uint8_t* pixels, int width, int step) const;

private:
    MatrixShaperToSRGB() = default;
    // What each stored level of each channel (blue, green, red: the stored order) adds to
    // the three results (blue, green, red, and a zero), in sRGB linear light: the level's
    // linear light times the matrix column, 1 << kSumBits for full. Four lanes, so that a
    // pixel's three sums are one vector addition.
    struct alignas(16) Lanes {
        int32_t v[4];
    };
    std::array<std::array<Lanes, 256>, 3> add_{};
    // sRGB level of each linear value 0 ... 1 << kLinearBits, the same for every profile.
    const uint8_t* encode_ = nullptr;

    static constexpr int kSumBits = 28;
    static constexpr int kLinearBits = 14;
    static constexpr int32_t kRounding = 1 << (kSumBits - kLinearBits - 1);
};
