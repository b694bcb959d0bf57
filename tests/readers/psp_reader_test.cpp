#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "graphics/byte_reader.h"
#include "graphics/errors.h"
#include "graphics/stream.h"
#include "readers/psp_reader.h"
#include "tests/support/png_chunks.h"

namespace {

using Bytes = std::vector<uint8_t>;

// ---- a small Paint Shop Pro writer -------------------------------------------------------

struct PSPChannel {
    uint16_t bitmapType = 0;
    uint16_t channelType = 0;
    Bytes plane;  // unpacked rows, the reader's row stride apart
};

struct PSPLayout {
    uint16_t major = 3;
    uint16_t compression = 0;  // 0 raw, 1 run-length, 2 deflate, 3 JPEG
    uint16_t depth = 8;
    bool grayscale = false;
    int width = 5, height = 3;
    std::vector<uint8_t> layerTypes = {0};  // one layer each; the last one carries the channels
    std::vector<PSPChannel> channels;
    uint32_t paletteCount = 0;  // entries written (BGRx, entry i = (i*7, i*13, i*29))
};

Bytes PSPRunLength(const Bytes& data) {
    Bytes out;
    for (size_t i = 0; i < data.size();) {
        size_t run = 1;
        while (i + run < data.size() && data[i + run] == data[i] && run < 127) ++run;
        if (run >= 3) {
            out.push_back(uint8_t(0x80 + run));
            out.push_back(data[i]);
            i += run;
        } else {
            size_t n = std::min<size_t>(127, data.size() - i);
            for (size_t k = 1; k < n; ++k)
                if (i + k + 2 < data.size() && data[i + k] == data[i + k + 1] && data[i + k] == data[i + k + 2]) {
                    n = k;
                    break;
                }
            out.push_back(uint8_t(n));
            out.insert(out.end(), data.begin() + i, data.begin() + i + n);
            i += n;
        }
    }
    return out;
}

Bytes Deflate(const Bytes& data) { return testsupport::Deflate(data, 9); }

void Block(ByteWriter& w, uint16_t major, uint16_t id, const Bytes& content) {
    w.text("~BK");
    w.u8(0);
    w.u16le(id);
    if (major == 3) w.u32le(uint32_t(content.size()));
    w.u32le(uint32_t(content.size()));
    w.bytes(content);
}

Bytes PSPFile(const PSPLayout& l) {
    ByteWriter w;
    std::string sig = "Paint Shop Pro Image File\n\x1a";
    sig.resize(32, '\0');
    w.text(sig);
    w.u16le(l.major);
    w.u16le(0);

    ByteWriter attr;
    if (l.major > 3) attr.u32le(46);
    attr.i32le(l.width);
    attr.i32le(l.height);
    const double resolution = 100.0;
    attr.bytes(&resolution, 8);
    attr.u8(2);  // per centimetre
    attr.u16le(l.compression);
    attr.u16le(l.depth);
    attr.fill(0, 27 - 21);
    attr.u8(l.grayscale);
    attr.fill(0, 42 - 28);
    Block(w, l.major, 0, attr.buffer());

    if (l.paletteCount) {
        ByteWriter pal;
        if (l.major > 3) pal.u32le(8);
        pal.u32le(l.paletteCount);
        for (uint32_t i = 0; i < l.paletteCount; ++i) {
            pal.u8(uint8_t(i * 29));
            pal.u8(uint8_t(i * 13));
            pal.u8(uint8_t(i * 7));
            pal.u8(0);
        }
        Block(w, l.major, 2, pal.buffer());
    }

    ByteWriter bank;
    for (size_t n = 0; n < l.layerTypes.size(); ++n) {
        ByteWriter layer;
        Bytes info(115, 0);
        info[0] = l.layerTypes[n];
        if (l.major == 3) {
            layer.fill('L', 256);
            layer.bytes(info);
        } else {
            const std::string name = "Layer";
            layer.u32le(uint32_t(4 + 2 + name.size() + info.size()));
            layer.u16le(uint16_t(name.size()));
            layer.text(name);
            layer.bytes(info);
        }
        const bool last = n + 1 == l.layerTypes.size();
        const uint16_t channelCount = last ? uint16_t(l.channels.size()) : 0;
        if (l.major > 3) layer.u32le(8);
        layer.u16le(1);
        layer.u16le(channelCount);
        for (size_t c = 0; last && c < l.channels.size(); ++c) {
            const PSPChannel& ch = l.channels[c];
            const Bytes packed = l.compression == 1   ? PSPRunLength(ch.plane)
                                 : l.compression == 2 ? Deflate(ch.plane)
                                                      : ch.plane;
            ByteWriter cb;
            if (l.major > 3) cb.u32le(16);
            cb.u32le(uint32_t(packed.size()));
            cb.u32le(uint32_t(ch.plane.size()));
            cb.u16le(ch.bitmapType);
            cb.u16le(ch.channelType);
            cb.bytes(packed);
            Block(layer, l.major, 5, cb.buffer());
        }
        Block(bank, l.major, 4, layer.buffer());
    }
    Block(w, l.major, 3, bank.buffer());
    return w.take();
}

// ---- golden pairs ------------------------------------------------------------------------

struct RGBA {
    uint8_t r, g, b, a;
};

TRGBQuad PaletteEntry(unsigned i) { return {uint8_t(i * 29), uint8_t(i * 13), uint8_t(i * 7), 0}; }

struct GoldenCase {
    std::string name;
    PSPLayout layout;
    std::vector<RGBA> expected;  // row by row
    bool alpha = false;
};

size_t Stride(int depth, int width) { return depth == 1 ? (width + 7) / 8 : depth == 4 ? width / 2 + 1 : width; }

uint8_t Sample(int x, int y, int salt) { return uint8_t(x * 37 + y * 91 + salt * 53 + (x * y) % 7); }

// A layout and its expected pixels for a depth, with the colour channels in the file's order.
GoldenCase MakeCase(uint16_t major, uint16_t compression, int depth, bool gray, bool alpha, bool maskBefore) {
    GoldenCase g;
    PSPLayout& l = g.layout;
    l.major = major;
    l.compression = compression;
    l.depth = uint16_t(depth);
    l.grayscale = gray;
    g.alpha = alpha;
    g.name = "v" + std::to_string(major) + " comp " + std::to_string(compression) + " depth " +
             std::to_string(depth) + (gray ? " gray" : "") + (alpha ? " alpha" : "") + (maskBefore ? " mask" : "");
    const int w = l.width, h = l.height;
    const size_t stride = Stride(depth, w);
    if (maskBefore) {
        // A user mask (bitmap type 2) whose composite must not take the picture's place.
        l.channels.push_back({2, 0, Bytes(stride * h, 0x55)});
        if (depth == 24) l.channels.push_back({2, 1, Bytes(stride * h, 0x11)});
    }
    if (depth == 24) {
        std::vector<PSPChannel> planes = {{0, 1, Bytes(stride * h)}, {0, 2, Bytes(stride * h)}, {0, 3, Bytes(stride * h)}};
        if (alpha) planes.push_back({1, 0, Bytes(stride * h)});
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                RGBA p{Sample(x, y, 1), Sample(x, y, 2), Sample(x, y, 3), alpha ? Sample(x, y, 4) : uint8_t(255)};
                planes[0].plane[y * stride + x] = p.r;
                planes[1].plane[y * stride + x] = p.g;
                planes[2].plane[y * stride + x] = p.b;
                if (alpha) planes[3].plane[y * stride + x] = p.a;
                g.expected.push_back(p);
            }
        // Blue first: the reader goes by channel type, not by position.
        l.channels.push_back(planes[2]);
        l.channels.push_back(planes[0]);
        l.channels.push_back(planes[1]);
        if (alpha) l.channels.push_back(planes[3]);
        return g;
    }
    PSPChannel composite{0, 0, Bytes(stride * h, 0)};
    const unsigned colours = 1u << depth;
    if (!gray) l.paletteCount = colours;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const unsigned v = (x * 3 + y * 5 + 1) % colours;
            uint8_t* row = composite.plane.data() + y * stride;
            if (depth == 1) row[x / 8] |= uint8_t(v << (7 - x % 8));
            else if (depth == 4) row[x / 2] |= uint8_t(v << (x % 2 ? 0 : 4));
            else row[x] = uint8_t(v);
            if (gray) {
                const uint8_t level = uint8_t(v * 255 / (colours - 1));
                g.expected.push_back({level, level, level, 255});
            } else {
                const TRGBQuad q = PaletteEntry(v);
                g.expected.push_back({q.rgbRed, q.rgbGreen, q.rgbBlue, 255});
            }
        }
    l.channels.push_back(composite);
    return g;
}

