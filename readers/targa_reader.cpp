#include "readers/targa_reader.h"

#include <algorithm>
#include <climits>
#include <vector>

#include "graphics/size_check.h"
#include "graphics/stream.h"
#include "readers/codecs/rle_decoders.h"

IMBRIX_DEFINE_GRAPHIC_CLASS(TTargaGraphic, TGraphicReader);

namespace {

// The shared messages have no Targa label; this one fills the reader's own failures.
constexpr const char* kTargaLabel = "Targa";
constexpr size_t kHeaderSize = 18;

struct TargaHeader {
    uint8_t idLength, mapType, imageType;
    uint16_t mapFirst, mapLength;
    uint8_t mapEntryBits;
    uint16_t width, height;
    uint8_t depth, descriptor;

    explicit TargaHeader(const uint8_t* h)
        : idLength(h[0]), mapType(h[1]), imageType(h[2]), mapFirst(uint16_t(h[3] | h[4] << 8)),
          mapLength(uint16_t(h[5] | h[6] << 8)), mapEntryBits(h[7]), width(uint16_t(h[12] | h[13] << 8)),
          height(uint16_t(h[14] | h[15] << 8)), depth(h[16]), descriptor(h[17]) {}

    bool Gray() const { return imageType == 3 || imageType == 11; }
    bool RunLength() const { return imageType >= 9 && imageType <= 11; }
};

size_t PixelBytes(unsigned depth) { return TargaElementSize(static_cast<int32_t>(depth)); }

bool KnownDepth(unsigned depth) { return PixelBytes(depth) != 0; }

TRGBQuad Quad555(uint16_t v) {
    return TRGBQuad{uint8_t((v & 0x001F) << 3), uint8_t((v & 0x03E0) >> 2), uint8_t((v & 0x7C00) >> 7), 0};
}

}  // namespace

bool TTargaGraphic::ProbeStream(TStream& stream) {
    const uint64_t start = stream.Position();
    bool result = false;
    uint8_t h[kHeaderSize];
    if (stream.Remaining() > kHeaderSize && stream.Read(h, kHeaderSize) == kHeaderSize) {
        const TargaHeader t(h);
        const bool type = t.imageType <= 3 || (t.imageType >= 9 && t.imageType <= 11);
        const bool entry = t.mapEntryBits == 15 || t.mapEntryBits == 16 || t.mapEntryBits == 24 || t.mapEntryBits == 32;
        result = type && t.mapType <= 1 && entry && KnownDepth(t.depth);
    }
    stream.SetPosition(start);
    return result;
}

bool TTargaGraphic::ReadProperties(TStream& stream, unsigned imageIndex) {
    TGraphicReader::ReadProperties(stream, imageIndex);
    uint8_t h[kHeaderSize];
    stream.ReadBuffer(h, kHeaderSize);
    const TargaHeader t(h);
    Properties.Width = t.width;
    Properties.Height = t.height;
    switch (t.depth) {
        case 8:
            Properties.ColorScheme = t.Gray() ? ColorScheme::Gray : ColorScheme::Indexed;
            Properties.BitsPerSample = 8;
            Properties.SamplesPerPixel = 1;
            break;
        case 15:
        case 16:
            Properties.ColorScheme = ColorScheme::RGB;
            Properties.BitsPerSample = 5;
            Properties.SamplesPerPixel = 3;
            break;
        case 24:
            Properties.ColorScheme = ColorScheme::RGB;
            Properties.BitsPerSample = 8;
            Properties.SamplesPerPixel = 3;
            break;
        case 32:
            Properties.ColorScheme = ColorScheme::RGBA;
            Properties.BitsPerSample = 8;
            Properties.SamplesPerPixel = 4;
            break;
        default: break;
    }
    // A gray picture with 8 alpha bits in each 16-bit pixel.
    if (t.Gray() && t.depth == 16) {
        Properties.ColorScheme = ColorScheme::GrayAlpha;
        Properties.BitsPerSample = 8;
        Properties.SamplesPerPixel = 2;
    }
    Properties.BitsPerPixel = uint8_t(Properties.SamplesPerPixel * Properties.BitsPerSample);
    Properties.HasAlpha = t.depth == 32 && (t.descriptor & 0x0F) != 0;
    Properties.Compression = t.RunLength() ? Compression::RLE : Compression::None;
    return true;
}

