#include "graphics/bmp_codec.h"

#include "graphics/bitmap.h"
#include "graphics/byte_reader.h"
#include "graphics/errors.h"
#include "graphics/stream.h"

void ReadBitmapFile(TStream&, TBitmap&) { throw EInvalidGraphic("Bitmap reading is being written"); }

void WriteBitmapFile24(TStream& stream, const TBitmap& source) {
    TBitmap copy;
    const TBitmap* bmp = &source;
    if (source.PixelFormat() != TPixelFormat::pf24bit) {
        copy = source;
        copy.SetPixelFormat(TPixelFormat::pf24bit);
        bmp = &copy;
    }
    const size_t stride = bmp->RowStride();
    const uint64_t imageSize = uint64_t(stride) * uint64_t(bmp->Height());
    ByteWriter w;
    w.text("BM");
    w.u32le(static_cast<uint32_t>(14 + 40 + imageSize));
    w.u32le(0);
    w.u32le(14 + 40);
    w.u32le(40);
    w.i32le(bmp->Width());
    w.i32le(bmp->Height());
    w.u16le(1);
    w.u16le(24);
    w.u32le(0);
    w.u32le(static_cast<uint32_t>(imageSize));
    w.i32le(0);
    w.i32le(0);
    w.u32le(0);
    w.u32le(0);
    stream.WriteBytes(w.buffer());
    for (int y = bmp->Height() - 1; y >= 0; --y) stream.WriteBuffer(bmp->ScanLine(y), stride);
}
