#pragma once
// The working bitmap every conversion and view starts from: the picture on 24 bits, on white.

#include <memory>

#include "graphics/bitmap.h"
#include "graphics/graphic.h"

// A new 24-bit bitmap of the picture's size: white, with the picture drawn at (0, 0).
std::unique_ptr<TBitmap> PictureToBitmap(TGraphic& picture);
// The same, consuming the picture: a plain 24-bit bitmap it holds (loaded or decoded) is
// taken over instead of copied, so a large picture is not held twice.
std::unique_ptr<TBitmap> PictureToBitmap(std::unique_ptr<TGraphic> picture);
