#pragma once
// Small writers of Photoshop and Targa files for the reader tests, so every variant (depths,
// modes, compressions, row orders) can be made at test time and handed to Pillow as well.
#include <cstdint>
#include <vector>

#include "graphics/byte_reader.h"

namespace testwriters {

using Bytes = std::vector<uint8_t>;

// Deterministic noise bytes.
inline Bytes Noise(size_t count, uint32_t seed) {
    Bytes out(count);
    for (auto& b : out) {
        seed = seed * 1103515245u + 12345u;
        b = uint8_t(seed >> 16);
    }
    return out;
}

// Standard PackBits of one row; runs of three or more become run packets.
inline Bytes PackBits(const uint8_t* data, size_t n) {
    Bytes out;
    size_t i = 0;
    while (i < n) {
        size_t run = 1;
        while (i + run < n && run < 128 && data[i + run] == data[i]) ++run;
        if (run >= 3) {
            out.push_back(uint8_t(257 - run));
            out.push_back(data[i]);
            i += run;
            continue;
        }
        size_t lit = 0;
        while (i + lit < n && lit < 128) {
            if (i + lit + 2 < n && data[i + lit] == data[i + lit + 1] && data[i + lit] == data[i + lit + 2]) break;
            ++lit;
        }
        out.push_back(uint8_t(lit - 1));
        out.insert(out.end(), data + i, data + i + lit);
        i += lit;
    }
    return out;
}

struct PsdPicture {
    uint16_t mode = 3;
    uint16_t depth = 8;
    uint32_t width = 0, height = 0;
    std::vector<Bytes> planes;  // one per channel, rows of (width * depth + 7) / 8 bytes
    Bytes modeData;             // palette planes for indexed files
    uint16_t compression = 0;   // 0 raw, 1 PackBits
};

inline Bytes PsdFile(const PsdPicture& p) {
    ByteWriter w;
    w.text("8BPS");
    w.u16be(1);
    w.fill(0, 6);
    w.u16be(uint16_t(p.planes.size()));
    w.u32be(p.height);
    w.u32be(p.width);
    w.u16be(p.depth);
    w.u16be(p.mode);
    w.u32be(uint32_t(p.modeData.size()));
    w.bytes(p.modeData);
    w.u32be(0);  // image resources
    w.u32be(0);  // layers and masks
    w.u16be(p.compression);
    const size_t rowBytes = (size_t(p.width) * p.depth + 7) / 8;
    if (p.compression == 1) {
        std::vector<Bytes> rows;
        for (const Bytes& plane : p.planes)
            for (size_t y = 0; y < p.height; ++y) rows.push_back(PackBits(plane.data() + y * rowBytes, rowBytes));
        for (const Bytes& r : rows) w.u16be(uint16_t(r.size()));
        for (const Bytes& r : rows) w.bytes(r);
    } else {
        for (const Bytes& plane : p.planes) w.bytes(plane);
    }
    return w.take();
}

struct TgaPicture {
    uint8_t imageType = 2;
    uint8_t depth = 24;
    uint8_t descriptor = 0;
    uint16_t width = 0, height = 0;
    Bytes id;
    Bytes map;  // colour map entries as stored
    uint8_t mapBits = 0;
    uint16_t mapFirst = 0;
    Bytes pixels;  // file rows, in file order
    bool packetsCrossRows = true;  // run-length packets run on over row ends
};

// Run-length packets of a pixel stream.
inline Bytes TargaRLE(const Bytes& pixels, size_t pixelBytes) {
    Bytes out;
    const size_t count = pixels.size() / pixelBytes;
    auto same = [&](size_t a, size_t b) {
        return std::equal(pixels.begin() + a * pixelBytes, pixels.begin() + (a + 1) * pixelBytes,
                          pixels.begin() + b * pixelBytes);
    };
    size_t i = 0;
    while (i < count) {
        size_t run = 1;
        while (i + run < count && run < 128 && same(i, i + run)) ++run;
        if (run >= 2) {
            out.push_back(uint8_t(0x80 | (run - 1)));
            out.insert(out.end(), pixels.begin() + i * pixelBytes, pixels.begin() + (i + 1) * pixelBytes);
            i += run;
            continue;
        }
        size_t lit = 1;
        while (i + lit < count && lit < 128 && !(i + lit + 1 < count && same(i + lit, i + lit + 1))) ++lit;
        out.push_back(uint8_t(lit - 1));
        out.insert(out.end(), pixels.begin() + i * pixelBytes, pixels.begin() + (i + lit) * pixelBytes);
        i += lit;
    }
    return out;
}

inline Bytes TgaFile(const TgaPicture& p) {
    ByteWriter w;
    w.u8(uint8_t(p.id.size()));
    w.u8(p.map.empty() ? 0 : 1);
    w.u8(p.imageType);
    w.u16le(p.mapFirst);
    const size_t entryBytes = (p.mapBits + 7) / 8;
    w.u16le(uint16_t(entryBytes ? p.map.size() / entryBytes : 0));
    w.u8(p.map.empty() && p.mapBits == 0 ? 0 : p.mapBits);
    w.u16le(0);
    w.u16le(0);
    w.u16le(p.width);
    w.u16le(p.height);
    w.u8(p.depth);
    w.u8(p.descriptor);
    w.bytes(p.id);
    w.bytes(p.map);
    const size_t pixelBytes = (p.depth + 7) / 8;
    if (p.imageType < 9) {
        w.bytes(p.pixels);
    } else if (p.packetsCrossRows) {
        w.bytes(TargaRLE(p.pixels, pixelBytes));
    } else {
        const size_t row = size_t(p.width) * pixelBytes;
        for (size_t y = 0; y < p.height; ++y)
            w.bytes(TargaRLE(Bytes(p.pixels.begin() + y * row, p.pixels.begin() + (y + 1) * row), pixelBytes));
    }
    return w.take();
}

}  // namespace testwriters
