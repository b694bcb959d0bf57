// Targa, PCX, SGI, Dr. Halo CUT, Wavefront RLA, portable maps, Autodesk and Photo-CD files
// against damaged copies of small valid files.
#include <gtest/gtest.h>

#include <cstring>

#include "readers/autodesk_reader.h"
#include "readers/cut_reader.h"
#include "readers/pcd_reader.h"
#include "readers/pcx_reader.h"
#include "readers/ppm_reader.h"
#include "readers/rla_reader.h"
#include "readers/sgi_reader.h"
#include "readers/targa_reader.h"
#include "tests/hostile/hostile_util.h"
#include "tests/readers/minor_writers.h"
#include "tests/readers/pcx_sgi_writers.h"
#include "tests/readers/psd_tga_writers.h"

namespace hostile {
namespace {

// A sample from a writer's bytes and the fixed places of its header fields.
Sample Fixed(const std::string& name, Bytes bytes, std::vector<Field> fields, size_t dataFrom) {
    Sample s;
    s.name = name;
    s.bytes = std::move(bytes);
    s.fields = std::move(fields);
    if (dataFrom < s.bytes.size()) s.regions.push_back({"data", dataFrom, s.bytes.size() - dataFrom});
    return s;
}

Field LE(const std::string& name, size_t at, size_t width, Kind kind) { return {name, at, width, false, kind}; }
Field BE(const std::string& name, size_t at, size_t width, Kind kind) { return {name, at, width, true, kind}; }

// ---- Targa -----------------------------------------------------------------------------

Sample Tga(const std::string& name, testwriters::TgaPicture p) {
    const size_t mapBytes = p.map.size();
    const size_t idBytes = p.id.size();
    return Fixed("tga " + name, testwriters::TgaFile(p),
                 {LE("id length", 0, 1, Kind::Length), LE("map type", 1, 1, Kind::Enum), LE("image type", 2, 1, Kind::Enum),
                  LE("map first", 3, 2, Kind::Index), LE("map length", 5, 2, Kind::Count),
                  LE("map depth", 7, 1, Kind::Enum), LE("x origin", 8, 2, Kind::Dimension),
                  LE("y origin", 10, 2, Kind::Dimension), LE("width", 12, 2, Kind::Dimension),
                  LE("height", 14, 2, Kind::Dimension), LE("depth", 16, 1, Kind::Enum),
                  LE("descriptor", 17, 1, Kind::Enum)},
                 18 + idBytes + mapBytes);
}

TEST(HostileInput, Targa) {
    using testwriters::TgaPicture;
    TgaPicture mapped{9, 8, 0x20, 7, 4, {1, 2, 3}, Pattern(5 * 3, 3), 24, 2, Pattern(28, 5), true};
    TgaPicture rgb{10, 24, 0x08, 6, 3, {}, {}, 0, 0, Pattern(54, 7), true};
    TgaPicture rgba{10, 32, 0x38, 5, 3, {}, {}, 0, 0, Pattern(60, 9), false};
    TgaPicture gray{11, 8, 0, 9, 2, {}, {}, 0, 0, Pattern(18, 11), true};
    TgaPicture grayAlpha{3, 16, 0x08, 4, 2, {}, {}, 0, 0, Pattern(16, 13), true};
    TgaPicture rgb16{2, 16, 0, 3, 3, {}, {}, 0, 0, Pattern(18, 15), true};
    const std::string faults = CheckSamples(
        {Tga("mapped run-length", mapped), Tga("rgb run-length", rgb), Tga("rgba run-length by rows", rgba),
         Tga("gray run-length", gray), Tga("gray alpha", grayAlpha), Tga("16-bit", rgb16)},
        LoadAndDraw<TTargaGraphic>);
    EXPECT_TRUE(faults.empty()) << faults;
}

// ---- PCX -------------------------------------------------------------------------------

Sample Pcx(const std::string& name, testwriters::PCXFile p) {
    std::vector<Field> fields = {LE("manufacturer", 0, 1, Kind::Enum), LE("version", 1, 1, Kind::Enum),
                                 LE("encoding", 2, 1, Kind::Enum),     LE("bits", 3, 1, Kind::Enum),
                                 LE("x min", 4, 2, Kind::Dimension),   LE("y min", 6, 2, Kind::Dimension),
                                 LE("x max", 8, 2, Kind::Dimension),   LE("y max", 10, 2, Kind::Dimension),
                                 LE("planes", 65, 1, Kind::Count),     LE("bytes per line", 66, 2, Kind::Count),
                                 LE("palette info", 68, 2, Kind::Enum)};
    return Fixed("pcx " + name, p.Build(), fields, 128);
}

TEST(HostileInput, Pcx) {
    auto picture = [](int w, int h, uint8_t bits, uint8_t planes, uint32_t mask, bool palette) {
        testwriters::PCXFile p;
        p.width = w;
        p.height = h;
        p.bits = bits;
        p.planes = planes;
        const Bytes values = Pattern(size_t(w) * h * 3, uint32_t(w * bits));
        for (int i = 0; i < w * h; ++i)
            p.pixels.push_back((uint32_t(values[3 * i]) | uint32_t(values[3 * i + 1]) << 8 | uint32_t(values[3 * i + 2]) << 16) & mask);
        if (palette) p.trailingPalette = Pattern(768, 3);
        return p;
    };
    testwriters::PCXFile across = picture(9, 4, 8, 1, 0xFF, false);
    across.runsCrossRows = true;
    testwriters::PCXFile odd = picture(5, 3, 1, 1, 1, false);
    odd.bytesPerLine = 3;
    const std::string faults = CheckSamples(
        {Pcx("8-bit palette", picture(7, 5, 8, 1, 0xFF, true)), Pcx("4 bit planes", picture(11, 3, 1, 4, 15, false)),
         Pcx("24-bit", picture(5, 3, 8, 3, 0xFFFFFF, false)), Pcx("2-bit", picture(9, 3, 2, 1, 3, false)),
         Pcx("runs across rows", across), Pcx("1-bit odd stride", odd)},
        LoadAndDraw<TPCXGraphic>);
    EXPECT_TRUE(faults.empty()) << faults;
}

// ---- SGI -------------------------------------------------------------------------------

Sample Sgi(const std::string& name, testwriters::SGIFile p) {
    std::vector<Field> fields = {BE("magic", 0, 2, Kind::Enum),       BE("storage", 2, 1, Kind::Enum),
                                 BE("bytes per sample", 3, 1, Kind::Enum), BE("dimension", 4, 2, Kind::Enum),
                                 BE("x size", 6, 2, Kind::Dimension), BE("y size", 8, 2, Kind::Dimension),
                                 BE("z size", 10, 2, Kind::Count),    BE("maximum", 16, 4, Kind::Count)};
    const size_t entries = size_t(p.channels) * p.height;
    if (p.rle) {
        for (size_t e : {size_t(0), entries / 2, entries - 1}) {
            fields.push_back(BE("row start " + std::to_string(e), 512 + 4 * e, 4, Kind::Offset));
            fields.push_back(BE("row length " + std::to_string(e), 512 + 4 * (entries + e), 4, Kind::Length));
        }
    }
    return Fixed("sgi " + name, p.Build(), fields, p.rle ? 512 + 8 * entries : 512);
}

TEST(HostileInput, Sgi) {
    auto picture = [](int w, int h, int channels, uint8_t bytes, bool rle) {
        testwriters::SGIFile p;
        p.width = w;
        p.height = h;
        p.channels = channels;
        p.bytesPerSample = bytes;
        p.rle = rle;
        const Bytes v = Pattern(size_t(w) * h * channels * 2, uint32_t(w + channels));
        for (size_t i = 0; i < size_t(w) * h * channels; ++i)
            p.samples.push_back(uint16_t(bytes == 2 ? v[2 * i] << 8 | v[2 * i + 1] : v[i]));
        return p;
    };
    const std::string faults =
        CheckSamples({Sgi("rgb run-length", picture(7, 4, 3, 1, true)), Sgi("16-bit gray run-length", picture(5, 3, 1, 2, true)),
                      Sgi("rgba verbatim", picture(4, 3, 4, 1, false)), Sgi("gray alpha run-length", picture(6, 2, 2, 1, true))},
                     LoadAndDraw<TSGIGraphic>);
    EXPECT_TRUE(faults.empty()) << faults;
}

// ---- CUT -------------------------------------------------------------------------------

Sample Cut(int w, int h) {
    FileBuilder b;
    b.u16(w, "width", Kind::Dimension);
    b.u16(h, "height", Kind::Dimension);
    b.u16(0);
    for (int y = 0; y < h; ++y) {
        const Bytes px = Pattern(size_t(w), uint32_t(y + 3));
        Bytes row;
        for (int x = 0; x < w;) {
            int run = 1;
            while (x + run < w && run < 127 && px[x + run] == px[x]) ++run;
            if (run >= 3) {
                row.push_back(uint8_t(0x80 | run));
                row.push_back(px[x]);
            } else {
                run = std::min(w - x, 2);
                row.push_back(uint8_t(run));
                row.insert(row.end(), px.begin() + x, px.begin() + x + run);
            }
            x += run;
        }
        row.push_back(0);
        b.u16(row.size(), "row " + std::to_string(y) + " length", Kind::Length);
        b.bytes(row, "row " + std::to_string(y));
    }
    return b.take("cut");
}

TEST(HostileInput, Cut) {
    const std::string faults = CheckSamples({Cut(11, 5)}, LoadAndDraw<TCUTGraphic>);
    EXPECT_TRUE(faults.empty()) << faults;
}

// ---- RLA -------------------------------------------------------------------------------

Sample Rla(int w, int h, bool matte, int bits) {
    FileBuilder b(true);
    Bytes header(740, 0);
    b.bytes(header);
    Sample s;
    auto put = [&](const std::string& name, size_t at, uint64_t v, Kind kind) {
        b.patch(at, 2, v);
        b.fields.push_back(BE(name, at, 2, kind));
    };
    put("active left", 8, 0, Kind::Dimension);
    put("active right", 10, w - 1, Kind::Dimension);
    put("active bottom", 12, 0, Kind::Dimension);
    put("active top", 14, h - 1, Kind::Dimension);
    put("colour channels", 20, 3, Kind::Count);
    put("matte channels", 22, matte ? 1 : 0, Kind::Count);
    put("revision", 26, 0xFFFE, Kind::Enum);
    put("channel bits", 658, bits, Kind::Count);
    put("matte bits", 662, bits, Kind::Count);
    Sample head = b.take("");
    std::memcpy(&head.bytes[28], "2.2", 3);
    std::memcpy(&head.bytes[580], "rgb", 3);

    FileBuilder f(true);
    f.bytes(head.bytes);
    f.fields = head.fields;
    std::vector<size_t> offsets;
    for (int y = 0; y < h; ++y) offsets.push_back(f.u32(0, "row " + std::to_string(y) + " offset", Kind::Offset));
    for (int y = 0; y < h; ++y) {
        f.patch(offsets[size_t(y)], 4, f.size());
        for (int c = 0; c < (matte ? 4 : 3); ++c) {
            const Bytes plain = Pattern(size_t(w) * (bits > 8 ? 2 : 1), uint32_t(y * 4 + c + 1));
            Bytes packed;
            for (size_t i = 0; i < plain.size();) {
                size_t run = 1;
                while (i + run < plain.size() && plain[i + run] == plain[i] && run < 128) ++run;
                if (run >= 2) {
                    packed.push_back(uint8_t(run - 1));
                    packed.push_back(plain[i]);
                } else {
                    run = std::min<size_t>(3, plain.size() - i);
                    packed.push_back(uint8_t(-int(run)));
                    packed.insert(packed.end(), plain.begin() + i, plain.begin() + i + run);
                }
                i += run;
            }
            f.u16(packed.size(), "row " + std::to_string(y) + " channel " + std::to_string(c) + " length", Kind::Length);
            f.bytes(packed, "row " + std::to_string(y) + " channel " + std::to_string(c));
        }
    }
    return f.take("rla " + std::to_string(bits) + "-bit" + (matte ? " matte" : ""));
}

TEST(HostileInput, Rla) {
    const std::string faults = CheckSamples({Rla(7, 4, false, 8), Rla(5, 3, true, 16), Rla(6, 2, false, 10)},
                                            LoadAndDraw<TRLAGraphic>);
    EXPECT_TRUE(faults.empty()) << faults;
}

// ---- portable maps ---------------------------------------------------------------------

Sample Pnm(char type, int w, int h, int max) {
    FileBuilder b;
    b.text(std::string("P") + type + "\n# a comment\n");
    b.text(std::to_string(w), "width");
    b.text(" ");
    b.text(std::to_string(h), "height");
    b.text("\n");
    const bool bitmap = type == '1' || type == '4';
    if (!bitmap) {
        b.text(std::to_string(max), "maximum");
        b.text("\n");
    }
    const int channels = type == '3' || type == '6' ? 3 : 1;
    const size_t samples = size_t(w) * h * channels;
    if (type >= '4') {
        const size_t bytes = bitmap ? size_t((w + 7) / 8) * h : samples * (max > 255 ? 2 : 1);
        Bytes data = Pattern(bytes, uint32_t(type));
        if (max < 255 && !bitmap)
            for (auto& v : data) v = uint8_t(v % (max + 1));
        b.bytes(data, "samples");
    } else {
        const Bytes v = Pattern(samples, uint32_t(type));
        for (size_t i = 0; i < samples; ++i) {
            const std::string t = std::to_string(bitmap ? v[i] & 1 : v[i] % (max + 1));
            if (i < 3) b.text(t, "sample " + std::to_string(i));
            else b.text(t);
            b.text(i % 8 == 7 ? "\n" : " ");
        }
    }
    return b.take(std::string("pnm P") + type);
}

TEST(HostileInput, PortableMaps) {
    const std::string faults = CheckSamples({Pnm('1', 9, 3, 1), Pnm('2', 5, 3, 1000), Pnm('3', 3, 2, 255),
                                             Pnm('4', 13, 3, 1), Pnm('5', 6, 4, 200), Pnm('6', 4, 3, 65535)},
                                            LoadAndDraw<TPPMGraphic>);
    EXPECT_TRUE(faults.empty()) << faults;
}

// ---- Autodesk and Photo-CD -------------------------------------------------------------

TEST(HostileInput, Autodesk) {
    testwriters::AutodeskPicture cel{9, 5, 8, 0, Pattern(768, 3, 63), Pattern(45, 5)};
    const Sample autodesk = Fixed("autodesk", testwriters::WriteAutodesk(cel),
                                  {LE("magic", 0, 2, Kind::Enum), LE("width", 2, 2, Kind::Dimension),
                                   LE("height", 4, 2, Kind::Dimension), LE("x", 6, 2, Kind::Dimension),
                                   LE("depth", 10, 1, Kind::Enum), LE("compression", 11, 1, Kind::Enum),
                                   LE("size", 12, 4, Kind::Length)},
                                  32);
    const std::string faults = CheckSamples({autodesk}, LoadAndDraw<TAutodeskGraphic>);
    EXPECT_TRUE(faults.empty()) << faults;
}

TEST(HostileInput, PhotoCd) {
    testwriters::PhotoCDPack pack;
    pack.rotation = 1;
    pack.luma = Pattern(768 * 512, 1);
    pack.chroma1 = Pattern(768 * 512, 2);
    pack.chroma2 = Pattern(768 * 512, 3);
    Sample pcd = Fixed("photo-cd", testwriters::WritePhotoCD(pack),
                       {BE("image count", 10, 2, Kind::Count), BE("rotation", 3586, 1, Kind::Enum)}, 0);
    pcd.regions = {{"signature", 2048, 8}};
    // Each case decodes a whole 768 x 512 picture: a few cuts say what hundreds would.
    pcd.everyCut = 8;
    const std::string faults = CheckSamples({pcd}, LoadAndDraw<TPCDGraphic>);
    EXPECT_TRUE(faults.empty()) << faults;
}

}  // namespace
}  // namespace hostile