std::string Check(TPSPGraphic& reader, const GoldenCase& g) {
    if (reader.Width() != g.layout.width || reader.Height() != g.layout.height)
        return "size " + std::to_string(reader.Width()) + "x" + std::to_string(reader.Height());
    if ((reader.PixelFormat() == TPixelFormat::pf32bit) != g.alpha) return "alpha format";
    for (int y = 0; y < reader.Height(); ++y)
        for (int x = 0; x < reader.Width(); ++x) {
            const RGBA& e = g.expected[size_t(y) * g.layout.width + x];
            const TColor c = reader.Pixel(x, y);
            std::string at = " at " + std::to_string(x) + "," + std::to_string(y);
            if (GetRValue(c) != e.r || GetGValue(c) != e.g || GetBValue(c) != e.b)
                return "colour " + std::to_string(GetRValue(c)) + "/" + std::to_string(GetGValue(c)) + "/" +
                       std::to_string(GetBValue(c)) + " want " + std::to_string(e.r) + "/" + std::to_string(e.g) +
                       "/" + std::to_string(e.b) + at;
            if (g.alpha && reader.ScanLine(y)[x * 4 + 3] != e.a) return "alpha" + at;
        }
    return {};
}

std::string ErrorOf(const Bytes& file) {
    try {
        TPSPGraphic reader;
        TMemoryStream stream(file);
        reader.ReadPicture(stream);
    } catch (const EImbrixError& e) {
        return e.what();
    }
    return "(loaded)";
}

}  // namespace

