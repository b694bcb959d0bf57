#pragma once
// The device-independent bitmap: the header, palette and pixel rows that Windows bitmap
// files and icon entries share. Every header variant is read: OS/2 1.x core (12 bytes),
// OS/2 2.x (16 to 64 bytes), info (40), V2/V3 (52/56), V4 (108) and V5 (124).
#include <cstdint>
#include <vector>

#include "graphics/bitmap.h"

class ByteReader;

enum class DibCompression { Rgb, Rle8, Rle4, BitFields, Jpeg, Png, Os2Huffman, Os2Rle24, Other };

struct DibHeader {
    uint32_t headerSize = 0;
    int64_t width = 0;
    int64_t height = 0;  // always positive; topDown tells the row order
    bool topDown = false;
    uint16_t bitCount = 0;
    uint32_t rawCompression = 0;
    DibCompression compression = DibCompression::Rgb;
    uint32_t colorsUsed = 0;
    bool coreHeader = false;  // OS/2 1.x: palette entries are 3 bytes
    // Channel masks of 16- and 32-bit pixels (the defaults when the file gives none).
    uint32_t redMask = 0, greenMask = 0, blueMask = 0, alphaMask = 0;

    int PaletteEntrySize() const { return coreHeader ? 3 : 4; }
    bool Indexed() const { return bitCount <= 8; }
};

// Reads the header and the bit field masks that may follow it; the reader is left at the
// palette. Fails with EInvalidGraphic for unknown header sizes, bit counts and compressions.
DibHeader ReadDibHeader(ByteReader& r);

// Reads the palette of an indexed picture at the reader's position: biClrUsed entries (all
// 2^bits when it is 0 or too large), at most maxEntries. The result always has 2^bits
// entries: the ones the file leaves out are black.
std::vector<TRGBQuad> ReadDibPalette(ByteReader& r, const DibHeader& header, size_t maxEntries);

// Decodes the pixel data at the reader's position. Uncompressed rows must all be there
// ("Stream read error" otherwise) and are consumed exactly. Run-length data that ends early
// or skips pixels leaves those pixels transparent (a 32-bit result with meaningful alpha);
// a run-length picture that covers every pixel stays indexed.
TBitmap DecodeDibPixels(ByteReader& r, const DibHeader& header, const std::vector<TRGBQuad>& palette);

// A whole DIB at the reader's position: header, palette, pixels. pixelStart is the
// absolute reader position of the pixel data, or 0 for "right after the palette".
TBitmap ReadDib(ByteReader& r, size_t pixelStart = 0);
