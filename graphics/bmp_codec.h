#pragma once
// The Windows bitmap file format: every variant in, 24 bits per pixel out.
class TStream;
class TBitmap;

// Reads the bitmap file that starts at the stream's position into bmp.
void ReadBitmapFile(TStream& stream, TBitmap& bmp);
// Writes bmp as a bottom-up 24-bit Windows bitmap file (14-byte header, 40-byte info header).
void WriteBitmapFile24(TStream& stream, const TBitmap& bmp);
