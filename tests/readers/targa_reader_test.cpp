// Targa files made at test time (every image type, depth and row order, raw and run-length,
// with packets that cross row ends), against Pillow's decode; then the Truevision sample set
// against its reference pictures and Pillow's samples against Pillow.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>

#include "graphics/errors.h"
#include "graphics/stream.h"
#include "readers/targa_reader.h"
#include "tests/readers/psd_tga_writers.h"
#include "tests/support/reference_decoders.h"
#include "tests/support/test_support.h"

using namespace testsupport;
using namespace testwriters;

namespace {

constexpr uint16_t kW = 29, kH = 17;

// Noise with flat stretches, so run-length packets of both kinds (and across rows) appear.
Bytes Pixels(size_t pixelBytes, uint32_t seed) {
    Bytes p = Noise(size_t(kW) * kH * pixelBytes, seed);
    for (size_t i = 0; i < size_t(kW) * kH; ++i)
        if ((i / 7) % 3 == 0)
            for (size_t b = 0; b < pixelBytes; ++b) p[i * pixelBytes + b] = uint8_t(i / 21 * 13 + b);
    return p;
}

// The same file rows with the pixels of each row in reverse order.
Bytes MirrorRows(const Bytes& pixels, size_t pixelBytes) {
    Bytes out(pixels.size());
    const size_t row = size_t(kW) * pixelBytes;
    for (size_t y = 0; y < kH; ++y)
        for (size_t x = 0; x < kW; ++x)
            std::copy_n(pixels.begin() + y * row + x * pixelBytes, pixelBytes,
                        out.begin() + y * row + (kW - 1 - x) * pixelBytes);
    return out;
}

TgaPicture Picture(uint8_t type, uint8_t depth, Bytes pixels, uint8_t descriptor = 0) {
    TgaPicture p;
    p.imageType = type;
    p.depth = depth;
    p.width = kW;
    p.height = kH;
    p.descriptor = descriptor;
    p.pixels = std::move(pixels);
    return p;
}

struct GoldenCase {
    std::string name;
    Bytes file;
    Bytes reference;         // what Pillow decodes instead, when it reads `file` otherwise
    std::string pillowMode;  // "RGBA" blends alpha onto white, "RGB" ignores it
    int tolerance;
};

std::vector<GoldenCase> GoldenCases() {
    std::vector<GoldenCase> cases;
    for (bool rle : {false, true}) {
        for (uint8_t origin : {uint8_t(0), uint8_t(0x20)}) {
            const std::string v = std::string(rle ? " rle" : " raw") + (origin ? " top-down" : " bottom-up");
            auto add = [&](const std::string& name, TgaPicture p, std::string mode, int tolerance,
                           const TgaPicture* reference = nullptr) {
                if (rle) p.imageType += 8;
                p.descriptor |= origin;
                // Pillow's decoder refuses packets that cross a row end, so its twin keeps
                // packets within rows: the carried-over remainders must land where it has them.
                TgaPicture r = reference ? *reference : p;
                if (reference && rle) r.imageType += 8;
                r.descriptor |= origin;
                r.packetsCrossRows = false;
                const Bytes ref = TgaFile(r);
                cases.push_back({name + v, TgaFile(p), ref, mode, tolerance});
            };
            TgaPicture mapped = Picture(1, 8, Pixels(1, 1));
            mapped.map = Noise(256 * 3, 2);
            mapped.mapBits = 24;
            add("colour-mapped, 24-bit map", mapped, "RGB", 0);
            TgaPicture map32 = mapped;
            map32.map = Noise(256 * 4, 3);
            map32.mapBits = 32;
            // Pillow reads no 32-bit maps: its reference is the 24-bit map of the same colours.
            TgaPicture map32as24 = mapped;
            for (size_t i = 0; i < 256; ++i) std::copy_n(map32.map.begin() + 4 * i, 3, map32as24.map.begin() + 3 * i);
            add("colour-mapped, 32-bit map", map32, "RGB", 0, &map32as24);
            // 5-bit map entries are shifted up (low bits zero); Pillow scales them to 255.
            TgaPicture map16 = mapped;
            map16.map = Noise(256 * 2, 4);
            map16.mapBits = 16;
            add("colour-mapped, 16-bit map", map16, "RGB", 7);
            // Indices name entries counted from the map's first entry field.
            TgaPicture offset = mapped;
            offset.mapFirst = 40;
            offset.map.resize(216 * 3);
            for (auto& i : offset.pixels) i = uint8_t(std::max<int>(i, 40));
            add("colour-mapped, map from entry 40", offset, "RGB", 0);
            // Pillow refuses depth 15; the same pixels as depth 16 are its reference.
            const TgaPicture as16 = Picture(2, 16, Pixels(2, 5));
            add("true colour 15", Picture(2, 15, Pixels(2, 5)), "RGB", 7, &as16);
            // The attribute bit of 16-bit pixels is not alpha.
            add("true colour 16", Picture(2, 16, Pixels(2, 6)), "RGB", 7);
            add("true colour 24", Picture(2, 24, Pixels(3, 7)), "RGB", 0);
            add("true colour 32, 8 alpha bits", Picture(2, 32, Pixels(4, 8), 8), "RGBA", 0);
            // Alpha the descriptor does not claim, or that is all zero, leaves the picture opaque.
            add("true colour 32, no alpha bits", Picture(2, 32, Pixels(4, 8), 0), "RGB", 0);
            Bytes clear = Pixels(4, 9);
            for (size_t i = 3; i < clear.size(); i += 4) clear[i] = 0;
            add("true colour 32, alpha all zero", Picture(2, 32, clear, 8), "RGB", 0);
            add("gray", Picture(3, 8, Pixels(1, 10)), "RGB", 0);
            // A gray file's colour map is skipped; the gray ramp is used.
            TgaPicture grayMap = Picture(3, 8, Pixels(1, 10));
            grayMap.map = Noise(20 * 3, 11);
            grayMap.mapBits = 24;
            const TgaPicture gray = Picture(3, 8, Pixels(1, 10));
            add("gray with a colour map", grayMap, "RGB", 0, &gray);
            add("gray with alpha", Picture(3, 16, Pixels(2, 12), 8), "RGBA", 0);
            TgaPicture withId = Picture(2, 24, Pixels(3, 13));
            withId.id = Noise(8, 14);
            add("true colour 24, 8-byte image ID", withId, "RGB", 0);
            // Right-to-left rows are mirrored; Pillow ignores the bit, so it reads the mirrored twin.
            const Bytes rgb = Pixels(3, 15);
            const TgaPicture unmirrored = Picture(2, 24, MirrorRows(rgb, 3));
            add("true colour 24, right to left", Picture(2, 24, rgb, 0x10), "RGB", 0, &unmirrored);
        }
    }
    return cases;
}

std::string LoadError(const Bytes& file) {
    TTargaGraphic reader;
    TMemoryStream stream(file);
    try {
        reader.ReadPicture(stream);
    } catch (const EImbrixError& e) {
        return e.what();
    }
    return "(loaded)";
}

int CompareWithReference(const std::filesystem::path& tga, const std::filesystem::path& reference,
                         const std::string& mode, std::string* where) {
    TTargaGraphic reader;
    reader.ReadPictureFile(tga.string());
    auto wanted = PillowDecode(reference, mode);
    if (!wanted) {
        *where = "the reference decoder refused it";
        return 256;
    }
    return MaxDifference(FlattenOnWhite(reader), *wanted, where);
}

}  // namespace

