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

// The thumbnail cell in device pixels for a screen's device pixel ratio: 64 x 48 scaled, so
// that icons shown at 64 x 48 stay sharp on a HiDPI screen.
struct ThumbnailCell {
    int Width = kThumbnailWidth;
    int Height = kThumbnailHeight;
    bool operator==(const ThumbnailCell&) const = default;
};
ThumbnailCell ThumbnailCellFor(double devicePixelRatio);

// A new 24-bit boxWidth x boxHeight bitmap, white, with the picture averaged (the resampler's
// box filter) into the fitted rectangle.
TBitmap MakeThumbnail(const TBitmap& bitmap, int boxWidth = kThumbnailWidth, int boxHeight = kThumbnailHeight);
inline TBitmap MakeThumbnail(const TBitmap& bitmap, ThumbnailCell cell) {
    return MakeThumbnail(bitmap, cell.Width, cell.Height);
}
