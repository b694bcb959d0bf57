#include "readers/tiff_reader.h"

#include "readers/embedded_profile.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

#include "graphics/errors.h"
#include "graphics/size_check.h"
#include "graphics/stream.h"
#include "readers/codecs/ccitt_decoder.h"
#include "readers/codecs/lz77_decoder.h"
#include "readers/codecs/lzw_decoder.h"
#include "readers/codecs/rle_decoders.h"
#include "readers/codecs/thunder_decoder.h"
#include "readers/codecs/tiff_jpeg_decoder.h"

IMBRIX_DEFINE_GRAPHIC_CLASS(TTIFFGraphic, TGraphicReader);
IMBRIX_DEFINE_GRAPHIC_CLASS(TEPSGraphic, TTIFFGraphic);

namespace {

enum : uint16_t {
    tagImageWidth = 256,
    tagImageLength = 257,
    tagBitsPerSample = 258,
    tagCompression = 259,
    tagPhotometric = 262,
    tagFillOrder = 266,
    tagStripOffsets = 273,
    tagSamplesPerPixel = 277,
    tagRowsPerStrip = 278,
    tagStripByteCounts = 279,
    tagXResolution = 282,
    tagYResolution = 283,
    tagPlanarConfig = 284,
    tagT4Options = 292,
    tagResolutionUnit = 296,
    tagPredictor = 317,
    tagColorMap = 320,
    tagTileWidth = 322,
    tagTileLength = 323,
    tagExtraSamples = 338,
    tagJPEGTables = 347,
    tagYCbCrCoefficients = 529,
    tagYCbCrSubsampling = 530,
    tagYCbCrPositioning = 531,
};

// Field type sizes; 10-12 (SRATIONAL, FLOAT, DOUBLE) are read as their types, anything
// else is a type we do not know and its values are never read.
size_t TypeSize(uint16_t type) {
    switch (type) {
        case 1: case 2: case 6: case 7: return 1;
        case 3: case 8: return 2;
        case 4: case 9: case 11: return 4;
        case 5: case 10: case 12: return 8;
        default: return 0;
    }
}

Compression CompressionFor(uint32_t code) {
    switch (code) {
        case 1: return Compression::None;
        case 2: return Compression::FaxRLE;
        case 3: return Compression::Fax3;
        case 4: return Compression::Fax4;
        case 5: return Compression::LZW;
        case 6: return Compression::OldJPEG;
        case 7: return Compression::JPEG;
        case 8: case 32946: return Compression::LZ77;
        case 32766: return Compression::NeXT;
        case 32771: return Compression::FaxRLEW;
        case 32773: return Compression::PackBits;
        case 32809: return Compression::ThunderScan;
        case 32895: return Compression::IT8CTPad;
        case 32896: return Compression::IT8LW;
        case 32897: return Compression::IT8MP;
        case 32898: return Compression::IT8BL;
        case 32908: return Compression::PixarFilm;
        case 32909: return Compression::PixarLog;
        case 32947: return Compression::DCS;
        case 34661: return Compression::JBIG;
        default: return Compression::Unknown;
    }
}

ColorScheme SchemeFor(uint32_t photometric, unsigned samplesPerPixel) {
    switch (photometric) {
        case 0: case 1: return ColorScheme::Gray;
        case 2: return samplesPerPixel < 4 ? ColorScheme::RGB : ColorScheme::RGBA;
        case 3: return ColorScheme::Indexed;
        case 5: return ColorScheme::CMYK;
        case 6: return ColorScheme::YCbCr;
        case 8: return ColorScheme::CIELab;
        default: return ColorScheme::Unknown;
    }
}

uint16_t Read16(const uint8_t* p, bool big) {
    return big ? uint16_t(p[0] << 8 | p[1]) : uint16_t(p[1] << 8 | p[0]);
}
uint32_t Read32(const uint8_t* p, bool big) {
    return big ? uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]
               : uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

// Horizontal differencing undone for the layouts the shared 8-bit routines do not cover:
// 8-bit pixels of 2 or more than 4 samples, and 16-bit samples in the file's byte order.
void UndoDifferencingSamples(std::span<uint8_t> row, size_t width, unsigned samples, unsigned bits, bool big) {
    if (bits == 8) {
        const size_t n = std::min(row.size(), width * samples);
        for (size_t i = samples; i < n; ++i) row[i] = uint8_t(row[i] + row[i - samples]);
    } else if (bits == 16) {
        const size_t n = std::min(row.size() / 2, width * samples);
        for (size_t i = samples; i < n; ++i) {
            uint8_t* p = row.data() + 2 * i;
            const uint16_t v = uint16_t(Read16(p, big) + Read16(p - 2 * samples, big));
            p[big ? 0 : 1] = uint8_t(v >> 8);
            p[big ? 1 : 0] = uint8_t(v);
        }
    }
}

// The byte a not-yet-decoded strip starts as, so rows a codec never reaches come out white
// where the layout allows it.
uint8_t WhiteByte(ColorScheme scheme, bool minIsWhite) {
    switch (scheme) {
        case ColorScheme::Gray: return minIsWhite ? 0x00 : 0xFF;
        case ColorScheme::RGB: case ColorScheme::RGBA: case ColorScheme::BGR: case ColorScheme::BGRA: return 0xFF;
        default: return 0x00;
    }
}

constexpr int32_t ClampToInt32(uint64_t v) {
    return v > uint64_t(std::numeric_limits<int32_t>::max()) ? std::numeric_limits<int32_t>::max() : int32_t(v);
}

}  // namespace

