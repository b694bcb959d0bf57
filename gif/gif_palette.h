#pragma once
// Reduction of a 24-bit picture to at most 256 colours for the GIF writer: a frequency
// histogram of (masked) colours, the most frequent 256 become the palette and every other
// colour maps to its nearest palette entry.
#include <array>
#include <cstdint>
#include <vector>

#include "graphics/bitmap.h"

struct TPaletteImage {
    int Width = 0;
    int Height = 0;
    // 256 entries; those past UsedColors are (128, 128, 128).
    std::array<TRGBQuad, 256> Palette{};
    int UsedColors = 0;
    // The channel masks the histogram ended with (0xFF unless there were too many colours).
    uint8_t RedMask = 0xFF, GreenMask = 0xFF, BlueMask = 0xFF;
    // Palette indices, top row first, Width bytes per row.
    std::vector<uint8_t> Indices;
};

// bitmap must be 24 bits per pixel.
TPaletteImage ReduceToPalette(const TBitmap& bitmap);
