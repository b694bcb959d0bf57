#include "readers/png_reader.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "graphics/errors.h"
#include "graphics/size_check.h"
#include "graphics/stream.h"
#include "graphics/warning_sink.h"
#include "readers/codecs/lz77_decoder.h"
#include "readers/embedded_profile.h"

IMBRIX_DEFINE_GRAPHIC_CLASS(TPNGGraphic, TGraphicReader);

namespace {

constexpr uint64_t kSmallPictureBytes = uint64_t(1) << 20;

constexpr uint8_t kSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};

uint32_t BigEndian32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
uint16_t BigEndian16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

// Chunk types compare with bit 5 of every byte masked off, so letter case does not matter.
bool SameType(const std::array<uint8_t, 4>& type, const char* name) {
    for (int i = 0; i < 4; ++i)
        if ((type[i] & 0xDF) != (uint8_t(name[i]) & 0xDF)) return false;
    return true;
}
bool IsCritical(const std::array<uint8_t, 4>& type) { return (type[0] & 0x20) == 0; }

uint32_t TypeCrc(const std::array<uint8_t, 4>& type) {
    return static_cast<uint32_t>(crc32(crc32(0L, Z_NULL, 0), type.data(), 4));
}

struct TAdam7Pass {
    uint32_t startRow, rowStep, startColumn, columnStep;
    uint8_t mask;
};
constexpr TAdam7Pass kAdam7[7] = {
    {0, 8, 0, 8, 0x80}, {0, 8, 4, 8, 0x08}, {4, 8, 0, 4, 0x88}, {0, 4, 2, 4, 0x22},
    {2, 4, 0, 2, 0xAA}, {0, 2, 1, 2, 0x55}, {1, 2, 0, 1, 0xFF},
};

inline uint8_t Paeth(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return static_cast<uint8_t>(a);
    return static_cast<uint8_t>(pb <= pc ? b : c);
}

// Reverses the row filter in place. row and prior hold n bytes (without the type byte).
template <size_t BPP>
void UnfilterFixed(uint8_t type, uint8_t* row, const uint8_t* prior, size_t n) {
    switch (type) {
        case 1:
            for (size_t i = BPP; i < n; ++i) row[i] = uint8_t(row[i] + row[i - BPP]);
            break;
        case 2:
            for (size_t i = 0; i < n; ++i) row[i] = uint8_t(row[i] + prior[i]);
            break;
        case 3:
            for (size_t i = 0; i < BPP && i < n; ++i) row[i] = uint8_t(row[i] + (prior[i] >> 1));
            for (size_t i = BPP; i < n; ++i) row[i] = uint8_t(row[i] + ((unsigned(row[i - BPP]) + prior[i]) >> 1));
            break;
        case 4:
            for (size_t i = 0; i < BPP && i < n; ++i) row[i] = uint8_t(row[i] + prior[i]);
            for (size_t i = BPP; i < n; ++i) row[i] = uint8_t(row[i] + Paeth(row[i - BPP], prior[i], prior[i - BPP]));
            break;
        default:  // None, and unknown types: the row stays as inflated
            break;
    }
}

void Unfilter(uint8_t type, uint8_t* row, const uint8_t* prior, size_t n, size_t bpp) {
    switch (bpp) {
        case 1: UnfilterFixed<1>(type, row, prior, n); break;
        case 2: UnfilterFixed<2>(type, row, prior, n); break;
        case 3: UnfilterFixed<3>(type, row, prior, n); break;
        case 4: UnfilterFixed<4>(type, row, prior, n); break;
        case 6: UnfilterFixed<6>(type, row, prior, n); break;
        default: UnfilterFixed<8>(type, row, prior, n); break;
    }
}

// Bytes of n pixels of a row, the filter-type byte not counted.
uint64_t RowBytes(uint64_t n, unsigned bitDepth, unsigned channels) {
    return (n * bitDepth * channels + 7) / 8;
}

bool ReadExactly(TStream& stream, void* buffer, size_t count) {
    return stream.Read(buffer, count) == count;
}

