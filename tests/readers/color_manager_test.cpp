#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "graphics/errors.h"
#include "readers/color_manager.h"
#include "readers/graphic_strings.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Conv {
    ColorScheme source = ColorScheme::RGB;
    ColorScheme target = ColorScheme::BGR;
    int sourceBits = 8;
    int targetBits = 8;
    TConvertOptions sourceOptions = 0;
    TConvertOptions targetOptions = 0;
};

void Apply(TColorManager& cm, const Conv& s) {
    cm.SetSourceScheme(s.source);
    cm.SetTargetScheme(s.target);
    cm.SetSourceBitsPerSample(s.sourceBits);
    cm.SetTargetBitsPerSample(s.targetBits);
    cm.SourceOptions = s.sourceOptions;
    cm.TargetOptions = s.targetOptions;
}

// Converts one interleaved row into a target of targetBytes bytes pre-filled with fill.
Bytes Convert(const Conv& s, const Bytes& source, size_t count, size_t targetBytes, uint8_t mask = 0xFF,
              uint8_t fill = 0xEE) {
    TColorManager cm;
    Apply(cm, s);
    Bytes target(targetBytes, fill);
    cm.ConvertScanline({source}, target, count, mask);
    return target;
}

Bytes BigEndian16(std::initializer_list<uint16_t> values) {
    Bytes out;
    for (uint16_t v : values) {
        out.push_back(uint8_t(v >> 8));
        out.push_back(uint8_t(v));
    }
    return out;
}

Bytes Host16(std::initializer_list<uint16_t> values) {
    Bytes out(values.size() * 2);
    size_t i = 0;
    for (uint16_t v : values) std::memcpy(out.data() + 2 * i++, &v, 2);
    return out;
}

template <class F>
std::string ErrorOf(F&& f) {
    try {
        f();
    } catch (const EColorConversionError& e) {
        return e.what();
    }
    return "(no EColorConversionError)";
}

}  // namespace

TEST(ColorManagerRGB, FourOrderRoutinesCopyOrExchange) {
    const Bytes src = {10, 20, 30, 40, 50, 60};
    struct Case {
        ColorScheme from, to;
        Bytes want;
    } cases[] = {
        {ColorScheme::RGB, ColorScheme::BGR, {30, 20, 10, 60, 50, 40}},
        {ColorScheme::RGB, ColorScheme::RGB, {10, 20, 30, 40, 50, 60}},
        {ColorScheme::BGR, ColorScheme::RGB, {30, 20, 10, 60, 50, 40}},
        {ColorScheme::BGR, ColorScheme::BGR, {10, 20, 30, 40, 50, 60}},
    };
    for (const Case& c : cases) {
        Conv s;
        s.source = c.from;
        s.target = c.to;
        EXPECT_EQ(Convert(s, src, 2, 6), c.want) << int(c.from) << " -> " << int(c.to);
    }
}

TEST(ColorManagerRGB, GammaAppliesToColourButNotAlpha) {
    TColorManager reference;
    const auto& g = reference.GammaTable();
    Conv s;
    s.source = ColorScheme::RGBA;
    s.target = ColorScheme::BGRA;
    s.targetOptions = ColorOption::ApplyGamma;
    EXPECT_EQ(Convert(s, {10, 20, 30, 128}, 1, 4), (Bytes{g[30], g[20], g[10], 128}));
}

TEST(ColorManagerRGB, AlphaStepsAndUntouchedAlphaByte) {
    Conv s;
    s.source = ColorScheme::RGBA;
    s.target = ColorScheme::BGR;
    EXPECT_EQ(Convert(s, {1, 2, 3, 99, 4, 5, 6, 98}, 2, 6), (Bytes{3, 2, 1, 6, 5, 4})) << "source alpha skipped";
    s.source = ColorScheme::RGB;
    s.target = ColorScheme::BGRA;
    EXPECT_EQ(Convert(s, {1, 2, 3, 4, 5, 6}, 2, 8, 0xFF, 0x77), (Bytes{3, 2, 1, 0x77, 6, 5, 4, 0x77}))
        << "target alpha without a source alpha is left alone";
}

