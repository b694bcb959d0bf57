#include "readers/ppm_reader.h"

#include <array>
#include <cstring>
#include <vector>

#include "graphics/stream.h"

IMBRIX_DEFINE_GRAPHIC_CLASS(TPPMGraphic, TGraphicReader);

namespace {

constexpr uint32_t kMaxSampleValue = 65535;
constexpr uint64_t kNumberCap = 0xFFFFFFFFu;  // larger header numbers are refused anyway

// Reads the stream through a 4096-byte buffer. Running out of data is a read error of the
// format, never a silent zero.
class TScanner {
public:
    explicit TScanner(TStream& stream) : stream_(stream) {}

    uint8_t Next() {
        if (pos_ == length_) Refill();
        return buffer_[pos_++];
    }

    void Read(uint8_t* dest, size_t count) {
        while (count > 0) {
            if (pos_ == length_) Refill();
            const size_t n = std::min(count, length_ - pos_);
            std::memcpy(dest, buffer_.data() + pos_, n);
            pos_ += n;
            dest += n;
            count -= n;
        }
    }

    // A comment runs to the end of its line (CR, LF or both).
    void SkipComment() {
        uint8_t c;
        do c = Next(); while (c != '\n' && c != '\r');
        // A CR LF pair ends the line together; an LF after a CR must not be eaten as a
        // raster byte's separator later, and a plain CR line end leaves the next byte alone.
        if (c == '\r' && Available() && buffer_[pos_] == '\n') ++pos_;
    }

    // A decimal number: non-digits before it are skipped ("#" skips its line), the
    // character after it is consumed (a "#" there takes its line with it).
    uint64_t Number() {
        uint8_t c = Next();
        while (!IsDigit(c)) {
            if (c == '#') SkipComment();
            c = Next();
        }
        uint64_t value = 0;
        while (IsDigit(c)) {
            value = std::min<uint64_t>(value * 10 + (c - '0'), kNumberCap + 1);
            if (!Available()) return value;  // a number that ends the file
            c = Next();
        }
        if (c == '#') SkipComment();
        return value;
    }

    // One pixel of a plain bitmap: the next digit, blanks and comments between pixels
    // being optional.
    uint8_t Bit() {
        uint8_t c = Next();
        while (!IsDigit(c)) {
            if (c == '#') SkipComment();
            c = Next();
        }
        return (c - '0') & 1;
    }

private:
    static bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }
    bool Available() {
        if (pos_ < length_) return true;
        if (stream_.Remaining() == 0) return false;
        Refill();
        return true;
    }
    void Refill() {
        length_ = stream_.Read(buffer_.data(), buffer_.size());
        pos_ = 0;
        if (length_ == 0) RaiseReaderErrorFmt(gesStreamReadError, gesPPMLabel);
    }

    TStream& stream_;
    std::array<uint8_t, 4096> buffer_{};
    size_t pos_ = 0;
    size_t length_ = 0;
};

struct THeader {
    int type = 0;  // 1..6
    uint64_t width = 0, height = 0;
    uint64_t maxValue = 1;
};

// False when the stream does not start like a portable map this reader can read.
bool ReadHeader(TScanner& scanner, THeader& header) {
    if (scanner.Next() != 'P') return false;
    const uint8_t digit = scanner.Next();
    if (digit < '1' || digit > '6') return false;
    header.type = digit - '0';
    header.width = scanner.Number();
    header.height = scanner.Number();
    if (header.type != 1 && header.type != 4) header.maxValue = scanner.Number();
    // An empty picture or a maximum of 0 describes no picture at all.
    return header.width > 0 && header.height > 0 && header.width <= kNumberCap && header.height <= kNumberCap &&
           header.maxValue > 0 && header.maxValue <= kMaxSampleValue;
}

bool IsBitmap(int type) { return type == 1 || type == 4; }
bool IsPixmap(int type) { return type == 3 || type == 6; }
bool IsText(int type) { return type <= 3; }

[[noreturn]] void RaiseInvalid() { RaiseReaderErrorFmt(gesInvalidImage, gesPortableMapLabel); }

}  // namespace

bool TPPMGraphic::ProbeStream(TStream& stream) {
    const uint64_t start = stream.Position();
    uint8_t head[2];
    const bool result = stream.Remaining() > 10 && stream.Read(head, 2) == 2 && head[0] == 'P' && head[1] >= '1' &&
                        head[1] <= '6';
    stream.SetPosition(start);
    return result;
}

bool TPPMGraphic::ReadProperties(TStream& stream, unsigned imageIndex) {
    TGraphicReader::ReadProperties(stream, imageIndex);
    TScanner scanner(stream);
    THeader header;
    if (!ReadHeader(scanner, header)) return false;
    Properties.Width = static_cast<uint32_t>(header.width);
    Properties.Height = static_cast<uint32_t>(header.height);
    Properties.SamplesPerPixel = IsPixmap(header.type) ? 3 : 1;
    Properties.BitsPerSample = IsBitmap(header.type) ? 1 : header.maxValue > 255 ? 16 : 8;
    Properties.BitsPerPixel = static_cast<uint8_t>(Properties.BitsPerSample * Properties.SamplesPerPixel);
    Properties.ColorScheme = IsPixmap(header.type) ? ColorScheme::RGB : ColorScheme::Indexed;
    if (Properties.BitsPerSample == 16 && !IsText(header.type)) Properties.Options |= ImageOption::BigEndian;
    Properties.Compression = Compression::None;
    return true;
}

