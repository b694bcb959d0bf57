#include "graphics/picture_to_bitmap.h"

std::unique_ptr<TBitmap> PictureToBitmap(TGraphic& picture) {
    const int w = picture.Width(), h = picture.Height();
    auto bitmap = std::make_unique<TBitmap>(w, h, TPixelFormat::pf24bit);  // starts white
    if (w > 0 && h > 0) picture.Draw(*bitmap, Rect(0, 0, w, h));
    return bitmap;
}

std::unique_ptr<TBitmap> PictureToBitmap(std::unique_ptr<TGraphic> picture) {
    if (std::unique_ptr<TBitmap> plain = picture->TakePlainBitmap()) return plain;
    return PictureToBitmap(*picture);
}
