#include <gtest/gtest.h>

#include <string>

#include "graphics/errors.h"
#include "graphics/picture.h"
#include "graphics/platform_graphics.h"
#include "graphics/stream.h"
#include "tests/graphics/bmp_builder.h"
#include "tests/support/test_support.h"

using namespace testbmp;

namespace {

// One icon image: the DIB with its doubled height, XOR rows, then the 1-bit AND rows.
std::vector<uint8_t> IconImage(int width, int height, uint16_t bits, std::vector<TRGBQuad> palette,
                               std::vector<uint8_t> xorRows, const std::vector<uint8_t>& andRows) {
    DibSpec s;
    s.width = width;
    s.height = 2 * height;
    s.bitCount = bits;
    s.palette = std::move(palette);
    s.pixels = std::move(xorRows);
    s.pixels.insert(s.pixels.end(), andRows.begin(), andRows.end());
    return BuildDib(s);
}

// Rows of one repeated byte value, padded to 4 bytes.
std::vector<uint8_t> Rows(int height, size_t bytesPerRow, uint8_t value) {
    std::vector<uint8_t> out;
    for (int y = 0; y < height; ++y) {
        out.insert(out.end(), bytesPerRow, value);
        out.insert(out.end(), (4 - bytesPerRow % 4) % 4, 0);
    }
    return out;
}

std::vector<uint8_t> BuildIco(const std::vector<std::vector<uint8_t>>& images, uint16_t type = 1) {
    ByteWriter w;
    w.u16le(0);
    w.u16le(type);
    w.u16le(static_cast<uint16_t>(images.size()));
    uint32_t offset = static_cast<uint32_t>(6 + 16 * images.size());
    for (const auto& image : images) {
        w.fill(0, 8);  // the directory's sizes and depth, which the reader does not trust
        w.u32le(static_cast<uint32_t>(image.size()));
        w.u32le(offset);
        offset += static_cast<uint32_t>(image.size());
    }
    for (const auto& image : images) w.bytes(image);
    return w.take();
}

const std::vector<uint8_t> kPngImage = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};

TIcon Read(const std::vector<uint8_t>& file) {
    TMemoryStream stream(file);
    TIcon icon;
    icon.ReadPicture(stream);
    return icon;
}

std::string ErrorOf(const std::vector<uint8_t>& file) {
    try {
        Read(file);
    } catch (const EImbrixError& e) {
        return e.what();
    }
    return "(loaded)";
}

const std::vector<TRGBQuad> kPalette16 = {Quad(255, 0, 0), Quad(0, 255, 0), Quad(0, 0, 255), Quad(9, 9, 9),
                                          {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}};

}  // namespace

TEST(Icon, ChoosesTheLargestThenTheDeepestImage) {
    std::vector<TRGBQuad> palette256 = kPalette16;
    palette256.resize(256);
    const std::vector<uint8_t> noMask4 = Rows(4, 1, 0);
    const TIcon icon = Read(BuildIco({
        IconImage(2, 2, 4, kPalette16, Rows(2, 1, 0x00), Rows(2, 1, 0)),         // small, red
        IconImage(4, 4, 4, kPalette16, Rows(4, 2, 0x11), noMask4),               // 4 x 4, 4 bits, green
        IconImage(4, 4, 8, palette256, Rows(4, 4, 2), noMask4),                  // 4 x 4, 8 bits, blue
        IconImage(3, 3, 24, {}, Rows(3, 9, 0x40), Rows(3, 1, 0)),                // deep but smaller
    }));
    ASSERT_EQ(icon.Width(), 4);
    ASSERT_EQ(icon.Height(), 4);
    EXPECT_EQ(icon.PixelFormat(), TPixelFormat::pf8bit) << "no masked pixel: stays indexed";
    EXPECT_EQ(icon.Pixel(3, 3), RGBColor(0, 0, 255));
}

TEST(Icon, MaskedPixelsShowWhite) {
    // 2 x 2, 24 bits, black; the AND mask hides the right column of the top row.
    TIcon icon = Read(BuildIco({IconImage(2, 2, 24, {}, Rows(2, 6, 0), {0x00, 0, 0, 0, 0x40, 0, 0, 0})}));
    EXPECT_TRUE(icon.AlphaMeaningful);
    EXPECT_EQ(Row(Flatten(icon), 0), "000000 FFFFFF");
    EXPECT_EQ(Row(Flatten(icon), 1), "000000 000000");

    // 32 bits with real alpha: alpha decides, the mask is not needed.
    std::vector<uint8_t> pixels = {0, 0, 255, 255, 0, 0, 255, 0};
    TIcon alpha = Read(BuildIco({IconImage(2, 1, 32, {}, pixels, {0, 0, 0, 0})}));
    EXPECT_TRUE(alpha.AlphaMeaningful);
    EXPECT_EQ(Row(Flatten(alpha), 0), "FF0000 FFFFFF");

    // 32 bits whose alpha is all zero: the mask decides.
    pixels[3] = 0;
    TIcon zeroAlpha = Read(BuildIco({IconImage(2, 1, 32, {}, pixels, {0x80, 0, 0, 0})}));
    EXPECT_EQ(Row(Flatten(zeroAlpha), 0), "FFFFFF FF0000");

    // No AND mask at all: opaque.
    DibSpec bare;
    bare.width = 1;
    bare.height = 2;
    bare.pixels = {0, 0, 200, 0};
    TIcon opaque = Read(BuildIco({BuildDib(bare)}));
    EXPECT_FALSE(opaque.AlphaMeaningful);
    EXPECT_EQ(Row(Flatten(opaque), 0), "C80000");
}