TEST(ColorManagerRGB, SixteenBitSamplesReduceWithAndWithoutSwap) {
    Conv s;
    s.sourceBits = 16;
    s.source = ColorScheme::RGB;
    s.target = ColorScheme::RGB;
    EXPECT_EQ(Convert(s, Host16({0xFFFF, 0x8000, 0xFFFE}), 1, 3), (Bytes{255, 127, 254}));
    s.sourceOptions = ColorOption::ByteSwap;
    EXPECT_EQ(Convert(s, BigEndian16({0xFFFF, 0x8000, 0x0001}), 1, 3), (Bytes{255, 127, 0}))
        << "stored bytes 0x80 0x00 are read as 0x8000 with ByteSwap";
    s.sourceOptions = 0;
    EXPECT_EQ(Convert(s, BigEndian16({0x8000, 0x8000, 0x8000}), 1, 3), (Bytes{0, 0, 0}))
        << "without ByteSwap the same bytes are 0x0080";
}

TEST(ColorManagerRGB, SixteenBitTargetWidensAndSwaps) {
    Conv s;
    s.source = ColorScheme::RGBA;
    s.target = ColorScheme::RGBA;
    s.targetBits = 16;
    EXPECT_EQ(Convert(s, {255, 1, 0, 2}, 1, 8), Host16({0xFFFF, 257, 0, 514}));
    s.sourceOptions = ColorOption::ByteSwap;
    EXPECT_EQ(Convert(s, {255, 1, 0, 2}, 1, 8), BigEndian16({0xFFFF, 257, 0, 514}));
    // A 16-bit alpha keeps its stored bytes in a 16-bit target and is reduced for an 8-bit one.
    s.sourceBits = 16;
    EXPECT_EQ(Convert(s, BigEndian16({0xFFFF, 0, 0, 0x1234}), 1, 8), BigEndian16({0xFFFF, 0, 0, 0x1234}));
    s.targetBits = 8;
    EXPECT_EQ(Convert(s, BigEndian16({0xFFFF, 0, 0, 0x8000}), 1, 4), (Bytes{255, 0, 0, 127}));
}

TEST(ColorManagerRGB, PlanarSourcesWithAlphaPlane) {
    TColorManager cm;
    Apply(cm, Conv{ColorScheme::RGBA, ColorScheme::BGRA});
    const Bytes r = {1, 2}, g = {3, 4}, b = {5, 6}, a = {7, 8};
    Bytes target(8, 0);
    cm.ConvertScanline({r, g, b, a}, target, 2);
    EXPECT_EQ(target, (Bytes{5, 3, 1, 7, 6, 4, 2, 8}));
    EXPECT_THROW(cm.ConvertScanline({r, g, b}, target, 2), ERangeError) << "alpha plane missing";
}

TEST(ColorManagerRGB, OtherDepthsWriteNothing) {
    Conv s;
    s.sourceBits = 4;
    EXPECT_EQ(Convert(s, {}, 4, 12, 0xFF, 0x33), Bytes(12, 0x33));
}

TEST(ColorManagerMask, Mask55WritesOddPixelsFromConsecutiveSources) {
    // Packed 8-bit gray (not a block copy because of the mask).
    Conv gray{ColorScheme::Gray, ColorScheme::Gray};
    const Bytes src = {10, 11, 12, 13, 14, 15, 16, 17};
    Bytes want(16, 0xEE);
    for (int k = 0; k < 8; ++k) want[2 * k + 1] = uint8_t(10 + k);
    EXPECT_EQ(Convert(gray, src, 16, 16, 0x55), want);

    // Colour rows take the same walk; the mask rotates back to bit 7 after bit 0.
    Conv rgb;
    Bytes rgbSrc;
    for (int k = 0; k < 5; ++k) rgbSrc.insert(rgbSrc.end(), {uint8_t(k), uint8_t(k + 100), uint8_t(k + 200)});
    const Bytes out = Convert(rgb, rgbSrc, 10, 30, 0x55);
    for (int i = 0; i < 10; ++i) {
        const Bytes px(out.begin() + 3 * i, out.begin() + 3 * i + 3);
        if (i % 2 == 1) {
            const uint8_t k = uint8_t(i / 2);
            EXPECT_EQ(px, (Bytes{uint8_t(k + 200), uint8_t(k + 100), k})) << "pixel " << i;
        } else {
            EXPECT_EQ(px, Bytes(3, 0xEE)) << "pixel " << i << " must keep its contents";
        }
    }
}

