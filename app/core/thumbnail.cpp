#include "app/core/thumbnail.h"

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

TBitmap MakeThumbnail(const TBitmap& bitmap, int boxWidth, int boxHeight) {
    TBitmap thumb(boxWidth, boxHeight, TPixelFormat::pf24bit);
    thumb.FillRect(Rect(0, 0, boxWidth, boxHeight), clWhite);
    const ThumbnailPlacement p = FitThumbnail(bitmap.Width(), bitmap.Height(), boxWidth, boxHeight);
    if (p.Width <= 0 || p.Height <= 0) return thumb;
    // Nearest pixel: column x of the cell takes source column x * W / w.
    const int64_t srcW = bitmap.Width(), srcH = bitmap.Height();
    const int bpp = bitmap.BitsPerPixel();
    for (int y = 0; y < p.Height; ++y) {
        const int sy = static_cast<int>(int64_t(y) * srcH / p.Height);
        uint8_t* out = thumb.ScanLine(p.Top + y) + size_t(p.Left) * 3;
        if (bpp == 24) {
            const uint8_t* in = bitmap.ScanLine(sy);
            for (int x = 0; x < p.Width; ++x) {
                const size_t sx = size_t(int64_t(x) * srcW / p.Width) * 3;
                out[x * 3] = in[sx];
                out[x * 3 + 1] = in[sx + 1];
                out[x * 3 + 2] = in[sx + 2];
            }
        } else {
            for (int x = 0; x < p.Width; ++x) {
                const TColor c = bitmap.Pixel(static_cast<int>(int64_t(x) * srcW / p.Width), sy);
                out[x * 3] = GetBValue(c);
                out[x * 3 + 1] = GetGValue(c);
                out[x * 3 + 2] = GetRValue(c);
            }
        }
    }
    return thumb;
}
