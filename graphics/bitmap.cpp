#include "graphics/bitmap.h"

#include <algorithm>
#include <cstring>

#include "graphics/bmp_codec.h"
#include "graphics/errors.h"
#include "graphics/size_check.h"

IMBRIX_DEFINE_GRAPHIC_CLASS(TBitmap, TGraphic);

int BitsPerPixel(TPixelFormat format) {
    switch (format) {
        case TPixelFormat::pf1bit: return 1;
        case TPixelFormat::pf4bit: return 4;
        case TPixelFormat::pf8bit: return 8;
        case TPixelFormat::pf15bit:
        case TPixelFormat::pf16bit: return 16;
        case TPixelFormat::pf32bit:
        case TPixelFormat::pfCustom: return 32;
        case TPixelFormat::pfDevice:
        case TPixelFormat::pf24bit: return 24;
    }
    return 24;
}

size_t BytesPerScanline(int width, int bitsPerPixel) {
    return static_cast<size_t>(CheckPictureSize(width, 1, bitsPerPixel, 4));
}

namespace {
bool IsIndexed(TPixelFormat f) {
    return f == TPixelFormat::pf1bit || f == TPixelFormat::pf4bit || f == TPixelFormat::pf8bit;
}

const TRGBQuad kStandard16[16] = {
    {0, 0, 0, 0},       {0, 0, 128, 0},     {0, 128, 0, 0},   {0, 128, 128, 0},
    {128, 0, 0, 0},     {128, 0, 128, 0},   {128, 128, 0, 0}, {192, 192, 192, 0},
    {128, 128, 128, 0}, {0, 0, 255, 0},     {0, 255, 0, 0},   {0, 255, 255, 0},
    {255, 0, 0, 0},     {255, 0, 255, 0},   {255, 255, 0, 0}, {255, 255, 255, 0},
};

uint8_t Expand5(unsigned v) { return static_cast<uint8_t>((v << 3) | (v >> 2)); }
uint8_t Expand6(unsigned v) { return static_cast<uint8_t>((v << 2) | (v >> 4)); }

// Reads row y of any format as blue, green, red, alpha quads.
void RowToBGRA(const TBitmap& bmp, int y, uint8_t* out) {
    const uint8_t* row = bmp.ScanLine(y);
    const int w = bmp.Width();
    const auto& pal = bmp.Palette();
    auto fromIndex = [&](unsigned index, uint8_t* o) {
        if (index < pal.size()) {
            o[0] = pal[index].rgbBlue;
            o[1] = pal[index].rgbGreen;
            o[2] = pal[index].rgbRed;
        } else {
            o[0] = o[1] = o[2] = 0;
        }
        o[3] = 255;
    };
    switch (bmp.PixelFormat()) {
        case TPixelFormat::pf1bit:
            for (int x = 0; x < w; ++x) fromIndex((row[x >> 3] >> (7 - (x & 7))) & 1, out + 4 * x);
            break;
        case TPixelFormat::pf4bit:
            for (int x = 0; x < w; ++x) fromIndex((row[x >> 1] >> ((x & 1) ? 0 : 4)) & 15, out + 4 * x);
            break;
        case TPixelFormat::pf8bit:
            for (int x = 0; x < w; ++x) fromIndex(row[x], out + 4 * x);
            break;
        case TPixelFormat::pf15bit:
            for (int x = 0; x < w; ++x) {
                const unsigned v = row[2 * x] | (row[2 * x + 1] << 8);
                out[4 * x] = Expand5(v & 31);
                out[4 * x + 1] = Expand5((v >> 5) & 31);
                out[4 * x + 2] = Expand5((v >> 10) & 31);
                out[4 * x + 3] = 255;
            }
            break;
        case TPixelFormat::pf16bit:
            for (int x = 0; x < w; ++x) {
                const unsigned v = row[2 * x] | (row[2 * x + 1] << 8);
                out[4 * x] = Expand5(v & 31);
                out[4 * x + 1] = Expand6((v >> 5) & 63);
                out[4 * x + 2] = Expand5((v >> 11) & 31);
                out[4 * x + 3] = 255;
            }
            break;
        case TPixelFormat::pf32bit:
        case TPixelFormat::pfCustom:
            std::memcpy(out, row, static_cast<size_t>(w) * 4);
            if (!bmp.AlphaMeaningful)
                for (int x = 0; x < w; ++x) out[4 * x + 3] = 255;
            break;
        case TPixelFormat::pfDevice:
        case TPixelFormat::pf24bit:
            for (int x = 0; x < w; ++x) {
                out[4 * x] = row[3 * x];
                out[4 * x + 1] = row[3 * x + 1];
                out[4 * x + 2] = row[3 * x + 2];
                out[4 * x + 3] = 255;
            }
            break;
    }
}
}  // namespace

