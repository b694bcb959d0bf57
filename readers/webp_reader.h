#pragma once
// TWebPGraphic: WebP files, lossy and lossless, decoded by libwebp. An animated file shows its
// first frame as composed on the canvas. Pictures with alpha become 32-bit bitmaps with
// meaningful alpha, so they are drawn onto white like every other picture with transparency.
#include <cstdint>
#include <vector>

#include "readers/graphic_reader.h"

class TWebPGraphic : public TGraphicReader {
    IMBRIX_READER_CLASS()
public:
    static bool ProbeStream(TStream& stream);
    bool ReadProperties(TStream& stream, unsigned imageIndex) override;
    void ReadPicture(TStream& stream) override;
};
