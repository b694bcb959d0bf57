#include "readers/psd_reader.h"

#include "readers/embedded_profile.h"
#include "icc/colour_profile.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

#include "graphics/size_check.h"
#include "graphics/stream.h"
#include "readers/codecs/rle_decoders.h"

IMBRIX_DEFINE_GRAPHIC_CLASS(TPSDGraphic, TGraphicReader);

namespace {

constexpr size_t kHeaderSize = 26;
constexpr size_t kMaxPaletteBytes = 768;  // 256 entries, three planes

uint16_t BigEndian16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }
uint32_t BigEndian32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

uint32_t ReadLength(TStream& stream) {
    uint8_t b[4];
    stream.ReadBuffer(b, 4);
    return BigEndian32(b);
}

// How many planes a scheme's rows take.
size_t PlanesFor(ColorScheme scheme) {
    switch (scheme) {
        case ColorScheme::Gray:
        case ColorScheme::Indexed: return 1;
        case ColorScheme::RGB:
        case ColorScheme::CIELab: return 3;
        case ColorScheme::RGBA:
        case ColorScheme::CMYK: return 4;
        default: return 0;
    }
}

}  // namespace

bool TPSDGraphic::ProbeStream(TStream& stream) {
    const uint64_t start = stream.Position();
    bool result = false;
    if (stream.Remaining() > kHeaderSize) {
        uint8_t head[6];
        if (stream.Read(head, 6) == 6) {
            char magic[4];
            for (int i = 0; i < 4; ++i) magic[i] = char(std::toupper(head[i]));
            result = std::memcmp(magic, "8BPS", 4) == 0 && BigEndian16(head + 4) == 1;
        }
    }
    stream.SetPosition(start);
    return result;
}

bool TPSDGraphic::ReadProperties(TStream& stream, unsigned imageIndex) {
    TGraphicReader::ReadProperties(stream, imageIndex);
    compressionWord_ = 0;
    uint8_t h[kHeaderSize];
    if (stream.Read(h, kHeaderSize) != kHeaderSize) return false;
    if (std::memcmp(h, "8BPS", 4) != 0 || BigEndian16(h + 4) != 1) return false;

    const uint16_t channels = BigEndian16(h + 12);
    Properties.Options = ImageOption::BigEndian;
    Properties.Height = BigEndian32(h + 14);
    Properties.Width = BigEndian32(h + 18);
    const uint16_t depth = BigEndian16(h + 22);
    Properties.BitsPerSample = uint8_t(std::min<uint16_t>(depth, 255));
    Properties.ChannelCount = uint8_t(std::min<uint16_t>(channels, 255));
    Properties.SamplesPerPixel = uint8_t(std::min<uint16_t>(channels, 4));
    Properties.BitsPerPixel = uint8_t(Properties.SamplesPerPixel * Properties.BitsPerSample);
    switch (BigEndian16(h + 24)) {
        case 0:
            Properties.ColorScheme = ColorScheme::Gray;
            Properties.Options |= ImageOption::MinIsWhite;
            break;
        case 1:
        case 8: Properties.ColorScheme = ColorScheme::Gray; break;
        case 2: Properties.ColorScheme = ColorScheme::Indexed; break;
        case 3:
        case 7: Properties.ColorScheme = channels == 3 ? ColorScheme::RGB : ColorScheme::RGBA; break;
        case 4: Properties.ColorScheme = ColorScheme::CMYK; break;
        case 9: Properties.ColorScheme = ColorScheme::CIELab; break;
        default: Properties.ColorScheme = ColorScheme::Unknown; break;
    }
    // Colour mode data, image resources, layer and mask information.
    for (int section = 0; section < 3; ++section) stream.Seek(int64_t(ReadLength(stream)));
    uint8_t word[2];
    stream.ReadBuffer(word, 2);
    compressionWord_ = BigEndian16(word);
    // Zip (2, 3) is named as what it is so that the load can refuse it.
    Properties.Compression = compressionWord_ == 1   ? Compression::PackBits
                             : (compressionWord_ == 2 || compressionWord_ == 3) ? Compression::LZ77
                                                                                : Compression::None;
    return true;
}

