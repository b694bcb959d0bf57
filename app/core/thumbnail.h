#pragma once
// Tray thumbnails: a picture fitted, with its proportions, into a fixed white cell.
#include "graphics/bitmap.h"

inline constexpr int kThumbnailWidth = 64;
inline constexpr int kThumbnailHeight = 48;

struct ThumbnailPlacement {
    int Left = 0, Top = 0, Width = 0, Height = 0;
    bool operator==(const ThumbnailPlacement&) const = default;
};

// Where a width x height picture lands in a boxWidth x boxHeight cell: the largest size of its
// own proportions (computed in extended precision, truncated), centred.
ThumbnailPlacement FitThumbnail(int width, int height, int boxWidth, int boxHeight);

// A new 24-bit boxWidth x boxHeight bitmap, white, with the picture stretched (nearest pixel)
// into the fitted rectangle.
TBitmap MakeThumbnail(const TBitmap& bitmap, int boxWidth = kThumbnailWidth, int boxHeight = kThumbnailHeight);
