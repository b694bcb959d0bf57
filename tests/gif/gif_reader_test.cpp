#include <gtest/gtest.h>

#include "gif/gif_image.h"
#include "gif/gif_lzw.h"
#include "gif_test_util.h"
#include "graphics/errors.h"
#include "graphics/picture.h"
#include "graphics/size_check.h"
#include "tests/support/test_support.h"

using namespace giftest;

namespace {

constexpr TColor kBlack = RGBColor(0, 0, 0), kWhite = RGBColor(255, 255, 255), kRed = RGBColor(255, 0, 0),
                 kGreen = RGBColor(0, 255, 0), kBlue = RGBColor(0, 0, 255);
const std::vector<TColor> kFour = {kBlack, kRed, kGreen, kBlue};

// LZW data for a 2-bit picture given as literal codes only, with a Clear often enough that
// the code size stays 3 bits.
Bytes LiteralCodes(const std::vector<int>& pixels, bool withEnd = true) {
    std::vector<int> codes;
    for (size_t i = 0; i < pixels.size(); ++i) {
        if (i % 2 == 0) codes.push_back(4);
        codes.push_back(pixels[i]);
    }
    if (withEnd) codes.push_back(5);
    return PackCodes(codes, 3);
}

std::string LoadError(const Bytes& bytes) {
    TGIFImage gif;
    try {
        LoadGif(gif, bytes);
    } catch (const EImbrixError& e) {
        return e.what();
    }
    return "(loaded)";
}

std::vector<uint32_t> Indices(TGIFImage& gif, int frame = 0) {
    TBitmap& bmp = gif.DecodeFrameBitmap(gif.Frame(frame));
    std::vector<uint32_t> out;
    for (int y = 0; y < bmp.Height(); ++y)
        for (int x = 0; x < bmp.Width(); ++x) out.push_back(bmp.RawPixel(x, y));
    return out;
}

}  // namespace

TEST(GifReader, SignatureAndVersion) {
    auto file = [](const char* sig) {
        return GifBuilder(sig).Screen(1, 1, kFour).Image(0, 0, 1, 1, 2, LiteralCodes({2})).Trailer().bytes();
    };
    TGIFImage gif;
    LoadGif(gif, file("gif89A"));
    EXPECT_EQ(gif.Version(), 2);
    LoadGif(gif, file("Gif87a"));
    EXPECT_EQ(gif.Version(), 1);
    EXPECT_EQ(gif.DecodeFrameBitmap(gif.Frame(0)).Pixel(0, 0), kGreen);
    EXPECT_EQ(LoadError(file("GIF88a")), "Unknown GIF version");
    EXPECT_EQ(LoadError(file("PNG89a")), "Unknown GIF version");
    EXPECT_EQ(LoadError({'G', 'I'}), "Unknown GIF version") << "a file shorter than its signature";

    LoadGif(gif, {});
    EXPECT_TRUE(gif.Empty()) << "an empty input is an empty picture";
    EXPECT_EQ(gif.Width(), 0);
    EXPECT_EQ(gif.FrameCount(), 0);
}

TEST(GifReader, ColourDepthsDecodeIntoMatchingBitmaps) {
    // 1, 2..4 and 5..8 bits per pixel give 1-, 4- and 8-bit bitmaps with grey spare entries.
    struct Case {
        int bits;
        TPixelFormat format;
    };
    for (const Case c : {Case{1, TPixelFormat::pf1bit}, Case{2, TPixelFormat::pf4bit}, Case{3, TPixelFormat::pf4bit},
                         Case{5, TPixelFormat::pf8bit}, Case{8, TPixelFormat::pf8bit}}) {
        SCOPED_TRACE(c.bits);
        std::vector<TColor> colours(size_t(1) << c.bits);
        for (size_t i = 0; i < colours.size(); ++i) colours[i] = RGBColor(uint8_t(i), uint8_t(255 - i), 7);
        const int minCode = std::max(2, c.bits);
        const int clear = 1 << minCode;
        // 11 x 3 pixels: value (x + y) mod colours, a Clear before each to keep the code size.
        std::vector<int> codes;
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 11; ++x) codes.insert(codes.end(), {clear, (x + 4 * y) % int(colours.size())});
        codes.push_back(clear + 1);
        TGIFImage gif;
        LoadGif(gif, GifBuilder().Screen(11, 3, colours).Image(0, 0, 11, 3, minCode, PackCodes(codes, minCode + 1))
                         .Trailer().bytes());
        TBitmap& bmp = gif.DecodeFrameBitmap(gif.Frame(0));
        EXPECT_EQ(bmp.PixelFormat(), c.format);
        const size_t paletteSize = c.format == TPixelFormat::pf1bit ? 2 : c.format == TPixelFormat::pf4bit ? 16 : 256;
        ASSERT_EQ(bmp.Palette().size(), paletteSize);
        if (colours.size() < paletteSize) {
            EXPECT_EQ(bmp.Palette().back(), (TRGBQuad{128, 128, 128, 0})) << "spare entries are grey";
        }
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 11; ++x) ASSERT_EQ(bmp.Pixel(x, y), colours[size_t((x + 4 * y) % int(colours.size()))]) << x << "," << y;
    }
}