void TPPMGraphic::ReadPicture(TStream& stream) {
    TLoadScope scope(*this, stream);
    ReadPropertiesOrFail(stream, gesPortableMapLabel);
    stream.SetPosition(BasePosition);
    TScanner scanner(stream);
    THeader header;
    if (!ReadHeader(scanner, header)) RaiseInvalid();
    const size_t width = static_cast<size_t>(header.width);
    const size_t samples = IsPixmap(header.type) ? 3 : 1;
    // Maximum 65535 keeps its 16-bit samples (big-endian in the row buffer) for the colour
    // manager's reduction; every other maximum is scaled to 0..255 here.
    const bool sixteen = header.maxValue == kMaxSampleValue;
    const bool wideSamples = header.maxValue > 255;  // two bytes each in a binary file
    const uint32_t maxValue = static_cast<uint32_t>(header.maxValue);

    if (IsBitmap(header.type)) {
        ColorManager.SetSourceScheme(ColorScheme::Indexed);
        ColorManager.SetTargetScheme(ColorScheme::Indexed);
        ColorManager.SetSourceBitsPerSample(1);
        ColorManager.SetTargetBitsPerSample(1);
    } else {
        ColorManager.SetSourceScheme(samples == 3 ? ColorScheme::RGB : ColorScheme::Gray);
        ColorManager.SetTargetScheme(samples == 3 ? ColorScheme::BGR : ColorScheme::Gray);
        ColorManager.SetSourceBitsPerSample(sixteen ? 16 : 8);
        ColorManager.SetTargetBitsPerSample(8);
    }
    ColorManager.SetSourceSamplesPerPixel(static_cast<int>(samples));
    ColorManager.SetTargetSamplesPerPixel(static_cast<int>(samples));
    ColorManager.SourceOptions = sixteen ? ColorOption::ByteSwap : 0;
    ColorManager.TargetOptions = 0;
    SetBitmapFormatAndSize(ColorManager.BitmapFormatFor(TConversionSide::Target), header.width, header.height,
                           gesPortableMapLabel);
    if (samples == 1) SetPalette(ColorManager.BuildGrayPalette(IsBitmap(header.type)));
    ProgressRect = Rect(0, 0, Width(), 1);
    StartProgress(gesTransfering);

    // Scaled values of every sample up to the maximum; anything above it is a damaged file.
    std::vector<uint8_t> scale;
    if (!IsBitmap(header.type) && !sixteen && maxValue <= 255) {
        scale.resize(maxValue + 1);
        for (uint32_t v = 0; v <= maxValue; ++v) scale[v] = static_cast<uint8_t>((v * 255 + maxValue / 2) / maxValue);
    }
    auto scaled = [&](uint32_t v) -> uint8_t {
        if (v > maxValue) RaiseInvalid();
        if (!scale.empty()) return scale[v];
        return static_cast<uint8_t>((uint64_t(v) * 255 + maxValue / 2) / maxValue);
    };

    const size_t sampleCount = width * samples;  // width fits the picture limits by now
    const size_t bitmapRowBytes = (width + 7) / 8;
    std::vector<uint8_t> row(IsBitmap(header.type) ? bitmapRowBytes : sampleCount * (sixteen ? 2 : 1));
    std::vector<uint8_t> raw(!IsText(header.type) && !IsBitmap(header.type) ? sampleCount * (wideSamples ? 2 : 1) : 0);

    for (int y = 0; y < Height(); ++y) {
        switch (header.type) {
            case 1: {
                std::fill(row.begin(), row.end(), 0);
                for (size_t x = 0; x < width; ++x)
                    if (scanner.Bit()) row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
                break;
            }
            case 4:
                scanner.Read(row.data(), row.size());
                break;
            case 2:
            case 3:
                for (size_t i = 0; i < sampleCount; ++i) {
                    const uint64_t v = scanner.Number();
                    if (v > maxValue) RaiseInvalid();
                    if (sixteen) {
                        row[2 * i] = static_cast<uint8_t>(v >> 8);
                        row[2 * i + 1] = static_cast<uint8_t>(v);
                    } else {
                        row[i] = scaled(static_cast<uint32_t>(v));
                    }
                }
                break;
            default:  // 5, 6
                if (sixteen) {
                    scanner.Read(row.data(), row.size());
                } else {
                    scanner.Read(raw.data(), raw.size());
                    for (size_t i = 0; i < sampleCount; ++i)
                        row[i] = scaled(wideSamples ? uint32_t(raw[2 * i]) << 8 | raw[2 * i + 1] : raw[i]);
                }
                break;
        }
        ColorManager.ConvertScanline({std::span<const uint8_t>(row)}, ScanLineSpan(y), width);
        TellRowsFinal(y + 1);
        RowProgress(RowPercent(static_cast<uint64_t>(y) + 1, static_cast<uint64_t>(Height())));
    }
    EndProgress();
}
