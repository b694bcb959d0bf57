#include "readers/pcd_reader.h"

#include <cstring>
#include <vector>

#include "graphics/stream.h"

IMBRIX_DEFINE_GRAPHIC_CLASS(TPCDGraphic, TGraphicReader);

namespace {

constexpr uint32_t kBaseWidth = 768;
constexpr uint32_t kBaseHeight = 512;

bool IsOverviewPack(const uint8_t* header) { return std::memcmp(header, "PCD_OPA", 7) == 0; }
bool IsImagePack(const uint8_t* header) { return std::memcmp(header + TPCDGraphic::kSectorSize, "PCD", 3) == 0; }

}  // namespace

bool TPCDGraphic::ProbeStream(TStream& stream) {
    const uint64_t start = stream.Position();
    std::vector<uint8_t> header(kHeaderSize);
    bool result = false;
    if (stream.Remaining() > kHeaderSize && stream.Read(header.data(), kHeaderSize) == kHeaderSize)
        result = IsOverviewPack(header.data()) || IsImagePack(header.data());
    stream.SetPosition(start);
    return result;
}

bool TPCDGraphic::ReadProperties(TStream& stream, unsigned imageIndex) {
    TGraphicReader::ReadProperties(stream, imageIndex);
    unsigned resolution = imageIndex > 5 ? 5 : imageIndex;
    std::vector<uint8_t> header(kHeaderSize);
    stream.ReadBuffer(header.data(), kHeaderSize);
    Properties.IsOverview = IsOverviewPack(header.data());
    if (!Properties.IsOverview && !IsImagePack(header.data())) return false;
    Properties.Rotation = header[kRotationOffset] & 3;
    if (Properties.IsOverview) resolution = 0;
    Properties.Width = 192u << resolution;
    Properties.Height = 128u << resolution;
    if (Properties.Rotation == 1 || Properties.Rotation == 3) std::swap(Properties.Width, Properties.Height);
    Properties.ColorScheme = ColorScheme::PhotoYCC;
    Properties.BitsPerSample = 8;
    Properties.SamplesPerPixel = 3;
    Properties.BitsPerPixel = 24;
    Properties.Compression = resolution < 3 ? Compression::None : Compression::PhotoCDHuffman;
    Properties.SubImageCount = static_cast<uint16_t>(header[10] << 8 | header[11]);
    return true;
}

void TPCDGraphic::ReadPicture(TStream& stream) {
    TLoadScope scope(*this, stream);
    // A file that is no image pack must not come out as an empty result file.
    if (!ReadProperties(stream, 2)) RaiseReaderErrorFmt(gesInvalidImage, gesPCDLabel);
    // The thumbnails of an overview pack are not laid out like an image pack's base
    // resolution; reading them as one would show garbage.
    if (Properties.IsOverview) RaiseReaderErrorFmt(gesUnsupportedFeature, gesOverviewPacks, gesPCDLabel);
    const uint8_t rotation = Properties.Rotation;
    Properties.Width = kBaseWidth;
    Properties.Height = kBaseHeight;
    const size_t width = kBaseWidth, height = kBaseHeight;

    ProgressRect = Rect(0, 0, static_cast<int>(width), 1);
    StartProgress(gesPreparing);
    std::vector<uint8_t> luma(width * height), chroma1(width * height), chroma2(width * height);
    ByteReader data = LoadSourceData();
    data.seek(std::min<size_t>(data.size(), size_t(kBaseSector) * kSectorSize));

    ColorManager.SetSourceScheme(ColorScheme::PhotoYCC);
    ColorManager.SetSourceBitsPerSample(8);
    ColorManager.SetSourceSamplesPerPixel(3);
    ColorManager.SetTargetScheme(ColorScheme::BGR);
    ColorManager.SetTargetBitsPerSample(8);
    ColorManager.SetTargetSamplesPerPixel(3);
    ColorManager.SourceOptions = 0;
    ColorManager.TargetOptions = 0;
    static constexpr float kLuma[3] = {0.2125f, 0.7154f, 0.0721f};
    ColorManager.SetLumaChromaParameters(kLuma, 2, 2);
    const bool quarterTurn = rotation == 1 || rotation == 3;
    SetBitmapFormatAndSize(TPixelFormat::pf24bit, quarterTurn ? height : width, quarterTurn ? width : height,
                           gesPCDLabel);
    EndProgress();

    StartProgress(gesLoadingData);
    for (size_t y = 0; y < height; y += 2) {
        data.copy(luma.data() + y * width, 2 * width);
        data.copy(chroma1.data() + y / 2 * width, width / 2);
        data.copy(chroma2.data() + y / 2 * width, width / 2);
        RowProgress(RowPercent(y + 2, height));
    }
    EndProgress();

    StartProgress(gesUpsampling);
    UpsamplePlane(width / 2, height / 2, width, chroma1);
    UpsamplePlane(width / 2, height / 2, width, chroma2);
    EndProgress();

    ProgressRect = Rect(0, 0, Width(), 1);
    StartProgress(gesTransfering);
    std::vector<uint8_t> rowBuffer(width * 3);
    for (size_t y = 0; y < height; ++y) {
        const size_t at = y * width;
        const std::span<const uint8_t> planes[3] = {{luma.data() + at, width}, {chroma1.data() + at, width},
                                                    {chroma2.data() + at, width}};
        if (!quarterTurn) {
            // A half turn puts source row y at the bottom, its pixels right to left.
            const int target = rotation == 2 ? static_cast<int>(height - 1 - y) : static_cast<int>(y);
            if (rotation == 2) {
                ColorManager.ConvertScanline(TColorManager::TSourceRows(planes), rowBuffer, width);
                uint8_t* out = ScanLine(target);
                for (size_t x = 0; x < width; ++x) std::memcpy(out + (width - 1 - x) * 3, &rowBuffer[x * 3], 3);
            } else {
                ColorManager.ConvertScanline(TColorManager::TSourceRows(planes), ScanLineSpan(target), width);
            }
        } else {
            ColorManager.ConvertScanline(TColorManager::TSourceRows(planes), rowBuffer, width);
            for (size_t x = 0; x < width; ++x) {
                // Code 1 turns the picture a quarter counter-clockwise, code 3 clockwise.
                const size_t row = rotation == 1 ? width - 1 - x : x;
                const size_t column = rotation == 1 ? y : height - 1 - y;
                std::memcpy(ScanLine(static_cast<int>(row)) + column * 3, &rowBuffer[x * 3], 3);
            }
        }
        RowProgress(RowPercent(y + 1, height));
    }
    EndProgress();
}
