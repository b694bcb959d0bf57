// Run-length bitmaps decode straight into their result (indexed when every pixel is set,
// 32-bit with transparent gaps otherwise), and the working bitmap of a 32-bit picture is
// blended onto white in place: both must give what drawing onto a white bitmap gives.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "graphics/bitmap.h"
#include "graphics/picture_to_bitmap.h"
#include "graphics/stream.h"
#include "tests/graphics/bmp_builder.h"
#include "tests/support/test_support.h"

using namespace testbmp;
using namespace testsupport;

namespace {

// The bytes of every row, padding included, or where two bitmaps first differ.
std::string FirstDifference(const TBitmap& a, const TBitmap& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height() || a.PixelFormat() != b.PixelFormat() ||
        a.RowStride() != b.RowStride())
        return "size, format or stride differ";
    for (int y = 0; y < a.Height(); ++y)
        for (size_t i = 0; i < a.RowStride(); ++i)
            if (a.ScanLine(y)[i] != b.ScanLine(y)[i])
                return "row " + std::to_string(y) + " byte " + std::to_string(i) + ": " +
                       std::to_string(a.ScanLine(y)[i]) + " vs " + std::to_string(b.ScanLine(y)[i]);
    return "";
}

// The working bitmap taken over (blended in place) against the one drawn onto white.
std::string InPlaceAgainstDrawn(const TBitmap& picture) {
    TBitmap copy = picture;
    const std::unique_ptr<TBitmap> drawn = PictureToBitmap(copy);
    const std::unique_ptr<TBitmap> taken = PictureToBitmap(std::make_unique<TBitmap>(picture));
    return FirstDifference(*taken, *drawn);
}

const TRGBQuad kGray = Quad(128, 128, 128), kRed = Quad(255, 0, 0), kGreen = Quad(0, 255, 0),
               kBlue = Quad(0, 0, 255);

}  // namespace

