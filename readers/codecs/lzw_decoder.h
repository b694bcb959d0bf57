#pragma once
// TIFF LZW: codes packed most significant bit first, 9 to 12 bits, with TIFF's early change
// (the width grows one code before GIF's rule would). PackedSize = bytes of the strip,
// UnpackedSize = bytes wanted; neither Source nor Dest is advanced.
#include "readers/codecs/decoder.h"

class TTIFFLZWDecoder : public TDecodeOnly {
public:
    void Decode(TDecodeSource& Source, TDecodeTarget& Dest, int32_t PackedSize,
                int32_t UnpackedSize) override;
};
