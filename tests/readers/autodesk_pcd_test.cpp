#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "graphics/errors.h"
#include "graphics/stream.h"
#include "readers/autodesk_reader.h"
#include "readers/pcd_reader.h"
#include "tests/readers/minor_writers.h"
#include "tests/support/reference_decoders.h"
#include "tests/support/test_support.h"

namespace {

using namespace testsupport;
using namespace testwriters;
using Bytes = std::vector<uint8_t>;

template <class Reader>
TBitmap LoadAs(const Bytes& bytes) {
    Reader picture;
    TMemoryStream stream(bytes);
    picture.ReadPicture(stream);
    return FlattenOnWhite(picture);
}

template <class Reader>
std::string LoadError(const Bytes& bytes) {
    try {
        LoadAs<Reader>(bytes);
    } catch (const EImbrixError& e) {
        return e.what();
    }
    return "(loaded)";
}

uint32_t RGBAt(const TBitmap& b, int x, int y) {
    const uint8_t* p = b.ScanLine(y) + x * 3;
    return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

AutodeskPicture NoisePicture(uint16_t width, uint16_t height, uint32_t seed) {
    std::mt19937 rng(seed);
    AutodeskPicture p;
    p.width = width;
    p.height = height;
    p.palette.resize(768);
    for (uint8_t& c : p.palette) c = static_cast<uint8_t>(rng() % 64);
    p.palette[0] = 63, p.palette[1] = 0, p.palette[2] = 32;  // entry 0: (252, 0, 128)
    p.pixels.resize(size_t(width) * height);
    for (uint8_t& i : p.pixels) i = static_cast<uint8_t>(rng());
    if (!p.pixels.empty()) p.pixels[0] = 0;
    return p;
}

TEST(AutodeskReader, GoldenPicturesAndRefusals) {
    struct Case {
        const char* name;
        AutodeskPicture picture;
        Bytes file;              // empty: written from picture
        const char* error = nullptr;
    };
    std::vector<Case> cases;
    cases.push_back({"1 x 1", NoisePicture(1, 1, 1), {}});
    cases.push_back({"odd width 5 x 3", NoisePicture(5, 3, 2), {}});
    cases.push_back({"320 x 200 screen", NoisePicture(320, 200, 3), {}});
    {
        AutodeskPicture p = NoisePicture(2, 2, 4);
        p.palette[100] = 64;
        cases.push_back({"palette component 64", p, {}, "Cannot load image. Invalid or unexpected Autodesk image format."});
    }
    {
        AutodeskPicture p = NoisePicture(2, 2, 5);
        p.compression = 1;
        cases.push_back({"compressed", p, {}, "Cannot load image. The compression scheme is not supported for Autodesk files."});
    }
    {
        AutodeskPicture p = NoisePicture(2, 2, 6);
        p.bitsPerPixel = 4;
        cases.push_back({"4 bits per pixel", p, {}, "Invalid color format in Autodesk file."});
    }
    cases.push_back({"empty", NoisePicture(0, 7, 7), {}, "Cannot load image. Invalid or unexpected Autodesk image format."});
    {
        Bytes bad = WriteAutodesk(NoisePicture(2, 2, 8));
        bad[0] = 0x91;
        bad[1] = 0x19;
        cases.push_back({"magic in the wrong byte order", {}, bad, "Cannot load image. Invalid or unexpected Autodesk image format."});
    }
    {
        Bytes cut = WriteAutodesk(NoisePicture(4, 4, 9));
        cut.resize(cut.size() - 3);
        cases.push_back({"rows cut short", {}, cut, "Stream read error"});
    }

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes file = c.file.empty() ? WriteAutodesk(c.picture) : c.file;
        if (c.error) {
            EXPECT_EQ(LoadError<TAutodeskGraphic>(file), c.error);
            continue;
        }
        const TBitmap had = LoadAs<TAutodeskGraphic>(file);
        ASSERT_EQ(had.Width(), c.picture.width);
        ASSERT_EQ(had.Height(), c.picture.height);
        for (int y = 0; y < had.Height(); ++y)
            for (int x = 0; x < had.Width(); ++x) {
                const uint8_t* entry = &c.picture.palette[c.picture.pixels[size_t(y) * c.picture.width + x] * 3];
                const uint32_t wanted = uint32_t(entry[0] * 4) << 16 | uint32_t(entry[1] * 4) << 8 | entry[2] * 4;
                ASSERT_EQ(RGBAt(had, x, y), wanted) << "at " << x << "," << y;
            }
        EXPECT_EQ(RGBAt(had, 0, 0), 0xFC0080u) << "(63, 0, 32) becomes (252, 0, 128)";
    }

    const Bytes good = WriteAutodesk(NoisePicture(2, 2, 10));
    AutodeskPicture packed = NoisePicture(2, 2, 11);
    packed.compression = 1;
    struct Probe {
        Bytes bytes;
        bool is;
    };
    for (const Probe& p : {Probe{good, true}, Probe{WriteAutodesk(packed), false}, Probe{Bytes(good.begin(), good.begin() + 32), false}}) {
        TMemoryStream stream(p.bytes);
        EXPECT_EQ(TAutodeskGraphic::ProbeStream(stream), p.is) << p.bytes.size();
        EXPECT_EQ(stream.Position(), 0u);
    }
}

// ---- Photo-CD -----------------------------------------------------------------------------

constexpr int kW = 768, kH = 512;

// Encodes RGB into the pack's luma and chroma with the luma weights the reader decodes with
// (chroma zeros 156 and 137), the inverse of the conversion.
struct YCC {
    double y, c1, c2;
};
YCC Encode(double r, double g, double b) {
    const double kr = 0.2125, kg = 0.7154, kb = 0.0721;
    const double y = kr * r + kg * g + kb * b;
    return {y, 156 + (b - y) / (2 - 2 * kb), 137 + (r - y) / (2 - 2 * kr)};
}

// Six flat blocks of 256 x 256 with luma noise on top, so each pixel's own luma shows.
struct Source {
    PhotoCDPack pack;
    std::vector<uint32_t> rgb;  // what the pixels stand for
};
Source BlockPicture(uint8_t rotation) {
    static const uint8_t colours[6][3] = {{200, 60, 40}, {40, 160, 90}, {70, 80, 200},
                                          {128, 128, 128}, {220, 200, 60}, {30, 40, 60}};
    Source s;
    s.pack.rotation = rotation;
    s.pack.luma.resize(kW * kH);
    s.pack.chroma1.resize(kW * kH);
    s.pack.chroma2.resize(kW * kH);
    s.rgb.resize(kW * kH);
    std::mt19937 rng(3);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            const uint8_t* c = colours[(y / 256) * 3 + x / 256];
            const int d = int(rng() % 21) - 10;
            const YCC ycc = Encode(c[0] + d, c[1] + d, c[2] + d);
            const size_t i = size_t(y) * kW + x;
            s.pack.luma[i] = static_cast<uint8_t>(std::lround(ycc.y));
            s.pack.chroma1[i] = static_cast<uint8_t>(std::lround(ycc.c1));
            s.pack.chroma2[i] = static_cast<uint8_t>(std::lround(ycc.c2));
            s.rgb[i] = uint32_t(c[0] + d) << 16 | uint32_t(c[1] + d) << 8 | uint32_t(c[2] + d);
        }
    return s;
}

