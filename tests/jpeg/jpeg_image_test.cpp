// TJPEGImage on its own: round trips, errors, lazy decoding, gray and 8-bit output, sharing.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>

#include <jpeglib.h>
#include <jerror.h>

#include "graphics/errors.h"
#include "graphics/size_check.h"
#include "graphics/stream.h"
#include "jpeg/jpeg_image.h"
#include "jpeg_test_util.h"
#include "tests/support/jpeg_scans.h"
#include "tests/support/test_support.h"

using namespace jpegtest;

namespace {

// Expects f to throw E with exactly the text want.
template <class E, class F>
void ExpectError(F&& f, const std::string& want) {
    try {
        f();
        ADD_FAILURE() << "no error; wanted \"" << want << "\"";
    } catch (const E& e) {
        EXPECT_EQ(std::string(e.what()), want);
    }
}

std::string JpegError(int code) { return "JPEG error #" + std::to_string(code); }

// Offset of the first start-of-frame marker (baseline or progressive).
size_t FindStartOfFrame(const std::vector<uint8_t>& bytes) {
    for (size_t i = 2; i + 9 < bytes.size(); ++i)
        if (bytes[i] == 0xFF && (bytes[i + 1] == 0xC0 || bytes[i + 1] == 0xC2)) return i;
    ADD_FAILURE() << "no SOF marker";
    return 0;
}

}  // namespace

