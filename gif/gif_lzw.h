#pragma once
// GIF's variable-length LZW: codes packed least significant bit first into data sub-blocks of
// at most 255 bytes, code size growing from the minimum code size + 1 up to 12 bits.
#include <cstddef>
#include <cstdint>
#include <span>

class ByteReader;
class ByteWriter;

// Where LzwDecode puts its pixels: rows of packed palette indices, top row first.
struct LzwDecodeTarget {
    std::span<uint8_t> Pixels;  // Height rows of Stride bytes
    size_t Stride = 0;
    int Width = 0;
    int Height = 0;
    int BitCount = 8;          // 1, 4 or 8 bits per stored pixel
    bool Interlaced = false;
    uint32_t PixelMask = 255;  // 2^(frame bits per pixel) - 1
};

// Decodes the LZW stream that starts at the reader's position (the minimum code size byte,
// then data sub-blocks) into target. Never reads past the data nor writes outside the target;
// pixels the data does not reach keep their value. Returns true when the data was found
// corrupted (bad minimum code size, over-long code chain).
bool LzwDecode(ByteReader& data, const LzwDecodeTarget& target);

// The next row of an interlaced picture after row y in the given pass (0..3); moves pass on.
// A result >= height ends the picture.
int NextInterlacedRow(int y, int height, int& pass);

// Writes the minimum code size byte 8, the LZW data sub-blocks and their terminator for
// width x height 8-bit palette indices given top row first, width bytes per row.
void LzwEncode(ByteWriter& out, std::span<const uint8_t> indices, int width, int height);
