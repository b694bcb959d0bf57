#include "readers/codecs/rle_decoders.h"

#include "readers/codecs/codec_io.h"

using codec_io::LiteralPacket;
using codec_io::OutputWindow;
using codec_io::PackedInput;
using codec_io::RunPacket;

size_t TargaElementSize(int32_t depth) {
    switch (depth) {
        case 8: return 1;
        case 15:
        case 16: return 2;
        case 24: return 3;
        case 32: return 4;
        default: return 0;
    }
}

void TTargaRLEDecoder::Decode(TDecodeSource& Source, TDecodeTarget& Dest, int32_t PackedSize,
                              int32_t UnpackedSize) {
    const size_t element = TargaElementSize(FColorDepth);
    if (element == 0) return;
    ByteReader in = PackedInput(Source, PackedSize);
    OutputWindow out(Dest);
    int64_t pixelsLeft = UnpackedSize;
    while (pixelsLeft > 0 && !in.atEnd()) {
        const uint8_t h = in.u8();
        const uint64_t count = (h & 0x7F) + 1u;
        const bool complete = h >= 0x80 ? RunPacket(in, out, count, element)
                                        : LiteralPacket(in, out, count, element);
        if (!complete) break;
        pixelsLeft -= static_cast<int64_t>(count);
    }
    Source = Source.subspan(in.pos());
}

void TPackbitsRLEDecoder::Decode(TDecodeSource& Source, TDecodeTarget& Dest, int32_t PackedSize,
                                 int32_t UnpackedSize) {
    ByteReader in = PackedInput(Source, PackedSize);
    OutputWindow out(Dest, UnpackedSize);
    while (!out.full() && !in.atEnd()) {
        const int8_t h = in.i8();
        if (h == -128) continue;
        if (h < 0) {
            if (!RunPacket(in, out, 1u - h, 1)) break;
        } else if (!LiteralPacket(in, out, h + 1u, 1)) {
            break;
        }
    }
}

void TPCXRLEDecoder::Decode(TDecodeSource& Source, TDecodeTarget& Dest, int32_t PackedSize,
                            int32_t UnpackedSize) {
    ByteReader in(Source);
    OutputWindow out(Dest, UnpackedSize);
    while (!out.full() && !in.atEnd()) {
        const uint8_t h = in.u8();
        if (h >= 0xC0) {
            if (!RunPacket(in, out, h & 0x3Fu, 1)) break;
        } else {
            out.put(h);
        }
    }
}

void TSGIRLEDecoder::Decode(TDecodeSource& Source, TDecodeTarget& Dest, int32_t PackedSize,
                            int32_t UnpackedSize) {
    const bool wide = FSampleSize == 16;
    const size_t element = wide ? 2 : 1;
    ByteReader in(Source);
    OutputWindow out(Dest);
    while (!out.full() && in.remaining() >= element) {
        const unsigned h = wide ? in.u16be() : in.u8();
        const unsigned count = h & 0x7F;
        if (count == 0) break;
        const bool complete = (h & 0x80) ? LiteralPacket(in, out, count, element)
                                         : RunPacket(in, out, count, element);
        if (!complete) break;
    }
}

void TCUTRLEDecoder::Decode(TDecodeSource& Source, TDecodeTarget& Dest, int32_t PackedSize,
                            int32_t UnpackedSize) {
    ByteReader in(Source);
    OutputWindow out(Dest);
    // A full row still runs to its zero header so that Source ends up at the next row.
    if (in.remaining() >= 2) {
        in.skip(2);
        while (!in.atEnd()) {
            const uint8_t h = in.u8();
            if (h == 0) break;
            const unsigned count = h & 0x7F;
            const bool complete = (h & 0x80) ? RunPacket(in, out, count, 1)
                                             : LiteralPacket(in, out, count, 1);
            if (!complete) break;
        }
    } else {
        in.seek(in.size());
    }
    Source = Source.subspan(in.pos());
}

void TPSPRLEDecoder::Decode(TDecodeSource& Source, TDecodeTarget& Dest, int32_t PackedSize,
                            int32_t UnpackedSize) {
    ByteReader in = PackedInput(Source, PackedSize);
    OutputWindow out(Dest, UnpackedSize);
    while (!in.atEnd()) {
        const uint8_t h = in.u8();
        const bool complete = h >= 0x80 ? RunPacket(in, out, h - 0x80u, 1)
                                        : LiteralPacket(in, out, h, 1);
        if (!complete) break;
    }
}

void TRLADecoder::Decode(TDecodeSource& Source, TDecodeTarget& Dest, int32_t PackedSize,
                         int32_t UnpackedSize) {
    ByteReader in = PackedInput(Source, PackedSize);
    OutputWindow out(Dest, UnpackedSize);
    while (!in.atEnd()) {
        const int8_t h = in.i8();
        const bool complete = h >= 0 ? RunPacket(in, out, h + 1u, 1)
                                     : LiteralPacket(in, out, static_cast<uint64_t>(-h), 1);
        if (!complete) break;
    }
}