// The image data bytes of a whole file: every IDAT chunk's length, as far as the file holds
// it. Only lengths are read (no CRCs), so this costs a walk over the chunk headers.
uint64_t ImageDataBytes(std::span<const uint8_t> file) {
    uint64_t total = 0;
    size_t at = 8;  // after the signature
    while (at <= file.size() && file.size() - at >= 8) {
        const uint32_t length = BigEndian32(file.data() + at);
        std::array<uint8_t, 4> type;
        std::memcpy(type.data(), file.data() + at + 4, 4);
        at += 8;
        const uint64_t available = file.size() - at;
        if (SameType(type, "IDAT")) total += std::min<uint64_t>(length, available);
        if (SameType(type, "IEND") || uint64_t(length) + 4 > available) break;
        at += size_t(length) + 4;
    }
    return total;
}

}  // namespace

TPNGGraphic::TPNGGraphic() = default;
TPNGGraphic::~TPNGGraphic() = default;

bool TPNGGraphic::ProbeStream(TStream& stream) {
    const uint64_t start = stream.Position();
    const uint64_t size = stream.Size();
    if (size <= start || size - start <= 8) return false;
    uint8_t head[8];
    const bool ok = ReadExactly(stream, head, 8) && std::memcmp(head, kSignature, 8) == 0;
    stream.SetPosition(start);
    return ok;
}

bool TPNGGraphic::ReadProperties(TStream& stream, unsigned imageIndex) {
    TGraphicReader::ReadProperties(stream, imageIndex);
    SourceStream = &stream;
    uint8_t head[8];
    if (!ReadExactly(stream, head, 8) || std::memcmp(head, kSignature, 8) != 0) return false;

    auto readHeader = [&](TChunkHeader& h) {
        uint8_t bytes[8];
        if (!ReadExactly(stream, bytes, 8)) return false;
        h.length = BigEndian32(bytes);
        std::memcpy(h.type.data(), bytes + 4, 4);
        h.crc = TypeCrc(h.type);
        return true;
    };
    // Small chunks only (IHDR, gAMA): anything else is skipped by position.
    auto readData = [&](const TChunkHeader& h, uint8_t* out, size_t want) {
        if (h.length != want) RaiseReaderErrorFmt(gesInvalidImage, gesPNGLabel);
        uint8_t crc[4];
        stream.ReadBuffer(out, want);
        stream.ReadBuffer(crc, 4);
        if (static_cast<uint32_t>(crc32(h.crc, out, static_cast<uInt>(want))) != BigEndian32(crc))
            RaiseReaderErrorFmt(gesInvalidCRC, gesPNGLabel);
    };

    TChunkHeader h;
    if (!readHeader(h) || !SameType(h.type, "IHDR")) return false;
    Properties.Options |= ImageOption::BigEndian;
    uint8_t ihdr[13];
    readData(h, ihdr, sizeof ihdr);
    Properties.Width = BigEndian32(ihdr);
    Properties.Height = BigEndian32(ihdr + 4);
    if (Properties.Width == 0 || Properties.Height == 0) return false;
    // Sides beyond 2^31 - 1 are not PNG.
    if (Properties.Width > 0x7FFFFFFF || Properties.Height > 0x7FFFFFFF) return false;

    Properties.Compression = ihdr[10] == 0 ? Compression::LZ77 : Compression::Unknown;
    Properties.BitsPerSample = ihdr[8];
    Properties.SamplesPerPixel = 1;
    switch (ihdr[9]) {
        case 0: Properties.ColorScheme = ColorScheme::Gray; break;
        case 2: Properties.ColorScheme = ColorScheme::RGB; Properties.SamplesPerPixel = 3; break;
        case 3: Properties.ColorScheme = ColorScheme::Indexed; break;
        case 4: Properties.ColorScheme = ColorScheme::GrayAlpha; break;
        case 6: Properties.ColorScheme = ColorScheme::RGBA; Properties.SamplesPerPixel = 4; break;
        default: Properties.ColorScheme = ColorScheme::Unknown; break;
    }
    Properties.BitsPerPixel = static_cast<uint8_t>(Properties.SamplesPerPixel * Properties.BitsPerSample);
    Properties.FilterMethod = ihdr[11];
    Properties.Interlaced = ihdr[12] != 0;
    Properties.HasAlpha = Properties.ColorScheme == ColorScheme::GrayAlpha ||
                          Properties.ColorScheme == ColorScheme::RGBA || Properties.ColorScheme == ColorScheme::BGRA;

    // The gamma sits before the image data; the walk stops at the file's end too, so a file
    // cut short still tells its size.
    for (;;) {
        if (!readHeader(h)) return true;
        if (SameType(h.type, "gAMA") && h.length == 4) {
            uint8_t value[4];
            readData(h, value, 4);
            Properties.Gamma = static_cast<float>(BigEndian32(value) / 100000.0);
            return true;
        }
        const uint64_t next = stream.Position() + uint64_t(h.length) + 4;
        if (SameType(h.type, "IEND") || next > stream.Size()) return true;
        stream.SetPosition(next);
    }
}

