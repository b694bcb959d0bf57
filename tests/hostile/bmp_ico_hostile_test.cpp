// Windows bitmaps, icons and cursors against damaged copies of small valid files.
#include <gtest/gtest.h>

#include "graphics/bitmap.h"
#include "graphics/platform_graphics.h"
#include "readers/png_reader.h"
#include "tests/hostile/hostile_util.h"

namespace hostile {
namespace {

struct DibLayout {
    std::string name;
    int width = 7, height = 5;
    uint16_t bits = 8;
    uint32_t compression = 0;  // 0 stored, 1 RLE8, 2 RLE4, 3 bit fields
    uint32_t headerSize = 40;
    uint32_t colors = 0;        // palette entries written
    Bytes pixels;               // as stored (already run-length coded when compressed)
};

// The info header, palette (or masks) and pixels; fields named with prefix.
void PutDib(FileBuilder& b, const DibLayout& l, int storedHeight, const std::string& prefix) {
    if (l.headerSize == 12) {
        b.u32(12, prefix + "header size", Kind::Length);
        b.u16(uint16_t(l.width), prefix + "width", Kind::Dimension);
        b.u16(uint16_t(storedHeight), prefix + "height", Kind::Dimension);
        b.u16(1, prefix + "planes");
        b.u16(l.bits, prefix + "bit count", Kind::Enum);
    } else {
        b.u32(l.headerSize, prefix + "header size", Kind::Length);
        b.u32(uint32_t(l.width), prefix + "width", Kind::Dimension);
        b.u32(uint32_t(storedHeight), prefix + "height", Kind::Dimension);
        b.u16(1, prefix + "planes");
        b.u16(l.bits, prefix + "bit count", Kind::Enum);
        b.u32(l.compression, prefix + "compression", Kind::Enum);
        b.u32(uint32_t(l.pixels.size()), prefix + "image size", Kind::Length);
        b.u32(2835);
        b.u32(2835);
        b.u32(l.colors, prefix + "colours used");
        b.u32(0, prefix + "colours important");
        b.fill(0, l.headerSize - 40);
    }
    if (l.compression == 3) {
        for (uint32_t mask : {0xF800u, 0x07E0u, 0x001Fu}) b.u32(mask, prefix + "mask");
    }
    Bytes palette;
    for (uint32_t i = 0; i < l.colors; ++i) {
        const uint8_t entry[4] = {uint8_t(i * 40), uint8_t(255 - i * 30), uint8_t(i * 90), 0};
        palette.insert(palette.end(), entry, entry + (l.headerSize == 12 ? 3 : 4));
    }
    b.bytes(palette, prefix + "palette");
    b.bytes(l.pixels, prefix + "pixels");
}

Sample Bmp(const DibLayout& l) {
    FileBuilder b;
    b.u8('B');
    b.u8('M');
    const size_t fileSize = b.u32(0, "file size", Kind::Length);
    b.u32(0);
    const size_t offset = b.u32(0, "pixel offset", Kind::Offset);
    PutDib(b, l, l.height, "");
    b.patch(fileSize, 4, b.size());
    b.patch(offset, 4, b.size() - l.pixels.size());
    return b.take("bmp " + l.name);
}

// RLE8 rows of 7 pixels: a run, an absolute group of odd length (padded), a delta, the end
// of a row, and indices past the 4-entry palette.
Bytes Rle8() {
    return {3, 1, 0, 3, 2, 200, 3, 0, 1, 255, 0, 0,   // row 0
            7, 2, 0, 0,                                // row 1
            2, 3, 0, 2, 2, 0, 3, 9, 0, 0,             // row 2: delta right by 2
            200, 1,                                    // a run far past the row end
            0, 0, 0, 1};
}

Bytes Rle4() {
    return {4, 0x12, 0, 3, 0x3F, 0xE0, 3, 0x45, 0, 0,  // row 0
            7, 0xF1, 0, 0,                              // row 1
            0, 2, 1, 1, 5, 0x77, 0, 0,                  // delta
            40, 0x99, 0, 1};
}

std::vector<Sample> BmpSamples() {
    std::vector<Sample> s;
    s.push_back(Bmp({"8-bit RLE", 7, 5, 8, 1, 40, 4, Rle8()}));
    s.push_back(Bmp({"4-bit RLE", 7, 5, 4, 2, 40, 6, Rle4()}));
    s.push_back(Bmp({"24-bit", 5, 3, 24, 0, 40, 0, Pattern(16 * 3, 7)}));
    s.push_back(Bmp({"16-bit fields", 5, 3, 16, 3, 40, 0, Pattern(12 * 3, 9)}));
    s.push_back(Bmp({"32-bit v5", 3, 3, 32, 0, 124, 0, Pattern(12 * 3, 11)}));
    s.push_back(Bmp({"1-bit core", 9, 4, 1, 0, 12, 2, Pattern(4 * 4, 13)}));
    s.push_back(Bmp({"8-bit short palette", 6, 3, 8, 0, 40, 3, Pattern(8 * 3, 17)}));
    return s;
}

TEST(HostileInput, Bitmap) {
    const std::string faults = CheckSamples(BmpSamples(), LoadAndDraw<TBitmap>);
    EXPECT_TRUE(faults.empty()) << faults;
}

// An icon or cursor of a 4-bit DIB entry (with its mask) and a PNG entry.
Sample Icon(uint16_t type) {
    const int w = 6, h = 4;
    DibLayout dib{"", w, h, 4, 0, 40, 16, Pattern(4 * h, 21)};
    const Bytes mask = {0xA0, 0, 0, 0, 0x50, 0, 0, 0, 0, 0, 0, 0, 0xFC, 0, 0, 0};
    dib.pixels.insert(dib.pixels.end(), mask.begin(), mask.end());

    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    auto chunk = [&](const char* t, const Bytes& d) {
        const uint32_t n = uint32_t(d.size());
        const uint8_t len[4] = {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
        png.insert(png.end(), len, len + 4);
        const size_t start = png.size();
        png.insert(png.end(), t, t + 4);
        png.insert(png.end(), d.begin(), d.end());
        const uint32_t crc = uint32_t(crc32(0, png.data() + start, uInt(png.size() - start)));
        for (int k = 3; k >= 0; --k) png.push_back(uint8_t(crc >> (8 * k)));
    };
    chunk("IHDR", {0, 0, 0, 3, 0, 0, 0, 2, 8, 2, 0, 0, 0});
    Bytes raw;
    for (int y = 0; y < 2; ++y) {
        raw.push_back(0);
        const Bytes row = Pattern(9, 30 + y);
        raw.insert(raw.end(), row.begin(), row.end());
    }
    chunk("IDAT", Deflate(raw));
    chunk("IEND", {});

    FileBuilder b;
    b.u16(0);
    b.u16(type, "type", Kind::Enum);
    b.u16(2, "entry count");
    size_t sizes[2], offsets[2];
    for (int e = 0; e < 2; ++e) {
        const std::string p = "entry " + std::to_string(e) + " ";
        b.u8(e ? 3 : w, p + "width", Kind::Dimension);
        b.u8(e ? 2 : h, p + "height", Kind::Dimension);
        b.u8(e ? 0 : 16, p + "colours");
        b.u8(0);
        b.u16(type == 2 ? 1 : 1, p + "planes or hot spot x");
        b.u16(type == 2 ? 2 : 4, p + "bit count or hot spot y");
        sizes[e] = b.u32(0, p + "size", Kind::Length);
        offsets[e] = b.u32(0, p + "offset", Kind::Offset);
    }
    const size_t dibAt = b.size();
    PutDib(b, dib, 2 * h, "image ");
    b.patch(sizes[0], 4, b.size() - dibAt);
    b.patch(offsets[0], 4, dibAt);
    const size_t pngAt = b.bytes(png, "png entry");
    b.patch(sizes[1], 4, png.size());
    b.patch(offsets[1], 4, pngAt);
    Sample s = b.take(type == 2 ? "cursor" : "icon");
    // The PNG entry's own fields, at their places inside the file.
    s.fields.push_back({"png width", pngAt + 16, 4, true, Kind::Dimension});
    s.fields.push_back({"png height", pngAt + 20, 4, true, Kind::Dimension});
    s.fields.push_back({"png depth", pngAt + 24, 1, true, Kind::Enum});
    s.fields.push_back({"png colour type", pngAt + 25, 1, true, Kind::Enum});
    return s;
}

TEST(HostileInput, IconAndCursor) {
    SetIconPngDecoder(&DecodePngData);
    // Many entries that all point at the same image: the directory walk stays bounded.
    Sample many = Icon(1);
    Bytes crowded(many.bytes.begin(), many.bytes.begin() + 6);
    crowded[4] = 0xFF;
    crowded[5] = 0xFF;
    for (int i = 0; i < 0xFFFF; ++i) crowded.insert(crowded.end(), many.bytes.begin() + 6, many.bytes.begin() + 22);
    const std::string faults =
        CheckSamples({Icon(1), Icon(2)}, LoadAndDraw<TIcon>, {{"65535 entries on one image", crowded}});
    SetIconPngDecoder(nullptr);
    EXPECT_TRUE(faults.empty()) << faults;
}

}  // namespace
}  // namespace hostile
