#pragma once
// Builds Windows bitmap files and DIBs byte by byte for the codec tests, and shows pixels.
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "graphics/bitmap.h"
#include "graphics/byte_reader.h"
#include "graphics/stream.h"

namespace testbmp {

struct DibSpec {
    uint32_t headerSize = 40;  // 12 core, 16..64 OS/2 2.x, 40, 52, 56, 108, 124
    int32_t width = 1;
    int32_t height = 1;  // negative: top-down
    uint16_t bitCount = 24;
    uint32_t compression = 0;
    uint32_t colorsUsed = 0;
    // 40-byte headers: written after the header; larger ones: inside it (red, green, blue, alpha).
    std::vector<uint32_t> masks;
    std::vector<TRGBQuad> palette;  // 3 bytes an entry for core headers
    std::vector<uint8_t> pixels;    // exactly as stored in the file
};

inline std::vector<uint8_t> BuildDib(const DibSpec& s) {
    ByteWriter w;
    w.u32le(s.headerSize);
    if (s.headerSize == 12) {
        w.u16le(static_cast<uint16_t>(s.width));
        w.u16le(static_cast<uint16_t>(s.height));
        w.u16le(1);
        w.u16le(s.bitCount);
    } else {
        ByteWriter h;
        h.i32le(s.width);
        h.i32le(s.height);
        h.u16le(1);
        h.u16le(s.bitCount);
        h.u32le(s.compression);
        h.u32le(static_cast<uint32_t>(s.pixels.size()));
        h.u32le(2835);
        h.u32le(2835);
        h.u32le(s.colorsUsed);
        h.u32le(0);
        if (s.headerSize > 40)
            for (uint32_t m : s.masks) h.u32le(m);
        std::vector<uint8_t> fields = h.take();
        fields.resize(s.headerSize - 4, 0);
        w.bytes(fields);
        if (s.headerSize == 40)
            for (uint32_t m : s.masks) w.u32le(m);
    }
    for (const TRGBQuad& q : s.palette) {
        w.u8(q.rgbBlue);
        w.u8(q.rgbGreen);
        w.u8(q.rgbRed);
        if (s.headerSize != 12) w.u8(0);
    }
    w.bytes(s.pixels);
    return w.take();
}

// A whole .bmp file; pixelOffset overrides the offset field (default: right after the palette).
inline std::vector<uint8_t> BuildBmp(const DibSpec& s, std::optional<uint32_t> pixelOffset = std::nullopt,
                                     size_t gapBeforePixels = 0) {
    DibSpec headerOnly = s;
    headerOnly.pixels.clear();
    const std::vector<uint8_t> head = BuildDib(headerOnly);
    ByteWriter w;
    w.text("BM");
    w.u32le(static_cast<uint32_t>(14 + head.size() + gapBeforePixels + s.pixels.size()));
    w.u32le(0);
    w.u32le(pixelOffset.value_or(static_cast<uint32_t>(14 + head.size() + gapBeforePixels)));
    w.bytes(head);
    w.fill(0xEE, gapBeforePixels);
    w.bytes(s.pixels);
    return w.take();
}

inline TRGBQuad Quad(uint8_t r, uint8_t g, uint8_t b) { return TRGBQuad{b, g, r, 0}; }

// What the pipeline makes of a loaded picture: drawn onto a white 24-bit bitmap.
inline TBitmap Flatten(TBitmap& picture) {
    TBitmap out(picture.Width(), picture.Height(), TPixelFormat::pf24bit);
    picture.Draw(out, Rect(0, 0, picture.Width(), picture.Height()));
    return out;
}

// Colours of a picture row as "RRGGBB" texts, for readable failures.
inline std::string Row(const TBitmap& bmp, int y) {
    std::string out;
    for (int x = 0; x < bmp.Width(); ++x) {
        const TColor c = bmp.Pixel(x, y);
        char text[16];
        std::snprintf(text, sizeof text, "%s%02X%02X%02X", x ? " " : "", GetRValue(c), GetGValue(c), GetBValue(c));
        out += text;
    }
    return out;
}

// The bitmap a BMP file's bytes read to (the reader's own exceptions pass through).
inline TBitmap ReadBmp(const std::vector<uint8_t>& file) {
    TMemoryStream stream(file);
    TBitmap bmp;
    bmp.ReadPicture(stream);
    return bmp;
}

}  // namespace testbmp