bool TPNGGraphic::ReadChunkHeader(ByteReader& data) {
    haveChunk_ = false;
    if (data.remaining() < 8) return false;
    chunk_.length = data.u32be();
    data.copy(chunk_.type.data(), 4);
    chunk_.crc = TypeCrc(chunk_.type);
    haveChunk_ = true;
    return true;
}

bool TPNGGraphic::CurrentIs(const char* type) const { return haveChunk_ && SameType(chunk_.type, type); }

std::span<const uint8_t> TPNGGraphic::ReadChunkData(ByteReader& data) {
    if (CurrentIs("IDAT") && data.remaining() < uint64_t(chunk_.length) + 4) {
        // A file cut inside its image data: use what arrived.
        dataEnded_ = true;
        return data.bytes(std::min<size_t>(chunk_.length, data.remaining()));
    }
    const std::span<const uint8_t> bytes = data.bytes(chunk_.length);
    const uint32_t stored = data.u32be();
    // zlib answers its start value for a null buffer, so an empty chunk keeps the type's CRC.
    const uint32_t crc = bytes.empty() ? chunk_.crc
                                       : static_cast<uint32_t>(crc32(chunk_.crc, bytes.data(), static_cast<uInt>(bytes.size())));
    if (crc != stored)
        RaiseReaderErrorFmt(gesInvalidCRC, gesPNGLabel);
    return bytes;
}

void TPNGGraphic::SkipChunk(ByteReader& data) {
    // A length beyond the file is a cut file; the walk ends there.
    const uint64_t step = uint64_t(chunk_.length) + 4;
    data.seek(step > data.remaining() ? data.size() : data.pos() + static_cast<size_t>(step));
}

