#pragma once
// THEIFGraphic: HEIF files (heic, heif) and AVIF files, decoded by libheif (HEVC through
// libde265, AV1 through dav1d or aom). Only the primary image is read, with the file's own
// crop, rotation and mirror properties applied. Pictures with alpha become 32-bit bitmaps with
// meaningful alpha, so they are drawn onto white like every other picture with transparency.
#include <cstdint>
#include <vector>

#include "readers/graphic_reader.h"

class THEIFGraphic : public TGraphicReader {
    IMBRIX_READER_CLASS()
public:
    static bool ProbeStream(TStream& stream);
    bool ReadProperties(TStream& stream, unsigned imageIndex) override;
    void ReadPicture(TStream& stream) override;
};
