#pragma once
// TBitmap: the raster picture every other part draws into. Rows are top-down (row 0 on top),
// each padded to a multiple of 4 bytes; 24-bit pixels are blue, green, red bytes.
#include <cstdint>
#include <span>
#include <vector>

#include "graphics/graphic.h"
#include "graphics/pixel_store.h"

enum class TPixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom };

struct TRGBQuad {
    uint8_t rgbBlue = 0, rgbGreen = 0, rgbRed = 0, rgbReserved = 0;
    bool operator==(const TRGBQuad&) const = default;
};
inline TColor QuadToColor(const TRGBQuad& q) { return RGBColor(q.rgbRed, q.rgbGreen, q.rgbBlue); }
inline TRGBQuad ColorToQuad(TColor c) { return TRGBQuad{GetBValue(c), GetGValue(c), GetRValue(c), 0}; }

int BitsPerPixel(TPixelFormat format);
// Row size in bytes for a width, padded to 4 bytes; checked against the picture limits.
size_t BytesPerScanline(int width, int bitsPerPixel);

class TBitmap : public TGraphic {
    IMBRIX_GRAPHIC_CLASS()
public:
    TBitmap() = default;
    TBitmap(int width, int height, TPixelFormat format = TPixelFormat::pf24bit);
    TBitmap(const TBitmap&) = default;
    TBitmap(TBitmap&&) noexcept = default;
    TBitmap& operator=(TBitmap&&) noexcept = default;
    TBitmap& operator=(const TBitmap&) = default;

    std::unique_ptr<TBitmap> TakePlainBitmap() override;
    // For a 32-bit picture without a transparent colour: blends it onto white in its own
    // memory, as drawing it onto a new white 24-bit bitmap would, and hands over the 24-bit
    // result, leaving this bitmap empty. nullptr (and the bitmap untouched) for other formats.
    std::unique_ptr<TBitmap> TakeBlendedOntoWhite();

    int Width() const override { return width_; }
    int Height() const override { return height_; }
    // Keeps the pixels that stay inside; new pixels are white.
    void SetSize(int width, int height);
    void SetWidth(int width) { SetSize(width, height_); }
    void SetHeight(int height) { SetSize(width_, height); }
    // Drops the pixels and makes room for width x height pixels of the current format without
    // whitening them: for producers (decoders, rotation) that write every pixel themselves.
    void SetSizeForOverwrite(int width, int height);

    TPixelFormat PixelFormat() const { return format_; }
    // Converts the pixels in place (through the palette where there is one).
    void SetPixelFormat(TPixelFormat format);
    int BitsPerPixel() const { return ::BitsPerPixel(format_); }

    // Row access; a row outside 0..Height()-1 fails with "Scan line index out of range".
    uint8_t* ScanLine(int row);
    const uint8_t* ScanLine(int row) const;
    size_t RowStride() const { return stride_; }
    // All rows, top row first, RowStride() bytes each.
    uint8_t* Bits() { return pixels_.data(); }
    const uint8_t* Bits() const { return pixels_.data(); }

    // Palette of the indexed formats (at most 2^bits entries).
    const std::vector<TRGBQuad>& Palette() const { return palette_; }
    void SetPalette(std::vector<TRGBQuad> palette);

    TColor Pixel(int x, int y) const;
    void SetPixel(int x, int y, TColor color);
    // Palette index (indexed formats only) or packed value of a pixel.
    uint32_t RawPixel(int x, int y) const;
    void SetRawPixel(int x, int y, uint32_t value);

    void FillRect(const TRect& rect, TColor color);
    // Nearest-pixel stretch of a picture into rect (TGraphic::Draw of the picture).
    void StretchDraw(const TRect& rect, TGraphic& graphic) { graphic.Draw(*this, rect); }
    void Draw(TBitmap& target, const TRect& rect) override;

    bool Monochrome() const { return format_ == TPixelFormat::pf1bit; }
    // The transparent colour; NoColor means the colour of the bottom-left pixel.
    TColor TransparentColor() const;
    void SetTransparentColor(TColor color) { transparentColor_ = color; }
    // 32-bit pictures whose fourth byte is real alpha (set by readers); drawing blends.
    bool AlphaMeaningful = false;

    void ReadPicture(TStream& stream) override;
    bool CanWrite() const override { return true; }
    // Writes a Windows bitmap file with 24 bits per pixel.
    void WritePicture(TStream& stream) override;
    void AssignBitmap(TBitmap& source) override { *this = source; }

    // Frees the pixels and palette: an empty 0 x 0 bitmap of the same format.
    void Clear();

private:
    void Allocate(int width, int height, TPixelFormat format);
    uint8_t WhiteIndex() const;

    int width_ = 0;
    int height_ = 0;
    TPixelFormat format_ = TPixelFormat::pfDevice;
    size_t stride_ = 0;
    PixelStore pixels_;
    std::vector<TRGBQuad> palette_;
    TColor transparentColor_ = NoColor;
};

// The default palettes for indexed formats: black and white, the 16 standard colours,
// or 256 colours (the 16 standard ones, a 6 x 6 x 6 cube and grays).
std::vector<TRGBQuad> DefaultPalette(int bitsPerPixel);
// Index of the palette entry nearest to a colour (squared distance, first wins).
uint8_t NearestPaletteIndex(const std::vector<TRGBQuad>& palette, TColor color);