void TPNGGraphic::SetupColors() {
    const unsigned d = bitDepth_;
    TColorManager& cm = ColorManager;
    TPixelFormat format = TPixelFormat::pfCustom;
    grayAlphaToBGRA_ = false;
    auto invalid = [] { RaiseReaderErrorFmt(gesInvalidColorFormat, gesPNGLabel); };
    switch (colorType_) {
        case 0:
            if (d != 1 && d != 2 && d != 4 && d != 8 && d != 16) invalid();
            cm.SetSourceScheme(ColorScheme::Gray);
            cm.SetSourceSamplesPerPixel(1);
            cm.SetSourceBitsPerSample(d);
            cm.SetTargetScheme(ColorScheme::Gray);
            cm.SetTargetSamplesPerPixel(1);
            cm.SetTargetBitsPerSample(d == 2 ? 4 : d == 16 ? 8 : d);
            format = cm.BitmapFormatFor(TConversionSide::Target);
            channels_ = 1;
            break;
        case 2:
            if (d != 8 && d != 16) invalid();
            cm.SetSourceScheme(ColorScheme::RGB);
            cm.SetSourceSamplesPerPixel(3);
            cm.SetSourceBitsPerSample(d);
            cm.SetTargetScheme(ColorScheme::BGR);
            cm.SetTargetSamplesPerPixel(3);
            cm.SetTargetBitsPerSample(8);
            format = TPixelFormat::pf24bit;
            channels_ = 3;
            break;
        case 3:
            if (d != 1 && d != 2 && d != 4 && d != 8) invalid();
            cm.SetSourceScheme(ColorScheme::Indexed);
            cm.SetSourceSamplesPerPixel(1);
            cm.SetSourceBitsPerSample(d);
            cm.SetTargetScheme(ColorScheme::Indexed);
            cm.SetTargetSamplesPerPixel(1);
            cm.SetTargetBitsPerSample(d == 2 ? 4 : d);
            format = cm.BitmapFormatFor(TConversionSide::Target);
            channels_ = 1;
            break;
        case 4:
            // Gray with alpha becomes a 32-bit picture blended onto white when drawn, like RGBA;
            // the row conversion is our own (the colour manager keeps gray targets gray).
            if (d != 8 && d != 16) invalid();
            format = TPixelFormat::pf32bit;
            grayAlphaToBGRA_ = true;
            channels_ = 2;
            break;
        case 6:
            if (d != 8 && d != 16) invalid();
            cm.SetSourceScheme(ColorScheme::RGBA);
            cm.SetSourceSamplesPerPixel(4);
            cm.SetSourceBitsPerSample(d);
            cm.SetTargetScheme(ColorScheme::BGRA);
            cm.SetTargetSamplesPerPixel(4);
            cm.SetTargetBitsPerSample(8);
            format = TPixelFormat::pf32bit;
            channels_ = 4;
            break;
        default: invalid();
    }
    if (format == TPixelFormat::pfCustom) invalid();
    sourceBPP_ = std::max<uint32_t>(1, (d * channels_) / 8);
    // Checked like SetBitmapFormatAndSize, but not whitened: DecodeImage fills what the image
    // data does not cover.
    CheckPictureSize(Properties.Width, Properties.Height, ::BitsPerPixel(format), 4);
    // Image data that could not fill the picture even at deflate's highest ratio is a bomb,
    // refused before the bitmap is taken. The bound counts pixel bits only (no filter bytes,
    // no row rounding), so it is below what any complete file inflates to, interlaced or not.
    // A picture of a megabyte or less is no bomb: cut short, it still shows what arrived.
    const uint64_t pixelBytes = uint64_t(Properties.Width) * Properties.Height * bitDepth_ * channels_ / 8;
    if (pixelBytes > kSmallPictureBytes) CheckCompressedSize(pixelBytes, imageDataBytes_, kDeflateMaxRatio);
    SetPixelFormat(format);
    SetSizeForOverwrite(static_cast<int>(Properties.Width), static_cast<int>(Properties.Height));
    colorsSet_ = true;
}

uint8_t TPNGGraphic::GrayLevel(uint32_t sample) const {
    // The level the gray palette shows for this sample, so it matches the decoded pixels.
    // bKGD and tRNS may come before the depth is found invalid: a depth of 0 must not divide by 0.
    const uint32_t max = bitDepth_ >= 16 ? 65535u : bitDepth_ == 0 ? 1u : (1u << bitDepth_) - 1;
    const uint8_t level = static_cast<uint8_t>(std::min(sample, max) * 255 / max);
    return (ColorManager.TargetOptions & ColorOption::ApplyGamma) ? ColorManager.GammaTable()[level] : level;
}

uint32_t TPNGGraphic::RGBFromSamples(std::span<const uint8_t> s) const {
    uint8_t c[3];
    for (int i = 0; i < 3; ++i) {
        const uint16_t v = BigEndian16(s.data() + 2 * i);
        c[i] = bitDepth_ == 16 ? static_cast<uint8_t>(uint32_t(v) * 255 / 65535) : static_cast<uint8_t>(v & 0xFF);
        if (ColorManager.TargetOptions & ColorOption::ApplyGamma) c[i] = ColorManager.GammaTable()[c[i]];
    }
    return uint32_t(c[0]) | (uint32_t(c[1]) << 8) | (uint32_t(c[2]) << 16);
}