int ChannelDifference(uint32_t a, uint32_t b) {
    int worst = 0;
    for (int shift : {0, 8, 16}) worst = std::max(worst, std::abs(int((a >> shift) & 255) - int((b >> shift) & 255)));
    return worst;
}

TEST(PCDReader, BaseImageInEveryRotation) {
    const Source source = BlockPicture(0);
    const TBitmap upright = LoadAs<TPCDGraphic>(WritePhotoCD(source.pack));
    ASSERT_EQ(upright.Width(), kW);
    ASSERT_EQ(upright.Height(), kH);
    // Away from the block edges, where the half-size chroma is interpolated, each pixel is
    // its source colour up to rounding.
    int worst = 0;
    std::string where;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            if (x % 256 < 4 || x % 256 > 251 || y % 256 < 4 || y % 256 > 251) continue;
            const int d = ChannelDifference(RGBAt(upright, x, y), source.rgb[size_t(y) * kW + x]);
            if (d > worst) worst = d, where = std::to_string(x) + "," + std::to_string(y);
        }
    EXPECT_LE(worst, 2) << "worst at " << where;

    struct Turn {
        uint8_t code;
        int width, height;
        // Where upright pixel (x, y) lands.
        int (*toX)(int x, int y);
        int (*toY)(int x, int y);
    };
    const Turn turns[] = {
        {1, kH, kW, [](int, int y) { return y; }, [](int x, int) { return kW - 1 - x; }},          // counter-clockwise
        {2, kW, kH, [](int x, int) { return kW - 1 - x; }, [](int, int y) { return kH - 1 - y; }},  // half turn
        {3, kH, kW, [](int, int y) { return kH - 1 - y; }, [](int x, int) { return x; }},          // clockwise
    };
    for (const Turn& t : turns) {
        SCOPED_TRACE("rotation code " + std::to_string(t.code));
        const TBitmap turned = LoadAs<TPCDGraphic>(WritePhotoCD(BlockPicture(t.code).pack));
        ASSERT_EQ(turned.Width(), t.width);
        ASSERT_EQ(turned.Height(), t.height);
        int wrong = 0;
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x)
                if (RGBAt(turned, t.toX(x, y), t.toY(x, y)) != RGBAt(upright, x, y)) ++wrong;
        EXPECT_EQ(wrong, 0);
    }
}

