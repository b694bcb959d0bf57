#include <gtest/gtest.h>

#include <bit>

#include "gif/gif_image.h"
#include "gif/gif_lzw.h"
#include "gif/gif_palette.h"
#include "gif_test_util.h"
#include "graphics/byte_reader.h"
#include "graphics/errors.h"
#include "tests/support/test_support.h"

using namespace giftest;

namespace {

constexpr TColor kRed = RGBColor(255, 0, 0), kGreen = RGBColor(0, 255, 0), kBlue = RGBColor(0, 0, 255);

TBitmap BitmapOf(int width, int height, const std::vector<TColor>& pixels) {
    TBitmap bmp(width, height, TPixelFormat::pf24bit);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) bmp.SetPixel(x, y, pixels[size_t(y * width + x)]);
    return bmp;
}

Bytes Encode(TBitmap bitmap) {
    TGIFImage gif;
    gif.AssignBitmap(bitmap);
    return SaveGif(gif);
}

int Distance(TColor a, TColor b) {
    const int dr = GetRValue(a) - GetRValue(b), dg = GetGValue(a) - GetGValue(b), db = GetBValue(a) - GetBValue(b);
    return dr * dr + dg * dg + db * db;
}

// Writes the bitmap, reads it back with our reader and with Pillow, and checks both against
// the reduction: the same palette indices, and every pixel the colour of its index.
void CheckRoundTrip(const TBitmap& source) {
    const TPaletteImage reduced = ReduceToPalette(source);
    testsupport::TempDir dir;
    const std::string path = dir.file("round.gif");
    {
        TGIFImage gif;
        TBitmap copy(source);
        gif.AssignBitmap(copy);
        gif.WritePictureFileExclusive(path);
    }
    TGIFImage back;
    back.ReadPictureFile(path);
    ASSERT_EQ(back.FrameCount(), 1);
    ASSERT_EQ(back.Width(), source.Width());
    ASSERT_EQ(back.Height(), source.Height());
    EXPECT_FALSE(back.Frame(0).Corrupted);
    TBitmap& frame = back.DecodeFrameBitmap(back.Frame(0));
    ASSERT_EQ(frame.PixelFormat(), TPixelFormat::pf8bit);
    for (int y = 0; y < source.Height(); ++y)
        for (int x = 0; x < source.Width(); ++x) {
            const uint8_t want = reduced.Indices[size_t(y) * size_t(source.Width()) + size_t(x)];
            ASSERT_EQ(frame.RawPixel(x, y), want) << "index at (" << x << ", " << y << ")";
            ASSERT_EQ(frame.Pixel(x, y), QuadToColor(reduced.Palette[want])) << "colour at (" << x << ", " << y << ")";
        }

    const auto reference = ReferenceDecodeLzw(*back.Frame(0).Item().Data);
    ASSERT_TRUE(reference) << "the LZW data does not follow the format";
    EXPECT_EQ(*reference, reduced.Indices) << "the LZW stream must hold exactly the picture's pixels";

    const auto pillow = DecodeWithPillow(path);
    if (!pillow) return;  // Pillow not installed: our own decoders only
    ASSERT_EQ(pillow->width, source.Width());
    ASSERT_EQ(pillow->height, source.Height());
    const Bytes ours = BitmapRgba(frame);
    ASSERT_EQ(pillow->rgba.size(), ours.size());
    for (size_t i = 0; i < ours.size(); ++i)
        ASSERT_EQ(pillow->rgba[i], ours[i]) << "Pillow disagrees at pixel " << i / 4 << ", channel " << i % 4;
}

}  // namespace

