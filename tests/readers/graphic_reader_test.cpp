#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "graphics/errors.h"
#include "graphics/picture.h"
#include "graphics/stream.h"
#include "readers/codecs/tiff_jpeg_decoder.h"
#include "readers/graphic_reader.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A reader of a made-up format, built the way real readers are:
// "TINY", width and height (16-bit little-endian), depth 8 or 16, a compression byte (0 =
// none), then top-down gray rows (16-bit samples big-endian).
class TTinyGraphic final : public TGraphicReader {
    IMBRIX_READER_CLASS()
public:
    static constexpr const char* kLabel = "TINY";

    static bool ProbeStream(TStream& stream) {
        char magic[4];
        return stream.Read(magic, 4) == 4 && std::memcmp(magic, "TINY", 4) == 0;
    }

    bool ReadProperties(TStream& stream, unsigned imageIndex) override {
        TGraphicReader::ReadProperties(stream, imageIndex);
        uint8_t header[10];
        if (stream.Read(header, sizeof header) != sizeof header) return false;
        ByteReader r(header, sizeof header);
        if (r.text(4) != "TINY") return false;
        Properties.Width = r.u16le();
        Properties.Height = r.u16le();
        Properties.BitsPerSample = r.u8();
        if (Properties.BitsPerSample != 8 && Properties.BitsPerSample != 16) return false;
        Properties.Compression = r.u8() == 0 ? Compression::None : Compression::Unknown;
        Properties.ColorScheme = ColorScheme::Gray;
        Properties.SamplesPerPixel = 1;
        Properties.BitsPerPixel = Properties.BitsPerSample;
        if (Properties.BitsPerSample == 16) Properties.Options |= ImageOption::BigEndian;
        return true;
    }

    void ReadPicture(TStream& stream) override {
        TLoadScope scope(*this, stream, /*endProgressOnFailure=*/true);
        ReadPropertiesOrFail(stream, kLabel);
        if (Properties.Compression != Compression::None) RaiseUnsupportedCompression(kLabel);
        ByteReader data = LoadSourceData();
        data.skip(10);

        ColorManager.SetSourceScheme(ColorScheme::Gray);
        ColorManager.SetTargetScheme(ColorScheme::Gray);
        ColorManager.SetSourceBitsPerSample(Properties.BitsPerSample);
        ColorManager.SetTargetBitsPerSample(8);
        ColorManager.SetSourceSamplesPerPixel(1);
        ColorManager.SetTargetSamplesPerPixel(1);
        ColorManager.SourceOptions = (Properties.Options & ImageOption::BigEndian) ? ColorOption::ByteSwap : 0;
        SetBitmapFormatAndSize(ColorManager.BitmapFormatFor(TConversionSide::Target), Properties.Width,
                               Properties.Height, kLabel);
        SetPalette(ColorManager.BuildGrayPalette(false));

        ProgressRect = Rect(0, 0, Width(), 1);
        StartProgress(gesTransfering);
        const size_t rowBytes = size_t(Properties.Width) * Properties.BitsPerSample / 8;
        for (int y = 0; y < Height(); ++y) {
            ColorManager.ConvertScanline({data.bytes(rowBytes)}, ScanLineSpan(y),
                                         Properties.Width);
            RowProgress(RowPercent(y + 1, Properties.Height));
        }
        EndProgress();
    }

    using TGraphicReader::SetBitmapFormatAndSize;
};
IMBRIX_DEFINE_GRAPHIC_CLASS(TTinyGraphic, TGraphicReader);

Bytes TinyFile(int width, int height, int depth, const Bytes& pixels, uint8_t compression = 0) {
    Bytes file = {'T', 'I', 'N', 'Y', uint8_t(width), uint8_t(width >> 8), uint8_t(height), uint8_t(height >> 8),
                  uint8_t(depth), compression};
    file.insert(file.end(), pixels.begin(), pixels.end());
    return file;
}

struct ProgressEvent {
    TProgressStage stage;
    int percent;
    TRect rect;
    std::string message;
    bool operator==(const ProgressEvent&) const = default;
};

std::ostream& operator<<(std::ostream& os, const ProgressEvent& e) {
    return os << "{stage " << int(e.stage) << ", " << e.percent << "%, (" << e.rect.Left << "," << e.rect.Top << ","
              << e.rect.Right << "," << e.rect.Bottom << "), \"" << e.message << "\"}";
}

template <class E, class F>
std::string ErrorOf(F&& f) {
    try {
        f();
    } catch (const E& e) {
        return e.what();
    }
    return "(no error of the expected class)";
}

}  // namespace

