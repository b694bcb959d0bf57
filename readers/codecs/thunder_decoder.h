#pragma once
// ThunderScan 4-bit deltas: runs, 2- and 3-bit deltas and raw pixels. Output is 4 bits per
// pixel, two per byte, first pixel in the high nibble; every row of `width` pixels starts on
// a byte boundary. PackedSize = source bytes, UnpackedSize = bytes to produce; neither Source
// nor Dest is advanced.
#include "readers/codecs/decoder.h"

class TThunderDecoder : public TDecodeOnly {
public:
    explicit TThunderDecoder(uint32_t width) : FWidth(width) {}
    void Decode(TDecodeSource& Source, TDecodeTarget& Dest, int32_t PackedSize,
                int32_t UnpackedSize) override;

private:
    uint32_t FWidth;
};