// ---- probing and the directory ------------------------------------------------------------

bool TTIFFGraphic::ProbeStream(TStream& stream) {
    const uint64_t start = stream.Position();
    const uint64_t size = stream.Size();
    if (size <= start || size - start <= 8) return false;
    uint8_t header[8];
    const size_t got = stream.Read(header, sizeof header);
    stream.SetPosition(start);
    if (got != sizeof header) return false;
    const bool big = header[0] == 'M' && header[1] == 'M';
    if (!big && !(header[0] == 'I' && header[1] == 'I')) return false;
    return Read16(header + 2, big) == 42 && Read32(header + 4, big) < size - start;
}

void TTIFFGraphic::ReadDirectory(ByteReader& data, uint32_t offset) {
    const bool big = Big();
    data.seek(offset);
    const uint16_t count = data.u16(big);
    // At most 65535 entries of 12 bytes, and only as many as the file holds.
    data.require(size_t(count) * 12);
    entries_.assign(count, TEntry{});
    for (TEntry& e : entries_) {
        e.Tag = data.u16(big);
        e.Type = data.u16(big);
        e.Count = data.u32(big);
        const auto raw = data.bytes(4);
        std::copy(raw.begin(), raw.end(), e.Raw.begin());
        e.Value = Read32(e.Raw.data(), big);
    }
    std::stable_sort(entries_.begin(), entries_.end(),
                     [](const TEntry& a, const TEntry& b) { return a.Tag < b.Tag; });
}

const TTIFFGraphic::TEntry* TTIFFGraphic::Find(uint16_t tag) const {
    auto it = std::lower_bound(entries_.begin(), entries_.end(), tag,
                               [](const TEntry& e, uint16_t t) { return e.Tag < t; });
    return it != entries_.end() && it->Tag == tag ? &*it : nullptr;
}

uint32_t TTIFFGraphic::Single(uint16_t tag, uint32_t fallback) const {
    const TEntry* e = Find(tag);
    if (!e) return fallback;
    if (e->Count != 1) return e->Value;
    switch (e->Type) {
        case 1: return e->Raw[0];
        case 3: case 8: return Read16(e->Raw.data(), Big());
        case 4: case 9: return e->Value;
        default: return fallback;
    }
}

bool TTIFFGraphic::ValuesReachable(const ByteReader& data, const TEntry& entry) const {
    const uint64_t bytes = uint64_t(TypeSize(entry.Type)) * entry.Count;
    if (TypeSize(entry.Type) == 0) return false;
    return bytes <= 4 || uint64_t(entry.Value) + bytes <= data.size();
}

double TTIFFGraphic::Element(ByteReader& data, const TEntry& entry, size_t i) const {
    const size_t size = TypeSize(entry.Type);
    const bool big = Big();
    const uint8_t* p = uint64_t(size) * entry.Count <= 4 ? entry.Raw.data() + i * size
                                                        : data.data().data() + entry.Value + i * size;
    switch (entry.Type) {
        case 1: case 2: case 7: return p[0];
        case 6: return int8_t(p[0]);
        case 3: return Read16(p, big);
        case 8: return int16_t(Read16(p, big));
        case 4: return Read32(p, big);
        case 9: return int32_t(Read32(p, big));
        case 5: case 10: {
            // Both halves unsigned for RATIONAL, signed for SRATIONAL; a zero denominator
            // has no value.
            const uint32_t n = Read32(p, big), d = Read32(p + 4, big);
            if (d == 0) return 0;
            return entry.Type == 5 ? double(n) / double(d) : double(int32_t(n)) / double(int32_t(d));
        }
        case 11: { const uint32_t bits = Read32(p, big); float f; std::memcpy(&f, &bits, 4); return f; }
        case 12: {
            const uint64_t bits = big ? uint64_t(Read32(p, true)) << 32 | Read32(p + 4, true)
                                      : uint64_t(Read32(p + 4, false)) << 32 | Read32(p, false);
            double d; std::memcpy(&d, &bits, 8); return d;
        }
        default: return 0;
    }
}

