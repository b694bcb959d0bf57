#pragma once
// ICC profiles made at test time with LittleCMS, never copied from elsewhere: the bytes a
// picture embeds.
#include <lcms2.h>

#include <cstdint>
#include <vector>

namespace testsupport {

// The profile's bytes; the profile is closed.
inline std::vector<uint8_t> SaveProfile(cmsHPROFILE profile) {
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    std::vector<uint8_t> bytes(size);
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    return bytes;
}

// A D65 RGB profile of these primaries with one curve for all channels (freed here).
inline std::vector<uint8_t> RgbProfile(cmsCIExyYTRIPLE primaries, cmsToneCurve* curve) {
    cmsCIExyY d65;
    cmsWhitePointFromTemp(&d65, 6504);
    cmsToneCurve* curves[3] = {curve, curve, curve};
    std::vector<uint8_t> bytes = SaveProfile(cmsCreateRGBProfile(&d65, &primaries, curves));
    cmsFreeToneCurve(curve);
    return bytes;
}

// Display P3 as phones embed it: P3 primaries and the sRGB curve.
inline std::vector<uint8_t> DisplayP3Profile() {
    const double srgbCurve[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    return RgbProfile({{0.680, 0.320, 1}, {0.265, 0.690, 1}, {0.150, 0.060, 1}},
                      cmsBuildParametricToneCurve(nullptr, 4, srgbCurve));
}

}  // namespace testsupport
