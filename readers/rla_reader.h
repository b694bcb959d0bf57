#pragma once
// TRLAGraphic: Wavefront RLA (and RPF) pictures: a 740-byte big-endian header, a table of row
// offsets, and per row one run-length coded block per channel (red, green, blue, matte).
#include "readers/graphic_reader.h"

class TRLAGraphic final : public TGraphicReader {
    IMBRIX_READER_CLASS()
public:
    static bool ProbeStream(TStream& stream);
    bool ReadProperties(TStream& stream, unsigned imageIndex) override;
    void ReadPicture(TStream& stream) override;
};
