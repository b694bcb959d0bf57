#include "readers/pcx_reader.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "graphics/errors.h"
#include "graphics/size_check.h"
#include "graphics/stream.h"
#include "readers/codecs/rle_decoders.h"

IMBRIX_DEFINE_GRAPHIC_CLASS(TPCXGraphic, TGraphicReader);

namespace {

constexpr size_t kHeaderSize = 128;
constexpr size_t kPaletteBlockSize = 769;  // marker byte 12, then 256 RGB triples
constexpr uint8_t kPaletteMarker = 12;

struct PCXHeader {
    uint8_t manufacturer, version, encoding, bitsPerPixel;
    int16_t xMin, yMin, xMax, yMax;
    uint16_t hRes, vRes;
    std::array<uint8_t, 48> palette;
    uint8_t planes;
    uint16_t bytesPerLine;
    uint16_t paletteInfo;
};

PCXHeader ParseHeader(ByteReader r) {
    PCXHeader h{};
    h.manufacturer = r.u8();
    h.version = r.u8();
    h.encoding = r.u8();
    h.bitsPerPixel = r.u8();
    h.xMin = r.i16le();
    h.yMin = r.i16le();
    h.xMax = r.i16le();
    h.yMax = r.i16le();
    h.hRes = r.u16le();
    h.vRes = r.u16le();
    r.copy(h.palette.data(), h.palette.size());
    r.skip(1);
    h.planes = r.u8();
    h.bytesPerLine = r.u16le();
    h.paletteInfo = r.u16le();
    return h;
}

// Reads the header at the stream's position and puts the position back.
bool ReadHeader(TStream& stream, PCXHeader& header) {
    const uint64_t start = stream.Position();
    uint8_t bytes[kHeaderSize];
    const size_t got = stream.Read(bytes, sizeof bytes);
    stream.SetPosition(start);
    if (got != sizeof bytes) return false;
    header = ParseHeader(ByteReader(bytes, sizeof bytes));
    return true;
}

bool KnownManufacturer(uint8_t m) { return m == 10 || m == 205; }

// The 16 colours a Windows display offers every program (the palette of files that bring
// none of their own).
std::vector<TRGBQuad> StandardPalette16() {
    static constexpr uint8_t rgb[16][3] = {
        {0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0}, {0, 0, 128},   {128, 0, 128},
        {0, 128, 128},   {192, 192, 192}, {128, 128, 128}, {255, 0, 0}, {0, 255, 0},   {255, 255, 0},
        {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
    std::vector<TRGBQuad> palette(16);
    for (size_t i = 0; i < 16; ++i) palette[i] = TRGBQuad{rgb[i][2], rgb[i][1], rgb[i][0], 0};
    return palette;
}

}  // namespace

bool TPCXGraphic::ProbeStream(TStream& stream) {
    if (stream.Remaining() <= kHeaderSize) return false;
    PCXHeader h;
    if (!ReadHeader(stream, h)) return false;
    const bool version = h.version == 0 || h.version == 2 || h.version == 3 || h.version == 5;
    return KnownManufacturer(h.manufacturer) && version && h.encoding <= 1;
}

bool TPCXGraphic::ReadProperties(TStream& stream, unsigned imageIndex) {
    TGraphicReader::ReadProperties(stream, imageIndex);
    PCXHeader h;
    if (!ReadHeader(stream, h) || !KnownManufacturer(h.manufacturer)) return false;
    // Widths may come out negative here; ReadPicture refuses those.
    Properties.Width = static_cast<uint32_t>(int32_t(h.xMax) - h.xMin + 1);
    Properties.Height = static_cast<uint32_t>(int32_t(h.yMax) - h.yMin + 1);
    Properties.SamplesPerPixel = h.planes;
    Properties.BitsPerSample = h.bitsPerPixel;
    Properties.BitsPerPixel = static_cast<uint8_t>(h.planes * h.bitsPerPixel);
    Properties.ColorScheme = unsigned(h.planes) * h.bitsPerPixel > 8 ? ColorScheme::RGB : ColorScheme::Indexed;
    Properties.Compression = h.encoding == 1 ? Compression::RLE : Compression::None;
    Properties.XResolution = h.hRes;
    Properties.YResolution = h.vRes;
    Properties.Version = h.version;
    return true;
}

void TPCXGraphic::ReadPicture(TStream& stream) {
    TLoadScope scope(*this, stream);
    // A file that is not a PCX file must not pass for an empty picture.
    ReadPropertiesOrFail(stream, gesPCXOrSCRLabel);
    ProgressRect = Rect(0, 0, static_cast<int>(std::min<uint32_t>(Properties.Width, 0x7FFFFFFF)), 1);
    StartProgress(gesPreparing);

    ByteReader data = LoadSourceData();
    const PCXHeader h = ParseHeader(data.sub(kHeaderSize));
    const int32_t width = int32_t(h.xMax) - h.xMin + 1;
    const int32_t height = int32_t(h.yMax) - h.yMin + 1;
    if (width < 0 || height < 0) RaiseReaderErrorFmt(gesInvalidImage, gesPCXOrSCRLabel);

    const unsigned planes = h.planes;
    const unsigned bits = h.bitsPerPixel;
    // 2, 3 or 4 planes of one bit each: 4, 8 or 16 colours merged into 4-bit pixels.
    const bool bitPlanes = bits == 1 && planes >= 2 && planes <= 4;
    const bool trueColor = Properties.ColorScheme == ColorScheme::RGB;
    const bool supported = (planes == 1 && (bits == 1 || bits == 2 || bits == 4 || bits == 8)) || bitPlanes ||
                           (planes == 3 && bits == 8);
    if (!supported) RaiseReaderErrorFmt(gesInvalidColorFormat, gesPCXLabel);

    // Every plane row must hold the pixels of a row; a shorter one (zero included) cannot be
    // read as a picture of this width.
    const uint64_t planeRowBits = uint64_t(uint32_t(width)) * bits;
    if (uint64_t(h.bytesPerLine) * 8 < planeRowBits) RaiseReaderErrorFmt(gesInvalidImage, gesPCXOrSCRLabel);

    if (bitPlanes) {
        // The planes are merged here, not by the colour manager: describe a 4-bit index.
        ColorManager.SetSourceScheme(ColorScheme::Indexed);
        ColorManager.SetTargetScheme(ColorScheme::Indexed);
        ColorManager.SetSourceSamplesPerPixel(1);
        ColorManager.SetTargetSamplesPerPixel(1);
        ColorManager.SetSourceBitsPerSample(4);
        ColorManager.SetTargetBitsPerSample(4);
    } else {
        ColorManager.SetSourceScheme(Properties.ColorScheme);
        ColorManager.SetTargetScheme(trueColor ? ColorScheme::BGR : ColorScheme::Indexed);
        ColorManager.SetSourceSamplesPerPixel(planes);
        ColorManager.SetTargetSamplesPerPixel(planes);
        ColorManager.SetSourceBitsPerSample(bits);
        ColorManager.SetTargetBitsPerSample(Properties.BitsPerPixel == 2 ? 4 : bits);
    }
    const TPixelFormat format = ColorManager.BitmapFormatFor(TConversionSide::Target);

    // The 256-colour palette block sits at the very end of the file, after the picture data.
    size_t dataSize = data.remaining();
    const std::span<const uint8_t> file = data.data();
    const bool hasPaletteBlock = format == TPixelFormat::pf8bit && file.size() >= kHeaderSize + kPaletteBlockSize &&
                                 file[file.size() - kPaletteBlockSize] == kPaletteMarker;
    if (hasPaletteBlock) dataSize -= kPaletteBlockSize;

    SetBitmapFormatAndSize(format, uint32_t(width), uint32_t(height), gesPCXLabel);

    if (format == TPixelFormat::pf1bit) {
        // Black and white whatever the header's palette says.
        SetPalette(ColorManager.BuildGrayPalette(false));
    } else if (format == TPixelFormat::pf8bit) {
        if (hasPaletteBlock) {
            SetPalette(ColorManager.BuildColorPalette({file.subspan(file.size() - kPaletteBlockSize + 1, 768)},
                                                      PaletteLayout::Interleaved8Triples, 256, false));
        } else {
            // No palette block: the indices are gray levels (also when the header does not say so).
            SetPalette(ColorManager.BuildGrayPalette(false));
        }
    } else if (format == TPixelFormat::pf4bit) {
        if (h.version == 3)
            SetPalette(StandardPalette16());
        else if (h.paletteInfo == 2)
            SetPalette(ColorManager.BuildGrayPalette(false));
        else
            SetPalette(ColorManager.BuildColorPalette({std::span<const uint8_t>(h.palette)},
                                                      PaletteLayout::Interleaved8Triples, 16, false));
    }

    const size_t rowSize = size_t(planes) * h.bytesPerLine;
    const size_t pictureSize = static_cast<size_t>(CheckAllocation(uint64_t(uint32_t(height)), rowSize));
    std::vector<uint8_t> buffer(pictureSize, 0);
    const std::span<const uint8_t> packed = data.bytes(dataSize);
    if (Properties.Compression == Compression::RLE) {
        // Runs may cross row ends. Data that ends early leaves the rest of the picture black.
        TPCXRLEDecoder decoder;
        TDecodeSource source = packed;
        TDecodeTarget target = buffer;
        decoder.DecodeInit();
        decoder.Decode(source, target, static_cast<int32_t>(std::min<size_t>(packed.size(), INT32_MAX)),
                       static_cast<int32_t>(std::min<size_t>(pictureSize, INT32_MAX)));
        decoder.DecodeEnd();
    } else {
        // Stored data shorter than the picture: the missing rows stay black (zeros). A picture
        // of no bytes has no buffer to copy into.
        const size_t stored = std::min(packed.size(), pictureSize);
        if (stored != 0) std::memcpy(buffer.data(), packed.data(), stored);
    }
    EndProgress();

    ProgressRect = Rect(0, 0, Width(), 1);
    StartProgress(gesTransfering);
    const size_t bpl = h.bytesPerLine;
    for (int32_t y = 0; y < height; ++y) {
        const std::span<const uint8_t> row(buffer.data() + size_t(y) * rowSize, rowSize);
        if (bitPlanes) {
            // Plane p gives bit p of each pixel; two pixels per output byte, the first high.
            std::span<uint8_t> out = ScanLineSpan(y);
            const size_t outBytes = (size_t(width) * 4 + 7) / 8;
            if (out.size() < outBytes) throw ERangeError();
            std::fill_n(out.begin(), outBytes, uint8_t(0));
            for (int32_t x = 0; x < width; ++x) {
                const size_t byte = size_t(x) / 8;
                const unsigned shift = 7 - unsigned(x) % 8;
                unsigned value = 0;
                for (unsigned p = 0; p < planes; ++p) value |= ((row[p * bpl + byte] >> shift) & 1u) << p;
                out[size_t(x) / 2] |= static_cast<uint8_t>(x % 2 == 0 ? value << 4 : value);
            }
        } else if (trueColor) {
            ColorManager.ConvertScanline({row.subspan(0, bpl), row.subspan(bpl, bpl), row.subspan(2 * bpl, bpl)},
                                         ScanLineSpan(y), size_t(width), 0xFF);
        } else {
            ColorManager.ConvertScanline({row}, ScanLineSpan(y), size_t(width), 0xFF);
        }
        RowProgress(RowPercent(uint64_t(y), uint64_t(height)));
    }
    EndProgress();
}