TEST(ColorManagerIndexed, PackedDepthScaling) {
    Conv s{ColorScheme::Gray, ColorScheme::Gray, 1, 8};
    EXPECT_EQ(Convert(s, {0b10100000}, 4, 4), (Bytes{255, 0, 255, 0})) << "1-bit gray to 8 bits";
    s.sourceBits = 4;
    EXPECT_EQ(Convert(s, {0x0F, 0x71}, 4, 4), (Bytes{0, 255, 119, 17}));
    s = Conv{ColorScheme::Indexed, ColorScheme::Indexed, 8, 4};
    EXPECT_EQ(Convert(s, {255, 17, 34}, 3, 2, 0xFF, 0x00), (Bytes{0xF1, 0x20}));
    // Selected fields are written into their place, the other bits of the byte stay.
    s = Conv{ColorScheme::Indexed, ColorScheme::Indexed, 1, 1};
    EXPECT_EQ(Convert(s, {0b11000000}, 8, 1, 0x41, 0x00), (Bytes{0b01000001}));
    EXPECT_EQ(Convert(s, {0b00000000}, 8, 1, 0x41, 0xFF), (Bytes{0b10111110}));
    // Fields wider than a byte or straddling bytes (12-bit gray) are read MSB first.
    s = Conv{ColorScheme::Gray, ColorScheme::Gray, 12, 8};
    EXPECT_EQ(Convert(s, {0xFF, 0xF8, 0x00}, 2, 2), (Bytes{255, 127}));
    s = Conv{ColorScheme::Indexed, ColorScheme::Indexed, 8, 3};
    EXPECT_EQ(Convert(s, {255, 0, 255}, 3, 2, 0xFF, 0x00), (Bytes{0b11100011, 0b10000000}));
    // Equal depths with a full mask are a plain copy of the packed bytes.
    s = Conv{ColorScheme::Indexed, ColorScheme::Indexed, 4, 4};
    EXPECT_EQ(Convert(s, {0x12, 0x34}, 3, 2), (Bytes{0x12, 0x34}));
}

TEST(ColorManagerIndexed, SixteenBitIndexRoutines) {
    Conv s{ColorScheme::Indexed, ColorScheme::Indexed, 16, 16};
    EXPECT_EQ(Convert(s, BigEndian16({0x0102, 0xA0B0}), 2, 4), BigEndian16({0x0102, 0xA0B0}));
    s.sourceOptions = ColorOption::ByteSwap;
    EXPECT_EQ(Convert(s, BigEndian16({0x0102, 0xA0B0}), 2, 4), Host16({0x0102, 0xA0B0}));
    s.targetBits = 8;
    EXPECT_EQ(Convert(s, BigEndian16({0xFFFF, 0x8000, 0}), 3, 3), (Bytes{255, 127, 0}));
    s = Conv{ColorScheme::Indexed, ColorScheme::Indexed, 2, 16};
    EXPECT_EQ(Convert(s, {0b11100100}, 4, 8), Host16({65535, 43690, 21845, 0}));
}

TEST(ColorManagerGray, SixteenBitGrayAndGrayAlpha) {
    Conv s{ColorScheme::Gray, ColorScheme::Gray, 16, 8, ColorOption::ByteSwap};
    EXPECT_EQ(Convert(s, BigEndian16({0xFFFF, 0x8000}), 2, 2), (Bytes{255, 127}));
    s.targetBits = 16;
    EXPECT_EQ(Convert(s, BigEndian16({0x1234}), 1, 2), Host16({0x1234}));
    s = Conv{ColorScheme::GrayAlpha, ColorScheme::Indexed, 8, 8};
    EXPECT_EQ(Convert(s, {10, 200, 20, 201, 30, 202}, 3, 3), (Bytes{10, 20, 30})) << "alpha dropped";
    s.targetBits = 16;
    EXPECT_EQ(Convert(s, {255, 0}, 1, 2), Host16({0xFFFF}));
}

