#pragma once
// TColorManager turns rows of decoded samples (any ColorScheme, 1..16 bits per sample,
// interleaved or planar) into rows of the bitmap a reader fills, and builds the palettes of
// indexed and gray bitmaps.
//
// Every row routine works on spans: ConvertScanline checks, before anything is written, that
// the source planes and the target row hold what the chosen routine will touch for the given
// count and mask, and fails with "Range check error" otherwise. Whatever the settings, a
// conversion never reads or writes outside the buffers it was given.
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

#include "graphics/bitmap.h"

// Colour layouts of samples; shared with TImageProperties.
enum class ColorScheme : uint8_t {
    Unknown = 0,
    Indexed = 1,
    Gray = 2,
    GrayAlpha = 3,
    RGB = 4,
    RGBA = 5,
    BGR = 6,
    BGRA = 7,
    CMY = 8,
    CMYK = 9,
    CIELab = 10,
    YCbCr = 11,
    PhotoYCC = 12,
};

// Option bits of SourceOptions and TargetOptions (same bit numbers in both sets).
using TConvertOptions = uint8_t;
namespace ColorOption {
inline constexpr TConvertOptions Alpha = 1 << 0;               // layout carries alpha (derived)
inline constexpr TConvertOptions ApplyGamma = 1 << 1;          // target: 8-bit results through GammaTable
inline constexpr TConvertOptions ByteSwap = 1 << 2;            // source: 16-bit samples stored big-endian
inline constexpr TConvertOptions LabLightnessScaled = 1 << 3;  // source: L* stored as 0..255
inline constexpr TConvertOptions LabChromaOffset = 1 << 4;     // source: a*, b* unsigned, 128 = zero
}  // namespace ColorOption

// Raw palette layouts understood by BuildColorPalette.
enum class PaletteLayout : uint8_t {
    Interleaved8Triples = 0,
    Interleaved8Quads = 1,  // fourth byte skipped
    Planar8 = 2,
    Planar8Quad = 3,  // fourth plane unused
    Interleaved16Triples = 4,
    Interleaved16Quads = 5,
    Planar16 = 6,
    Planar16Quad = 7,
};

enum class TConversionSide { Source, Target };

class TColorManager {
public:
    // One to four source rows: one means interleaved samples, more means one plane each.
    using TSourceRows = std::span<const std::span<const uint8_t>>;

    TColorManager();

    // Setters raise EColorConversionError for out-of-range values and keep the old value.
    uint8_t SourceBitsPerSample() const { return sourceBitsPerSample_; }
    uint8_t TargetBitsPerSample() const { return targetBitsPerSample_; }
    uint8_t SourceSamplesPerPixel() const { return sourceSamplesPerPixel_; }
    uint8_t TargetSamplesPerPixel() const { return targetSamplesPerPixel_; }
    ColorScheme SourceScheme() const { return sourceScheme_; }
    ColorScheme TargetScheme() const { return targetScheme_; }
    void SetSourceBitsPerSample(int bits);
    void SetTargetBitsPerSample(int bits);
    void SetSourceSamplesPerPixel(int samples);
    void SetTargetSamplesPerPixel(int samples);
    void SetSourceScheme(ColorScheme scheme);
    void SetTargetScheme(ColorScheme scheme);

    // Readers write these directly; doing so does not force a new routine choice.
    TConvertOptions SourceOptions = 0;
    TConvertOptions TargetOptions = 0;

    bool Changed() const { return changed_; }
    bool HasRowConverter() const { return RowConverter != nullptr; }
    float MainGamma() const { return mainGamma_; }
    float DisplayGamma() const { return displayGamma_; }
    const std::array<uint8_t, 256>& GammaTable() const { return gammaTable_; }
    const std::array<float, 3>& YCbCrCoefficients() const { return yCbCrCoefficients_; }
    uint8_t HorizontalSubsampling() const { return horizontalSubsampling_; }
    uint8_t VerticalSubsampling() const { return verticalSubsampling_; }
    const std::vector<int32_t>& CrToRed() const { return crToRed_; }
    const std::vector<int32_t>& CbToBlue() const { return cbToBlue_; }
    const std::vector<int32_t>& CrToGreen() const { return crToGreen_; }
    const std::vector<int32_t>& CbToGreen() const { return cbToGreen_; }

    // Converts count target pixels. Bit 7 of mask stands for target pixel 0 of each group of
    // eight; only pixels whose bit is set are written, each from the next source pixel.
    void ConvertScanline(TSourceRows sources, std::span<uint8_t> target, size_t count, uint8_t mask = 0xFF);
    void ConvertScanline(std::initializer_list<std::span<const uint8_t>> sources, std::span<uint8_t> target,
                         size_t count, uint8_t mask = 0xFF) {
        ConvertScanline(TSourceRows(sources.begin(), sources.size()), target, count, mask);
    }