TEST(PCDReader, PropertiesAndRefusals) {
    PhotoCDPack pack = BlockPicture(1).pack;
    pack.imageCount = 0x0102;
    const Bytes file = WritePhotoCD(pack);
    struct Case {
        unsigned resolution;
        uint32_t width, height;
        Compression compression;
    };
    for (const Case& c : {Case{2, 512, 768, Compression::None}, Case{0, 128, 192, Compression::None},
                          Case{4, 2048, 3072, Compression::PhotoCDHuffman}, Case{9, 4096, 6144, Compression::PhotoCDHuffman}}) {
        SCOPED_TRACE(c.resolution);
        TPCDGraphic reader;
        TMemoryStream stream(file);
        ASSERT_TRUE(reader.ReadProperties(stream, c.resolution));
        EXPECT_EQ(reader.Properties.Width, c.width);
        EXPECT_EQ(reader.Properties.Height, c.height);
        EXPECT_EQ(reader.Properties.Compression, c.compression);
        EXPECT_EQ(reader.Properties.Rotation, 1);
        EXPECT_EQ(reader.Properties.SubImageCount, 0x0102);
        EXPECT_EQ(reader.Properties.ColorScheme, ColorScheme::PhotoYCC);
    }

    PhotoCDPack overview = pack;
    overview.overview = true;
    Bytes notPCD = file;
    notPCD[2048] = 'X';
    Bytes cut = file;
    cut.resize(cut.size() - 100);
    struct Refusal {
        const char* name;
        Bytes bytes;
        const char* error;
    };
    const Refusal refusals[] = {
        {"overview pack", WritePhotoCD(overview), "Cannot load image. Overview packs are not supported for Photo-CD files."},
        {"no signature", notPCD, "Cannot load image. Invalid or unexpected Photo-CD image format."},
        {"base image cut short", cut, "Stream read error"},
        {"header cut short", Bytes(file.begin(), file.begin() + 5000), "Stream read error"},
    };
    for (const Refusal& r : refusals) EXPECT_EQ(LoadError<TPCDGraphic>(r.bytes), r.error) << r.name;

    struct Probe {
        Bytes bytes;
        bool is;
    };
    for (const Probe& p : {Probe{file, true}, Probe{WritePhotoCD(overview), true}, Probe{notPCD, false},
                           Probe{Bytes(file.begin(), file.begin() + 6144), false}}) {
        TMemoryStream stream(p.bytes);
        EXPECT_EQ(TPCDGraphic::ProbeStream(stream), p.is) << p.bytes.size();
        EXPECT_EQ(stream.Position(), 0u);
    }
}

}  // namespace