TEST(GifReader, AnimationLoadsAsItsFirstFrameAtItsOwnSize) {
    const Bytes file = GifBuilder()
                           .Screen(10, 8, kFour)
                           .Application("NETSCAPE2.0", {1, 0x40, 0x9C})  // 40000 repeats
                           .GraphicControl(0x08 | 1, 7, 0)
                           .Image(3, 2, 2, 2, 2, LiteralCodes({1, 2, 3, 0}))
                           .GraphicControl(0x04, 12, 0)
                           .Image(0, 0, 10, 8, 2, LiteralCodes(std::vector<int>(80, 3)))
                           .Trailer()
                           .bytes();
    TGIFImage gif;
    LoadGif(gif, file);
    EXPECT_EQ(gif.FrameCount(), 2);
    EXPECT_EQ(gif.Width(), 2);
    EXPECT_EQ(gif.Height(), 2);
    EXPECT_EQ(gif.ScreenWidth(), 10);
    EXPECT_TRUE(gif.Looping());
    EXPECT_EQ(gif.RepeatCount(), 30000);
    EXPECT_EQ(gif.Frame(0).Left, 3);
    EXPECT_EQ(gif.Frame(0).Top, 2);
    EXPECT_EQ(gif.Frame(0).Interval, 70);
    EXPECT_EQ(gif.Frame(0).Disposal, 2);
    EXPECT_EQ(gif.Frame(0).TransparentColor, kBlack);
    EXPECT_EQ(gif.Frame(1).Interval, 120);
    EXPECT_EQ(gif.Frame(1).Disposal, 1);
    EXPECT_EQ(gif.Frame(1).TransparentColor, NoColor);
    EXPECT_EQ(gif.Frame(1).Bitmap(), nullptr) << "later frames stay compressed";

    // Drawn at the origin at its own size; the black pixel is transparent.
    TBitmap target(4, 4);
    gif.Draw(target, Rect(0, 0, 2, 2));
    EXPECT_EQ(target.Pixel(0, 0), kRed);
    EXPECT_EQ(target.Pixel(1, 0), kGreen);
    EXPECT_EQ(target.Pixel(0, 1), kBlue);
    EXPECT_EQ(target.Pixel(1, 1), kWhite) << "transparent pixel keeps the target's colour";
    EXPECT_EQ(target.Pixel(2, 2), kWhite);

    EXPECT_THROW(gif.SetWidth(5), EInvalidGraphicOperation);
    try {
        gif.SetHeight(5);
        ADD_FAILURE() << "the height of a GIF image was changed";
    } catch (const EInvalidGraphicOperation& e) {
        EXPECT_STREQ(e.what(), "Cannot change the Size of a GIF image");
    }
}

