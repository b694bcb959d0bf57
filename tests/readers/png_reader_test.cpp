// The PNG reader against Pillow: golden files of every colour type and depth (interlaced and
// not, every filter, split image data) made at test time, the PngSuite corpus, damaged and
// hostile files, and icons holding PNG entries.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "graphics/errors.h"
#include "graphics/platform_graphics.h"
#include "graphics/size_check.h"
#include "graphics/stream.h"
#include "readers/png_reader.h"
#include "tests/support/png_chunks.h"
#include "tests/support/reference_decoders.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

std::string CasesScript() {
    const char* source = std::getenv("IMBRIX_SOURCE");
    return std::string(source ? source : IMBRIX_TEST_SOURCE_DIR) + "/tests/readers/png_cases.py";
}

struct TReference {
    int width = 0, height = 0;
    uint32_t gamma = 0;  // gAMA value, 0 for none
    std::vector<uint8_t> rgba;
};

std::optional<TReference> LoadReference(const fs::path& file) {
    if (!fs::exists(file)) return std::nullopt;
    const std::vector<uint8_t> raw = ReadFile(file.string());
    TReference r;
    // The header ends at the first line feed; the pixels may start with white-space bytes.
    const auto newline = std::find(raw.begin(), raw.end(), uint8_t('\n'));
    if (newline == raw.end()) return std::nullopt;
    const std::string head(raw.begin(), newline);
    if (std::sscanf(head.c_str(), "%d %d %u", &r.width, &r.height, &r.gamma) != 3) return std::nullopt;
    r.rgba.assign(newline + 1, raw.end());
    if (r.rgba.size() != size_t(r.width) * size_t(r.height) * 4) return std::nullopt;
    return r;
}

// Pillow's pixels through the gamma table the file asks for, then onto white.
TBitmap Expected(const TReference& r) {
    TColorManager cm;
    if (r.gamma) cm.SetGammaValues(float(r.gamma / 100000.0), 2.2f);
    const auto& table = cm.GammaTable();
    TBitmap out(r.width, r.height, TPixelFormat::pf24bit);
    for (int y = 0; y < r.height; ++y)
        for (int x = 0; x < r.width; ++x) {
            const uint8_t* p = &r.rgba[(size_t(y) * r.width + x) * 4];
            const unsigned a = p[3];
            uint8_t c[3];
            for (int i = 0; i < 3; ++i) {
                const unsigned v = r.gamma ? table[p[i]] : p[i];
                c[i] = static_cast<uint8_t>((v * a + 255 * (255 - a) + 127) / 255);
            }
            out.SetPixel(x, y, RGBColor(c[0], c[1], c[2]));
        }
    return out;
}

TBitmap LoadPng(const std::string& path) {
    TFileStream stream(path, TFileStream::Mode::OpenRead);
    TPNGGraphic png;
    png.ReadPicture(stream);
    return FlattenOnWhite(png);
}

std::string LoadError(const std::vector<uint8_t>& bytes) {
    TMemoryStream stream(bytes);
    TPNGGraphic png;
    try {
        png.ReadPicture(stream);
    } catch (const EImbrixError& e) {
        return e.what();
    }
    return "";
}


// Compares every listed file with its reference; returns the failures, one line each.
std::string CompareAll(const fs::path& folder, const std::vector<std::string>& names, const fs::path& refs,
                       size_t* compared) {
    std::string failures;
    for (const std::string& name : names) {
        const auto ref = LoadReference(refs / (fs::path(name).stem().string() + ".rgba"));
        if (!ref) {
            failures += name + ": Pillow gave no reference\n";
            continue;
        }
        // IHDR: depth at byte 24, colour type at 25.
        const std::vector<uint8_t> file = ReadFile((folder / name).string());
        const bool sixteenColour = file.size() > 25 && file[24] == 16 && file[25] != 0;
        try {
            const TBitmap had = LoadPng((folder / name).string());
            std::string where;
            const TBitmap wanted = Expected(*ref);
            int diff = MaxDifference(had, wanted, &where);
            if (diff > 0 && sixteenColour && diff < 256) {
                // Pillow keeps the high byte of 16-bit colour samples (v / 256), the reader
                // reduces them as v * 255 / 65535 = v / 257: one less or the same, before the
                // gamma table. Each channel may match either.
                TReference lower = *ref;
                for (size_t i = 0; i < lower.rgba.size(); ++i)
                    if (lower.rgba[i] > 0 && (i % 4 != 3 || lower.rgba[i] < 255)) --lower.rgba[i];
                const TBitmap alternative = Expected(lower);
                diff = 0;
                for (int y = 0; y < had.Height(); ++y)
                    for (int x = 0; x < had.Width(); ++x)
                        for (int s = 0; s < 24; s += 8) {
                            auto at = [&](const TBitmap& b) { return int((b.Pixel(x, y) >> s) & 255); };
                            const int d = std::min(std::abs(at(had) - at(wanted)), std::abs(at(had) - at(alternative)));
                            if (d > diff) {
                                diff = d;
                                where = "at (" + std::to_string(x) + "," + std::to_string(y) + ")";
                            }
                        }
            }
            // With 16-bit alpha reduced the same two ways, the blend may land one step apart.
            const bool sixteenAlpha = sixteenColour && (file[25] == 4 || file[25] == 6);
            if (diff > (sixteenAlpha ? 1 : 0)) failures += name + ": differs by " + std::to_string(diff) + " " + where + "\n";
        } catch (const std::exception& e) {
            failures += name + ": " + e.what() + "\n";
        }
        ++*compared;
    }
    return failures;
}

