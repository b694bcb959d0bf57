#pragma once
// Showing our bitmaps on screen: a QImage copy of a TBitmap's pixels.
#include <QImage>

class TBitmap;

// A deep copy; bitmaps that are not 24 bits per pixel are converted on the way.
QImage BitmapToQImage(const TBitmap& bitmap);
