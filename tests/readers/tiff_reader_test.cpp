#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "graphics/errors.h"
#include "graphics/stream.h"
#include "readers/tiff_reader.h"
#include "tests/support/reference_decoders.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

struct TLoadResult {
    std::unique_ptr<TTIFFGraphic> picture;
    std::string error;  // empty when the load succeeded
};

TLoadResult Load(const fs::path& file) {
    TLoadResult result;
    if (file.extension() == ".eps") result.picture = std::make_unique<TEPSGraphic>();
    else result.picture = std::make_unique<TTIFFGraphic>();
    try {
        result.picture->ReadPictureFile(file.string());
    } catch (const std::exception& e) {
        result.error = e.what();
        if (result.error.empty()) result.error = "(empty message)";
    }
    return result;
}

std::vector<std::string> Split(const std::string& line, char sep) {
    std::vector<std::string> parts;
    std::stringstream in(line);
    for (std::string part; std::getline(in, part, sep);) parts.push_back(part);
    return parts;
}

// The cases, written once per test run.
const TempDir& GeneratedCases() {
    static TempDir dir;
    static const int status = RunCommand(std::string(kSystemPython) + " " + IMBRIX_TEST_SOURCE_DIR +
                                         "/tests/readers/make_tiff_cases.py " + dir.path().string());
    (void)status;
    return dir;
}

}  // namespace

// Golden pairs written at test time by make_tiff_cases.py (Pillow with libtiff encodes the
// strips, our own writer lays out byte orders, strips and tags): each file must give the
// reference picture's pixels, an empty picture, or its message.
TEST(TIFFReader, GoldenPairs) {
    if (!HavePillow()) GTEST_SKIP() << "Debian's Python with Pillow is not installed";
    const TempDir& dir = GeneratedCases();
    ASSERT_TRUE(fs::exists(dir.path() / "manifest.txt")) << "make_tiff_cases.py failed";
    std::ifstream manifest(dir.path() / "manifest.txt");
    int cases = 0;
    for (std::string line; std::getline(manifest, line);) {
        if (line.empty()) continue;
        const auto f = Split(line, '|');
        ASSERT_EQ(f.size(), 5u) << line;
        const std::string& name = f[0];
        const std::string& expect = f[2];
        SCOPED_TRACE("case " + name);
        ++cases;
        TLoadResult got = Load(f[1]);
        if (expect == "pixels") {
            ASSERT_EQ(got.error, "") << name;
            std::optional<TBitmap> wanted = PillowDecode(f[3]);
            ASSERT_TRUE(wanted) << name << ": Pillow could not read the reference " << f[3];
            TBitmap had = FlattenOnWhite(*got.picture);
            std::string where;
            EXPECT_LE(MaxDifference(had, *wanted, &where), std::stoi(f[4])) << name << ": " << where;
        } else if (expect == "empty") {
            EXPECT_EQ(got.error, "") << name;
            EXPECT_TRUE(got.picture->Empty()) << name;
        } else {
            EXPECT_EQ(got.error, expect) << name;
        }
    }
    EXPECT_GT(cases, 50);
}

// Properties read without decoding: resolution types other than RATIONAL are read as their
// type, two SHORTs in the value field keep their order in both byte orders, and a file that
// is not a TIFF is not one.
TEST(TIFFReader, PropertiesAndProbe) {
    if (!HavePillow()) GTEST_SKIP() << "Debian's Python with Pillow is not installed";
    const TempDir& dir = GeneratedCases();
    ASSERT_TRUE(fs::exists(dir.path() / "manifest.txt")) << "make_tiff_cases.py failed";
    struct {
        const char* file;
        float xres, yres;
        std::vector<uint8_t> subsampling;
    } const cases[] = {
        {"float_resolution.tif", 300, 150, {}},
        {"ycbcr_2x1.tif", 0, 0, {2, 1}},
        {"ycbcr_4x2.tif", 0, 0, {4, 2}},
    };
    for (const auto& c : cases) {
        TTIFFGraphic reader;
        TFileStream stream(dir.file(c.file), TFileStream::Mode::OpenRead);
        ASSERT_TRUE(TTIFFGraphic::ProbeStream(stream)) << c.file;
        EXPECT_EQ(stream.Position(), 0u);
        ASSERT_TRUE(reader.ReadProperties(stream, 0)) << c.file;
        EXPECT_FLOAT_EQ(reader.Properties.XResolution, c.xres) << c.file;
        EXPECT_FLOAT_EQ(reader.Properties.YResolution, c.yres) << c.file;
        if (!c.subsampling.empty()) {
            EXPECT_EQ(reader.Properties.YCbCrSubsampling, c.subsampling) << c.file;
        }
    }
    TFileStream eps(dir.file("eps.eps"), TFileStream::Mode::OpenRead);
    EXPECT_TRUE(TEPSGraphic::ProbeStream(eps));
    EXPECT_FALSE(TTIFFGraphic::ProbeStream(eps));
    TFileStream bad(dir.file("eps_bad_magic.eps"), TFileStream::Mode::OpenRead);
    EXPECT_FALSE(TEPSGraphic::ProbeStream(bad));
}

