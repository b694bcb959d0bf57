// Photoshop files made at test time, one per mode, depth and compression, against Pillow's
// decode (ImageMagick's for CIE L*a*b*, which Pillow cannot turn into RGB).
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "graphics/errors.h"
#include "graphics/stream.h"
#include "readers/psd_reader.h"
#include "tests/readers/psd_tga_writers.h"
#include "tests/support/reference_decoders.h"
#include "tests/support/test_support.h"

using namespace testsupport;
using namespace testwriters;

namespace {

constexpr uint32_t kW = 37, kH = 23;  // odd sizes: rows that do not fill bytes or words

std::vector<Bytes> Planes(size_t count, size_t rowBytes, uint32_t seed, bool runs = true) {
    std::vector<Bytes> planes;
    for (size_t c = 0; c < count; ++c) {
        Bytes p = Noise(rowBytes * kH, seed + uint32_t(c));
        // Flat stretches give PackBits runs as well as literals.
        if (runs)
            for (size_t i = 0; i < p.size(); ++i)
                if ((i / 9) % 3 == 0) p[i] = uint8_t(c * 40 + i / 50);
        planes.push_back(std::move(p));
    }
    return planes;
}

// 16-bit planes whose high bytes are the 8-bit planes and low bytes noise.
std::vector<Bytes> Widen(const std::vector<Bytes>& planes) {
    std::vector<Bytes> out;
    for (const Bytes& p : planes) {
        Bytes wide(p.size() * 2);
        const Bytes low = Noise(p.size(), 99);
        for (size_t i = 0; i < p.size(); ++i) {
            wide[2 * i] = p[i];
            wide[2 * i + 1] = low[i];
        }
        out.push_back(std::move(wide));
    }
    return out;
}

PsdPicture Picture(uint16_t mode, std::vector<Bytes> planes, uint16_t compression, uint16_t depth = 8) {
    PsdPicture p;
    p.mode = mode;
    p.depth = depth;
    p.width = kW;
    p.height = kH;
    p.planes = std::move(planes);
    p.compression = compression;
    return p;
}

Bytes Palette() {
    Bytes pal = Noise(768, 7);
    pal[0] = pal[256] = pal[512] = 255;
    return pal;
}

struct GoldenCase {
    std::string name;
    Bytes file;
    Bytes reference;          // the file Pillow decodes instead, when it cannot read `file` the same way
    std::string pillowMode;   // "RGBA" blends alpha onto white, "RGB" ignores it
    int tolerance;
    bool viaImageMagick = false;  // ImageMagick writes a PNG that Pillow then reads
    bool linearLight = false;
};

std::vector<GoldenCase> GoldenCases() {
    std::vector<GoldenCase> cases;
    for (uint16_t comp : {uint16_t(0), uint16_t(1)}) {
        const std::string c = comp ? "packbits" : "raw";
        const auto gray = Planes(1, kW, 1), rgb = Planes(3, kW, 2), rgba = Planes(4, kW, 3), cmyk = Planes(4, kW, 4);
        cases.push_back({"gray " + c, PsdFile(Picture(1, gray, comp)), {}, "RGB", 0});
        cases.push_back({"duotone " + c, PsdFile(Picture(8, gray, comp)), {}, "RGB", 0});
        // A gray file with an extra channel shows the first one.
        cases.push_back({"gray with spot channel " + c, PsdFile(Picture(1, Planes(2, kW, 1), comp)),
                         PsdFile(Picture(1, gray, comp)), "RGB", 0});
        PsdPicture indexed = Picture(2, gray, comp);
        indexed.modeData = Palette();
        cases.push_back({"indexed " + c, PsdFile(indexed), {}, "RGB", 0});
        PsdPicture longPalette = indexed;
        longPalette.modeData.resize(768 + 33, 0xEE);  // extra colour mode data is skipped
        cases.push_back({"indexed, 801 bytes of mode data " + c, PsdFile(longPalette), PsdFile(indexed), "RGB", 0});
        cases.push_back({"rgb " + c, PsdFile(Picture(3, rgb, comp)), {}, "RGB", 0});
        cases.push_back({"rgba " + c, PsdFile(Picture(3, rgba, comp)), {}, "RGBA", 0});
        auto clear = rgba;
        std::fill(clear[3].begin(), clear[3].end(), 0);
        // Alpha that was never filled in: opaque, where Pillow would blank the picture.
        cases.push_back({"rgba, alpha all zero " + c, PsdFile(Picture(3, clear, comp)), {}, "RGB", 0});
        // Five channels: the fifth is read with the data but not shown.
        auto five = rgba;
        five.push_back(Noise(kW * kH, 55));
        cases.push_back({"rgb, five channels " + c, PsdFile(Picture(3, five, comp)), PsdFile(Picture(3, rgba, comp)),
                         "RGBA", 0});
        cases.push_back({"cmyk " + c, PsdFile(Picture(4, cmyk, comp)), {}, "RGB", 2});
        // Chroma kept moderate: out-of-gamut colours clip differently in every converter.
        auto lab = rgb;
        for (size_t k = 1; k < 3; ++k)
            for (auto& v : lab[k]) v = uint8_t(108 + v % 40);
        cases.push_back({"lab " + c, PsdFile(Picture(9, lab, comp)), {}, "RGB", 12, true, true});
        // Bitmap mode: one bit per pixel, set bits black as in ImageMagick (Pillow shows them
        // white).
        cases.push_back({"bitmap " + c, PsdFile(Picture(0, Planes(1, (kW + 7) / 8, 5, false), comp, 1)), {}, "RGB",
                         0, true});
        // 16 bits per sample come down to 8 (truncated, so one level below Pillow's 8-bit twin).
        cases.push_back({"gray 16 " + c, PsdFile(Picture(1, Widen(gray), comp, 16)), PsdFile(Picture(1, gray, comp)),
                         "RGB", 1});
        cases.push_back({"rgb 16 " + c, PsdFile(Picture(3, Widen(rgb), comp, 16)), PsdFile(Picture(3, rgb, comp)),
                         "RGB", 1});
        // 16-bit indices name the same palette entries as their 8-bit values.
        std::vector<Bytes> wideIndex = {Bytes(kW * kH * 2, 0)};
        for (size_t i = 0; i < gray[0].size(); ++i) wideIndex[0][2 * i + 1] = gray[0][i];
        PsdPicture indexed16 = Picture(2, wideIndex, comp, 16);
        indexed16.modeData = Palette();
        cases.push_back({"indexed 16 " + c, PsdFile(indexed16), PsdFile(indexed), "RGB", 0});
    }
    return cases;
}

std::optional<TBitmap> ReferenceDecode(const GoldenCase& c, const TempDir& dir) {
    const std::string ref = dir.file("reference.psd");
    WriteFile(ref, c.reference.empty() ? c.file : c.reference);
    if (!c.viaImageMagick) return PillowDecode(ref, c.pillowMode);
    if (!HaveProgram("/usr/bin/convert")) return std::nullopt;
    const std::string png = dir.file("reference.png");
    if (RunCommand("/usr/bin/convert '" + ref + "[0]' -colorspace sRGB -depth 8 '" + png + "' 2>/dev/null") != 0)
        return std::nullopt;
    auto decoded = PillowDecode(png, c.pillowMode);
    if (decoded && c.linearLight) {
        // The colour manager's L*a*b* conversion ends in linear-light RGB (it applies no sRGB
        // transfer curve), so the sRGB reference is taken back to linear light.
        for (int y = 0; y < decoded->Height(); ++y) {
            uint8_t* row = decoded->ScanLine(y);
            for (int x = 0; x < decoded->Width() * 3; ++x) {
                const double v = row[x] / 255.0;
                const double linear = v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
                row[x] = uint8_t(std::lround(linear * 255));
            }
        }
    }
    return decoded;
}

std::string LoadError(const Bytes& file) {
    TPSDGraphic reader;
    TMemoryStream stream(file);
    try {
        reader.ReadPicture(stream);
    } catch (const EImbrixError& e) {
        return e.what();
    }
    return "(loaded)";
}

}  // namespace