std::vector<TRGBQuad> DefaultPalette(int bitsPerPixel) {
    if (bitsPerPixel == 1) return {TRGBQuad{0, 0, 0, 0}, TRGBQuad{255, 255, 255, 0}};
    std::vector<TRGBQuad> pal(std::begin(kStandard16), std::end(kStandard16));
    if (bitsPerPixel == 4) return pal;
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b)
                pal.push_back(TRGBQuad{uint8_t(b * 51), uint8_t(g * 51), uint8_t(r * 51), 0});
    for (int i = 0; pal.size() < 256; ++i) {
        const uint8_t v = static_cast<uint8_t>(8 + i * 10);
        pal.push_back(TRGBQuad{v, v, v, 0});
    }
    return pal;
}

uint8_t NearestPaletteIndex(const std::vector<TRGBQuad>& palette, TColor color) {
    int best = 0;
    long bestDistance = -1;
    for (size_t i = 0; i < palette.size() && i < 256; ++i) {
        const long dr = long(palette[i].rgbRed) - GetRValue(color);
        const long dg = long(palette[i].rgbGreen) - GetGValue(color);
        const long db = long(palette[i].rgbBlue) - GetBValue(color);
        const long d = dr * dr + dg * dg + db * db;
        if (bestDistance < 0 || d < bestDistance) {
            bestDistance = d;
            best = static_cast<int>(i);
            if (d == 0) break;
        }
    }
    return static_cast<uint8_t>(best);
}

TBitmap::TBitmap(int width, int height, TPixelFormat format) {
    format_ = format;
    SetSize(width, height);
}

void TBitmap::Allocate(int width, int height, TPixelFormat format) {
    // Empty until the new pixels exist: a size that is refused, or memory that runs out,
    // leaves a 0 x 0 bitmap, never old dimensions over missing pixels.
    Clear();
    const int bits = ::BitsPerPixel(format);
    const uint64_t total = CheckPictureSize(width, height, bits, 4);
    const size_t stride = width > 0 ? static_cast<size_t>(CheckPictureSize(width, 1, bits, 4)) : 0;
    pixels_ = PixelStore(static_cast<size_t>(total));
    width_ = width;
    height_ = height;
    format_ = format;
    stride_ = stride;
    // Row padding is never drawn on; keep it zero so whole rows written to a file are
    // deterministic.
    const size_t used = (size_t(width) * size_t(bits) + 7) / 8;
    if (used < stride_)
        for (int y = 0; y < height; ++y) std::memset(pixels_.data() + size_t(y) * stride_ + used, 0, stride_ - used);
}

void TBitmap::SetSizeForOverwrite(int width, int height) {
    if (width < 0 || height < 0) throw EInvalidGraphic("Invalid bitmap size");
    if (IsIndexed(format_) && palette_.empty()) palette_ = DefaultPalette(BitsPerPixel());
    pixels_ = PixelStore();
    Allocate(width, height, format_);
}

uint8_t TBitmap::WhiteIndex() const { return NearestPaletteIndex(palette_, clWhite); }

