#include <gtest/gtest.h>

#include <string>

#include "graphics/bitmap.h"
#include "graphics/errors.h"
#include "graphics/size_check.h"
#include "graphics/stream.h"
#include "tests/graphics/bmp_builder.h"
#include "tests/support/test_support.h"

using namespace testbmp;
using namespace testsupport;

namespace {

std::string ErrorOf(const std::vector<uint8_t>& file) {
    try {
        ReadBmp(file);
    } catch (const EImbrixError& e) {
        return e.what();
    }
    return "(loaded)";
}

const TRGBQuad kRed = Quad(255, 0, 0), kGreen = Quad(0, 255, 0), kBlue = Quad(0, 0, 255),
               kGray = Quad(128, 128, 128);

}  // namespace

TEST(BmpRead, IndexedDepthsKeepFormatPaletteAndRowOrder) {
    // 3 x 2 pictures, bottom row first in the file unless the height is negative.
    struct Case {
        uint16_t bits;
        std::vector<uint8_t> pixels;  // rows padded to 4 bytes
        TPixelFormat format;
    };
    const Case cases[] = {
        {1, {0b10100000, 0, 0, 0, 0b01000000, 0, 0, 0}, TPixelFormat::pf1bit},
        {4, {0x10, 0x20, 0, 0, 0x01, 0x10, 0, 0}, TPixelFormat::pf4bit},
        {8, {1, 0, 1, 0, 0, 1, 0, 0}, TPixelFormat::pf8bit},
    };
    for (const Case& c : cases) {
        for (const bool topDown : {false, true}) {
            SCOPED_TRACE(std::to_string(c.bits) + (topDown ? " bits top-down" : " bits bottom-up"));
            DibSpec s;
            s.bitCount = c.bits;
            s.width = 3;
            s.height = topDown ? -2 : 2;
            s.palette = {kRed, kGreen, kBlue};
            if (c.bits == 1) s.palette.resize(2);
            s.pixels = c.pixels;
            const TBitmap bmp = ReadBmp(BuildBmp(s));
            ASSERT_EQ(bmp.Width(), 3);
            ASSERT_EQ(bmp.Height(), 2);
            EXPECT_EQ(bmp.PixelFormat(), c.format);
            EXPECT_EQ(bmp.Palette()[1], kGreen);
            const std::string first = c.bits == 4 ? "00FF00 FF0000 0000FF" : "00FF00 FF0000 00FF00";
            const std::string second = c.bits == 4 ? "FF0000 00FF00 00FF00" : "FF0000 00FF00 FF0000";
            EXPECT_EQ(Row(bmp, topDown ? 0 : 1), first);
            EXPECT_EQ(Row(bmp, topDown ? 1 : 0), second);
        }
    }
}

TEST(BmpRead, OldAndShortHeaders) {
    // OS/2 1.x: 12-byte header, palette entries of three bytes.
    DibSpec core;
    core.headerSize = 12;
    core.bitCount = 8;
    core.width = 2;
    core.height = 1;
    core.palette = std::vector<TRGBQuad>(256, kGray);
    core.palette[7] = kBlue;
    core.pixels = {7, 0, 0, 0};
    EXPECT_EQ(Row(ReadBmp(BuildBmp(core)), 0), "0000FF 808080");

    // OS/2 2.x headers of 16 and 64 bytes: four-byte entries, missing fields are zero.
    for (uint32_t size : {16u, 64u}) {
        SCOPED_TRACE(size);
        DibSpec os2 = core;
        os2.headerSize = size;
        EXPECT_EQ(Row(ReadBmp(BuildBmp(os2)), 0), "0000FF 808080");
    }
    // V4 and V5 headers with an indexed picture.
    for (uint32_t size : {108u, 124u}) {
        SCOPED_TRACE(size);
        DibSpec v = core;
        v.headerSize = size;
        v.palette = {kGray, kRed};
        v.colorsUsed = 2;
        v.pixels = {1, 0, 0, 0};
        EXPECT_EQ(Row(ReadBmp(BuildBmp(v)), 0), "FF0000 808080");
    }
}

