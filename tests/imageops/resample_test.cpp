#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

#include "graphics/bitmap.h"
#include "graphics/errors.h"
#include "graphics/size_check.h"
#include "imageops/resample.h"
#include "pixel_compare.h"
#include "reference_resample.h"
#include "tests/support/test_support.h"

using imageops_test::PixelAt;
using imageops_test::SamePixels;
using imageops_test::SetPixelBytes;
using testsupport::NoiseBitmap;

namespace {

TBitmap Resampled(const TBitmap& source, int width, int height, const FilterEntry& filter,
                  const ResampleOptions& options = {}) {
    TBitmap in = source;
    TBitmap out(width, height, TPixelFormat::pf24bit);
    ResampleBitmap(in, out, filter.kernel, filter.support, options);
    return out;
}

const FilterEntry& Filter(const std::string& name) {
    for (const FilterEntry& f : FilterTable)
        if (name == f.displayName) return f;
    throw std::invalid_argument(name);
}

// A row (or column) of the given values, repeated `across` times; the three channels carry
// v, 255 - v and v + 40 (values up to 215), so that channel mix-ups show and averages stay exact.
TBitmap Line(const std::vector<int>& values, bool vertical, int across = 1) {
    const int n = static_cast<int>(values.size());
    TBitmap bmp(vertical ? across : n, vertical ? n : across, TPixelFormat::pf24bit);
    for (int k = 0; k < n; ++k)
        for (int a = 0; a < across; ++a)
            SetPixelBytes(bmp, vertical ? a : k, vertical ? k : a,
                          {uint8_t(values[k]), uint8_t(255 - values[k]), uint8_t(values[k] + 40)});
    return bmp;
}

}  // namespace

TEST(FilterKernels, KnownValues) {
    EXPECT_EQ(BellKernel(1.0f), 0.125f);
    EXPECT_EQ(BellKernel(0.0f), 0.75f);
    EXPECT_EQ(BSplineKernel(1.0f), 1.0f / 6.0f);
    EXPECT_EQ(BSplineKernel(0.0f), 2.0f / 3.0f);
    EXPECT_EQ(MitchellKernel(1.0f), static_cast<float>(1.0 / 18.0));
    EXPECT_EQ(MitchellKernel(0.0f), static_cast<float>(8.0 / 9.0));
    EXPECT_EQ(TriangleKernel(0.25f), 0.75f);
    EXPECT_EQ(HermiteKernel(0.5f), 0.5f);
    EXPECT_EQ(Lanczos3Kernel(0.0f), 1.0f);
    EXPECT_EQ(SincPi(0.0f), 1.0f);
    EXPECT_NEAR(SincPi(0.5f), 2.0 / std::numbers::pi, 1e-7);
    EXPECT_NEAR(Lanczos3Kernel(1.5f), SincPi(1.5f) * SincPi(0.5f), 0.0);
    // Box is half-open: the right edge belongs to it, the left one does not.
    EXPECT_EQ(BoxKernel(0.5f), 1.0f);
    EXPECT_EQ(BoxKernel(-0.5f), 0.0f);
    EXPECT_EQ(BoxKernel(0.0f), 1.0f);
    // Lanczos3 all but vanishes on the integers, which is why it keeps pixels at scale 1.
    for (float k : {1.0f, 2.0f, -1.0f, -2.0f}) EXPECT_LT(std::fabs(Lanczos3Kernel(k)), 1e-6f) << k;
}

TEST(FilterKernels, TableOrderSymmetryAndSupport) {
    const char* names[] = {"Box (Fastest)", "Triangle", "Hermite", "Bell", "B-Spline", "Lanczos3 (Best)", "Mitchell"};
    const float supports[] = {0.5f, 1.0f, 1.0f, 1.5f, 2.0f, 3.0f, 2.0f};
    for (size_t i = 0; i < FilterTable.size(); ++i) {
        const FilterEntry& f = FilterTable[i];
        EXPECT_STREQ(f.displayName, names[i]);
        EXPECT_EQ(f.support, supports[i]) << f.displayName;
        if (f.kernel == BoxKernel) continue;
        // Zero at the support radius and beyond, non-zero just inside, symmetric.
        EXPECT_EQ(f.kernel(f.support), 0.0f) << f.displayName;
        EXPECT_EQ(f.kernel(-f.support - 0.25f), 0.0f) << f.displayName;
        EXPECT_NE(f.kernel(f.support * 0.9f), 0.0f) << f.displayName;
        for (float x : {0.1f, 0.6f, 1.3f, 2.7f}) EXPECT_EQ(f.kernel(x), f.kernel(-x)) << f.displayName << " at " << x;
    }
}