double TTIFFGraphic::Number(ByteReader& data, uint16_t tag, double fallback) const {
    const TEntry* e = Find(tag);
    if (!e || e->Count != 1 || !ValuesReachable(data, *e)) return fallback;
    const double v = Element(data, *e, 0);
    return std::isfinite(v) ? v : fallback;
}

TCardinalArray TTIFFGraphic::CardinalArray(ByteReader& data, uint16_t tag) const {
    const TEntry* e = Find(tag);
    if (!e || e->Count == 0) return {};
    // Values outside the file: the file is cut short. This also bounds every allocation by
    // the file's size.
    if (!ValuesReachable(data, *e)) throw EReadError(kStreamReadError);
    TCardinalArray values(e->Count);
    for (size_t i = 0; i < values.size(); ++i) {
        const double v = Element(data, *e, i);
        values[i] = v >= 0 && v <= 4294967295.0 ? uint32_t(v) : 0;
    }
    return values;
}

TByteArray TTIFFGraphic::ByteArray(ByteReader& data, uint16_t tag) const {
    const TEntry* e = Find(tag);
    if (!e || e->Count == 0) return {};
    if (!ValuesReachable(data, *e)) throw EReadError(kStreamReadError);
    TByteArray values(e->Count);
    if (TypeSize(e->Type) == 1 && e->Count > 4) {
        auto raw = data.data().subspan(e->Value, e->Count);
        std::copy(raw.begin(), raw.end(), values.begin());
        return values;
    }
    for (size_t i = 0; i < values.size(); ++i) values[i] = uint8_t(int64_t(Element(data, *e, i)));
    return values;
}

TFloatArray TTIFFGraphic::FloatArray(ByteReader& data, uint16_t tag) const {
    const TEntry* e = Find(tag);
    if (!e || e->Count == 0) return {};
    if (!ValuesReachable(data, *e)) throw EReadError(kStreamReadError);
    TFloatArray values(e->Count);
    for (size_t i = 0; i < values.size(); ++i) values[i] = float(Element(data, *e, i));
    return values;
}

// ---- properties ---------------------------------------------------------------------------

bool TTIFFGraphic::ReadProperties(TStream& stream, unsigned imageIndex) {
    TGraphicReader::ReadProperties(stream, imageIndex);
    if (data_) return ParseProperties(*data_, imageIndex);
    // Outside a load: the file from BasePosition on, read for this call only.
    const uint64_t size = stream.Size();
    std::vector<uint8_t> bytes(size > BasePosition ? size_t(size - BasePosition) : 0);
    stream.SetPosition(BasePosition);
    stream.ReadBuffer(bytes.data(), bytes.size());
    ByteReader data(bytes);
    return ParseProperties(data, imageIndex);
}

