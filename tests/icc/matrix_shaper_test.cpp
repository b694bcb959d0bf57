// The conversion of profiles made of curves and a matrix, against LittleCMS's own transform
// on a dense grid of colours, in both pixel formats; and which profiles take that path.
#include "icc/matrix_shaper.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "graphics/bitmap.h"
#include "icc/colour_profile.h"

namespace {

struct Made {
    std::vector<uint8_t> bytes;
    bool gray = false;
};

Made Save(cmsHPROFILE profile, bool gray = false) {
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    Made made{std::vector<uint8_t>(size), gray};
    cmsSaveProfileToMem(profile, made.bytes.data(), &size);
    cmsCloseProfile(profile);
    return made;
}

cmsHPROFILE Rgb(const cmsCIExyY& white, cmsCIExyYTRIPLE primaries, cmsToneCurve* r, cmsToneCurve* g,
                cmsToneCurve* b, double version = 4.3) {
    cmsToneCurve* curves[3] = {r, g, b};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsSetProfileVersion(profile, version);
    // The profile keeps copies; each case builds three curves of its own.
    for (cmsToneCurve* c : {r, g, b}) cmsFreeToneCurve(c);
    return profile;
}

cmsCIExyY D65() {
    cmsCIExyY white;
    cmsWhitePointFromTemp(&white, 6504);
    return white;
}

constexpr cmsCIExyYTRIPLE kP3 = {{0.680, 0.320, 1}, {0.265, 0.690, 1}, {0.150, 0.060, 1}};
constexpr cmsCIExyYTRIPLE kAdobe = {{0.64, 0.33, 1}, {0.21, 0.71, 1}, {0.15, 0.06, 1}};
constexpr cmsCIExyYTRIPLE kProPhoto = {{0.7347, 0.2653, 1}, {0.1596, 0.8404, 1}, {0.0366, 0.0001, 1}};
constexpr cmsCIExyYTRIPLE kRec2020 = {{0.708, 0.292, 1}, {0.170, 0.797, 1}, {0.131, 0.046, 1}};

cmsToneCurve* SrgbCurve() {
    const double p[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    return cmsBuildParametricToneCurve(nullptr, 4, p);
}

// 1024 points of a camera-like curve: a linear toe, then a power.
cmsToneCurve* Tabulated() {
    std::vector<float> points(1024);
    for (size_t i = 0; i < points.size(); ++i) {
        const double x = double(i) / 1023;
        points[i] = float(x < 0.018 * 4.5 ? x / 4.5 : std::pow((x + 0.099) / 1.099, 1 / 0.45));
    }
    return cmsBuildTabulatedToneCurveFloat(nullptr, cmsUInt32Number(points.size()), points.data());
}

// Either: whichever LittleCMS's own check leaves, the result must agree with LittleCMS.
enum class Path { Fast, LittleCMS, Either };

struct Case {
    const char* name;
    Made (*make)();
    Path path;
};

const Case kCases[] = {
    {"Display P3", [] { return Save(Rgb(D65(), kP3, SrgbCurve(), SrgbCurve(), SrgbCurve())); }, Path::Fast},
    {"Adobe RGB, gamma 2.2, version 2",
     [] {
         return Save(Rgb(D65(), kAdobe, cmsBuildGamma(nullptr, 2.19921875), cmsBuildGamma(nullptr, 2.19921875),
                         cmsBuildGamma(nullptr, 2.19921875), 2.1));
     },
     Path::Fast},
    {"ProPhoto-like, D50, gamma 1.8",
     [] {
         return Save(Rgb(*cmsD50_xyY(), kProPhoto, cmsBuildGamma(nullptr, 1.8), cmsBuildGamma(nullptr, 1.8),
                         cmsBuildGamma(nullptr, 1.8)));
     },
     Path::Fast},
    {"Rec. 2020, tabulated curves of 1024 points",
     [] { return Save(Rgb(D65(), kRec2020, Tabulated(), Tabulated(), Tabulated())); }, Path::Fast},
    {"P3, a different curve per channel",
     [] {
         return Save(Rgb(D65(), kP3, cmsBuildGamma(nullptr, 2.0), SrgbCurve(), cmsBuildGamma(nullptr, 2.6)));
     },
     Path::Fast},
    // Black lifted off zero: LittleCMS compensates the black point for this intent.
    {"P3, black lifted to 3 % light",
     [] {
         const double lifted[7] = {2.2, 1, 0, 0, 0, 0.03, 0.03};
         return Save(Rgb(D65(), kP3, cmsBuildParametricToneCurve(nullptr, 5, lifted),
                         cmsBuildParametricToneCurve(nullptr, 5, lifted),
                         cmsBuildParametricToneCurve(nullptr, 5, lifted)));
     },
     Path::Either},
    {"gray, gamma 2.2",
     [] {
         cmsToneCurve* curve = cmsBuildGamma(nullptr, 2.2);
         Made made = Save(cmsCreateGrayProfile(cmsD50_xyY(), curve), true);
         cmsFreeToneCurve(curve);
         return made;
     },
     Path::LittleCMS},
    // A table beside the matrix: LittleCMS takes the table, so must we.
    {"P3 with a table that swaps red and blue",
     [] {
         cmsHPROFILE profile = Rgb(D65(), kP3, SrgbCurve(), SrgbCurve(), SrgbCurve());
         cmsHPROFILE swapped = Rgb(D65(), {kP3.Blue, kP3.Green, kP3.Red}, SrgbCurve(), SrgbCurve(), SrgbCurve());
         cmsHPROFILE xyz = cmsCreateXYZProfile();
         cmsHTRANSFORM t = cmsCreateTransform(swapped, TYPE_RGB_16, xyz, TYPE_XYZ_16, INTENT_RELATIVE_COLORIMETRIC, 0);
         cmsPipeline* lut = cmsPipelineAlloc(nullptr, 3, 3);
         cmsStage* table = cmsStageAllocCLut16bit(nullptr, 17, 3, 3, nullptr);
         cmsStageSampleCLut16bit(
             table,
             [](const cmsUInt16Number in[], cmsUInt16Number out[], void* cargo) -> cmsInt32Number {
                 cmsDoTransform(static_cast<cmsHTRANSFORM>(cargo), in, out, 1);
                 return 1;
             },
             t, 0);
         cmsPipelineInsertStage(lut, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
         cmsPipelineInsertStage(lut, cmsAT_END, table);
         cmsPipelineInsertStage(lut, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
         cmsWriteTag(profile, cmsSigAToB0Tag, lut);
         cmsPipelineFree(lut);
         cmsDeleteTransform(t);
         cmsCloseProfile(xyz);
         cmsCloseProfile(swapped);
         return Save(profile);
     },
     Path::LittleCMS},
};

// Every combination of 32 even levels per channel, and the levels beside the ends.
std::vector<uint8_t> GridLevels() {
    std::vector<uint8_t> levels;
    for (int i = 0; i < 32; ++i) levels.push_back(uint8_t(i * 255 / 31));
    for (uint8_t v : {1, 2, 253, 254}) levels.push_back(v);
    return levels;
}

TEST(MatrixShaper, AgreesWithLittleCMSOnEveryColourOfAGrid) {
    const std::vector<uint8_t> levels = GridLevels();
    const int count = int(levels.size() * levels.size() * levels.size());
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        const Made made = c.make();
        cmsHPROFILE profile = cmsOpenProfileFromMem(made.bytes.data(), cmsUInt32Number(made.bytes.size()));
        ASSERT_NE(profile, nullptr);
        cmsHPROFILE srgb = cmsCreate_sRGBProfile();
        cmsHTRANSFORM reference = cmsCreateTransform(profile, made.gray ? TYPE_GRAY_8 : TYPE_BGR_8, srgb, TYPE_BGR_8,
                                                     INTENT_PERCEPTUAL, 0);
        ASSERT_NE(reference, nullptr);
        if (!made.gray) {
            cmsHTRANSFORM check = cmsCreateTransform(profile, TYPE_RGB_8, srgb, TYPE_RGB_8, INTENT_PERCEPTUAL, 0);
            if (c.path != Path::Either) {
                EXPECT_EQ(MatrixShaperToSRGB::Create(profile, check) != nullptr, c.path == Path::Fast);
            }
            cmsDeleteTransform(check);
        }
        cmsCloseProfile(srgb);
        cmsCloseProfile(profile);

        for (TPixelFormat format : {TPixelFormat::pf24bit, TPixelFormat::pf32bit}) {
            const size_t step = format == TPixelFormat::pf32bit ? 4 : 3;
            // One row per level of red, so that the rows go to both threads.
            TBitmap bitmap(count / int(levels.size()), int(levels.size()), format);
            std::vector<uint8_t> stored;
            for (uint8_t r : levels)
                for (uint8_t g : levels)
                    for (uint8_t b : levels) stored.insert(stored.end(), {made.gray ? r : b, made.gray ? r : g, r});
            for (int y = 0; y < bitmap.Height(); ++y)
                for (int x = 0; x < bitmap.Width(); ++x) {
                    uint8_t* p = bitmap.ScanLine(y) + size_t(x) * step;
                    const size_t i = (size_t(y) * size_t(bitmap.Width()) + size_t(x)) * 3;
                    std::copy_n(&stored[i], 3, p);
                    if (step == 4) p[3] = uint8_t(x * 7 + y);
                }
            std::vector<uint8_t> want(stored.size());
            if (made.gray) {
                std::vector<uint8_t> grays(static_cast<size_t>(count));
                for (size_t i = 0; i < grays.size(); ++i) grays[i] = stored[i * 3];
                cmsDoTransform(reference, grays.data(), want.data(), cmsUInt32Number(count));
            } else {
                cmsDoTransform(reference, stored.data(), want.data(), cmsUInt32Number(count));
            }

            std::string problem;
            ASSERT_EQ(ConvertToSRGB(bitmap, made.bytes, &problem, 2), ProfileOutcome::Converted) << problem;
            int failures = 0;
            for (int y = 0; y < bitmap.Height() && failures < 5; ++y)
                for (int x = 0; x < bitmap.Width() && failures < 5; ++x) {
                    const uint8_t* p = bitmap.ScanLine(y) + size_t(x) * step;
                    const size_t i = (size_t(y) * size_t(bitmap.Width()) + size_t(x)) * 3;
                    bool same = true;
                    for (size_t k = 0; k < 3; ++k) same = same && std::abs(int(p[k]) - int(want[i + k])) <= 1;
                    if (step == 4) same = same && p[3] == uint8_t(x * 7 + y);
                    if (!same) {
                        ++failures;
                        ADD_FAILURE() << step * 8 << "-bit, stored (b, g, r) " << int(stored[i]) << ", "
                                      << int(stored[i + 1]) << ", " << int(stored[i + 2]) << ": have " << int(p[0])
                                      << ", " << int(p[1]) << ", " << int(p[2])
                                      << (step == 4 ? " alpha " + std::to_string(p[3]) : std::string()) << ", want "
                                      << int(want[i]) << ", " << int(want[i + 1]) << ", " << int(want[i + 2]);
                    }
                }
        }
        cmsDeleteTransform(reference);
    }
}

}  // namespace
