// Results made for mail and upload: PNG results, checked by independent readers, and JPEG
// results kept under a size limit at the highest quality that fits.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "app/core/jpeg_size_limit.h"
#include "app/core/picture_formats.h"
#include "app/core/pipeline.h"
#include "graphics/bitmap.h"
#include "graphics/errors.h"
#include "graphics/picture.h"
#include "graphics/picture_to_bitmap.h"
#include "graphics/stream.h"
#include "jpeg/jpeg_image.h"
#include "readers/png_writer.h"
#include "tests/app/recording_host.h"
#include "tests/support/reference_decoders.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using testsupport::NoiseBitmap;
using testsupport::TempDir;

namespace {

// A photograph's kind of content: smooth shading with fine grain, so JPEG sizes fall
// steadily with the quality.
TBitmap PhotoLike(int w, int h, uint32_t seed = 3) {
    TBitmap bmp = NoiseBitmap(w, h, seed);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = bmp.ScanLine(y);
        for (int x = 0; x < w; ++x) {
            row[3 * x] = static_cast<uint8_t>((x * 255 / w + row[3 * x] / 8) & 0xFF);
            row[3 * x + 1] = static_cast<uint8_t>((y * 255 / h + row[3 * x + 1] / 8) & 0xFF);
            row[3 * x + 2] = static_cast<uint8_t>(((x + y) * 127 / (w + h) + row[3 * x + 2] / 8) & 0xFF);
        }
    }
    return bmp;
}

TBitmap Flat(int w, int h, uint8_t r, uint8_t g, uint8_t b) {
    TBitmap bmp(w, h, TPixelFormat::pf24bit);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = bmp.ScanLine(y) + 3 * x;
            p[0] = b, p[1] = g, p[2] = r;
        }
    return bmp;
}

// An 8-bit palette picture: the writer converts it through the palette.
TBitmap Indexed(int w, int h) {
    TBitmap bmp(w, h, TPixelFormat::pf8bit);
    std::vector<TRGBQuad> palette(256);
    for (int i = 0; i < 256; ++i) palette[size_t(i)] = TRGBQuad{uint8_t(i), uint8_t(255 - i), uint8_t(i * 7), 0};
    bmp.SetPalette(palette);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) bmp.ScanLine(y)[x] = static_cast<uint8_t>(x * 13 + y * 5);
    return bmp;
}

TBitmap As24Bit(const TBitmap& bmp) {
    TBitmap copy(bmp);
    copy.SetPixelFormat(TPixelFormat::pf24bit);
    return copy;
}

int64_t JpegSize(TBitmap& bmp, int quality) {
    TJPEGImage jpg;
    jpg.SetQuality(quality);
    jpg.AssignBitmap(bmp);
    jpg.EncodeData();
    return static_cast<int64_t>(jpg.Data().Bytes.size());
}

void RegisterFormats() {
    RegisterPictureFormats();
    TFileFormatsList& table = PictureFormatTable();
    if (!table.FindPictureClass("jpg")) table.AddPictureFormat("jpg", "JPEG", &TJPEGImage::ClassInfo);
}

TBitmap LoadOurs(const std::string& path) {
    TPicture picture;
    picture.LoadPictureFile(path);
    return *PictureToBitmap(*picture.Graphic());
}

}  // namespace

TEST(PngResult, RoundTripsThroughPillowPngcheckAndOurReader) {
    RegisterFormats();
    if (!testsupport::HavePillow()) GTEST_SKIP() << "Debian's Python has no Pillow";
    const bool pngcheck = testsupport::HaveProgram("pngcheck");
    struct Case {
        const char* name;
        std::function<TBitmap()> make;
    } cases[] = {
        {"1x1", [] { return NoiseBitmap(1, 1, 9); }},
        {"odd rows 3x2", [] { return NoiseBitmap(3, 2, 4); }},
        {"wide 257x3", [] { return NoiseBitmap(257, 3, 6); }},
        {"flat", [] { return Flat(100, 80, 12, 200, 77); }},
        {"8-bit palette", [] { return Indexed(70, 40); }},
        // Noise does not compress: several IDAT chunks.
        {"several IDAT chunks", [] { return NoiseBitmap(400, 300, 7); }},
    };
    TempDir dir;
    std::string written;  // for one pngcheck run over them all
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TBitmap source = c.make();
        const std::string path = dir.file(std::string(c.name) + ".png");
        {
            TFileStream out(path, TFileStream::Mode::CreateExclusive);
            WritePngPicture(source, out);
        }
        const TBitmap want = As24Bit(source);
        std::string where;
        const std::optional<TBitmap> pillow = testsupport::PillowDecode(path, "RGB");
        ASSERT_TRUE(pillow) << "Pillow refused " << path;
        EXPECT_EQ(testsupport::MaxDifference(*pillow, want, &where), 0) << "Pillow: " << where;
        EXPECT_EQ(testsupport::MaxDifference(LoadOurs(path), want, &where), 0) << "our reader: " << where;
        written += " '" + path + "'";
    }
    if (pngcheck) {
        EXPECT_EQ(testsupport::RunCommand("pngcheck -q" + written), 0) << "pngcheck" << written;
    }
    TMemoryStream sink;
    EXPECT_THROW(WritePngPicture(TBitmap(0, 5, TPixelFormat::pf24bit), sink), EInvalidGraphicOperation);
}