    // Bytes a conversion of count pixels with this mask reads from each source plane given
    // planeCount planes, and writes to the target (choosing the routine first if needed).
    size_t RequiredSourceBytes(size_t count, uint8_t mask, size_t planeCount);
    size_t RequiredTargetBytes(size_t count);

    void ChooseRowConverter();

    // main <= 0 becomes 1.0, display <= 0 becomes 2.2; rebuilds GammaTable.
    void SetGammaValues(float main, float display);
    // Up to three luma coefficients (Kr, Kg, Kb); subsampling 1, 2 or 4 with vertical <= horizontal.
    void SetLumaChromaParameters(std::span<const float> coefficients, int horizontal, int vertical);

    TPixelFormat BitmapFormatFor(TConversionSide which) const;

    // A palette from raw colour values; re-spread to 2^T entries when the index ranges of the
    // source and target depths differ.
    std::vector<TRGBQuad> BuildColorPalette(TSourceRows sources, PaletteLayout layout, size_t count, bool bgrOrder);
    std::vector<TRGBQuad> BuildColorPalette(std::initializer_list<std::span<const uint8_t>> sources,
                                            PaletteLayout layout, size_t count, bool bgrOrder) {
        return BuildColorPalette(TSourceRows(sources.begin(), sources.size()), layout, count, bgrOrder);
    }
    // A black-to-white ramp of 2^min(TargetBitsPerSample x TargetSamplesPerPixel, 8) entries.
    std::vector<TRGBQuad> BuildGrayPalette(bool minIsWhite) const;

private:
    struct TRowJob {
        std::array<std::span<const uint8_t>, 4> planes;
        size_t planeCount;
        std::span<uint8_t> target;
        size_t count;
        uint8_t mask;
    };
    using TRowConverter = void (TColorManager::*)(const TRowJob&);

    // What the chosen routine touches, for the buffer checks.
    enum class RowKind { None, Packed, Indexed16To16, Indexed16ToPacked, PackedToIndexed16, Gray, RGBFamily, CMYK, ThreeSample };
    struct TRowNeeds {
        size_t planesRead = 1;    // how many source planes are read (0: nothing)
        size_t bytesPerPlane = 0; // bytes read from each of them
        size_t targetBytes = 0;
    };
    TRowNeeds NeedsFor(size_t count, uint8_t mask, size_t planeCount) const;

    void BuildChromaTables();

    void ConvertIndexed(const TRowJob& job);
    void ConvertIndexed16To16(const TRowJob& job);
    void ConvertIndexed16ToPacked(const TRowJob& job);
    void ConvertPackedToIndexed16(const TRowJob& job);
    void ConvertGray(const TRowJob& job);
    void ConvertRGBToRGB(const TRowJob& job);
    void ConvertRGBToBGR(const TRowJob& job);
    void ConvertBGRToRGB(const TRowJob& job);
    void ConvertBGRToBGR(const TRowJob& job);
    void ConvertCMYKToRGB(const TRowJob& job);
    void ConvertCMYKToBGR(const TRowJob& job);
    void ConvertLabToRGB(const TRowJob& job);
    void ConvertLabToBGR(const TRowJob& job);
    void ConvertYCbCrToRGB(const TRowJob& job);
    void ConvertYCbCrToBGR(const TRowJob& job);
    void ConvertPhotoYCCToRGB(const TRowJob& job);
    void ConvertPhotoYCCToBGR(const TRowJob& job);

    void ConvertRGBFamily(const TRowJob& job, bool exchange);
    void ConvertCMYK(const TRowJob& job, bool bgr);
    void ConvertLab(const TRowJob& job, bool bgr);
    void ConvertYCbCr(const TRowJob& job, bool bgr);

    // Component rules: a raw sample (8-bit, or 16-bit in host order after the swap) to 8 bits.
    uint8_t Component(uint32_t raw, bool sixteen) const;

    bool changed_ = true;
    uint8_t sourceBitsPerSample_ = 8;
    uint8_t targetBitsPerSample_ = 8;
    uint8_t sourceSamplesPerPixel_ = 3;
    uint8_t targetSamplesPerPixel_ = 3;
    float mainGamma_ = 1.0f;
    float displayGamma_ = 2.2f;
    std::array<uint8_t, 256> gammaTable_{};
    std::array<float, 3> yCbCrCoefficients_{0.299f, 0.587f, 0.114f};
    uint8_t horizontalSubsampling_ = 1;
    uint8_t verticalSubsampling_ = 1;
    std::vector<int32_t> crToRed_, cbToBlue_, crToGreen_, cbToGreen_;
    ColorScheme sourceScheme_ = ColorScheme::RGB;
    ColorScheme targetScheme_ = ColorScheme::BGR;
    TRowConverter RowConverter = nullptr;
    RowKind rowKind_ = RowKind::None;
};
