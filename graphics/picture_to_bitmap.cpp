#include "graphics/picture_to_bitmap.h"

std::unique_ptr<TBitmap> PictureToBitmap(TGraphic& picture) {
    const int w = picture.Width(), h = picture.Height();
    auto bitmap = std::make_unique<TBitmap>(w, h, TPixelFormat::pf24bit);  // starts white
    if (w > 0 && h > 0) picture.Draw(*bitmap, Rect(0, 0, w, h));
    return bitmap;
}

std::unique_ptr<TBitmap> PictureToBitmap(std::unique_ptr<TGraphic> picture) {
    if (std::unique_ptr<TBitmap> plain = picture->TakePlainBitmap()) return plain;
    // Bitmaps (every reader's picture among them) draw with TBitmap::Draw: a 32-bit one is
    // blended onto white where it lies rather than beside a second full-size bitmap.
    if (auto* bitmap = dynamic_cast<TBitmap*>(picture.get()))
        if (std::unique_ptr<TBitmap> blended = bitmap->TakeBlendedOntoWhite()) return blended;
    return PictureToBitmap(*picture);
}
