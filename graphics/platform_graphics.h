#pragma once
// The toolkit's other picture classes: icons, metafiles and the generic loader for file
// names without an extension.
#include "graphics/bitmap.h"

// Windows icons: the DIB image of the best entry.
class TIcon : public TBitmap {
    IMBRIX_GRAPHIC_CLASS()
public:
    void ReadPicture(TStream& stream) override;
    bool CanWrite() const override { return false; }
    void WritePicture(TStream& stream) override { TGraphic::WritePicture(stream); }
};

// Windows metafiles and enhanced metafiles: vector pictures we cannot render.
class TMetafile : public TBitmap {
    IMBRIX_GRAPHIC_CLASS()
public:
    void ReadPicture(TStream& stream) override;
    bool CanWrite() const override { return false; }
    void WritePicture(TStream& stream) override { TGraphic::WritePicture(stream); }
};

// The generic loader chosen for file names without an extension.
class TOleGraphic : public TBitmap {
    IMBRIX_GRAPHIC_CLASS()
public:
    void ReadPicture(TStream& stream) override;
    bool CanWrite() const override { return false; }
    void WritePicture(TStream& stream) override { TGraphic::WritePicture(stream); }
};
