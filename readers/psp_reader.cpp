#include "readers/psp_reader.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <memory>

#include "graphics/errors.h"
#include "graphics/size_check.h"
#include "graphics/stream.h"
#include "readers/codecs/lz77_decoder.h"
#include "readers/codecs/rle_decoders.h"

IMBRIX_DEFINE_GRAPHIC_CLASS(TPSPGraphic, TGraphicReader);

namespace {

constexpr const char kSignature[] = "Paint Shop Pro Image File";
constexpr size_t kSignatureCompared = 25;
constexpr size_t kFileHeaderSize = 36;
constexpr size_t kAttributesSize = 42;
constexpr size_t kLayerInfoSize = 115;
constexpr size_t kLayerNameSizeV3 = 256;

constexpr uint16_t kImageAttributesBlock = 0;
constexpr uint16_t kPaletteBlock = 2;
constexpr uint16_t kLayerBankBlock = 3;
constexpr uint16_t kLayerBlock = 4;

// Bitmap types of a channel: the picture itself and its transparency mask. Masks of other
// kinds (user masks, selections, alpha masks) are not part of the picture.
constexpr uint16_t kImageBitmap = 0;
constexpr uint16_t kTransparencyMask = 1;

enum ChannelType : uint16_t { kComposite = 0, kRed = 1, kGreen = 2, kBlue = 3 };

bool SignatureMatches(std::span<const uint8_t> bytes) {
    if (bytes.size() < kSignatureCompared) return false;
    for (size_t i = 0; i < kSignatureCompared; ++i)
        if (std::tolower(bytes[i]) != std::tolower(static_cast<unsigned char>(kSignature[i]))) return false;
    return true;
}

[[noreturn]] void RaiseBadStructure() { RaiseReaderErrorFmt(gesInvalidImage, gesPSPLabel); }

struct BlockHeader {
    uint16_t id = 0;
    size_t dataStart = 0;
    size_t end = 0;
};

// Reads a block header at the reader's position. False when the marker is not "~" (the end
// of the block sequence). A block whose length runs past limit (its parent's end or the
// file's) is a broken file, not a shorter block.
bool ReadBlockHeader(ByteReader& r, uint32_t majorVersion, size_t limit, BlockHeader& block) {
    const uint8_t marker = r.u8();
    r.skip(3);
    if (marker != '~') return false;
    block.id = r.u16le();
    if (majorVersion == 3) r.skip(4);  // initial data length
    const uint32_t total = r.u32le();
    block.dataStart = r.pos();
    if (block.dataStart > limit || total > limit - block.dataStart) RaiseBadStructure();
    block.end = block.dataStart + total;
    return true;
}

// The header fields ReadProperties needs, and where the attributes block ends. Block lengths
// are checked against limit, the bytes from the file's start to its end.
bool ParseHeader(ByteReader& r, TImageProperties& p, size_t limit, size_t& attributesEnd) {
    if (!SignatureMatches(r.bytes(32))) return false;
    const uint16_t major = r.u16le();
    r.u16le();  // minor version
    if (major < 3) return false;
    BlockHeader block;
    if (!ReadBlockHeader(r, major, limit, block) || block.id != kImageAttributesBlock) return false;
    if (major > 3) r.skip(4);  // chunk size
    ByteReader a = r.sub(kAttributesSize);
    const int32_t width = a.i32le();
    const int32_t height = a.i32le();
    const double resolution = a.f64le();
    const uint8_t unit = a.u8();
    const uint16_t compression = a.u16le();
    const uint16_t depth = a.u16le();
    a.seek(27);
    const bool grayscale = a.u8() != 0;
    if (width < 0 || height < 0) return false;

    p.Version = major;
    if (depth == 24) {
        p.BitsPerSample = 8;
        p.SamplesPerPixel = 3;
        p.ColorScheme = ColorScheme::RGB;
    } else {
        p.BitsPerSample = static_cast<uint8_t>(std::min<uint16_t>(depth, 255));
        p.SamplesPerPixel = 1;
        p.ColorScheme = grayscale ? ColorScheme::Gray : ColorScheme::Indexed;
    }
    p.BitsPerPixel = static_cast<uint8_t>(p.BitsPerSample * p.SamplesPerPixel);
    p.Width = static_cast<uint32_t>(width);
    p.Height = static_cast<uint32_t>(height);
    switch (compression) {
        case 0: p.Compression = Compression::None; break;
        case 1: p.Compression = Compression::RLE; break;
        case 2: p.Compression = Compression::LZ77; break;
        case 3: p.Compression = Compression::JPEG; break;
        default: p.Compression = Compression::Unknown; break;
    }
    p.XResolution = static_cast<float>(unit == 2 ? resolution * 2.54 : resolution);
    p.YResolution = p.XResolution;
    attributesEnd = block.end;
    return true;
}

// Bytes of the longest header ParseHeader reads: file header, a version 3 block header,
// the attributes.
constexpr size_t kHeaderBytes = kFileHeaderSize + 14 + 4 + kAttributesSize;

}  // namespace

