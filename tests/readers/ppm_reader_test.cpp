#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "graphics/errors.h"
#include "graphics/stream.h"
#include "readers/ppm_reader.h"
#include "tests/support/reference_decoders.h"
#include "tests/support/test_support.h"

namespace {

using namespace testsupport;
using Bytes = std::vector<uint8_t>;

Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

// The reader's picture on white, or the error it raised.
TBitmap Load(const std::string& path) {
    TPPMGraphic picture;
    TFileStream stream(path, TFileStream::Mode::OpenRead);
    picture.ReadPicture(stream);
    return FlattenOnWhite(picture);
}

TBitmap LoadBytes(const Bytes& bytes) {
    TPPMGraphic picture;
    TMemoryStream stream(bytes);
    picture.ReadPicture(stream);
    return FlattenOnWhite(picture);
}

// netpbm's own reading of a portable map, at 8 bits, as Pillow reads the PNG netpbm writes.
std::optional<TBitmap> NetpbmDecode(const std::string& path, TempDir& dir) {
    const std::string png = dir.file("reference.png");
    if (RunCommand("pamdepth 255 '" + path + "' 2>/dev/null | pnmtopng > '" + png + "' 2>/dev/null") != 0)
        return std::nullopt;
    return PillowDecode(png, "RGB");
}

bool HaveNetpbm() { return HaveProgram("pnmtopng") && HaveProgram("pamdepth") && HavePillow(); }

// A P6 file of noise beside smooth ramps, so scaling faults show at both ends of the range.
void WriteSourcePixmap(const std::string& path, int width, int height) {
    TBitmap noise = NoiseBitmap(width, height, 7);
    std::string text = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    Bytes bytes = ToBytes(text);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint8_t* p = noise.ScanLine(y) + x * 3;
            if (y % 2 == 0) {
                bytes.push_back(p[2]);
                bytes.push_back(p[1]);
                bytes.push_back(p[0]);
            } else {
                const auto ramp = static_cast<uint8_t>(x * 255 / (width - 1));
                bytes.insert(bytes.end(), {ramp, static_cast<uint8_t>(255 - ramp), ramp});
            }
        }
    WriteFile(path, bytes);
}

TEST(PPMReader, EveryTypeAndMaximumMatchesNetpbm) {
    if (!HaveNetpbm()) GTEST_SKIP() << "netpbm or Pillow missing (scripts/setup.sh)";
    TempDir dir;
    const std::string source = dir.file("source.ppm");
    WriteSourcePixmap(source, 13, 6);  // 13: bitmap rows end in a partial byte
    struct Case {
        const char* name;
        const char* pipeline;  // netpbm programs turning the source into the case's file
    };
    const Case cases[] = {
        {"P6 max 255", "cat"},
        {"P6 max 15", "pamdepth 15"},
        {"P6 max 1000 (two-byte samples)", "pamdepth 1000"},
        {"P6 max 65535", "pamdepth 65535"},
        {"P3 max 255", "pnmtoplainpnm"},
        {"P3 max 7", "pamdepth 7 | pnmtoplainpnm"},
        {"P3 max 65535", "pamdepth 65535 | pnmtoplainpnm"},
        {"P5 max 255", "ppmtopgm"},
        {"P5 max 100", "ppmtopgm | pamdepth 100"},
        {"P5 max 65535", "ppmtopgm | pamdepth 65535"},
        {"P2 max 255", "ppmtopgm | pnmtoplainpnm"},
        {"P2 max 3", "ppmtopgm | pamdepth 3 | pnmtoplainpnm"},
        {"P2 max 4095", "ppmtopgm | pamdepth 4095 | pnmtoplainpnm"},
        {"P4", "ppmtopgm | pgmtopbm -threshold"},
        {"P1", "ppmtopgm | pgmtopbm -threshold | pnmtoplainpnm"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = dir.file("case" + std::to_string(n++) + ".pnm");
        ASSERT_EQ(RunCommand("cat '" + source + "' | " + c.pipeline + " > '" + file + "'"), 0);
        const std::optional<TBitmap> wanted = NetpbmDecode(file, dir);
        ASSERT_TRUE(wanted) << "netpbm could not convert its own file";
        const TBitmap had = Load(file);
        std::string where;
        // Maximum 65535 is reduced like every 16-bit sample (v * 255 / 65535, truncated);
        // netpbm rounds, so those may be one lower.
        const int tolerance = std::string(c.name).find("65535") != std::string::npos ? 1 : 0;
        EXPECT_LE(MaxDifference(had, *wanted, &where), tolerance) << where;
    }
}

TEST(PPMReader, CorpusMapsMatchNetpbm) {
    REQUIRE_CORPUS(corpus);
    if (!HaveNetpbm()) GTEST_SKIP() << "netpbm or Pillow missing (scripts/setup.sh)";
    const std::filesystem::path folder = corpus / "pillow-samples" / "pnm";
    if (!std::filesystem::is_directory(folder)) GTEST_SKIP() << "no portable maps in the corpus";
    TempDir dir;
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string path = entry.path().string();
        SCOPED_TRACE(path);
        const std::optional<TBitmap> wanted = NetpbmDecode(path, dir);
        ASSERT_TRUE(wanted);
        const TBitmap had = Load(path);
        std::string where;
        // The 16-bit gray map: netpbm rounds where the reader truncates.
        const int tolerance = path.find("16bit") != std::string::npos ? 1 : 0;
        EXPECT_LE(MaxDifference(had, *wanted, &where), tolerance) << where;
        ++files;
    }
    EXPECT_GE(files, 1);
}