TEST(Icon, PngImagesAreRefusedUnlessAnotherImageCanBeShown) {
    const std::string message = ErrorOf(BuildIco({kPngImage}));
    EXPECT_NE(message.find("PNG"), std::string::npos) << message;
    EXPECT_NE(message.find("not supported yet"), std::string::npos) << message;

    const TIcon icon = Read(BuildIco({kPngImage, IconImage(1, 1, 24, {}, {1, 2, 3, 0}, {0, 0, 0, 0})}));
    EXPECT_EQ(icon.Width(), 1);
    EXPECT_EQ(icon.Pixel(0, 0), RGBColor(3, 2, 1));
}

TEST(Icon, BrokenFilesFailCleanly) {
    const std::vector<uint8_t> good = IconImage(1, 1, 24, {}, {1, 2, 3, 0}, {0, 0, 0, 0});
    EXPECT_EQ(ErrorOf(BuildIco({good}, 3)), "Not a Windows icon file");
    EXPECT_EQ(ErrorOf(BuildIco({})), "Not a Windows icon file");
    std::vector<uint8_t> truncated = BuildIco({good, good});
    truncated.resize(20);
    EXPECT_EQ(ErrorOf(truncated), "Stream read error");

    std::vector<uint8_t> pastEnd = BuildIco({good});
    pastEnd[18] = 0xFF;  // image offset far beyond the file
    pastEnd[19] = 0xFF;
    EXPECT_EQ(ErrorOf(pastEnd), "The icon file holds no image");

    std::vector<uint8_t> badHeader = good;
    badHeader[0] = 99;
    EXPECT_EQ(ErrorOf(BuildIco({badHeader})), "Unsupported bitmap header size (99 bytes)");

    std::vector<uint8_t> shortPixels = good;
    shortPixels.resize(good.size() - 6);  // XOR rows cut
    EXPECT_EQ(ErrorOf(BuildIco({shortPixels})), "Stream read error");

    // A damaged entry gives way to the next best one.
    std::vector<uint8_t> bigButCut = IconImage(8, 8, 24, {}, Rows(8, 24, 0x40), Rows(8, 1, 0));
    bigButCut.resize(bigButCut.size() / 2);
    std::vector<uint8_t> fallback = BuildIco({bigButCut, good});
    const TIcon icon = Read(fallback);
    EXPECT_EQ(icon.Width(), 1);
    EXPECT_EQ(icon.Pixel(0, 0), RGBColor(3, 2, 1));

    DibSpec huge;
    huge.width = 70000;
    huge.height = 140000;
    EXPECT_NE(ErrorOf(BuildIco({BuildDib(huge)})).find("too large"), std::string::npos);
}

TEST(Icon, LoadsThroughThePictureTableAndKeepsTheListener) {
    testsupport::TempDir dir;
    const std::string path = dir.file("app.ICO");
    testsupport::WriteFile(path, BuildIco({IconImage(1, 1, 24, {}, {1, 2, 3, 0}, {0, 0, 0, 0})}));
    TPicture picture;
    bool listened = false;
    picture.OnProgress = [&](TGraphic&, TProgressStage, uint8_t, const TRect&, const std::string&) { listened = true; };
    picture.LoadPictureFile(path);
    ASSERT_NE(picture.Graphic(), nullptr);
    EXPECT_EQ(picture.Graphic()->ClassType(), &TIcon::ClassInfo);
    EXPECT_TRUE(bool(picture.Graphic()->OnProgress));
    EXPECT_FALSE(picture.Graphic()->CanWrite());
}

TEST(Icon, MatchesImageMagickOnAnIconItWrote) {
    if (!testsupport::HaveProgram("/usr/bin/convert")) GTEST_SKIP() << "ImageMagick not installed";
    testsupport::TempDir dir;
    const std::string ico = dir.file("drawn.ico"), raw = dir.file("drawn.rgb");
    // Antialiased edges give partly transparent pixels; two sizes exercise the choice.
    ASSERT_EQ(testsupport::RunCommand("/usr/bin/convert -size 24x20 xc:none -fill 'rgb(10,200,30)' -draw "
                                      "'circle 12,10 12,2' -fill blue -draw 'rectangle 0,0 5,5' "
                                      "-define icon:auto-resize=16,24 " + ico + " 2>/dev/null"),
              0);
    ASSERT_EQ(testsupport::RunCommand("/usr/bin/convert '" + ico + "[1]' -background white -flatten -depth 8 rgb:" +
                                      raw + " 2>/dev/null"),
              0);
    TIcon icon;
    icon.ReadPictureFile(ico);
    ASSERT_EQ(icon.Width(), 24);
    const std::vector<uint8_t> expected = testsupport::ReadFile(raw);
    ASSERT_EQ(expected.size(), size_t(icon.Width()) * icon.Height() * 3);
    TBitmap shown(icon.Width(), icon.Height(), TPixelFormat::pf24bit);
    icon.Draw(shown, Rect(0, 0, icon.Width(), icon.Height()));
    for (int y = 0; y < shown.Height(); ++y)
        for (int x = 0; x < shown.Width(); ++x) {
            const uint8_t* p = &expected[(size_t(y) * shown.Width() + x) * 3];
            const TColor c = shown.Pixel(x, y);
            // Blending may round the other way on the partly transparent edge.
            ASSERT_LE(std::abs(int(GetRValue(c)) - p[0]), 1) << "red at " << x << "," << y;
            ASSERT_LE(std::abs(int(GetGValue(c)) - p[1]), 1) << "green at " << x << "," << y;
            ASSERT_LE(std::abs(int(GetBValue(c)) - p[2]), 1) << "blue at " << x << "," << y;
        }
}
