#pragma once
// Small PCX and SGI writers for the reader tests: they lay out exactly the bytes a test asks
// for (depths, plane layouts, odd strides, cut-off data) that no writer on the system offers.
#include <cstdint>
#include <vector>

#include "graphics/byte_reader.h"

namespace testwriters {

using Bytes = std::vector<uint8_t>;

struct PCXFile {
    int width = 0, height = 0;
    uint8_t bits = 8, planes = 1;
    uint8_t manufacturer = 10, version = 5;
    bool compressed = true;
    bool runsCrossRows = false;     // encode the picture as one stream instead of row by row
    uint16_t bytesPerLine = 0;      // 0: the smallest even value that holds a plane row
    uint16_t paletteInfo = 1;
    uint8_t headerPalette[48] = {};
    Bytes trailingPalette;          // 768 bytes written after the marker 12; empty: no block
    int keepRows = -1;              // write only this many rows of data (-1: all)
    // One value per pixel, top row first: an index, or 0xRRGGBB for 3 planes of 8 bits.
    std::vector<uint32_t> pixels;

    uint16_t Stride() const {
        return bytesPerLine ? bytesPerLine : uint16_t(((unsigned(width) * bits + 15) / 16) * 2);
    }

    // The uncompressed row: every plane, bytesPerLine bytes each.
    Bytes Row(int y) const {
        const unsigned bpl = Stride();
        Bytes row(size_t(planes) * bpl, 0);
        for (int x = 0; x < width; ++x) {
            const uint32_t v = pixels[size_t(y) * width + x];
            for (unsigned p = 0; p < planes; ++p) {
                uint8_t* plane = row.data() + p * bpl;
                if (bits == 8 && planes == 3) {
                    plane[x] = uint8_t(v >> (16 - 8 * p));
                } else if (planes > 1) {  // bit planes: plane p holds bit p
                    if ((v >> p) & 1) plane[x / 8] |= uint8_t(0x80 >> (x % 8));
                } else {
                    const unsigned bit = unsigned(x) * bits;
                    plane[bit / 8] |= uint8_t((v & ((1u << bits) - 1)) << (8 - bits - bit % 8));
                }
            }
        }
        return row;
    }

    static void Encode(const Bytes& in, Bytes& out) {
        for (size_t i = 0; i < in.size();) {
            size_t n = 1;
            while (i + n < in.size() && in[i + n] == in[i] && n < 63) ++n;
            if (n > 1 || in[i] >= 0xC0) out.push_back(uint8_t(0xC0 | n));
            out.push_back(in[i]);
            i += n;
        }
    }

    Bytes Build() const {
        ByteWriter w;
        w.u8(manufacturer);
        w.u8(version);
        w.u8(compressed ? 1 : 0);
        w.u8(bits);
        w.u16le(0); w.u16le(0);
        w.u16le(uint16_t(width - 1)); w.u16le(uint16_t(height - 1));
        w.u16le(72); w.u16le(96);
        w.bytes(headerPalette, 48);
        w.u8(0);
        w.u8(planes);
        w.u16le(Stride());
        w.u16le(paletteInfo);
        w.fill(0, 58);
        const int rows = keepRows < 0 ? height : keepRows;
        Bytes all;
        for (int y = 0; y < rows; ++y) {
            const Bytes row = Row(y);
            if (!compressed) {
                w.bytes(row);
            } else if (runsCrossRows) {
                all.insert(all.end(), row.begin(), row.end());
            } else {
                Bytes packed;
                Encode(row, packed);
                w.bytes(packed);
            }
        }
        if (runsCrossRows && compressed) {
            Bytes packed;
            Encode(all, packed);
            w.bytes(packed);
        }
        if (!trailingPalette.empty()) {
            w.u8(12);
            w.bytes(trailingPalette);
        }
        return w.take();
    }
};

struct SGIFile {
    int width = 0, height = 0, channels = 3;
    uint8_t bytesPerSample = 1;
    bool rle = false;
    uint16_t magic = 474;
    // Samples by channel, then file row (0 = bottom), then column.
    std::vector<uint16_t> samples;

    uint16_t At(int c, int r, int x) const { return samples[(size_t(c) * height + r) * width + x]; }

    void Put(ByteWriter& w, uint16_t v) const {
        if (bytesPerSample == 2) w.u16be(v); else w.u8(uint8_t(v));
    }

    // Runs for three or more equal values, literals otherwise; counts in samples.
    Bytes EncodeRow(int c, int r) const {
        ByteWriter w;
        for (int x = 0; x < width;) {
            int n = 1;
            while (x + n < width && At(c, r, x + n) == At(c, r, x) && n < 127) ++n;
            if (n >= 3) {
                Put(w, uint16_t(n));
                Put(w, At(c, r, x));
                x += n;
                continue;
            }
            int lit = 0;
            while (x + lit < width && lit < 127 &&
                   !(x + lit + 2 < width && At(c, r, x + lit) == At(c, r, x + lit + 1) &&
                     At(c, r, x + lit) == At(c, r, x + lit + 2)))
                ++lit;
            Put(w, uint16_t(0x80 | lit));
            for (int k = 0; k < lit; ++k) Put(w, At(c, r, x + k));
            x += lit;
        }
        Put(w, 0);
        return w.take();
    }

    Bytes Build() const {
        ByteWriter w;
        w.u16be(magic);
        w.u8(rle ? 1 : 0);
        w.u8(bytesPerSample);
        w.u16be(channels == 1 ? 2 : 3);
        w.u16be(uint16_t(width));
        w.u16be(uint16_t(height));
        w.u16be(uint16_t(channels));
        w.u32be(0);
        w.u32be(bytesPerSample == 2 ? 65535 : 255);
        w.fill(0, 512 - w.size());
        if (!rle) {
            for (int c = 0; c < channels; ++c)
                for (int r = 0; r < height; ++r)
                    for (int x = 0; x < width; ++x) Put(w, At(c, r, x));
            return w.take();
        }
        const size_t entries = size_t(channels) * height;
        std::vector<uint32_t> start(entries), length(entries);
        Bytes body;
        const size_t bodyStart = 512 + entries * 8;
        // Rows go in last-channel-first order, so the reader must follow the tables.
        for (int c = channels - 1; c >= 0; --c)
            for (int r = 0; r < height; ++r) {
                const Bytes row = EncodeRow(c, r);
                start[size_t(c) * height + r] = uint32_t(bodyStart + body.size());
                length[size_t(c) * height + r] = uint32_t(row.size());
                body.insert(body.end(), row.begin(), row.end());
            }
        for (uint32_t v : start) w.u32be(v);
        for (uint32_t v : length) w.u32be(v);
        w.bytes(body);
        return w.take();
    }
};

}  // namespace testwriters