// Files netpbm does not write: the header forms the reader accepts beyond the plain layout,
// with the pixels they stand for (gray levels, or RGB triples).
TEST(PPMReader, HeaderFormsAndRefusals) {
    struct Case {
        const char* name;
        std::string file;
        int width, height;
        std::vector<uint32_t> pixels;  // 0xRRGGBB, row by row; empty: the load must fail
        const char* error = nullptr;
    };
    const uint32_t W = 0xFFFFFF, K = 0x000000;
    const Case cases[] = {
        {"plain bitmap row 1 0 1", "P1\n3 1\n1 0 1\n", 3, 1, {K, W, K}},
        {"plain bitmap digits without blanks, comment between rows", "P1 3 2\n101\n# row two\n010", 3, 2,
         {K, W, K, W, K, W}},
        {"values on the magic's line", "P2 2 1 15 0 15", 2, 1, {0x000000, 0xFFFFFF}},
        {"comment between width and height", "P3\n2\n# the height:\n1\n255\n1 2 3 4 5 6\n", 2, 1,
         {0x010203, 0x040506}},
        {"comment on the magic's line, CR LF ends", "P2 # gray\r\n1 1\r\n10 5\r\n", 1, 1, {0x808080}},
        {"binary after a comment ending the maximum", "P5 2 1 255#c\n\x10\x20", 2, 1, {0x101010, 0x202020}},
        {"binary bitmap 5 wide: one byte a row", "P4 5 2\n\xA8\x50", 5, 2, {K, W, K, W, K, W, K, W, K, W}},
        {"maximum 1 gray", "P2 2 1 1 1 0", 2, 1, {0xFFFFFF, 0x000000}},
        {"two-byte samples big-endian", "P5 2 1 1000\n\x03\xE8\x01\xF4", 2, 1,
         {0xFFFFFF, 0x808080}},
        {"type 7 is not a portable map", "P7 1 1 255\n\x01", 0, 0, {},
         "Cannot load image. Invalid or unexpected PBM, PGM or PPM image format."},
        {"no P", "Q6 1 1 255\n\x01\x02\x03", 0, 0, {},
         "Cannot load image. Invalid or unexpected PBM, PGM or PPM image format."},
        {"sample above the maximum", "P2 1 1 15 16", 0, 0, {},
         "Cannot load image. Invalid or unexpected PBM, PGM or PPM image format."},
        {"binary sample above the maximum", "P5 1 1 15\n\x10", 0, 0, {},
         "Cannot load image. Invalid or unexpected PBM, PGM or PPM image format."},
        {"empty picture", "P6 0 5 255\n", 0, 0, {},
         "Cannot load image. Invalid or unexpected PBM, PGM or PPM image format."},
        {"maximum above 65535", "P2 1 1 70000 5", 0, 0, {},
         "Cannot load image. Invalid or unexpected PBM, PGM or PPM image format."},
        {"raster cut short", "P5 2 2 255\n\x01\x02\x03", 0, 0, {}, "Stream read error in PPM file."},
        {"text raster cut short", "P3 1 1 255 1 2", 0, 0, {}, "Stream read error in PPM file."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.error) {
            try {
                LoadBytes(ToBytes(c.file));
                ADD_FAILURE() << "loaded";
            } catch (const EImbrixError& e) {
                EXPECT_STREQ(e.what(), c.error);
            }
            continue;
        }
        TBitmap had;
        try {
            had = LoadBytes(ToBytes(c.file));
        } catch (const EImbrixError& e) {
            ADD_FAILURE() << e.what();
            continue;
        }
        ASSERT_EQ(had.Width(), c.width);
        ASSERT_EQ(had.Height(), c.height);
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x) {
                const uint8_t* p = had.ScanLine(y) + x * 3;
                const uint32_t rgb = uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
                EXPECT_EQ(rgb, c.pixels[size_t(y * c.width + x)]) << "at " << x << "," << y;
            }
    }
}

TEST(PPMReader, PropertiesProbeAndRawBitmapBytes) {
    {
        TPPMGraphic picture;
        TMemoryStream stream(ToBytes("P1\n3 1\n1 0 1\n"));
        picture.ReadPicture(stream);
        EXPECT_EQ(picture.PixelFormat(), TPixelFormat::pf1bit);
        EXPECT_EQ(picture.ScanLine(0)[0], 0xA0) << "bits packed from the top, 1 is black";
    }
    TPPMGraphic reader;
    TMemoryStream big(ToBytes("P6 4 3 65535\n" + std::string(4 * 3 * 6, '\0')));
    ASSERT_TRUE(reader.ReadProperties(big, 0));
    EXPECT_EQ(reader.Properties.Width, 4u);
    EXPECT_EQ(reader.Properties.Height, 3u);
    EXPECT_EQ(reader.Properties.ColorScheme, ColorScheme::RGB);
    EXPECT_EQ(reader.Properties.BitsPerSample, 16);
    EXPECT_EQ(reader.Properties.BitsPerPixel, 48);
    EXPECT_TRUE(reader.Properties.Options & ImageOption::BigEndian);

    struct Probe {
        std::string bytes;
        bool is;
    };
    for (const Probe& p : {Probe{"P5 1 1 255\n\x01", true}, Probe{"P7 1 1 255\n\x01", false},
                           Probe{"P5 1 1 255", false}, Probe{"X5 1 1 255\n\x01", false}}) {
        TMemoryStream stream(ToBytes(p.bytes));
        EXPECT_EQ(TPPMGraphic::ProbeStream(stream), p.is) << p.bytes;
        EXPECT_EQ(stream.Position(), 0u);
    }
}

}  // namespace
