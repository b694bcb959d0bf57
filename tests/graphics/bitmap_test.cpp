#include <gtest/gtest.h>

#include "graphics/bitmap.h"
#include "graphics/errors.h"
#include "graphics/picture_to_bitmap.h"
#include "graphics/size_check.h"
#include "graphics/stream.h"
#include "tests/support/test_support.h"

TEST(Bitmap, NewAndEnlargedPixelsAreWhite) {
    TBitmap bmp(3, 2, TPixelFormat::pf24bit);
    EXPECT_EQ(bmp.Pixel(2, 1), clWhite);
    bmp.SetPixel(0, 0, RGBColor(10, 20, 30));
    bmp.SetSize(5, 4);
    EXPECT_EQ(bmp.Pixel(0, 0), RGBColor(10, 20, 30)) << "kept pixel";
    EXPECT_EQ(bmp.Pixel(4, 3), clWhite);
    EXPECT_EQ(bmp.RowStride(), 16u) << "rows are padded to 4 bytes";

    TBitmap mono(9, 1, TPixelFormat::pf1bit);
    mono.SetRawPixel(0, 0, 0);
    mono.SetSize(12, 2);
    EXPECT_EQ(mono.Pixel(0, 0), clBlack);
    for (int x = 1; x < 12; ++x) EXPECT_EQ(mono.Pixel(x, 0), clWhite) << x;
}

TEST(Bitmap, ScanLineOutOfRangeFails) {
    TBitmap bmp(2, 2, TPixelFormat::pf24bit);
    EXPECT_NO_THROW(bmp.ScanLine(1));
    try {
        bmp.ScanLine(2);
        FAIL() << "no error";
    } catch (const EInvalidGraphicOperation& e) {
        EXPECT_STREQ(e.what(), "Scan line index out of range");
    }
    EXPECT_THROW(bmp.ScanLine(-1), EInvalidGraphicOperation);
}

TEST(Bitmap, RefusedSizesLeaveNothingHalfMade) {
    for (const bool overwrite : {false, true}) {
        TBitmap bmp(10, 10, TPixelFormat::pf24bit);
        EXPECT_THROW(overwrite ? bmp.SetSizeForOverwrite(100000, 100000) : bmp.SetSize(100000, 100000),
                     EInvalidGraphic);
        // Empty, not the old size over missing pixels.
        EXPECT_EQ(bmp.Width(), 0);
        EXPECT_EQ(bmp.Height(), 0);
        EXPECT_THROW(bmp.ScanLine(0), EInvalidGraphicOperation);
    }
    // An empty side does not let the other run to billions of rows for a reader to walk.
    EXPECT_THROW(TBitmap(0, 2000000000, TPixelFormat::pf24bit), EInvalidGraphic);
    EXPECT_NO_THROW(TBitmap(0, 1000, TPixelFormat::pf24bit));

    // Reading a whole file into memory is bounded by the same allocation limit.
    testsupport::LimitsGuard guard;
    CurrentPictureLimits().maxAllocation = 64;
    TMemoryStream small(std::vector<uint8_t>(64, 1)), large(std::vector<uint8_t>(65, 1));
    EXPECT_EQ(small.ReadRest().size(), 64u);
    EXPECT_THROW(large.ReadRest(), EInvalidGraphic);
}

TEST(Bitmap, PixelFormatConversionGoesThroughThePalette) {
    TBitmap bmp(4, 1, TPixelFormat::pf8bit);
    bmp.SetPalette({TRGBQuad{1, 2, 3, 0}, TRGBQuad{200, 100, 50, 0}});
    bmp.SetRawPixel(0, 0, 1);
    bmp.SetRawPixel(1, 0, 0);
    bmp.SetPixelFormat(TPixelFormat::pf24bit);
    const uint8_t* row = bmp.ScanLine(0);
    EXPECT_EQ(row[0], 200);
    EXPECT_EQ(row[1], 100);
    EXPECT_EQ(row[2], 50);
    EXPECT_EQ(row[3], 1);
    EXPECT_EQ(row[5], 3);

    bmp.SetPixelFormat(TPixelFormat::pf16bit);
    EXPECT_EQ(bmp.Pixel(0, 0), RGBColor(49, 101, 206)) << "5-6-5 rounds down and expands";
    bmp.SetPixelFormat(TPixelFormat::pf1bit);
    EXPECT_EQ(bmp.Pixel(1, 0), clBlack);
}

TEST(Bitmap, ZeroWideBitmapsChangeFormatWithoutTouchingRows) {
    // Rows exist but hold no bytes; the sanitizer build caught a null pointer here.
    for (TPixelFormat format : {TPixelFormat::pf24bit, TPixelFormat::pf32bit, TPixelFormat::pf8bit}) {
        TBitmap bmp(0, 3, TPixelFormat::pf24bit);
        bmp.SetPixelFormat(format);
        EXPECT_EQ(bmp.PixelFormat(), format);
        EXPECT_EQ(bmp.Height(), 3);
    }
}

