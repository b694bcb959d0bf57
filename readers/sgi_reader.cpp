#include "readers/sgi_reader.h"

#include <algorithm>
#include <cstring>

#include "graphics/errors.h"
#include "graphics/size_check.h"
#include "graphics/stream.h"

IMBRIX_DEFINE_GRAPHIC_CLASS(TSGIGraphic, TGraphicReader);

namespace {

constexpr size_t kHeaderSize = 512;
constexpr uint16_t kMagic = 474;

struct SGIHeader {
    uint16_t magic;
    uint8_t storage, bytesPerSample;
    uint16_t dimension, width, height, channels;
};

SGIHeader ParseHeader(ByteReader r) {
    SGIHeader h{};
    h.magic = r.u16be();
    h.storage = r.u8();
    h.bytesPerSample = r.u8();
    h.dimension = r.u16be();
    h.width = r.u16be();
    h.height = r.u16be();
    h.channels = r.u16be();
    return h;
}

// Reads the fixed part of the header at the stream's position and puts the position back.
bool ReadHeader(TStream& stream, SGIHeader& header) {
    const uint64_t start = stream.Position();
    uint8_t bytes[12];
    const size_t got = stream.Read(bytes, sizeof bytes);
    stream.SetPosition(start);
    if (got != sizeof bytes) return false;
    header = ParseHeader(ByteReader(bytes, sizeof bytes));
    return true;
}

// 16-bit samples (big-endian) to 8 bits, as every 16-bit path of the readers does.
uint8_t Reduce16(const uint8_t* p) { return static_cast<uint8_t>(((unsigned(p[0]) << 8) | p[1]) * 255u / 65535u); }

}  // namespace

bool TSGIGraphic::ProbeStream(TStream& stream) {
    if (stream.Remaining() <= kHeaderSize) return false;
    SGIHeader h;
    if (!ReadHeader(stream, h)) return false;
    return h.magic == kMagic && (h.bytesPerSample == 1 || h.bytesPerSample == 2) && h.dimension >= 1 &&
           h.dimension <= 3;
}

bool TSGIGraphic::ReadProperties(TStream& stream, unsigned imageIndex) {
    TGraphicReader::ReadProperties(stream, imageIndex);
    SGIHeader h;
    if (!ReadHeader(stream, h) || h.magic != kMagic) return false;
    Properties.Options = ImageOption::BigEndian;
    Properties.BitsPerSample = static_cast<uint8_t>(h.bytesPerSample * 8);
    Properties.Width = h.width;
    Properties.Height = h.height;
    Properties.SamplesPerPixel = static_cast<uint8_t>(std::min<uint16_t>(h.channels, 255));
    Properties.ColorScheme = h.channels == 3   ? ColorScheme::RGB
                             : h.channels == 4 ? ColorScheme::RGBA
                                               : ColorScheme::Indexed;
    Properties.BitsPerPixel = static_cast<uint8_t>(Properties.SamplesPerPixel * Properties.BitsPerSample);
    Properties.Compression = h.storage == 1 ? Compression::RLE : Compression::None;
    Properties.HasAlpha = h.channels == 2 || h.channels == 4;
    return true;
}

void TSGIGraphic::ReadSGIRow(const ByteReader& data, uint32_t row, unsigned bytesPerSample,
                             std::span<uint8_t> (&targets)[4]) {
    const std::span<const uint8_t> file = data.data();
    const uint32_t height = Properties.Height;
    const size_t rowBytes = size_t(Properties.Width) * bytesPerSample;
    for (uint32_t c = 0; c < 4; ++c) {
        std::span<uint8_t> target = targets[c];
        if (target.empty()) continue;
        std::fill(target.begin(), target.end(), uint8_t(0));
        if (decoder_) {
            const size_t index = size_t(c) * height + row;
            if (index >= rowStart_.size() || index >= rowSize_.size()) throw ERangeError();
            // The tables were checked against the file before the first row.
            TDecodeSource source = file.subspan(rowStart_[index], rowSize_[index]);
            TDecodeTarget dest = target.first(rowBytes);
            decoder_->Decode(source, dest, int32_t(rowSize_[index]), int32_t(Properties.Width));
        } else {
            const uint64_t offset = kHeaderSize + (uint64_t(c) * height + row) * rowBytes;
            if (offset < file.size()) {
                const size_t n = static_cast<size_t>(std::min<uint64_t>(rowBytes, file.size() - offset));
                std::memcpy(target.data(), file.data() + offset, n);  // a short file: the rest stays zero
            }
        }
    }
}

