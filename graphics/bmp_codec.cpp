#include "graphics/bmp_codec.h"

#include "graphics/bitmap.h"
#include "graphics/byte_reader.h"
#include "graphics/dib.h"
#include "graphics/errors.h"
#include "graphics/stream.h"

void ReadBitmapFile(TStream& stream, TBitmap& bmp) {
    const ByteBuffer data = stream.ReadRestBuffer();
    ByteReader r{std::span<const uint8_t>(data)};
    if (data.size() < 2 || data[0] != 'B' || data[1] != 'M') throw EInvalidGraphic("Not a Windows bitmap file");
    r.skip(10);  // signature, file size and reserved fields, which writers often get wrong
    const uint32_t pixelOffset = r.u32le();
    TBitmap result = ReadDib(r, pixelOffset);
    // The listener and the drawing options belong to the object, not to the file.
    TProgressEvent listener = std::move(bmp.OnProgress);
    bmp = std::move(result);
    bmp.OnProgress = std::move(listener);
    bmp.Transparent = false;
    bmp.SetTransparentColor(NoColor);
}

void WriteBitmapFile24(TStream& stream, const TBitmap& source) {
    TBitmap copy;
    const TBitmap* bmp = &source;
    if (source.AlphaMeaningful && source.PixelFormat() == TPixelFormat::pf32bit) {
        // The file has no alpha: blend onto white, as the picture is shown.
        copy = TBitmap(source.Width(), source.Height(), TPixelFormat::pf24bit);
        TBitmap blended = source;
        blended.Transparent = false;
        blended.Draw(copy, Rect(0, 0, source.Width(), source.Height()));
        bmp = &copy;
    } else if (source.PixelFormat() != TPixelFormat::pf24bit) {
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