TEST(JpegImage, RoundTripKeepsSizeColoursAndChannelOrder) {
    for (const auto& [w, h] : {std::pair{97, 61}, std::pair{1, 1}, std::pair{300, 1}, std::pair{1, 300}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        TBitmap source = SmoothBitmap(w, h);
        // A saturated corner tells red from blue: a swapped channel order cannot pass.
        source.FillRect(Rect(0, 0, std::min(w, 16), std::min(h, 16)), RGBColor(230, 10, 10));
        const std::vector<uint8_t> bytes = Encode(source, 95);
        ASSERT_GT(bytes.size(), 100u);
        EXPECT_EQ(bytes[0], 0xFF);
        EXPECT_EQ(bytes[1], 0xD8);

        TJPEGImage jpg;
        Load(jpg, bytes);
        EXPECT_EQ(jpg.Width(), w);
        EXPECT_EQ(jpg.Height(), h);
        EXPECT_EQ(jpg.DecodedBitmap().PixelFormat(), TPixelFormat::pf24bit);
        const TBitmap decoded = DrawTo24Bit(jpg);
        const Distance d = Compare(decoded, source);
        EXPECT_LT(d.mean, 3.0) << d.Describe();
        const TColor corner = decoded.Pixel(0, 0);
        EXPECT_GT(GetRValue(corner), 180) << std::hex << corner;
        EXPECT_LT(GetBValue(corner), 70) << std::hex << corner;
    }
}

TEST(JpegImage, QualityRangeAndEffect) {
    TJPEGImage jpg;
    EXPECT_EQ(jpg.Quality(), 90) << "default quality";
    ExpectError<ERangeError>([&] { jpg.SetQuality(0); }, "Range check error");
    ExpectError<ERangeError>([&] { jpg.SetQuality(101); }, "Range check error");
    EXPECT_EQ(jpg.Quality(), 90) << "a refused quality leaves the old one";

    TBitmap source = SmoothBitmap(64, 48);
    source.FillRect(Rect(10, 10, 30, 20), RGBColor(250, 250, 0));
    const std::vector<uint8_t> low = Encode(source, 1);
    const std::vector<uint8_t> high = Encode(source, 100);
    EXPECT_LT(low.size() * 3, high.size()) << "have " << low.size() << " and " << high.size() << " bytes";
    TJPEGImage a, b;
    Load(a, low);
    Load(b, high);
    const Distance dLow = Compare(DrawTo24Bit(a), source);
    const Distance dHigh = Compare(DrawTo24Bit(b), source);
    EXPECT_LT(dHigh.mean * 4, dLow.mean) << "q100: " << dHigh.Describe() << "; q1: " << dLow.Describe();
}

TEST(JpegImage, ZeroSizedBitmapGivesAnEmptyFile) {
    testsupport::TempDir dir;
    for (const auto& [w, h] : {std::pair{0, 0}, std::pair{0, 5}, std::pair{7, 0}}) {
        TBitmap empty(w, h, TPixelFormat::pf24bit);
        TJPEGImage jpg;
        jpg.AssignBitmap(empty);
        TMemoryStream out;
        jpg.WritePicture(out);
        EXPECT_EQ(out.Size(), 0u) << w << "x" << h;

        const std::string path = dir.file("empty" + std::to_string(w) + "_" + std::to_string(h) + ".jpg");
        jpg.WritePictureFileExclusive(path);
        EXPECT_TRUE(testsupport::ReadFile(path).empty()) << path;
    }
}

TEST(JpegImage, NotAJpegFailsWithTheLibraryCode) {
    const std::string text = "this is certainly not a JPEG file";
    TJPEGImage jpg;
    try {
        Load(jpg, std::vector<uint8_t>(text.begin(), text.end()));
        FAIL() << "no error";
    } catch (const EInvalidGraphic& e) {  // EJPEG is an invalid graphic
        EXPECT_NE(dynamic_cast<const EJPEG*>(&e), nullptr) << "wanted EJPEG";
        EXPECT_EQ(std::string(e.what()), JpegError(JERR_NO_SOI));
    }
    // Start of image followed by nothing useful: no image in the stream.
    ExpectError<EJPEG>([&] { Load(jpg, {0xFF, 0xD8, 0x00, 0x01, 0x02}); }, JpegError(JERR_NO_IMAGE));
}

TEST(JpegImage, EmptyFileLoadsButCannotBeDecoded) {
    TJPEGImage jpg;
    Load(jpg, {});
    EXPECT_TRUE(jpg.Empty());
    TBitmap target(4, 4, TPixelFormat::pf24bit);
    ExpectError<EJPEG>([&] { jpg.Draw(target, Rect(0, 0, 4, 4)); }, JpegError(JERR_INPUT_EMPTY));
    // Written back unchanged: zero bytes, nothing invented.
    TMemoryStream out;
    jpg.WritePicture(out);
    EXPECT_EQ(out.Size(), 0u);
}

TEST(JpegImage, TruncatedFilesDecodeWithoutError) {
    const TBitmap source = SmoothBitmap(120, 96);
    for (const bool progressive : {false, true}) {
        SCOPED_TRACE(progressive ? "progressive" : "baseline");
        const std::vector<uint8_t> whole = Encode(source, 90, progressive);
        for (const double keep : {0.5, 0.8, 0.98}) {
            std::vector<uint8_t> cut(whole.begin(), whole.begin() + static_cast<long>(whole.size() * keep));
            TJPEGImage jpg;
            Load(jpg, cut);
            EXPECT_EQ(jpg.Width(), 120);
            TBitmap decoded;
            ASSERT_NO_THROW(decoded = DrawTo24Bit(jpg)) << "kept " << keep;
            if (!progressive) {
                // The rows that were in the file are there.
                TBitmap top = decoded, wantTop = source;
                top.SetSize(120, 16);
                wantTop.SetSize(120, 16);
                const Distance d = Compare(top, wantTop);
                EXPECT_LT(d.mean, 3.0) << "kept " << keep << ": " << d.Describe();
            }
        }
    }
}

TEST(JpegImage, SizeIsKnownBeforeDecodingAndStaysTheSame) {
    const std::vector<uint8_t> bytes = Encode(SmoothBitmap(77, 33));
    TJPEGImage jpg;
    std::vector<TProgressStage> stages;
    jpg.OnProgress = [&](TGraphic&, TProgressStage stage, uint8_t, const TRect&, const std::string&) {
        stages.push_back(stage);
    };
    Load(jpg, bytes);
    EXPECT_FALSE(jpg.HasDecodedBitmap());
    EXPECT_EQ(jpg.Width(), 77);
    EXPECT_EQ(jpg.Height(), 33);
    EXPECT_FALSE(jpg.HasDecodedBitmap()) << "asking the size must not decode";
    EXPECT_TRUE(stages.empty());

    TBitmap target(77, 33, TPixelFormat::pf24bit);
    jpg.Draw(target, Rect(0, 0, 77, 33));
    EXPECT_TRUE(jpg.HasDecodedBitmap());
    EXPECT_EQ(jpg.Width(), 77);
    EXPECT_EQ(jpg.Height(), 33);
    ASSERT_GE(stages.size(), 2u);
    EXPECT_EQ(stages.front(), TProgressStage::psStarting);
    EXPECT_EQ(stages.back(), TProgressStage::psEnding);

    // The second draw uses the cached bitmap.
    TBitmap* first = &jpg.DecodedBitmap();
    jpg.Draw(target, Rect(0, 0, 77, 33));
    EXPECT_EQ(first, &jpg.DecodedBitmap());
}

TEST(JpegImage, HugeHeaderFailsCleanlyAndTheFailureIsNotCached) {
    std::vector<uint8_t> bytes = Encode(SmoothBitmap(32, 32));
    const size_t sof = FindStartOfFrame(bytes);
    // height and width fields of the frame header: 60000 x 60000
    bytes[sof + 5] = 0xEA;
    bytes[sof + 6] = 0x60;
    bytes[sof + 7] = 0xEA;
    bytes[sof + 8] = 0x60;
    TJPEGImage jpg;
    Load(jpg, bytes);
    EXPECT_EQ(jpg.Width(), 60000);
    EXPECT_EQ(jpg.Height(), 60000);
    for (int attempt = 0; attempt < 2; ++attempt) {
        ExpectError<EInvalidGraphic>([&] { jpg.DecodedBitmap(); }, "Picture too large (60000 x 60000 pixels)");
        EXPECT_FALSE(jpg.HasDecodedBitmap()) << "attempt " << attempt;
    }
}

TEST(JpegImage, LibraryMemoryStaysWithinTheAllocationLimit) {
    // 8-bit output keeps our bitmap small while the library needs a whole-picture
    // coefficient buffer (progressive) and a histogram (two-pass quantizer).
    const std::vector<uint8_t> bytes = Encode(SmoothBitmap(256, 256), 90, true);
    testsupport::LimitsGuard guard;
    CurrentPictureLimits().maxAllocation = 100 * 1024;
    TJPEGImage jpg;
    jpg.SetOutputDepth(TJPEGPixelFormat::jf8Bit);
    Load(jpg, bytes);
    EXPECT_THROW(jpg.DecodedBitmap(), EJPEG);
}

TEST(JpegImage, GrayFilesDecodeToAtMost236GrayLevels) {
    TBitmap source(256, 40, TPixelFormat::pf24bit);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 256; ++x) source.SetPixel(x, y, RGBColor(x, x, x));
    const std::vector<uint8_t> bytes = Encode(source, 95, false, /*gray=*/true);
    TJPEGImage jpg;
    Load(jpg, bytes);
    EXPECT_TRUE(jpg.Data().Grayscale);

    const TBitmap& decoded = jpg.DecodedBitmap();
    EXPECT_EQ(decoded.PixelFormat(), TPixelFormat::pf8bit);
    ASSERT_FALSE(decoded.Palette().empty());
    EXPECT_LE(decoded.Palette().size(), 236u);
    EXPECT_GT(decoded.Palette().size(), 200u) << "a full ramp uses most levels";
    for (const TRGBQuad& q : decoded.Palette())
        ASSERT_TRUE(q.rgbRed == q.rgbGreen && q.rgbGreen == q.rgbBlue)
            << int(q.rgbRed) << "," << int(q.rgbGreen) << "," << int(q.rgbBlue);

    const TBitmap drawn = DrawTo24Bit(jpg);
    for (int y = 0; y < drawn.Height(); ++y)
        for (int x = 0; x < drawn.Width(); ++x) {
            const TColor c = drawn.Pixel(x, y);
            ASSERT_TRUE(GetRValue(c) == GetGValue(c) && GetGValue(c) == GetBValue(c)) << x << "," << y;
        }
    const Distance d = Compare(drawn, source);
    EXPECT_LT(d.mean, 3.0) << d.Describe();
}

