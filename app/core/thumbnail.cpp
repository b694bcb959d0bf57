#include "app/core/thumbnail.h"

#include <cmath>
#include <cstring>

#include "imageops/resample.h"

ThumbnailPlacement FitThumbnail(int width, int height, int boxWidth, int boxHeight) {
    ThumbnailPlacement p;
    if (width <= 0 || height <= 0 || boxWidth <= 0 || boxHeight <= 0) return p;
    // The ratios are doubles; the products and quotients are long double, truncated. This is
    // what makes a 4:3 picture 63 x 48 rather than 64 x 48.
    const double box = double(boxWidth) / double(boxHeight);
    const double own = double(width) / double(height);
    if (box >= own) {
        p.Height = boxHeight;
        p.Width = static_cast<int>(static_cast<long double>(boxHeight) * static_cast<long double>(own));
    } else {
        p.Width = boxWidth;
        p.Height = static_cast<int>(static_cast<long double>(boxWidth) / static_cast<long double>(own));
    }
    p.Left = boxWidth > p.Width ? (boxWidth - p.Width) / 2 : 0;
    p.Top = boxHeight > p.Height ? (boxHeight - p.Height) / 2 : 0;
    return p;
}

namespace {
// Nearest pixel: column x of the cell takes source column x * W / w. Only for a fitted side
// of one pixel, which the resampler cannot make from a longer one.
void StretchNearest(const TBitmap& bitmap, TBitmap& thumb, const ThumbnailPlacement& p) {
    const int64_t srcW = bitmap.Width(), srcH = bitmap.Height();
    for (int y = 0; y < p.Height; ++y) {
        const int sy = static_cast<int>(int64_t(y) * srcH / p.Height);
        uint8_t* out = thumb.ScanLine(p.Top + y) + size_t(p.Left) * 3;
        for (int x = 0; x < p.Width; ++x) {
            const TColor c = bitmap.Pixel(static_cast<int>(int64_t(x) * srcW / p.Width), sy);
            out[x * 3] = GetBValue(c);
            out[x * 3 + 1] = GetGValue(c);
            out[x * 3 + 2] = GetRValue(c);
        }
    }
}
}  // namespace

ThumbnailCell ThumbnailCellFor(double devicePixelRatio) {
    // A ratio below 1 or absurdly high (a broken screen report) keeps the plain cell.
    if (!(devicePixelRatio > 1.0) || devicePixelRatio > 8.0) return {kThumbnailWidth, kThumbnailHeight};
    return {static_cast<int>(std::lround(kThumbnailWidth * devicePixelRatio)),
            static_cast<int>(std::lround(kThumbnailHeight * devicePixelRatio))};
}

TBitmap MakeThumbnail(const TBitmap& bitmap, int boxWidth, int boxHeight) {
    TBitmap thumb(boxWidth, boxHeight, TPixelFormat::pf24bit);
    thumb.FillRect(Rect(0, 0, boxWidth, boxHeight), clWhite);
    const ThumbnailPlacement p = FitThumbnail(bitmap.Width(), bitmap.Height(), boxWidth, boxHeight);
    if (p.Width <= 0 || p.Height <= 0) return thumb;
    const bool oneWide = (p.Width == 1 && bitmap.Width() > 1) || (p.Height == 1 && bitmap.Height() > 1);
    if (oneWide) {
        StretchNearest(bitmap, thumb, p);
        return thumb;
    }
    // Averaged with the box filter, so that a shrunken photo is smooth rather than a pick of
    // every n-th pixel. The resampler changes only a source that is not 24-bit yet, so a
    // 24-bit one (what the pipeline hands over) is read in place.
    TBitmap copy;
    TBitmap* source = const_cast<TBitmap*>(&bitmap);
    if (bitmap.PixelFormat() != TPixelFormat::pf24bit) {
        copy = bitmap;
        source = &copy;
    }
    TBitmap fitted(p.Width, p.Height, TPixelFormat::pf24bit);
    const FilterEntry& box = FilterTable[0];
    ResampleBitmap(*source, fitted, box.kernel, box.support);
    const size_t rowBytes = size_t(p.Width) * 3;
    for (int y = 0; y < p.Height; ++y)
        std::memcpy(thumb.ScanLine(p.Top + y) + size_t(p.Left) * 3, fitted.ScanLine(y), rowBytes);
    return thumb;
}