TEST(ResampleSumToByte, ClampsAndRoundsHalfToEven) {
    EXPECT_EQ(ResampleSumToByte(254.5f), 254);
    EXPECT_EQ(ResampleSumToByte(0.5f), 0);
    EXPECT_EQ(ResampleSumToByte(2.5f), 2);
    EXPECT_EQ(ResampleSumToByte(3.5f), 4);
    EXPECT_EQ(ResampleSumToByte(254.51f), 255);
    EXPECT_EQ(ResampleSumToByte(255.4f), 255);
    EXPECT_EQ(ResampleSumToByte(300.0f), 255);
    EXPECT_EQ(ResampleSumToByte(-0.4f), 0);
    EXPECT_EQ(ResampleSumToByte(-40.0f), 0);
    EXPECT_EQ(ResampleSumToByte(std::nanf("")), 0);
}

// Triangle, 2 -> 4: a, 2/3 a + 1/3 b, 1/3 a + 2/3 b, b; in both directions.
TEST(ResampleBitmap, TriangleTwoToFour) {
    for (bool vertical : {false, true}) {
        const TBitmap src = Line({30, 90}, vertical, 3);
        const TBitmap want = Line({30, 50, 70, 90}, vertical, 3);
        EXPECT_TRUE(SamePixels(Resampled(src, vertical ? 3 : 4, vertical ? 4 : 3, Filter("Triangle")), want))
            << (vertical ? "vertical" : "horizontal");
    }
}

// Box, 5 -> 3: output i = 0.5 p(2i - 1) + 0.5 p(2i), position -1 reflecting to index 1. Many
// rows (or columns) so that the vector loops do the work.
TEST(ResampleBitmap, BoxFiveToThreeWithReflection) {
    for (bool vertical : {false, true}) {
        const int across = vertical ? 41 : 19;
        const TBitmap src = Line({10, 20, 40, 80, 160}, vertical, across);
        const TBitmap want = Line({15, 30, 120}, vertical, across);
        EXPECT_TRUE(SamePixels(Resampled(src, vertical ? across : 3, vertical ? 3 : across, Filter("Box (Fastest)")), want))
            << (vertical ? "vertical" : "horizontal");
    }
}

// Sums of exactly 254.5, 0.5, 2.5 and 3.5 (Box 5 -> 3 averages two neighbours) are stored as
// 254, 0, 2 and 4, through every loop: horizontal, vertical block, vertical 8-byte and tail.
TEST(ResampleBitmap, HalfwaySumsRoundToEven) {
    const uint8_t firsts[][2] = {{254, 255}, {0, 1}, {2, 3}, {3, 4}};
    const uint8_t wants[] = {254, 0, 2, 4};
    for (bool vertical : {false, true}) {
        for (int t = 0; t < 4; ++t) {
            const int across = 43;  // 129 bytes a row: two 64-byte blocks and a scalar byte
            TBitmap src(vertical ? across : 5, vertical ? 5 : across, TPixelFormat::pf24bit);
            for (int a = 0; a < across; ++a)
                for (int k = 0; k < 5; ++k) {
                    const uint8_t v = k < 2 ? firsts[t][1 - k] : 0;  // p0 = first, p1 = second
                    SetPixelBytes(src, vertical ? a : k, vertical ? k : a, {v, v, v});
                }
            const TBitmap out = Resampled(src, vertical ? across : 3, vertical ? 3 : across, Filter("Box (Fastest)"));
            for (int a = 0; a < across; ++a) {
                const auto px = PixelAt(out, vertical ? a : 0, vertical ? 0 : a);
                ASSERT_EQ(px[0], wants[t]) << "sum " << (firsts[t][0] + firsts[t][1]) / 2.0 << " at " << a
                                           << (vertical ? " vertical" : " horizontal");
                ASSERT_EQ(px[2], wants[t]);
            }
        }
    }
}