TEST(JpegImage, GrayOutputAndEightBitDepthOnColourFiles) {
    const TBitmap source = SmoothBitmap(90, 70);
    const std::vector<uint8_t> bytes = Encode(source, 95);

    TJPEGImage eight;
    eight.SetOutputDepth(TJPEGPixelFormat::jf8Bit);
    Load(eight, bytes);
    EXPECT_FALSE(eight.Data().Grayscale);
    const TBitmap& indexed = eight.DecodedBitmap();
    EXPECT_EQ(indexed.PixelFormat(), TPixelFormat::pf8bit);
    EXPECT_LE(indexed.Palette().size(), 236u);
    Distance d = Compare(DrawTo24Bit(eight), source);
    EXPECT_LT(d.mean, 6.0) << d.Describe();

    // Switching the depth of a loaded picture decodes it again.
    eight.SetOutputDepth(TJPEGPixelFormat::jf24Bit);
    EXPECT_EQ(eight.DecodedBitmap().PixelFormat(), TPixelFormat::pf24bit);

    TJPEGImage gray;
    gray.SetGrayOutput(true);
    Load(gray, bytes);
    const TBitmap drawn = DrawTo24Bit(gray);
    EXPECT_EQ(gray.DecodedBitmap().PixelFormat(), TPixelFormat::pf8bit);
    const TColor c = drawn.Pixel(45, 35);
    EXPECT_TRUE(GetRValue(c) == GetGValue(c) && GetGValue(c) == GetBValue(c)) << std::hex << c;
}