TEST(ColorManagerCMYK, WhiteBlackAndCyan) {
    Conv s{ColorScheme::CMYK, ColorScheme::BGR};
    EXPECT_EQ(Convert(s, {0, 0, 0, 0, 0, 0, 0, 255, 255, 0, 0, 0}, 3, 9),
              (Bytes{255, 255, 255, 0, 0, 0, 255, 255, 0}));
    s.target = ColorScheme::RGB;
    EXPECT_EQ(Convert(s, {255, 0, 0, 0}, 1, 3), (Bytes{0, 255, 255}));
    // Half K over half C: 255 - (128 - 128*128/255 + 128) = 63 for red, 127 otherwise.
    EXPECT_EQ(Convert(s, {128, 0, 0, 128}, 1, 3), (Bytes{63, 127, 127}));

    s.sourceBits = 16;
    s.sourceOptions = ColorOption::ByteSwap;
    EXPECT_EQ(Convert(s, BigEndian16({0xFFFF, 0, 0, 0}), 1, 3), (Bytes{0, 255, 255}));

    TColorManager cm;
    Apply(cm, Conv{ColorScheme::CMYK, ColorScheme::BGRA});
    const Bytes c = {255}, m = {0}, y = {0}, k = {0};
    Bytes target(4, 0x42);
    cm.ConvertScanline({c, m, y, k}, target, 1);
    EXPECT_EQ(target, (Bytes{255, 255, 0, 0x42})) << "four planes; alpha byte skipped";
}

TEST(ColorManagerLab, BlackWhiteAndStorageOptions) {
    Conv s{ColorScheme::CIELab, ColorScheme::BGR};
    EXPECT_EQ(Convert(s, {0, 0, 0}, 1, 3), (Bytes{0, 0, 0}));
    EXPECT_EQ(Convert(s, {100, 0, 0}, 1, 3), (Bytes{255, 255, 255}));
    s.sourceOptions = ColorOption::LabLightnessScaled | ColorOption::LabChromaOffset;
    EXPECT_EQ(Convert(s, {255, 128, 128}, 1, 3), (Bytes{255, 255, 255}));
    EXPECT_EQ(Convert(s, {0, 128, 128}, 1, 3), (Bytes{0, 0, 0}));
    // 16-bit samples cover the same ranges: L* 65535 is white, 32768 is the chroma zero.
    s.sourceBits = 16;
    s.sourceOptions = ColorOption::LabLightnessScaled | ColorOption::LabChromaOffset | ColorOption::ByteSwap;
    EXPECT_EQ(Convert(s, BigEndian16({0xFFFF, 0x8000, 0x8000}), 1, 3), (Bytes{255, 255, 255}));
    EXPECT_EQ(Convert(s, BigEndian16({0, 0x8000, 0x8000}), 1, 3), (Bytes{0, 0, 0}));
    const Bytes mid = Convert(s, BigEndian16({0x8000, 0x8000, 0x8000}), 1, 3);
    EXPECT_EQ(mid[0], mid[2]) << "neutral stays neutral";
    EXPECT_GT(mid[1], 40);
    EXPECT_LT(mid[1], 80) << "L* 50 is a dark-middle gray in this linear conversion";
}

TEST(ColorManagerYCbCr, GrayRedAndPhotoYCCTables) {
    Conv s{ColorScheme::YCbCr, ColorScheme::BGR};
    EXPECT_EQ(Convert(s, {128, 128, 128}, 1, 3), (Bytes{128, 128, 128}));
    // BT.601 red: Y 76, Cb 85, Cr 255.
    s.target = ColorScheme::RGB;
    EXPECT_EQ(Convert(s, {76, 85, 255}, 1, 3), (Bytes{254, 0, 0}));

    TColorManager cm;
    Apply(cm, Conv{ColorScheme::PhotoYCC, ColorScheme::BGR});
    cm.ChooseRowConverter();
    EXPECT_EQ(cm.CrToRed()[137], 0);
    EXPECT_EQ(cm.CbToBlue()[156], 0);
    EXPECT_EQ(cm.CrToRed()[138], 1) << "f1 = 2 - 2 x 0.299 rounds 1.402 to 1";

    // New coefficients take effect on the next row.
    TColorManager luma;
    Apply(luma, Conv{ColorScheme::YCbCr, ColorScheme::BGR});
    Bytes target(3);
    luma.ConvertScanline({Bytes{100, 128, 208}}, target, 1);
    EXPECT_EQ(target[2], 100 + 112) << "red with Kr 0.299: 1.402 x 80";
    const float rec709[] = {0.2125f, 0.7154f, 0.0721f};
    luma.SetLumaChromaParameters(rec709, 2, 2);
    luma.ConvertScanline({Bytes{100, 128, 208}}, target, 1);
    EXPECT_EQ(target[2], 100 + 126) << "red with Kr 0.2125: 1.575 x 80";
}

