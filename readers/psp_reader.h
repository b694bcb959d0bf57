#pragma once
// TPSPGraphic: Paint Shop Pro image files of major version 3 and later. The picture comes
// from the first raster layer of the layer bank; its channels may be raw, run-length or
// deflate compressed.
#include "readers/graphic_reader.h"

class TPSPGraphic final : public TGraphicReader {
    IMBRIX_READER_CLASS()
public:
    static bool ProbeStream(TStream& stream);
    bool ReadProperties(TStream& stream, unsigned imageIndex) override;
    void ReadPicture(TStream& stream) override;
};
