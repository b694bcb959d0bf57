#pragma once
// TAutodeskGraphic: Autodesk Animator CEL and PIC pictures (8-bit indexed, uncompressed,
// a 6-bit palette).
#include "readers/graphic_reader.h"

class TAutodeskGraphic final : public TGraphicReader {
    IMBRIX_READER_CLASS()
public:
    // More than 32 bytes left, magic 9119h, 8 bits per pixel, compression 0; position kept.
    static bool ProbeStream(TStream& stream);
    bool ReadProperties(TStream& stream, unsigned imageIndex) override;
    void ReadPicture(TStream& stream) override;
};
