#pragma once
// TTargaGraphic: Truevision Targa files, raw and run-length, colour-mapped, true-colour and
// gray. The file's pixel layouts are the bitmap's own, so rows are copied, not converted.
#include <cstdint>

#include "readers/graphic_reader.h"

class TTargaGraphic : public TGraphicReader {
    IMBRIX_READER_CLASS()
public:
    static bool ProbeStream(TStream& stream);
    bool ReadProperties(TStream& stream, unsigned imageIndex) override;
    void ReadPicture(TStream& stream) override;
};