TEST(Bitmap, DrawStretchesNearestAndSkipsTransparentColour) {
    TBitmap src(2, 1, TPixelFormat::pf24bit);
    src.SetPixel(0, 0, RGBColor(255, 0, 0));
    src.SetPixel(1, 0, RGBColor(0, 0, 255));
    TBitmap dst(4, 2, TPixelFormat::pf24bit);
    src.Draw(dst, Rect(0, 0, 4, 2));
    EXPECT_EQ(dst.Pixel(0, 1), RGBColor(255, 0, 0));
    EXPECT_EQ(dst.Pixel(1, 0), RGBColor(255, 0, 0));
    EXPECT_EQ(dst.Pixel(2, 0), RGBColor(0, 0, 255));
    EXPECT_EQ(dst.Pixel(3, 1), RGBColor(0, 0, 255));

    TBitmap white(4, 2, TPixelFormat::pf24bit);
    src.Transparent = true;
    src.SetTransparentColor(RGBColor(0, 0, 255));
    src.Draw(white, Rect(0, 0, 2, 1));
    EXPECT_EQ(white.Pixel(0, 0), RGBColor(255, 0, 0));
    EXPECT_EQ(white.Pixel(1, 0), clWhite) << "the transparent colour leaves the target as it was";
}

TEST(Bitmap, MeaningfulAlphaBlendsOntoTheTarget) {
    TBitmap src(1, 1, TPixelFormat::pf32bit);
    src.SetRawPixel(0, 0, 0x80000000u);  // black at half opacity
    src.AlphaMeaningful = true;
    TBitmap dst(1, 1, TPixelFormat::pf24bit);
    src.Draw(dst, Rect(0, 0, 1, 1));
    EXPECT_EQ(dst.Pixel(0, 0), RGBColor(127, 127, 127));
}

TEST(Bitmap, FillRectOnPackedPixelsMatchesPixelByPixel) {
    for (TPixelFormat format : {TPixelFormat::pf1bit, TPixelFormat::pf4bit}) {
        for (int left = 0; left < 10; ++left)
            for (int right = left; right < 21; ++right) {
                TBitmap filled(21, 2, format), expected(21, 2, format);
                filled.FillRect(Rect(0, 0, 21, 2), clBlack);
                expected.FillRect(Rect(0, 0, 21, 2), clBlack);
                filled.FillRect(Rect(left, 1, right, 2), clWhite);
                for (int x = left; x < right; ++x) expected.SetPixel(x, 1, clWhite);
                for (int y = 0; y < 2; ++y)
                    for (int x = 0; x < 21; ++x)
                        ASSERT_EQ(filled.RawPixel(x, y), expected.RawPixel(x, y))
                            << "bits " << filled.BitsPerPixel() << ", fill " << left << ".." << right << ", pixel (" << x << ", " << y << ")";
            }
    }
}

// The working bitmap: a plain 24-bit picture is taken over (and the source left a real empty
// bitmap), anything else is drawn onto white, leaving the source as it was.
TEST(Bitmap, PictureToBitmapTakesOnlyPlainPicturesOver) {
    struct Case {
        const char* name;
        TPixelFormat format;
        bool transparent;
        bool alpha;
        bool takenOver;
    };
    const Case cases[] = {
        {"plain 24-bit", TPixelFormat::pf24bit, false, false, true},
        {"transparent 24-bit", TPixelFormat::pf24bit, true, false, false},
        {"32-bit with alpha", TPixelFormat::pf32bit, false, true, false},
        {"8-bit indexed", TPixelFormat::pf8bit, false, false, false},
    };
    for (const Case& c : cases) {
        auto source = std::make_unique<TBitmap>(3, 2, c.format);
        source->SetPixel(1, 1, RGBColor(255, 0, 0));
        source->Transparent = c.transparent;
        source->AlphaMeaningful = c.alpha;
        if (c.alpha)
            for (int y = 0; y < 2; ++y)
                for (int x = 0; x < 3; ++x) source->SetRawPixel(x, y, source->RawPixel(x, y) | 0xFF000000u);
        TBitmap* before = source.get();
        std::unique_ptr<TBitmap> taken = before->TakePlainBitmap();
        EXPECT_EQ(taken != nullptr, c.takenOver) << c.name;
        if (taken) {
            EXPECT_EQ(before->Width(), 0) << c.name << ": the source keeps no size without pixels";
            EXPECT_EQ(taken->Pixel(1, 1), RGBColor(255, 0, 0)) << c.name;
            continue;
        }
        EXPECT_EQ(before->Width(), 3) << c.name << ": a refused take leaves the source alone";
        std::unique_ptr<TBitmap> drawn = PictureToBitmap(std::move(source));
        ASSERT_EQ(drawn->PixelFormat(), TPixelFormat::pf24bit) << c.name;
        ASSERT_EQ(drawn->Width(), 3) << c.name;
        EXPECT_EQ(drawn->Pixel(1, 1), RGBColor(255, 0, 0)) << c.name;
    }
}