TEST(ResampleBitmap, SameSizeKeepsPixelsOnlyForInterpolatingKernels) {
    const TBitmap src = NoiseBitmap(37, 23, 5);
    for (const FilterEntry& f : FilterTable) {
        const bool identity = f.kernel == BoxKernel || f.kernel == TriangleKernel || f.kernel == HermiteKernel ||
                              f.kernel == Lanczos3Kernel;
        const TBitmap out = Resampled(src, 37, 23, f);
        if (identity)
            EXPECT_TRUE(SamePixels(out, src)) << f.displayName;
        else
            EXPECT_NE(testsupport::FirstPixelDifference(out, src), -1) << f.displayName << " left noise unchanged";
    }
}

static double ChannelMean(const TBitmap& bmp, int channel) {
    double total = 0.0;
    for (int y = 0; y < bmp.Height(); ++y)
        for (int x = 0; x < bmp.Width(); ++x) total += bmp.ScanLine(y)[x * 3 + channel];
    return total / (double(bmp.Width()) * bmp.Height());
}

// Every filter at ratios whose taps do not fall evenly on the kernel: a flat picture stays
// flat, smoothing filters keep a noisy picture's mean, and the fast loops match the plain
// resampler.
TEST(ResampleBitmap, PropertiesAtUnevenRatios) {
    struct Case {
        const char* ratio;
        int sw, sh, dw, dh;
    };
    const Case cases[] = {
        {"3/4", 160, 120, 120, 90},   {"2/3", 150, 120, 100, 80},  {"1/3", 150, 120, 50, 40},
        {"0.37", 200, 100, 74, 37},   {"1.5", 80, 60, 120, 90},    {"3", 60, 40, 180, 120},
        {"odd down", 97, 61, 53, 29}, {"odd up", 37, 23, 101, 59}, {"down and up", 61, 97, 29, 150},
        {"halving", 201, 101, 101, 51},
    };
    // Each of 0, 128 and 255 in every channel, and an uneven value.
    const uint8_t flats[][3] = {{0, 128, 255}, {128, 255, 0}, {255, 0, 128}, {77, 77, 77}};
    for (const Case& c : cases) {
        const std::string where = std::string(c.ratio) + " (" + std::to_string(c.sw) + "x" + std::to_string(c.sh) +
                                  " -> " + std::to_string(c.dw) + "x" + std::to_string(c.dh) + ")";
        const TBitmap noise = NoiseBitmap(c.sw, c.sh, uint32_t(c.sw * 7 + c.dw));
        for (const FilterEntry& f : FilterTable) {
            for (const auto& rgb : flats) {
                const TColor colour = RGBColor(rgb[0], rgb[1], rgb[2]);
                TBitmap src(c.sw, c.sh, TPixelFormat::pf24bit);
                src.FillRect(Rect(0, 0, c.sw, c.sh), colour);
                TBitmap want(c.dw, c.dh, TPixelFormat::pf24bit);
                want.FillRect(Rect(0, 0, c.dw, c.dh), colour);
                const TBitmap out = Resampled(src, c.dw, c.dh, f);
                EXPECT_TRUE(SamePixels(out, want))
                    << f.displayName << " " << where << " flat " << int(rgb[0]) << "," << int(rgb[1]) << ","
                    << int(rgb[2]) << " did not stay flat";
            }
            const TBitmap out = Resampled(noise, c.dw, c.dh, f, {2, true});
            const bool negativeLobes = f.kernel == Lanczos3Kernel || f.kernel == MitchellKernel;
            for (int channel = 0; channel < 3 && !negativeLobes; ++channel)
                EXPECT_NEAR(ChannelMean(out, channel), ChannelMean(noise, channel), 1.0)
                    << f.displayName << " " << where << " channel " << channel;
            const TBitmap want = reference::Resample(noise, c.dw, c.dh, f.kernel, f.support);
            EXPECT_TRUE(SamePixels(out, want)) << f.displayName << " " << where << " wide, 2 threads";
            EXPECT_TRUE(SamePixels(Resampled(noise, c.dw, c.dh, f, {1, false}), want))
                << f.displayName << " " << where << " plain, 1 thread";
        }
    }
}