bool TPSPGraphic::ProbeStream(TStream& stream) {
    const uint64_t start = stream.Position();
    bool result = false;
    if (stream.Size() > start && stream.Size() - start > kFileHeaderSize) {
        uint8_t header[kFileHeaderSize];
        stream.ReadBuffer(header, sizeof header);
        ByteReader r(header, sizeof header);
        result = SignatureMatches(r.bytes(32)) && r.u16le() >= 3;
    }
    stream.SetPosition(start);
    return result;
}

bool TPSPGraphic::ReadProperties(TStream& stream, unsigned imageIndex) {
    TGraphicReader::ReadProperties(stream, imageIndex);
    const uint64_t start = stream.Position();
    const uint64_t size = stream.Size();
    const uint64_t available = size > start ? size - start : 0;
    std::vector<uint8_t> header(static_cast<size_t>(std::min<uint64_t>(available, kHeaderBytes)));
    stream.ReadBuffer(header.data(), header.size());
    ByteReader r(header);
    TImageProperties p = Properties;
    size_t attributesEnd = 0;
    if (!ParseHeader(r, p, static_cast<size_t>(std::min<uint64_t>(available, SIZE_MAX / 2)), attributesEnd))
        return false;
    Properties = std::move(p);
    stream.SetPosition(start + attributesEnd);
    return true;
}