TEST(BmpRead, ShortPalettesReadAsBlackBeyondTheirEnd) {
    DibSpec s;
    s.bitCount = 8;
    s.width = 3;
    s.colorsUsed = 2;
    s.palette = {kRed, kGreen};
    s.pixels = {1, 200, 255, 0};
    const TBitmap bmp = ReadBmp(BuildBmp(s));
    EXPECT_EQ(Row(bmp, 0), "00FF00 000000 000000");
    EXPECT_EQ(bmp.Palette().size(), 256u) << "padded so that every index stays inside";

    // The pixel offset leaves room for fewer entries than the header claims.
    DibSpec tight = s;
    tight.colorsUsed = 0;
    tight.palette = {kRed, kGreen};
    EXPECT_EQ(Row(ReadBmp(BuildBmp(tight)), 0), "00FF00 000000 000000");

    // Pixel data after a gap: the offset field is what counts.
    DibSpec gap;
    gap.bitCount = 24;
    gap.width = 1;
    gap.pixels = {0x10, 0x20, 0x30, 0};
    EXPECT_EQ(Row(ReadBmp(BuildBmp(gap, std::nullopt, 37)), 0), "302010");
}

TEST(BmpRead, SixteenAndThirtyTwoBitMasksScaleToEightBits) {
    DibSpec s555;
    s555.bitCount = 16;
    s555.width = 2;
    s555.pixels = {0x00, 0x7C, 0x1F, 0x00};  // full red, full blue
    const TBitmap a = ReadBmp(BuildBmp(s555));
    EXPECT_EQ(Row(a, 0), "FF0000 0000FF");

    DibSpec s565 = s555;
    s565.compression = 3;
    s565.masks = {0xF800, 0x07E0, 0x001F};
    s565.pixels = {0xE0, 0x07, 0x80, 0x80};  // full green; red 16/31 with green 4/63
    EXPECT_EQ(Row(ReadBmp(BuildBmp(s565)), 0), "00FF00 841000");

    // 10-10-10 in a V3 header, masks inside the header.
    DibSpec wide;
    wide.headerSize = 56;
    wide.bitCount = 32;
    wide.width = 1;
    wide.compression = 3;
    wide.masks = {0x3FF00000, 0x000FFC00, 0x000003FF, 0};
    const uint32_t v = (1023u << 20) | (512u << 10) | 0u;
    wide.pixels = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    const TBitmap c = ReadBmp(BuildBmp(wide));
    EXPECT_EQ(c.PixelFormat(), TPixelFormat::pf32bit);
    EXPECT_EQ(Row(c, 0), "FF8000");

    DibSpec broken = s565;
    broken.masks = {0xF00F, 0x07E0, 0x001F};
    EXPECT_NE(ErrorOf(BuildBmp(broken)).find("masks"), std::string::npos) << ErrorOf(BuildBmp(broken));
}

TEST(BmpRead, AlphaCountsOnlyWithAMaskAndSomeNonZeroAlpha) {
    DibSpec s;
    s.headerSize = 108;
    s.bitCount = 32;
    s.width = 2;
    s.compression = 3;
    s.masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
    s.pixels = {0, 0, 255, 255, 0, 0, 0, 0};  // opaque red, fully transparent black
    TBitmap withAlpha = ReadBmp(BuildBmp(s));
    EXPECT_TRUE(withAlpha.AlphaMeaningful);
    EXPECT_EQ(Row(Flatten(withAlpha), 0), "FF0000 FFFFFF") << "transparent parts come out white";

    s.pixels = {0, 0, 255, 0, 0, 0, 0, 0};  // mask present, every alpha zero: opaque
    TBitmap zeroAlpha = ReadBmp(BuildBmp(s));
    EXPECT_FALSE(zeroAlpha.AlphaMeaningful);
    EXPECT_EQ(Row(Flatten(zeroAlpha), 0), "FF0000 000000");

    DibSpec plain;  // BI_RGB: the fourth byte is not alpha
    plain.bitCount = 32;
    plain.width = 1;
    plain.pixels = {0, 0, 255, 7};
    TBitmap noMask = ReadBmp(BuildBmp(plain));
    EXPECT_FALSE(noMask.AlphaMeaningful);
    EXPECT_EQ(Row(Flatten(noMask), 0), "FF0000");
}