bool TTIFFGraphic::ParseProperties(ByteReader& data, unsigned imageIndex) {
    data.seek(0);
    const auto order = data.bytes(2);
    const bool big = order[0] == 'M' && order[1] == 'M';
    if (!big && !(order[0] == 'I' && order[1] == 'I')) return false;
    if (big) Properties.Options |= ImageOption::BigEndian;
    Properties.Version = data.u16(big);
    Properties.FirstIFDOffset = data.u32(big);
    if (Properties.Version != 42) return false;

    // Later directories: each step moves to a different offset, and there are at most
    // imageIndex steps, so a chain that loops cannot hold the reader.
    uint32_t offset = Properties.FirstIFDOffset;
    for (unsigned i = 0; i < imageIndex; ++i) {
        data.seek(offset);
        const uint16_t count = data.u16(big);
        data.skip(size_t(count) * 12);
        offset = data.u32(big);
        if (offset == 0) return false;
    }
    ReadDirectory(data, offset);
    Properties.FirstIFDOffset = offset;

    Properties.Width = Single(tagImageWidth, 0);
    Properties.Height = Single(tagImageLength, 0);
    if (Properties.Width == 0 || Properties.Height == 0) return false;

    Properties.RowsPerStrip = CardinalArray(data, tagRowsPerStrip);
    if (Properties.RowsPerStrip.empty() || Properties.RowsPerStrip[0] == 0xFFFFFFFFu)
        Properties.RowsPerStrip = {Properties.Height};

    // Sample counts and depths beyond a byte are not pictures we can show; 0 lets the colour
    // manager refuse them rather than a truncated value being misread.
    const uint32_t samples = Single(tagSamplesPerPixel, 1);
    Properties.SamplesPerPixel = samples <= 255 ? uint8_t(samples) : 0;
    const TCardinalArray bits = CardinalArray(data, tagBitsPerSample);
    const uint32_t bitsPerSample = bits.empty() ? 1 : bits[0];
    Properties.BitsPerSample = bitsPerSample <= 255 ? uint8_t(bitsPerSample) : 0;
    Properties.TileWidth = Single(tagTileWidth, 0);
    Properties.TileLength = Single(tagTileLength, 0);
    if (Properties.TileWidth != 0 && Properties.TileLength != 0) Properties.Options |= ImageOption::Tiled;
    const uint32_t photometric = Single(tagPhotometric, 0);
    if (photometric == 0) Properties.Options |= ImageOption::MinIsWhite;

    const TCardinalArray extra = CardinalArray(data, tagExtraSamples);
    Properties.HasAlpha = !extra.empty() && std::all_of(extra.begin(), extra.end(), [](uint32_t v) { return v < 3; });

    Properties.BitsPerPixel = uint8_t(std::min<unsigned>(255, unsigned(Properties.BitsPerSample) * Properties.SamplesPerPixel));
    Properties.Compression = CompressionFor(Single(tagCompression, 0));
    Properties.ColorScheme = SchemeFor(photometric, Properties.SamplesPerPixel);
    if (Properties.ColorScheme == ColorScheme::YCbCr) {
        Properties.YCbCrSubsampling = ByteArray(data, tagYCbCrSubsampling);
        if (Properties.YCbCrSubsampling.empty()) Properties.YCbCrSubsampling = {2, 2};
        if (Properties.YCbCrSubsampling.size() < 2) Properties.YCbCrSubsampling.push_back(Properties.YCbCrSubsampling[0]);
        YCbCrPositioning = Single(tagYCbCrPositioning, 1);
        const TFloatArray coefficients = FloatArray(data, tagYCbCrCoefficients);
        const bool usable = coefficients.size() >= 3 &&
                            std::all_of(coefficients.begin(), coefficients.begin() + 3, [](float f) { return std::isfinite(f); });
        YCbCrCoefficients = usable ? TFloatArray(coefficients.begin(), coefficients.begin() + 3)
                                   : TFloatArray{0.299f, 0.587f, 0.114f};
    }

    Properties.JPEGColorMode = 0;
    Properties.JPEGTablesMode = 3;
    Properties.PlanarConfiguration = Single(tagPlanarConfig, 0);
    const double scale = Single(tagResolutionUnit, 2) == 3 ? 2.54 : 1.0;
    Properties.XResolution = float(Number(data, tagXResolution, 0) * scale);
    Properties.YResolution = float(Number(data, tagYResolution, 0) * scale);
    Properties.Predictor = int32_t(Single(tagPredictor, 0));
    if (Single(tagFillOrder, 1) == 2) Properties.Options |= ImageOption::ReversedBitOrder;
    return true;
}

// ---- pixels ---------------------------------------------------------------------------------

void TTIFFGraphic::BuildPalette(ByteReader& data) {
    const TEntry* e = Find(tagColorMap);
    if (!e || e->Count == 0) return;
    if (e->Type != 3 && e->Type != 8) return;
    if (!ValuesReachable(data, *e)) throw EReadError(kStreamReadError);
    // Three planes of 16-bit values; at most 256 entries each are used (the bitmap cannot
    // hold more), and entries the map lacks stay black.
    const size_t perPlane = e->Count / 3;
    const unsigned bits = std::min<unsigned>(Properties.BitsPerSample, 8);
    const size_t entries = size_t(1) << bits;
    const size_t used = std::min(perPlane, entries);
    const uint8_t* values = e->Count <= 2 ? e->Raw.data() : data.data().data() + e->Value;
    std::vector<uint8_t> planes[3];
    for (int p = 0; p < 3; ++p) {
        planes[p].assign(entries * 2, 0);
        std::memcpy(planes[p].data(), values + 2 * p * perPlane, 2 * used);
    }
    const TConvertOptions saved = ColorManager.SourceOptions;
    // The values are read raw; the palette builder swaps them for big-endian files.
    auto palette = ColorManager.BuildColorPalette({planes[0], planes[1], planes[2]}, PaletteLayout::Planar16, entries, false);
    ColorManager.SourceOptions = saved;
    SetPalette(std::move(palette));
}