void TSGIGraphic::ReadPicture(TStream& stream) {
    TLoadScope scope(*this, stream);
    struct DecoderRelease {
        TSGIGraphic& self;
        ~DecoderRelease() {
            self.decoder_.reset();
            self.rowStart_.clear();
            self.rowSize_.clear();
        }
    } release{*this};

    ReadPropertiesOrFail(stream, gesSGILabel);
    ProgressRect = Rect(0, 0, int(Properties.Width), 1);
    StartProgress(gesPreparing);

    ByteReader data = LoadSourceData();
    const SGIHeader h = ParseHeader(data.sub(kHeaderSize));
    const unsigned bytesPerSample = h.bytesPerSample;
    const unsigned channels = h.channels;
    if (bytesPerSample != 1 && bytesPerSample != 2) RaiseReaderErrorFmt(gesInvalidColorFormat, gesSGILabel);
    if (channels < 1 || channels > 4) RaiseReaderErrorFmt(gesInvalidColorFormat, gesSGILabel);
    const uint32_t width = h.width;
    const uint32_t height = h.height;
    const size_t rowBytes = size_t(width) * bytesPerSample;

    if (Properties.Compression == Compression::RLE) {
        const size_t entries = size_t(channels) * height;
        CheckAllocation(entries, 8);
        rowStart_.resize(entries);
        rowSize_.resize(entries);
        for (uint32_t& v : rowStart_) v = data.u32be();
        for (uint32_t& v : rowSize_) v = data.u32be();
        // Every row must lie inside the file before any is followed.
        const uint64_t fileSize = data.size();
        for (size_t i = 0; i < entries; ++i)
            if (uint64_t(rowStart_[i]) + rowSize_[i] > fileSize) RaiseReaderErrorFmt(gesCompression, gesSGILabel);
        decoder_ = std::make_unique<TSGIRLEDecoder>(static_cast<uint8_t>(bytesPerSample * 8));
        decoder_->DecodeInit();
    }

    const bool color = channels >= 3;
    ColorManager.SourceOptions = ColorOption::ByteSwap;
    ColorManager.SetSourceBitsPerSample(int(bytesPerSample * 8));
    ColorManager.SetTargetBitsPerSample(8);
    if (color) {
        ColorManager.SetSourceSamplesPerPixel(int(channels));
        ColorManager.SetTargetSamplesPerPixel(int(channels));
        ColorManager.SetSourceScheme(Properties.ColorScheme);
        ColorManager.SetTargetScheme(channels == 3 ? ColorScheme::BGR : ColorScheme::BGRA);
    } else {
        // Gray (with alpha for two channels) is turned into 8-bit levels here.
        ColorManager.SetSourceSamplesPerPixel(1);
        ColorManager.SetTargetSamplesPerPixel(1);
        ColorManager.SetSourceScheme(ColorScheme::Indexed);
        ColorManager.SetTargetScheme(ColorScheme::Indexed);
    }
    SetBitmapFormatAndSize(ColorManager.BitmapFormatFor(TConversionSide::Target), width, height, gesSGILabel);
    if (channels == 4) AlphaMeaningful = true;
    if (!color) SetPalette(ColorManager.BuildGrayPalette(false));
    EndProgress();

    ProgressRect = Rect(0, 0, Width(), 1);
    StartProgress(gesTransfering);
    std::vector<uint8_t> buffers(CheckAllocation(rowBytes, 4));
    std::span<uint8_t> targets[4];
    for (unsigned c = 0; c < channels; ++c) targets[c] = std::span<uint8_t>(buffers).subspan(c * rowBytes, rowBytes);
    for (uint32_t r = 0; r < height; ++r) {
        ReadSGIRow(data, r, bytesPerSample, targets);
        const int bitmapRow = int(height - 1 - r);
        if (color) {
            if (channels == 3)
                ColorManager.ConvertScanline({targets[0], targets[1], targets[2]}, ScanLineSpan(bitmapRow), width);
            else
                ColorManager.ConvertScanline({targets[0], targets[1], targets[2], targets[3]}, ScanLineSpan(bitmapRow),
                                             width);
        } else {
            uint8_t* out = ScanLine(bitmapRow);
            const uint8_t* g = targets[0].data();
            const uint8_t* a = channels == 2 ? targets[1].data() : nullptr;
            for (uint32_t x = 0; x < width; ++x) {
                unsigned level = bytesPerSample == 2 ? Reduce16(g + 2 * x) : g[x];
                if (a) {
                    // Alpha blended onto the white working bitmap.
                    const unsigned alpha = bytesPerSample == 2 ? Reduce16(a + 2 * x) : a[x];
                    level = (level * alpha + 255u * (255u - alpha) + 127u) / 255u;
                }
                out[x] = static_cast<uint8_t>(level);
            }
        }
        RowProgress(RowPercent(r, height));
    }
    if (decoder_) decoder_->DecodeEnd();
    EndProgress();
}
