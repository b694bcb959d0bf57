#pragma once
// What a HEIF file's boxes say of its derived images, read before libheif decodes them. libheif
// allocates and clears a grid's or an overlay's whole canvas before it decodes a single tile,
// and that canvas size is written apart from the image's own size property: a file of a few
// hundred bytes can claim a canvas of gigapixels. And it stops the whole process (an
// assertion) when an image a derived one is made from is not in the file.
#include <cstdint>
#include <span>
#include <vector>

struct HeifCanvasSize {
    uint32_t width = 0;
    uint32_t height = 0;
};

// One entry per grid ('grid') and overlay ('iovl') item. Fails with EReadError when the
// boxes are cut short or such an item's description cannot be found.
std::vector<HeifCanvasSize> HeifDerivedCanvasSizes(std::span<const uint8_t> file);

// Whether every image that a derived image (identity, grid, overlay) is made from, by the
// file's 'dimg' references, is an item of the file. Fails with EReadError when the boxes are
// cut short.
bool HeifDerivationsComplete(std::span<const uint8_t> file);