std::unique_ptr<TBitmap> TBitmap::TakePlainBitmap() {
    if (format_ != TPixelFormat::pf24bit || Transparent || AlphaMeaningful) return nullptr;
    auto taken = std::make_unique<TBitmap>(std::move(*this));
    *this = TBitmap();  // a moved-from bitmap would keep its size without its pixels
    return taken;
}

std::unique_ptr<TBitmap> TBitmap::TakeBlendedOntoWhite() {
    if (format_ != TPixelFormat::pf32bit || Transparent || pixels_.empty()) return nullptr;
    // Row by row, left to right: a pixel's three bytes land at or before its four, so nothing
    // is overwritten before it is read, and a row never reaches the next one's source.
    const size_t stride24 = BytesPerScanline(width_, 24);
    const size_t used = size_t(width_) * 3;
    const bool blend = AlphaMeaningful;
    uint8_t* base = pixels_.data();
    for (int y = 0; y < height_; ++y) {
        const uint8_t* in = base + size_t(y) * stride_;
        uint8_t* out = base + size_t(y) * stride24;
        for (int x = 0; x < width_; ++x, in += 4, out += 3) {
            uint8_t b = in[0], g = in[1], r = in[2];
            const unsigned a = in[3];
            if (blend && a != 255) {
                // The mix Draw applies over a white pixel.
                auto mix = [a](unsigned fg) { return static_cast<uint8_t>((fg * a + 255 * (255 - a) + 127) / 255); };
                b = mix(b);
                g = mix(g);
                r = mix(r);
            }
            out[0] = b;
            out[1] = g;
            out[2] = r;
        }
        if (used < stride24) std::memset(base + size_t(y) * stride24 + used, 0, stride24 - used);
    }
    pixels_.Shrink(stride24 * size_t(height_));
    auto taken = std::make_unique<TBitmap>();
    taken->width_ = width_;
    taken->height_ = height_;
    taken->format_ = TPixelFormat::pf24bit;
    taken->stride_ = stride24;
    taken->pixels_ = std::move(pixels_);
    *this = TBitmap();
    return taken;
}

void TBitmap::SetSize(int width, int height) {
    if (width == width_ && height == height_ && (!pixels_.empty() || width == 0 || height == 0)) return;
    if (width < 0 || height < 0) throw EInvalidGraphic("Invalid bitmap size");
    if (IsIndexed(format_) && palette_.empty()) palette_ = DefaultPalette(BitsPerPixel());
    TBitmap old = std::move(*this);
    palette_ = old.palette_;
    transparentColor_ = old.transparentColor_;
    Transparent = old.Transparent;
    AlphaMeaningful = old.AlphaMeaningful;
    OnProgress = old.OnProgress;
    Allocate(width, height, old.format_);
    FillRect(Rect(0, 0, width, height), clWhite);
    const int keepRows = std::min(height, old.height_);
    const size_t keepBytes = std::min(stride_, old.stride_);
    const int keepWidth = std::min(width, old.width_);
    for (int y = 0; y < keepRows; ++y) {
        if (width >= old.width_) {
            std::memcpy(ScanLine(y), old.ScanLine(y), std::min(keepBytes, (size_t(old.width_) * BitsPerPixel() + 7) / 8));
            // Re-whiten the partly kept byte of packed formats beyond the old width.
            for (int x = old.width_; x < width && BitsPerPixel() < 8; ++x) SetPixel(x, y, clWhite);
        } else {
            for (int x = 0; x < keepWidth; ++x) SetRawPixel(x, y, old.RawPixel(x, y));
        }
    }
}

void TBitmap::Clear() {
    width_ = height_ = 0;
    stride_ = 0;
    pixels_ = PixelStore();
}

uint8_t* TBitmap::ScanLine(int row) {
    if (row < 0 || row >= height_) throw EInvalidGraphicOperation("Scan line index out of range");
    return pixels_.data() + static_cast<size_t>(row) * stride_;
}