TEST(JpegImage, ScreenDepthChoosesTheDefaultOutputDepth) {
    const TJPEGDefaults saved = JpegSettingDefaults;
    SetJpegDefaultOutputDepth(8);
    EXPECT_EQ(TJPEGImage().OutputDepth(), TJPEGPixelFormat::jf8Bit);
    SetJpegDefaultOutputDepth(4);
    EXPECT_EQ(TJPEGImage().OutputDepth(), TJPEGPixelFormat::jf8Bit);
    SetJpegDefaultOutputDepth(16);
    EXPECT_EQ(TJPEGImage().OutputDepth(), TJPEGPixelFormat::jf24Bit);
    SetJpegDefaultOutputDepth(32);
    TJPEGImage made;
    EXPECT_EQ(made.OutputDepth(), TJPEGPixelFormat::jf24Bit);
    EXPECT_FALSE(made.GrayOutput());
    EXPECT_FALSE(made.ProgressiveSave());
    JpegSettingDefaults = saved;
}

TEST(JpegImage, SizeCannotBeChanged) {
    TJPEGImage jpg;
    ExpectError<EInvalidGraphicOperation>([&] { jpg.SetWidth(10); }, "Cannot change the size of a JPEG image");
    ExpectError<EInvalidGraphicOperation>([&] { jpg.SetHeight(10); }, "Cannot change the size of a JPEG image");
}

TEST(JpegImage, SharedDataIsNeverChangedUnderAnotherPicture) {
    const std::vector<uint8_t> fileBytes = Encode(SmoothBitmap(40, 30));
    TJPEGImage loaded;
    Load(loaded, fileBytes);
    TJPEGImage copy;
    copy.Assign(loaded);
    EXPECT_EQ(copy.SharedData(), loaded.SharedData()) << "assignment shares the data";

    // Assigning a bitmap to the copy leaves the original's data alone.
    TBitmap other = SmoothBitmap(8, 8);
    copy.AssignBitmap(other);
    EXPECT_NE(copy.SharedData(), loaded.SharedData());
    EXPECT_EQ(std::vector<uint8_t>(loaded.Data().Bytes.begin(), loaded.Data().Bytes.end()), fileBytes);
    EXPECT_EQ(loaded.Width(), 40);
    EXPECT_EQ(copy.Width(), 8);

    // Two pictures sharing not-yet-encoded data: encoding one must not fill in the other.
    TJPEGImage a;
    TBitmap picture = testsupport::NoiseBitmap(24, 24, 3);
    a.AssignBitmap(picture);
    TJPEGImage b;
    b.Assign(a);
    ASSERT_EQ(a.SharedData(), b.SharedData());
    b.SetQuality(10);
    TMemoryStream outB;
    b.WritePicture(outB);
    EXPECT_FALSE(a.Data().HasBytes) << "b's encoding leaked into a";
    TMemoryStream outA;
    a.WritePicture(outA);
    EXPECT_NE(outA.Bytes(), outB.Bytes()) << "a must be encoded with its own quality";
    EXPECT_GT(outA.Size(), outB.Size());

    // A copied picture keeps its own decoded bitmap.
    TJPEGImage c(loaded);
    c.DecodedBitmap().SetPixel(0, 0, RGBColor(1, 2, 3));
    EXPECT_NE(loaded.DecodedBitmap().Pixel(0, 0), RGBColor(1, 2, 3));
}

