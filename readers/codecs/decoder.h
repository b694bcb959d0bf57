#pragma once
// The protocol every decompression codec follows: create, DecodeInit, Decode block by block,
// DecodeEnd, free. Readers keep file parsing; codecs only turn packed bytes into samples.
//
// Source and Dest are windows that the codec may advance. Their extent is a hard bound: a
// codec never reads outside Source nor writes outside Dest, whatever PackedSize,
// UnpackedSize or the data say. PackedSize and UnpackedSize keep the meaning each codec gives
// them (bytes, elements, ignored); the bound of a window applies on top of that. Codecs that
// consume or produce "as far as they got" move Source/Dest past what they used; the others
// leave them as they were (each codec's header says which).
//
// Input that ends inside a packet or before the output is complete stops the codec quietly:
// it has written what the data held and leaves the rest of Dest as it was.
#include <cstdint>
#include <span>

using TDecodeSource = std::span<const uint8_t>;
using TDecodeTarget = std::span<uint8_t>;

class TDecoder {
public:
    TDecoder() = default;
    virtual ~TDecoder() = default;
    TDecoder(const TDecoder&) = delete;
    TDecoder& operator=(const TDecoder&) = delete;

    virtual void Decode(TDecodeSource& Source, TDecodeTarget& Dest, int32_t PackedSize,
                        int32_t UnpackedSize) = 0;
    virtual void DecodeEnd() {}
    virtual void DecodeInit() {}
    // Nothing in the program encodes; the slots stay for the protocol's sake.
    virtual void Encode(std::span<const uint8_t> Source, std::span<uint8_t> Dest,
                        uint32_t& BytesStored) = 0;
    virtual void EncodeInit() {}
    virtual void EncodeEnd() {}
};

// A decoder that never encodes: BytesStored is always 0.
class TDecodeOnly : public TDecoder {
public:
    void Encode(std::span<const uint8_t>, std::span<uint8_t>, uint32_t& BytesStored) override {
        BytesStored = 0;
    }
};

// Raises EGraphicCompression with the message.
[[noreturn]] void CompressionError(const char* message);