const uint8_t* TBitmap::ScanLine(int row) const {
    if (row < 0 || row >= height_) throw EInvalidGraphicOperation("Scan line index out of range");
    return pixels_.data() + static_cast<size_t>(row) * stride_;
}

void TBitmap::SetPalette(std::vector<TRGBQuad> palette) {
    if (IsIndexed(format_) && palette.size() > (size_t(1) << BitsPerPixel()))
        palette.resize(size_t(1) << BitsPerPixel());
    palette_ = std::move(palette);
}

uint32_t TBitmap::RawPixel(int x, int y) const {
    if (x < 0 || x >= width_) throw ERangeError();
    const uint8_t* row = ScanLine(y);
    switch (format_) {
        case TPixelFormat::pf1bit: return (row[x >> 3] >> (7 - (x & 7))) & 1;
        case TPixelFormat::pf4bit: return (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 15;
        case TPixelFormat::pf8bit: return row[x];
        case TPixelFormat::pf15bit:
        case TPixelFormat::pf16bit: return row[2 * x] | (row[2 * x + 1] << 8);
        case TPixelFormat::pf32bit:
        case TPixelFormat::pfCustom:
            return uint32_t(row[4 * x]) | (uint32_t(row[4 * x + 1]) << 8) | (uint32_t(row[4 * x + 2]) << 16) |
                   (uint32_t(row[4 * x + 3]) << 24);
        default: return uint32_t(row[3 * x]) | (uint32_t(row[3 * x + 1]) << 8) | (uint32_t(row[3 * x + 2]) << 16);
    }
}

void TBitmap::SetRawPixel(int x, int y, uint32_t v) {
    if (x < 0 || x >= width_) throw ERangeError();
    uint8_t* row = ScanLine(y);
    switch (format_) {
        case TPixelFormat::pf1bit: {
            const uint8_t mask = static_cast<uint8_t>(0x80 >> (x & 7));
            row[x >> 3] = static_cast<uint8_t>((v & 1) ? (row[x >> 3] | mask) : (row[x >> 3] & ~mask));
            break;
        }
        case TPixelFormat::pf4bit: {
            uint8_t& b = row[x >> 1];
            b = (x & 1) ? static_cast<uint8_t>((b & 0xF0) | (v & 15)) : static_cast<uint8_t>((b & 0x0F) | ((v & 15) << 4));
            break;
        }
        case TPixelFormat::pf8bit: row[x] = static_cast<uint8_t>(v); break;
        case TPixelFormat::pf15bit:
        case TPixelFormat::pf16bit:
            row[2 * x] = static_cast<uint8_t>(v);
            row[2 * x + 1] = static_cast<uint8_t>(v >> 8);
            break;
        case TPixelFormat::pf32bit:
        case TPixelFormat::pfCustom:
            for (int i = 0; i < 4; ++i) row[4 * x + i] = static_cast<uint8_t>(v >> (8 * i));
            break;
        default:
            for (int i = 0; i < 3; ++i) row[3 * x + i] = static_cast<uint8_t>(v >> (8 * i));
    }
}

TColor TBitmap::Pixel(int x, int y) const {
    const uint32_t v = RawPixel(x, y);
    switch (format_) {
        case TPixelFormat::pf1bit:
        case TPixelFormat::pf4bit:
        case TPixelFormat::pf8bit:
            return v < palette_.size() ? QuadToColor(palette_[v]) : clBlack;
        case TPixelFormat::pf15bit: return RGBColor(Expand5((v >> 10) & 31), Expand5((v >> 5) & 31), Expand5(v & 31));
        case TPixelFormat::pf16bit: return RGBColor(Expand5((v >> 11) & 31), Expand6((v >> 5) & 63), Expand5(v & 31));
        default: return RGBColor(uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v));
    }
}

