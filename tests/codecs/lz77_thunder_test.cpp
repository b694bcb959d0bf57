#include <gtest/gtest.h>
#include <zlib.h>

#include "codec_test_util.h"
#include "graphics/errors.h"
#include "readers/codecs/lz77_decoder.h"
#include "readers/codecs/thunder_decoder.h"
#include "tests/support/png_chunks.h"

using codectest::Bytes;
using codectest::RunDecode;

namespace {
Bytes Deflate(const Bytes& data) { return testsupport::Deflate(data, 9); }

Bytes Sample(size_t n, int seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>((i * seed) / 7 + (i % 5 == 0 ? i : 0));
    return b;
}
}  // namespace

TEST(LZ77, InflatesInPiecesAndMovesBothWindows) {
    const Bytes plain = Sample(5000, 3);
    const Bytes packed = Deflate(plain);
    TLZ77Decoder decoder(Z_PARTIAL_FLUSH, false);
    decoder.DecodeInit();
    Bytes out(plain.size());
    TDecodeSource src(packed.data(), packed.size());
    TDecodeTarget dst(out.data(), out.size());
    // First only half the input: inflate takes it all and produces part of the output.
    decoder.Decode(src, dst, int32_t(packed.size() / 2), int32_t(dst.size()));
    EXPECT_EQ(decoder.ZLibResult(), Z_OK);
    EXPECT_EQ(src.size(), packed.size() - packed.size() / 2) << "Source moved past what was consumed";
    EXPECT_EQ(decoder.AvailableInput(), 0u);
    EXPECT_LT(dst.size(), out.size());
    decoder.Decode(src, dst, int32_t(src.size()), int32_t(dst.size()));
    EXPECT_EQ(decoder.ZLibResult(), Z_STREAM_END);
    EXPECT_TRUE(src.empty());
    EXPECT_TRUE(dst.empty());
    EXPECT_EQ(decoder.AvailableOutput(), 0u);
    EXPECT_EQ(out, plain);

    // After the stream's end a further Decode leaves both windows as they were.
    const Bytes more = Deflate(Sample(100, 5));
    Bytes out2(100, 0);
    TDecodeSource src2(more.data(), more.size());
    TDecodeTarget dst2(out2.data(), out2.size());
    decoder.Decode(src2, dst2, int32_t(more.size()), 100);
    EXPECT_EQ(src2.size(), more.size());
    EXPECT_EQ(dst2.size(), 100u);
    EXPECT_EQ(out2, Bytes(100, 0));
    decoder.DecodeEnd();
}

TEST(LZ77, AutoResetDecodesOneStreamPerCall) {
    const Bytes a = Sample(700, 11), b = Sample(300, 13);
    const Bytes pa = Deflate(a), pb = Deflate(b);
    TLZ77Decoder decoder(Z_PARTIAL_FLUSH, true);
    decoder.DecodeInit();
    for (const auto& [packed, plain] : {std::pair{pa, a}, std::pair{pb, b}}) {
        Bytes out(plain.size());
        TDecodeSource src(packed.data(), packed.size());
        TDecodeTarget dst(out.data(), out.size());
        decoder.Decode(src, dst, int32_t(packed.size()), int32_t(out.size()));
        EXPECT_EQ(decoder.ZLibResult(), Z_STREAM_END);
        EXPECT_EQ(out, plain);
    }
    decoder.DecodeEnd();
}

TEST(LZ77, ErrorsAreKeptNotRaisedAndEndWithoutInitFails) {
    TLZ77Decoder decoder(Z_FINISH, false);
    decoder.DecodeInit();
    const Bytes junk = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    auto r = RunDecode(decoder, junk, 16, 5, 16);
    EXPECT_LT(decoder.ZLibResult(), 0);
    EXPECT_TRUE(r.guardsIntact);
    decoder.DecodeEnd();
    try {
        decoder.DecodeEnd();
        FAIL() << "ending a stream that is not open succeeded";
    } catch (const EGraphicCompression& e) {
        EXPECT_STREQ(e.what(), "LZ77 decompression error.");
    }
}

TEST(Thunder, RawPixelThenRun) {
    TThunderDecoder decoder(4);
    auto r = RunDecode(decoder, {0xC5, 0x03}, 2, 2, 2);
    EXPECT_BYTES(r.output, (Bytes{0x55, 0x55}));
}

TEST(Thunder, DeltasSkipsAndWrapAround) {
    TThunderDecoder decoder(8);
    // Raw 0Fh; 2-bit deltas +1, skip, -1 (0Fh+1 wraps to 0, then back to 0Fh);
    // 3-bit deltas -3, +3; raw 2; run of 2.
    const Bytes input = {0xCF, 0x5B, 0xAB, 0xC2, 0x02};
    auto r = RunDecode(decoder, input, 4, 5, 4);
    EXPECT_BYTES(r.output, (Bytes{0xF0, 0xFC, 0xF2, 0x22}));
}

TEST(Thunder, EveryRowStartsOnAByteAndAtPixelZero) {
    // Width 3: rows of 2 bytes; the odd end leaves the low nibble clear. A delta at the start
    // of row 2 starts from 0, not from the last pixel of row 1.
    TThunderDecoder decoder(3);
    const Bytes input = {0xC7, 0x02, 0x50 | 0x04 | 0x00 /* +1, +1, 0 */};
    auto r = RunDecode(decoder, input, 4, 3, 4, 0xEE);
    EXPECT_BYTES(r.output, (Bytes{0x77, 0x70, 0x12, 0x20}));
}
