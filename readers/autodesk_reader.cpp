#include "readers/autodesk_reader.h"

#include <vector>

#include "graphics/stream.h"

IMBRIX_DEFINE_GRAPHIC_CLASS(TAutodeskGraphic, TGraphicReader);

namespace {

constexpr size_t kHeaderSize = 32;
constexpr uint16_t kMagic = 0x9119;
constexpr size_t kPaletteEntries = 256;

struct THeader {
    uint16_t magic, width, height;
    uint8_t bitsPerPixel, compression;
};

THeader ParseHeader(ByteReader r) {
    THeader h{};
    h.magic = r.u16le();
    h.width = r.u16le();
    h.height = r.u16le();
    r.skip(4);  // x and y: where the picture was on the screen
    h.bitsPerPixel = r.u8();
    h.compression = r.u8();
    return h;
}

}  // namespace

bool TAutodeskGraphic::ProbeStream(TStream& stream) {
    const uint64_t start = stream.Position();
    uint8_t bytes[kHeaderSize];
    bool result = false;
    if (stream.Remaining() > kHeaderSize && stream.Read(bytes, kHeaderSize) == kHeaderSize) {
        const THeader h = ParseHeader(ByteReader(bytes, kHeaderSize));
        result = h.magic == kMagic && h.bitsPerPixel == 8 && h.compression == 0;
    }
    stream.SetPosition(start);
    return result;
}

bool TAutodeskGraphic::ReadProperties(TStream& stream, unsigned imageIndex) {
    TGraphicReader::ReadProperties(stream, imageIndex);
    uint8_t bytes[kHeaderSize];
    stream.ReadBuffer(bytes, kHeaderSize);
    const THeader h = ParseHeader(ByteReader(bytes, kHeaderSize));
    if (h.magic != kMagic) return false;
    Properties.ColorScheme = ColorScheme::Indexed;
    Properties.Width = h.width;
    Properties.Height = h.height;
    // The file's own depth and scheme are kept, so that a picture this reader cannot show is
    // refused instead of shown as 8-bit garbage.
    Properties.BitsPerSample = h.bitsPerPixel;
    Properties.SamplesPerPixel = 1;
    Properties.BitsPerPixel = h.bitsPerPixel;
    Properties.Compression = h.compression == 0 ? Compression::None : Compression::Unknown;
    return true;
}

void TAutodeskGraphic::ReadPicture(TStream& stream) {
    TLoadScope scope(*this, stream);
    ReadPropertiesOrFail(stream, gesAutodeskLabel);
    if (Properties.Compression != Compression::None) RaiseUnsupportedCompression(gesAutodeskLabel);
    if (Properties.BitsPerPixel != 8) RaiseReaderErrorFmt(gesInvalidColorFormat, gesAutodeskLabel);
    // An empty picture would come out as an empty result file: no picture is no success.
    if (Properties.Width == 0 || Properties.Height == 0) RaiseReaderErrorFmt(gesInvalidImage, gesAutodeskLabel);

    ByteReader data = LoadSourceData();
    data.skip(kHeaderSize);
    std::vector<TRGBQuad> palette(kPaletteEntries);
    for (TRGBQuad& entry : palette) {
        uint8_t rgb[3];
        data.copy(rgb, 3);
        for (uint8_t c : rgb)
            if (c > 63) RaiseReaderErrorFmt(gesInvalidImage, gesAutodeskLabel);
        entry = TRGBQuad{static_cast<uint8_t>(rgb[2] * 4), static_cast<uint8_t>(rgb[1] * 4),
                         static_cast<uint8_t>(rgb[0] * 4), 0};
    }

    ColorManager.SetSourceScheme(ColorScheme::Indexed);
    ColorManager.SetTargetScheme(ColorScheme::Indexed);
    ColorManager.SetSourceBitsPerSample(8);
    ColorManager.SetTargetBitsPerSample(8);
    ColorManager.SetSourceSamplesPerPixel(1);
    ColorManager.SetTargetSamplesPerPixel(1);
    ColorManager.SourceOptions = 0;
    ColorManager.TargetOptions = 0;
    SetBitmapFormatAndSize(TPixelFormat::pf8bit, Properties.Width, Properties.Height, gesAutodeskLabel);
    SetPalette(std::move(palette));

    ProgressRect = Rect(0, 0, Width(), 1);
    StartProgress(gesTransfering);
    for (int y = 0; y < Height(); ++y) {
        // A file cut short fails with the stream's read error rather than showing whatever
        // the bitmap held.
        ColorManager.ConvertScanline({data.bytes(Properties.Width)}, ScanLineSpan(y), Properties.Width);
        RowProgress(RowPercent(static_cast<uint64_t>(y) + 1, Properties.Height));
    }
    EndProgress();
}