TEST(GifReader, TransparencyWorksByColour) {
    // Entries 1 and 3 are both red; index 1 is transparent, so index 3 is too.
    const std::vector<TColor> colours = {kBlack, kRed, kGreen, kRed};
    auto load = [&](uint8_t packed, uint8_t index, TGIFImage& gif) {
        LoadGif(gif, GifBuilder().Screen(4, 1, colours).GraphicControl(packed, 0, index)
                         .Image(0, 0, 4, 1, 2, LiteralCodes({0, 1, 2, 3})).Trailer().bytes());
    };
    TGIFImage gif;
    load(1, 1, gif);
    TBitmap target(4, 1);
    target.FillRect(Rect(0, 0, 4, 1), kBlue);
    gif.Draw(target, Rect(0, 0, 4, 1));
    EXPECT_EQ(target.Pixel(0, 0), kBlack);
    EXPECT_EQ(target.Pixel(1, 0), kBlue);
    EXPECT_EQ(target.Pixel(2, 0), kGreen);
    EXPECT_EQ(target.Pixel(3, 0), kBlue);
    EXPECT_FALSE(gif.DecodeFrameBitmap(gif.Frame(0)).Transparent) << "drawing leaves the frame bitmap as it was";

    gif.Transparent = false;
    gif.Draw(target, Rect(0, 0, 4, 1));
    EXPECT_EQ(target.Pixel(1, 0), kRed) << "with transparency off every pixel is drawn";

    load(0, 1, gif);  // bit clear: no transparency
    EXPECT_EQ(gif.Frame(0).TransparentColor, NoColor);
    load(1, 9, gif);  // index beyond the table: ignored
    EXPECT_EQ(gif.Frame(0).TransparentColor, NoColor);

    // A plain-text extension discards the graphic control before it.
    LoadGif(gif, GifBuilder().Screen(4, 1, colours).GraphicControl(1, 0, 1).PlainText()
                     .Image(0, 0, 4, 1, 2, LiteralCodes({0, 1, 2, 3})).Trailer().bytes());
    EXPECT_EQ(gif.Frame(0).TransparentColor, NoColor);
}

TEST(GifReader, InterlacedRowsAreEachDecodedOnce) {
    for (int height : {1, 2, 3, 4, 5, 8, 9, 16, 17}) {
        SCOPED_TRACE(height);
        // Row order of the four passes.
        std::vector<int> order;
        for (int y = 0; y < height; y += 8) order.push_back(y);
        for (int y = 4; y < height; y += 8) order.push_back(y);
        for (int y = 2; y < height; y += 4) order.push_back(y);
        for (int y = 1; y < height; y += 2) order.push_back(y);
        ASSERT_EQ(int(order.size()), height);
        // 8-bit pictures: row y holds value y + 1 in both pixels.
        std::vector<TColor> colours(256);
        for (int i = 0; i < 256; ++i) colours[size_t(i)] = RGBColor(uint8_t(i), 0, 0);
        std::vector<int> codes;
        for (int row : order) codes.insert(codes.end(), {256, row + 1, 256, row + 1});
        codes.push_back(257);
        TGIFImage gif;
        LoadGif(gif, GifBuilder().Screen(2, height, colours).Image(0, 0, 2, height, 8, PackCodes(codes, 9), true)
                         .Trailer().bytes());
        EXPECT_TRUE(gif.Frame(0).Interlaced);
        const auto got = Indices(gif);
        for (int y = 0; y < height; ++y) {
            EXPECT_EQ(got[size_t(2 * y)], uint32_t(y + 1)) << "row " << y;
            EXPECT_EQ(got[size_t(2 * y + 1)], uint32_t(y + 1)) << "row " << y;
        }
    }
    // The pass walk itself ends past the last row after visiting every row once.
    for (int height = 1; height <= 40; ++height) {
        std::vector<int> seen(size_t(height), 0);
        int pass = 0;
        for (int y = 0; y < height; y = NextInterlacedRow(y, height, pass)) ++seen[size_t(y)];
        for (int y = 0; y < height; ++y) ASSERT_EQ(seen[size_t(y)], 1) << "height " << height << ", row " << y;
    }
}

TEST(GifReader, StreamsWithoutOrWithRepeatedClearCodes) {
    // No Clear at the start: the first code is a pixel and defines nothing, so 6 is "1 2".
    TGIFImage gif;
    LoadGif(gif, GifBuilder().Screen(4, 1, kFour).Image(0, 0, 4, 1, 2, PackCodes({1, 2, 6, 5}, 3)).Trailer().bytes());
    EXPECT_EQ(Indices(gif), (std::vector<uint32_t>{1, 2, 1, 2}));
    // Clear codes back to back leave no pixel behind.
    LoadGif(gif, GifBuilder().Screen(4, 1, kFour).Image(0, 0, 4, 1, 2, PackCodes({4, 4, 3, 4, 4, 4, 2, 0, 6, 5}, 3))
                     .Trailer().bytes());
    EXPECT_EQ(Indices(gif), (std::vector<uint32_t>{3, 2, 0, 2}));
    EXPECT_FALSE(gif.Frame(0).Corrupted);
}