void TPNGGraphic::ReadPicture(TStream& stream) {
    TLoadScope scope(*this, stream, true);
    decoder_.reset();
    ReadPropertiesOrFail(stream, gesPNGLabel);
    ByteReader data = LoadSourceData();
    imageDataBytes_ = ImageDataBytes(data.data());
    data.seek(8);
    ProgressRect = Rect(0, 0, static_cast<int>(Properties.Width), 1);
    StartProgress(gesPreparing);

    plte_.clear();
    paletteAlpha_.clear();
    backgroundColor_ = 0xFFFFFF;
    transparentColor_ = NoTransparentColor;
    colorsSet_ = false;
    dataEnded_ = false;
    input_ = {};
    ColorManager.SourceOptions = ColorOption::ByteSwap;
    ColorManager.TargetOptions = 0;
    IccProfile.clear();
    IccProfileProblem.clear();

    ReadChunkHeader(data);
    const std::span<const uint8_t> ihdr = ReadChunkData(data);
    bitDepth_ = ihdr[8];
    colorType_ = ihdr[9];
    interlace_ = ihdr[12];
    if (Properties.Compression != Compression::LZ77) RaiseUnsupportedCompression(gesPNGLabel);

    // Ends the inflate stream whichever way the load leaves.
    struct TCodecGuard {
        std::unique_ptr<TLZ77Decoder>& codec;
        ~TCodecGuard() {
            if (!codec) return;
            try {
                codec->DecodeEnd();
            } catch (...) {
                // An end that fails while another failure unwinds must not replace it.
            }
            codec.reset();
        }
    } guard{decoder_};
    decoder_ = std::make_unique<TLZ77Decoder>(1, false);
    decoder_->DecodeInit();

    bool imageDone = false;
    if (!ReadChunkHeader(data)) RaiseReaderErrorFmt(gesInvalidImage, gesPNGLabel);
    for (;;) {
        if (CurrentIs("IDAT") && !imageDone) {
            EndProgress();
            DecodeImage(data);
            imageDone = true;
            if (!haveChunk_) break;  // the file ended with the image data
        } else if (CurrentIs("PLTE")) {
            if (chunk_.length % 3 != 0) RaiseReaderErrorFmt(gesInvalidPalette, gesPNGLabel);
            const std::span<const uint8_t> bytes = ReadChunkData(data);
            if (colorType_ == 3 && !imageDone) {
                plte_.assign(bytes.begin(), bytes.end());
                SetupColors();
            }
            if (!ReadChunkHeader(data)) break;
            continue;
        } else if (CurrentIs("gAMA")) {
            const std::span<const uint8_t> bytes = ReadChunkData(data);
            if (bytes.size() >= 4 && !imageDone) {
                ColorManager.SetGammaValues(static_cast<float>(BigEndian32(bytes.data()) / 100000.0), 2.2f);
                ColorManager.TargetOptions |= ColorOption::ApplyGamma;
                Properties.Options |= ImageOption::GammaApplied;
            }
            if (!ReadChunkHeader(data)) break;
            continue;
        } else if (CurrentIs("iCCP")) {
            // A profile name, a zero, the compression method (0: zlib) and the profile.
            const std::span<const uint8_t> bytes = ReadChunkData(data);
            if (!imageDone && IccProfile.empty()) {
                const auto nameEnd = std::find(bytes.begin(), bytes.end(), uint8_t(0));
                const size_t at = static_cast<size_t>(nameEnd - bytes.begin()) + 2;
                if (nameEnd == bytes.end() || at > bytes.size() || bytes[at - 1] != 0)
                    IccProfileProblem = "its iCCP chunk is damaged";
                else
                    InflateProfile(bytes.subspan(at), IccProfile, IccProfileProblem);
            }
            if (!ReadChunkHeader(data)) break;
            continue;
        } else if (CurrentIs("bKGD")) {
            const std::span<const uint8_t> bytes = ReadChunkData(data);
            if (colorType_ == 0 || colorType_ == 4) {
                if (bytes.size() >= 2) {
                    const uint8_t g = GrayLevel(BigEndian16(bytes.data()));
                    backgroundColor_ = g | (g << 8) | (uint32_t(g) << 16);
                }
            } else if (colorType_ == 2 || colorType_ == 6) {
                if (bytes.size() >= 6) backgroundColor_ = RGBFromSamples(bytes);
            } else if (colorType_ == 3 && !bytes.empty()) {
                // The entry's colour, not the index taken as a colour.
                const size_t at = size_t(bytes[0]) * 3;
                if (at + 2 < plte_.size())
                    backgroundColor_ = plte_[at] | (plte_[at + 1] << 8) | (uint32_t(plte_[at + 2]) << 16);
            }
            if (!ReadChunkHeader(data)) break;
            continue;
        } else if (CurrentIs("tRNS")) {
            const std::span<const uint8_t> bytes = ReadChunkData(data);
            if (colorType_ == 0 && bytes.size() >= 2) {
                const uint8_t g = GrayLevel(BigEndian16(bytes.data()));
                transparentColor_ = g | (g << 8) | (uint32_t(g) << 16);
            } else if (colorType_ == 2 && bytes.size() >= 6) {
                transparentColor_ = RGBFromSamples(bytes);
            } else if (colorType_ == 3) {
                paletteAlpha_.assign(bytes.begin(), bytes.end());
            }
            if (!ReadChunkHeader(data)) break;
            continue;
        }
        // Common tail: every other chunk, and the one that follows the image data.
        if (CurrentIs("IEND")) break;
        if (IsCritical(chunk_.type) && !CurrentIs("IDAT"))
            RaiseReaderError(gesUnknownCriticalChunk);
        SkipChunk(data);
        if (!ReadChunkHeader(data)) break;
    }
    // A file without image data has no picture to show.
    if (!imageDone) RaiseReaderErrorFmt(gesInvalidImage, gesPNGLabel);
    if (decoder_) {
        decoder_->DecodeEnd();
        decoder_.reset();
    }
    EndProgress();
}

