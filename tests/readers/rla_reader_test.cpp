#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "graphics/byte_reader.h"
#include "graphics/errors.h"
#include "graphics/stream.h"
#include "readers/rla_reader.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct RLALayout {
    int width = 7, height = 4;
    bool bottomUp = true;  // window bottom 0, top height-1
    bool matte = false;
    int bits = 8;
    std::string kind = "rgb";
    std::string gamma = "";
};

// RLA packets: a count byte c >= 0 repeats the next byte c + 1 times, c < 0 copies -c bytes.
Bytes RLARunLength(const Bytes& data) {
    Bytes out;
    for (size_t i = 0; i < data.size();) {
        size_t run = 1;
        while (i + run < data.size() && data[i + run] == data[i] && run < 128) ++run;
        if (run >= 2) {
            out.push_back(uint8_t(run - 1));
            out.push_back(data[i]);
        } else {
            run = std::min<size_t>(3, data.size() - i);
            out.push_back(uint8_t(-int(run)));
            out.insert(out.end(), data.begin() + i, data.begin() + i + run);
        }
        i += run;
    }
    return out;
}

uint16_t Sample(int x, int fileRow, int channel, int bits) {
    const unsigned max = (1u << std::min(bits, 16)) - 1;
    return uint16_t(x < 2 ? max : (x * 41 + fileRow * 97 + channel * 71) % (max + 1));
}

uint8_t Reduced(uint16_t v, int bits) {
    const unsigned max = (1u << bits) - 1;
    return bits == 8 ? uint8_t(v) : uint8_t((v * 255u + max / 2) / max);
}

Bytes RLAFile(const RLALayout& l) {
    Bytes header(740, 0);
    auto put16 = [&](size_t at, int v) {
        header[at] = uint8_t(v >> 8);
        header[at + 1] = uint8_t(v);
    };
    put16(8, 0);
    put16(10, l.width - 1);
    put16(12, l.bottomUp ? 0 : l.height - 1);
    put16(14, l.bottomUp ? l.height - 1 : 0);
    put16(20, 3);
    put16(22, l.matte ? 1 : 0);
    put16(26, 0xFFFE);
    std::memcpy(&header[28], l.gamma.data(), l.gamma.size());
    std::memcpy(&header[580], l.kind.data(), l.kind.size());
    put16(658, l.bits);

    ByteWriter rows;
    std::vector<uint32_t> offsets;
    const size_t tableEnd = 740 + 4 * size_t(l.height);
    for (int i = 0; i < l.height; ++i) {
        offsets.push_back(uint32_t(tableEnd + rows.size()));
        for (int c = 0; c < (l.matte ? 4 : 3); ++c) {
            Bytes plain;
            for (int x = 0; x < l.width; ++x) {
                const uint16_t v = Sample(x, i, c, l.bits);
                if (l.bits > 8) plain.push_back(uint8_t(v >> 8));
                plain.push_back(uint8_t(v));
            }
            const Bytes packed = RLARunLength(plain);
            rows.u16be(uint16_t(packed.size()));
            rows.bytes(packed);
        }
    }
    ByteWriter file;
    file.bytes(header);
    for (uint32_t o : offsets) file.u32be(o);
    file.bytes(rows.buffer());
    return file.take();
}

std::string ErrorOf(const Bytes& file) {
    try {
        TRLAGraphic reader;
        TMemoryStream stream(file);
        reader.ReadPicture(stream);
    } catch (const EImbrixError& e) {
        return e.what();
    }
    return "(loaded)";
}

}  // namespace