TEST(GifReader, ShortOrBrokenDataKeepsWhatWasDecoded) {
    TGIFImage gif;
    // Ends before the end code with every row done: a normal load.
    LoadGif(gif, GifBuilder().Screen(2, 2, kFour).Image(0, 0, 2, 2, 2, LiteralCodes({1, 2, 3, 1}, false)).Trailer().bytes());
    EXPECT_EQ(Indices(gif), (std::vector<uint32_t>{1, 2, 3, 1}));
    EXPECT_FALSE(gif.Frame(0).Corrupted);

    // Ends half way: the rest stays index 0.
    LoadGif(gif, GifBuilder().Screen(2, 2, kFour).Image(0, 0, 2, 2, 2, LiteralCodes({3, 2, 1}, false)).Trailer().bytes());
    EXPECT_EQ(Indices(gif), (std::vector<uint32_t>{3, 2, 1, 0}));

    // A sub-block cut off by the end of the file marks the frame and keeps the blocks before it.
    Bytes file = GifBuilder().Screen(2, 2, kFour).Raw({',', 0, 0, 0, 0, 2, 0, 2, 0, 0, 2}).bytes();
    const Bytes first = LiteralCodes({3, 3}, false);
    file.push_back(uint8_t(first.size()));
    file.insert(file.end(), first.begin(), first.end());
    file.insert(file.end(), {200, 1, 2, 3});
    LoadGif(gif, file);
    EXPECT_TRUE(gif.Frame(0).Corrupted);
    EXPECT_TRUE(gif.Corrupted());
    EXPECT_EQ(Indices(gif), (std::vector<uint32_t>{3, 3, 0, 0}));

    // An impossible minimum code size is clamped and marked.
    LoadGif(gif, GifBuilder().Screen(2, 1, kFour).Image(0, 0, 2, 1, 12, {0xFF, 0xFF, 0xFF}).Trailer().bytes());
    EXPECT_TRUE(gif.Frame(0).Corrupted);
    EXPECT_EQ(gif.Width(), 2);
}

TEST(GifReader, OverlongCodeChainStopsDecoding) {
    // Code 259 is defined with prefix 300 before 300 exists; 300 is then defined with prefix
    // 259, so 259 and 300 point at each other and decoding 259 never reaches a pixel.
    std::vector<int> codes = {256, 7, 300, 1};
    for (int next = 260; next < 299; ++next) codes.push_back(9);  // one entry each
    codes.push_back(259);                                         // defines 299
    codes.push_back(9);                                           // defines 300 = 259 + ...
    codes.push_back(259);                                         // the loop
    codes.push_back(5);
    codes.push_back(257);
    std::vector<TColor> colours(256, kBlue);
    TGIFImage gif;
    LoadGif(gif, GifBuilder().Screen(64, 64, colours).Image(0, 0, 64, 64, 8, PackCodes(codes, 9)).Trailer().bytes());
    EXPECT_TRUE(gif.Frame(0).Corrupted);
    const auto got = Indices(gif);
    EXPECT_EQ(got[0], 7u);
    EXPECT_EQ(got[1], 7u) << "a code used before its definition repeats the previous string and its first pixel";
    EXPECT_EQ(got[2], 7u);
    EXPECT_EQ(got[3], 1u);
    EXPECT_EQ(got[4], 9u);
    EXPECT_EQ(got[45], 1u) << "the last code decoded before the loop";
    EXPECT_EQ(got[46], 9u);
    // Nothing after the loop was decoded: the remaining pixels stay 0.
    for (size_t i = 47; i < got.size(); ++i) ASSERT_EQ(got[i], 0u) << "pixel " << i;
}