TEST(BmpRunLength, DecodedPixelsAndTheirWorkingBitmap) {
    // Palette 0 gray, 1 red, 2 green, 3 blue; rows are listed top first, as shown.
    struct Case {
        const char* name;
        uint16_t bits;
        int width;
        std::vector<uint8_t> data;
        bool indexed;  // every pixel set: the picture stays indexed
        std::vector<std::string> rows;
    };
    const std::string W = "FFFFFF", R = "FF0000", G = "00FF00", B = "0000FF", Y = "808080";
    auto row = [](std::initializer_list<std::string> px) {
        std::string out;
        for (const std::string& p : px) out += (out.empty() ? "" : " ") + p;
        return out;
    };
    const Case cases[] = {
        {"RLE8 runs and an odd absolute run", 8, 5, {5, 1, 0, 0, 0, 3, 2, 3, 2, 0, 2, 0, 0, 1}, true,
         {row({G, B, G, Y, Y}), row({R, R, R, R, R})}},
        {"RLE8 delta right and up", 8, 5, {2, 1, 0, 2, 1, 1, 2, 3, 0, 1}, false,
         {row({W, W, W, B, B}), row({R, R, W, W, W})}},
        {"RLE8 data ends inside the first row", 8, 5, {3, 2}, false, {row({W, W, W, W, W}), row({G, G, G, W, W})}},
        {"RLE8 run clipped, early end of line", 8, 5, {9, 1, 0, 0, 1, 3, 0, 0, 0, 1}, false,
         {row({B, W, W, W, W}), row({R, R, R, R, R})}},
        {"RLE4 alternating run, absolute run of odd length", 4, 5, {5, 0x12, 0, 0, 0, 5, 0x30, 0x21, 0x30, 0, 0, 1},
         true, {row({B, Y, G, R, B}), row({R, G, R, G, R})}},
        {"RLE4 runs starting on odd pixels", 4, 3, {1, 0x10, 2, 0x23, 0, 0, 3, 0x30, 0, 1}, true,
         {row({B, Y, B}), row({R, G, B})}},
        {"RLE4 delta, absolute run clipped", 4, 5, {0, 2, 1, 0, 0, 6, 0x12, 0x31, 0x23, 0, 0, 0, 5, 0x33, 0, 1}, false,
         {row({B, B, B, B, B}), row({W, R, G, B, R})}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DibSpec s;
        s.bitCount = c.bits;
        s.compression = c.bits == 8 ? 1 : 2;
        s.width = c.width;
        s.height = int32_t(c.rows.size());
        s.palette = {kGray, kRed, kGreen, kBlue};
        s.colorsUsed = 4;
        s.pixels = c.data;
        const TBitmap loaded = ReadBmp(BuildBmp(s));
        if (c.indexed) {
            EXPECT_EQ(loaded.PixelFormat(), c.bits == 8 ? TPixelFormat::pf8bit : TPixelFormat::pf4bit);
        } else {
            EXPECT_EQ(loaded.PixelFormat(), TPixelFormat::pf32bit);
            EXPECT_TRUE(loaded.AlphaMeaningful);
        }
        TBitmap copy = loaded;
        const TBitmap flat = Flatten(copy);
        for (int y = 0; y < flat.Height(); ++y) EXPECT_EQ(Row(flat, y), c.rows[size_t(y)]) << "row " << y;
        EXPECT_EQ(InPlaceAgainstDrawn(loaded), "");
    }
}

TEST(BmpRunLength, BlendingInPlaceMatchesDrawingOntoWhite) {
    // Every width up to a whole padding cycle, alpha from clear to opaque, and a picture whose
    // alpha byte does not count.
    for (int width = 1; width <= 5; ++width) {
        for (const bool meaningful : {true, false}) {
            SCOPED_TRACE("width " + std::to_string(width) + (meaningful ? ", alpha" : ", no alpha"));
            TBitmap picture(width, 3, TPixelFormat::pf32bit);
            const uint8_t alphas[] = {0, 1, 127, 128, 254, 255};
            int k = 0;
            for (int y = 0; y < 3; ++y)
                for (int x = 0; x < width; ++x, ++k)
                    picture.SetRawPixel(x, y, uint32_t(k * 37 % 256) | uint32_t(k * 91 % 256) << 8 |
                                                  uint32_t(k * 53 % 256) << 16 | uint32_t(alphas[k % 6]) << 24);
            picture.AlphaMeaningful = meaningful;
            EXPECT_EQ(InPlaceAgainstDrawn(picture), "");
        }
    }
}

TEST(BmpRunLength, SuiteFilesWithSkippedPixels) {
    REQUIRE_CORPUS(corpus);
    if (!std::filesystem::exists("/usr/bin/convert")) GTEST_SKIP() << "ImageMagick missing";
    // The pixels the deltas reach have ImageMagick's colours (it paints the others opaque);
    // the others come out white. (Pillow misplaces the pixels after a delta.)
    TempDir temp;
    for (const char* file : {"q/pal8rletrns.bmp", "q/pal4rletrns.bmp"}) {
        SCOPED_TRACE(file);
        const std::filesystem::path source = corpus / "bmpsuite" / file;
        const std::string rendered = temp.file("reference.ppm");
        const std::string command = "/usr/bin/convert '" + source.string() + "' -depth 8 'ppm:" + rendered + "'";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        std::ifstream ppm(rendered, std::ios::binary);
        std::string magic;
        int width = 0, height = 0, maxValue = 0;
        ppm >> magic >> width >> height >> maxValue;
        ppm.get();
        std::vector<uint8_t> rgb(size_t(width) * size_t(height) * 3);
        ppm.read(reinterpret_cast<char*>(rgb.data()), std::streamsize(rgb.size()));
        ASSERT_TRUE(magic == "P6" && maxValue == 255 && ppm) << "ImageMagick's rendering unreadable";

        TBitmap loaded;
        loaded.ReadPictureFile(source.string());
        ASSERT_EQ(loaded.PixelFormat(), TPixelFormat::pf32bit);
        ASSERT_EQ(loaded.Width(), width);
        ASSERT_EQ(loaded.Height(), height);
        const std::unique_ptr<TBitmap> working = PictureToBitmap(std::make_unique<TBitmap>(loaded));
        int skipped = 0, wrong = 0;
        std::string firstWrong;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const bool reached = (loaded.RawPixel(x, y) >> 24) == 255;
                skipped += !reached;
                const uint8_t* p = &rgb[(size_t(y) * size_t(width) + size_t(x)) * 3];
                const TColor want = reached ? RGBColor(p[0], p[1], p[2]) : clWhite;
                if (working->Pixel(x, y) != want && wrong++ == 0)
                    firstWrong = "(" + std::to_string(x) + "," + std::to_string(y) + ")";
            }
        EXPECT_GT(skipped, 0);
        EXPECT_EQ(wrong, 0) << "first at " << firstWrong;
    }
}
