#include <gtest/gtest.h>

#include "graphics/bitmap.h"
#include "graphics/errors.h"
#include "imageops/rotate.h"
#include "pixel_compare.h"
#include "tests/support/test_support.h"

using imageops_test::PixelAt;
using imageops_test::SamePixels;
using imageops_test::SetPixelBytes;
using testsupport::NoiseBitmap;

namespace {

std::array<uint8_t, 3> P(uint8_t v) { return {v, uint8_t(v + 1), uint8_t(v + 2)}; }

TBitmap FromRows(const std::vector<std::vector<uint8_t>>& rows) {
    TBitmap bmp(int(rows[0].size()), int(rows.size()), TPixelFormat::pf24bit);
    for (size_t y = 0; y < rows.size(); ++y)
        for (size_t x = 0; x < rows[y].size(); ++x) SetPixelBytes(bmp, int(x), int(y), P(rows[y][x]));
    return bmp;
}

}  // namespace

TEST(Rotate, ThreeByTwoExample) {
    enum : uint8_t { a = 10, b = 20, c = 30, d = 40, e = 50, f = 60 };
    const TBitmap in = FromRows({{a, b, c}, {d, e, f}});
    EXPECT_TRUE(SamePixels(*RotateRight90(in), FromRows({{d, a}, {e, b}, {f, c}})));
    EXPECT_TRUE(SamePixels(*RotateHalfTurn(in), FromRows({{f, e, d}, {c, b, a}})));
    EXPECT_TRUE(SamePixels(*RotateLeft90(in), FromRows({{c, f}, {b, e}, {a, d}})));
    EXPECT_TRUE(SamePixels(*RotateBitmap(1, in), *RotateRight90(in)));
    EXPECT_TRUE(SamePixels(*RotateBitmap(2, in), *RotateHalfTurn(in)));
    EXPECT_TRUE(SamePixels(*RotateBitmap(3, in), *RotateLeft90(in)));
}

TEST(Rotate, IndexOutsideOneToThreeGivesNothing) {
    const TBitmap in = NoiseBitmap(4, 3);
    EXPECT_EQ(RotateBitmap(0, in), nullptr);
    EXPECT_EQ(RotateBitmap(4, in), nullptr);
    EXPECT_EQ(RotateBitmap(-1, in), nullptr);
    const TBitmap dot = NoiseBitmap(1, 1, 7);
    for (int index = 1; index <= 3; ++index) {
        auto out = RotateBitmap(index, dot);
        ASSERT_NE(out, nullptr);
        EXPECT_TRUE(SamePixels(*out, dot)) << "index " << index;
        EXPECT_EQ(out->PixelFormat(), TPixelFormat::pf24bit);
    }
}

// Every pixel against the mapping, on a picture of several uneven bands whose height is not a
// multiple of the 4-row blocks, with one thread and with several, with and without vectors.
TEST(Rotate, EveryPixelGoesWhereItShould) {
    const int W = 150, H = 97;
    const TBitmap in = NoiseBitmap(W, H, 11);
    for (auto [threads, wide] : {std::pair{1, true}, std::pair{3, true}, std::pair{2, false}}) {
        SCOPED_TRACE(testing::Message() << threads << " threads" << (wide ? ", wide vectors" : ", plain"));
        const auto right = RotateBitmap(1, in, threads, wide);
        const auto half = RotateBitmap(2, in, threads, wide);
        const auto left = RotateBitmap(3, in, threads, wide);
        ASSERT_EQ(right->Width(), H);
        ASSERT_EQ(right->Height(), W);
        ASSERT_EQ(left->Width(), H);
        ASSERT_EQ(half->Width(), W);
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const auto p = PixelAt(in, x, y);
                ASSERT_EQ(PixelAt(*right, H - 1 - y, x), p) << "right, input (" << x << ", " << y << ")";
                ASSERT_EQ(PixelAt(*half, W - 1 - x, H - 1 - y), p) << "half, input (" << x << ", " << y << ")";
                ASSERT_EQ(PixelAt(*left, y, W - 1 - x), p) << "left, input (" << x << ", " << y << ")";
            }
    }
}

TEST(Rotate, TurnsCancel) {
    const TBitmap in = NoiseBitmap(131, 70, 12);
    const TBitmap before = in;
    auto r = RotateRight90(in);
    r = RotateRight90(*r);
    r = RotateRight90(*r);
    r = RotateRight90(*r);
    EXPECT_TRUE(SamePixels(*r, in)) << "four right turns";
    EXPECT_TRUE(SamePixels(*RotateLeft90(*RotateRight90(in)), in)) << "right then left";
    EXPECT_TRUE(SamePixels(*RotateHalfTurn(*RotateHalfTurn(in)), in)) << "two half turns";
    EXPECT_TRUE(SamePixels(*RotateHalfTurn(*RotateLeft90(in)), *RotateRight90(in))) << "left + half = right";
    EXPECT_TRUE(SamePixels(in, before)) << "the input was changed";
}

