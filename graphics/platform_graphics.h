#pragma once
// The toolkit's other picture classes: icons and metafiles. The generic loader for file names
// without an extension is TOleGraphic in readers/ole_graphic.h, since it uses the readers' probes.
#include "graphics/bitmap.h"

#include <span>

// Decodes an icon entry stored as PNG into a bitmap. graphics/ has no PNG reader of its own;
// the picture format registration sets this, and without it such entries stay unsupported.
using TIconPngDecoder = void (*)(std::span<const uint8_t> data, TBitmap& bitmap);
void SetIconPngDecoder(TIconPngDecoder decoder);

// Windows icons: the DIB image of the best entry.
class TIcon : public TBitmap {
    IMBRIX_GRAPHIC_CLASS()
public:
    void ReadPicture(TStream& stream) override;
    bool CanWrite() const override { return false; }
    void WritePicture(TStream& stream) override { TGraphic::WritePicture(stream); }
};

// Plays a Windows metafile (placeable or not) or an enhanced metafile into a bitmap of its
// frame size. graphics/ has no drawing engine of its own; the metafile layer installs its
// player at start-up, and without one metafiles stay unsupported.
using TMetafilePlayer = TBitmap (*)(std::span<const uint8_t> data);
void SetMetafilePlayer(TMetafilePlayer player);
TMetafilePlayer CurrentMetafilePlayer();

// Windows metafiles and enhanced metafiles, drawn by the installed player on white.
class TMetafile : public TBitmap {
    IMBRIX_GRAPHIC_CLASS()
public:
    void ReadPicture(TStream& stream) override;
    bool CanWrite() const override { return false; }
    void WritePicture(TStream& stream) override { TGraphic::WritePicture(stream); }
};
