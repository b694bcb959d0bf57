#pragma once
// TPCXGraphic: ZSoft Paintbrush pictures and Word screen captures (pcx, pcc, scr).
// Monochrome, 4-colour, 16-colour (packed or in bit planes), 256-colour and 24-bit pictures,
// run-length compressed or stored. The whole picture is decoded into one buffer first, then
// converted row by row.
#include "readers/graphic_reader.h"

class TPCXGraphic : public TGraphicReader {
    IMBRIX_READER_CLASS()
public:
    static bool ProbeStream(TStream& stream);
    bool ReadProperties(TStream& stream, unsigned imageIndex) override;
    void ReadPicture(TStream& stream) override;
};