TEST(JpegImage, ReadsFromThePositionAndWritesTheBytesBackUnchanged) {
    std::vector<uint8_t> bytes = Encode(SmoothBitmap(30, 20), 75);
    bytes.push_back(0x42);  // trailing garbage after the end marker is kept too
    std::vector<uint8_t> withPrefix = {'x', 'y', 'z'};
    withPrefix.insert(withPrefix.end(), bytes.begin(), bytes.end());
    TMemoryStream in(withPrefix);
    in.SetPosition(3);
    TJPEGImage jpg;
    jpg.ReadPicture(in);
    EXPECT_EQ(jpg.Width(), 30);
    jpg.SetQuality(10);  // a loaded file is not re-encoded
    jpg.DecodedBitmap();
    TMemoryStream out;
    jpg.WritePicture(out);
    EXPECT_EQ(out.Bytes(), bytes);
}

TEST(JpegImage, IndexedBitmapsAreEncodedThroughA24BitCopy) {
    TBitmap indexed(20, 10, TPixelFormat::pf8bit);
    indexed.SetPalette({TRGBQuad{0, 0, 255, 0}, TRGBQuad{255, 0, 0, 0}});  // red, blue
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 20; ++x) indexed.SetRawPixel(x, y, x < 10 ? 0 : 1);
    TJPEGImage jpg;
    jpg.AssignBitmap(indexed);
    TMemoryStream out;
    jpg.WritePicture(out);
    EXPECT_EQ(indexed.PixelFormat(), TPixelFormat::pf8bit) << "the source is not converted";
    TJPEGImage back;
    Load(back, out.Bytes());
    const TBitmap drawn = DrawTo24Bit(back);
    EXPECT_GT(GetRValue(drawn.Pixel(2, 5)), 200);
    EXPECT_GT(GetBValue(drawn.Pixel(17, 5)), 200);
}

TEST(JpegImage, ProgressiveSaveWritesProgressiveFrames) {
    const TBitmap source = SmoothBitmap(50, 40);
    const std::vector<uint8_t> progressive = Encode(source, 90, true);
    const std::vector<uint8_t> baseline = Encode(source, 90, false);
    EXPECT_EQ(progressive[FindStartOfFrame(progressive) + 1], 0xC2);
    EXPECT_EQ(baseline[FindStartOfFrame(baseline) + 1], 0xC0);
    TJPEGImage jpg;
    Load(jpg, progressive);
    const Distance d = Compare(DrawTo24Bit(jpg), source);
    EXPECT_LT(d.mean, 3.0) << d.Describe();
}

namespace {
// A 3-component 4:4:4 progressive file written with the scan script given.
std::vector<uint8_t> EncodeWithScans(const TBitmap& bitmap, const std::vector<jpeg_scan_info>& scans) {
    jpeg_compress_struct info{};
    jpeg_error_mgr err{};
    info.err = jpeg_std_error(&err);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(bitmap.Width());
    info.image_height = static_cast<JDIMENSION>(bitmap.Height());
    info.input_components = 3;
    info.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&info);
    for (int ci = 0; ci < 3; ++ci) info.comp_info[ci].h_samp_factor = info.comp_info[ci].v_samp_factor = 1;
    info.scan_info = scans.data();
    info.num_scans = static_cast<int>(scans.size());
    jpeg_start_compress(&info, TRUE);
    for (int y = 0; y < bitmap.Height(); ++y) {
        JSAMPROW row = const_cast<uint8_t*>(bitmap.ScanLine(y));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    std::vector<uint8_t> bytes(buffer, buffer + size);
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return bytes;
}

}  // namespace

