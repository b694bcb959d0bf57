#include <gtest/gtest.h>

#include "codec_test_util.h"
#include "readers/codecs/ccitt_decoder.h"

using codectest::Bits;
using codectest::Bytes;
using codectest::RunDecode;

namespace {
// Width 16: white 3, black 2, white 11.
const char* kRowA = "1000 11 01000";
const Bytes kRowAPixels = {0x18, 0x00};
// Width 100: white 64 + 2 (makeup then terminating), black 34.
const char* kRowB = "11011 0111 000011010010";
// Row starting with black: white 0, black 5, white 11.
const char* kRowC = "00110101 0011 01000";
const char* kEol = "000000000001";

uint8_t Reverse(uint8_t b) {
    uint8_t r = 0;
    for (int i = 0; i < 8; ++i)
        if (b & (1 << i)) r |= static_cast<uint8_t>(0x80 >> i);
    return r;
}
}  // namespace

TEST(FaxMH, RowsOfKnownRunsStartOnByteBoundaries) {
    TCCITTMHDecoder decoder(0, false, false, 16);
    // Row A ends mid-byte; the rest of that byte is padding and row C starts on the next.
    const Bytes input = [] {
        Bytes a = Bits(kRowA), c = Bits(kRowC);
        a.insert(a.end(), c.begin(), c.end());
        return a;
    }();
    auto r = RunDecode(decoder, input, 4, int32_t(input.size()), 4, 0xFF);
    EXPECT_BYTES(r.output, (Bytes{0x18, 0x00, 0xF8, 0x00}));
}

TEST(FaxMH, MakeupCodesAddToTheRun) {
    TCCITTMHDecoder decoder(0, false, false, 100);
    const Bytes input = Bits(kRowB);
    auto r = RunDecode(decoder, input, 13, int32_t(input.size()), 13);
    Bytes want(13, 0);
    for (int px = 66; px < 100; ++px) want[px / 8] |= static_cast<uint8_t>(0x80 >> (px % 8));
    EXPECT_BYTES(r.output, want);
}

TEST(FaxMH, WordAlignedRowsStartOnEvenSourceBytes) {
    // Width 8: row 1 is white 3, black 5 ("1000 0011", one byte), so row 2 must skip a
    // padding byte to start on an even offset; row 2 is white 5, black 3.
    TCCITTMHDecoder decoder(0, false, true, 8);
    Bytes input = Bits("1000 0011");
    input.push_back(0xFF);  // padding to the word boundary, not data
    const Bytes row2 = Bits("1100 10");
    input.insert(input.end(), row2.begin(), row2.end());
    auto r = RunDecode(decoder, input, 2, int32_t(input.size()), 2);
    EXPECT_BYTES(r.output, (Bytes{0x1F, 0x07}));

    TCCITTMHDecoder plain(0, false, false, 8);
    auto p = RunDecode(plain, input, 2, int32_t(input.size()), 2);
    EXPECT_NE(codectest::Hex(p.output), codectest::Hex(r.output)) << "without alignment the padding is read as data";
}

TEST(Fax3, RowsFollowEndOfLineCodesAndFillBits) {
    TCCITTFax3Decoder decoder(0, false, false, 16);
    // EOL, row A, then fill zeros, EOL, row C.
    const Bytes input = Bits(std::string(kEol) + kRowA + "0000" + kEol + kRowC);
    auto r = RunDecode(decoder, input, 4, int32_t(input.size()), 4, 0xFF);
    EXPECT_BYTES(r.output, (Bytes{0x18, 0x00, 0xF8, 0x00}));
}

TEST(Fax3, ShortRowEndedByEndOfLineLeavesTheRestWhite) {
    TCCITTFax3Decoder decoder(0, false, false, 16);
    // Row 1: white 3, black 2, then EOL (row incomplete); row 2 follows that EOL directly.
    const Bytes input = Bits(std::string(kEol) + "1000 11" + kEol + kRowA);
    auto r = RunDecode(decoder, input, 4, int32_t(input.size()), 4);
    EXPECT_BYTES(r.output, (Bytes{0x18, 0x00, 0x18, 0x00}));
}

TEST(Fax3, ReversedBitOrderIsUndone) {
    Bytes input = Bits(std::string(kEol) + kRowA);
    for (uint8_t& b : input) b = Reverse(b);
    TCCITTFax3Decoder decoder(0, true, false, 16);
    auto r = RunDecode(decoder, input, 2, int32_t(input.size()), 2);
    EXPECT_BYTES(r.output, kRowAPixels);
}

TEST(FaxDecoders, OutputIsClearedAndBoundedByTheUnpackedSize) {
    const Bytes input = Bits(std::string(kEol) + kRowA + kEol + kRowA + kEol + kRowA);
    TCCITTFax3Decoder decoder(0, false, false, 16);
    auto r = RunDecode(decoder, input, 5, int32_t(input.size()), 3, 0xFF);
    EXPECT_BYTES(r.output, (Bytes{0x18, 0x00, 0x18, 0xFF, 0xFF}));
    EXPECT_TRUE(r.guardsIntact);
}
