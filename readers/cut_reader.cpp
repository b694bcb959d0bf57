#include "readers/cut_reader.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "graphics/stream.h"
#include "readers/codecs/rle_decoders.h"

IMBRIX_DEFINE_GRAPHIC_CLASS(TCUTGraphic, TGraphicReader);

namespace {

constexpr const char* kCUTLabel = "CUT";
constexpr size_t kPaletteBlockSize = 512;
constexpr size_t kLastEntryStart = 506;  // an entry never straddles two blocks
constexpr size_t kFirstEntryOffset = 40;
constexpr size_t kHighestIndexOffset = 12;

bool IsPalExtension(const std::string& ext) {
    if (ext.size() != 4) return false;
    std::string lower(ext);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    return lower == ".pal";
}

std::vector<TRGBQuad> ReadPaletteFile(const std::string& path) {
    // 256 entries fill less than four blocks; nothing beyond them is read.
    constexpr size_t kMaxPaletteBytes = 4 * kPaletteBlockSize;
    TFileStream file(path, TFileStream::Mode::OpenRead);
    std::vector<uint8_t> bytes(kMaxPaletteBytes);
    bytes.resize(file.Read(bytes.data(), bytes.size()));
    ByteReader r(bytes);
    r.seek(std::min(bytes.size(), kHighestIndexOffset));
    const size_t count = size_t(r.u16le()) + 1;
    if (count > 256) RaiseReaderErrorFmt(gesInvalidPalette, kCUTLabel);
    std::vector<TRGBQuad> palette(count);
    size_t blockStart = 0;
    size_t offset = kFirstEntryOffset;
    for (TRGBQuad& entry : palette) {
        if (offset > kLastEntryStart) {
            blockStart += kPaletteBlockSize;
            offset = 0;
        }
        r.seek(std::min(bytes.size(), blockStart + offset));
        const uint16_t red = r.u16le();
        const uint16_t green = r.u16le();
        const uint16_t blue = r.u16le();
        if (red > 255 || green > 255 || blue > 255) RaiseReaderErrorFmt(gesInvalidPalette, kCUTLabel);
        entry.rgbRed = uint8_t(red);
        entry.rgbGreen = uint8_t(green);
        entry.rgbBlue = uint8_t(blue);
        offset += 6;
    }
    return palette;
}

}  // namespace

bool TCUTGraphic::ProbeStream(TStream&) { return false; }

std::string TCUTGraphic::FindPaletteFile(const std::string& picturePath) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path candidate(picturePath);
    for (const char* ext : {".pal", ".PAL"}) {
        candidate.replace_extension(ext);
        if (fs::is_regular_file(candidate, ec)) return candidate.string();
    }
    // Any other letter case of the extension (".Pal").
    const fs::path picture(picturePath);
    const fs::path folder = picture.has_parent_path() ? picture.parent_path() : fs::path(".");
    const fs::path stem = picture.stem();
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path& name = it->path();
        if (name.stem() == stem && IsPalExtension(name.extension().string()) && it->is_regular_file(ec))
            return name.string();
    }
    return {};
}

bool TCUTGraphic::ReadProperties(TStream& stream, unsigned imageIndex) {
    TGraphicReader::ReadProperties(stream, imageIndex);
    uint8_t header[4];
    stream.ReadBuffer(header, sizeof header);
    ByteReader r(header, sizeof header);
    Properties.Width = r.u16le();
    Properties.Height = r.u16le();
    Properties.ColorScheme = ColorScheme::Indexed;
    Properties.BitsPerSample = 8;
    Properties.SamplesPerPixel = 1;
    Properties.BitsPerPixel = 8;
    Properties.Compression = Compression::RLE;
    return true;
}

void TCUTGraphic::ReadPictureFile(const std::string& path) {
    TFileStream stream(path, TFileStream::Mode::OpenRead);
    ReadPicture(stream);
}

void TCUTGraphic::ReadPicture(TStream& stream) {
    if (auto* file = dynamic_cast<TFileStream*>(&stream)) PaletteFileName = FindPaletteFile(file->Path());
    TLoadScope scope(*this, stream);
    ReadPropertiesOrFail(stream, kCUTLabel);

    ProgressRect = Rect(0, 0, int(Properties.Width), 0);
    StartProgress(gesTransfering);
    SetBitmapFormatAndSize(TPixelFormat::pf8bit, Properties.Width, Properties.Height, kCUTLabel);
    if (!PaletteFileName.empty() && std::filesystem::exists(PaletteFileName)) {
        SetPalette(ReadPaletteFile(PaletteFileName));
    } else {
        std::vector<TRGBQuad> gray(256);
        for (int i = 0; i < 256; ++i) gray[i] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
        SetPalette(std::move(gray));
    }

    ByteReader data = LoadSourceData();
    data.seek(std::min<size_t>(data.size(), 6));
    TDecodeSource source = data.data().subspan(data.pos());
    TCUTRLEDecoder decoder;
    const int height = Height();
    const int width = Width();
    for (int y = 0; y < height; ++y) {
        TDecodeTarget row = ScanLineSpan(y).first(size_t(width));
        decoder.Decode(source, row, int32_t(source.size()), width);
        RowProgress(RowPercent(y + 1, height));
    }
    EndProgress();
}