void TPNGGraphic::ConvertRow(std::span<const uint8_t> samples, int y, uint8_t mask) {
    const size_t width = static_cast<size_t>(Width());
    if (mask == 0xFF && bitDepth_ == 8 && (colorType_ == 2 || colorType_ == 6)) {
        // The common case, 8-bit RGB(A) rows of a plain picture, swizzled here in one tight
        // loop: the same bytes the colour manager would write.
        const size_t step = colorType_ == 6 ? 4 : 3;
        if (samples.size() < width * step) throw ERangeError();
        std::span<uint8_t> target = ScanLineSpan(y);
        if (target.size() < width * step) throw ERangeError();
        const uint8_t* in = samples.data();
        uint8_t* out = target.data();
        if (ColorManager.TargetOptions & ColorOption::ApplyGamma) {
            const std::array<uint8_t, 256>& table = ColorManager.GammaTable();
            for (size_t x = 0; x < width; ++x, in += step, out += step) {
                const uint8_t r = table[in[0]], g = table[in[1]], b = table[in[2]];
                out[0] = b;
                out[1] = g;
                out[2] = r;
                if (step == 4) out[3] = in[3];
            }
        } else if (step == 4) {
            for (size_t x = 0; x < width; ++x, in += 4, out += 4) {
                const uint8_t r = in[0], g = in[1], b = in[2], a = in[3];
                out[0] = b;
                out[1] = g;
                out[2] = r;
                out[3] = a;
            }
        } else {
            for (size_t x = 0; x < width; ++x, in += 3, out += 3) {
                const uint8_t r = in[0], g = in[1], b = in[2];
                out[0] = b;
                out[1] = g;
                out[2] = r;
            }
        }
        return;
    }
    if (!grayAlphaToBGRA_) {
        ColorManager.ConvertScanline({samples}, ScanLineSpan(y), static_cast<size_t>(Width()), mask);
        return;
    }
    const bool sixteen = bitDepth_ == 16;
    const bool gamma = ColorManager.TargetOptions & ColorOption::ApplyGamma;
    const std::array<uint8_t, 256>& table = ColorManager.GammaTable();
    const size_t step = sixteen ? 4 : 2;
    uint8_t* out = ScanLine(y);
    const uint8_t* in = samples.data();
    const uint8_t* end = samples.data() + samples.size();
    uint8_t bit = 0x80;
    for (size_t x = 0; x < width; ++x) {
        if (mask & bit) {
            if (in + step > end) throw ERangeError();
            uint8_t g, a;
            if (sixteen) {
                g = static_cast<uint8_t>(uint32_t(BigEndian16(in)) * 255 / 65535);
                a = static_cast<uint8_t>(uint32_t(BigEndian16(in + 2)) * 255 / 65535);
            } else {
                g = in[0];
                a = in[1];
            }
            if (gamma) g = table[g];
            out[4 * x] = out[4 * x + 1] = out[4 * x + 2] = g;
            out[4 * x + 3] = a;
            in += step;
        }
        bit = static_cast<uint8_t>((bit >> 1) | (bit << 7));
    }
}