TEST(BmpRead, RunLengthRunsDeltasAndClipping) {
    DibSpec s;
    s.bitCount = 8;
    s.compression = 1;
    s.width = 4;
    s.height = 3;
    s.palette = {kGray, kRed, kGreen, kBlue};
    s.colorsUsed = 4;
    s.pixels = {
        4, 1, 0, 0,              // bottom row: 4 x red, end of line
        0, 3, 2, 3, 2, 0,        // absolute run of 3 (padded), then 1 more pixel:
        1, 1, 0, 0,              //   green blue green red, end of line
        9, 3,                    // top row: a run of 9 blue pixels, clipped at the row's end
        0, 0, 0, 1,              // end of line, end of bitmap
    };
    const TBitmap bmp = ReadBmp(BuildBmp(s));
    EXPECT_EQ(bmp.PixelFormat(), TPixelFormat::pf8bit) << "every pixel was set, so it stays indexed";
    EXPECT_EQ(Row(bmp, 2), "FF0000 FF0000 FF0000 FF0000");
    EXPECT_EQ(Row(bmp, 1), "00FF00 0000FF 00FF00 FF0000");
    EXPECT_EQ(Row(bmp, 0), "0000FF 0000FF 0000FF 0000FF");

    // A delta skips pixels, and the data ends without an end-of-bitmap code: the pixels
    // never reached show white on the working bitmap.
    DibSpec skip = s;
    skip.pixels = {2, 1, 0, 2, 1, 1, 1, 3};
    TBitmap skipped = ReadBmp(BuildBmp(skip));
    EXPECT_TRUE(skipped.AlphaMeaningful);
    const TBitmap flat = Flatten(skipped);
    EXPECT_EQ(Row(flat, 2), "FF0000 FF0000 FFFFFF FFFFFF");
    EXPECT_EQ(Row(flat, 1), "FFFFFF FFFFFF FFFFFF 0000FF");
    EXPECT_EQ(Row(flat, 0), "FFFFFF FFFFFF FFFFFF FFFFFF");

    // Deltas and runs far outside the picture are clipped, never written.
    DibSpec wild = s;
    wild.pixels = {0, 2, 200, 0, 255, 1, 0, 8, 1, 2, 3, 4, 5, 6, 7, 8, 0, 2, 255, 255, 5, 1};
    EXPECT_NO_THROW(ReadBmp(BuildBmp(wild)));

    // RLE4: nibbles alternate within a run; absolute runs pack two pixels a byte.
    DibSpec rle4;
    rle4.bitCount = 4;
    rle4.compression = 2;
    rle4.width = 8;
    rle4.palette = {kGray, kRed, kGreen, kBlue};
    rle4.colorsUsed = 4;
    // run 1 2 1, absolute 3 0 2 1 3 in three bytes and a pad byte, end of bitmap
    rle4.pixels = {3, 0x12, 0, 5, 0x30, 0x21, 0x30, 0, 0, 1};
    const TBitmap four = ReadBmp(BuildBmp(rle4));
    EXPECT_EQ(four.PixelFormat(), TPixelFormat::pf4bit);
    EXPECT_EQ(Row(four, 0), "FF0000 00FF00 FF0000 0000FF 808080 00FF00 FF0000 0000FF");

    DibSpec topDown = s;
    topDown.height = -3;
    EXPECT_NE(ErrorOf(BuildBmp(topDown)).find("bottom-up"), std::string::npos);
}

TEST(BmpRead, RefusesWhatItCannotRead) {
    DibSpec base;
    base.width = 2;
    base.pixels = std::vector<uint8_t>(8, 0);

    auto with = [&](auto change) {
        DibSpec s = base;
        change(s);
        return ErrorOf(BuildBmp(s));
    };
    EXPECT_EQ(with([](DibSpec& s) { s.pixels.resize(5); }), "Stream read error") << "truncated rows";
    EXPECT_NE(with([](DibSpec& s) { s.compression = 4; }).find("JPEG"), std::string::npos);
    EXPECT_NE(with([](DibSpec& s) { s.compression = 5; }).find("PNG"), std::string::npos);
    EXPECT_EQ(with([](DibSpec& s) { s.compression = 9; }), "Unsupported bitmap compression (9)");
    EXPECT_EQ(with([](DibSpec& s) { s.bitCount = 7; }), "Unsupported bitmap bit count (7 bits per pixel)");
    EXPECT_EQ(with([](DibSpec& s) { s.headerSize = 80; }), "Unsupported bitmap header size (80 bytes)");
    EXPECT_NE(with([](DibSpec& s) { s.width = 0; }).find("Invalid bitmap size"), std::string::npos);
    EXPECT_NE(with([](DibSpec& s) { s.width = -5; }).find("Invalid bitmap size"), std::string::npos);
    EXPECT_NE(with([](DibSpec& s) { s.height = INT32_MIN; }).find("too large"), std::string::npos);
    EXPECT_NE(with([](DibSpec& s) { s.width = 100000; s.height = 100000; }).find("too large"), std::string::npos);
    // A huge run-length picture is refused before anything is allocated for it.
    EXPECT_NE(with([](DibSpec& s) { s.bitCount = 8; s.compression = 1; s.width = 60000; s.height = 60000; })
                  .find("too large"),
              std::string::npos);

    std::vector<uint8_t> notBmp = BuildBmp(base);
    notBmp[0] = 'X';
    EXPECT_EQ(ErrorOf(notBmp), "Not a Windows bitmap file");
    std::vector<uint8_t> offsetPastEnd = BuildBmp(base, 5000);
    EXPECT_EQ(ErrorOf(offsetPastEnd), "Stream read error");
    EXPECT_EQ(ErrorOf({'B', 'M', 1, 2}), "Stream read error");
}