void TTIFFGraphic::ReadEmbeddedProfile(const ByteReader& data) {
    constexpr uint16_t tagIccProfile = 34675;
    IccProfile.clear();
    IccProfileProblem.clear();
    const TEntry* e = Find(tagIccProfile);
    // Ink and Lab pictures are turned into RGB by their own formulas: a profile of theirs
    // does not describe the pixels that come out.
    const ColorScheme scheme = Properties.ColorScheme;
    if (!e || scheme == ColorScheme::CMY || scheme == ColorScheme::CMYK || scheme == ColorScheme::CIELab) return;
    if ((e->Type != 7 && e->Type != 1) || e->Count > kMaxEmbeddedProfileBytes || !ValuesReachable(data, *e)) {
        IccProfileProblem = "its ICC profile tag is damaged";
        return;
    }
    if (e->Count <= 4) {
        IccProfileProblem = "its ICC profile is too short";
        return;
    }
    ByteReader at = data;
    at.seek(e->Value);
    const auto bytes = at.bytes(e->Count);
    IccProfile.assign(bytes.begin(), bytes.end());
}

void TTIFFGraphic::ReadPicture(TStream& stream) {
    TLoadScope scope(*this, stream, /*endProgressOnFailure=*/true);
    struct TDataGuard {
        std::optional<ByteReader>& d;
        ~TDataGuard() { d.reset(); }
    } guard{data_};
    data_ = LoadSourceData();
    ByteReader& data = *data_;
    ReadPropertiesOrFail(stream, gesTIFFLabel);
    if (Properties.Options & ImageOption::Tiled) return;  // tiles are not read: an empty picture
    ReadEmbeddedProfile(data);

    ProgressRect = Rect(0, 0, 0, 1);
    StartProgress(gesPreparing);
    const TCardinalArray offsets = CardinalArray(data, tagStripOffsets);
    const TCardinalArray byteCounts = CardinalArray(data, tagStripByteCounts);

    const bool big = Big();
    const bool minIsWhite = Properties.Options & ImageOption::MinIsWhite;
    const Compression compression = Properties.Compression;
    const bool jpeg = compression == Compression::JPEG || compression == Compression::OldJPEG;
    ColorManager.SourceOptions = big ? ColorOption::ByteSwap : 0;
    ColorManager.SetSourceBitsPerSample(Properties.BitsPerSample);
    // 16-bit samples are shown with 8; 2-bit ones go into the 4-bit bitmap their format gets.
    const uint8_t bits = Properties.BitsPerSample;
    ColorManager.SetTargetBitsPerSample(bits == 16 ? 8 : bits == 2 ? 4 : bits);
    ColorScheme source = jpeg ? ColorScheme::BGR : Properties.ColorScheme;
    ColorScheme target = source;
    switch (source) {
        case ColorScheme::Indexed:
            if (Properties.HasAlpha) source = ColorScheme::GrayAlpha;
            target = ColorScheme::Indexed;
            break;
        case ColorScheme::RGB: target = ColorScheme::BGR; break;
        case ColorScheme::RGBA: target = ColorScheme::BGRA; break;
        case ColorScheme::CMY: case ColorScheme::CMYK: case ColorScheme::CIELab: case ColorScheme::YCbCr:
            target = ColorScheme::BGR;
            break;
        default: break;
    }
    ColorManager.SetSourceScheme(source);
    ColorManager.SetTargetScheme(target);
    ColorManager.SetSourceSamplesPerPixel(Properties.SamplesPerPixel);
    ColorManager.SetTargetSamplesPerPixel(source == ColorScheme::CMYK ? 3 : Properties.SamplesPerPixel);
    if (source == ColorScheme::CIELab) ColorManager.SourceOptions |= ColorOption::LabLightnessScaled;

    const TPixelFormat format = source == ColorScheme::GrayAlpha ? TPixelFormat::pf8bit
                                                                 : ColorManager.BitmapFormatFor(TConversionSide::Target);
    if (Properties.Width == 0 || Properties.Height == 0) RaiseReaderErrorFmt(gesInvalidImage, gesTIFFLabel);
    {
        // Deflate, LZW and PackBits data that could not fill the picture even at the codec's
        // highest ratio is a bomb, refused before the bitmap is taken. One sample per pixel is
        // the least any layout needs, so a real file (short strips included) is never refused.
        const uint64_t maxRatio = compression == Compression::LZ77 ? kDeflateMaxRatio
                                  : compression == Compression::LZW ? kTiffLzwMaxRatio
                                  : compression == Compression::PackBits ? kPackBitsMaxRatio : 0;
        // Sizes beyond the pixel limit are refused by the bitmap's own check just below.
        if (maxRatio && uint64_t(Properties.Width) * Properties.Height <= CurrentPictureLimits().maxPixels) {
            const std::span<const uint8_t> file = data.data();
            uint64_t packed = 0;
            for (size_t i = 0; i < offsets.size(); ++i) {
                const uint64_t available = file.size() - std::min<uint64_t>(offsets[i], file.size());
                packed += i < byteCounts.size() ? std::min<uint64_t>(byteCounts[i], available) : available;
            }
            const uint64_t needed = (uint64_t(Properties.BitsPerSample) * Properties.Width + 7) / 8 * Properties.Height;
            CheckCompressedSize(needed, packed, maxRatio);
        }
    }
    SetBitmapFormatAndSize(format, Properties.Width, Properties.Height, gesTIFFLabel);
    ProgressRect.Right = int(Properties.Width);

    if (target == ColorScheme::Indexed) BuildPalette(data);
    else if (target == ColorScheme::Gray || target == ColorScheme::GrayAlpha) SetPalette(ColorManager.BuildGrayPalette(minIsWhite));

    // Stored YCbCr blocks (not JPEG, which hands back full rows) are expanded below.
    unsigned subH = 1, subV = 1;
    if (source == ColorScheme::YCbCr) {
        ColorManager.SetLumaChromaParameters(YCbCrCoefficients, Properties.YCbCrSubsampling[0], Properties.YCbCrSubsampling[1]);
        subH = Properties.YCbCrSubsampling[0];
        subV = Properties.YCbCrSubsampling[1];
    }
    const bool planar = Properties.PlanarConfiguration == 2 && Properties.SamplesPerPixel > 1 && !jpeg;
    const bool blocks = (subH > 1 || subV > 1) && Properties.BitsPerSample == 8 && Properties.SamplesPerPixel == 3;
    // Separate planes beyond the colour manager's four, or of subsampled chroma, we cannot place.
    if (planar && (Properties.SamplesPerPixel > 4 || blocks)) RaiseReaderErrorFmt(gesInvalidColorFormat, gesTIFFLabel);

    const uint32_t width = Properties.Width, height = Properties.Height;
    const uint64_t bytesPerLine64 =
        (uint64_t(Properties.BitsPerSample) * (planar ? 1 : Properties.SamplesPerPixel) * width + 7) / 8;
    if (bytesPerLine64 > std::numeric_limits<uint32_t>::max()) RaiseReaderErrorFmt(gesInvalidImage, gesTIFFLabel);
    const size_t bytesPerLine = size_t(bytesPerLine64);
    Properties.BytesPerLine = uint32_t(bytesPerLine);

    // Predictor 2: the shared routines for 8-bit 1, 3 and 4 samples, our own for the rest.
    void (*undo8)(std::span<uint8_t>, size_t) = nullptr;
    bool undoOther = false;
    if (compression != Compression::None && Properties.Predictor == 2 && !blocks) {
        if (Properties.BitsPerSample == 8 && planar) undo8 = &UndoDifferencing1;
        else if (Properties.BitsPerSample == 8 && Properties.SamplesPerPixel == 3) undo8 = &UndoDifferencing3;
        else if (Properties.BitsPerSample == 8 && Properties.SamplesPerPixel == 4) undo8 = &UndoDifferencing4;
        else if (Properties.BitsPerSample == 8 && Properties.SamplesPerPixel == 1) undo8 = &UndoDifferencing1;
        else undoOther = Properties.BitsPerSample == 8 || Properties.BitsPerSample == 16;
    }

    const uint32_t t4 = Single(tagT4Options, 0);
    const bool reversed = Properties.Options & ImageOption::ReversedBitOrder;
    std::unique_ptr<TDecoder> codec;
    switch (compression) {
        case Compression::None: break;
        case Compression::FaxRLE: codec = std::make_unique<TCCITTMHDecoder>(t4, reversed, false, width); break;
        case Compression::Fax3: codec = std::make_unique<TCCITTFax3Decoder>(t4, reversed, false, width); break;
        case Compression::FaxRLEW: codec = std::make_unique<TCCITTMHDecoder>(t4, reversed, true, width); break;
        case Compression::LZW: codec = std::make_unique<TTIFFLZWDecoder>(); break;
        case Compression::LZ77: codec = std::make_unique<TLZ77Decoder>(1, true); break;
        case Compression::PackBits: codec = std::make_unique<TPackbitsRLEDecoder>(); break;
        case Compression::ThunderScan: codec = std::make_unique<TThunderDecoder>(width); break;
        case Compression::JPEG:
            Properties.JPEGTables = ByteArray(data, tagJPEGTables);
            codec = std::make_unique<TTIFFJPEGDecoder>(Properties);
            break;
        default: RaiseUnsupportedCompression(gesTIFFLabel);
    }
    struct TCodecGuard {
        std::unique_ptr<TDecoder>& c;
        bool ended = false;
        ~TCodecGuard() {
            if (c && !ended) try { c->DecodeEnd(); } catch (...) {}
        }
    } codecGuard{codec};
    if (codec) codec->DecodeInit();
    EndProgress();
    StartProgress(gesTransfering);

    const uint8_t whiteByte = WhiteByte(target == ColorScheme::Indexed ? ColorScheme::Unknown : source, minIsWhite);
    const TPixelFormat bitmapFormat = PixelFormat();
    const bool whiteRows = bitmapFormat == TPixelFormat::pf24bit || bitmapFormat == TPixelFormat::pf32bit ||
                           target == ColorScheme::Gray;
    const uint8_t bitmapWhite = bitmapFormat == TPixelFormat::pf24bit || bitmapFormat == TPixelFormat::pf32bit
                                    ? 0xFF : (minIsWhite ? 0x00 : 0xFF);
    auto blankRow = [&](uint32_t y) {
        if (whiteRows) std::memset(ScanLine(int(y)), bitmapWhite, RowStride());
    };

    // Separate planes (PlanarConfiguration 2): strip k of plane p is strip k + p x strips per
    // plane; the colour manager reads the planes side by side. JPEG strips are the codec's.
    const size_t planes = planar ? Properties.SamplesPerPixel : 1;
    const size_t stripsPerPlane = planar ? size_t((uint64_t(height) + Properties.RowsPerStrip[0] - 1) /
                                                  std::max<uint32_t>(Properties.RowsPerStrip[0], 1))
                                         : offsets.size();
    if (planar && offsets.size() < planes * stripsPerPlane) throw EReadError(kStreamReadError);

    // Blocks of subsampled YCbCr: h x v luma samples, then Cb, then Cr.
    const size_t blocksPerRow = blocks ? (size_t(width) + subH - 1) / subH : 0;
    const size_t blockBytes = subH * subV + 2;
    const size_t blockRowBytes = blocksPerRow * blockBytes;
    std::vector<uint8_t> expanded(blocks ? size_t(subV) * width * 3 : 0);

    Properties.CurrentRow = 0;
    Properties.CurrentStrip = 0;
    Properties.StripCount = int32_t(std::min<size_t>(stripsPerPlane, std::numeric_limits<int32_t>::max()));
    std::vector<uint8_t> decoded[4];
    std::span<const uint8_t> stripData[4];
    const std::span<const uint8_t> file = data.data();
    while (Properties.CurrentStrip < Properties.StripCount && Properties.CurrentRow < height) {
        const size_t s = size_t(Properties.CurrentStrip);
        const uint32_t stripRows = Properties.RowsPerStrip[std::min(s, Properties.RowsPerStrip.size() - 1)];
        // Rows beyond the picture are never decoded, which also bounds the strip buffer.
        const uint32_t rows = std::min(stripRows == 0 ? height : stripRows, height - Properties.CurrentRow);
        const size_t rowUnit = blocks ? blockRowBytes : bytesPerLine;
        const size_t units = blocks ? (rows + subV - 1) / subV : rows;
        const size_t decodedSize = units * rowUnit;

        size_t arrivedUnits = units;
        for (size_t p = 0; p < planes; ++p) {
            const size_t index = s + p * stripsPerPlane;
            // What the file holds of the strip; a strip past the end of the file is empty.
            const size_t start = std::min<size_t>(offsets[index], file.size());
            const size_t available = file.size() - start;
            const size_t packedSize =
                index < byteCounts.size() ? std::min<size_t>(byteCounts[index], available) : available;
            if (codec) {
                // Old-style LZW (codes lowest bit first) starts 00h, then an odd byte; our LZW
                // decoder would turn it into noise.
                if (compression == Compression::LZW && packedSize >= 2 && file[start] == 0 && (file[start + 1] & 1))
                    RaiseUnsupportedCompression(gesTIFFLabel);
                decoded[p].assign(decodedSize, whiteByte);
                TDecodeSource src = file.subspan(start, packedSize);
                TDecodeTarget dst(decoded[p].data(), decoded[p].size());
                codec->Decode(src, dst, ClampToInt32(packedSize), ClampToInt32(decodedSize));
                stripData[p] = decoded[p];
            } else {
                // Uncompressed rows are converted straight from the file data.
                const size_t have = std::min(decodedSize, available);
                stripData[p] = file.subspan(start, have);
                arrivedUnits = std::min(arrivedUnits, rowUnit ? have / rowUnit : 0);
            }
        }

        if (blocks) {
            for (size_t u = 0; u < units && Properties.CurrentRow < height; ++u) {
                const bool arrived = u < arrivedUnits;
                if (arrived) {
                    const uint8_t* blockRow = stripData[0].data() + u * blockRowBytes;
                    for (size_t bx = 0; bx < blocksPerRow; ++bx) {
                        const uint8_t* b = blockRow + bx * blockBytes;
                        const uint8_t cb = b[subH * subV], cr = b[subH * subV + 1];
                        for (unsigned j = 0; j < subV; ++j)
                            for (unsigned i = 0; i < subH; ++i) {
                                const size_t x = bx * subH + i;
                                if (x >= width) continue;
                                uint8_t* px = expanded.data() + (size_t(j) * width + x) * 3;
                                px[0] = b[j * subH + i];
                                px[1] = cb;
                                px[2] = cr;
                            }
                    }
                }
                for (unsigned j = 0; j < subV && Properties.CurrentRow < height; ++j) {
                    if (arrived) {
                        std::span<const uint8_t> row(expanded.data() + size_t(j) * width * 3, size_t(width) * 3);
                        ColorManager.ConvertScanline({row}, ScanLineSpan(int(Properties.CurrentRow)), width, 255);
                    } else {
                        blankRow(Properties.CurrentRow);
                    }
                    ++Properties.CurrentRow;
                    TellRowsFinal(int(Properties.CurrentRow));
                    RowProgress(RowPercent(Properties.CurrentRow, height, true));
                }
            }
        } else {
            std::span<const uint8_t> rowPlanes[4];
            for (size_t r = 0; r < units && Properties.CurrentRow < height; ++r) {
                if (r < arrivedUnits) {
                    for (size_t p = 0; p < planes; ++p) {
                        rowPlanes[p] = stripData[p].subspan(r * bytesPerLine, bytesPerLine);
                        if ((undo8 || undoOther) && width > 1) {
                            std::span<uint8_t> writable(decoded[p].data() + r * bytesPerLine, bytesPerLine);
                            if (undo8) undo8(writable, width - 1);
                            else UndoDifferencingSamples(writable, width, planar ? 1 : Properties.SamplesPerPixel,
                                                         Properties.BitsPerSample, big);
                        }
                    }
                    ColorManager.ConvertScanline(TColorManager::TSourceRows(rowPlanes, planes),
                                                 ScanLineSpan(int(Properties.CurrentRow)), width, 255);
                } else {
                    blankRow(Properties.CurrentRow);
                }
                ++Properties.CurrentRow;
                TellRowsFinal(int(Properties.CurrentRow));
                RowProgress(RowPercent(Properties.CurrentRow, height, true));
            }
        }
        ++Properties.CurrentStrip;
    }
    // Rows no strip reached.
    for (uint32_t y = Properties.CurrentRow; y < height; ++y) blankRow(y);

    EndProgress();
    codecGuard.ended = true;
    if (codec) codec->DecodeEnd();
}