void TPSDGraphic::ReadPicture(TStream& stream) {
    TLoadScope scope(*this, stream);
    ReadPropertiesOrFail(stream, gesPSDLabel);
    if (Properties.Compression == Compression::LZ77) RaiseUnsupportedCompression(gesPSDLabel);
    const ColorScheme scheme = Properties.ColorScheme;
    const size_t planes = PlanesFor(scheme);
    // Modes without a conversion (5, 6, unknown) would give an empty picture; say so instead.
    if (planes == 0) RaiseReaderErrorFmt(gesInvalidColorFormat, gesPSDLabel);
    if (Properties.ChannelCount < planes) RaiseReaderErrorFmt(gesInvalidImage, gesPSDLabel);
    const unsigned bits = Properties.BitsPerSample;
    const bool indexed16 = scheme == ColorScheme::Indexed && bits == 16;

    ByteReader data = LoadSourceData();
    ProgressRect = Rect(0, 0, int(std::min<uint32_t>(Properties.Width, 0x7FFFFFFF)), 1);
    StartProgress(gesPreparing);
    data.skip(kHeaderSize);

    ColorManager.SourceOptions = ColorOption::ByteSwap;
    // 16-bit indices are narrowed here, so the palette is built for 8-bit ones.
    ColorManager.SetSourceBitsPerSample(indexed16 ? 8 : int(bits));
    ColorManager.SetTargetBitsPerSample(bits == 16 ? 8 : int(bits));
    ColorManager.SetSourceSamplesPerPixel(Properties.SamplesPerPixel);
    ColorManager.SetTargetSamplesPerPixel(Properties.SamplesPerPixel);
    ColorManager.SetSourceScheme(scheme);
    switch (scheme) {
        case ColorScheme::Indexed: ColorManager.SetTargetScheme(ColorScheme::Indexed); break;
        case ColorScheme::Gray: ColorManager.SetTargetScheme(ColorScheme::Gray); break;
        case ColorScheme::RGB: ColorManager.SetTargetScheme(ColorScheme::BGR); break;
        case ColorScheme::RGBA: ColorManager.SetTargetScheme(ColorScheme::BGRA); break;
        case ColorScheme::CMYK:
            ColorManager.SetTargetScheme(ColorScheme::BGR);
            ColorManager.SetTargetSamplesPerPixel(3);
            break;
        default:  // CIELab
            ColorManager.SetTargetScheme(ColorScheme::BGR);
            ColorManager.SetTargetSamplesPerPixel(3);
            ColorManager.SourceOptions |= ColorOption::LabLightnessScaled | ColorOption::LabChromaOffset;
            break;
    }
    // The gray and indexed paths take one sample per pixel whatever the channel count.
    if (planes == 1) {
        ColorManager.SetSourceSamplesPerPixel(1);
        ColorManager.SetTargetSamplesPerPixel(1);
    }
    SetBitmapFormatAndSize(ColorManager.BitmapFormatFor(TConversionSide::Target), Properties.Width,
                           Properties.Height, gesPSDLabel);
    const size_t width = Properties.Width;
    const size_t height = Properties.Height;

    // Colour mode data: at most 256 palette entries are used, the rest is skipped.
    const uint32_t modeDataLength = data.u32be();
    ByteReader modeData = data.sub(modeDataLength);
    if (scheme == ColorScheme::Indexed) {
        const size_t used = std::min<size_t>(modeDataLength, kMaxPaletteBytes);
        const size_t count = used / 3;
        auto bytes = modeData.bytes(used);
        SetPalette(ColorManager.BuildColorPalette(
            {bytes.subspan(0, count), bytes.subspan(count, count), bytes.subspan(2 * count, count)},
            PaletteLayout::Planar8, count, false));
    } else if (scheme == ColorScheme::Gray) {
        SetPalette(ColorManager.BuildGrayPalette(Properties.Options & ImageOption::MinIsWhite));
    }
    {
        const uint32_t resourceLength = data.u32be();
        IccProfile = PhotoshopResourceProfile(data.bytes(resourceLength));
        IccProfileProblem.clear();
    }
    // Inks with a printer profile go through it instead of the plain formula. The profile is
    // then used up here: what reaches the working bitmap is sRGB already, and any other
    // profile on inks (an RGB one) cannot describe the formula's colours either.
    std::unique_ptr<CmykToSRGB> inks;
    if (scheme == ColorScheme::CMYK && !IccProfile.empty()) {
        std::string problem = "the picture's inks are in 16 bits";
        // Photoshop stores ink as 255 minus its amount, Adobe's convention.
        if (bits == 8) inks = CmykToSRGB::Create(IccProfile, true, &problem);
        if (!inks) IccProfileProblem = problem;
        IccProfile.clear();
    }
    std::vector<uint8_t> inkRow(inks ? static_cast<size_t>(CheckAllocation(width, 4)) : 0);
    data.skip(data.u32be());  // layer and mask information
    data.skip(2);             // compression word, read by ReadProperties

    const size_t rowBytes = (width * bits + 7) / 8;
    const size_t channels = Properties.ChannelCount;
    // Where each plane row's data starts and how long it is, for the planes we convert.
    const bool packed = Properties.Compression == Compression::PackBits;
    std::vector<uint16_t> rowCounts;
    size_t pixelStart = 0;
    if (packed) {
        const uint64_t entries = uint64_t(height) * channels;
        data.require(CheckAllocation(entries, 2));
        rowCounts.resize(size_t(entries));
        for (auto& count : rowCounts) count = data.u16be();
        pixelStart = data.pos();
        uint64_t total = 0;
        for (size_t i = 0; i < planes * height; ++i) total += rowCounts[i];
        // A table that promises more than the file holds is a damaged file, not a short read.
        if (total > data.remaining()) RaiseReaderErrorFmt(gesInvalidImage, gesPSDLabel);
    } else {
        pixelStart = data.pos();
        data.require(CheckAllocation(planes * height, rowBytes));
    }
    EndProgress();

    // One plane row at a time: the rows of a plane are contiguous, so offsets follow the table.
    TPackbitsRLEDecoder decoder;
    std::vector<uint64_t> planeOffsets(planes);
    if (packed) {
        uint64_t offset = 0;
        for (size_t c = 0; c < planes; ++c) {
            planeOffsets[c] = offset;
            for (size_t y = 0; y < height; ++y) offset += rowCounts[c * height + y];
        }
    }
    const std::span<const uint8_t> pixels = data.data().subspan(pixelStart);
    std::vector<uint64_t> nextOffset = planeOffsets;
    std::vector<std::vector<uint8_t>> rows(planes, std::vector<uint8_t>(rowBytes));
    auto readRow = [&](size_t c, size_t y) -> std::span<const uint8_t> {
        std::vector<uint8_t>& row = rows[c];
        if (packed) {
            const uint16_t count = rowCounts[c * height + y];
            TDecodeSource source = pixels.subspan(size_t(nextOffset[c]), count);
            TDecodeTarget dest(row);
            std::fill(row.begin(), row.end(), 0);
            decoder.Decode(source, dest, count, int32_t(std::min<size_t>(rowBytes, INT32_MAX)));
            nextOffset[c] += count;
        } else {
            auto stored = pixels.subspan((c * height + y) * rowBytes, rowBytes);
            std::copy(stored.begin(), stored.end(), row.begin());
        }
        return row;
    };

    std::vector<std::span<const uint8_t>> sources(planes);
    StartProgress(planes == 1 ? gesTransfering : gesLoadingData);
    if (planes > 1) {
        EndProgress();
        StartProgress(gesTransfering);
    }
    for (size_t y = 0; y < height; ++y) {
        for (size_t c = 0; c < planes; ++c) sources[c] = readRow(c, y);
        if (inks) {
            for (size_t x = 0; x < width; ++x)
                for (size_t c = 0; c < 4; ++c) inkRow[4 * x + c] = rows[c][x];
            inks->Row(inkRow.data(), ScanLine(int(y)), int(width));
            RowProgress(RowPercent(y, height));
            continue;
        }
        if (scheme == ColorScheme::CMYK) {
            // Photoshop stores ink as 255 minus its amount.
            for (auto& row : rows)
                for (auto& b : row) b = uint8_t(255 - b);
        }
        if (indexed16) {
            uint8_t* target = ScanLine(int(y));
            for (size_t x = 0; x < width; ++x)
                target[x] = uint8_t(std::min<unsigned>(BigEndian16(&rows[0][2 * x]), 255));
        } else {
            ColorManager.ConvertScanline(TColorManager::TSourceRows(sources.data(), sources.size()),
                                         ScanLineSpan(int(y)), width, 0xFF);
        }
        RowProgress(RowPercent(y, height));
    }
    // The fourth channel of an RGB file is its transparency; one that is all zero was never
    // filled in, and showing it would blank the picture.
    if (scheme == ColorScheme::RGBA && PixelFormat() == TPixelFormat::pf32bit) {
        bool anyAlpha = false;
        for (size_t y = 0; y < height && !anyAlpha; ++y) {
            const uint8_t* row = ScanLine(int(y));
            for (size_t x = 0; x < width && !anyAlpha; ++x) anyAlpha = row[4 * x + 3] != 0;
        }
        AlphaMeaningful = anyAlpha;
    }
    EndProgress();
}
