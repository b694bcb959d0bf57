#pragma once
// Turning a 24-bit bitmap by quarter turns.
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