TEST(GraphicReader, LoadsThroughTheColourManagerAndReportsRowProgress) {
    TTinyGraphic reader;
    std::vector<ProgressEvent> events;
    reader.OnProgress = [&](TGraphic&, TProgressStage stage, uint8_t percent, const TRect& rect,
                            const std::string& message) { events.push_back({stage, percent, rect, message}); };
    TMemoryStream stream(TinyFile(3, 4, 8, {0, 1, 2, 10, 11, 12, 20, 21, 22, 30, 31, 255}));
    reader.ReadPicture(stream);

    ASSERT_EQ(reader.Width(), 3);
    ASSERT_EQ(reader.Height(), 4);
    EXPECT_EQ(reader.PixelFormat(), TPixelFormat::pf8bit);
    EXPECT_EQ(reader.RawPixel(1, 2), 21u);
    EXPECT_EQ(reader.Pixel(2, 3), clWhite) << "gray palette: 255 is white";
    EXPECT_EQ(reader.SourceStream, nullptr) << "the borrowed stream is forgotten after the load";

    using S = TProgressStage;
    const std::vector<ProgressEvent> want = {
        {S::psStarting, 0, Rect(0, 0, 3, 1), "Transfering..."},
        {S::psRunning, 25, Rect(0, 0, 3, 1), ""},
        {S::psRunning, 50, Rect(0, 1, 3, 2), ""},
        {S::psRunning, 75, Rect(0, 2, 3, 3), ""},
        {S::psRunning, 100, Rect(0, 3, 3, 4), ""},
        {S::psEnding, 100, Rect(0, 4, 3, 5), ""},
    };
    EXPECT_EQ(events, want);
}

TEST(GraphicReader, OffsetsAreRelativeToTheStartPosition) {
    Bytes file = {9, 9, 9, 9, 9};
    const Bytes tiny = TinyFile(2, 1, 16, {0xFF, 0xFF, 0x80, 0x00});
    file.insert(file.end(), tiny.begin(), tiny.end());
    TMemoryStream stream(file);
    stream.SetPosition(5);
    TTinyGraphic reader;
    reader.ReadPicture(stream);
    EXPECT_EQ(reader.BasePosition, 5u);
    EXPECT_EQ(reader.RawPixel(0, 0), 255u);
    EXPECT_EQ(reader.RawPixel(1, 0), 127u) << "big-endian 0x8000 through ByteSwap";
}

TEST(GraphicReader, FailuresCarryTheReaderMessages) {
    TTinyGraphic reader;
    TMemoryStream notTiny(Bytes{'T', 'I', 'N', 'X', 1, 0, 1, 0, 8, 0, 0});
    EXPECT_EQ(ErrorOf<EInvalidGraphic>([&] { reader.ReadPicture(notTiny); }),
              "Cannot load image. Invalid or unexpected TINY image format.");
    TMemoryStream packed(TinyFile(1, 1, 8, {0}, 7));
    EXPECT_EQ(ErrorOf<EInvalidGraphic>([&] { reader.ReadPicture(packed); }),
              "Cannot load image. The compression scheme is not supported for TINY files.");
    TMemoryStream huge(TinyFile(65535, 65535, 8, {}));
    EXPECT_THROW(reader.ReadPicture(huge), EInvalidGraphic) << "4 G pixels are refused before allocating";
    EXPECT_EQ(reader.Width(), 0);
    EXPECT_EQ(reader.SourceStream, nullptr);

    EXPECT_EQ(ErrorOf<EInvalidGraphic>([&] { reader.SetBitmapFormatAndSize(TPixelFormat::pfCustom, 1, 1, "TINY"); }),
              "Invalid color format in TINY file.");
    EXPECT_THROW(reader.SetBitmapFormatAndSize(TPixelFormat::pf8bit, 0, uint64_t(1) << 33, "TINY"), EInvalidGraphic)
        << "a side beyond the bitmap's range";
}