void TBitmap::SetPixel(int x, int y, TColor c) {
    const unsigned r = GetRValue(c), g = GetGValue(c), b = GetBValue(c);
    switch (format_) {
        case TPixelFormat::pf1bit:
        case TPixelFormat::pf4bit:
        case TPixelFormat::pf8bit: SetRawPixel(x, y, NearestPaletteIndex(palette_, c)); break;
        case TPixelFormat::pf15bit: SetRawPixel(x, y, ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3)); break;
        case TPixelFormat::pf16bit: SetRawPixel(x, y, ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3)); break;
        case TPixelFormat::pf32bit:
        case TPixelFormat::pfCustom: SetRawPixel(x, y, b | (g << 8) | (r << 16) | 0xFF000000u); break;
        default: SetRawPixel(x, y, b | (g << 8) | (r << 16));
    }
}

void TBitmap::FillRect(const TRect& rect, TColor color) {
    const int left = std::max(rect.Left, 0), right = std::min(rect.Right, width_);
    const int top = std::max(rect.Top, 0), bottom = std::min(rect.Bottom, height_);
    if (left >= right || top >= bottom) return;
    if (format_ == TPixelFormat::pf24bit || format_ == TPixelFormat::pfDevice) {
        const uint8_t bgr[3] = {GetBValue(color), GetGValue(color), GetRValue(color)};
        for (int y = top; y < bottom; ++y) {
            uint8_t* p = ScanLine(y) + 3 * left;
            for (int x = left; x < right; ++x, p += 3) std::memcpy(p, bgr, 3);
        }
        return;
    }
    if (IsIndexed(format_) && palette_.empty()) palette_ = DefaultPalette(BitsPerPixel());
    if (format_ == TPixelFormat::pf8bit) {
        // One palette search for the whole rectangle, not one per pixel.
        const uint8_t index = NearestPaletteIndex(palette_, color);
        for (int y = top; y < bottom; ++y) std::memset(ScanLine(y) + left, index, size_t(right - left));
        return;
    }
    if (format_ == TPixelFormat::pf1bit || format_ == TPixelFormat::pf4bit) {
        // Same for packed pixels: one search, whole bytes where the rectangle covers them (a
        // new 10000 x 10000 picture took seconds pixel by pixel).
        const uint32_t index = NearestPaletteIndex(palette_, color);
        const int perByte = format_ == TPixelFormat::pf1bit ? 8 : 2;
        const uint8_t pattern = format_ == TPixelFormat::pf1bit ? ((index & 1) ? 0xFF : 0x00) : uint8_t((index & 15) * 0x11);
        const int firstWhole = (left + perByte - 1) / perByte, endWhole = right / perByte;
        for (int y = top; y < bottom; ++y) {
            if (firstWhole >= endWhole) {
                for (int x = left; x < right; ++x) SetRawPixel(x, y, index);
                continue;
            }
            std::memset(ScanLine(y) + firstWhole, pattern, size_t(endWhole - firstWhole));
            for (int x = left; x < firstWhole * perByte; ++x) SetRawPixel(x, y, index);
            for (int x = endWhole * perByte; x < right; ++x) SetRawPixel(x, y, index);
        }
        return;
    }
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x) SetPixel(x, y, color);
}

void TBitmap::SetPixelFormat(TPixelFormat format) {
    if (format == TPixelFormat::pfDevice) format = TPixelFormat::pf24bit;
    if (format == format_) return;
    if (format == TPixelFormat::pfCustom) throw EInvalidGraphicOperation("Cannot convert to a custom pixel format");
    TBitmap converted;
    converted.format_ = format;
    if (IsIndexed(format)) {
        const size_t capacity = size_t(1) << ::BitsPerPixel(format);
        converted.palette_ = (IsIndexed(format_) && palette_.size() <= capacity && !palette_.empty())
                                 ? palette_
                                 : DefaultPalette(::BitsPerPixel(format));
    }
    converted.Allocate(width_, height_, format);
    std::vector<uint8_t> row(static_cast<size_t>(width_) * 4);
    for (int y = 0; y < height_; ++y) {
        RowToBGRA(*this, y, row.data());
        uint8_t* out = converted.ScanLine(y);
        if (format == TPixelFormat::pf24bit) {
            for (int x = 0; x < width_; ++x) std::memcpy(out + 3 * x, &row[4 * x], 3);
        } else if (format == TPixelFormat::pf32bit) {
            // A 0-wide bitmap has rows but no row memory: memcpy must not see its null pointers.
            if (!row.empty()) std::memcpy(out, row.data(), row.size());
        } else {
            for (int x = 0; x < width_; ++x)
                converted.SetPixel(x, y, RGBColor(row[4 * x + 2], row[4 * x + 1], row[4 * x]));
        }
    }
    palette_ = std::move(converted.palette_);
    pixels_ = std::move(converted.pixels_);
    stride_ = converted.stride_;
    format_ = format;
    if (format != TPixelFormat::pf32bit) AlphaMeaningful = false;
}