TEST(TargaReader, GoldenPairs) {
    if (!HavePillow()) GTEST_SKIP() << "Pillow not installed";
    TempDir dir;
    for (const GoldenCase& c : GoldenCases()) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file("case.tga"), ref = dir.file("reference.tga");
        WriteFile(path, c.file);
        WriteFile(ref, c.reference.empty() ? c.file : c.reference);
        std::string where;
        EXPECT_LE(CompareWithReference(path, ref, c.pillowMode, &where), c.tolerance) << where;
    }
}

TEST(TargaReader, DamagedFiles) {
    const Bytes rgb = TgaFile(Picture(2, 24, Pixels(3, 1)));
    const std::string invalid = "Cannot load image. Invalid or unexpected Targa image format.";
    struct Case {
        std::string name;
        std::function<void(Bytes&)> damage;
        std::string outcome;  // a message, or "(loaded)"
    };
    const std::vector<Case> cases = {
        {"image type 0 (no image data)", [](Bytes& f) { f[2] = 0; }, invalid},
        {"image type 4", [](Bytes& f) { f[2] = 4; }, invalid},
        {"pixel depth 12", [](Bytes& f) { f[16] = 12; }, invalid},
        {"raw rows cut short", [](Bytes& f) { f.resize(f.size() - 1); }, "Stream read error"},
        {"header cut short", [](Bytes& f) { f.resize(10); }, "Stream read error"},
    };
    for (const Case& c : cases) {
        Bytes file = rgb;
        c.damage(file);
        EXPECT_EQ(LoadError(file).substr(0, c.outcome.size()), c.outcome) << c.name;
    }

    // Run-length data that ends early keeps what arrived; the rest is black.
    Bytes packed = TgaFile(Picture(10, 24, Bytes(size_t(kW) * kH * 3, 0xC8), 0x20));
    packed.resize(packed.size() - 4);  // drops the last packets' pixels
    TTargaGraphic reader;
    TMemoryStream stream(packed);
    reader.ReadPicture(stream);
    EXPECT_EQ(reader.Pixel(0, 0), RGBColor(0xC8, 0xC8, 0xC8));
    EXPECT_EQ(reader.Pixel(kW - 1, kH - 1), RGBColor(0, 0, 0));

    TMemoryStream probe(rgb);
    EXPECT_FALSE(TTargaGraphic::ProbeStream(probe)) << "a true-colour file with no map entry size";
    Bytes withSize = rgb;
    withSize[7] = 24;
    TMemoryStream probe2(withSize);
    EXPECT_TRUE(TTargaGraphic::ProbeStream(probe2));
    EXPECT_EQ(probe2.Position(), 0u);
}

