// Decompression bombs: files of a few kilobytes that claim pictures past the pixel limit, or
// just under it with data that could never fill them, are refused before their memory is
// taken; small pictures whose compressed data runs on far past them load without reading on.
#include <gtest/gtest.h>

#include <chrono>

#include "gif/gif_image.h"
#include "graphics/bitmap.h"
#include "graphics/errors.h"
#include "graphics/warning_sink.h"
#include "readers/png_reader.h"
#include "readers/psp_reader.h"
#include "readers/tiff_reader.h"
#include "tests/hostile/hostile_util.h"

namespace hostile {
namespace {

void Put32(Bytes& b, uint32_t v, bool big) {
    for (int k = 0; k < 4; ++k) b.push_back(uint8_t(big ? v >> (24 - 8 * k) : v >> (8 * k)));
}
void Put16(Bytes& b, uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}

Bytes Png(uint32_t width, uint32_t height, uint8_t colourType, const Bytes& zdata) {
    Bytes f{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    auto chunk = [&](const char* type, const Bytes& body) {
        Put32(f, uint32_t(body.size()), true);
        const size_t start = f.size();
        f.insert(f.end(), type, type + 4);
        f.insert(f.end(), body.begin(), body.end());
        Put32(f, uint32_t(crc32(0, f.data() + start, uInt(f.size() - start))), true);
    };
    Bytes ihdr;
    Put32(ihdr, width, true);
    Put32(ihdr, height, true);
    ihdr.insert(ihdr.end(), {8, colourType, 0, 0, 0});
    chunk("IHDR", ihdr);
    chunk("IDAT", zdata);
    chunk("IEND", {});
    return f;
}

// One strip of grey (or RGB) pixels.
Bytes Tiff(uint32_t width, uint32_t height, uint16_t compression, const Bytes& strip, uint16_t samples = 1) {
    const uint16_t tags[][2] = {{256, 4}, {257, 4}, {258, 3}, {259, 3}, {262, 3}, {273, 4}, {277, 3}, {278, 4}, {279, 4}};
    const uint32_t values[] = {width, height, 8, compression, samples == 1 ? 1u : 2u, 0, samples, height,
                               uint32_t(strip.size())};
    Bytes f{'I', 'I', 42, 0};
    Put32(f, 8, false);
    Put16(f, 9);
    const uint32_t dataAt = 8 + 2 + 12 * 9 + 4;
    for (int i = 0; i < 9; ++i) {
        Put16(f, tags[i][0]);
        Put16(f, tags[i][1]);
        Put32(f, 1, false);
        const uint32_t v = tags[i][0] == 273 ? dataAt : values[i];
        if (tags[i][1] == 3) {
            Put16(f, v);
            Put16(f, 0);
        } else {
            Put32(f, v, false);
        }
    }
    Put32(f, 0, false);
    f.insert(f.end(), strip.begin(), strip.end());
    return f;
}

Bytes Gif(uint16_t screen, uint16_t frame, const Bytes& lzw) {
    Bytes f{'G', 'I', 'F', '8', '9', 'a'};
    Put16(f, screen);
    Put16(f, screen);
    f.insert(f.end(), {0x80, 0, 0, 0, 0, 0, 255, 255, 255, ','});
    Put16(f, 0);
    Put16(f, 0);
    Put16(f, frame);
    Put16(f, frame);
    f.insert(f.end(), {0, 2});
    for (size_t i = 0; i < lzw.size(); i += 255) {
        const size_t n = std::min<size_t>(255, lzw.size() - i);
        f.push_back(uint8_t(n));
        f.insert(f.end(), lzw.begin() + ptrdiff_t(i), lzw.begin() + ptrdiff_t(i + n));
    }
    f.insert(f.end(), {0, ';'});
    return f;
}

// RLE8, bottom-up: the given run packets, then end of bitmap.
Bytes RleBmp(int32_t width, int32_t height, const Bytes& runs) {
    Bytes f{'B', 'M'};
    const uint32_t offset = 14 + 40 + 16 * 4;
    Put32(f, offset + uint32_t(runs.size()), false);
    Put32(f, 0, false);
    Put32(f, offset, false);
    for (uint32_t v : {40u, uint32_t(width), uint32_t(height)}) Put32(f, v, false);
    Put16(f, 1);
    Put16(f, 8);
    for (uint32_t v : {1u, uint32_t(runs.size()), 2835u, 2835u, 16u, 0u}) Put32(f, v, false);
    for (int i = 0; i < 16; ++i) f.insert(f.end(), {uint8_t(i * 16), uint8_t(i * 8), uint8_t(255 - i * 16), 0});
    f.insert(f.end(), runs.begin(), runs.end());
    f.insert(f.end(), {0, 1});
    return f;
}

// A Paint Shop Pro 5 header and its picture attributes, then only the given bytes.
Bytes PspHeader(int32_t width, int32_t height, uint16_t compression, size_t filler) {
    const std::string signature = "Paint Shop Pro Image File\n\x1a";
    Bytes f(signature.begin(), signature.end());
    f.resize(32, 0);
    Put16(f, 5);
    Put16(f, 0);
    f.insert(f.end(), {'~', 'B', 'K', 0});
    Put16(f, 0);
    Put32(f, 50, false);
    Put32(f, 50, false);  // the attributes chunk's size
    Put32(f, uint32_t(width), false);
    Put32(f, uint32_t(height), false);
    const size_t resolution = f.size();
    f.resize(resolution + 8, 0);
    f.push_back(0);  // unit
    Put16(f, compression);
    Put16(f, 24);  // bits per pixel
    f.resize(resolution - 8 + 50, 0);
    f.resize(f.size() + filler, 0);
    return f;
}

Bytes Repeat(const Bytes& unit, size_t times) {
    Bytes out;
    for (size_t i = 0; i < times; ++i) out.insert(out.end(), unit.begin(), unit.end());
    return out;
}

struct Bomb {
    std::string name;
    Bytes bytes;
    std::function<void(std::span<const uint8_t>)> load;
    bool refused;  // else a small picture that must load
};

TEST(DecompressionBombs, RefusedBeforeTheirMemoryIsTaken) {
    testsupport::LimitsGuard guard;  // the real limits, not the suites' lowered ones
    SetWarningSink(nullptr);
    const Bytes zeros(4000, 0);
    const Bytes longZeros(8 << 20, 0);  // deflates to about 8 KB
    const std::vector<Bomb> bombs = {
        {"PNG 20000 x 20000", Png(20000, 20000, 2, Deflate(zeros)), LoadAndDraw<TPNGGraphic>, true},
        {"PNG 11000 x 11000 RGB from 4000 bytes", Png(11000, 11000, 2, Deflate(zeros)), LoadAndDraw<TPNGGraphic>, true},
        {"PNG 8 x 8 with 8 MB of deflate", Png(8, 8, 0, Deflate(longZeros)), LoadAndDraw<TPNGGraphic>, false},
        {"TIFF deflate 20000 x 20000", Tiff(20000, 20000, 8, Deflate(zeros)), LoadAndDraw<TTIFFGraphic>, true},
        {"TIFF deflate 11000 x 11000 RGB", Tiff(11000, 11000, 8, Deflate(zeros), 3), LoadAndDraw<TTIFFGraphic>, true},
        {"TIFF deflate 8 x 8, 8 MB of data", Tiff(8, 8, 8, Deflate(longZeros)), LoadAndDraw<TTIFFGraphic>, false},
        {"TIFF LZW 11000 x 11000", Tiff(11000, 11000, 5, LiteralLzw(zeros, 8, true)), LoadAndDraw<TTIFFGraphic>, true},
        {"TIFF LZW 8 x 8, long stream", Tiff(8, 8, 5, LiteralLzw(Bytes(1 << 16, 0), 8, true)),
         LoadAndDraw<TTIFFGraphic>, false},
        {"TIFF PackBits 11000 x 11000", Tiff(11000, 11000, 32773, Repeat({0x81, 0}, 2000)),
         LoadAndDraw<TTIFFGraphic>, true},
        {"GIF 65535 x 65535", Gif(65535, 65535, LiteralLzw(zeros, 2, false)), LoadAndDraw<TGIFImage>, true},
        {"GIF 11000 x 11000 from 4000 codes", Gif(11000, 11000, LiteralLzw(zeros, 2, false)), LoadAndDraw<TGIFImage>,
         true},
        {"GIF 8 x 8, long stream", Gif(8, 8, LiteralLzw(Bytes(1 << 16, 1), 2, false)), LoadAndDraw<TGIFImage>, false},
        {"PSP LZ77 11000 x 11000, 4000 bytes", PspHeader(11000, 11000, 2, 4000), LoadAndDraw<TPSPGraphic>, true},
        {"PSP RLE 11000 x 11000, 4000 bytes", PspHeader(11000, 11000, 1, 4000), LoadAndDraw<TPSPGraphic>, true},
        {"BMP RLE8 20000 x 20000", RleBmp(20000, 20000, Repeat({255, 3}, 100)), LoadAndDraw<TBitmap>, true},
        {"BMP RLE8 8 x 8, endless runs", RleBmp(8, 8, Repeat({255, 3}, 1 << 15)), LoadAndDraw<TBitmap>, false},
    };
    const HeapMeter& meter = CurrentHeapMeter();
    for (const Bomb& bomb : bombs) {
        SCOPED_TRACE(bomb.name + " (" + std::to_string(bomb.bytes.size()) + " bytes)");
        const size_t before = meter.live ? meter.live() : 0;
        if (meter.reset) meter.reset();
        const auto start = std::chrono::steady_clock::now();
        bool refused = false;
        try {
            bomb.load(bomb.bytes);
        } catch (const EImbrixError&) {
            refused = true;
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_EQ(refused, bomb.refused);
        EXPECT_LT(seconds, 1.0);
        // A few megabytes of working memory; the pictures claimed need hundreds.
        if (meter.peak) {
            EXPECT_LT(meter.peak() - before, size_t(16) << 20);
        }
    }
}

}  // namespace
}  // namespace hostile
