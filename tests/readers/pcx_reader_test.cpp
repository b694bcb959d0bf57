#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "graphics/errors.h"
#include "graphics/stream.h"
#include "readers/pcx_reader.h"
#include "tests/readers/pcx_sgi_writers.h"
#include "tests/support/reference_decoders.h"
#include "tests/support/test_support.h"

namespace {

using testwriters::Bytes;
using testwriters::PCXFile;

struct RGB { uint8_t r, g, b; };

// Windows' 16 colours, for files that say they carry no palette (version 3).
constexpr RGB kStandard16[16] = {{0, 0, 0},       {128, 0, 0},     {0, 128, 0},     {128, 128, 0},
                                 {0, 0, 128},     {128, 0, 128},   {0, 128, 128},   {192, 192, 192},
                                 {128, 128, 128}, {255, 0, 0},     {0, 255, 0},     {255, 255, 0},
                                 {0, 0, 255},     {255, 0, 255},   {0, 255, 255},   {255, 255, 255}};

struct PCXCase {
    std::string name;
    uint8_t bits, planes;
    bool compressed;
    std::function<void(PCXFile&)> setup = nullptr;  // header details beyond depth and planes
    std::function<void(Bytes&)> patch = nullptr;    // damage done to the written file
    std::string error = {};                         // the message wanted, empty for a picture
    bool pillowAgrees = true;                       // compare with Pillow's decode as well
};

uint32_t Next(uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

// What a pixel of the written file must look like, given the reader's rules.
RGB Expected(const PCXFile& f, uint32_t v) {
    if (f.bits == 8 && f.planes == 3) return {uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
    if (f.bits == 1 && f.planes == 1) return v ? RGB{255, 255, 255} : RGB{0, 0, 0};
    if (f.bits == 8) {
        if (f.trailingPalette.empty()) return {uint8_t(v), uint8_t(v), uint8_t(v)};
        return {f.trailingPalette[3 * v], f.trailingPalette[3 * v + 1], f.trailingPalette[3 * v + 2]};
    }
    // 4-bit bitmaps; 2-bit indices are spread over the 16 entries (0, 5, 10, 15).
    const bool packed2 = f.bits == 2 && f.planes == 1;
    if (f.version == 3) return kStandard16[packed2 ? v * 5 : v];
    if (f.paletteInfo == 2) {
        const uint8_t level = uint8_t((packed2 ? v * 5 : v) * 17);
        return {level, level, level};
    }
    return {f.headerPalette[3 * v], f.headerPalette[3 * v + 1], f.headerPalette[3 * v + 2]};
}

TBitmap ToBitmap(int w, int h, const std::function<RGB(int, int)>& at) {
    TBitmap bmp(w, h, TPixelFormat::pf24bit);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const RGB c = at(x, y);
            uint8_t* p = bmp.ScanLine(y) + 3 * x;
            p[0] = c.b, p[1] = c.g, p[2] = c.r;
        }
    return bmp;
}

std::string LoadError(TPCXGraphic& reader, const std::string& path) {
    try {
        TFileStream stream(path, TFileStream::Mode::OpenRead);
        reader.ReadPicture(stream);
    } catch (const EImbrixError& e) {
        return e.what();
    }
    return {};
}

TEST(PCXReader, GoldenPairs) {
    const std::string kInvalid = "Cannot load image. Invalid or unexpected PCX or SCR image format.";
    const std::string kColorFormat = "Invalid color format in PCX file.";
    auto withPalette = [](PCXFile& f) { f.trailingPalette.assign(768, 0); };
    const std::vector<PCXCase> cases = {
        // Debian's Pillow decodes every PCX file as run-length and knows no packed 2- or 4-bit
        // pixels nor 3 bit planes: those are checked against the model only.
        {"1-bit stored", 1, 1, false, nullptr, nullptr, "", false},
        {"1-bit rle", 1, 1, true},
        {"2-bit packed stored", 2, 1, false, nullptr, nullptr, "", false},
        {"2-bit packed rle", 2, 1, true, nullptr, nullptr, "", false},
        {"2-bit planes rle", 1, 2, true},
        {"3 bit planes rle", 1, 3, true, nullptr, nullptr, "", false},
        {"4-bit packed stored", 4, 1, false, nullptr, nullptr, "", false},
        {"4-bit packed rle", 4, 1, true, nullptr, nullptr, "", false},
        {"4-bit planes stored", 1, 4, false, nullptr, nullptr, "", false},
        {"4-bit planes rle", 1, 4, true},
        {"8-bit palette stored", 8, 1, false, withPalette, nullptr, "", false},
        {"8-bit palette rle", 8, 1, true, withPalette},
        {"8-bit rle, runs across rows", 8, 1, true, [&](PCXFile& f) { withPalette(f); f.runsCrossRows = true; }},
        {"24-bit stored", 8, 3, false, nullptr, nullptr, "", false},
        {"24-bit rle", 8, 3, true},
        {"24-bit rle, odd bytes per line", 8, 3, true, [](PCXFile& f) { f.bytesPerLine = uint16_t(f.width); }},
        {"8-bit stored, odd bytes per line", 8, 1, false,
         [&](PCXFile& f) { withPalette(f); f.bytesPerLine = uint16_t(f.width); }, nullptr, "", false},
        // Debian's Pillow stops with "buffer overrun" on rows padded well beyond the pixels.
        {"8-bit rle, wide bytes per line", 8, 1, true,
         [&](PCXFile& f) { withPalette(f); f.bytesPerLine = uint16_t(f.width + 9); }, nullptr, "", false},
        // Pillow reads bit planes one packed row apart whatever bytes per line says.
        {"4-bit planes, wide bytes per line", 1, 4, true, [](PCXFile& f) { f.bytesPerLine = 6; }, nullptr, "", false},
        {"word screen capture (205)", 8, 1, true, [&](PCXFile& f) { withPalette(f); f.manufacturer = 205; }, nullptr, "",
         false},  // Pillow knows only manufacturer 10
        {"4-bit gray palette info", 4, 1, true, [](PCXFile& f) { f.paletteInfo = 2; }, nullptr, "",
         false},  // Pillow keeps the header palette
        {"4-bit version 3, standard colours", 4, 1, true, [](PCXFile& f) { f.version = 3; }, nullptr, "",
         false},  // Pillow keeps the header palette
        // Pillow looks for the palette block 769 bytes before the end and fails on a shorter file.
        {"8-bit without palette block is gray", 8, 1, true, nullptr, nullptr, "", false},
        // Short data: Pillow refuses truncated files, the reader keeps what arrived.
        {"stored data cut short", 8, 3, false, [](PCXFile& f) { f.keepRows = 3; }, nullptr, "", false},
        {"rle data cut short", 4, 1, true, [](PCXFile& f) { f.keepRows = 2; }, nullptr, "", false},
        {"rle data cut inside a packet", 8, 1, true, [](PCXFile& f) { f.keepRows = 4; },
         [](Bytes& b) { b.push_back(0xC5); }, "", false},
        {"zero bytes per line", 8, 1, true, nullptr, [](Bytes& b) { b[66] = b[67] = 0; }, kInvalid},
        {"bytes per line too small", 4, 1, true, nullptr, [](Bytes& b) { b[66] = 2, b[67] = 0; }, kInvalid},
        {"not a pcx file", 8, 1, true, nullptr, [](Bytes& b) { b[0] = 'G'; }, kInvalid},
        {"negative width", 8, 1, true, nullptr, [](Bytes& b) { b[8] = 0xF0, b[9] = 0xFF; }, kInvalid},
        {"two planes of 8 bits", 8, 2, true, nullptr, nullptr, kColorFormat},
        {"four planes of 8 bits", 8, 4, true, nullptr, nullptr, kColorFormat},
        {"header cut short", 8, 1, true, nullptr, [](Bytes& b) { b.resize(100); }, kInvalid},
    };

    testsupport::TempDir dir;
    uint32_t seed = 7;
    for (const PCXCase& c : cases) {
        SCOPED_TRACE(c.name);
        PCXFile f;
        f.width = 13;
        f.height = 6;
        f.bits = c.bits;
        f.planes = c.planes;
        f.compressed = c.compressed;
        for (uint8_t& b : f.headerPalette) b = uint8_t(Next(seed));
        if (c.setup) c.setup(f);
        for (uint8_t& b : f.trailingPalette) b = uint8_t(Next(seed));
        const unsigned depth = unsigned(c.bits) * c.planes;
        const uint32_t range = depth >= 24 ? 0x1000000u : (1u << std::min(depth, 8u));
        f.pixels.resize(size_t(f.width) * f.height);
        // Runs of equal pixels, so the run-length packets get exercised too.
        for (size_t i = 0; i < f.pixels.size(); ++i) f.pixels[i] = (i % 4 == 3) ? f.pixels[i - 1] : Next(seed) % range;
        Bytes bytes = f.Build();
        if (c.patch) c.patch(bytes);
        const std::string path = dir.file("case.pcx");
        testsupport::WriteFile(path, bytes);

        TPCXGraphic reader;
        const std::string error = LoadError(reader, path);
        if (!c.error.empty()) {
            EXPECT_EQ(error, c.error);
            continue;
        }
        ASSERT_EQ(error, "");
        const int kept = f.keepRows < 0 ? f.height : f.keepRows;
        const TBitmap wanted = ToBitmap(f.width, f.height, [&](int x, int y) {
            return Expected(f, y < kept ? f.pixels[size_t(y) * f.width + x] : 0);
        });
        std::string where;
        EXPECT_EQ(testsupport::MaxDifference(testsupport::FlattenOnWhite(reader), wanted, &where), 0) << where;
        if (c.bits == 1 && c.planes == 1) {
            EXPECT_EQ(reader.PixelFormat(), TPixelFormat::pf1bit);
        }

        if (c.pillowAgrees && testsupport::HavePillow()) {
            const auto pillow = testsupport::PillowDecode(path, "RGB");
            if (!pillow) {
                ADD_FAILURE() << "Pillow refused the file";
                continue;
            }
            EXPECT_EQ(testsupport::MaxDifference(testsupport::FlattenOnWhite(reader), *pillow, &where), 0)
                << "against Pillow " << where;
        }
    }
}

// Files of netpbm's ppmtopcx in each layout it writes, against the picture they were made from.
TEST(PCXReader, NetpbmFiles) {
    if (!testsupport::HaveProgram("ppmtopcx")) GTEST_SKIP() << "netpbm not installed";
    struct Case { const char* options; unsigned colours; };
    // Two colours become a 1-bit file, shown black and white: the picture is black and white.
    const Case cases[] = {{"", 2}, {"", 4}, {"-packed", 4}, {"", 16}, {"-packed", 16}, {"-8bit", 16},
                          {"-24bit", 0}};
    testsupport::TempDir dir;
    uint32_t seed = 99;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.options) + " " + std::to_string(c.colours) + " colours");
        const int w = 21, h = 7;
        std::vector<RGB> colours(std::max(c.colours, 1u));
        for (RGB& k : colours) k = {uint8_t(Next(seed)), uint8_t(Next(seed)), uint8_t(Next(seed))};
        if (c.colours == 2) colours = {{0, 0, 0}, {255, 255, 255}};
        std::vector<RGB> pixels(size_t(w) * h);
        for (RGB& p : pixels)
            p = c.colours ? colours[Next(seed) % c.colours] : RGB{uint8_t(Next(seed)), uint8_t(Next(seed)), uint8_t(Next(seed))};
        std::string head = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
        Bytes ppm(head.begin(), head.end());
        for (const RGB& p : pixels) ppm.insert(ppm.end(), {p.r, p.g, p.b});
        testsupport::WriteFile(dir.file("in.ppm"), ppm);
        ASSERT_EQ(testsupport::RunCommand("ppmtopcx " + std::string(c.options) + " " + dir.file("in.ppm") + " >" +
                                          dir.file("out.pcx") + " 2>/dev/null"),
                  0);
        TPCXGraphic reader;
        ASSERT_EQ(LoadError(reader, dir.file("out.pcx")), "");
        const TBitmap wanted = ToBitmap(w, h, [&](int x, int y) { return pixels[size_t(y) * w + x]; });
        std::string where;
        EXPECT_EQ(testsupport::MaxDifference(testsupport::FlattenOnWhite(reader), wanted, &where), 0) << where;
    }
}