void MakeReferences(const fs::path& refs, const std::vector<fs::path>& files) {
    std::string command = std::string(kSystemPython) + " " + CasesScript() + " ref " + refs.string();
    for (const fs::path& f : files) command += " '" + f.string() + "'";
    ASSERT_EQ(RunCommand(command), 0);
}

// An 8-bit gray picture of w x h whose rows are all value v, filter None.
std::vector<uint8_t> GrayRows(uint32_t w, uint32_t h, uint8_t v) {
    std::vector<uint8_t> raw;
    for (uint32_t y = 0; y < h; ++y) {
        raw.push_back(0);
        raw.insert(raw.end(), w, v);
    }
    return raw;
}

}  // namespace

TEST(PngReader, GoldenFilesMatchPillow) {
    if (!HavePillow()) GTEST_SKIP() << "Pillow not installed";
    TempDir dir;
    ASSERT_EQ(RunCommand(std::string(kSystemPython) + " " + CasesScript() + " make " + dir.path().string()), 0);
    std::vector<std::string> names;
    std::vector<fs::path> files;
    std::ifstream list(dir.file("cases.txt"));
    for (std::string line; std::getline(list, line);)
        if (!line.empty()) {
            names.push_back(line);
            files.push_back(dir.path() / line);
        }
    ASSERT_GT(names.size(), 90u);
    fs::create_directory(dir.path() / "ref");
    MakeReferences(dir.path() / "ref", files);
    size_t compared = 0;
    EXPECT_EQ(CompareAll(dir.path(), names, dir.path() / "ref", &compared), "");
    EXPECT_EQ(compared, names.size());
}

TEST(PngReader, PngSuiteMatchesPillowOrFailsClearly) {
    REQUIRE_CORPUS(corpus);
    if (!HavePillow()) GTEST_SKIP() << "Pillow not installed";
    const fs::path suite = corpus / "pngsuite";
    static const std::map<std::string, std::string> kBroken = {
        {"xc1n0g08.png", "Invalid color format in PNG file."},   // colour type 1
        {"xc9n2c08.png", "Invalid color format in PNG file."},   // colour type 9
        {"xd0n2c08.png", "Invalid color format in PNG file."},   // depth 0
        {"xd3n2c08.png", "Invalid color format in PNG file."},   // depth 3
        {"xd9n2c08.png", "Invalid color format in PNG file."},   // depth 99
        {"xcrn0g04.png", "Cannot load image. Invalid or unexpected PNG image format."},  // CR added
        {"xlfn0g04.png", "Cannot load image. Invalid or unexpected PNG image format."},  // LF added
        {"xs1n0g01.png", "Cannot load image. Invalid or unexpected PNG image format."},  // signature bytes
        {"xs2n0g01.png", "Cannot load image. Invalid or unexpected PNG image format."},
        {"xs4n0g01.png", "Cannot load image. Invalid or unexpected PNG image format."},
        {"xs7n0g01.png", "Cannot load image. Invalid or unexpected PNG image format."},
        {"xdtn0g01.png", "Cannot load image. Invalid or unexpected PNG image format."},  // no IDAT
        {"xcsn0g01.png", "Cannot load image. CRC error found in PNG file."},
        {"xhdn0g08.png", "Cannot load image. CRC error found in PNG file."},  // IHDR CRC
    };
    std::vector<std::string> good;
    std::vector<fs::path> files;
    std::string failures;
    size_t brokenSeen = 0;
    for (const auto& entry : fs::directory_iterator(suite)) {
        const std::string name = entry.path().filename().string();
        if (entry.path().extension() != ".png" || name == "PngSuite.png") continue;
        if (name[0] == 'x') {
            const auto expected = kBroken.find(name);
            const std::string had = LoadError(ReadFile(entry.path().string()));
            if (expected == kBroken.end()) failures += name + ": not in the table, gave '" + had + "'\n";
            else if (had != expected->second) failures += name + ": gave '" + had + "'\n";
            ++brokenSeen;
            continue;
        }
        good.push_back(name);
        files.push_back(entry.path());
    }
    EXPECT_EQ(brokenSeen, kBroken.size());
    ASSERT_GT(good.size(), 150u);
    TempDir refs;
    MakeReferences(refs.path(), files);
    size_t compared = 0;
    failures += CompareAll(suite, good, refs.path(), &compared);
    EXPECT_EQ(failures, "");
}