void TPNGGraphic::DecodeImage(ByteReader& data) {
    StartProgress(gesTransfering);
    if (colorType_ == 3 && plte_.empty()) RaiseReaderErrorFmt(gesInvalidPalette, gesPNGLabel);
    if (!colorsSet_) SetupColors();

    if (colorType_ == 3) {
        const size_t entries = plte_.size() / 3;
        std::vector<TRGBQuad> palette = ColorManager.BuildColorPalette(
            {std::span<const uint8_t>(plte_)}, PaletteLayout::Interleaved8Triples, entries, false);
        if (!paletteAlpha_.empty()) {
            // Palette alpha is blended onto white here, as drawing blends RGBA pictures. The
            // alpha values are spread over the entries like the colours.
            std::vector<uint8_t> alphaTriples(entries * 3, 255);
            for (size_t i = 0; i < entries && i < paletteAlpha_.size(); ++i)
                alphaTriples[3 * i] = alphaTriples[3 * i + 1] = alphaTriples[3 * i + 2] = paletteAlpha_[i];
            const TConvertOptions saved = ColorManager.TargetOptions;
            ColorManager.TargetOptions &= static_cast<TConvertOptions>(~ColorOption::ApplyGamma);
            const std::vector<TRGBQuad> alpha = ColorManager.BuildColorPalette(
                {std::span<const uint8_t>(alphaTriples)}, PaletteLayout::Interleaved8Triples, entries, false);
            ColorManager.TargetOptions = saved;
            for (size_t i = 0; i < palette.size() && i < alpha.size(); ++i) {
                const unsigned a = alpha[i].rgbRed;
                auto mix = [a](unsigned c) { return static_cast<uint8_t>((c * a + 255 * (255 - a) + 127) / 255); };
                palette[i].rgbRed = mix(palette[i].rgbRed);
                palette[i].rgbGreen = mix(palette[i].rgbGreen);
                palette[i].rgbBlue = mix(palette[i].rgbBlue);
            }
        }
        SetPalette(std::move(palette));
    } else if (colorType_ == 0) {
        SetPalette(ColorManager.BuildGrayPalette(false));
    }
    AlphaMeaningful = colorType_ == 4 || colorType_ == 6;
    const int width = Width(), height = Height();
    // Rows the image data never delivers are opaque background.
    auto fillBackground = [&](int fromRow) {
        if (fromRow >= height) return;
        FillRect(Rect(0, fromRow, width, height), static_cast<TColor>(backgroundColor_));
        if (!AlphaMeaningful) return;
        for (int y = fromRow; y < height; ++y) {
            uint8_t* row = ScanLine(y);
            for (int x = 0; x < width; ++x) row[4 * x + 3] = 255;
        }
    };
    // Passes fill their pixels scattered over the picture; a plain picture fills row by row.
    if (interlace_ == 1) fillBackground(0);
    if (transparentColor_ != NoTransparentColor) {
        SetTransparentColor(static_cast<TColor>(transparentColor_));
        Transparent = true;
    }

    const uint64_t fullRow = RowBytes(uint64_t(width), bitDepth_, channels_) + 1;
    const size_t rowSize = static_cast<size_t>(CheckAllocation(fullRow, 1));
    std::vector<uint8_t> current(rowSize, 0), previous(rowSize, 0);
    const size_t bpp = sourceBPP_;

    bool complete = true;
    int rowsDone = 0;
    if (interlace_ == 1) {
        for (const TAdam7Pass& pass : kAdam7) {
            if (pass.startColumn >= uint32_t(width) || !complete) continue;
            const uint64_t n = (uint64_t(width) + pass.columnStep - pass.startColumn - 1) / pass.columnStep;
            const size_t r = static_cast<size_t>(RowBytes(n, bitDepth_, channels_)) + 1;
            std::fill(previous.begin(), previous.begin() + r, 0);
            for (uint32_t y = pass.startRow; y < uint32_t(height); y += pass.rowStep) {
                if (!InflateRow(data, std::span<uint8_t>(current.data(), r))) {
                    complete = false;
                    break;
                }
                Unfilter(current[0], current.data() + 1, previous.data() + 1, r - 1, bpp);
                ConvertRow(std::span<const uint8_t>(current.data() + 1, r - 1), static_cast<int>(y), pass.mask);
                if (pass.mask == 0xFF) RowProgress(RowPercent(uint64_t(y) + pass.rowStep, uint64_t(height), true));
                std::swap(current, previous);
            }
        }
    } else {
        for (int y = 0; y < height; ++y) {
            if (!InflateRow(data, std::span<uint8_t>(current.data(), rowSize))) {
                complete = false;
                break;
            }
            Unfilter(current[0], current.data() + 1, previous.data() + 1, rowSize - 1, bpp);
            ConvertRow(std::span<const uint8_t>(current.data() + 1, rowSize - 1), y, 0xFF);
            TellRowsFinal(y + 1);
            RowProgress(RowPercent(uint64_t(y), uint64_t(height), true));
            std::swap(current, previous);
            rowsDone = y + 1;
        }
        fillBackground(rowsDone);
    }

    // A picture cut short is kept as far as it goes; the user is told it is damaged.
    if (!complete) ShowWarning(FormatMessage(gesTruncatedImageData, gesPNGLabel), WarningKind::Damage);

    // The image data chunks left over are read (CRC checked), not inflated.
    while (CurrentIs("IDAT") && !dataEnded_) {
        ReadChunkData(data);
        ReadChunkHeader(data);
    }
    if (dataEnded_) haveChunk_ = false;
}