// Pillow's decodes of its own sample files, with the differences the reader means to have.
TEST(PCXReader, PillowSamples) {
    REQUIRE_CORPUS(corpus);
    if (!testsupport::HavePillow()) GTEST_SKIP() << "Pillow not installed";
    const auto folder = corpus / "pillow-samples" / "pcx";
    for (const char* name : {"odd_stride.pcx", "pil184.pcx"}) {
        SCOPED_TRACE(name);
        TPCXGraphic reader;
        ASSERT_EQ(LoadError(reader, (folder / name).string()), "");
        const auto pillow = testsupport::PillowDecode(folder / name, "RGB");
        ASSERT_TRUE(pillow);
        std::string where;
        EXPECT_EQ(testsupport::MaxDifference(testsupport::FlattenOnWhite(reader), *pillow, &where), 0) << where;
    }
    {
        // Bit planes lie bytes-per-line (2) apart; Debian's Pillow takes them one byte apart
        // and finds index 5. Planes 0 and 1 are set, so the pixel is index 3.
        TPCXGraphic reader;
        ASSERT_EQ(LoadError(reader, (folder / "p_4_planes.pcx").string()), "");
        EXPECT_EQ(reader.RawPixel(0, 0), 3u);
    }
    {
        // Bytes per line 12 for a row of 88 pixels: refused, as Pillow refuses it.
        TPCXGraphic reader;
        EXPECT_EQ(LoadError(reader, (folder / "01r_00.pcx").string()),
                  "Cannot load image. Invalid or unexpected PCX or SCR image format.");
        EXPECT_FALSE(testsupport::PillowDecode(folder / "01r_00.pcx", "RGB"));
    }
}

TEST(PCXReader, ProbeAndProperties) {
    PCXFile f;
    f.width = 5, f.height = 3, f.bits = 8, f.planes = 3;
    f.pixels.assign(15, 0x102030);
    Bytes bytes = f.Build();
    TMemoryStream stream(bytes);
    EXPECT_TRUE(TPCXGraphic::ProbeStream(stream));
    EXPECT_EQ(stream.Position(), 0u);
    TPCXGraphic reader;
    ASSERT_TRUE(reader.ReadProperties(stream, 0));
    EXPECT_EQ(reader.Properties.Width, 5u);
    EXPECT_EQ(reader.Properties.Height, 3u);
    EXPECT_EQ(reader.Properties.BitsPerPixel, 24);
    EXPECT_EQ(reader.Properties.ColorScheme, ColorScheme::RGB);
    EXPECT_EQ(reader.Properties.Compression, Compression::RLE);
    EXPECT_EQ(reader.Properties.XResolution, 72.0f);
    bytes[1] = 4;  // no such version
    TMemoryStream bad(bytes);
    EXPECT_FALSE(TPCXGraphic::ProbeStream(bad));
}

}  // namespace
