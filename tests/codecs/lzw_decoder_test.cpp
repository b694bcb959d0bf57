#include <gtest/gtest.h>

#include "codec_test_util.h"
#include "graphics/errors.h"
#include "readers/codecs/lzw_decoder.h"

using codectest::Bytes;
using codectest::PackCodesMsbFirst;
using codectest::RunDecode;

namespace {
constexpr unsigned kClear = 256, kEnd = 257;

// Code width a TIFF writer uses with `nextFree` entries in the table (early change).
unsigned WidthFor(unsigned nextFree) {
    return nextFree < 511 ? 9 : nextFree < 1023 ? 10 : nextFree < 2047 ? 11 : 12;
}
}  // namespace

TEST(TiffLZW, ClearTwoLiteralsEnd) {
    TTIFFLZWDecoder decoder;
    const Bytes strip = PackCodesMsbFirst({{kClear, 9}, {65, 9}, {66, 9}, {kEnd, 9}});
    auto r = RunDecode(decoder, strip, 4, int32_t(strip.size()), 4, 0);
    EXPECT_BYTES(r.output, (Bytes{0x41, 0x42, 0, 0}));
    EXPECT_EQ(r.sourceAdvance, 0u);
}

TEST(TiffLZW, StringCodesIncludingTheOneNotYetInTheTable) {
    TTIFFLZWDecoder decoder;
    // 258 = "AB" is in the table; 260 is being defined by this very code ("ABA").
    const Bytes strip = PackCodesMsbFirst({{kClear, 9}, {65, 9}, {66, 9}, {258, 9}, {260, 9}, {kEnd, 9}});
    auto r = RunDecode(decoder, strip, 7, int32_t(strip.size()), 7);
    EXPECT_BYTES(r.output, (Bytes{'A', 'B', 'A', 'B', 'A', 'B', 'A'}));

    // The output stops at UnpackedSize, in the middle of a string.
    auto cut = RunDecode(decoder, strip, 7, int32_t(strip.size()), 4, 0);
    EXPECT_BYTES(cut.output, (Bytes{'A', 'B', 'A', 'B', 0, 0, 0}));
    EXPECT_TRUE(cut.guardsIntact);
}

TEST(TiffLZW, CodesAreTenBitsWideOnceTheNextFreeCodeIs511) {
    std::vector<std::pair<unsigned, unsigned>> codes = {{kClear, 9}};
    Bytes want;
    // The first literal adds no entry; each of the next 253 adds one: next free becomes 511.
    for (int i = 0; i < 254; ++i) {
        const unsigned byte = (i * 37) % 256;
        codes.push_back({byte, 9});
        want.push_back(static_cast<uint8_t>(byte));
    }
    codes.push_back({'Z', 10});
    codes.push_back({kEnd, 10});
    want.push_back('Z');
    const Bytes strip = PackCodesMsbFirst(codes);
    TTIFFLZWDecoder decoder;
    auto r = RunDecode(decoder, strip, want.size(), int32_t(strip.size()), int32_t(want.size()));
    EXPECT_BYTES(r.output, want);
}

TEST(TiffLZW, CodesBeyondTheTableAreDropped) {
    TTIFFLZWDecoder decoder;
    const Bytes strip = PackCodesMsbFirst({{kClear, 9}, {65, 9}, {400, 9}, {66, 9}, {kEnd, 9}});
    auto r = RunDecode(decoder, strip, 2, int32_t(strip.size()), 2);
    EXPECT_BYTES(r.output, (Bytes{'A', 'B'}));
}

TEST(TiffLZW, FullTableWithoutClearFailsButAClearInTimeDecodes) {
    auto stream = [](bool clearInTime) {
        std::vector<std::pair<unsigned, unsigned>> codes = {{kClear, 9}};
        unsigned nextFree = 258;
        bool first = true;
        for (int i = 0; i < 3840; ++i) {
            if (clearInTime && nextFree == 4094) {
                codes.push_back({kClear, 12});
                nextFree = 258;
                first = true;
            }
            codes.push_back({unsigned(i % 256), WidthFor(nextFree)});
            if (!first && nextFree < 4096) ++nextFree;
            first = false;
        }
        codes.push_back({kEnd, WidthFor(nextFree)});
        return PackCodesMsbFirst(codes);
    };
    TTIFFLZWDecoder decoder;
    const Bytes good = stream(true);
    auto r = RunDecode(decoder, good, 3840, int32_t(good.size()), 3840);
    for (int i = 0; i < 3840; ++i) ASSERT_EQ(r.output[i], i % 256) << "at " << i;

    const Bytes bad = stream(false);
    EXPECT_THROW(RunDecode(decoder, bad, 3840, int32_t(bad.size()), 3840), ERangeError);
}