TEST(GifReader, CommentsAndExtensions) {
    TGIFImage gif;
    LoadGif(gif, GifBuilder()
                     .Screen(1, 1, kFour)
                     .Comment("belongs to the frame")
                     .Application("XMP DataXMP", {'x'})
                     .Image(0, 0, 1, 1, 2, LiteralCodes({1}))
                     .Comment("first\r\nsecond")
                     .Comment("third")
                     .Trailer()
                     .bytes());
    EXPECT_EQ(gif.Comments(), (std::vector<std::string>{"first", "second", "", "third"}));
    ASSERT_EQ(gif.Frame(0).Extensions().size(), 1u);
    EXPECT_EQ(gif.Frame(0).Extensions()[0].Kind, ExtensionKind::Comment);
    EXPECT_EQ(gif.Frame(0).Extensions()[0].Text(), "belongs to the frame");
    EXPECT_FALSE(gif.Looping()) << "only NETSCAPE2.0 and ANIMEXTS1.0 blocks loop";

    LoadGif(gif, GifBuilder().Screen(1, 1, kFour).Application("ANIMEXTS1.0", {1, 3, 0})
                     .Image(0, 0, 1, 1, 2, LiteralCodes({1})).Trailer().bytes());
    EXPECT_TRUE(gif.Looping());
    EXPECT_EQ(gif.RepeatCount(), 3);

    EXPECT_EQ(LoadError(GifBuilder().Screen(1, 1, kFour).Raw({'!', 0x0A, 0}).Image(0, 0, 1, 1, 2, LiteralCodes({1}))
                            .Trailer().bytes()),
              "Unrecognized extension block: 0A");
    EXPECT_EQ(LoadError(GifBuilder().Screen(1, 1, kFour).Raw({'!', 0xAB, 0}).Trailer().bytes()),
              "Unrecognized extension block: AB");
}

TEST(GifReader, BadFilesFailWithTheirMessages) {
    // An unknown block introducer where no image follows.
    EXPECT_EQ(LoadError(GifBuilder().Screen(1, 1, kFour).Raw({'x', 1, 2, 3}).bytes()), "Stream read error");
    TGIFImage unknownBlock;
    EXPECT_THROW(LoadGif(unknownBlock, GifBuilder().Screen(1, 1, kFour).Raw({'x', 1, 2, 3}).bytes()),
                 EInvalidGraphicOperation);
    // No colour table anywhere: the frame is refused when it is decoded at load.
    EXPECT_EQ(LoadError(GifBuilder().Screen(1, 1, {}).Image(0, 0, 1, 1, 2, LiteralCodes({1})).Trailer().bytes()),
              "Wrong number of colors; must be a power of 2");
    TGIFImage gif;
    try {
        LoadGif(gif, GifBuilder().Screen(1, 1, {}).Image(0, 0, 1, 1, 2, LiteralCodes({1})).Trailer().bytes());
    } catch (const EInvalidGraphicOperation&) {
    }
    EXPECT_EQ(gif.FrameCount(), 0) << "the frame that failed is removed";
    EXPECT_TRUE(gif.Empty());

    // Ends inside the image descriptor, inside the local table, before the code size.
    const Bytes head = GifBuilder().Screen(1, 1, kFour).bytes();
    for (const Bytes& tail : {Bytes{',', 0, 0, 0}, Bytes{',', 0, 0, 0, 0, 1, 0, 1, 0, 0x81, 1, 2, 3},
                              Bytes{',', 0, 0, 0, 0, 1, 0, 1, 0, 0}}) {
        Bytes file = head;
        file.insert(file.end(), tail.begin(), tail.end());
        TGIFImage cut;
        try {
            LoadGif(cut, file);
            ADD_FAILURE() << "a cut image block loaded";
        } catch (const EReadError& e) {
            EXPECT_STREQ(e.what(), "Stream read error");
        }
        EXPECT_EQ(cut.FrameCount(), 0);
    }

    // A file that ends inside the screen descriptor or the global table loads as what it has.
    Bytes shortScreen = {'G', 'I', 'F', '8', '9', 'a', 5, 0};
    LoadGif(gif, shortScreen);
    EXPECT_EQ(gif.FrameCount(), 0);
    EXPECT_EQ(gif.ScreenWidth(), 5);
}