// Every TIFF of the shared corpus ends in a picture or a message, and the layouts the reader
// decodes match Pillow. Expected differences, by file:
// - 16-bit samples: ours are v * 255 / 65535 truncated, Pillow clips them to 255, so those
//   files are compared only for loading;
// - colour maps and 16-bit RGB: ours scale v * 255 / 65535, Pillow rounds (1 apart);
// - CIE L*a*b*: the colour manager's own conversion, not Pillow's (compared only for loading);
// - associated alpha (extra sample 1) is not unpremultiplied by us;
// - G4, old JPEG, LogLuv and old-style LZW are refused with the compression message, and
//   gray with alpha (two samples) with the colour-format message; tiled files load empty;
// - the orientation tag is not read (no corpus file sets anything but 1).
TEST(TIFFReader, CorpusAgainstPillow) {
    REQUIRE_CORPUS(corpus);
    const std::string unsupported = "Cannot load image. The compression scheme is not supported for TIF/TIFF files.";
    const std::set<std::string> refused = {"logluv-3c-16b.tiff", "ojpeg_zackthecat_subsamp22_single_strip.tiff",
                                           "quad-lzw-compat.tiff", "testfax4.tiff", "g4-fillorder-test.tif",
                                           "hopper_g4.tif"};
    const std::set<std::string> loadOnly = {"16bit.MM.cropped.tif", "16bit.MM.deflate.tif", "16bit.cropped.tif",
                                            "16bit.deflate.tif", "minisblack-1c-16b.tiff", "hopper.Lab.tif",
                                            "lab.tif", "32bpp-None.tiff", "pil136.tiff",
                                            "testfax3_bug54_1dnoEOL.tif"};
    const std::set<std::string> empty = {"quad-tile.jpg.tiff", "tiff_16bit_RGB.tiff", "tiff_tiled_raw.tif",
                                         "ojpeg_zackthecat_subsamp22_single_strip.tiff"};
    int files = 0, compared = 0;
    for (const char* folder : {"tiff-libtiff", "pillow-samples/tiff"}) {
        if (!fs::exists(corpus / folder)) continue;
        for (const auto& entry : fs::directory_iterator(corpus / folder)) {
            const std::string name = entry.path().filename().string();
            const std::string ext = entry.path().extension().string();
            if (ext != ".tif" && ext != ".tiff") continue;
            SCOPED_TRACE(name);
            ++files;
            TLoadResult got = Load(entry.path());
            if (name == "minisblack-2c-8b-alpha.tiff") {
                EXPECT_EQ(got.error, "Invalid color format in TIF/TIFF file.");
                continue;
            }
            if (empty.count(name)) {
                EXPECT_EQ(got.error, "");
                EXPECT_TRUE(got.picture->Empty());
                continue;
            }
            if (refused.count(name)) {
                EXPECT_EQ(got.error, unsupported);
                continue;
            }
            ASSERT_EQ(got.error, "");
            EXPECT_FALSE(got.picture->Empty());
            if (loadOnly.count(name)) continue;
            std::optional<TBitmap> wanted = PillowDecode(entry.path());
            if (!wanted) continue;
            std::string where;
            const bool scaled = got.picture->Properties.ColorScheme == ColorScheme::Indexed ||
                                got.picture->Properties.BitsPerSample == 16;
            const int tolerance = scaled ? 1 : 0;
            TBitmap had = FlattenOnWhite(*got.picture);
            EXPECT_LE(MaxDifference(had, *wanted, &where), tolerance) << where;
            ++compared;
        }
    }
    if (files == 0) GTEST_SKIP() << "no TIFF folders in the corpus";
    EXPECT_GT(compared, 10);
}