TEST(JpegImage, TooManyScansAreRefused) {
    const TBitmap source = SmoothBitmap(16, 16);
    const std::vector<jpeg_scan_info> few = testsupport::RefiningProgression(3, 4),
                                      many = testsupport::RefiningProgression(3, 63);
    ASSERT_LT(few.size(), 500u);
    ASSERT_GT(many.size(), 500u);

    TJPEGImage ok;
    Load(ok, EncodeWithScans(source, few));
    const Distance d = Compare(DrawTo24Bit(ok), source);
    EXPECT_LT(d.mean, 3.0) << few.size() << " scans: " << d.Describe();

    TJPEGImage refused;
    Load(refused, EncodeWithScans(source, many));
    EXPECT_EQ(refused.Width(), 16);
    ExpectError<EJPEG>([&] { refused.DecodedBitmap(); }, "JPEG file has too many scans");
}

TEST(JpegImage, AFailingProgressListenerStopsTheLibraryCleanly) {
    struct Stop {
        int percent;
    };
    const TBitmap source = SmoothBitmap(64, 64);
    for (const bool progressive : {false, true}) {
        TJPEGImage jpg;
        Load(jpg, Encode(source, 90, progressive));
        int running = 0;
        jpg.OnProgress = [&](TGraphic&, TProgressStage stage, uint8_t percent, const TRect&, const std::string&) {
            if (stage == TProgressStage::psRunning && ++running == 1) throw Stop{percent};
        };
        try {
            jpg.DecodedBitmap();
            ADD_FAILURE() << "the listener's exception was lost";
        } catch (const Stop& stop) {
            EXPECT_LE(stop.percent, 100);
        }
        EXPECT_EQ(running, 1);
        EXPECT_FALSE(jpg.HasDecodedBitmap());
        jpg.OnProgress = nullptr;
        const Distance d = Compare(DrawTo24Bit(jpg), source);
        EXPECT_LT(d.mean, 3.0) << "decoding again afterwards: " << d.Describe();

        // The same on the way out: no half-encoded data is kept.
        TJPEGImage writer;
        TBitmap copy = source;
        writer.AssignBitmap(copy);
        writer.SetProgressiveSave(progressive);
        writer.OnProgress = [&](TGraphic&, TProgressStage stage, uint8_t, const TRect&, const std::string&) {
            if (stage == TProgressStage::psRunning) throw Stop{0};
        };
        TMemoryStream out;
        EXPECT_THROW(writer.WritePicture(out), Stop);
        EXPECT_FALSE(writer.Data().HasBytes);
        EXPECT_EQ(out.Size(), 0u);
    }
}

// Damaged files of every kind either decode or fail with our error; never anything worse
// (the sanitizer build checks the memory side).
TEST(JpegImage, DamagedFilesNeverCrash) {
    const std::vector<uint8_t> good = Encode(testsupport::NoiseBitmap(40, 24, 5), 80, true);
    std::mt19937 rng(1234);
    int decoded = 0, refused = 0;
    for (int round = 0; round < 300; ++round) {
        std::vector<uint8_t> bad = good;
        const int flips = 1 + round % 8;
        for (int i = 0; i < flips; ++i) bad[rng() % bad.size()] = static_cast<uint8_t>(rng());
        if (round % 3 == 0) bad.resize(rng() % bad.size());
        try {
            TJPEGImage jpg;
            Load(jpg, bad);
            if (jpg.Width() * int64_t(jpg.Height()) > 4000000) {
                ++refused;  // a flipped size field: decoding it would only be slow
                continue;
            }
            jpg.DecodedBitmap();
            ++decoded;
        } catch (const EImbrixError&) {
            ++refused;
        }
    }
    // Both outcomes occur: damage is noticed, and a damaged file still shows what it can.
    EXPECT_GT(refused, 0);
    EXPECT_GT(decoded, 0);
}