TEST(JpegSizeLimit, TakesTheHighestQualityThatFitsAndFlagsWhatCannotFit) {
    TBitmap photo = PhotoLike(320, 240);
    const int64_t at85 = JpegSize(photo, 85), at10 = JpegSize(photo, 10);
    ASSERT_GT(at85, at10 + 8 * 1024) << "the picture does not tell the qualities apart";
    const int between = static_cast<int>((at10 + at85) / 2 / 1024);
    struct Case {
        const char* name;
        int quality, limitKB;
        bool fitsAtRequested, over;
    } cases[] = {
        {"fits as asked", 85, static_cast<int>(at85 / 1024) + 1, true, false},
        {"lowered", 85, between, false, false},
        {"lowered from 100", 100, between, false, false},
        {"too small even at 10", 85, static_cast<int>(at10 / 1024) - 1, false, true},
        {"asked below the floor", 5, 1, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const LimitedJpeg fit = EncodeJpegWithinLimit(photo, c.quality, c.limitKB);
        const SizeLimitOutcome& o = fit.Outcome;
        const int64_t limit = int64_t(c.limitKB) * 1024;
        EXPECT_EQ(o.OverLimit, c.over);
        EXPECT_EQ(o.Bytes, int64_t(fit.Bytes.size()));
        EXPECT_EQ(o.RequestedQuality, c.quality);
        // The bytes are those of an encode at the quality reported.
        EXPECT_EQ(JpegSize(photo, o.Quality), o.Bytes) << "quality " << o.Quality;
        if (c.over) {
            EXPECT_EQ(o.Quality, std::min(c.quality, kMinLimitedJpegQuality));
            EXPECT_GT(o.Bytes, limit);
            EXPECT_NE(SizeLimitNote(o).find("Over the " + std::to_string(c.limitKB) + "K limit"), std::string::npos)
                << SizeLimitNote(o);
            continue;
        }
        EXPECT_LE(o.Bytes, limit);
        if (c.fitsAtRequested) {
            EXPECT_EQ(o.Quality, c.quality);
            EXPECT_EQ(SizeLimitNote(o), "");
        } else {
            EXPECT_LT(o.Quality, c.quality);
            EXPECT_GE(o.Quality, kMinLimitedJpegQuality);
            EXPECT_GT(JpegSize(photo, o.Quality + 1), limit) << "quality " << o.Quality + 1 << " fits as well";
            EXPECT_EQ(SizeLimitNote(o), "JPEG quality " + std::to_string(o.Quality) + " to stay under " +
                                            std::to_string(c.limitKB) + "K");
        }
    }
    EXPECT_THROW(EncodeJpegWithinLimit(photo, 0, 100), ERangeError);
}

class MailPipelineTest : public ::testing::Test {
protected:
    void SetUp() override { RegisterFormats(); }
    TempDir src, work;
    std::string WorkDir() const { return work.path().string() + "/"; }
};

TEST_F(MailPipelineTest, SizeLimitAppliesToJpegResultsOnlyAndTheTipTellsWhatItDid) {
    const std::string photo = src.file("photo.bmp"), shot = src.file("shot.jpg");
    PhotoLike(640, 480).WritePictureFile(photo);
    {
        TBitmap bmp = PhotoLike(200, 150, 8);
        TJPEGImage jpg;
        jpg.AssignBitmap(bmp);
        jpg.WritePictureFile(shot);
    }
    struct Case {
        const char* name;
        int outputType, limitKB;
        std::string source, result;
        bool limited, over;
    } cases[] = {
        {"jpg, lowered", 2, 20, photo, "photo.jpg", true, false},
        {"jpg, cannot fit", 2, 1, photo, "photo.jpg", true, true},
        {"same as a jpg source", 0, 1, shot, "shot.jpg", true, true},
        {"no limit", 2, 0, photo, "photo.jpg", false, false},
        {"png has no limit", 4, 1, photo, "photo.png", false, false},
        {"bmp has no limit", 1, 1, photo, "photo.bmp", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const auto& entry : fs::directory_iterator(work.path())) fs::remove(entry.path());
        RecordingHost host(WorkDir());
        host.settings.OutputType = c.outputType;
        host.settings.MaxJPEGKB = c.limitKB;
        host.scale.Scale = ScaleMode::FullSize;
        ASSERT_EQ(ProcessFiles(host, {c.source}), BatchOutcome::Completed) << (host.errors.empty() ? "" : host.errors[0]);
        const std::string result = WorkDir() + c.result;
        ASSERT_TRUE(fs::exists(result)) << result;
        ASSERT_EQ(host.limited.size(), c.limited ? 1u : 0u);
        const std::string tip = host.trays.InfoTip(TTray::Out, 0);
        if (!c.limited) {
            EXPECT_EQ(tip.find("limit"), std::string::npos) << tip;
            continue;
        }
        const SizeLimitOutcome& o = host.limited[0];
        EXPECT_EQ(int64_t(fs::file_size(result)), o.Bytes) << "the file is the encode that was chosen";
        EXPECT_EQ(o.OverLimit, c.over);
        EXPECT_EQ(o.OverLimit, o.Bytes > int64_t(c.limitKB) * 1024);
        EXPECT_NE(tip.find("\nFilesize: "), std::string::npos) << tip;
        EXPECT_NE(tip.find("\n" + SizeLimitNote(o)), std::string::npos) << tip;
        // "limited" follows "written": the tip's note belongs to the file as written.
        const auto written = std::find(host.events.begin(), host.events.end(), "written " + result);
        ASSERT_NE(written, host.events.end());
        EXPECT_EQ(*(written + 1), "limited " + result);
    }
}

TEST_F(MailPipelineTest, SameAsOriginalWritesPngForAPngSource) {
    if (!testsupport::HavePillow()) GTEST_SKIP() << "Debian's Python has no Pillow";
    // Sources made by Pillow, so our PNG reader and writer are not checking each other alone.
    const std::string script = std::string(testsupport::kSystemPython) + " -c \"from PIL import Image; import sys\n"
                               "im = Image.new('RGB', (37, 23))\n"
                               "im.putdata([((x * 7) % 256, (y * 11) % 256, (x * y) % 256) for y in range(23) for x in range(37)])\n"
                               "im.save(sys.argv[1]); im.save(sys.argv[2])\" ";
    const std::string lower = src.file("drawing.png"), upper = src.file("Screen.PNG"), tiff = src.file("scan.tif");
    ASSERT_EQ(testsupport::RunCommand(script + "'" + lower + "' '" + upper + "'"), 0);
    ASSERT_EQ(testsupport::RunCommand(std::string(testsupport::kSystemPython) +
                                      " -c \"from PIL import Image; Image.new('RGB', (8, 8), 'red').save('" + tiff + "')\""),
              0);
    RecordingHost host(WorkDir());
    host.settings.OutputType = kOutputTypeSame;
    host.scale.Scale = ScaleMode::FullSize;
    EXPECT_EQ(ProcessFiles(host, {lower, upper, tiff}), BatchOutcome::Failures);
    // The TIFF has no writer of its own type: its box stays.
    EXPECT_EQ(host.errors, std::vector<std::string>{"1 of 3 files could not be converted:\nscan.tif: Unknown output "
                                                    "file type for file:" + WorkDir() + "scan.tif"});
    EXPECT_EQ(host.trays.Paths(TTray::Out), (std::vector<std::string>{WorkDir() + "drawing.png", WorkDir() + "Screen.PNG"}));
    for (const std::string name : {"drawing.png", "Screen.PNG"}) {
        SCOPED_TRACE(name);
        const std::optional<TBitmap> source = testsupport::PillowDecode(src.file(name), "RGB");
        const std::optional<TBitmap> result = testsupport::PillowDecode(WorkDir() + name, "RGB");
        ASSERT_TRUE(source && result);
        std::string where;
        EXPECT_EQ(testsupport::MaxDifference(*result, *source, &where), 0) << where;
    }
    EXPECT_FALSE(fs::exists(WorkDir() + "scan.tif"));
}