TEST(BmpWrite, RoundTripAndHeaderFields) {
    TBitmap source = NoiseBitmap(5, 3, 7);
    TMemoryStream stream;
    source.WritePicture(stream);
    const std::vector<uint8_t>& file = stream.Bytes();
    const size_t stride = 16;  // 5 x 3 bytes padded to 4
    ASSERT_EQ(file.size(), 54 + stride * 3);
    ByteReader r(file);
    EXPECT_EQ(r.text(2), "BM");
    EXPECT_EQ(r.u32le(), file.size()) << "file size";
    r.skip(4);
    EXPECT_EQ(r.u32le(), 54u) << "pixel offset";
    EXPECT_EQ(r.u32le(), 40u) << "info header size";
    EXPECT_EQ(r.i32le(), 5);
    EXPECT_EQ(r.i32le(), 3) << "positive height: bottom-up";
    r.skip(2);
    EXPECT_EQ(r.u16le(), 24);
    EXPECT_EQ(r.u32le(), 0u);
    EXPECT_EQ(r.u32le(), stride * 3) << "image size";
    // The first row in the file is the picture's bottom row.
    EXPECT_EQ(file[54], source.ScanLine(2)[0]);
    EXPECT_EQ(file[54 + 14], source.ScanLine(2)[14]);

    const TBitmap back = ReadBmp(file);
    EXPECT_EQ(FirstPixelDifference(back, source), -1);

    // Indexed and alpha pictures are written as the colours they show.
    TBitmap indexed(2, 1, TPixelFormat::pf8bit);
    indexed.SetPalette({kRed, kBlue});
    indexed.SetRawPixel(0, 0, 1);
    indexed.SetRawPixel(1, 0, 0);
    TMemoryStream indexedFile;
    indexed.WritePicture(indexedFile);
    EXPECT_EQ(Row(ReadBmp(indexedFile.Bytes()), 0), "0000FF FF0000");

    TBitmap alpha(1, 1, TPixelFormat::pf32bit);
    alpha.SetRawPixel(0, 0, 0x000000FF);  // blue, alpha 0
    alpha.AlphaMeaningful = true;
    TMemoryStream alphaFile;
    alpha.WritePicture(alphaFile);
    EXPECT_EQ(Row(ReadBmp(alphaFile.Bytes()), 0), "FFFFFF");
}

TEST(BmpWrite, PillowReadsOurFilesToTheSamePixels) {
    if (!HaveProgram("/usr/bin/python3") ||
        RunCommand("/usr/bin/python3 -c 'import PIL' >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "Pillow not installed";
    TempDir dir;
    const TBitmap source = NoiseBitmap(13, 7, 3);
    TBitmap copy = source;
    copy.WritePictureFile(dir.file("ours.bmp"));
    const std::string command = "/usr/bin/python3 -c \"from PIL import Image; im = Image.open('" +
                                dir.file("ours.bmp") + "').convert('RGB'); open('" + dir.file("rgb.raw") +
                                "', 'wb').write(im.tobytes())\"";
    ASSERT_EQ(RunCommand(command), 0);
    const std::vector<uint8_t> rgb = ReadFile(dir.file("rgb.raw"));
    ASSERT_EQ(rgb.size(), size_t(13 * 7 * 3));
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 13; ++x) {
            const uint8_t* p = &rgb[(size_t(y) * 13 + x) * 3];
            ASSERT_EQ(source.Pixel(x, y), RGBColor(p[0], p[1], p[2])) << "at " << x << "," << y;
        }
}

TEST(BmpRead, ReadingReplacesThePictureAndKeepsTheListener) {
    TBitmap bmp(9, 9, TPixelFormat::pf8bit);
    bmp.Transparent = true;
    bmp.OnProgress = [](TGraphic&, TProgressStage, uint8_t, const TRect&, const std::string&) {};
    DibSpec s;
    s.width = 1;
    s.pixels = {1, 2, 3, 0};
    TMemoryStream stream(BuildBmp(s));
    bmp.ReadPicture(stream);
    EXPECT_EQ(bmp.Width(), 1);
    EXPECT_EQ(bmp.PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_FALSE(bmp.Transparent);
    EXPECT_TRUE(bool(bmp.OnProgress));
}