TEST(GifWriter, ThreeColourPictureIsWrittenAsDescribed) {
    // red x3, green x2, blue x1; top row A B C, bottom row A A B
    const TBitmap bmp = BitmapOf(3, 2, {kRed, kGreen, kBlue, kRed, kRed, kGreen});
    const Bytes file = Encode(bmp);

    Bytes want = {'G', 'I', 'F', '8', '7', 'a', 3, 0, 2, 0, 0xF7, 0, 0};
    for (TColor c : {kRed, kGreen, kBlue}) want.insert(want.end(), {GetRValue(c), GetGValue(c), GetBValue(c)});
    for (int i = 3; i < 256; ++i) want.insert(want.end(), {128, 128, 128});
    want.insert(want.end(), {',', 0, 0, 0, 0, 3, 0, 2, 0, 0, 8});
    // Indices 0 1 2 / 0 0 1: Clear, 0, 1, 2, 0, "0 1" = 258, End.
    const Bytes lzw = SubBlocks(PackCodes({256, 0, 1, 2, 0, 258, 257}, 9));
    want.insert(want.end(), lzw.begin(), lzw.end());
    want.push_back(';');
    EXPECT_EQ(file, want);
}

TEST(GifWriter, OneByOnePictureIsClearPixelEnd) {
    const TBitmap bmp = BitmapOf(1, 1, {RGBColor(10, 20, 30)});
    Bytes want = {'G', 'I', 'F', '8', '7', 'a', 1, 0, 1, 0, 0xF7, 0, 0, 10, 20, 30};
    for (int i = 1; i < 256; ++i) want.insert(want.end(), {128, 128, 128});
    want.insert(want.end(), {',', 0, 0, 0, 0, 1, 0, 1, 0, 0});
    want.insert(want.end(), {8, 4, 0x00, 0x01, 0x04, 0x04, 0, ';'});
    EXPECT_EQ(Encode(bmp), want);
}

TEST(GifWriter, EqualCountsKeepTheBottomRowsColourFirst) {
    // The histogram walks the rows bottom-up, so the bottom colour is created first.
    const TPaletteImage reduced = ReduceToPalette(BitmapOf(1, 2, {kRed, kBlue}));
    EXPECT_EQ(QuadToColor(reduced.Palette[0]), kBlue);
    EXPECT_EQ(QuadToColor(reduced.Palette[1]), kRed);
    EXPECT_EQ(reduced.UsedColors, 2);
    EXPECT_EQ(reduced.Indices, (Bytes{1, 0})) << "indices are stored top row first";
}

TEST(GifWriter, FewColoursComeBackExactly) {
    std::vector<TColor> pixels;
    const TColor colours[] = {kRed, kGreen, kBlue, RGBColor(1, 2, 3), RGBColor(250, 251, 252)};
    for (int i = 0; i < 37 * 23; ++i) pixels.push_back(colours[(i * 7 + i / 5) % 5]);
    const TBitmap source = BitmapOf(37, 23, pixels);
    CheckRoundTrip(source);

    TGIFImage back;
    LoadGif(back, Encode(source));
    TBitmap drawn(37, 23);
    back.Draw(drawn, Rect(0, 0, 37, 23));
    EXPECT_EQ(testsupport::FirstPixelDifference(drawn, source), -1) << "colours must survive unchanged";
}

TEST(GifWriter, MoreThan256ColoursMapToTheNearestFrequentColour) {
    // 300 distinct colours, the first 40 much more frequent than the others.
    std::vector<TColor> pixels;
    for (int i = 0; i < 40 * 30; ++i) pixels.push_back(RGBColor(uint8_t(i % 40 * 6), 100, 7));
    for (int i = 0; i < 260; ++i) pixels.push_back(RGBColor(uint8_t(i), uint8_t(i * 3), uint8_t(255 - i)));
    pixels.resize(50 * 30, RGBColor(0, 100, 7));
    const TBitmap source = BitmapOf(50, 30, pixels);
    const TPaletteImage reduced = ReduceToPalette(source);
    EXPECT_EQ(reduced.UsedColors, 256);
    EXPECT_EQ(reduced.BlueMask, 0xFF) << "no narrowing below 2049 colours";
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(GetGValue(QuadToColor(reduced.Palette[size_t(i)])), 100) << "frequent colours come first, entry " << i;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 50; ++x) {
            const TColor want = source.Pixel(x, y);
            const TColor got = QuadToColor(reduced.Palette[reduced.Indices[size_t(y * 50 + x)]]);
            int best = INT32_MAX;
            for (const TRGBQuad& q : reduced.Palette) best = std::min(best, Distance(want, QuadToColor(q)));
            ASSERT_EQ(Distance(want, got), best) << "pixel (" << x << ", " << y << ") is not mapped to its nearest entry";
        }
    CheckRoundTrip(source);
}

