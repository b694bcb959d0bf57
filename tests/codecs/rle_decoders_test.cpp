#include <gtest/gtest.h>

#include "codec_test_util.h"
#include "readers/codecs/rle_decoders.h"

using codectest::Bytes;
using codectest::RunDecode;

TEST(TargaRLE, RunAndLiteralPacketsOfSixteenBitPixels) {
    TTargaRLEDecoder decoder(16);
    // Run of 4 pixels (83h), then a literal of 3 pixels (02h).
    const Bytes input = {0x83, 0x12, 0x34, 0x02, 1, 2, 3, 4, 5, 6, 0x99};
    auto r = RunDecode(decoder, input, 14, int32_t(input.size()), 7);
    EXPECT_BYTES(r.output, (Bytes{0x12, 0x34, 0x12, 0x34, 0x12, 0x34, 0x12, 0x34, 1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(r.sourceAdvance, 10u) << "Source moves past the consumed packets only";
    EXPECT_EQ(r.destAdvance, 0u);
}

TEST(TargaRLE, PacketCrossingTheRowIsCutAtTheWindowAndConsumedWhole) {
    TTargaRLEDecoder decoder(24);
    const Bytes input = {0x84, 9, 8, 7, 0x00, 1, 2, 3};  // run of 5 pixels, asked for 2
    auto r = RunDecode(decoder, input, 9, int32_t(input.size()), 2);
    EXPECT_BYTES(r.output, (Bytes{9, 8, 7, 9, 8, 7, 9, 8, 7}))
        << "the packet reaches past the requested count but never past the window";
    EXPECT_EQ(r.sourceAdvance, 4u);
    EXPECT_TRUE(r.guardsIntact);
}

TEST(TargaRLE, UnsupportedDepthDecodesNothing) {
    TTargaRLEDecoder decoder(12);
    auto r = RunDecode(decoder, {0x81, 1, 2}, 4, 3, 2, 0x77);
    EXPECT_BYTES(r.output, (Bytes{0x77, 0x77, 0x77, 0x77}));
    EXPECT_EQ(r.sourceAdvance, 0u);
}

TEST(PackBits, RunsLiteralsAndTheNoOpHeader) {
    TPackbitsRLEDecoder decoder;
    // FEh: run of 3; 80h: no-op; 01h: 2 literal bytes.
    const Bytes input = {0xFE, 0xAA, 0x80, 0x01, 0x10, 0x20};
    auto r = RunDecode(decoder, input, 5, int32_t(input.size()), 5);
    EXPECT_BYTES(r.output, (Bytes{0xAA, 0xAA, 0xAA, 0x10, 0x20}));
    EXPECT_EQ(r.sourceAdvance, 0u);

    // A literal longer than the packed bytes left is cut to them.
    auto cut = RunDecode(decoder, {0x05, 1, 2}, 6, 3, 6, 0);
    EXPECT_BYTES(cut.output, (Bytes{1, 2, 0, 0, 0, 0}));

    // 80h alone consumes its byte and writes nothing.
    auto noop = RunDecode(decoder, {0x80}, 2, 1, 2, 0x55);
    EXPECT_BYTES(noop.output, (Bytes{0x55, 0x55}));
}

TEST(PackBits, PackedSizeLimitsTheInput) {
    TPackbitsRLEDecoder decoder;
    auto r = RunDecode(decoder, {0x00, 7, 0x00, 8}, 2, 2, 2, 0);
    EXPECT_BYTES(r.output, (Bytes{7, 0})) << "bytes past PackedSize are not read";
}

TEST(PCXRLE, CountByteAndPlainBytes) {
    TPCXRLEDecoder decoder;
    // C3h: 3 copies; C0h: zero copies (two bytes consumed); BFh is data.
    const Bytes input = {0xC3, 0x44, 0xC0, 0x99, 0xBF, 0x01};
    auto r = RunDecode(decoder, input, 5, 0, 5);
    EXPECT_BYTES(r.output, (Bytes{0x44, 0x44, 0x44, 0xBF, 0x01}));
}

TEST(PCXRLE, RunIsClippedToTheUnpackedSize) {
    TPCXRLEDecoder decoder;
    auto r = RunDecode(decoder, {0xFF, 0x12}, 8, 2, 5, 0);
    EXPECT_BYTES(r.output, (Bytes{0x12, 0x12, 0x12, 0x12, 0x12, 0, 0, 0}));
}

TEST(SGIRLE, EightBitPackets) {
    TSGIRLEDecoder decoder(8);
    // 05h: next byte 5 times; 85h: 5 bytes follow; 00h ends the row.
    const Bytes input = {0x05, 0x33, 0x85, 1, 2, 3, 4, 5, 0x00, 0x02, 0x77};
    auto r = RunDecode(decoder, input, 12, 0, 0, 0);
    EXPECT_BYTES(r.output, (Bytes{0x33, 0x33, 0x33, 0x33, 0x33, 1, 2, 3, 4, 5, 0, 0}));

    auto empty = RunDecode(decoder, {0x00, 0x05, 0x33}, 4, 0, 0, 0x11);
    EXPECT_BYTES(empty.output, (Bytes{0x11, 0x11, 0x11, 0x11})) << "a zero header ends at once";
}

TEST(SGIRLE, SixteenBitSamplesKeepFileByteOrder) {
    TSGIRLEDecoder decoder(16);
    const Bytes input = {0x00, 0x02, 0xAB, 0xCD, 0x00, 0x81, 0x12, 0x34, 0x00, 0x00};
    auto r = RunDecode(decoder, input, 6, 0, 0, 0);
    EXPECT_BYTES(r.output, (Bytes{0xAB, 0xCD, 0xAB, 0xCD, 0x12, 0x34}));
}

TEST(CUTRLE, RowsAdvanceTheSource) {
    TCUTRLEDecoder decoder;
    // Row: length field, 83h run of 3, 02h two literals, 00h end; then the next row.
    const Bytes input = {0x07, 0x00, 0x83, 0x21, 0x02, 0x05, 0x06, 0x00, 0x03, 0x00};
    auto r = RunDecode(decoder, input, 5, 0, 0, 0);
    EXPECT_BYTES(r.output, (Bytes{0x21, 0x21, 0x21, 0x05, 0x06}));
    EXPECT_EQ(r.sourceAdvance, 8u) << "Source stands past the ending zero";

    auto empty = RunDecode(decoder, {0x01, 0x00, 0x00, 0x83, 0x21}, 3, 0, 0, 0x44);
    EXPECT_BYTES(empty.output, (Bytes{0x44, 0x44, 0x44}));
    EXPECT_EQ(empty.sourceAdvance, 3u);
}

TEST(PSPRLE, RunsAndLiteralsUntilThePackedBytesAreUsed) {
    TPSPRLEDecoder decoder;
    const Bytes input = {0x83, 0x66, 0x02, 0x01, 0x02, 0x84, 0x99};
    auto r = RunDecode(decoder, input, 6, 5, 6, 0);
    EXPECT_BYTES(r.output, (Bytes{0x66, 0x66, 0x66, 0x01, 0x02, 0x00})) << "stopped after 5 bytes";
}

TEST(RLA, SignedHeaders) {
    TRLADecoder decoder;
    // 02h: next byte 3 times; FEh (-2): two literals.
    const Bytes input = {0x02, 0x5A, 0xFE, 0x01, 0x02};
    auto r = RunDecode(decoder, input, 5, int32_t(input.size()), 5);
    EXPECT_BYTES(r.output, (Bytes{0x5A, 0x5A, 0x5A, 0x01, 0x02}));
}