TColor TBitmap::TransparentColor() const {
    if (transparentColor_ != NoColor) return transparentColor_ & 0xFFFFFF;
    if (Empty()) return clBlack;
    return Pixel(0, height_ - 1);
}

void TBitmap::Draw(TBitmap& target, const TRect& rect) {
    if (Empty() || rect.Width() <= 0 || rect.Height() <= 0) return;
    const int left = std::max(rect.Left, 0), right = std::min(rect.Right, target.Width());
    const int top = std::max(rect.Top, 0), bottom = std::min(rect.Bottom, target.Height());
    if (left >= right || top >= bottom) return;

    const bool sameSize = rect.Width() == width_ && rect.Height() == height_;
    const bool plain24 = (format_ == TPixelFormat::pf24bit || format_ == TPixelFormat::pfDevice) &&
                         target.format_ == TPixelFormat::pf24bit && !Transparent;
    // Nearest source column for every target column of the rectangle.
    std::vector<int> sourceX(static_cast<size_t>(right - left));
    for (int x = left; x < right; ++x)
        sourceX[x - left] = static_cast<int>(int64_t(x - rect.Left) * width_ / rect.Width());

    const bool keyed = Transparent;
    const TColor key = keyed ? TransparentColor() : 0;
    const bool blend = AlphaMeaningful && format_ == TPixelFormat::pf32bit;
    std::vector<uint8_t> row(static_cast<size_t>(width_) * 4);
    int cachedY = -1;
    for (int y = top; y < bottom; ++y) {
        const int sy = static_cast<int>(int64_t(y - rect.Top) * height_ / rect.Height());
        if (plain24 && sameSize) {
            std::memcpy(target.ScanLine(y) + 3 * left, ScanLine(sy) + 3 * sourceX[0], size_t(right - left) * 3);
            continue;
        }
        if (sy != cachedY) {
            RowToBGRA(*this, sy, row.data());
            cachedY = sy;
        }
        uint8_t* out = target.format_ == TPixelFormat::pf24bit ? target.ScanLine(y) : nullptr;
        for (int x = left; x < right; ++x) {
            const uint8_t* s = &row[4 * size_t(sourceX[x - left])];
            uint8_t b = s[0], g = s[1], r = s[2];
            if (keyed && RGBColor(r, g, b) == key) continue;
            if (blend && s[3] != 255) {
                const TColor under = target.Pixel(x, y);
                const unsigned a = s[3];
                auto mix = [a](unsigned fg, unsigned bg) {
                    return static_cast<uint8_t>((fg * a + bg * (255 - a) + 127) / 255);
                };
                b = mix(b, GetBValue(under));
                g = mix(g, GetGValue(under));
                r = mix(r, GetRValue(under));
            }
            if (out) {
                out[3 * x] = b;
                out[3 * x + 1] = g;
                out[3 * x + 2] = r;
            } else {
                target.SetPixel(x, y, RGBColor(r, g, b));
            }
        }
    }
}

void TBitmap::ReadPicture(TStream& stream) { ReadBitmapFile(stream, *this); }

void TBitmap::WritePicture(TStream& stream) { WriteBitmapFile24(stream, *this); }