TEST(PSPReader, EveryLayoutLoadsItsPixels) {
    std::vector<GoldenCase> cases;
    for (uint16_t major : {3, 5})
        for (uint16_t compression : {0, 1, 2}) {
            for (int depth : {1, 4, 8, 24}) cases.push_back(MakeCase(major, compression, depth, false, false, false));
            cases.push_back(MakeCase(major, compression, 8, true, false, false));
            cases.push_back(MakeCase(major, compression, 24, false, true, false));
            cases.push_back(MakeCase(major, compression, 24, false, false, true));
            cases.push_back(MakeCase(major, compression, 8, false, false, true));
        }
    // Layers of other types come first and are passed over.
    GoldenCase later = MakeCase(5, 1, 24, false, false, false);
    later.name += " after a type-2 layer";
    later.layout.layerTypes = {2, 1};
    cases.push_back(later);
    GoldenCase laterV3 = MakeCase(3, 0, 8, false, false, false);
    laterV3.name += " after a type-1 layer";
    laterV3.layout.layerTypes = {1, 0};
    cases.push_back(laterV3);

    for (const GoldenCase& g : cases) {
        TPSPGraphic reader;
        TMemoryStream stream(PSPFile(g.layout));
        try {
            reader.ReadPicture(stream);
        } catch (const EImbrixError& e) {
            ADD_FAILURE() << g.name << ": " << e.what();
            continue;
        }
        const std::string problem = Check(reader, g);
        EXPECT_EQ(problem, "") << g.name;
        EXPECT_FLOAT_EQ(reader.Properties.XResolution, 254.0f) << g.name;
    }
}