bool TPNGGraphic::InflateRow(ByteReader& data, std::span<uint8_t> row) {
    TDecodeTarget dest = row;
    while (!dest.empty()) {
        if (input_.empty()) {
            // Empty IDAT chunks are passed over.
            while (CurrentIs("IDAT") && input_.empty() && !dataEnded_) {
                input_ = ReadChunkData(data);
                if (dataEnded_) {
                    haveChunk_ = false;
                    break;
                }
                ReadChunkHeader(data);
            }
            if (input_.empty()) return false;
        }
        decoder_->Decode(input_, dest, static_cast<int32_t>(std::min<size_t>(input_.size(), 0x7FFFFFFF)),
                         static_cast<int32_t>(dest.size()));
        const int result = decoder_->ZLibResult();
        if (result == Z_STREAM_END) {
            if (!dest.empty() || !input_.empty()) RaiseReaderErrorFmt(gesExtraCompressedData, gesPNGLabel);
            return true;
        }
        if (result != Z_OK) RaiseReaderErrorFmt(gesCompression, gesPNGLabel);
    }
    return true;
}

void DecodePngData(std::span<const uint8_t> data, TBitmap& bitmap) {
    TMemoryStream stream(std::vector<uint8_t>(data.begin(), data.end()));
    TPNGGraphic png;
    png.ReadPicture(stream);
    TBitmap result;
    result.AssignBitmap(png);
    bitmap = std::move(result);
}
