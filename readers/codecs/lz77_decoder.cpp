#include "readers/codecs/lz77_decoder.h"

#include <cstring>

#include "readers/codecs/codec_io.h"
#include "readers/codecs/codec_strings.h"

TInflateStream::TInflateStream() {
    std::memset(&FStream, 0, sizeof FStream);
}

TInflateStream::~TInflateStream() {
    if (FLive) inflateEnd(&FStream);
}

int TInflateStream::Init() {
    if (FLive) End();
    const int result = inflateInit2(&FStream, 15);
    FLive = result == Z_OK;
    return result;
}

int TInflateStream::Reset() {
    return FLive ? inflateReset(&FStream) : Z_STREAM_ERROR;
}

int TInflateStream::End() {
    if (!FLive) return Z_STREAM_ERROR;
    FLive = false;
    return inflateEnd(&FStream);
}

void TLZ77Decoder::DecodeInit() {
    if (FZLib.Init() < 0) CompressionError(gesLZ77Error);
}

void TLZ77Decoder::DecodeEnd() {
    if (FZLib.End() < 0) CompressionError(gesLZ77Error);
}

void TLZ77Decoder::Decode(TDecodeSource& Source, TDecodeTarget& Dest, int32_t PackedSize,
                          int32_t UnpackedSize) {
    z_stream& z = FZLib.Stream();
    const TDecodeSource input = codec_io::Clip(Source, std::max<int64_t>(PackedSize, 0));
    z.next_in = const_cast<Bytef*>(input.data());  // zlib never writes through next_in
    z.avail_in = static_cast<uInt>(input.size());
    if (FAutoReset) FZLibResult = FZLib.Reset();
    if (FZLibResult != Z_OK) return;

    const TDecodeTarget output = codec_io::Clip(Dest, std::max<int64_t>(UnpackedSize, 0));
    z.next_out = output.data();
    z.avail_out = static_cast<uInt>(output.size());
    FZLibResult = inflate(&z, FFlushMode);
    Source = Source.subspan(input.size() - z.avail_in);
    Dest = Dest.subspan(output.size() - z.avail_out);
}