TEST(TargaReader, TruevisionSamplesMatchTheirReferences) {
    REQUIRE_CORPUS(corpus);
    if (!HavePillow()) GTEST_SKIP() << "Pillow not installed";
    const auto folder = corpus / "tga-truevision";
    if (!std::filesystem::exists(folder)) GTEST_SKIP() << "no Truevision samples";
    // Where this reader differs from the references, on purpose:
    //  - utc32's alpha is all zero, which this reader shows opaque (the reference is empty);
    //  - 5-bit colour map entries are shifted to 8 bits, the references scale them (<= 7 off);
    //  - ucm8, ccm8 and utc16 have no reference picture and are compared with Pillow.
    const std::map<std::string, std::pair<std::string, int>> special = {
        {"utc32.tga", {"RGB", 0}}, {"b5-cmap.tga", {"RGBA", 7}}, {"ucm8.tga", {"RGB", 7}},
        {"ccm8.tga", {"RGB", 7}},  {"utc16.tga", {"RGB", 1}},
    };
    int seen = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() != ".tga") continue;
        const std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        auto reference = folder / "reference-image-rs" / (name + ".png");
        if (!std::filesystem::exists(reference)) reference = entry.path();
        auto [mode, tolerance] = special.count(name) ? special.at(name) : std::pair<std::string, int>{"RGBA", 1};
        std::string where;
        EXPECT_LE(CompareWithReference(entry.path(), reference, mode, &where), tolerance) << where;
        ++seen;
    }
    EXPECT_EQ(seen, 17);
}

TEST(TargaReader, PillowSamplesMatchPillow) {
    REQUIRE_CORPUS(corpus);
    if (!HavePillow()) GTEST_SKIP() << "Pillow not installed";
    const auto folder = corpus / "pillow-samples" / "tga";
    if (!std::filesystem::exists(folder)) GTEST_SKIP() << "no Pillow Targa samples";
    // rgb32rle's descriptor claims no alpha bits, so it is opaque here; rgba16's attribute bit
    // is not taken as alpha; p_16's 5-bit map entries are shifted, not scaled.
    const std::map<std::string, std::pair<std::string, int>> special = {
        {"rgb32rle.tga", {"RGB", 0}}, {"rgba16.tga", {"RGB", 1}}, {"p_16.tga", {"RGB", 7}}};
    int seen = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (entry.path().extension() != ".tga") continue;
        const std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        auto [mode, tolerance] = special.count(name) ? special.at(name) : std::pair<std::string, int>{"RGBA", 0};
        std::string where;
        EXPECT_LE(CompareWithReference(entry.path(), entry.path(), mode, &where), tolerance) << where;
        ++seen;
    }
    EXPECT_GE(seen, 7);
}
