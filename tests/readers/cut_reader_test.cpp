#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "graphics/byte_reader.h"
#include "graphics/errors.h"
#include "graphics/stream.h"
#include "readers/cut_reader.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Dr. Halo rows: a 2-byte length, run packets (80h | count, value) and literal packets
// (count, bytes), a zero header at the end.
Bytes CUTFile(int width, int height, const std::function<uint8_t(int, int)>& pixel) {
    ByteWriter w;
    w.u16le(uint16_t(width));
    w.u16le(uint16_t(height));
    w.u16le(0);
    for (int y = 0; y < height; ++y) {
        ByteWriter row;
        for (int x = 0; x < width;) {
            int run = 1;
            while (x + run < width && run < 127 && pixel(x + run, y) == pixel(x, y)) ++run;
            if (run >= 3) {
                row.u8(uint8_t(0x80 | run));
                row.u8(pixel(x, y));
            } else {
                run = std::min(width - x, 2);
                row.u8(uint8_t(run));
                for (int k = 0; k < run; ++k) row.u8(pixel(x + k, y));
            }
            x += run;
        }
        row.u8(0);
        w.u16le(uint16_t(row.size()));
        w.bytes(row.buffer());
    }
    return w.take();
}

TRGBQuad Entry(unsigned i) { return {uint8_t(255 - i), uint8_t(i * 3), uint8_t(i), 0}; }

// Palette file: highest index at 12, entries of three 16-bit values from offset 40, none
// straddling the 512-byte blocks.
Bytes PaletteFile(unsigned entries, int badComponentAt = -1) {
    Bytes file(512, 0);
    file[0] = 'A';
    file[1] = 'H';
    file[12] = uint8_t((entries - 1) & 0xFF);
    file[13] = uint8_t((entries - 1) >> 8);
    size_t block = 0, offset = 40;
    for (unsigned i = 0; i < std::min(entries, 256u); ++i) {
        if (offset > 506) {
            block += 512;
            offset = 0;
            file.resize(block + 512, 0);
        }
        const TRGBQuad q = Entry(i);
        const uint16_t values[3] = {uint16_t(int(i) == badComponentAt ? 256 : q.rgbRed), q.rgbGreen, q.rgbBlue};
        for (int c = 0; c < 3; ++c) {
            file[block + offset + 2 * c] = uint8_t(values[c]);
            file[block + offset + 2 * c + 1] = uint8_t(values[c] >> 8);
        }
        offset += 6;
    }
    return file;
}

uint8_t Index(int x, int y) { return uint8_t(x < 4 ? 200 : (x * 11 + y * 17) % 256); }

}  // namespace

TEST(CUTReader, TakesItsColoursFromThePaletteFileBesideIt) {
    struct Case {
        std::string name;
        std::string paletteName;  // empty: none
        Bytes palette;
        std::string error;  // empty: loads
    };
    const std::vector<Case> cases = {
        {"no palette file: gray levels", "", {}, ""},
        {"photo.pal", "photo.pal", PaletteFile(256), ""},
        {"photo.PAL", "photo.PAL", PaletteFile(256), ""},
        {"photo.Pal", "photo.Pal", PaletteFile(256), ""},
        {"another name does not count", "other.pal", PaletteFile(256), ""},
        {"16 entries", "photo.pal", PaletteFile(16), ""},
        {"300 entries", "photo.pal", PaletteFile(300), "Cannot load image. Palette in CUT file is invalid."},
        {"component above 255", "photo.pal", PaletteFile(100, 90),
         "Cannot load image. Palette in CUT file is invalid."},
        {"palette file cut short", "photo.pal", [] {
             Bytes f = PaletteFile(256);
             f.resize(700);
             return f;
         }(),
         "Stream read error"},
    };
    const int width = 23, height = 4;
    const Bytes picture = CUTFile(width, height, Index);
    for (const Case& c : cases) {
        testsupport::TempDir dir;
        testsupport::WriteFile(dir.file("photo.cut"), picture);
        if (!c.paletteName.empty()) testsupport::WriteFile(dir.file(c.paletteName), c.palette);
        TCUTGraphic reader;
        try {
            reader.ReadPictureFile(dir.file("photo.cut"));
        } catch (const EImbrixError& e) {
            EXPECT_NE(c.error, "") << c.name << ": " << e.what();
            EXPECT_EQ(std::string(e.what()).substr(0, c.error.size()), c.error) << c.name;
            continue;
        }
        ASSERT_EQ(c.error, "") << c.name << " loaded";
        ASSERT_EQ(reader.Width(), width) << c.name;
        ASSERT_EQ(reader.Height(), height) << c.name;
        const bool own = c.paletteName.rfind("photo.", 0) == 0;
        const unsigned entries = own ? (c.palette[12] | c.palette[13] << 8) + 1u : 256u;
        EXPECT_EQ(reader.Palette().size(), entries) << c.name;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const uint8_t i = Index(x, y);
                ASSERT_EQ(reader.RawPixel(x, y), i) << c.name << " at " << x << "," << y;
                if (i >= entries) continue;
                const TRGBQuad want = own ? Entry(i) : TRGBQuad{i, i, i, 0};
                ASSERT_EQ(reader.Palette()[i], want) << c.name << " entry " << int(i);
            }
    }
}

TEST(CUTReader, ReadsFromMemoryWithGrayLevelsAndStopsQuietlyAtTheEnd) {
    Bytes picture = CUTFile(9, 3, Index);
    picture.resize(picture.size() - 5);  // the last row loses its end
    TCUTGraphic reader;
    TMemoryStream stream(picture);
    reader.ReadPicture(stream);
    EXPECT_EQ(reader.Width(), 9);
    EXPECT_EQ(reader.RawPixel(0, 0), 200u);
    EXPECT_EQ(reader.Palette()[200], (TRGBQuad{200, 200, 200, 0}));
    TMemoryStream again(picture);
    EXPECT_FALSE(TCUTGraphic::ProbeStream(again));
}
