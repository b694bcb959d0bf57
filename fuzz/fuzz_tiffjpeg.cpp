#include "fuzz/harness.h"
#include "readers/codecs/tiff_jpeg_decoder.h"

// The layout comes from the parameter bytes; pictures stay small so that only headers of
// matching size reach the decompressor.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::RunDecoder(data, size, [](fuzz::Params& p) {
        TTIFFJPEGLayout l;
        l.Width = 1 + p.u8() % 48;
        l.Height = 1 + p.u8() % 48;
        l.RowsPerStrip = p.flag() ? l.Height : 8;
        l.SamplesPerPixel = p.pick<uint8_t>({3, 1, 4});
        l.BitsPerSample = 8;
        l.YCbCr = l.SamplesPerPixel == 3 && p.flag();
        l.PlanarConfiguration = p.pick<uint32_t>({1, 1, 2});
        l.BytesPerLine = l.Width * l.SamplesPerPixel;
        static const uint8_t subsampling[][2] = {{1, 1}, {2, 2}, {2, 1}, {4, 2}};
        l.YCbCrSubsampling = subsampling[p.u8() % 4];
        // Optionally the front of the data doubles as the tables field.
        if (p.flag()) l.JPEGTables = p.data().first(std::min<size_t>(p.data().size(), p.u8() * 2u));
        return std::make_unique<TTIFFJPEGDecoder>([l] { return l; });
    });
}
