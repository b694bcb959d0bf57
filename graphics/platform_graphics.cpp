#include "graphics/platform_graphics.h"

#include "graphics/errors.h"

IMBRIX_DEFINE_GRAPHIC_CLASS(TIcon, TBitmap);
IMBRIX_DEFINE_GRAPHIC_CLASS(TMetafile, TBitmap);
IMBRIX_DEFINE_GRAPHIC_CLASS(TOleGraphic, TBitmap);

void TIcon::ReadPicture(TStream&) { throw EInvalidGraphic("Windows icons cannot be read yet"); }

void TMetafile::ReadPicture(TStream&) {
    throw EInvalidGraphic("Windows metafiles cannot be read: only raster pictures are supported");
}

void TOleGraphic::ReadPicture(TStream&) {
    throw EInvalidGraphic("Cannot tell the picture type of a file name without an extension");
}