TEST(ColorManagerErrors, SettersRejectAndKeepOldValues) {
    TColorManager cm;
    for (int bad : {0, 17, -1, 300}) {
        EXPECT_EQ(ErrorOf([&] { cm.SetSourceBitsPerSample(bad); }), gesInvalidColorDepth) << bad;
        EXPECT_EQ(ErrorOf([&] { cm.SetTargetBitsPerSample(bad); }), gesInvalidColorDepth) << bad;
    }
    for (int bad : {0, 5, 256}) {
        EXPECT_EQ(ErrorOf([&] { cm.SetSourceSamplesPerPixel(bad); }), gesInvalidSampleCount) << bad;
        EXPECT_EQ(ErrorOf([&] { cm.SetTargetSamplesPerPixel(bad); }), gesInvalidSampleCount) << bad;
    }
    EXPECT_EQ(cm.SourceBitsPerSample(), 8);
    EXPECT_EQ(cm.TargetBitsPerSample(), 8);
    EXPECT_EQ(cm.SourceSamplesPerPixel(), 3);
    EXPECT_EQ(cm.TargetSamplesPerPixel(), 3);
    EXPECT_NO_THROW(cm.SetSourceBitsPerSample(12)) << "any depth 1..16 is accepted";
}

TEST(ColorManagerErrors, RoutineChoiceFailures) {
    TColorManager cm;
    Apply(cm, Conv{ColorScheme::Indexed, ColorScheme::BGR});
    Bytes target(3);
    for (int attempt = 0; attempt < 2; ++attempt)
        EXPECT_EQ(ErrorOf([&] { cm.ConvertScanline({Bytes{1}}, target, 1); }), gesIndexedNotSupported)
            << "attempt " << attempt;
    Apply(cm, Conv{ColorScheme::CMY, ColorScheme::BGR});
    EXPECT_EQ(ErrorOf([&] { cm.ConvertScanline({Bytes{1, 2, 3}}, target, 1); }), gesConversionUnsupported);
    Apply(cm, Conv{ColorScheme::Gray, ColorScheme::Gray, 4, 16});
    EXPECT_EQ(ErrorOf([&] { cm.ConvertScanline({Bytes{1}}, target, 1); }), gesConversionUnsupported)
        << "a 4-bit gray source has no 16-bit routine";
}

TEST(ColorManagerErrors, SubsamplingChecksRunInOrder) {
    TColorManager cm;
    const float coefficients[] = {0.25f, 0.5f};
    EXPECT_EQ(ErrorOf([&] { cm.SetLumaChromaParameters(coefficients, 2, 4); }), gesVerticalSubSamplingError);
    EXPECT_EQ(cm.YCbCrCoefficients()[0], 0.25f) << "coefficients are stored before the checks";
    EXPECT_EQ(cm.YCbCrCoefficients()[2], 0.114f) << "a coefficient not given stays";
    EXPECT_EQ(ErrorOf([&] { cm.SetLumaChromaParameters(coefficients, 3, 1); }), gesInvalidSubSampling);
    EXPECT_EQ(ErrorOf([&] { cm.SetLumaChromaParameters(coefficients, 4, 0); }), gesInvalidSubSampling);
    EXPECT_EQ(cm.HorizontalSubsampling(), 1);
    cm.SetLumaChromaParameters(coefficients, 4, 2);
    EXPECT_EQ(cm.HorizontalSubsampling(), 4);
    EXPECT_EQ(cm.VerticalSubsampling(), 2);
}