// The first and last target positions sit on the first and last source positions, so an
// interpolating kernel reproduces the corners exactly when enlarging.
TEST(ResampleBitmap, CornersLandOnCorners) {
    const TBitmap src = NoiseBitmap(11, 8, 9);
    for (const char* name : {"Box (Fastest)", "Triangle", "Hermite", "Lanczos3 (Best)"}) {
        const TBitmap out = Resampled(src, 40, 31, Filter(name));
        EXPECT_EQ(PixelAt(out, 0, 0), PixelAt(src, 0, 0)) << name;
        EXPECT_EQ(PixelAt(out, 39, 0), PixelAt(src, 10, 0)) << name;
        EXPECT_EQ(PixelAt(out, 0, 30), PixelAt(src, 0, 7)) << name;
        EXPECT_EQ(PixelAt(out, 39, 30), PixelAt(src, 10, 7)) << name;
    }
}

// A source one pixel wide uses scale DW / 1; Triangle spreads it unchanged.
TEST(ResampleBitmap, OnePixelSourceSpreads) {
    const TBitmap column = NoiseBitmap(1, 6, 3);
    const TBitmap out = Resampled(column, 9, 6, Filter("Triangle"));
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 9; ++x) ASSERT_EQ(PixelAt(out, x, y), PixelAt(column, 0, y)) << x << ", " << y;
    const TBitmap dot = NoiseBitmap(1, 1, 4);
    for (const FilterEntry& f : FilterTable) {
        if (f.kernel != TriangleKernel && f.kernel != BoxKernel) continue;
        const TBitmap big = Resampled(dot, 7, 5, f);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 7; ++x) ASSERT_EQ(PixelAt(big, x, y), PixelAt(dot, 0, 0)) << f.displayName;
    }
}

// Next to a hard edge Lanczos3 overshoots both ways; the stored bytes are clamped, not wrapped.
TEST(ResampleBitmap, LanczosOvershootIsClamped) {
    const std::vector<int> edge = {0, 0, 0, 0, 0, 255, 255, 255, 255, 255};
    const TBitmap src = Line(edge, false, 12);
    const FilterEntry& f = Filter("Lanczos3 (Best)");
    const int DW = 37;
    const TBitmap out = Resampled(src, DW, 12, f);
    const auto taps = reference::BuildTaps(reference::ScaleFactor(10, DW), 10, DW, f.kernel, f.support);
    bool above = false, below = false;
    for (int i = 0; i < DW; ++i) {
        float sum = 0.0f;
        for (const auto& tap : taps[i]) sum += float(edge[tap.index]) * tap.weight;
        const int have = PixelAt(out, i, 5)[0];
        if (sum > 255.0f) {
            above = true;
            EXPECT_EQ(have, 255) << "column " << i << " sum " << sum;
        } else if (sum < 0.0f) {
            below = true;
            EXPECT_EQ(have, 0) << "column " << i << " sum " << sum;
        } else {
            EXPECT_EQ(have, int(std::nearbyint(sum))) << "column " << i << " sum " << sum;
        }
    }
    EXPECT_TRUE(above && below) << "the edge should overshoot on both sides";
}

TEST(ResampleBitmap, SourceTooSmallChangesNothing) {
    for (auto [w, h] : {std::pair{0, 5}, std::pair{5, 0}, std::pair{0, 0}}) {
        TBitmap src(w, h, TPixelFormat::pf8bit);
        TBitmap target = NoiseBitmap(4, 4, 2);
        const TBitmap before = target;
        try {
            ResampleBitmap(src, target, BoxKernel, 0.5f);
            ADD_FAILURE() << w << "x" << h << " source was accepted";
        } catch (const EImbrixError& e) {
            EXPECT_STREQ(e.what(), "Source bitmap too small");
        }
        EXPECT_EQ(src.PixelFormat(), TPixelFormat::pf8bit);
        EXPECT_TRUE(SamePixels(target, before));
    }
}

