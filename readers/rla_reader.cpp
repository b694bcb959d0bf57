#include "readers/rla_reader.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <string>

#include "graphics/stream.h"
#include "readers/codecs/rle_decoders.h"

IMBRIX_DEFINE_GRAPHIC_CLASS(TRLAGraphic, TGraphicReader);

namespace {

constexpr const char* kRLALabel = "RLA";
constexpr size_t kHeaderSize = 740;
constexpr uint16_t kRevision = 0xFFFE;

std::string LowerText(ByteReader& r, size_t size) {
    std::string text = r.text(size);
    text.resize(std::min(text.find('\0'), text.size()));
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

struct Header {
    int16_t left, right, bottom, top;
    uint16_t channels, mattes, revision;
    float gamma;
    bool gammaGiven;
    std::string kind;
    uint16_t bits;
};

Header ParseHeader(ByteReader r) {
    Header h{};
    r.seek(8);
    h.left = r.i16be();
    h.right = r.i16be();
    h.bottom = r.i16be();
    h.top = r.i16be();
    r.seek(20);
    h.channels = r.u16be();
    h.mattes = r.u16be();
    r.u16be();
    h.revision = r.u16be();
    std::string gamma = r.text(16);
    gamma.resize(std::min(gamma.find('\0'), gamma.size()));
    char* end = nullptr;
    const double value = std::strtod(gamma.c_str(), &end);
    h.gammaGiven = end != gamma.c_str() && std::isfinite(value);
    h.gamma = h.gammaGiven ? float(value) : 1.0f;
    r.seek(580);
    h.kind = LowerText(r, 32);
    r.seek(658);
    h.bits = r.u16be();
    return h;
}

}  // namespace

bool TRLAGraphic::ProbeStream(TStream& stream) {
    const uint64_t start = stream.Position();
    bool result = false;
    if (stream.Size() > start && stream.Size() - start > kHeaderSize) {
        std::vector<uint8_t> header(kHeaderSize);
        stream.ReadBuffer(header.data(), header.size());
        const Header h = ParseHeader(ByteReader(header));
        result = h.revision == kRevision && (h.kind == "rgb" || h.kind == "xyz");
    }
    stream.SetPosition(start);
    return result;
}

bool TRLAGraphic::ReadProperties(TStream& stream, unsigned imageIndex) {
    TGraphicReader::ReadProperties(stream, imageIndex);
    std::vector<uint8_t> header(kHeaderSize);
    stream.ReadBuffer(header.data(), header.size());
    const Header h = ParseHeader(ByteReader(header));
    if (h.kind == "xyz") return false;
    Properties.Options = ImageOption::BigEndian;
    // Any matte channel makes the picture RGBA; the first one is its alpha.
    Properties.SamplesPerPixel = uint8_t(std::min<unsigned>(h.channels + (h.mattes > 0 ? 1 : 0), 255));
    Properties.BitsPerSample = uint8_t(std::min<uint16_t>(h.bits, 255));
    Properties.BitsPerPixel = uint8_t(Properties.BitsPerSample * Properties.SamplesPerPixel);
    if (h.kind == "rgb") Properties.ColorScheme = h.mattes > 0 ? ColorScheme::RGBA : ColorScheme::RGB;
    Properties.Gamma = h.gamma;
    Properties.Compression = Compression::RLE;
    Properties.Width = uint32_t(std::max(0, int(h.right) - int(h.left) + 1));
    Properties.Height = uint32_t(std::abs(int(h.bottom) - int(h.top)) + 1);
    Properties.BottomUpRows = h.bottom < h.top;
    return true;
}

void TRLAGraphic::ReadPicture(TStream& stream) {
    TLoadScope scope(*this, stream);
    // An unreadable header is refused like every other reader's, so that a batch does not
    // take a broken file for an empty picture.
    ReadPropertiesOrFail(stream, kRLALabel);
    const bool alpha = Properties.ColorScheme == ColorScheme::RGBA;
    const unsigned bits = Properties.BitsPerSample;
    if ((Properties.ColorScheme != ColorScheme::RGB && !alpha) || bits == 0 || bits > 16 ||
        Properties.SamplesPerPixel != (alpha ? 4 : 3))
        RaiseReaderErrorFmt(gesInvalidColorFormat, kRLALabel);
    if (Properties.Width == 0) RaiseReaderErrorFmt(gesInvalidImage, kRLALabel);

    ProgressRect = Rect(0, 0, int(std::min<uint32_t>(Properties.Width, 0x7FFFFFFF)), 1);
    StartProgress(gesTransfering);
    // Samples wider than a byte are held as two bytes, high first, and reduced to 8 bits
    // here; so the colour manager always sees 8-bit channels.
    ColorManager.SetSourceSamplesPerPixel(Properties.SamplesPerPixel);
    ColorManager.SetTargetSamplesPerPixel(Properties.SamplesPerPixel);
    ColorManager.SetSourceBitsPerSample(8);
    ColorManager.SetTargetBitsPerSample(8);
    ColorManager.SetSourceScheme(Properties.ColorScheme);
    ColorManager.SetTargetScheme(alpha ? ColorScheme::BGRA : ColorScheme::BGR);
    if (Properties.Gamma != 1.0f) {
        ColorManager.SetGammaValues(Properties.Gamma, 2.2f);
        ColorManager.TargetOptions |= ColorOption::ApplyGamma;
        Properties.Options |= ImageOption::GammaApplied;
    }
    SetBitmapFormatAndSize(ColorManager.BitmapFormatFor(TConversionSide::Target), Properties.Width,
                           Properties.Height, kRLALabel);
    AlphaMeaningful = alpha;

    ByteReader data = LoadSourceData();
    const size_t width = Properties.Width;
    const size_t height = Properties.Height;
    data.seek(kHeaderSize);
    data.require(height * 4);  // the bitmap's size check keeps this product small
    std::vector<uint32_t> offsets(height);
    for (uint32_t& offset : offsets) offset = data.u32be();

    const size_t sampleBytes = bits > 8 ? 2 : 1;
    const unsigned maxValue = (1u << bits) - 1;
    std::vector<uint8_t> packedRow(width * sampleBytes);
    std::array<std::vector<uint8_t>, 4> channels;
    for (auto& c : channels) c.assign(width, 0);
    const size_t channelCount = alpha ? 4 : 3;
    TRLADecoder decoder;

    for (size_t i = 0; i < height; ++i) {
        // Every row offset must point at data inside the file.
        if (offsets[i] < kHeaderSize || offsets[i] >= data.size())
            RaiseReaderErrorFmt(gesInvalidImage, kRLALabel);
        data.seek(offsets[i]);
        for (size_t c = 0; c < channelCount; ++c) {
            const uint16_t count = data.u16be();
            TDecodeSource src = data.bytes(count);
            std::fill(packedRow.begin(), packedRow.end(), 0);
            TDecodeTarget dst(packedRow);
            decoder.Decode(src, dst, count, int32_t(packedRow.size()));
            std::vector<uint8_t>& out = channels[c];
            if (bits == 8) {
                std::copy(packedRow.begin(), packedRow.end(), out.begin());
            } else {
                for (size_t x = 0; x < width; ++x) {
                    unsigned v = sampleBytes == 2 ? (packedRow[2 * x] << 8) | packedRow[2 * x + 1] : packedRow[x];
                    v = std::min(v, maxValue);
                    out[x] = uint8_t((v * 255u + maxValue / 2) / maxValue);
                }
            }
            if (c == 2 && !alpha) break;
        }
        const int row = int(Properties.BottomUpRows ? height - 1 - i : i);
        if (alpha)
            ColorManager.ConvertScanline({channels[0], channels[1], channels[2], channels[3]}, ScanLineSpan(row),
                                         width, 0xFF);
        else
            ColorManager.ConvertScanline({channels[0], channels[1], channels[2]}, ScanLineSpan(row), width, 0xFF);
        RowProgress(RowPercent(i + 1, height));
    }
    EndProgress();
}
