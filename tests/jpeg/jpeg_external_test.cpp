// TJPEGImage against independent decoders and encoders (djpeg/cjpeg of libjpeg-turbo-progs,
// Pillow, ImageMagick) and the shared corpus. Each test skips when its tool is missing.
#include <gtest/gtest.h>

#include "graphics/errors.h"
#include "graphics/stream.h"
#include "jpeg/jpeg_image.h"
#include "jpeg_test_util.h"
#include "tests/support/test_support.h"

using namespace jpegtest;
using testsupport::HaveProgram;
using testsupport::RunCommand;

namespace {

const char* const kPython = "/usr/bin/python3";
const char* const kConvert = "/usr/bin/convert";

bool HavePillow() { return HaveProgram(kPython) && RunCommand(std::string(kPython) + " -c 'import PIL' 2>/dev/null") == 0; }

TBitmap DecodeFile(const std::string& path) {
    TJPEGImage jpg;
    jpg.ReadPictureFile(path);
    return DrawTo24Bit(jpg);
}

}  // namespace

TEST(JpegExternal, OurFilesDecodeTheSameWithDjpegAndPillow) {
    testsupport::TempDir dir;
    const TBitmap source = SmoothBitmap(133, 71);
    for (const bool progressive : {false, true}) {
        SCOPED_TRACE(progressive ? "progressive" : "baseline");
        const std::string jpgPath = dir.file(progressive ? "p.jpg" : "b.jpg");
        testsupport::WriteFile(jpgPath, Encode(source, 85, progressive));
        const TBitmap ours = DecodeFile(jpgPath);
        EXPECT_LT(Compare(ours, source).mean, 3.0) << Compare(ours, source).Describe();

        if (HaveProgram("djpeg")) {
            const std::string ppm = dir.file("djpeg.ppm");
            ASSERT_EQ(RunCommand("djpeg -outfile " + Quote(ppm) + " " + Quote(jpgPath)), 0);
            const Distance d = Compare(ours, ReadPnm(ppm));
            // Same library, same decoding parameters; block smoothing only touches
            // progressive files, so allow a little there.
            EXPECT_LE(d.max, progressive ? 8 : 0) << "djpeg: " << d.Describe();
        }
        if (HavePillow()) {
            const std::string ppm = dir.file("pillow.ppm");
            const std::string script = "from PIL import Image; import sys; "
                                       "Image.open(sys.argv[1]).convert('RGB').save(sys.argv[2])";
            ASSERT_EQ(RunCommand(std::string(kPython) + " -c " + Quote(script) + " " + Quote(jpgPath) + " " +
                                 Quote(ppm)),
                      0);
            const Distance d = Compare(ours, ReadPnm(ppm));
            EXPECT_LE(d.max, 8) << "Pillow: " << d.Describe();
            EXPECT_LT(d.mean, 1.0) << "Pillow: " << d.Describe();
        }
    }
}

TEST(JpegExternal, CjpegFilesDecodeLikeDjpeg) {
    if (!HaveProgram("cjpeg") || !HaveProgram("djpeg")) GTEST_SKIP() << "cjpeg/djpeg not installed";
    testsupport::TempDir dir;
    const TBitmap source = testsupport::NoiseBitmap(61, 45, 9);
    const std::string ppm = dir.file("source.ppm");
    WritePpm(source, ppm);
    struct Case {
        const char* name;
        const char* options;
    };
    for (const Case c : {Case{"default", ""}, Case{"444 q100", "-quality 100 -sample 1x1"},
                         Case{"restart markers", "-restart 1"}, Case{"optimized", "-optimize"},
                         Case{"arithmetic", "-arithmetic"}}) {
        SCOPED_TRACE(c.name);
        const std::string jpg = dir.file("c.jpg");
        const std::string back = dir.file("c.ppm");
        ASSERT_EQ(RunCommand(std::string("cjpeg ") + c.options + " -outfile " + Quote(jpg) + " " + Quote(ppm)), 0);
        ASSERT_EQ(RunCommand("djpeg -outfile " + Quote(back) + " " + Quote(jpg)), 0);
        const Distance d = Compare(DecodeFile(jpg), ReadPnm(back));
        EXPECT_EQ(d.max, 0) << d.Describe();
    }
}

TEST(JpegExternal, CmykFilesComeOutInTheirColours) {
    if (!HaveProgram(kConvert)) GTEST_SKIP() << "ImageMagick not installed";
    testsupport::TempDir dir;
    const TBitmap source = SmoothBitmap(64, 40);
    const std::string ppm = dir.file("source.ppm");
    WritePpm(source, ppm);
    const std::string jpg = dir.file("cmyk.jpg");
    ASSERT_EQ(RunCommand(std::string(kConvert) + " " + Quote(ppm) + " -colorspace CMYK -quality 95 " + Quote(jpg)), 0);
    TJPEGImage image;
    image.ReadPictureFile(jpg);
    const TBitmap& decoded = image.DecodedBitmap();
    EXPECT_EQ(decoded.PixelFormat(), TPixelFormat::pf24bit);
    const Distance d = Compare(DrawTo24Bit(image), source);
    EXPECT_LT(d.mean, 4.0) << d.Describe();
}

TEST(JpegExternal, CorpusSamplesLoad) {
    REQUIRE_CORPUS(corpus);
    const auto dir = corpus / "pillow-samples";
    const TBitmap reference = ReadPnm((dir / "reference" / "hopper.ppm").string());

    TJPEGImage colour;
    colour.ReadPictureFile((dir / "jpeg" / "hopper.jpg").string());
    EXPECT_EQ(colour.Width(), 128);
    EXPECT_EQ(colour.Height(), 128);
    EXPECT_FALSE(colour.Data().Grayscale);
    const Distance dc = Compare(DrawTo24Bit(colour), reference);
    EXPECT_LT(dc.mean, 3.0) << dc.Describe();

    TJPEGImage gray;
    gray.ReadPictureFile((dir / "jpeg" / "hopper_gray.jpg").string());
    EXPECT_TRUE(gray.Data().Grayscale);
    EXPECT_EQ(gray.DecodedBitmap().PixelFormat(), TPixelFormat::pf8bit);
    EXPECT_LE(gray.DecodedBitmap().Palette().size(), 236u);
    const TBitmap drawn = DrawTo24Bit(gray);
    for (int y = 0; y < drawn.Height(); ++y)
        for (int x = 0; x < drawn.Width(); ++x) {
            const TColor c = drawn.Pixel(x, y);
            ASSERT_TRUE(GetRValue(c) == GetGValue(c) && GetGValue(c) == GetBValue(c)) << x << "," << y;
        }
}