TEST(PSPReader, RefusesWhatItCannotReadWithAClearMessage) {
    const std::string invalid = "Cannot load image. Invalid or unexpected PSP image format.";
    const std::string compression = "Cannot load image. The compression scheme is not supported for PSP files.";
    struct Case {
        std::string name;
        std::function<Bytes()> file;
        std::string message;
    };
    auto withLayout = [](std::function<void(PSPLayout&)> edit) {
        return [edit] {
            PSPLayout l = MakeCase(5, 0, 8, false, false, false).layout;
            edit(l);
            return PSPFile(l);
        };
    };
    auto truncated = [](size_t cut) {
        return [cut] {
            Bytes f = PSPFile(MakeCase(3, 1, 24, false, false, false).layout);
            f.resize(f.size() - cut);
            return f;
        };
    };
    const std::vector<Case> cases = {
        {"JPEG channels", withLayout([](PSPLayout& l) { l.compression = 3; }), compression},
        {"unknown compression", withLayout([](PSPLayout& l) { l.compression = 9; }), compression},
        {"depth 16", withLayout([](PSPLayout& l) { l.depth = 16; }), "Invalid color format in PSP file."},
        {"version 2", withLayout([](PSPLayout& l) { l.major = 2; }), invalid},
        // The last block (the layer bank) claims more than the file holds.
        {"file cut in the layer bank", truncated(7), invalid},
        {"channel longer than its layer",
         [] {
             Bytes f = PSPFile(MakeCase(3, 0, 8, false, false, false).layout);
             // The channel block's total length is the last header field before its data
             // (5 x 3 bytes of pixels plus 12 bytes of fields).
             const uint32_t want = 15 + 12;
             for (size_t i = 0; i + 4 <= f.size(); ++i)
                 if (f[i] == '~' && f[i + 4] == 5) {
                     uint32_t v = want + 1000;
                     std::memcpy(&f[i + 10], &v, 4);
                 }
             return f;
         },
         invalid},
    };
    for (const Case& c : cases) EXPECT_EQ(ErrorOf(c.file()), c.message) << c.name;

    // A palette of 300 entries fills the 256 the bitmap holds, and the blocks after it are
    // still found.
    PSPLayout big = MakeCase(3, 0, 8, false, false, false).layout;
    big.paletteCount = 300;
    TPSPGraphic reader;
    TMemoryStream stream(PSPFile(big));
    reader.ReadPicture(stream);
    ASSERT_EQ(reader.Palette().size(), 256u);
    EXPECT_EQ(reader.Palette()[255], PaletteEntry(255));
    EXPECT_EQ(Check(reader, MakeCase(3, 0, 8, false, false, false)), "");
}

TEST(PSPReader, ProbeAcceptsAnyLetterCaseAndVersionThreeOn) {
    PSPLayout l = MakeCase(4, 0, 8, false, false, false).layout;
    Bytes file = PSPFile(l);
    TMemoryStream plain(file);
    EXPECT_TRUE(TPSPGraphic::ProbeStream(plain));
    EXPECT_EQ(plain.Position(), 0u);
    for (size_t i = 0; i < 25; ++i) file[i] = uint8_t(std::toupper(file[i]));
    TMemoryStream capitals(file);
    EXPECT_TRUE(TPSPGraphic::ProbeStream(capitals));
    TPSPGraphic reader;
    reader.ReadPicture(capitals);
    EXPECT_EQ(reader.Width(), 5);
    file[32] = 2;
    TMemoryStream old(file);
    EXPECT_FALSE(TPSPGraphic::ProbeStream(old));
}