// ---- EPS ------------------------------------------------------------------------------------

bool TEPSGraphic::ProbeStream(TStream& stream) {
    const uint64_t start = stream.Position();
    const uint64_t size = stream.Size();
    if (size <= start || size - start <= 30) return false;
    uint8_t header[30];
    const size_t got = stream.Read(header, sizeof header);
    stream.SetPosition(start);
    if (got != sizeof header) return false;
    static constexpr uint8_t magic[4] = {0xC5, 0xD0, 0xD3, 0xC6};
    if (std::memcmp(header, magic, 4) != 0) return false;
    const uint32_t tiffOffset = Read32(header + 20, false);
    const uint32_t tiffLength = Read32(header + 24, false);
    return start + 30 < tiffOffset && tiffLength > 0;
}

void TEPSGraphic::ReadPicture(TStream& stream) {
    uint8_t header[30];
    stream.ReadBuffer(header, sizeof header);
    static constexpr uint8_t magic[4] = {0xC5, 0xD0, 0xD3, 0xC6};
    const uint32_t tiffOffset = Read32(header + 20, false);
    // A preview that would start inside the header is no preview.
    if (std::memcmp(header, magic, 4) != 0 || tiffOffset < 30) RaiseReaderErrorFmt(gesInvalidImage, gesEPSLabel);
    stream.Seek(int64_t(tiffOffset) - 30);
    TTIFFGraphic::ReadPicture(stream);
}
