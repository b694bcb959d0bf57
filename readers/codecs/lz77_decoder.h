#pragma once
// Deflate over zlib's inflate (15-bit window). PackedSize = input bytes, UnpackedSize = output
// space; Decode moves Source and Dest past what inflate consumed and produced. Decode never
// raises: callers look at ZLibResult, the moved windows and AvailableInput/AvailableOutput.
#include <zlib.h>

#include "readers/codecs/decoder.h"

// Owns one inflate stream; ends it when it dies.
class TInflateStream {
public:
    TInflateStream();
    ~TInflateStream();
    TInflateStream(const TInflateStream&) = delete;
    TInflateStream& operator=(const TInflateStream&) = delete;

    int Init();   // ends a live stream first
    int Reset();  // inflateReset (an error result when not initialised)
    int End();    // inflateEnd (an error result when not initialised)
    z_stream& Stream() { return FStream; }
    const z_stream& Stream() const { return FStream; }

private:
    z_stream FStream;
    bool FLive = false;
};

class TLZ77Decoder : public TDecodeOnly {
public:
    // flushMode: zlib's flush value (1 partial flush, 4 finish). autoReset: every Decode
    // starts a new deflate stream (TIFF strips).
    TLZ77Decoder(int32_t flushMode, bool autoReset) : FFlushMode(flushMode), FAutoReset(autoReset) {}

    void DecodeInit() override;
    void Decode(TDecodeSource& Source, TDecodeTarget& Dest, int32_t PackedSize,
                int32_t UnpackedSize) override;
    void DecodeEnd() override;

    uint32_t AvailableInput() const { return FZLib.Stream().avail_in; }
    uint32_t AvailableOutput() const { return FZLib.Stream().avail_out; }
    // 0 ok, 1 stream end, negative an error.
    int ZLibResult() const { return FZLibResult; }

private:
    TInflateStream FZLib;
    int FZLibResult = 0;
    int32_t FFlushMode;
    bool FAutoReset;
};
