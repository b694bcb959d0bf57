#pragma once
// Converting pictures from the ICC profile their file embeds to sRGB, with LittleCMS 2.
//
// A reader keeps the profile bytes of its file on the graphic it makes (TGraphic::IccProfile,
// the profile of the pixels its Draw gives); the pipeline, the thumbnails and the viewer then
// call ConvertToSRGB on the working bitmap before anything is resampled. Nothing here knows
// any file format, and graphics/ stays free of LittleCMS.
#include <cstdint>
#include <memory>
#include <span>
#include <string>

class MatrixShaperToSRGB;
class TBitmap;
enum class TPixelFormat;

// A LittleCMS transform kept with the context it was made in, which must outlive it: both
// end together.
class KeptTransform {
public:
    KeptTransform() = default;
    ~KeptTransform();
    KeptTransform(const KeptTransform&) = delete;
    KeptTransform& operator=(const KeptTransform&) = delete;
    void* context = nullptr;
    void* transform = nullptr;
};

enum class ProfileOutcome {
    NoProfile,    // nothing to do
    AlreadySRGB,  // the profile is sRGB (or converts to sRGB as itself): every byte kept
    Converted,    // the pixels are sRGB now
    Unusable,     // the profile could not be read or used: every byte kept, *problem says why
};

// Converts a 24-bit (blue, green, red) or 32-bit (and alpha, kept as it is) bitmap in place
// from the colour space the profile describes to sRGB, perceptual intent. RGB profiles convert
// each pixel; gray ones map each channel through the gray curve, so gray pixels stay gray.
// Other pixel formats, and profiles of other colour spaces (a CMYK profile on RGB pixels),
// are Unusable.
ProfileOutcome ConvertToSRGB(TBitmap& bitmap, std::span<const uint8_t> profile, std::string* problem = nullptr,
                             int threads = 0);

// The same conversion made once and then used row by row (by several threads at once if need
// be), for pixels that arrive a row at a time: every row comes out as ConvertToSRGB gives it.
class RowsToSRGB {
public:
    // Null, with *outcome saying why, when no conversion is needed (NoProfile, AlreadySRGB) or
    // none can be made (Unusable, the reason in *problem).
    static std::unique_ptr<RowsToSRGB> Create(std::span<const uint8_t> profile, TPixelFormat format,
                                              ProfileOutcome* outcome, std::string* problem = nullptr);
    ~RowsToSRGB();
    RowsToSRGB(const RowsToSRGB&) = delete;
    RowsToSRGB& operator=(const RowsToSRGB&) = delete;
    // width pixels of the format given to Create, in place.
    void Row(uint8_t* pixels, int width) const;

private:
    RowsToSRGB() = default;
    int step_ = 3;
    // One of the three, by the profile: a level table per channel (gray), the matrix and
    // curves, or LittleCMS's own transform.
    std::unique_ptr<uint8_t[]> grayLevels_;
    std::unique_ptr<MatrixShaperToSRGB> matrixShaper_;
    KeptTransform lcms_;
};

// Whether the profile converts to sRGB as itself: within one level on a grid of colours.
bool IsSRGBProfile(std::span<const uint8_t> profile);

// CMYK samples through a CMYK profile to sRGB, for pictures stored as inks. `inverted` is
// Adobe's convention (0 means full ink).
class CmykToSRGB {
public:
    // nullptr, with the reason in *problem, when the profile is not a usable CMYK profile.
    static std::unique_ptr<CmykToSRGB> Create(std::span<const uint8_t> profile, bool inverted, std::string* problem);
    ~CmykToSRGB();
    CmykToSRGB(const CmykToSRGB&) = delete;
    CmykToSRGB& operator=(const CmykToSRGB&) = delete;
    // width pixels of 4 samples to width pixels of blue, green, red.
    void Row(const uint8_t* cmyk, uint8_t* bgr, int width) const;

private:
    CmykToSRGB() = default;
    KeptTransform lcms_;
};