TEST(PngReader, ChunksAndDamagedFiles) {
    const auto ihdr = Ihdr(4, 3, 8, 0);
    const auto idat = Chunk("IDAT", Deflate(GrayRows(4, 3, 0x40)));
    const auto iend = Chunk("IEND", {});
    auto corruptIdat = idat;
    corruptIdat[10] ^= 0x01;
    std::vector<uint8_t> badZlib = Deflate(GrayRows(4, 3, 0x40));
    badZlib[0] = 0x79;  // no deflate header
    const auto huge = Ihdr(200000, 200000, 8, 6);
    // Inflates to far more than 4 x 3 pixels need: the rest is never inflated.
    const auto bomb = Chunk("IDAT", Deflate(GrayRows(4, 3000000, 0x40)));
    auto cutFile = Png({Ihdr(4, 3, 8, 0), Chunk("IDAT", Deflate(GrayRows(4, 3, 0x40)))});
    struct TCase {
        const char* what;
        std::vector<uint8_t> file;
        std::string error;  // empty: loads, every pixel 0x40 gray unless rows says otherwise
        int rows = 3;       // rows expected to hold the gray, the rest white
    };
    const std::vector<TCase> cases = {
        {"plain", Png({ihdr, idat, iend}), ""},
        {"lower-case chunk types, ancillary chunks", Png({ihdr, Chunk("tEXt", {'a', 0, 'b'}), Chunk("abCD", {1}), idat,
                                                          Chunk("zzzz", {}), iend}), ""},
        {"unknown critical chunk", Png({ihdr, Chunk("ABCD", {1}), idat, iend}),
         "Cannot load PNG image. Unexpected but critical chunk detected."},
        {"IDAT CRC", Png({ihdr, corruptIdat, iend}), "Cannot load image. CRC error found in PNG file."},
        {"palette of 10 bytes", Png({Ihdr(4, 3, 8, 3), Chunk("PLTE", std::vector<uint8_t>(10)), idat, iend}),
         "Cannot load image. Palette in PNG file is invalid."},
        {"palette picture without palette", Png({Ihdr(4, 3, 8, 3), idat, iend}),
         "Cannot load image. Palette in PNG file is invalid."},
        {"compression method 1", Png({[] {
                                          auto c = Ihdr(4, 3, 8, 0);
                                          c[8 + 10] = 1;
                                          auto data = std::vector<uint8_t>(c.begin() + 8, c.end() - 4);
                                          return Chunk("IHDR", data);
                                      }(),
                                      idat, iend}),
         "Cannot load image. The compression scheme is not supported for PNG files."},
        {"corrupt zlib stream", Png({ihdr, Chunk("IDAT", badZlib), iend}),
         "Cannot load image. Compression error found in PNG file."},
        {"zero width", Png({Ihdr(0, 3, 8, 0), idat, iend}), "Cannot load image. Invalid or unexpected PNG image format."},
        {"giant IHDR", Png({huge, idat, iend}), "size"},
        {"decompression bomb", Png({ihdr, bomb, iend}), ""},
        {"cut inside the image data", std::vector<uint8_t>(cutFile.begin(), cutFile.end() - 9), "", -1},
        {"no IEND", cutFile, ""},
        // A deflate stream of one row only, properly ended.
        {"deflate stream ends after one row", Png({ihdr, Chunk("IDAT", Deflate(GrayRows(4, 1, 0x40))), iend}), "", 1},
        {"deflate stream ends inside a row", Png({ihdr, Chunk("IDAT", Deflate({0, 0x40, 0x40})), iend}),
         "Cannot load image. Extra compressed data found in PNG file."},
        {"empty IDAT only", Png({ihdr, Chunk("IDAT", {}), iend}), "", 0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
        TMemoryStream stream(c.file);
        TPNGGraphic png;
        std::string error;
        try {
            png.ReadPicture(stream);
        } catch (const EImbrixError& e) {
            error = e.what();
        }
        if (c.error == "size") {
            EXPECT_NE(error, "") << "a 200000 x 200000 picture must be refused";
            continue;
        }
        EXPECT_EQ(error, c.error);
        if (!c.error.empty() || !error.empty()) continue;
        ASSERT_EQ(png.Width(), 4);
        ASSERT_EQ(png.Height(), 3);
        int grayRows = 0;
        for (int y = 0; y < 3; ++y) {
            const TColor row = png.Pixel(0, y);
            for (int x = 1; x < 4; ++x) EXPECT_EQ(png.Pixel(x, y), row) << "row " << y;
            if (row == RGBColor(0x40, 0x40, 0x40)) {
                EXPECT_EQ(grayRows, y) << "gray after white";
                ++grayRows;
            } else {
                EXPECT_EQ(row, RGBColor(255, 255, 255)) << "row " << y;
            }
        }
        if (c.rows >= 0) EXPECT_EQ(grayRows, c.rows);
        else EXPECT_LT(grayRows, 3);
    }
}

TEST(PngReader, TransparencyGammaAndBackground) {
    // Gray 2-bit with tRNS: level 1 (85) is the key; drawn on white it vanishes.
    std::vector<uint8_t> raw = {0, 0b00011011};
    const auto gray = Png({Ihdr(4, 1, 2, 0), Chunk("tRNS", {0, 1}), Chunk("bKGD", {0, 2}),
                           Chunk("IDAT", Deflate(raw)), Chunk("IEND", {})});
    TMemoryStream s1(gray);
    TPNGGraphic g;
    g.ReadPicture(s1);
    EXPECT_TRUE(g.Transparent);
    EXPECT_EQ(g.TransparentColor(), RGBColor(85, 85, 85));
    EXPECT_EQ(g.BackgroundColorValue(), RGBColor(170, 170, 170));
    EXPECT_EQ(g.PixelFormat(), TPixelFormat::pf4bit);
    EXPECT_EQ(g.RawPixel(3, 0), 15u);
    const TBitmap flat = FlattenOnWhite(g);
    EXPECT_EQ(flat.Pixel(0, 0), RGBColor(0, 0, 0));
    EXPECT_EQ(flat.Pixel(1, 0), RGBColor(255, 255, 255));
    EXPECT_EQ(flat.Pixel(2, 0), RGBColor(170, 170, 170));

    // gAMA 45455 with the 2.2 display gamma is nearly the identity.
    const auto gamma = Png({Ihdr(1, 1, 8, 2), Chunk("gAMA", {0, 0, 0xB1, 0x8F}),
                            Chunk("IDAT", Deflate({0, 10, 128, 250})), Chunk("IEND", {})});
    TMemoryStream s2(gamma);
    TPNGGraphic c;
    c.ReadPicture(s2);
    EXPECT_NEAR(c.Properties.Gamma, 0.45455f, 1e-5);
    EXPECT_TRUE(c.Properties.Options & ImageOption::GammaApplied);
    const TColor px = c.Pixel(0, 0);
    EXPECT_NEAR(int(GetRValue(px)), 10, 1);
    EXPECT_NEAR(int(GetGValue(px)), 128, 1);
    EXPECT_NEAR(int(GetBValue(px)), 250, 1);

    // Palette alpha: entry 0 half transparent red, entry 1 opaque blue.
    const auto pal = Png({Ihdr(2, 1, 8, 3), Chunk("PLTE", {255, 0, 0, 0, 0, 255}), Chunk("tRNS", {128}),
                          Chunk("IDAT", Deflate({0, 0, 1})), Chunk("IEND", {})});
    TMemoryStream s3(pal);
    TPNGGraphic p;
    p.ReadPicture(s3);
    const TBitmap onWhite = FlattenOnWhite(p);
    EXPECT_EQ(onWhite.Pixel(0, 0), RGBColor(255, 127, 127));
    EXPECT_EQ(onWhite.Pixel(1, 0), RGBColor(0, 0, 255));
}

TEST(PngReader, IconWithPngEntry) {
    // A 2 x 2 RGBA PNG beside a smaller 1 x 1 DIB entry: the PNG is the best entry.
    const auto png = Png({Ihdr(2, 2, 8, 6),
                          Chunk("IDAT", Deflate({0, 255, 0, 0, 255, 0, 0, 0, 0, 0, 0, 0, 255, 255, 10, 20, 30, 255})),
                          Chunk("IEND", {})});
    std::vector<uint8_t> dib(40 + 4 + 4, 0);  // BITMAPINFOHEADER, one 32-bit pixel, AND mask row
    dib[0] = 40;
    dib[4] = 1;
    dib[8] = 2;
    dib[12] = 1;
    dib[14] = 32;
    std::vector<uint8_t> ico = {0, 0, 1, 0, 2, 0};
    auto entry = [&](uint8_t side, size_t size, size_t offset) {
        ico.insert(ico.end(), {side, side, 0, 0, 1, 0, 32, 0});
        for (int s = 0; s < 32; s += 8) ico.push_back(uint8_t(size >> s));
        for (int s = 0; s < 32; s += 8) ico.push_back(uint8_t(offset >> s));
    };
    entry(1, dib.size(), 6 + 32);
    entry(2, png.size(), 6 + 32 + dib.size());
    ico.insert(ico.end(), dib.begin(), dib.end());
    ico.insert(ico.end(), png.begin(), png.end());

    SetIconPngDecoder(nullptr);
    {
        TMemoryStream stream(ico);
        TIcon icon;
        icon.ReadPicture(stream);  // the DIB entry is all that can be read
        EXPECT_EQ(icon.Width(), 1);
    }
    SetIconPngDecoder(&DecodePngData);
    TMemoryStream stream(ico);
    TIcon icon;
    icon.ReadPicture(stream);
    SetIconPngDecoder(nullptr);
    ASSERT_EQ(icon.Width(), 2);
    const TBitmap flat = FlattenOnWhite(icon);
    EXPECT_EQ(flat.Pixel(0, 0), RGBColor(255, 0, 0));
    EXPECT_EQ(flat.Pixel(1, 0), RGBColor(255, 255, 255));
    EXPECT_EQ(flat.Pixel(0, 1), RGBColor(0, 0, 255));
    EXPECT_EQ(flat.Pixel(1, 1), RGBColor(10, 20, 30));
}

TEST(PngReader, ThemeIconsMatchPillowAndLoadFromIcoFiles) {
    if (!HavePillow()) GTEST_SKIP() << "Pillow not installed";
    // Debian's icon themes (scripts/setup.sh installs hicolor and Adwaita): real PNGs of every
    // size, palette and RGBA ones among them. Every 16th keeps the run short; each is linked
    // under a numbered name, as the themes repeat names across sizes.
    TempDir dir;
    std::vector<std::string> names;
    std::vector<fs::path> links;
    size_t seen = 0;
    for (const char* theme : {"/usr/share/icons/hicolor", "/usr/share/icons/Adwaita"}) {
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(theme, ec); !ec && it != fs::recursive_directory_iterator();
             it.increment(ec))
            if (it->path().extension() == ".png" && it->is_regular_file() && seen++ % 16 == 0) {
                names.push_back("i" + std::to_string(names.size()) + ".png");
                links.push_back(dir.path() / names.back());
                fs::create_symlink(fs::canonical(it->path()), links.back());
            }
    }
    if (names.empty()) GTEST_SKIP() << "no icon theme installed";
    fs::create_directory(dir.path() / "ref");
    MakeReferences(dir.path() / "ref", links);
    size_t compared = 0;
    std::string failures = CompareAll(dir.path(), names, dir.path() / "ref", &compared);

    // The same pictures as the only entry of an .ico file load to the same pixels.
    SetIconPngDecoder(&DecodePngData);
    for (const fs::path& link : links) {
        const std::vector<uint8_t> png = ReadFile(link.string());
        std::vector<uint8_t> ico = {0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 1, 0, 32, 0};
        for (uint32_t v : {uint32_t(png.size()), 22u})
            for (int s = 0; s < 32; s += 8) ico.push_back(uint8_t(v >> s));
        ico.insert(ico.end(), png.begin(), png.end());
        try {
            TMemoryStream stream(ico);
            TIcon icon;
            icon.ReadPicture(stream);
            std::string where;
            if (const int d = MaxDifference(FlattenOnWhite(icon), LoadPng(link.string()), &where); d != 0)
                failures += link.filename().string() + " as .ico: differs by " + std::to_string(d) + " " + where + "\n";
        } catch (const std::exception& e) {
            failures += link.filename().string() + " as .ico: " + e.what() + "\n";
        }
    }
    SetIconPngDecoder(nullptr);
    EXPECT_EQ(failures, "");
    EXPECT_EQ(compared, names.size());
}