TEST(ResampleBitmap, SingleColumnOrRowStandsForTheWholeSource) {
    // Box averages every source pixel of the line. Triangle weighs the middle most and reaches
    // past both ends, where positions reflect (the top end repeats the last pixel, so a ramp and
    // its mirror differ).
    struct Case {
        std::vector<int> values;
        const char* filter;
        int want;  // channel 0 of the single pixel
    };
    const Case cases[] = {
        {{10, 20, 30, 40}, "Box (Fastest)", 25},
        {{0, 0, 90}, "Box (Fastest)", 30},
        {{10, 200}, "Box (Fastest)", 105},
        {{10, 20, 30, 40, 50}, "Triangle", 31},
        {{50, 40, 30, 20, 10}, "Triangle", 29},
    };
    for (const Case& c : cases)
        for (bool vertical : {false, true}) {
            const TBitmap out = Resampled(Line(c.values, vertical, 2), vertical ? 2 : 1, vertical ? 1 : 2, Filter(c.filter));
            for (int k = 0; k < 2; ++k)
                EXPECT_EQ(PixelAt(out, vertical ? k : 0, vertical ? 0 : k)[0], c.want)
                    << c.filter << " of " << c.values.size() << (vertical ? " rows" : " columns");
        }
    // Every filter makes a 1 x 1 picture of a wider and taller one.
    const TBitmap noise = NoiseBitmap(7, 5, 11);
    for (const FilterEntry& f : FilterTable) EXPECT_NO_THROW(Resampled(noise, 1, 1, f)) << f.displayName;
}

TEST(ResampleBitmap, TargetErrorsComeBeforeAnyChange) {
    for (auto [w, h] : {std::pair{0, 3}, std::pair{3, 0}}) {
        TBitmap src = NoiseBitmap(3, 2, 1);
        TBitmap target(w, h, TPixelFormat::pf32bit);
        EXPECT_THROW(ResampleBitmap(src, target, TriangleKernel, 1.0f), EImbrixError) << w << "x" << h;
        EXPECT_EQ(target.PixelFormat(), TPixelFormat::pf32bit);
    }
    // A one-pixel target from a one-pixel source is scale 1, not an error.
    TBitmap dot = NoiseBitmap(1, 1, 8);
    TBitmap one(1, 1, TPixelFormat::pf24bit);
    ResampleBitmap(dot, one, TriangleKernel, 1.0f);
    EXPECT_TRUE(SamePixels(one, dot));
    // Nonsense filters are refused rather than run.
    EXPECT_THROW(ResampleBitmap(dot, one, nullptr, 1.0f), EImbrixError);
    EXPECT_THROW(ResampleBitmap(dot, one, TriangleKernel, std::nanf("")), EImbrixError);
    EXPECT_THROW(ResampleBitmap(dot, one, TriangleKernel, -1.0f), EImbrixError);
}

