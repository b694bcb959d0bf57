// The resampler following a producer that fills its source from the top: the same bytes as
// resampling the finished source, and a producer that fails or stops short never leaves the
// resampler waiting; its own failure and warnings reach the joining thread.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "graphics/bitmap.h"
#include "graphics/warning_sink.h"
#include "imageops/resample.h"
#include "imageops/rows_ready.h"
#include "tests/support/test_support.h"

using testsupport::NoiseBitmap;

namespace {

struct Outcome {
    std::vector<uint8_t> bytes;  // the target's rows
    std::string consumer;        // what the resampler threw, "" for nothing
    std::string producer;        // what Finish rethrew, "" for nothing
    std::vector<std::string> warnings;
    std::vector<uint8_t> told;  // the target's rows as they were when told final
};

// Copies `finished` into a fresh bitmap band by band on a producer thread (stopping after
// stopAt rows, by failing or by returning) while the resampler follows it.
// threads 0: through a ring of rows (ResampleFromRing) instead of a whole source bitmap.
Outcome Follow(const TBitmap& finished, int width, int height, const FilterEntry& filter, int threads, int band,
               int stopAt, bool fail) {
    Outcome outcome;
    WarningSink previous = SetWarningSink([&](const std::string& message) { outcome.warnings.push_back(message); });
    const bool ring = threads == 0;
    int ringRows = finished.Height();
    try {
        if (ring) ringRows = ResampleRingRows(finished.Height(), height, filter.kernel, filter.support);
    } catch (...) {
    }
    TBitmap source;
    source.SetPixelFormat(TPixelFormat::pf24bit);
    source.SetSizeForOverwrite(finished.Width(), ringRows);
    TBitmap target(width, height, TPixelFormat::pf24bit);
    {
        RowProducer producer([&](RowsReady& rows) {
            ShowWarning("first", WarningKind::Damage);
            for (int y = 0; y < finished.Height(); y += band) {
                const int end = std::min(y + band, finished.Height());
                if (end > stopAt) {
                    if (fail) throw std::runtime_error("cut short at " + std::to_string(y));
                    return;
                }
                for (int r = y; r < end; ++r) {
                    if (ring) {
                        rows.Advance(r);
                        rows.WaitReleased(r - ringRows + 1);
                    }
                    std::memcpy(source.ScanLine(r % ringRows), finished.ScanLine(r), size_t(finished.Width()) * 3);
                }
                if (y % (band * 4) == 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
                rows.Advance(end);
            }
            ShowWarning("last");
        });
        ResampleOptions options;
        options.threads = threads;
        options.sourceRows = &producer.Rows();
        // Told rows would make the resampler keep to one thread: only where it has one anyway.
        if (threads <= 1)
            options.targetRowsDone = [&](int rows) {
                for (int y = int(outcome.told.size()) / (width * 3); y < rows; ++y)
                    outcome.told.insert(outcome.told.end(), target.ScanLine(y), target.ScanLine(y) + width * 3);
            };
        try {
            if (ring)
                ResampleFromRing(source, finished.Height(), producer.Rows(), target, filter.kernel, filter.support,
                                 options);
            else
                ResampleBitmap(source, target, filter.kernel, filter.support, options);
        } catch (const std::exception& error) {
            outcome.consumer = error.what();
        }
        try {
            producer.Finish();
        } catch (const std::exception& error) {
            outcome.producer = error.what();
        }
    }
    SetWarningSink(std::move(previous));
    for (int y = 0; y < height; ++y) outcome.bytes.insert(outcome.bytes.end(), target.ScanLine(y), target.ScanLine(y) + width * 3);
    return outcome;
}

}  // namespace

TEST(RowsReady, ResamplerFollowingAProducerGivesTheSameBytes) {
    struct Case {
        int sw, sh, dw, dh, filter, threads, band;
    };
    const Case cases[] = {
        {301, 203, 150, 101, 5, 1, 16}, {301, 203, 150, 101, 5, 2, 16}, {97, 131, 37, 29, 0, 1, 1},
        {97, 131, 200, 250, 6, 2, 7},   {64, 9, 31, 3, 3, 1, 3},        {33, 400, 20, 100, 1, 2, 64},
        // Through a ring of rows (0 threads), shrinking, enlarging, every filter.
        {301, 203, 150, 101, 5, 0, 16}, {97, 131, 37, 29, 0, 0, 1},     {97, 131, 200, 250, 6, 0, 7},
        {64, 9, 31, 3, 3, 0, 3},        {33, 400, 20, 100, 1, 0, 64},   {120, 333, 61, 7, 2, 0, 5},
        {50, 90, 50, 45, 4, 0, 16},     {200, 60, 100, 59, 6, 0, 8},
    };
    for (const Case& c : cases) {
        const std::string name = std::string(c.threads == 0 ? "ring, " : "") + std::to_string(c.sw) + "x" + std::to_string(c.sh) + " to " + std::to_string(c.dw) +
                                 "x" + std::to_string(c.dh) + ", " + FilterTable[size_t(c.filter)].displayName +
                                 ", " + std::to_string(c.threads) + " threads, bands of " + std::to_string(c.band);
        SCOPED_TRACE(name);
        const TBitmap finished = NoiseBitmap(c.sw, c.sh, uint32_t(c.sw + c.band));
        TBitmap in = finished;
        TBitmap want(c.dw, c.dh, TPixelFormat::pf24bit);
        ResampleBitmap(in, want, FilterTable[size_t(c.filter)].kernel, FilterTable[size_t(c.filter)].support);
        std::vector<uint8_t> wantBytes;
        for (int y = 0; y < c.dh; ++y) wantBytes.insert(wantBytes.end(), want.ScanLine(y), want.ScanLine(y) + c.dw * 3);

        const Outcome got = Follow(finished, c.dw, c.dh, FilterTable[size_t(c.filter)], c.threads, c.band, c.sh, true);
        EXPECT_EQ(got.consumer, "");
        EXPECT_EQ(got.producer, "");
        EXPECT_TRUE(got.bytes == wantBytes) << "resampled bytes differ";
        if (c.threads <= 1) EXPECT_TRUE(got.told == wantBytes) << "rows told final differ";
        EXPECT_EQ(got.warnings, (std::vector<std::string>{"first", "last"}));
    }
}

TEST(RowsReady, AProducerThatStopsNeverLeavesTheConsumerWaiting) {
    struct Case {
        const char* name;
        int stopAt;  // rows made before the producer stops
        bool fail;
        int threads;
        const char* producer;  // what Finish raises
    };
    const Case cases[] = {
        {"fails before any row", 0, true, 1, "cut short at 0"},
        {"fails half-way", 100, true, 2, "cut short at 96"},
        {"fails at the last band", 199, true, 1, "cut short at 192"},
        {"returns half-way without failing", 100, false, 2, ""},
        {"ring: fails half-way", 100, true, 0, "cut short at 96"},
        {"ring: returns half-way without failing", 100, false, 0, ""},
    };
    const TBitmap finished = NoiseBitmap(120, 200, 9);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome got = Follow(finished, 60, 100, FilterTable[5], c.threads, 16, c.stopAt, c.fail);
        EXPECT_EQ(got.consumer, ERowsAbandoned().what());
        EXPECT_EQ(got.producer, c.producer);
        // Warnings given before the failure still reach the joining thread.
        EXPECT_EQ(got.warnings, std::vector<std::string>{"first"});
    }
    // A ring consumer that fails before it reads a row (a target without columns) does not
    // leave the producer waiting for room: every row comes, and Finish reports no failure.
    const Outcome got = Follow(finished, 0, 100, FilterTable[5], 0, 16, 200, true);
    EXPECT_EQ(got.consumer, "Target bitmap too small");
    EXPECT_EQ(got.producer, "");
    EXPECT_EQ(got.warnings, (std::vector<std::string>{"first", "last"}));
}
