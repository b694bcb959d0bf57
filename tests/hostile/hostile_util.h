#pragma once
// What the bad-input suites share: the load that every case goes through (read from memory,
// then drawn at full size onto a 24-bit bitmap as the pipeline does), and small encoders.
#include <zlib.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "graphics/bitmap.h"
#include "graphics/stream.h"
#include "tests/support/hostile_input.h"
#include "tests/support/png_chunks.h"
#include "tests/support/test_support.h"

namespace hostile {

inline std::string Hex2(uint8_t v) {
    const char* digits = "0123456789ABCDEF";
    return std::string{digits[v >> 4], digits[v & 15]};
}

template <class PictureClass>
void LoadAndDraw(std::span<const uint8_t> file) {
    PictureClass picture;
    TMemoryStream stream(std::vector<uint8_t>(file.begin(), file.end()));
    picture.ReadPicture(stream);
    if (picture.Empty()) return;
    TBitmap canvas(picture.Width(), picture.Height(), TPixelFormat::pf24bit);
    picture.Draw(canvas, Rect(0, 0, canvas.Width(), canvas.Height()));
}

inline Bytes Deflate(const Bytes& data) { return testsupport::Deflate(data, 9); }

// Packs codes of a fixed width, least significant bit first (GIF) or most significant first (TIFF).
inline Bytes PackCodes(const std::vector<int>& codes, int width, bool msbFirst) {
    Bytes out;
    uint32_t acc = 0;
    int bits = 0;
    for (int code : codes) {
        if (msbFirst) {
            acc = (acc << width) | uint32_t(code);
            bits += width;
            while (bits >= 8) {
                out.push_back(uint8_t(acc >> (bits - 8)));
                bits -= 8;
            }
        } else {
            acc |= uint32_t(code) << bits;
            bits += width;
            while (bits >= 8) {
                out.push_back(uint8_t(acc));
                acc >>= 8;
                bits -= 8;
            }
        }
    }
    if (bits > 0) out.push_back(uint8_t(msbFirst ? acc << (8 - bits) : acc));
    return out;
}

// LZW of literal codes only, with a clear code often enough that the code width never grows.
inline Bytes LiteralLzw(const Bytes& data, int minCodeSize, bool tiff) {
    const int clear = 1 << minCodeSize, end = clear + 1;
    const size_t perClear = tiff ? 200 : (size_t(1) << minCodeSize) - 3;
    std::vector<int> codes;
    for (size_t i = 0; i < data.size(); ++i) {
        if (i % perClear == 0) codes.push_back(clear);
        codes.push_back(data[i] & (clear - 1));
    }
    codes.push_back(end);
    return PackCodes(codes, minCodeSize + 1, tiff);
}

// PackBits (TIFF, Photoshop): runs of three or more become run packets.
inline Bytes PackBits(const uint8_t* data, size_t n) {
    Bytes out;
    for (size_t i = 0; i < n;) {
        size_t run = 1;
        while (i + run < n && run < 128 && data[i + run] == data[i]) ++run;
        if (run >= 3) {
            out.push_back(uint8_t(257 - run));
            out.push_back(data[i]);
            i += run;
            continue;
        }
        size_t lit = 0;
        while (i + lit < n && lit < 128 &&
               !(i + lit + 2 < n && data[i + lit] == data[i + lit + 1] && data[i + lit] == data[i + lit + 2]))
            ++lit;
        out.push_back(uint8_t(lit - 1));
        out.insert(out.end(), data + i, data + i + lit);
        i += lit;
    }
    return out;
}

// Pixels with runs and noise, so that every encoder has both kinds of packet to write.
inline Bytes Pattern(size_t count, uint32_t seed, uint8_t mask = 0xFF) {
    Bytes out = Noise(count, seed);
    for (size_t i = 0; i < count; ++i) {
        if ((i / 5) % 2 == 0) out[i] = uint8_t(seed);
        out[i] &= mask;
    }
    return out;
}

}  // namespace hostile