TEST(ColorManagerGamma, DefaultTableAndReplacedValues) {
    TColorManager cm;
    EXPECT_EQ(cm.GammaTable()[128], 186);
    EXPECT_EQ(cm.GammaTable()[0], 0);
    EXPECT_EQ(cm.GammaTable()[255], 255);
    cm.SetGammaValues(0, -3);
    EXPECT_EQ(cm.MainGamma(), 1.0f);
    EXPECT_EQ(cm.DisplayGamma(), 2.2f);
    EXPECT_EQ(cm.GammaTable()[128], 186);
    // The table always maps 8-bit values to 8-bit values, also for low-depth settings
    // (palettes and gray levels of 4-bit pictures go through it).
    cm.SetSourceBitsPerSample(4);
    cm.SetTargetBitsPerSample(4);
    cm.SetGammaValues(1.0f, 1.0f);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(cm.GammaTable()[i], i) << "identity gamma at " << i;
    cm.SetTargetBitsPerSample(16);
    cm.SetGammaValues(0.5f, 1.0f);
    EXPECT_EQ(cm.GammaTable()[255], 255);
    EXPECT_EQ(cm.GammaTable()[128], 64) << "(128/255)^2 x 255 = 64.25";
}

TEST(ColorManagerFormats, BitmapFormatFor) {
    struct Case {
        int bits, samples;
        TPixelFormat want;
    } cases[] = {
        {1, 1, TPixelFormat::pf1bit},  {2, 1, TPixelFormat::pf4bit},   {4, 1, TPixelFormat::pf4bit},
        {5, 1, TPixelFormat::pfCustom}, {8, 1, TPixelFormat::pf8bit},  {16, 1, TPixelFormat::pf8bit},
        {5, 3, TPixelFormat::pf15bit}, {8, 3, TPixelFormat::pf24bit},  {16, 3, TPixelFormat::pf24bit},
        {8, 4, TPixelFormat::pf32bit}, {4, 4, TPixelFormat::pfCustom}, {8, 2, TPixelFormat::pfCustom},
    };
    for (const Case& c : cases) {
        TColorManager cm;
        cm.SetTargetBitsPerSample(c.bits);
        cm.SetTargetSamplesPerPixel(c.samples);
        EXPECT_EQ(cm.BitmapFormatFor(TConversionSide::Target), c.want) << c.bits << " x " << c.samples;
    }
}

TEST(ColorManagerPalette, LayoutsAndOrders) {
    TColorManager cm;
    auto quad = [](uint8_t r, uint8_t g, uint8_t b) { return TRGBQuad{b, g, r, 0}; };
    EXPECT_EQ(cm.BuildColorPalette({Bytes{1, 2, 3, 4, 5, 6}}, PaletteLayout::Interleaved8Triples, 2, false),
              (std::vector<TRGBQuad>{quad(1, 2, 3), quad(4, 5, 6)}));
    EXPECT_EQ(cm.BuildColorPalette({Bytes{1, 2, 3, 9, 4, 5, 6, 9}}, PaletteLayout::Interleaved8Quads, 2, true),
              (std::vector<TRGBQuad>{quad(3, 2, 1), quad(6, 5, 4)}));
    const Bytes r = {1, 4}, g = {2, 5}, b = {3, 6};
    EXPECT_EQ(cm.BuildColorPalette({r, g, b}, PaletteLayout::Planar8, 2, true),
              (std::vector<TRGBQuad>{quad(1, 2, 3), quad(4, 5, 6)}))
        << "planar layouts ignore bgrOrder";
    cm.SourceOptions = ColorOption::ByteSwap;
    EXPECT_EQ(cm.BuildColorPalette({BigEndian16({0xFFFF, 0x8000, 0})}, PaletteLayout::Interleaved16Triples, 1, false),
              (std::vector<TRGBQuad>{quad(255, 127, 0)}));
    cm.TargetOptions = ColorOption::ApplyGamma;
    EXPECT_EQ(cm.BuildColorPalette({Bytes{128, 0, 255}}, PaletteLayout::Interleaved8Triples, 1, false),
              (std::vector<TRGBQuad>{quad(186, 0, 255)}));
    EXPECT_EQ(cm.BuildColorPalette({Bytes(3000, 7)}, PaletteLayout::Interleaved8Triples, 1000, false).size(), 256u);
    EXPECT_THROW(cm.BuildColorPalette({Bytes{1, 2, 3}}, PaletteLayout::Interleaved8Triples, 2, false), ERangeError)
        << "palette data shorter than its count";
    EXPECT_THROW(cm.BuildColorPalette({r, g}, PaletteLayout::Planar8, 2, false), ERangeError);
}

