#pragma once
// TPPMGraphic: portable bitmaps, gray maps and pixel maps (P1-P6), text and binary.
//
// Beyond the plain layout: header values may stand on the magic's line, "#" comments may
// appear anywhere in the header, plain bitmaps need no blanks between their digits, and
// samples are scaled from the file's maximum value to 0..255 (v * 255 / max, rounded);
// maximum 65535 gives 16-bit samples, reduced like every other 16-bit sample.
#include "readers/graphic_reader.h"

class TPPMGraphic final : public TGraphicReader {
    IMBRIX_READER_CLASS()
public:
    // More than 10 bytes left, "P" and a type digit 1..6; the position is kept.
    static bool ProbeStream(TStream& stream);
    bool ReadProperties(TStream& stream, unsigned imageIndex) override;
    void ReadPicture(TStream& stream) override;
};
