// Big pixel buffers given back are kept for the next one that fits: each one handed out must
// be its own memory, of the size asked, however buffers come and go and from which thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <thread>
#include <vector>

#include "graphics/pixel_store.h"

namespace {

constexpr size_t kMiB = size_t(1) << 20;

bool MapsBigBuffers() { return HugeAlignedLength(32 * kMiB, 8 * kMiB) != 0; }

bool Holds(const PixelStore& store, uint8_t value) {
    const uint8_t* p = store.data();
    return std::all_of(p, p + store.size(), [&](uint8_t v) { return v == value; });
}

}  // namespace

TEST(PixelStoreSpares, ABufferGivenBackIsUsedAgainCutToSizeAndNeverTwice) {
    if (!MapsBigBuffers()) GTEST_SKIP() << "this build takes every buffer from the heap";
    GiveBackSpareMappings();
    const uint8_t* first = nullptr;
    {
        PixelStore a(20 * kMiB);
        std::fill_n(a.data(), a.size(), 0xAA);
        first = a.data();
    }
    PixelStore b(16 * kMiB + 1);  // fits the spare, with less than its slack over
    EXPECT_EQ(b.data(), first);
    PixelStore c(20 * kMiB);  // nothing spare is left: fresh memory, apart from b
    EXPECT_TRUE(c.data() + c.size() <= b.data() || b.data() + b.size() <= c.data());
    std::fill_n(b.data(), b.size(), 0x11);
    std::fill_n(c.data(), c.size(), 0x55);
    EXPECT_TRUE(Holds(b, 0x11));
    EXPECT_TRUE(Holds(c, 0x55));
    PixelStore small(9 * kMiB);  // far below the spare sizes: not given a 20 MiB one
    std::fill_n(small.data(), small.size(), 0x22);
    EXPECT_TRUE(Holds(b, 0x11) && Holds(c, 0x55) && Holds(small, 0x22));
}

TEST(PixelStoreSpares, SparesAndBuffersTogetherHoldNoMoreThanTheBuffersAlone) {
    if (!MapsBigBuffers()) GTEST_SKIP() << "this build takes every buffer from the heap";
    GiveBackSpareMappings();
    {
        PixelStore a(18 * kMiB), b(20 * kMiB);
    }
    EXPECT_EQ(SpareMappingBytes(), 38 * kMiB);
    {
        PixelStore c(30 * kMiB);  // fits neither: both go back before it is mapped
        EXPECT_EQ(SpareMappingBytes(), 0u);
        PixelStore d(10 * kMiB);
    }
    EXPECT_EQ(SpareMappingBytes(), 40 * kMiB);
    {
        PixelStore many[7] = {PixelStore(20 * kMiB), PixelStore(20 * kMiB), PixelStore(20 * kMiB),
                              PixelStore(20 * kMiB), PixelStore(20 * kMiB), PixelStore(20 * kMiB),
                              PixelStore(20 * kMiB)};
    }
    EXPECT_LE(SpareMappingBytes(), 96 * kMiB);  // the most kept, however many come back
    GiveBackSpareMappings();
    EXPECT_EQ(SpareMappingBytes(), 0u);
}

TEST(PixelStoreSpares, ThreadsTakingAndGivingBackNeverShareABuffer) {
    if (!MapsBigBuffers()) GTEST_SKIP() << "this build takes every buffer from the heap";
    std::vector<std::thread> threads;
    std::vector<int> faults(3, 0);
    for (int t = 0; t < 3; ++t)
        threads.emplace_back([t, &faults] {
            for (int round = 0; round < 40; ++round) {
                PixelStore store((10 + (round + t) % 3 * 4) * kMiB);
                const uint8_t mark = static_cast<uint8_t>(t * 64 + round);
                // Every page, so that a buffer handed out twice shows another thread's mark.
                for (size_t i = 0; i < store.size(); i += 4096) store.data()[i] = mark;
                std::this_thread::yield();
                for (size_t i = 0; i < store.size(); i += 4096) faults[t] += store.data()[i] != mark;
            }
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(faults, std::vector<int>(3, 0));
}