TEST(GraphicReader, TruncatedDataStillEndsTheProgressStage) {
    TTinyGraphic reader;
    std::vector<TProgressStage> stages;
    reader.OnProgress = [&](TGraphic&, TProgressStage stage, uint8_t, const TRect&, const std::string&) {
        stages.push_back(stage);
    };
    TMemoryStream stream(TinyFile(4, 3, 8, {1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(ErrorOf<EReadError>([&] { reader.ReadPicture(stream); }), "Stream read error");
    using S = TProgressStage;
    EXPECT_EQ(stages, (std::vector<S>{S::psStarting, S::psRunning, S::psEnding}));
    EXPECT_EQ(reader.SourceStream, nullptr);
}

TEST(GraphicReader, BaseReadPropertiesEmptiesEverything) {
    TTinyGraphic reader;
    reader.Properties.Width = 7;
    reader.Properties.Gamma = 0.45f;
    reader.Properties.RowsPerStrip = {1, 2, 3};
    reader.Properties.JPEGTables = {0xFF};
    reader.Properties.ColorScheme = ColorScheme::CMYK;
    reader.Properties.Compression = Compression::LZW;
    TMemoryStream stream(TinyFile(1, 1, 8, {0}));
    EXPECT_FALSE(reader.TGraphicReader::ReadProperties(stream, 0));
    TImageProperties want;
    want.Gamma = 1.0f;
    EXPECT_EQ(reader.Properties, want);
    EXPECT_TRUE(reader.Properties.RowsPerStrip.empty());

    EXPECT_TRUE(reader.ReadProperties(stream, 0)) << "the reader's own version fills them again";
    EXPECT_EQ(reader.Properties.Width, 1u);
    EXPECT_EQ(reader.Properties.Gamma, 1.0f);
}

TEST(GraphicReader, ProbingByStreamFileAndClass) {
    TMemoryStream tiny(TinyFile(1, 1, 8, {0}));
    TMemoryStream other(Bytes{'P', 'N'});
    EXPECT_TRUE(TTinyGraphic::ProbeStream(tiny));
    EXPECT_FALSE(TTinyGraphic::ProbeStream(other));
    EXPECT_FALSE(TGraphicReader::ProbeStream(tiny)) << "the base answers false";

    tiny.SetPosition(0);
    EXPECT_TRUE(ProbeStreamAs(&TTinyGraphic::ClassInfo, tiny));
    EXPECT_EQ(tiny.Position(), 0u) << "probing through the class restores the position";
    EXPECT_FALSE(ProbeStreamAs(&TBitmap::ClassInfo, tiny)) << "not a reader";
    EXPECT_FALSE(ProbeStreamAs(&TGraphicReader::ClassInfo, tiny)) << "abstract";

    testsupport::TempDir dir;
    testsupport::WriteFile(dir.file("a.tiny"), TinyFile(1, 1, 8, {0}));
    testsupport::WriteFile(dir.file("short.tiny"), Bytes{'T'});
    EXPECT_TRUE(TTinyGraphic::ProbeFile(dir.file("a.tiny")));
    EXPECT_FALSE(TTinyGraphic::ProbeFile(dir.file("short.tiny")));
    EXPECT_TRUE(ProbeFileAs(&TTinyGraphic::ClassInfo, dir.file("a.tiny")));
    EXPECT_THROW(TTinyGraphic::ProbeFile(dir.file("missing.tiny")), EFOpenError);
}

TEST(GraphicReader, AssignCopiesPropertiesOnlyFromReaders) {
    TTinyGraphic source;
    TMemoryStream stream(TinyFile(2, 2, 8, {1, 2, 3, 4}));
    source.ReadPicture(stream);

    TTinyGraphic copy;
    int calls = 0;
    copy.OnProgress = [&](TGraphic&, TProgressStage, uint8_t, const TRect&, const std::string&) { ++calls; };
    copy.AssignBitmap(source);
    EXPECT_EQ(copy.Properties, source.Properties);
    EXPECT_EQ(copy.RawPixel(1, 1), 4u);
    ASSERT_TRUE(copy.OnProgress) << "the copy keeps its own listener";

    TBitmap plain(5, 1, TPixelFormat::pf24bit);
    copy.AssignBitmap(plain);
    EXPECT_EQ(copy.Width(), 5);
    EXPECT_EQ(copy.Properties.Width, 2u) << "a plain bitmap has no properties to copy";
}

TEST(GraphicReader, PictureTableCreatesAndRemovesReaders) {
    testsupport::TempDir dir;
    const std::string path = dir.file("scan.TINY");
    testsupport::WriteFile(path, TinyFile(2, 1, 8, {0, 255}));
    TFileFormatsList& table = PictureFormatTable();
    table.AddPictureFormat("tiny", "Tiny test pictures", &TTinyGraphic::ClassInfo);
    TPicture picture;
    picture.LoadPictureFile(path);
    ASSERT_NE(dynamic_cast<TTinyGraphic*>(picture.Graphic()), nullptr);
    EXPECT_EQ(picture.Width(), 2);
    table.RemovePictureClass(&TGraphicReader::ClassInfo);
    EXPECT_EQ(table.FindPictureClass("tiny"), nullptr) << "removing the base removes every reader";
}

TEST(ReaderHelpers, ErrorsAndSwaps) {
    EXPECT_EQ(ErrorOf<EInvalidGraphic>([] { RaiseReaderError("plain"); }), "plain");
    EXPECT_EQ(ErrorOf<EInvalidGraphic>([] { RaiseReaderErrorFmt(gesInvalidCRC, gesPNGLabel); }),
              "Cannot load image. CRC error found in PNG file.");
    EXPECT_EQ(SwapLong(0x11223344u), 0x44332211u);
    std::vector<uint16_t> words = {0x1234, 0xABCD};
    SwapWords(words);
    EXPECT_EQ(words, (std::vector<uint16_t>{0x3412, 0xCDAB}));
    std::vector<uint32_t> longs = {0x01020304u};
    SwapLongs(longs);
    EXPECT_EQ(longs[0], 0x04030201u);
    Bytes bytes = {1, 2, 3, 4, 5};
    SwapWordBytes(bytes);
    EXPECT_EQ(bytes, (Bytes{2, 1, 4, 3, 5}));
    EXPECT_EQ(TGraphicReader::RowPercent(1, 3), 33);
    EXPECT_EQ(TGraphicReader::RowPercent(2, 3, true), 67);
    EXPECT_EQ(TGraphicReader::RowPercent(0, 0), 100);
}

TEST(ReaderHelpers, UndoDifferencing) {
    Bytes gray = {1, 1, 1, 255, 2, 77};
    UndoDifferencing1(gray, 4);
    EXPECT_EQ(gray, (Bytes{1, 2, 3, 2, 4, 77})) << "sums wrap modulo 256; bytes after count + 1 pixels stay";

    Bytes rgb = {10, 20, 30, 1, 2, 3, 250, 0, 1};
    UndoDifferencing3(rgb, 2);
    EXPECT_EQ(rgb, (Bytes{10, 20, 30, 11, 22, 33, 5, 22, 34}));

    Bytes rgba = {1, 2, 3, 4, 5, 6, 7, 8, 9, 9, 9, 9};
    UndoDifferencing4(rgba, 1);
    EXPECT_EQ(rgba, (Bytes{1, 2, 3, 4, 6, 8, 10, 12, 9, 9, 9, 9}));

    Bytes one = {5};
    UndoDifferencing1(one, 0);
    EXPECT_EQ(one, Bytes{5}) << "nothing to undo";
    Bytes shortRow = {1, 2, 3, 4, 5};
    EXPECT_THROW(UndoDifferencing3(shortRow, 1), ERangeError) << "two RGB pixels need 6 bytes";
    EXPECT_EQ(shortRow, (Bytes{1, 2, 3, 4, 5}));
}

TEST(ReaderHelpers, UpsamplePlaneTwoByTwo) {
    Bytes plane(16, 0);
    plane[0] = 10;
    plane[1] = 20;
    plane[4] = 30;
    plane[5] = 40;
    UpsamplePlane(2, 2, 4, plane);
    EXPECT_EQ(plane, (Bytes{10, 15, 20, 20,  //
                            20, 25, 30, 30,  //
                            30, 35, 40, 40,  //
                            30, 35, 40, 40}));
}

TEST(ReaderHelpers, UpsamplePlaneThreeByTwoWithWideRows) {
    const size_t stride = 8;
    Bytes plane(3 * stride + 6, 0xEE);  // exactly what a 6 x 4 result needs
    const Bytes top = {0, 9, 100}, bottom = {50, 51, 255};
    std::copy(top.begin(), top.end(), plane.begin());
    std::copy(bottom.begin(), bottom.end(), plane.begin() + stride);
    UpsamplePlane(3, 2, stride, plane);
    auto row = [&](size_t r) { return Bytes(plane.begin() + r * stride, plane.begin() + r * stride + 6); };
    EXPECT_EQ(row(0), (Bytes{0, 5, 9, 55, 100, 100}));
    EXPECT_EQ(row(1), (Bytes{25, 28, 30, 104, 178, 178}));
    EXPECT_EQ(row(2), (Bytes{50, 51, 51, 153, 255, 255}));
    EXPECT_EQ(row(3), row(2));
    EXPECT_EQ(plane[6], 0xEE) << "bytes between rows are not touched";

    Bytes tooSmall(3 * stride + 5);
    EXPECT_THROW(UpsamplePlane(3, 2, stride, tooSmall), ERangeError);
    EXPECT_THROW(UpsamplePlane(3, 2, 5, plane), ERangeError) << "rows too narrow for the result";
}

TEST(GraphicReader, PropertiesFeedTheTiffJpegDecoder) {
    TImageProperties p;
    p.Width = 16;
    p.Height = 8;
    p.ColorScheme = ColorScheme::YCbCr;
    p.RowsPerStrip = {4};
    p.YCbCrSubsampling = {2, 1};
    const TTIFFJPEGLayout layout = TTIFFJPEGDecoder::LayoutOf(p);
    EXPECT_TRUE(layout.YCbCr);
    EXPECT_EQ(layout.RowsPerStrip, 4u);
    EXPECT_EQ(layout.YCbCrSubsampling.size(), 2u);
    p.ColorScheme = ColorScheme::RGB;
    EXPECT_FALSE(TTIFFJPEGDecoder::LayoutOf(p).YCbCr);
}
