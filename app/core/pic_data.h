#pragma once
// The record attached to every tray entry: the size of the Bitmap the entry was made from.
#include <cstdint>

struct TpicData {
    int32_t Width = 0;
    int32_t Height = 0;
    int32_t BitDepth = 0;  // always 24 for the pipeline's bitmaps

    TpicData() = default;
    // Height first, as the record has always been built.
    TpicData(int32_t height, int32_t width, int32_t bitDepth) : Width(width), Height(height), BitDepth(bitDepth) {}
    bool operator==(const TpicData&) const = default;
};