TEST(Rotate, RowsLongerThan65536PixelsAreARangeError) {
    const TBitmap wide(65537, 1, TPixelFormat::pf24bit);
    const TBitmap tall(1, 65537, TPixelFormat::pf24bit);
    EXPECT_THROW(RotateRight90(wide), ERangeError);
    EXPECT_THROW(RotateLeft90(wide), ERangeError);
    EXPECT_THROW(RotateHalfTurn(wide), ERangeError);
    // A tall input is fine for the half turn (its rows are short) but not for quarter turns.
    EXPECT_THROW(RotateRight90(tall), ERangeError);
    EXPECT_THROW(RotateLeft90(tall), ERangeError);
    EXPECT_EQ(RotateHalfTurn(tall)->Height(), 65537);
    try {
        RotateRight90(wide);
    } catch (const EImbrixError& e) {
        EXPECT_STREQ(e.what(), "Range check error");
    }
    // Exactly 65536 is still allowed.
    TBitmap longest(1, 65536, TPixelFormat::pf24bit);
    SetPixelBytes(longest, 0, 65535, P(99));
    const auto turned = RotateRight90(longest);
    ASSERT_EQ(turned->Width(), 65536);
    EXPECT_EQ(PixelAt(*turned, 0, 0), P(99));
}

// Other pixel formats are turned as their 24-bit conversion; the input stays as it was.
TEST(Rotate, IndexedInputIsTurnedAsTwentyFourBit) {
    TBitmap indexed(5, 3, TPixelFormat::pf8bit);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) indexed.SetRawPixel(x, y, uint32_t(x * 40 + y * 3));
    TBitmap as24 = indexed;
    as24.SetPixelFormat(TPixelFormat::pf24bit);
    const auto out = RotateRight90(indexed);
    EXPECT_EQ(indexed.PixelFormat(), TPixelFormat::pf8bit);
    EXPECT_EQ(out->PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_TRUE(SamePixels(*out, *RotateRight90(as24)));
}

TEST(Rotate, EmptyInputGivesEmptyResult) {
    const TBitmap empty(0, 4, TPixelFormat::pf24bit);
    const auto r = RotateRight90(empty);
    EXPECT_EQ(r->Width(), 4);
    EXPECT_EQ(r->Height(), 0);
    EXPECT_EQ(RotateHalfTurn(empty)->Width(), 0);
}

// Each stored orientation, its upright picture built from the existing turns (and a mirror
// that is checked pixel by pixel below), on uneven sizes, for every thread and vector choice.
TEST(Orient, EveryOrientationMatchesTheTurnsItIsMadeOf) {
    for (auto [W, H] : {std::pair{150, 97}, std::pair{7, 3}, std::pair{1, 5}, std::pair{70, 131}}) {
        const TBitmap in = NoiseBitmap(W, H, uint32_t(W * H));
        // The plain mirror, pixel by pixel: the other orientations are built on it.
        const auto mirrored = MirrorLeftRight(in);
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                ASSERT_EQ(PixelAt(*mirrored, W - 1 - x, y), PixelAt(in, x, y)) << W << "x" << H << " at " << x << "," << y;
        const std::unique_ptr<TBitmap> want[9] = {
            nullptr, nullptr,          MirrorLeftRight(in),
            RotateHalfTurn(in),        MirrorLeftRight(*RotateHalfTurn(in)),
            MirrorLeftRight(*RotateRight90(in)), RotateRight90(in),
            MirrorLeftRight(*RotateLeft90(in)),  RotateLeft90(in)};
        for (int orientation = 2; orientation <= 8; ++orientation)
            for (auto [threads, wide] : {std::pair{1, true}, std::pair{3, true}, std::pair{2, false}}) {
                const auto have = OrientUpright(orientation, in, threads, wide);
                ASSERT_NE(have, nullptr);
                EXPECT_TRUE(SamePixels(*have, *want[orientation]))
                    << W << "x" << H << " orientation " << orientation << ", " << threads << " threads"
                    << (wide ? ", wide" : ", plain");
            }
        for (int orientation = 2; orientation <= 8; ++orientation) {
            TBitmap inPlace = in;
            const bool done = OrientUprightInPlace(orientation, inPlace, orientation == 3 ? 2 : 1);
            EXPECT_EQ(done, orientation <= 4) << orientation;
            EXPECT_TRUE(SamePixels(inPlace, done ? *want[orientation] : in))
                << W << "x" << H << " orientation " << orientation << " in place";
        }
        EXPECT_TRUE(SamePixels(*MirrorTopBottom(in), *want[4]));
        EXPECT_TRUE(SamePixels(*Transpose(in), *want[5]));
        EXPECT_TRUE(SamePixels(*Transverse(in), *want[7]));
    }
}

TEST(Orient, NormalAndUnknownOrientationsGiveNothing) {
    const TBitmap in = NoiseBitmap(4, 3);
    for (int orientation : {0, 1, 9, -1, 65535}) EXPECT_EQ(OrientUpright(orientation, in), nullptr) << orientation;
}

// The rotation control's row limit does not apply: a long panorama can still be stood up.
TEST(Orient, NoRowLimitAndIndexedInput) {
    TBitmap tall(1, 65537, TPixelFormat::pf24bit);
    SetPixelBytes(tall, 0, 65536, P(42));
    const auto up = OrientUpright(8, tall);
    ASSERT_EQ(up->Width(), 65537);
    EXPECT_EQ(PixelAt(*up, 65536, 0), P(42));
    TBitmap indexed(5, 3, TPixelFormat::pf8bit);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) indexed.SetRawPixel(x, y, uint32_t(x * 40 + y * 3));
    TBitmap as24 = indexed;
    as24.SetPixelFormat(TPixelFormat::pf24bit);
    for (int orientation = 2; orientation <= 8; ++orientation)
        EXPECT_TRUE(SamePixels(*OrientUpright(orientation, indexed), *OrientUpright(orientation, as24))) << orientation;
}