void TPSPGraphic::ReadPicture(TStream& stream) {
    TLoadScope scope(*this, stream);
    ReadPropertiesOrFail(stream, gesPSPLabel);
    if (Properties.Compression != Compression::None && Properties.Compression != Compression::RLE &&
        Properties.Compression != Compression::LZ77)
        RaiseUnsupportedCompression(gesPSPLabel);

    ByteReader data = LoadSourceData();
    ProgressRect = Rect(0, 0, static_cast<int>(std::min<uint32_t>(Properties.Width, 0x7FFFFFFF)), 1);
    StartProgress(gesPreparing);
    TImageProperties again;
    size_t attributesEnd = 0;
    ParseHeader(data, again, data.size(), attributesEnd);
    data.seek(attributesEnd);
    const uint32_t major = Properties.Version;

    ColorManager.SourceOptions = 0;
    ColorManager.SetSourceBitsPerSample(Properties.BitsPerSample);
    ColorManager.SetTargetBitsPerSample(Properties.BitsPerSample);
    ColorManager.SetSourceSamplesPerPixel(Properties.SamplesPerPixel);
    ColorManager.SetTargetSamplesPerPixel(Properties.SamplesPerPixel);
    ColorManager.SetSourceScheme(Properties.ColorScheme);
    const bool rgb = Properties.ColorScheme == ColorScheme::RGB;
    ColorManager.SetTargetScheme(rgb ? ColorScheme::BGR : Properties.ColorScheme);

    const size_t width = Properties.Width;
    size_t stride = 0;
    switch (Properties.BitsPerSample) {
        case 1: stride = (width + 7) / 8; break;
        case 4: stride = width / 2 + 1; break;
        case 8: stride = width; break;
        default: RaiseReaderErrorFmt(gesInvalidColorFormat, gesPSPLabel);
    }
    // The whole file bounds the channel data: if even that, inflated at the codec's highest
    // ratio, could not fill one plane, the file is a bomb, refused before the bitmap is taken.
    if (Properties.Compression != Compression::None &&
        uint64_t(Properties.Width) * Properties.Height <= CurrentPictureLimits().maxPixels)
        CheckCompressedSize(uint64_t(stride) * Properties.Height, data.size(),
                            Properties.Compression == Compression::LZ77 ? kDeflateMaxRatio : kPackBitsMaxRatio);
    SetBitmapFormatAndSize(ColorManager.BitmapFormatFor(TConversionSide::Target), Properties.Width,
                           Properties.Height, gesPSPLabel);
    if (Properties.ColorScheme == ColorScheme::Gray) SetPalette(ColorManager.BuildGrayPalette(false));
    EndProgress();

    const size_t height = Properties.Height;
    const size_t planeBytes = stride * height;  // the bitmap's size check bounds this
    bool layerLoaded = false;

    BlockHeader block;
    while (data.remaining() >= (major == 3 ? 14u : 10u) &&
           ReadBlockHeader(data, major, data.size(), block)) {
        if (block.id == kPaletteBlock && Properties.ColorScheme == ColorScheme::Indexed) {
            ByteReader b(data.data().subspan(block.dataStart, block.end - block.dataStart));
            if (major > 3) b.skip(4);  // chunk size
            const uint32_t count = b.u32le();
            // The bitmap holds at most 2^depth entries; longer palettes are cut there.
            const size_t used = std::min<size_t>(count, size_t(1) << Properties.BitsPerSample);
            const std::span<const uint8_t> entries = b.bytes(used * 4);
            SetPalette(ColorManager.BuildColorPalette({entries}, PaletteLayout::Interleaved8Quads, used, true));
        } else if (block.id == kLayerBankBlock && !layerLoaded) {
            ByteReader bank(data.data().subspan(0, block.end));
            bank.seek(block.dataStart);
            StartProgress(gesLoadingData);
            BlockHeader layer;
            bool chosen = false;
            while (bank.remaining() >= (major == 3 ? 14u : 10u) && ReadBlockHeader(bank, major, block.end, layer)) {
                if (layer.id == kLayerBlock) {
                    uint8_t type = 0xFF;
                    if (major == 3) {
                        bank.skip(kLayerNameSizeV3);
                        type = bank.bytes(kLayerInfoSize)[0];
                        chosen = type == 0;
                    } else {
                        const size_t chunkStart = bank.pos();
                        const uint32_t chunkSize = bank.u32le();
                        if (chunkSize > layer.end - chunkStart) RaiseBadStructure();
                        bank.skip(bank.u16le());  // name
                        type = bank.bytes(kLayerInfoSize)[0];
                        if (chunkStart + chunkSize < bank.pos()) RaiseBadStructure();
                        bank.seek(chunkStart + chunkSize);
                        chosen = type == 0 || type == 1;
                    }
                }
                if (chosen) break;
                bank.seek(layer.end);
            }
            if (chosen) {
                ByteReader lr(data.data().subspan(0, layer.end));
                lr.seek(bank.pos());
                uint16_t channelCount = 0;
                if (major == 3) {
                    lr.u16le();  // bitmap count
                    channelCount = lr.u16le();
                } else {
                    const size_t chunkStart = lr.pos();
                    const uint32_t chunkSize = lr.u32le();
                    lr.u16le();
                    channelCount = lr.u16le();
                    if (chunkSize > layer.end - chunkStart || chunkStart + chunkSize < lr.pos()) RaiseBadStructure();
                    lr.seek(chunkStart + chunkSize);
                }

                // Composite, red, green, blue. Channels the file lacks stay zero.
                std::array<std::vector<uint8_t>, 4> channels;
                std::array<bool, 4> present{};
                for (uint16_t c = 0; c < channelCount; ++c) {
                    BlockHeader cb;
                    if (lr.remaining() < (major == 3 ? 14u : 10u) || !ReadBlockHeader(lr, major, layer.end, cb))
                        break;
                    ByteReader ch(data.data().subspan(0, cb.end));
                    ch.seek(cb.dataStart);
                    size_t fieldsStart = ch.pos();
                    uint32_t chunkSize = 16;
                    if (major > 3) {
                        chunkSize = ch.u32le();
                        fieldsStart = ch.pos();
                    }
                    const uint32_t packedSize = ch.u32le();
                    const uint32_t unpackedSize = ch.u32le();
                    const uint16_t bitmapType = ch.u16le();
                    const uint16_t channelType = ch.u16le();
                    if (major > 3 && chunkSize > 16) {
                        // Later versions may lengthen the chunk; the data follows it.
                        if (chunkSize - 4 > cb.end - fieldsStart) RaiseBadStructure();
                        ch.seek(fieldsStart - 4 + chunkSize);
                    }
                    lr.seek(cb.end);

                    // The picture's channels: the image bitmap's colour planes, and for colour
                    // pictures the composite of image or transparency mask as alpha.
                    const bool wanted =
                        channelType <= kBlue &&
                        (rgb ? (channelType == kComposite ? bitmapType <= kTransparencyMask : bitmapType == kImageBitmap)
                             : channelType == kComposite && bitmapType == kImageBitmap);
                    if (!wanted) continue;
                    if (packedSize > ch.remaining()) RaiseBadStructure();
                    const std::span<const uint8_t> packed = ch.bytes(packedSize);
                    std::vector<uint8_t>& plane = channels[channelType];
                    CheckAllocation(planeBytes, 1);
                    plane.assign(planeBytes, 0);
                    present[channelType] = true;
                    const size_t want = std::min<size_t>(unpackedSize, planeBytes);
                    TDecodeSource src = packed;
                    TDecodeTarget dst(plane.data(), want);
                    const auto asInt = [](size_t v) { return static_cast<int32_t>(std::min<size_t>(v, INT32_MAX)); };
                    switch (Properties.Compression) {
                        case Compression::None:
                            std::copy_n(packed.begin(), std::min(packed.size(), want), plane.begin());
                            break;
                        case Compression::RLE: {
                            TPSPRLEDecoder decoder;
                            decoder.Decode(src, dst, asInt(packed.size()), asInt(want));
                            break;
                        }
                        default: {
                            TLZ77Decoder decoder(4, false);
                            decoder.DecodeInit();
                            decoder.Decode(src, dst, asInt(packed.size()), asInt(want));
                            decoder.DecodeEnd();
                            break;
                        }
                    }
                }
                EndProgress();

                const bool alpha = rgb && present[kComposite];
                if (alpha) {
                    // Nothing is drawn yet: start a fresh bitmap rather than converting one.
                    ReleaseBitmap();
                    ColorManager.SetSourceScheme(ColorScheme::RGBA);
                    ColorManager.SetSourceSamplesPerPixel(4);
                    ColorManager.SetTargetScheme(ColorScheme::BGRA);
                    ColorManager.SetTargetSamplesPerPixel(4);
                    SetBitmapFormatAndSize(ColorManager.BitmapFormatFor(TConversionSide::Target), Properties.Width,
                                           Properties.Height, gesPSPLabel);
                    AlphaMeaningful = true;
                }
                for (auto& plane : channels)
                    if (plane.empty()) plane.assign(planeBytes, 0);

                ProgressRect = Rect(0, 0, Width(), 1);
                StartProgress(gesTransfering);
                for (size_t y = 0; y < height; ++y) {
                    const auto row = [&](int c) {
                        return std::span<const uint8_t>(channels[c].data() + y * stride, stride);
                    };
                    if (!rgb)
                        ColorManager.ConvertScanline({row(kComposite)}, ScanLineSpan(int(y)), width, 0xFF);
                    else if (alpha)
                        ColorManager.ConvertScanline({row(kRed), row(kGreen), row(kBlue), row(kComposite)},
                                                     ScanLineSpan(int(y)), width, 0xFF);
                    else
                        ColorManager.ConvertScanline({row(kRed), row(kGreen), row(kBlue)}, ScanLineSpan(int(y)),
                                                     width, 0xFF);
                    RowProgress(RowPercent(y + 1, height));
                }
                EndProgress();
                layerLoaded = true;
            } else {
                EndProgress();
            }
        }
        data.seek(block.end);
    }
}
