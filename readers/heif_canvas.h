#pragma once
// The canvas sizes of a HEIF file's derived images, read from its boxes. libheif allocates
// and clears a grid's or an overlay's whole canvas before it decodes a single tile, and that
// canvas size is written apart from the image's own size property: a file of a few hundred
// bytes can claim a canvas of gigapixels. The reader checks these sizes before decoding.
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
