#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "graphics/errors.h"
#include "graphics/stream.h"
#include "readers/sgi_reader.h"
#include "tests/readers/pcx_sgi_writers.h"
#include "tests/support/reference_decoders.h"
#include "tests/support/test_support.h"

namespace {

using testwriters::Bytes;
using testwriters::SGIFile;

struct SGICase {
    std::string name;
    int channels;
    uint8_t bytesPerSample;
    bool rle;
    std::function<void(Bytes&)> patch = nullptr;  // damage done to the written file
    std::string error = {};                       // the message wanted, empty for a picture
};

uint32_t Next(uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

std::string LoadError(TSGIGraphic& reader, const std::string& path) {
    try {
        TFileStream stream(path, TFileStream::Mode::OpenRead);
        reader.ReadPicture(stream);
    } catch (const EImbrixError& e) {
        return e.what();
    }
    return {};
}

// The picture the reader must show: 16-bit samples reduced v*255/65535 (truncated), alpha
// (channel 2 of two, 4 of four) blended onto white, the file's first row at the bottom.
TBitmap Expected(const SGIFile& f, size_t keptSamples) {
    TBitmap bmp(f.width, f.height, TPixelFormat::pf24bit);
    auto sample = [&](int c, int r, int x) -> unsigned {
        const size_t i = (size_t(c) * f.height + r) * f.width + x;
        if (i >= keptSamples) return 0;
        const unsigned v = f.samples[i];
        return f.bytesPerSample == 2 ? v * 255u / 65535u : v;
    };
    auto blend = [](unsigned v, unsigned a) { return (v * a + 255u * (255u - a) + 127u) / 255u; };
    for (int r = 0; r < f.height; ++r) {
        uint8_t* row = bmp.ScanLine(f.height - 1 - r);
        for (int x = 0; x < f.width; ++x) {
            unsigned rgb[3];
            if (f.channels <= 2) {
                unsigned g = sample(0, r, x);
                if (f.channels == 2) g = blend(g, sample(1, r, x));
                rgb[0] = rgb[1] = rgb[2] = g;
            } else {
                for (int c = 0; c < 3; ++c) rgb[c] = sample(c, r, x);
                if (f.channels == 4)
                    for (unsigned& v : rgb) v = blend(v, sample(3, r, x));
            }
            row[3 * x] = uint8_t(rgb[2]), row[3 * x + 1] = uint8_t(rgb[1]), row[3 * x + 2] = uint8_t(rgb[0]);
        }
    }
    return bmp;
}

TEST(SGIReader, GoldenPairs) {
    const std::string kInvalid = "Cannot load image. Invalid or unexpected sgi, bw or rgb(a) image format.";
    const std::string kColorFormat = "Invalid color format in sgi, bw or rgb(a) file.";
    const std::string kCompression = "Cannot load image. Compression error found in sgi, bw or rgb(a) file.";
    std::vector<SGICase> cases;
    for (int channels : {1, 2, 3, 4})
        for (uint8_t bps : {1, 2})
            for (bool rle : {false, true})
                cases.push_back({std::to_string(channels) + " channels, " + std::to_string(8 * bps) + " bits, " +
                                     (rle ? "run-length" : "verbatim"),
                                 channels, bps, rle});
    auto put32 = [](Bytes& b, size_t at, uint32_t v) {
        for (int k = 0; k < 4; ++k) b[at + k] = uint8_t(v >> (24 - 8 * k));
    };
    const std::vector<SGICase> special = {
        {"verbatim data cut short", 3, 1, false, [](Bytes& b) { b.erase(b.end() - 40, b.end()); }},
        {"magic bytes swapped", 3, 1, false, [](Bytes& b) { std::swap(b[0], b[1]); }, kInvalid},
        {"five channels", 3, 1, false, [](Bytes& b) { b[11] = 5; }, kColorFormat},
        {"three bytes per sample", 3, 1, false, [](Bytes& b) { b[3] = 3; }, kColorFormat},
        {"row start beyond the file", 3, 1, true, [&](Bytes& b) { put32(b, 512 + 4, uint32_t(b.size())); },
         kCompression},
        {"row length beyond the file", 4, 2, true, [&](Bytes& b) { put32(b, 512 + 4 * 4 * 5 + 8, 0x7FFFFFF0u); },
         kCompression},
        {"tables cut short", 3, 1, true, [](Bytes& b) { b.resize(530); }, "Stream read error"},
        {"header cut short", 3, 1, false, [](Bytes& b) { b.resize(100); }, "Stream read error"},
    };
    cases.insert(cases.end(), special.begin(), special.end());

    testsupport::TempDir dir;
    uint32_t seed = 3;
    for (const SGICase& c : cases) {
        SCOPED_TRACE(c.name);
        SGIFile f;
        f.width = 11;
        f.height = 5;
        f.channels = c.channels;
        f.bytesPerSample = c.bytesPerSample;
        f.rle = c.rle;
        const unsigned range = c.bytesPerSample == 2 ? 65536 : 256;
        f.samples.resize(size_t(f.channels) * f.height * f.width);
        // Runs of equal samples now and then, so both packet kinds occur.
        for (size_t i = 0; i < f.samples.size(); ++i)
            f.samples[i] = (i % 5 >= 2) && i > 0 ? f.samples[i - 1] : uint16_t(Next(seed) % range);
        Bytes bytes = f.Build();
        if (c.patch) c.patch(bytes);
        const std::string path = dir.file("case.sgi");
        testsupport::WriteFile(path, bytes);

        TSGIGraphic reader;
        const std::string error = LoadError(reader, path);
        if (!c.error.empty()) {
            EXPECT_EQ(error, c.error);
            continue;
        }
        ASSERT_EQ(error, "");
        EXPECT_EQ(reader.PixelFormat(), c.channels == 4   ? TPixelFormat::pf32bit
                                        : c.channels == 3 ? TPixelFormat::pf24bit
                                                          : TPixelFormat::pf8bit);
        // A verbatim file cut short keeps the samples that are there; the rest are zeros.
        const size_t kept = c.rle ? f.samples.size() : (bytes.size() - 512) / c.bytesPerSample;
        const bool alpha = c.channels == 2 || c.channels == 4;
        std::string where;
        EXPECT_LE(testsupport::MaxDifference(testsupport::FlattenOnWhite(reader), Expected(f, kept), &where),
                  alpha ? 1 : 0)
            << where;

        // Pillow has no two-channel SGI mode and refuses files cut short. It takes the high
        // byte of 16-bit samples, which is at most one level off the reduction used here.
        if (c.channels != 2 && !c.patch && testsupport::HavePillow()) {
            const auto pillow = testsupport::PillowDecode(path);
            if (!pillow) {
                ADD_FAILURE() << "Pillow refused the file";
                continue;
            }
            EXPECT_LE(testsupport::MaxDifference(testsupport::FlattenOnWhite(reader), *pillow, &where),
                      c.bytesPerSample == 2 || alpha ? 1 : 0)
                << "against Pillow " << where;
        }
    }
}

TEST(SGIReader, NetpbmFile) {
    if (!testsupport::HaveProgram("pnmtosgi")) GTEST_SKIP() << "netpbm not installed";
    testsupport::TempDir dir;
    for (const char* options : {"-verbatim", "-rle"}) {
        SCOPED_TRACE(options);
        const int w = 17, h = 9;
        std::string head = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
        Bytes ppm(head.begin(), head.end());
        uint32_t seed = 5;
        TBitmap wanted(w, h, TPixelFormat::pf24bit);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const uint8_t r = uint8_t(Next(seed) & 0xF0), g = uint8_t(x * 15), b = uint8_t(y * 28);
                ppm.insert(ppm.end(), {r, g, b});
                uint8_t* p = wanted.ScanLine(y) + 3 * x;
                p[0] = b, p[1] = g, p[2] = r;
            }
        testsupport::WriteFile(dir.file("in.ppm"), ppm);
        ASSERT_EQ(testsupport::RunCommand("pnmtosgi " + std::string(options) + " " + dir.file("in.ppm") + " >" +
                                          dir.file("out.sgi") + " 2>/dev/null"),
                  0);
        TSGIGraphic reader;
        ASSERT_EQ(LoadError(reader, dir.file("out.sgi")), "");
        std::string where;
        EXPECT_EQ(testsupport::MaxDifference(testsupport::FlattenOnWhite(reader), wanted, &where), 0) << where;
    }
}

// Pillow's decodes of its own sample files; Pillow keeps the high byte of 16-bit samples.
TEST(SGIReader, PillowSamples) {
    REQUIRE_CORPUS(corpus);
    if (!testsupport::HavePillow()) GTEST_SKIP() << "Pillow not installed";
    const auto folder = corpus / "pillow-samples" / "sgi";
    for (const auto& [name, tolerance] : std::vector<std::pair<std::string, int>>{
             {"hopper.bw", 0}, {"hopper.rgb", 0}, {"hopper.sgi", 0}, {"hopper16.rgb", 1}, {"transparent.sgi", 1}}) {
        SCOPED_TRACE(name);
        TSGIGraphic reader;
        ASSERT_EQ(LoadError(reader, (folder / name).string()), "");
        const auto pillow = testsupport::PillowDecode(folder / name);
        ASSERT_TRUE(pillow);
        std::string where;
        EXPECT_LE(testsupport::MaxDifference(testsupport::FlattenOnWhite(reader), *pillow, &where), tolerance) << where;
    }
}

TEST(SGIReader, ProbeAndProperties) {
    SGIFile f;
    f.width = 3, f.height = 2, f.channels = 4, f.bytesPerSample = 2, f.rle = true;
    f.samples.assign(24, 1000);
    Bytes bytes = f.Build();
    TMemoryStream stream(bytes);
    EXPECT_TRUE(TSGIGraphic::ProbeStream(stream));
    EXPECT_EQ(stream.Position(), 0u);
    TSGIGraphic reader;
    ASSERT_TRUE(reader.ReadProperties(stream, 0));
    EXPECT_EQ(reader.Properties.ColorScheme, ColorScheme::RGBA);
    EXPECT_EQ(reader.Properties.BitsPerPixel, 64);
    EXPECT_EQ(reader.Properties.Compression, Compression::RLE);
    EXPECT_EQ(reader.Properties.Options, ImageOption::BigEndian);
    bytes[5] = 4;  // dimension 4 does not exist
    TMemoryStream bad(bytes);
    EXPECT_FALSE(TSGIGraphic::ProbeStream(bad));
}

}  // namespace