TEST(GifWriter, MoreThan2049ColoursNarrowBlueFirst) {
    // 2400 colours that fall to 1200 once blue loses its lowest bit.
    std::vector<TColor> pixels;
    for (int i = 0; i < 1200; ++i)
        for (int odd = 0; odd < 2; ++odd)
            pixels.push_back(RGBColor(uint8_t(i % 40 * 6), uint8_t(i / 40 * 8), uint8_t(2 * (i % 7) + odd)));
    const TBitmap source = BitmapOf(60, 40, pixels);
    const TPaletteImage reduced = ReduceToPalette(source);
    EXPECT_EQ(reduced.BlueMask, 0xFE);
    EXPECT_EQ(reduced.RedMask, 0xFF);
    EXPECT_EQ(reduced.GreenMask, 0xFF);
    for (int i = 0; i < reduced.UsedColors; ++i)
        EXPECT_EQ(reduced.Palette[size_t(i)].rgbBlue % 2, 0) << "palette entry " << i << " carries the narrowed blue";
    CheckRoundTrip(source);

    // Random colours narrow further, in the order blue, red, green.
    const TPaletteImage noisy = ReduceToPalette(testsupport::NoiseBitmap(120, 90, 7));
    const auto lost = [](uint8_t mask) { return 8 - std::popcount(unsigned(mask)); };
    EXPECT_GE(lost(noisy.BlueMask), 1);
    EXPECT_GE(lost(noisy.BlueMask), lost(noisy.RedMask));
    EXPECT_GE(lost(noisy.RedMask), lost(noisy.GreenMask));
    EXPECT_LE(lost(noisy.BlueMask) - lost(noisy.GreenMask), 1);
    for (int i = 0; i < noisy.UsedColors; ++i) {
        const TRGBQuad& q = noisy.Palette[size_t(i)];
        ASSERT_EQ(q.rgbBlue & noisy.BlueMask, q.rgbBlue) << i;
        ASSERT_EQ(q.rgbRed & noisy.RedMask, q.rgbRed) << i;
        ASSERT_EQ(q.rgbGreen & noisy.GreenMask, q.rgbGreen) << i;
    }
}

TEST(GifWriter, LargePicturesPassTheTableRestart) {
    // Random pixels fill the 12-bit table many times over.
    CheckRoundTrip(testsupport::NoiseBitmap(300, 200, 3));
    // Long runs of one colour make long strings instead.
    TBitmap stripes(640, 48);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 640; ++x) stripes.SetPixel(x, y, (x / 97 + y / 5) % 3 == 0 ? kRed : (x * y) % 11 == 0 ? kBlue : kGreen);
    CheckRoundTrip(stripes);
}

TEST(GifWriter, EveryLengthEncodesExactlyItsPixels) {
    // Whatever pixel the table restart or a code widening falls on, the stream holds each pixel
    // once and ends with an end code of the width a decoder expects. This range of lengths
    // includes ones whose very last pixel restarts the table or widens the codes.
    Bytes pixels(4600);
    uint32_t seed = 12345;
    for (uint8_t& p : pixels) {
        seed = seed * 1103515245u + 12345u;
        p = uint8_t(seed >> 16);
    }
    for (int width = 3700; width <= 4600; ++width) {
        ByteWriter out;
        LzwEncode(out, std::span<const uint8_t>(pixels.data(), size_t(width)), width, 1);
        const auto decoded = ReferenceDecodeLzw(out.buffer());
        ASSERT_TRUE(decoded) << "width " << width;
        ASSERT_EQ(decoded->size(), size_t(width)) << "pixels in the stream for width " << width;
        ASSERT_TRUE(std::equal(decoded->begin(), decoded->end(), pixels.begin())) << "width " << width;
    }
}