TEST(ColorManagerPalette, RespreadsToTheTargetIndexRange) {
    TColorManager cm;
    // 2-bit source indices shown as 4-bit: index 5v holds colour v.
    cm.SetSourceBitsPerSample(2);
    cm.SetTargetBitsPerSample(4);
    const Bytes four = {0, 0, 0, 10, 10, 10, 20, 20, 20, 30, 30, 30};
    auto up = cm.BuildColorPalette({four}, PaletteLayout::Interleaved8Triples, 4, false);
    ASSERT_EQ(up.size(), 16u);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(up[i].rgbRed, 10 * (i * 3 / 15)) << "entry " << i;

    // 8-bit source shown as 4-bit: entry i takes colour 17 i.
    cm.SetSourceBitsPerSample(8);
    Bytes ramp;
    for (int i = 0; i < 256; ++i) ramp.insert(ramp.end(), {uint8_t(i), uint8_t(255 - i), 0});
    auto down = cm.BuildColorPalette({ramp}, PaletteLayout::Interleaved8Triples, 256, false);
    ASSERT_EQ(down.size(), 16u);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(down[i].rgbRed, 17 * i) << "entry " << i;

    // A 16-bit palette picture shown with 8-bit indices: entry i is colour 257 i, beyond the
    // first 256 entries of the map.
    cm.SetSourceBitsPerSample(16);
    cm.SetTargetBitsPerSample(8);
    Bytes reds(65536 * 2), zeros(65536 * 2, 0);
    for (size_t i = 0; i < 65536; ++i) {
        const uint16_t v = static_cast<uint16_t>(i);
        std::memcpy(reds.data() + 2 * i, &v, 2);
    }
    cm.SourceOptions = 0;
    auto wide = cm.BuildColorPalette({reds, zeros, zeros}, PaletteLayout::Planar16, 65536, false);
    ASSERT_EQ(wide.size(), 256u);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(wide[i].rgbRed, i) << "entry " << i;
    // Entries the map does not have come out black.
    auto shortMap = cm.BuildColorPalette({reds, zeros, zeros}, PaletteLayout::Planar16, 600, false);
    EXPECT_EQ(shortMap[2].rgbRed, 2);
    EXPECT_EQ(shortMap[3].rgbRed, 0) << "colour 771 is not in a 600-entry map";
}

TEST(ColorManagerPalette, GrayPalettes) {
    TColorManager cm;
    cm.SetTargetBitsPerSample(1);
    cm.SetTargetSamplesPerPixel(1);
    EXPECT_EQ(cm.BuildGrayPalette(false), (std::vector<TRGBQuad>{{0, 0, 0, 0}, {255, 255, 255, 0}}));
    EXPECT_EQ(cm.BuildGrayPalette(true), (std::vector<TRGBQuad>{{255, 255, 255, 0}, {0, 0, 0, 0}}));
    cm.SetTargetBitsPerSample(4);
    auto sixteen = cm.BuildGrayPalette(false);
    ASSERT_EQ(sixteen.size(), 16u);
    EXPECT_EQ(sixteen[1].rgbGreen, 17);
    EXPECT_EQ(sixteen[15].rgbRed, 255);
    cm.SetTargetBitsPerSample(16);
    auto full = cm.BuildGrayPalette(false);
    ASSERT_EQ(full.size(), 256u);
    EXPECT_EQ(full[128].rgbRed, 128);
    cm.TargetOptions = ColorOption::ApplyGamma;
    EXPECT_EQ(cm.BuildGrayPalette(false)[128].rgbBlue, 186);
    EXPECT_EQ(cm.BuildGrayPalette(true)[127].rgbBlue, 186);
}