TEST(ResampleBitmap, ConvertsFormatsAndAllowsSameBitmap) {
    // An indexed source is converted to 24 bits in place and resampled as such.
    TBitmap indexed(9, 7, TPixelFormat::pf8bit);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x) indexed.SetRawPixel(x, y, uint32_t((x * 31 + y * 7) % 256));
    TBitmap as24 = indexed;
    as24.SetPixelFormat(TPixelFormat::pf24bit);
    TBitmap target(5, 12, TPixelFormat::pf32bit);
    ResampleBitmap(indexed, target, MitchellKernel, 2.0f);
    EXPECT_EQ(indexed.PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_EQ(target.PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_TRUE(SamePixels(target, reference::Resample(as24, 5, 12, MitchellKernel, 2.0f)));

    // Source and target may be the same bitmap, with any number of threads.
    for (int threads : {1, 3}) {
        TBitmap self = NoiseBitmap(30, 40, 6);
        const TBitmap want = reference::Resample(self, 30, 40, BSplineKernel, 2.0f);
        ResampleBitmap(self, self, BSplineKernel, 2.0f, {threads, true});
        EXPECT_TRUE(SamePixels(self, want)) << threads << " threads";
    }
}

// The fast resampler (any thread count, with or without wide vectors) against the plain one.
TEST(ResampleBitmap, MatchesReferenceByteForByte) {
    struct Case {
        int sw, sh, dw, dh;
    };
    const Case cases[] = {
        {1, 1, 1, 1},    {1, 1, 9, 4},     {1, 7, 6, 7},     {2, 2, 5, 3},      {2, 9, 13, 2},
        {5, 3, 3, 5},    {3, 1, 200, 1},   {23, 17, 61, 40}, {61, 40, 23, 17},  {100, 37, 37, 100},
        {333, 41, 97, 203}, {97, 203, 333, 41}, {90, 65, 2, 2}, {7, 300, 30, 9},
    };
    const ResampleOptions variants[] = {{0, true}, {1, true}, {3, true}, {2, false}};
    for (const Case& c : cases) {
        const TBitmap src = NoiseBitmap(c.sw, c.sh, uint32_t(c.sw * 1000 + c.sh));
        for (const FilterEntry& f : FilterTable) {
            const TBitmap want = reference::Resample(src, c.dw, c.dh, f.kernel, f.support);
            for (const ResampleOptions& o : variants)
                ASSERT_TRUE(SamePixels(Resampled(src, c.dw, c.dh, f, o), want))
                    << f.displayName << " " << c.sw << "x" << c.sh << " -> " << c.dw << "x" << c.dh << " threads "
                    << o.threads << (o.allowWideVectors ? " wide" : " plain");
        }
    }
}

// Padding of rows (stride beyond the pixels) must not leak into results, and pictures big
// enough for the automatic thread choice must come out the same as with one thread.
TEST(ResampleBitmap, LargePictureSameWithAnyThreadCount) {
    const TBitmap src = NoiseBitmap(601, 403, 17);
    const FilterEntry& f = Filter("Lanczos3 (Best)");
    const TBitmap one = Resampled(src, 299, 211, f, {1, true});
    EXPECT_TRUE(SamePixels(Resampled(src, 299, 211, f, {0, true}), one));
    EXPECT_TRUE(SamePixels(Resampled(src, 299, 211, f, {5, false}), one));
    EXPECT_TRUE(SamePixels(one, reference::Resample(src, 299, 211, f.kernel, f.support)));
}

// A very wide row shrunk to a few columns reads more columns per output than the fast loop's
// buffer holds; it takes the direct loop and still matches.
TEST(ResampleBitmap, VeryWideRowShrunkToFewColumns) {
    TBitmap src = NoiseBitmap(140001, 2, 21);
    for (const char* name : {"Box (Fastest)", "Triangle"}) {
        const FilterEntry& f = Filter(name);
        EXPECT_TRUE(SamePixels(Resampled(src, 3, 2, f), reference::Resample(src, 3, 2, f.kernel, f.support))) << name;
    }
    // The direct loop (Triangle reads every column for each pair of outputs here) needs no
    // column buffer, so the 13 MB such a buffer would take must not count against the limit.
    const FilterEntry& triangle = Filter("Triangle");
    TBitmap target(3, 2, TPixelFormat::pf24bit);
    {
        testsupport::LimitsGuard guard;
        CurrentPictureLimits().maxAllocation = 8 << 20;
        EXPECT_NO_THROW(ResampleBitmap(src, target, triangle.kernel, triangle.support));
    }
    EXPECT_TRUE(SamePixels(target, reference::Resample(src, 3, 2, triangle.kernel, triangle.support)));
}

// Mirrored sampling, for pictures stored turned: the mirror of resampling the mirrored source,
// byte for byte, for every filter, shrinking and enlarging, odd sizes, a single output.
TEST(ResampleBitmap, MirroredSamplingIsTheMirrorOfTheMirroredSource) {
    struct Case {
        int sw, sh, dw, dh;
    };
    const Case cases[] = {{97, 61, 48, 30}, {40, 27, 93, 55}, {31, 64, 1, 9}, {17, 5, 6, 1}, {301, 203, 150, 101}};
    auto mirror = [](const TBitmap& in, bool columns, bool rows) {
        TBitmap out(in.Width(), in.Height(), TPixelFormat::pf24bit);
        for (int y = 0; y < in.Height(); ++y)
            for (int x = 0; x < in.Width(); ++x)
                std::memcpy(out.ScanLine(y) + size_t(x) * 3,
                            in.ScanLine(rows ? in.Height() - 1 - y : y) +
                                size_t(columns ? in.Width() - 1 - x : x) * 3,
                            3);
        return out;
    };
    for (const Case& c : cases) {
        const TBitmap source = NoiseBitmap(c.sw, c.sh, uint32_t(c.sw * 7 + c.dh));
        for (const FilterEntry& f : FilterTable)
            for (const auto& [columns, rows] : {std::pair{true, false}, {false, true}, {true, true}}) {
                ResampleOptions options;
                options.mirrorColumns = columns;
                options.mirrorRows = rows;
                const TBitmap want = mirror(Resampled(mirror(source, columns, rows), c.dw, c.dh, f), columns, rows);
                EXPECT_TRUE(SamePixels(Resampled(source, c.dw, c.dh, f, options), want))
                    << f.displayName << " " << c.sw << "x" << c.sh << " -> " << c.dw << "x" << c.dh
                    << (columns ? " columns" : "") << (rows ? " rows" : "");
            }
    }
}