TEST(PSDReader, GoldenPairs) {
    if (!HavePillow()) GTEST_SKIP() << "Pillow not installed";
    TempDir dir;
    for (const GoldenCase& c : GoldenCases()) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file("case.psd");
        WriteFile(path, c.file);
        TPSDGraphic reader;
        reader.ReadPictureFile(path);
        auto wanted = ReferenceDecode(c, dir);
        if (!wanted) {
            ADD_FAILURE() << "the reference decoder refused the case";
            continue;
        }
        std::string where;
        const int diff = MaxDifference(FlattenOnWhite(reader), *wanted, &where);
        EXPECT_LE(diff, c.tolerance) << where;
    }
}

TEST(PSDReader, DamagedAndUnsupportedFilesSayWhy) {
    const Bytes rgb = PsdFile(Picture(3, Planes(3, kW, 2), 0));
    const Bytes packed = PsdFile(Picture(3, Planes(3, kW, 2), 1));
    const std::string invalid = "Cannot load image. Invalid or unexpected PSD or PDD image format.";
    struct Refusal {
        std::string name;
        std::function<void(Bytes&)> damage;
        std::string message;
    };
    const size_t compressionAt = 26 + 4 + 4 + 4;
    const std::vector<Refusal> refusals = {
        {"lower-case signature", [](Bytes& f) { f[1] = 'b'; f[2] = 'p'; f[3] = 's'; }, invalid},
        {"version 2", [](Bytes& f) { f[5] = 2; }, invalid},
        {"zip", [&](Bytes& f) { f[compressionAt + 1] = 2; },
         "Cannot load image. The compression scheme is not supported for PSD or PDD files."},
        {"zip with prediction", [&](Bytes& f) { f[compressionAt + 1] = 3; },
         "Cannot load image. The compression scheme is not supported for PSD or PDD files."},
        {"colour mode 6 (duotone-less spot)", [](Bytes& f) { f[25] = 6; }, "Invalid color format in PSD or PDD file."},
        {"raw data cut short", [](Bytes& f) { f.resize(f.size() - 5); }, "Stream read error"},
    };
    for (const Refusal& r : refusals) {
        Bytes file = rgb;
        r.damage(file);
        EXPECT_EQ(LoadError(file).substr(0, r.message.size()), r.message) << r.name;
    }
    // A row table whose counts run past the end of the file.
    Bytes file = packed;
    file[compressionAt + 2] = 0x7F;
    EXPECT_EQ(LoadError(file), invalid) << "row table beyond the file";
    Bytes cut = packed;
    cut.resize(cut.size() - 1);
    EXPECT_EQ(LoadError(cut), invalid) << "packed data one byte short of its table";

    EXPECT_EQ(LoadError(rgb), "(loaded)");
    TMemoryStream probe(file);
    EXPECT_TRUE(TPSDGraphic::ProbeStream(probe));
    Bytes lower = rgb;
    lower[1] = 'b';
    TMemoryStream lowerStream(lower);
    EXPECT_TRUE(TPSDGraphic::ProbeStream(lowerStream)) << "the probe ignores letter case";
    EXPECT_EQ(lowerStream.Position(), 0u);
}

TEST(PSDReader, CorpusMatchesPillow) {
    REQUIRE_CORPUS(corpus);
    if (!HavePillow()) GTEST_SKIP() << "Pillow not installed";
    const auto folder = corpus / "pillow-samples" / "psd";
    if (!std::filesystem::exists(folder)) GTEST_SKIP() << "no Photoshop samples";
    int seen = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        SCOPED_TRACE(entry.path().filename().string());
        TPSDGraphic reader;
        reader.ReadPictureFile(entry.path().string());
        auto wanted = PillowDecode(entry.path());
        ASSERT_TRUE(wanted);
        std::string where;
        EXPECT_EQ(MaxDifference(FlattenOnWhite(reader), *wanted, &where), 0) << where;
        ++seen;
    }
    EXPECT_GE(seen, 4);
}