TEST(ColorManagerSafety, ShortBuffersAreRefusedBeforeAnyWrite) {
    TColorManager cm;
    Bytes target(5, 0x11);
    EXPECT_THROW(cm.ConvertScanline({Bytes{1, 2, 3, 4, 5, 6}}, target, 2), ERangeError) << "target 5 < 6";
    EXPECT_EQ(target, Bytes(5, 0x11));
    target.assign(6, 0x11);
    EXPECT_THROW(cm.ConvertScanline({Bytes{1, 2, 3, 4, 5}}, target, 2), ERangeError) << "source 5 < 6";
    EXPECT_EQ(target, Bytes(6, 0x11));
    // With a mask only the selected pixels need source data.
    EXPECT_NO_THROW(cm.ConvertScanline({Bytes{1, 2, 3}}, target, 2, 0x80));
    EXPECT_THROW(cm.ConvertScanline(TColorManager::TSourceRows{}, target, 2), ERangeError) << "no source row";
    EXPECT_THROW(cm.ConvertScanline({Bytes{1}}, target, SIZE_MAX / 2), ERangeError) << "absurd count";

    // Empty rows (null data) are fine for every block-copy path (found by fuzzing).
    for (int bits : {8, 16}) {
        TColorManager copy;
        Apply(copy, Conv{ColorScheme::Indexed, ColorScheme::Indexed, bits, bits});
        EXPECT_NO_THROW(copy.ConvertScanline({std::span<const uint8_t>{}}, std::span<uint8_t>{}, 0)) << bits;
    }
}

// Random settings, counts and masks with buffers of exactly the announced sizes plus guard
// bytes: no routine may write past its target (and, under AddressSanitizer, read past its
// sources).
TEST(ColorManagerSafety, RandomSettingsStayInsideTheirBuffers) {
    std::mt19937 rng(20261208);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    int converted = 0;
    for (int round = 0; round < 6000; ++round) {
        TColorManager cm;
        cm.SetSourceScheme(static_cast<ColorScheme>(pick(0, 13)));
        cm.SetTargetScheme(static_cast<ColorScheme>(pick(0, 13)));
        cm.SetSourceBitsPerSample(pick(0, 3) == 0 ? pick(1, 16) : (pick(0, 1) ? 8 : 16));
        cm.SetTargetBitsPerSample(pick(0, 3) == 0 ? pick(1, 16) : (pick(0, 1) ? 8 : 16));
        cm.SourceOptions = static_cast<uint8_t>(pick(0, 255));
        cm.TargetOptions = static_cast<uint8_t>(pick(0, 255));
        const size_t count = static_cast<size_t>(pick(0, 40));
        const uint8_t mask = static_cast<uint8_t>(pick(0, 3) == 0 ? pick(0, 255) : 255);
        const size_t planes = static_cast<size_t>(pick(1, 4));
        size_t sourceBytes = 0, targetBytes = 0;
        try {
            sourceBytes = cm.RequiredSourceBytes(count, mask, planes);
            targetBytes = cm.RequiredTargetBytes(count);
        } catch (const EColorConversionError&) {
            continue;
        }
        std::vector<Bytes> storage;
        for (size_t p = 0; p < planes; ++p) {
            Bytes plane(sourceBytes);
            for (auto& b : plane) b = static_cast<uint8_t>(pick(0, 255));
            storage.push_back(std::move(plane));
        }
        std::vector<std::span<const uint8_t>> rows(storage.begin(), storage.end());
        Bytes target(targetBytes + 16, 0xA5);
        try {
            cm.ConvertScanline(rows, std::span<uint8_t>(target.data(), targetBytes), count, mask);
            ++converted;
        } catch (const EColorConversionError&) {
            continue;
        } catch (const ERangeError&) {
            continue;  // e.g. planar colour data with too few planes
        }
        for (size_t k = targetBytes; k < target.size(); ++k)
            ASSERT_EQ(target[k], 0xA5) << "wrote past the target, round " << round;
    }
    EXPECT_GT(converted, 500) << "too few random settings were convertible to mean anything";
}