TEST(GifWriter, RefusesWhatItCannotWrite) {
    auto expectRefused = [](TGIFImage& gif, const std::string& fragment) {
        TMemoryStream stream;
        try {
            gif.WritePicture(stream);
            ADD_FAILURE() << "written without an error";
        } catch (const EInvalidGraphicOperation& e) {
            EXPECT_NE(std::string(e.what()).find(fragment), std::string::npos) << "had: " << e.what();
        }
        EXPECT_EQ(stream.Size(), 0u) << "nothing may reach the stream";
    };
    TGIFImage none;
    expectRefused(none, "No GIF Data to write");

    TGIFImage empty;
    TBitmap zero(0, 0);
    empty.AssignBitmap(zero);
    expectRefused(empty, "No GIF Data to write");
    TBitmap flat(5, 0);
    empty.AssignBitmap(flat);
    expectRefused(empty, "No GIF Data to write");

    TGIFImage wide;
    TBitmap tooWide(65536, 1);
    wide.AssignBitmap(tooWide);
    expectRefused(wide, "65535");
    TGIFImage tall;
    TBitmap tooTall(1, 65536);
    tall.AssignBitmap(tooTall);
    expectRefused(tall, "65535");
}

TEST(GifWriter, WidestPictureFits) {
    TBitmap widest = testsupport::NoiseBitmap(65535, 1, 5);
    TGIFImage gif;
    gif.AssignBitmap(widest);
    TGIFImage back;
    LoadGif(back, SaveGif(gif));
    EXPECT_EQ(back.Width(), 65535);
    EXPECT_EQ(back.ScreenWidth(), 65535);
}

TEST(GifWriter, AssigningResetsThePicture) {
    TGIFImage gif;
    LoadGif(gif, GifBuilder().Screen(2, 1, {kRed, kGreen}).Comment("old").Image(0, 0, 2, 1, 2,
                 PackCodes({4, 0, 1, 5}, 3)).Comment("tail").Trailer().bytes());
    ASSERT_EQ(gif.Comments().size(), 1u);
    TBitmap bmp = BitmapOf(2, 2, {kBlue, kBlue, kRed, kBlue});
    gif.AssignBitmap(bmp);
    EXPECT_TRUE(gif.Comments().empty());
    EXPECT_EQ(gif.FrameCount(), 1);
    EXPECT_EQ(gif.Version(), 1);
    EXPECT_EQ(gif.Width(), 2);
    EXPECT_EQ(gif.Height(), 2);
    EXPECT_EQ(gif.ScreenWidth(), 2);
    TGIFImage back;
    LoadGif(back, SaveGif(gif));
    EXPECT_EQ(back.Version(), 1);
    EXPECT_EQ(back.Frame(0).ColorTable().Color(0), kBlue);

    // A second frame makes it a GIF89a; each later frame keeps a local table.
    TBitmap second = BitmapOf(3, 1, {kGreen, kGreen, kGreen});
    EXPECT_EQ(gif.AppendFrame(second), 1);
    EXPECT_EQ(gif.Version(), 2);
    EXPECT_EQ(gif.ScreenWidth(), 3);
    TGIFImage two;
    LoadGif(two, SaveGif(gif));
    ASSERT_EQ(two.FrameCount(), 2);
    EXPECT_TRUE(two.Frame(1).LocalColorTable);
    EXPECT_EQ(two.DecodeFrameBitmap(two.Frame(1)).Pixel(2, 0), kGreen);
    EXPECT_EQ(two.DecodeFrameBitmap(two.Frame(0)).Pixel(0, 1), kRed);
}

TEST(GifWriter, CopiesShareDataUntilChanged) {
    TGIFImage a;
    TBitmap bmp = BitmapOf(2, 1, {kRed, kGreen});
    a.AssignBitmap(bmp);
    SaveGif(a);  // encodes the frame
    TGIFImage b(a);
    EXPECT_EQ(a.Frame(0).SharedItem(), b.Frame(0).SharedItem());
    b.MutableData().Comments.push_back("changed");
    b.Frame(0).MutableItem().ColorTable.SetColor(0, kBlue);
    EXPECT_TRUE(a.Comments().empty());
    EXPECT_EQ(a.Frame(0).ColorTable().Color(0), kRed);
    EXPECT_EQ(b.Frame(0).ColorTable().Color(0), kBlue);
    EXPECT_EQ(SaveGif(a), Encode(BitmapOf(2, 1, {kRed, kGreen})));
}
