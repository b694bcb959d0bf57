#pragma once
// Turning and mirroring a 24-bit bitmap by quarter turns.
#include <memory>

class TBitmap;

// Rotation index of the rotation control: 0 none, 1 right, 2 half turn, 3 left.
// 1..3 return the turned bitmap; any other index returns nullptr. The input is not changed.
std::unique_ptr<TBitmap> RotateBitmap(int rotationIndex, const TBitmap& input);
std::unique_ptr<TBitmap> RotateRight90(const TBitmap& input);
std::unique_ptr<TBitmap> RotateHalfTurn(const TBitmap& input);
std::unique_ptr<TBitmap> RotateLeft90(const TBitmap& input);

// The same operations with a thread count (0 chooses by picture size, n > 0 uses at most n)
// and whether wide-vector instructions may be used; the result is the same either way.
std::unique_ptr<TBitmap> RotateBitmap(int rotationIndex, const TBitmap& input, int threads,
                                      bool allowWideVectors = true);

// Mirror images: columns reversed (left-right), rows reversed (top-bottom), and the two
// diagonal mirrors: the transpose (row y becomes column y) and the transverse (the
// transpose turned half round). They run as fast as the turns and are exact too.
std::unique_ptr<TBitmap> MirrorLeftRight(const TBitmap& input);
std::unique_ptr<TBitmap> MirrorTopBottom(const TBitmap& input);
std::unique_ptr<TBitmap> Transpose(const TBitmap& input);
std::unique_ptr<TBitmap> Transverse(const TBitmap& input);

// The upright picture of one stored with this EXIF orientation (2..8: the mirror or turn
// that undoes how the camera stored it); 1 and any other value return nullptr.
std::unique_ptr<TBitmap> OrientUpright(int orientation, const TBitmap& input, int threads = 0,
                                       bool allowWideVectors = true);

// The same for the orientations that keep the picture's shape (2, 3 and 4: a mirror or a half
// turn), done in place on a 24-bit bitmap so that no second picture is made: true when done,
// false (the bitmap unchanged) for the other orientations and pixel formats.
bool OrientUprightInPlace(int orientation, TBitmap& bitmap, int threads = 0);