TEST(GifReader, OversizedFramesFailCleanly) {
    // 65535 x 65535 declared, almost no data: the size check refuses before allocating.
    const Bytes file = GifBuilder().Screen(65535, 65535, kFour).Image(0, 0, 65535, 65535, 2, LiteralCodes({1, 2}))
                           .Trailer().bytes();
    TGIFImage gif;
    EXPECT_THROW(LoadGif(gif, file), EInvalidGraphic);
    EXPECT_EQ(gif.FrameCount(), 0);

    // A frame of width 0 takes the screen's width; with a screen of width 0 it is empty.
    LoadGif(gif, GifBuilder().Screen(3, 1, kFour).Image(0, 0, 0, 0, 2, LiteralCodes({1, 2, 3})).Trailer().bytes());
    EXPECT_EQ(gif.Width(), 3);
    EXPECT_EQ(Indices(gif), (std::vector<uint32_t>{1, 2, 3}));
    LoadGif(gif, GifBuilder().Screen(0, 0, kFour).Image(0, 0, 0, 0, 2, LiteralCodes({1})).Trailer().bytes());
    EXPECT_EQ(gif.Width(), 0);
    EXPECT_TRUE(gif.Empty());
    TBitmap target(2, 2);
    gif.Draw(target, Rect(0, 0, 2, 2));
    EXPECT_EQ(target.Pixel(0, 0), kWhite);
}

TEST(GifReader, MangledFilesNeverCrash) {
    // Every single-byte change of a small valid file either loads or fails with our error.
    std::vector<int> list = {256};
    for (int i = 0; i < 250; ++i) list.push_back((i * 37) % 256);
    list.push_back(257);
    std::vector<TColor> colours(256);
    for (int i = 0; i < 256; ++i) colours[size_t(i)] = RGBColor(uint8_t(i), uint8_t(i * 5), uint8_t(i * 11));
    const Bytes valid = GifBuilder()
                            .Screen(20, 15, colours)
                            .GraphicControl(1, 5, 3)
                            .Image(0, 0, 20, 15, 8, PackCodes(list, 9), true)
                            .Comment("c")
                            .Trailer()
                            .bytes();
    const size_t tableEnd = 13 + 768;
    uint32_t seed = 99;
    for (size_t pos = 0; pos < valid.size(); ++pos) {
        if (pos >= 13 && pos < tableEnd) continue;  // colours change nothing structural
        for (int k = 0; k < 6; ++k) {
            seed = seed * 1664525u + 1013904223u;
            Bytes file = valid;
            file[pos] = k == 0 ? 0 : k == 1 ? 0xFF : uint8_t(seed >> 24);
            TGIFImage gif;
            try {
                LoadGif(gif, file);
                TBitmap target(8, 8);
                gif.Draw(target, Rect(0, 0, 8, 8));
            } catch (const EImbrixError&) {
            }
        }
        // And every truncation.
        TGIFImage gif;
        try {
            LoadGif(gif, Bytes(valid.begin(), valid.begin() + long(pos)));
        } catch (const EImbrixError&) {
        }
    }
}

TEST(GifReader, PictureContainerPicksTheGifClassByExtension) {
    TFileFormatsList& table = PictureFormatTable();
    table.AddPictureFormat("gif", "CompuServe GIF Image", &TGIFImage::ClassInfo);
    testsupport::TempDir dir;
    const std::string path = dir.file("picture.GIF");
    testsupport::WriteFile(path, GifBuilder().Screen(3, 2, kFour).Image(0, 0, 3, 2, 2, LiteralCodes({1, 2, 3, 0, 1, 2}))
                                     .Trailer().bytes());
    TPicture picture;
    picture.LoadPictureFile(path);
    table.RemovePictureClass(&TGIFImage::ClassInfo);
    ASSERT_NE(picture.Graphic(), nullptr);
    EXPECT_EQ(picture.Graphic()->ClassType(), &TGIFImage::ClassInfo);
    EXPECT_TRUE(picture.Graphic()->Transparent) << "GIF pictures start with transparency on";
    EXPECT_EQ(picture.Width(), 3);
    EXPECT_EQ(picture.Height(), 2);
    EXPECT_TRUE(picture.Graphic()->CanWrite());
}
