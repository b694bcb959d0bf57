#pragma once
// The seven run-length schemes. They differ in the header bit that selects a run, in how the
// count is formed, in the element size and in what ends a call; the packets themselves are
// shared (codec_io.h). None keeps state from one Decode to the next.
#include "readers/codecs/decoder.h"

// Bytes of one Targa pixel of the given depth (15 and 16 share two); 0 for a depth Targa lacks.
size_t TargaElementSize(int32_t depth);

// Targa: UnpackedSize counts pixels of 1, 2, 3 or 4 bytes (depth 8, 15/16, 24, 32; any other
// depth decodes nothing); PackedSize bounds the input. A packet that crosses the requested
// count is written whole as far as Dest reaches. Advances Source past the packets it consumed.
class TTargaRLEDecoder : public TDecodeOnly {
public:
    explicit TTargaRLEDecoder(int32_t colorDepth) : FColorDepth(colorDepth) {}
    void Decode(TDecodeSource& Source, TDecodeTarget& Dest, int32_t PackedSize,
                int32_t UnpackedSize) override;

private:
    int32_t FColorDepth;
};

// PackBits (TIFF, Photoshop): both sizes in bytes and both end the call; -128 is a no-op.
class TPackbitsRLEDecoder : public TDecodeOnly {
public:
    void Decode(TDecodeSource& Source, TDecodeTarget& Dest, int32_t PackedSize,
                int32_t UnpackedSize) override;
};

// PCX: UnpackedSize in bytes ends the call; PackedSize is ignored (Source bounds the input).
class TPCXRLEDecoder : public TDecodeOnly {
public:
    void Decode(TDecodeSource& Source, TDecodeTarget& Dest, int32_t PackedSize,
                int32_t UnpackedSize) override;
};

// SGI: one row, ended by a zero count; both sizes are ignored (Source and Dest bound it).
// 16-bit samples are copied in file byte order.
class TSGIRLEDecoder : public TDecodeOnly {
public:
    explicit TSGIRLEDecoder(uint8_t sampleSize) : FSampleSize(sampleSize) {}
    void Decode(TDecodeSource& Source, TDecodeTarget& Dest, int32_t PackedSize,
                int32_t UnpackedSize) override;

private:
    uint8_t FSampleSize;
};

// Dr. Halo CUT: one row (a 2-byte length field, then packets up to a zero header); sizes are
// ignored. Advances Source past the ending zero.
class TCUTRLEDecoder : public TDecodeOnly {
public:
    void Decode(TDecodeSource& Source, TDecodeTarget& Dest, int32_t PackedSize,
                int32_t UnpackedSize) override;
};

// Paint Shop Pro: runs until PackedSize bytes are consumed; output bounded by UnpackedSize.
class TPSPRLEDecoder : public TDecodeOnly {
public:
    void Decode(TDecodeSource& Source, TDecodeTarget& Dest, int32_t PackedSize,
                int32_t UnpackedSize) override;
};

// Wavefront RLA: runs until PackedSize bytes are consumed; output bounded by UnpackedSize.
class TRLADecoder : public TDecodeOnly {
public:
    void Decode(TDecodeSource& Source, TDecodeTarget& Dest, int32_t PackedSize,
                int32_t UnpackedSize) override;
};
