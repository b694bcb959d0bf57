#include "dialogs/bitmap_image.h"

#include "graphics/bitmap.h"

QImage BitmapToQImage(const TBitmap& bitmap) {
    if (bitmap.Width() <= 0 || bitmap.Height() <= 0) return {};
    if (bitmap.PixelFormat() != TPixelFormat::pf24bit) {
        TBitmap copy(bitmap);
        copy.SetPixelFormat(TPixelFormat::pf24bit);
        return BitmapToQImage(copy);
    }
    // Rows are top-down, B,G,R bytes, padded to 4 bytes: exactly QImage's BGR888 layout.
    const QImage view(bitmap.Bits(), bitmap.Width(), bitmap.Height(), qsizetype(bitmap.RowStride()),
                      QImage::Format_BGR888);
    return view.copy();
}