TEST(RLAReader, EveryLayoutLoadsItsPixels) {
    struct Case {
        std::string name;
        RLALayout layout;
    };
    std::vector<Case> cases;
    for (bool bottomUp : {true, false})
        for (bool matte : {false, true})
            for (int bits : {8, 16, 10, 5}) {
                RLALayout l;
                l.bottomUp = bottomUp;
                l.matte = matte;
                l.bits = bits;
                l.kind = bits == 16 ? "RGB" : "rgb";
                cases.push_back({std::string(bottomUp ? "bottom-up" : "top-down") + (matte ? " matte " : " ") +
                                     std::to_string(bits) + " bits",
                                 l});
            }
    RLALayout wide;
    wide.width = 300;  // runs and literals longer than one packet
    cases.push_back({"300 wide", wide});
    RLALayout gammaOne;
    gammaOne.gamma = "1.0";
    cases.push_back({"gamma 1.0", gammaOne});

    for (const Case& c : cases) {
        const RLALayout& l = c.layout;
        TRLAGraphic reader;
        TMemoryStream stream(RLAFile(l));
        try {
            reader.ReadPicture(stream);
        } catch (const EImbrixError& e) {
            ADD_FAILURE() << c.name << ": " << e.what();
            continue;
        }
        ASSERT_EQ(reader.Width(), l.width) << c.name;
        ASSERT_EQ(reader.Height(), l.height) << c.name;
        ASSERT_EQ(reader.PixelFormat(), l.matte ? TPixelFormat::pf32bit : TPixelFormat::pf24bit) << c.name;
        for (int i = 0; i < l.height; ++i) {
            const int y = l.bottomUp ? l.height - 1 - i : i;
            const uint8_t* row = reader.ScanLine(y);
            const int bpp = l.matte ? 4 : 3;
            for (int x = 0; x < l.width; ++x) {
                const uint8_t want[4] = {Reduced(Sample(x, i, 2, l.bits), l.bits),
                                         Reduced(Sample(x, i, 1, l.bits), l.bits),
                                         Reduced(Sample(x, i, 0, l.bits), l.bits),
                                         Reduced(Sample(x, i, 3, l.bits), l.bits)};
                for (int k = 0; k < bpp; ++k)
                    ASSERT_EQ(row[x * bpp + k], want[k]) << c.name << " file row " << i << " x " << x << " byte " << k;
            }
        }
    }
}

TEST(RLAReader, RefusesBrokenFilesWithAClearMessage) {
    const std::string invalid = "Cannot load image. Invalid or unexpected RLA image format.";
    auto edited = [](std::function<void(Bytes&)> edit) {
        Bytes f = RLAFile(RLALayout{});
        edit(f);
        return f;
    };
    struct Case {
        std::string name;
        Bytes file;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"xyz channels", RLAFile([] { RLALayout l; l.kind = "xyz"; return l; }()), invalid},
        {"row offset past the file", edited([](Bytes& f) { f[740] = 0x7F; }), invalid},
        {"row offset inside the header", edited([](Bytes& f) { std::memset(&f[744], 0, 4); }), invalid},
        {"unknown channel kind", RLAFile([] { RLALayout l; l.kind = "cmy"; return l; }()),
         "Invalid color format in RLA file."},
        {"32 bits per channel", RLAFile([] { RLALayout l; l.bits = 32; return l; }()),
         "Invalid color format in RLA file."},
        {"right edge left of the left one", edited([](Bytes& f) { f[10] = 0xFF; f[11] = 0xF0; }), invalid},
        {"row data cut short", edited([](Bytes& f) { f.erase(f.end() - 3, f.end()); }), "Stream read error"},
    };
    for (const Case& c : cases) {
        const std::string got = ErrorOf(c.file);
        EXPECT_EQ(got.substr(0, c.message.size()), c.message) << c.name << ": " << got;
    }
}

TEST(RLAReader, ProbeWantsTheRevisionAndAKnownChannelKind) {
    Bytes file = RLAFile(RLALayout{});
    TMemoryStream good(file);
    EXPECT_TRUE(TRLAGraphic::ProbeStream(good));
    EXPECT_EQ(good.Position(), 0u);
    file[27] = 0xFD;
    TMemoryStream bad(file);
    EXPECT_FALSE(TRLAGraphic::ProbeStream(bad));
}
