#pragma once
// TPSDGraphic: the merged (flattened) image of a Photoshop file. Layers, masks and image
// resources are skipped; the planar channel data goes through the ColorManager.
#include <cstdint>

#include "readers/graphic_reader.h"

class TPSDGraphic : public TGraphicReader {
    IMBRIX_READER_CLASS()
public:
    static bool ProbeStream(TStream& stream);
    bool ReadProperties(TStream& stream, unsigned imageIndex) override;
    void ReadPicture(TStream& stream) override;

private:
    // The merged image's compression word as stored (0 raw, 1 PackBits, 2 and 3 zip).
    uint16_t compressionWord_ = 0;
};
