// PNG, Photoshop and Paint Shop Pro files against damaged copies of small valid files.
#include <gtest/gtest.h>

#include "readers/png_reader.h"
#include "readers/psd_reader.h"
#include "readers/psp_reader.h"
#include "tests/hostile/hostile_util.h"

namespace hostile {
namespace {

// ---- PNG -------------------------------------------------------------------------------

// Recomputes every chunk's CRC, so that a damaged field reaches the parser behind the check.
void FixPngCrcs(Bytes& f) {
    for (size_t at = 8; at + 12 <= f.size();) {
        const uint64_t length = uint64_t(f[at]) << 24 | f[at + 1] << 16 | f[at + 2] << 8 | f[at + 3];
        if (length > f.size() - at - 12) return;
        const uint32_t crc = uint32_t(crc32(0, f.data() + at + 4, uInt(length + 4)));
        for (int k = 0; k < 4; ++k) f[at + 8 + length + size_t(k)] = uint8_t(crc >> (24 - 8 * k));
        at += 12 + length;
    }
}

struct PngLayout {
    std::string name;
    uint32_t width, height;
    uint8_t depth, colorType, interlace;
    size_t paletteEntries = 0;
    Bytes transparency;
};

size_t RawSize(const PngLayout& l) {
    const int channels = l.colorType == 2 ? 3 : l.colorType == 4 ? 2 : l.colorType == 6 ? 4 : 1;
    const size_t bits = size_t(channels) * l.depth;
    if (!l.interlace) return l.height * (1 + (l.width * bits + 7) / 8);
    // Adam7: the seven passes' rows, each with its filter byte.
    static const int x0[] = {0, 4, 0, 2, 0, 1, 0}, y0[] = {0, 0, 4, 0, 2, 0, 1};
    static const int dx[] = {8, 8, 4, 4, 2, 2, 1}, dy[] = {8, 8, 8, 4, 4, 2, 2};
    size_t total = 0;
    for (int p = 0; p < 7; ++p) {
        const size_t w = l.width > uint32_t(x0[p]) ? (l.width - x0[p] + dx[p] - 1) / dx[p] : 0;
        const size_t h = l.height > uint32_t(y0[p]) ? (l.height - y0[p] + dy[p] - 1) / dy[p] : 0;
        if (w && h) total += h * (1 + (w * bits + 7) / 8);
    }
    return total;
}

Sample Png(const PngLayout& l) {
    FileBuilder b(true);
    b.bytes(Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'});
    auto chunk = [&](const char* type, const std::function<void()>& body, const std::string& name) {
        const size_t length = b.u32(0, name + " length", Kind::Length);
        b.bytes(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(type), 4));
        body();
        b.patch(length, 4, b.size() - length - 8);
        b.u32(0);
    };
    chunk("IHDR", [&] {
        b.u32(l.width, "width", Kind::Dimension);
        b.u32(l.height, "height", Kind::Dimension);
        b.u8(l.depth, "depth", Kind::Enum);
        b.u8(l.colorType, "colour type", Kind::Enum);
        b.u8(0, "compression", Kind::Enum);
        b.u8(0, "filter method", Kind::Enum);
        b.u8(l.interlace, "interlace", Kind::Enum);
    }, "IHDR");
    chunk("gAMA", [&] { b.u32(45455, "gamma"); }, "gAMA");
    if (l.paletteEntries) chunk("PLTE", [&] { b.bytes(Pattern(3 * l.paletteEntries, 3), "palette"); }, "PLTE");
    if (!l.transparency.empty()) chunk("tRNS", [&] { b.bytes(l.transparency, "transparency"); }, "tRNS");
    chunk("bKGD", [&] { b.u16(l.colorType == 3 ? 0x0100 : 7, "background", Kind::Index); }, "bKGD");
    // Rows with every filter type in turn, and values reaching past a short palette.
    Bytes raw = Pattern(RawSize(l), l.width * 7 + l.depth);
    for (size_t i = 0; i < raw.size(); i += 1 + (l.width * l.depth + 7) / 8) raw[i] = uint8_t(i % 5);
    const Bytes z = Deflate(raw);
    const size_t half = z.size() / 2;
    chunk("IDAT", [&] { b.bytes(std::span<const uint8_t>(z.data(), half), "deflate data 1"); }, "IDAT 1");
    chunk("IDAT", [&] { b.bytes(std::span<const uint8_t>(z.data() + half, z.size() - half), "deflate data 2"); },
          "IDAT 2");
    chunk("IEND", [] {}, "IEND");
    Sample s = b.take("png " + l.name);
    FixPngCrcs(s.bytes);
    s.fixup = FixPngCrcs;
    return s;
}

TEST(HostileInput, Png) {
    const std::vector<Sample> samples = {
        Png({"4-bit palette of 5, interlaced", 9, 7, 4, 3, 1, 5, {0, 128, 255}}),
        Png({"rgba", 5, 4, 8, 6, 0, 0, {}}),
        Png({"16-bit gray, interlaced, key", 6, 5, 16, 0, 1, 0, {0x12, 0x34}}),
        Png({"1-bit gray", 13, 3, 1, 0, 0, 0, {}}),
        Png({"gray alpha", 4, 4, 8, 4, 1, 0, {}}),
        Png({"16-bit rgb", 3, 2, 16, 2, 0, 0, {0, 1, 0, 2, 0, 3}}),
    };
    const std::string faults = CheckSamples(samples, LoadAndDraw<TPNGGraphic>);
    EXPECT_TRUE(faults.empty()) << faults;
}

// ---- Photoshop -------------------------------------------------------------------------

struct PsdLayout {
    std::string name;
    uint16_t channels, mode, depth, compression;
    uint32_t width, height;
    size_t modeData = 0;
};

Sample Psd(const PsdLayout& l) {
    FileBuilder b(true);
    b.bytes(Bytes{'8', 'B', 'P', 'S'});
    b.u16(1, "version", Kind::Enum);
    b.fill(0, 6);
    b.u16(l.channels, "channels");
    b.u32(l.height, "height", Kind::Dimension);
    b.u32(l.width, "width", Kind::Dimension);
    b.u16(l.depth, "depth", Kind::Enum);
    b.u16(l.mode, "mode", Kind::Enum);
    b.u32(l.modeData, "mode data length", Kind::Length);
    b.bytes(Pattern(l.modeData, 5), "mode data");
    // One image resource and an empty layer section, skipped by their lengths.
    b.u32(16, "resources length", Kind::Length);
    b.bytes(Bytes{'8', 'B', 'I', 'M'});
    b.u16(1005);
    b.u16(0);
    b.u32(4, "resource length", Kind::Length);
    b.u32(0x12345678);
    b.u32(8, "layer section length", Kind::Length);
    b.u32(4, "layer info length", Kind::Length);
    b.u16(0xFFFF, "layer count");
    b.u16(0);
    b.u16(l.compression, "compression", Kind::Enum);
    const size_t rowBytes = (size_t(l.width) * l.depth + 7) / 8;
    const Bytes image = Pattern(rowBytes * l.height * l.channels, l.width + l.mode);
    if (l.compression == 1) {
        std::vector<Bytes> rows;
        for (size_t r = 0; r < size_t(l.height) * l.channels; ++r)
            rows.push_back(PackBits(image.data() + r * rowBytes, rowBytes));
        for (size_t r = 0; r < rows.size(); ++r) b.u16(rows[r].size(), "row " + std::to_string(r) + " length", Kind::Length);
        for (size_t r = 0; r < rows.size(); ++r) b.bytes(rows[r], "packed row " + std::to_string(r));
    } else {
        b.bytes(image, "image data");
    }
    return b.take("psd " + l.name);
}

TEST(HostileInput, Photoshop) {
    const std::vector<Sample> samples = {
        Psd({"rgb packbits", 3, 3, 8, 1, 7, 3}),
        Psd({"rgba packbits", 4, 3, 8, 1, 4, 2}),
        Psd({"indexed raw", 1, 2, 8, 0, 6, 3, 768}),
        Psd({"16-bit gray raw", 1, 1, 16, 0, 5, 3}),
        Psd({"bitmap packbits", 1, 0, 1, 1, 19, 3}),
        Psd({"cmyk raw", 4, 4, 8, 0, 3, 2}),
        Psd({"lab packbits", 3, 9, 8, 1, 3, 2}),
    };
    const std::string faults = CheckSamples(samples, LoadAndDraw<TPSDGraphic>);
    EXPECT_TRUE(faults.empty()) << faults;
}

// ---- Paint Shop Pro --------------------------------------------------------------------

Bytes PspRunLength(const Bytes& data) {
    Bytes out;
    for (size_t i = 0; i < data.size();) {
        size_t run = 1;
        while (i + run < data.size() && data[i + run] == data[i] && run < 127) ++run;
        if (run >= 3) {
            out.push_back(uint8_t(0x80 + run));
            out.push_back(data[i]);
        } else {
            run = std::min<size_t>(2, data.size() - i);
            out.push_back(uint8_t(run));
            out.insert(out.end(), data.begin() + i, data.begin() + i + run);
        }
        i += run;
    }
    return out;
}

struct PspLayout {
    std::string name;
    uint16_t major, compression, depth;
    int width, height;
    uint32_t paletteCount;
    bool alphaMask;
};

Sample Psp(const PspLayout& l) {
    FileBuilder b;
    std::string sig = "Paint Shop Pro Image File\n\x1a";
    sig.resize(32, '\0');
    b.text(sig);
    b.u16(l.major, "major version", Kind::Enum);
    b.u16(0);
    // A block header; returns where its length(s) go.
    auto open = [&](uint16_t id, const std::string& name) {
        b.text("~BK");
        b.u8(0);
        b.u16(id, name + " id", Kind::Enum);
        const size_t at = b.size();
        if (l.major == 3) b.u32(0, name + " initial length", Kind::Length);
        b.u32(0, name + " length", Kind::Length);
        return at;
    };
    auto close = [&](size_t at) {
        const size_t content = b.size() - at - (l.major == 3 ? 8 : 4);
        if (l.major == 3) b.patch(at, 4, content);
        b.patch(at + (l.major == 3 ? 4 : 0), 4, content);
    };
    size_t at = open(0, "attributes");
    if (l.major > 3) b.u32(46, "attributes chunk", Kind::Length);
    b.u32(l.width, "width", Kind::Dimension);
    b.u32(l.height, "height", Kind::Dimension);
    b.fill(0, 8);
    b.u8(2);
    b.u16(l.compression, "compression", Kind::Enum);
    b.u16(l.depth, "depth", Kind::Enum);
    b.fill(0, 42 - 21);
    close(at);
    if (l.paletteCount) {
        at = open(2, "palette");
        if (l.major > 3) b.u32(8, "palette chunk", Kind::Length);
        b.u32(l.paletteCount, "palette entries");
        b.bytes(Pattern(4 * l.paletteCount, 4), "palette");
        close(at);
    }
    const size_t bank = open(3, "layer bank");
    const size_t layer = open(4, "layer");
    Bytes info(115, 0);
    if (l.major == 3) {
        b.fill('L', 256);
        b.bytes(info);
    } else {
        b.u32(4 + 2 + 5 + info.size(), "layer info chunk", Kind::Length);
        b.u16(5, "layer name length", Kind::Length);
        b.text("Layer");
        b.bytes(info);
    }
    const size_t stride = l.depth == 1 ? (l.width + 7) / 8 : l.depth == 4 ? l.width / 2 + 1 : size_t(l.width);
    struct Ch { uint16_t bitmapType, channelType; };
    std::vector<Ch> channels;
    if (l.depth == 24) channels = {{0, 1}, {0, 2}, {0, 3}};
    else channels = {{0, 0}};
    if (l.alphaMask) channels.push_back({1, 0});
    if (l.major > 3) b.u32(8, "layer chunk", Kind::Length);
    b.u16(1, "bitmap count");
    b.u16(channels.size(), "channel count");
    for (size_t c = 0; c < channels.size(); ++c) {
        const std::string n = "channel " + std::to_string(c);
        const Bytes plane = Pattern(stride * l.height, uint32_t(c + 3), l.depth == 8 && l.paletteCount ? 0xFF : 0xFF);
        const Bytes packed = l.compression == 1 ? PspRunLength(plane) : l.compression == 2 ? Deflate(plane) : plane;
        const size_t ch = open(5, n);
        if (l.major > 3) b.u32(16, n + " chunk", Kind::Length);
        b.u32(packed.size(), n + " packed length", Kind::Length);
        b.u32(plane.size(), n + " length", Kind::Length);
        b.u16(channels[c].bitmapType, n + " bitmap type", Kind::Enum);
        b.u16(channels[c].channelType, n + " channel type", Kind::Enum);
        b.bytes(packed, n + " data");
        close(ch);
    }
    close(layer);
    close(bank);
    return b.take("psp " + l.name);
}

TEST(HostileInput, PaintShopPro) {
    const std::vector<Sample> samples = {
        Psp({"v3 run-length 8-bit palette of 7", 3, 1, 8, 7, 3, 7, false}),
        Psp({"v5 deflate 24-bit with mask", 5, 2, 24, 5, 3, 0, true}),
        Psp({"v4 raw 4-bit", 4, 0, 4, 7, 2, 16, false}),
        Psp({"v6 run-length 1-bit", 6, 1, 1, 13, 3, 2, false}),
    };
    // Deep and long block structures: a layer bank of 20000 empty layers, and a bank whose
    // blocks are all headers of zero length.
    Bytes layers = samples[2].bytes, zeros = samples[2].bytes;
    for (Bytes* f : {&layers, &zeros}) {
        const Bytes head(f->begin(), f->begin() + 36);
        Bytes bank;
        for (int i = 0; i < 20000; ++i) {
            const Bytes empty = f == &layers ? Bytes{'~', 'B', 'K', 0, 4, 0, 8, 0, 0, 0, 8, 0, 0, 0, 1, 0, 0, 0}
                                             : Bytes{'~', 'B', 'K', 0, 4, 0, 0, 0, 0, 0};
            bank.insert(bank.end(), empty.begin(), empty.end());
        }
        Bytes out(f->begin(), f->begin() + 36 + 10 + 46);  // signature and attributes
        const uint32_t n = uint32_t(bank.size());
        out.insert(out.end(), {'~', 'B', 'K', 0, 3, 0, uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)});
        out.insert(out.end(), bank.begin(), bank.end());
        *f = out;
        (void)head;
    }
    const std::string faults = CheckSamples(samples, LoadAndDraw<TPSPGraphic>,
                                            {{"20000 empty layers", layers}, {"20000 zero-length blocks", zeros}});
    EXPECT_TRUE(faults.empty()) << faults;
}

}  // namespace
}  // namespace hostile