void TTargaGraphic::ReadPicture(TStream& stream) {
    TLoadScope scope(*this, stream);
    ReadProperties(stream, 0);
    ByteReader data = LoadSourceData();
    const TargaHeader t(data.bytes(kHeaderSize).data());
    // Types without image data and unknown depths would give a blank picture; refuse them.
    const bool knownType = (t.imageType >= 1 && t.imageType <= 3) || t.RunLength();
    if (!knownType || !KnownDepth(t.depth)) RaiseReaderErrorFmt(gesInvalidImage, kTargaLabel);
    const bool grayAlpha = Properties.ColorScheme == ColorScheme::GrayAlpha;

    ProgressRect = Rect(0, 0, int(t.width), 1);
    StartProgress(gesPreparing);
    data.skip(t.idLength);

    ColorManager.SourceOptions = 0;
    ColorManager.SetSourceSamplesPerPixel(grayAlpha ? 4 : Properties.SamplesPerPixel);
    ColorManager.SetTargetSamplesPerPixel(grayAlpha ? 4 : Properties.SamplesPerPixel);
    ColorManager.SetSourceScheme(grayAlpha ? ColorScheme::BGRA : Properties.ColorScheme);
    ColorManager.SetTargetScheme(grayAlpha ? ColorScheme::BGRA : ColorScheme::BGR);
    ColorManager.SetSourceBitsPerSample(Properties.BitsPerSample);
    ColorManager.SetTargetBitsPerSample(Properties.BitsPerSample);
    const TPixelFormat format = ColorManager.BitmapFormatFor(TConversionSide::Target);

    std::vector<TRGBQuad> palette;
    if (t.Gray()) {
        palette = ColorManager.BuildGrayPalette(false);
    }
    if (t.mapType == 1) {
        const size_t entryBytes = (t.mapEntryBits + 7) / 8;
        const size_t length = t.mapLength;
        auto map = data.bytes(CheckAllocation(length, entryBytes));
        // Entries sit at their index: the map's stored part starts at "first entry".
        const size_t first = t.mapFirst;
        if (!t.Gray() && t.depth == 8 && first < 256) {
            const size_t usable = std::min(length, 256 - first);
            std::vector<TRGBQuad> colours;
            if (entryBytes == 2) {
                for (size_t i = 0; i < usable; ++i) colours.push_back(Quad555(uint16_t(map[2 * i] | map[2 * i + 1] << 8)));
            } else if (entryBytes == 3 || entryBytes == 4) {
                const PaletteLayout layout =
                    entryBytes == 3 ? PaletteLayout::Interleaved8Triples : PaletteLayout::Interleaved8Quads;
                colours = ColorManager.BuildColorPalette({map.subspan(0, usable * entryBytes)}, layout, usable, true);
                colours.resize(usable);
            } else {
                RaiseReaderErrorFmt(gesInvalidImage, kTargaLabel);
            }
            palette.assign(first, TRGBQuad{});
            palette.insert(palette.end(), colours.begin(), colours.end());
        }
    }

    SetBitmapFormatAndSize(format, t.width, t.height, kTargaLabel);
    if (format == TPixelFormat::pf8bit) {
        palette.resize(256);
        SetPalette(palette);
    }
    const size_t width = t.width;
    const size_t height = t.height;
    const size_t pixelBytes = PixelBytes(t.depth);
    const size_t rowBytes = width * pixelBytes;
    EndProgress();
    StartProgress(gesTransfering);

    // Run-length data is decoded as one stream, so a packet that crosses a row end carries
    // on into the next row, as the files' writers meant. Data that ends early leaves black.
    std::vector<uint8_t> decoded;
    std::span<const uint8_t> fileRows;
    if (t.RunLength()) {
        decoded.assign(CheckAllocation(height, rowBytes), 0);
        TTargaRLEDecoder decoder(t.depth);
        TDecodeSource source = data.data().subspan(data.pos());
        TDecodeTarget dest(decoded);
        decoder.Decode(source, dest, int32_t(std::min<size_t>(source.size(), INT32_MAX)),
                       int32_t(std::min<size_t>(width * height, INT32_MAX)));
        fileRows = decoded;
    } else {
        fileRows = data.bytes(CheckAllocation(height, rowBytes));
    }

    const bool topDown = t.descriptor & 0x20;
    const bool rightToLeft = t.descriptor & 0x10;
    bool anyAlpha = false;
    for (size_t n = 0; n < height; ++n) {
        const int row = int(topDown ? n : height - 1 - n);
        const uint8_t* source = fileRows.data() + n * rowBytes;
        uint8_t* target = ScanLine(row);
        const size_t targetBytes = grayAlpha ? 4 : pixelBytes;
        for (size_t x = 0; x < width; ++x) {
            const uint8_t* s = source + x * pixelBytes;
            uint8_t* d = target + (rightToLeft ? width - 1 - x : x) * targetBytes;
            if (grayAlpha) {
                d[0] = d[1] = d[2] = s[0];
                d[3] = s[1];
            } else {
                std::copy(s, s + pixelBytes, d);
            }
            if (targetBytes == 4 && d[3] != 0) anyAlpha = true;
        }
        RowProgress(RowPercent(n, height));
    }
    // Alpha that is all zero, or that the descriptor does not claim, leaves the picture opaque.
    AlphaMeaningful = anyAlpha && (grayAlpha || (t.descriptor & 0x0F) != 0);
    EndProgress();
}
