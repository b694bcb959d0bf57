#include "graphics/dib.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "graphics/byte_reader.h"
#include "graphics/errors.h"
#include "graphics/size_check.h"

namespace {

bool IsWindowsHeaderSize(uint32_t size) {
    return size == 40 || size == 52 || size == 56 || size == 108 || size == 124;
}

DibCompression WindowsCompression(uint32_t raw) {
    switch (raw) {
        case 0: return DibCompression::Rgb;
        case 1: return DibCompression::Rle8;
        case 2: return DibCompression::Rle4;
        case 3:
        case 6: return DibCompression::BitFields;  // 6: BI_ALPHABITFIELDS, four masks
        case 4: return DibCompression::Jpeg;
        case 5: return DibCompression::Png;
        default: return DibCompression::Other;
    }
}

// OS/2 2.x reuses 3 and 4 for its own schemes.
DibCompression Os2Compression(uint32_t raw) {
    switch (raw) {
        case 0: return DibCompression::Rgb;
        case 1: return DibCompression::Rle8;
        case 2: return DibCompression::Rle4;
        case 3: return DibCompression::Os2Huffman;
        case 4: return DibCompression::Os2Rle24;
        default: return DibCompression::Other;
    }
}

void CheckCompression(const DibHeader& h) {
    switch (h.compression) {
        case DibCompression::Jpeg:
            throw EInvalidGraphic("Windows bitmaps with an embedded JPEG picture are not supported");
        case DibCompression::Png:
            throw EInvalidGraphic("Windows bitmaps with an embedded PNG picture are not supported");
        case DibCompression::Os2Huffman:
            throw EInvalidGraphic("OS/2 bitmaps with Huffman compression are not supported");
        case DibCompression::Os2Rle24:
            throw EInvalidGraphic("OS/2 bitmaps with 24-bit run-length compression are not supported");
        case DibCompression::Other:
            throw EInvalidGraphic(FormatMessage("Unsupported bitmap compression (%u)", h.rawCompression));
        default: break;
    }
    bool ok = false;
    switch (h.compression) {
        case DibCompression::Rgb:
            ok = h.bitCount == 1 || h.bitCount == 2 || h.bitCount == 4 || h.bitCount == 8 || h.bitCount == 16 ||
                 h.bitCount == 24 || h.bitCount == 32;
            break;
        case DibCompression::Rle8: ok = h.bitCount == 8; break;
        case DibCompression::Rle4: ok = h.bitCount == 4; break;
        case DibCompression::BitFields: ok = h.bitCount == 16 || h.bitCount == 24 || h.bitCount == 32; break;
        default: break;
    }
    if (!ok)
        throw EInvalidGraphic(FormatMessage("Unsupported bitmap bit count (%u bits per pixel)", unsigned(h.bitCount)));
}

void CheckMasks(const DibHeader& h) {
    const uint64_t limit = h.bitCount >= 32 ? 0xFFFFFFFFull : (uint64_t(1) << h.bitCount) - 1;
    for (uint32_t m : {h.redMask, h.greenMask, h.blueMask, h.alphaMask}) {
        if (m == 0) continue;
        const uint32_t shifted = m >> std::countr_zero(m);
        // Only contiguous masks inside the pixel describe a channel.
        if ((uint64_t(m) & ~limit) != 0 || (shifted & (shifted + 1)) != 0)
            throw EInvalidGraphic(FormatMessage("Invalid bitmap colour masks (0x%08X)", m));
    }
}

// One colour channel of a masked pixel, scaled to 0..255.
struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    uint64_t max = 0;
    explicit Channel(uint32_t m) : mask(m) {
        if (m) {
            shift = std::countr_zero(m);
            max = uint64_t(m >> shift);
        }
    }
    uint8_t operator()(uint32_t pixel) const {
        if (!mask) return 0;
        const uint64_t v = (pixel & mask) >> shift;
        return static_cast<uint8_t>((v * 255 + max / 2) / max);
    }
};

// forOverwrite: every pixel is written after, so the bitmap is not whitened first (which
// would touch each of its pages once more).
TBitmap NewBitmap(int64_t width, int64_t height, TPixelFormat format, const std::vector<TRGBQuad>& palette,
                  bool forOverwrite = false) {
    TBitmap bmp;
    bmp.SetPixelFormat(format);
    if (!palette.empty()) bmp.SetPalette(palette);
    if (forOverwrite)
        bmp.SetSizeForOverwrite(static_cast<int>(width), static_cast<int>(height));
    else
        bmp.SetSize(static_cast<int>(width), static_cast<int>(height));
    return bmp;
}

// After decoding an alpha channel: it counts only when some pixel is not fully transparent
// (many writers leave the byte at zero); otherwise the picture is opaque.
void SettleAlpha(TBitmap& bmp) {
    bool anyAlpha = false;
    for (int y = 0; y < bmp.Height() && !anyAlpha; ++y) {
        const uint8_t* row = bmp.ScanLine(y);
        for (int x = 0; x < bmp.Width(); ++x)
            if (row[4 * x + 3] != 0) {
                anyAlpha = true;
                break;
            }
    }
    bmp.AlphaMeaningful = anyAlpha;
    if (!anyAlpha)
        for (int y = 0; y < bmp.Height(); ++y) {
            uint8_t* row = bmp.ScanLine(y);
            for (int x = 0; x < bmp.Width(); ++x) row[4 * x + 3] = 255;
        }
}

TBitmap DecodeUncompressed(ByteReader& r, const DibHeader& h, const std::vector<TRGBQuad>& palette) {
    const uint64_t total = CheckPictureSize(h.width, h.height, h.bitCount, 4);
    const size_t srcStride = static_cast<size_t>(CheckPictureSize(h.width, 1, h.bitCount, 4));
    CheckDeclaredSize(total, r.remaining());
    const int w = static_cast<int>(h.width);
    const int height = static_cast<int>(h.height);

    const bool masked = h.compression == DibCompression::BitFields || h.bitCount == 16 || h.alphaMask != 0;
    const bool withAlpha = masked && h.alphaMask != 0;
    TPixelFormat format = TPixelFormat::pf24bit;
    switch (h.bitCount) {
        case 1: format = TPixelFormat::pf1bit; break;
        case 2:  // no 2-bit format of our own: each index becomes a nibble
        case 4: format = TPixelFormat::pf4bit; break;
        case 8: format = TPixelFormat::pf8bit; break;
        case 32: format = TPixelFormat::pf32bit; break;
        default: format = withAlpha ? TPixelFormat::pf32bit : TPixelFormat::pf24bit; break;
    }
    // Every row is there (checked above) and each fills its pixels' bytes.
    TBitmap bmp = NewBitmap(w, height, format, palette, true);
    const Channel red(h.redMask), green(h.greenMask), blue(h.blueMask), alpha(h.alphaMask);
    const size_t bytesPerPixel = h.bitCount / 8;

    for (int i = 0; i < height; ++i) {
        const std::span<const uint8_t> src = r.bytes(srcStride);
        uint8_t* out = bmp.ScanLine(h.topDown ? i : height - 1 - i);
        if (h.bitCount == 2) {
            for (int x = 0; x < w; ++x) {
                const unsigned index = (src[x >> 2] >> (6 - 2 * (x & 3))) & 3;
                out[x >> 1] = static_cast<uint8_t>((x & 1) ? (out[x >> 1] & 0xF0) | index : index << 4);
            }
        } else if (h.bitCount <= 8) {
            std::memcpy(out, src.data(), (size_t(w) * h.bitCount + 7) / 8);
        } else if (!masked && h.bitCount == 24) {
            std::memcpy(out, src.data(), size_t(w) * 3);
        } else if (!masked) {  // 32 bits, blue, green, red and an unused byte
            std::memcpy(out, src.data(), size_t(w) * 4);
            for (int x = 0; x < w; ++x) out[4 * x + 3] = 255;
        } else {
            const size_t outBytes = format == TPixelFormat::pf32bit ? 4 : 3;
            for (int x = 0; x < w; ++x) {
                const uint8_t* p = src.data() + size_t(x) * bytesPerPixel;
                uint32_t v = 0;
                for (size_t b = 0; b < bytesPerPixel; ++b) v |= uint32_t(p[b]) << (8 * b);
                uint8_t* o = out + size_t(x) * outBytes;
                o[0] = blue(v);
                o[1] = green(v);
                o[2] = red(v);
                if (outBytes == 4) o[3] = withAlpha ? alpha(v) : 255;
            }
        }
    }
    if (withAlpha) SettleAlpha(bmp);
    return bmp;
}

// Walks RLE4/RLE8 packets, handing the sink the pixels that land inside the picture:
// Run(row, x, n, first, second) sets n pixels alternating between two indices (the same one
// for RLE8), Absolute(row, x, n, data) n pixels from packed data. Rows are top-down. Runs
// that leave the picture are clipped. Neither coordinate ever goes back (deltas only move
// right and up), so no pixel is handed over twice.
template <class Sink>
void WalkRunLength(ByteReader& r, const DibHeader& h, Sink& sink) {
    const int64_t w = h.width;
    const int64_t height = h.height;
    const bool rle4 = h.compression == DibCompression::Rle4;
    int64_t x = 0, y = 0;  // y counts rows from the bottom, as the file stores them
    while (y < height && r.remaining() >= 2) {
        const uint8_t n = r.u8();
        const uint8_t value = r.u8();
        if (n > 0) {
            const int64_t run = std::min<int64_t>(n, std::max<int64_t>(0, w - x));
            if (run > 0)
                sink.Run(height - 1 - y, x, run, rle4 ? uint8_t(value >> 4) : value, rle4 ? uint8_t(value & 15) : value);
            x += n;
            continue;
        }
        if (value == 0) {  // end of line
            x = 0;
            ++y;
        } else if (value == 1) {  // end of bitmap
            break;
        } else if (value == 2) {  // delta
            if (r.remaining() < 2) break;
            x += r.u8();
            y += r.u8();
        } else {  // absolute run of value pixels, padded to 16 bits
            const size_t bytes = rle4 ? (size_t(value) + 1) / 2 : value;
            const size_t have = std::min(bytes, r.remaining());
            const std::span<const uint8_t> data = r.bytes(have);
            const int64_t pixels = std::min<int64_t>(value, int64_t(rle4 ? 2 * have : have));
            const int64_t shown = std::min<int64_t>(pixels, std::max<int64_t>(0, w - x));
            if (shown > 0) sink.Absolute(height - 1 - y, x, shown, data.data());
            x += pixels;
            if (have < bytes) break;
            if ((bytes & 1) && r.remaining() > 0) r.skip(1);
        }
    }
}

inline uint8_t Nibble(const uint8_t* data, int64_t i) {
    return (i & 1) ? data[i >> 1] & 15 : data[i >> 1] >> 4;
}

// Counts the pixels the data sets.
struct CoverageSink {
    uint64_t covered = 0;
    void Run(int64_t, int64_t, int64_t n, uint8_t, uint8_t) { covered += uint64_t(n); }
    void Absolute(int64_t, int64_t, int64_t n, const uint8_t*) { covered += uint64_t(n); }
};

// Writes the indices into an 8- or 4-bit bitmap. Within a row pixels arrive left to right,
// so an even pixel may clear its byte's second nibble: the next pixel sets it.
struct IndexSink {
    TBitmap& bmp;
    bool rle4;
    void Set(uint8_t* row, int64_t x, uint8_t index) const {
        if (!rle4)
            row[x] = index;
        else
            row[x >> 1] = static_cast<uint8_t>((x & 1) ? (row[x >> 1] & 0xF0) | index : index << 4);
    }
    void Run(int64_t y, int64_t x, int64_t n, uint8_t first, uint8_t second) const {
        uint8_t* row = bmp.ScanLine(static_cast<int>(y));
        if (!rle4) {
            std::memset(row + x, first, size_t(n));
            return;
        }
        for (int64_t i = 0; i < n; ++i) Set(row, x + i, (i & 1) ? second : first);
    }
    void Absolute(int64_t y, int64_t x, int64_t n, const uint8_t* data) const {
        uint8_t* row = bmp.ScanLine(static_cast<int>(y));
        if (!rle4) {
            std::memcpy(row + x, data, size_t(n));
            return;
        }
        for (int64_t i = 0; i < n; ++i) Set(row, x + i, Nibble(data, i));
    }
};

// Writes opaque colours into a 32-bit bitmap whose pixels start transparent white.
struct ColourSink {
    TBitmap& bmp;
    bool rle4;
    uint8_t colours[256][4];
    ColourSink(TBitmap& b, bool four, const std::vector<TRGBQuad>& palette) : bmp(b), rle4(four) {
        for (size_t i = 0; i < 256; ++i) {
            const TRGBQuad& q = palette[i % palette.size()];
            colours[i][0] = q.rgbBlue;
            colours[i][1] = q.rgbGreen;
            colours[i][2] = q.rgbRed;
            colours[i][3] = 255;
        }
    }
    void Run(int64_t y, int64_t x, int64_t n, uint8_t first, uint8_t second) {
        uint8_t* out = bmp.ScanLine(static_cast<int>(y)) + 4 * x;
        for (int64_t i = 0; i < n; ++i) std::memcpy(out + 4 * i, colours[(i & 1) ? second : first], 4);
    }
    void Absolute(int64_t y, int64_t x, int64_t n, const uint8_t* data) {
        uint8_t* out = bmp.ScanLine(static_cast<int>(y)) + 4 * x;
        for (int64_t i = 0; i < n; ++i) std::memcpy(out + 4 * i, colours[rle4 ? Nibble(data, i) : data[i]], 4);
    }
};

// RLE4/RLE8. Data that ends early, or deltas that skip pixels, leave those pixels unset. A
// first walk over the packets (cheap: no pixels are written) tells whether every pixel is
// set; the second decodes straight into the result, indexed or 32-bit, with no picture-sized
// buffer beside it.
TBitmap DecodeRunLength(ByteReader& r, const DibHeader& h, const std::vector<TRGBQuad>& palette) {
    if (h.topDown) throw EInvalidGraphic("Invalid bitmap: run-length compressed rows must be stored bottom-up");
    CheckPictureSize(h.width, h.height, 32, 4);  // the transparent fallback below is 32-bit
    const int w = static_cast<int>(h.width);
    const int height = static_cast<int>(h.height);
    const bool rle4 = h.compression == DibCompression::Rle4;

    const size_t start = r.pos();
    CoverageSink coverage;
    WalkRunLength(r, h, coverage);
    r.seek(start);

    TBitmap bmp;
    if (coverage.covered == uint64_t(w) * uint64_t(height)) {
        bmp.SetPixelFormat(rle4 ? TPixelFormat::pf4bit : TPixelFormat::pf8bit);
        bmp.SetPalette(palette);
        bmp.SetSizeForOverwrite(w, height);  // every pixel is written below
        IndexSink sink{bmp, rle4};
        WalkRunLength(r, h, sink);
        return bmp;
    }
    // Pixels the data never reaches are transparent, which is how viewers show them.
    bmp.SetPixelFormat(TPixelFormat::pf32bit);
    bmp.SetSizeForOverwrite(w, height);
    std::vector<uint8_t> clear(size_t(w) * 4);
    for (size_t i = 0; i < clear.size(); i += 4) clear[i] = clear[i + 1] = clear[i + 2] = 255;
    for (int row = 0; row < height; ++row) std::memcpy(bmp.ScanLine(row), clear.data(), clear.size());
    ColourSink sink(bmp, rle4, palette);
    WalkRunLength(r, h, sink);
    bmp.AlphaMeaningful = true;
    return bmp;
}

}  // namespace

DibHeader ReadDibHeader(ByteReader& r) {
    DibHeader h;
    h.headerSize = r.u32le();
    if (h.headerSize == 12) {
        h.coreHeader = true;
        h.width = r.u16le();
        h.height = r.u16le();
        r.u16le();  // planes
        h.bitCount = r.u16le();
    } else {
        const bool windows = IsWindowsHeaderSize(h.headerSize);
        if (!windows && (h.headerSize < 16 || h.headerSize > 64))
            throw EInvalidGraphic(FormatMessage("Unsupported bitmap header size (%u bytes)", h.headerSize));
        // Shorter OS/2 2.x headers simply end early: the missing fields are zero.
        uint8_t fields[120] = {};
        r.copy(fields, h.headerSize - 4);
        ByteReader f(fields, sizeof fields);
        const int32_t width = f.i32le();
        const int32_t height = f.i32le();
        f.u16le();  // planes
        h.bitCount = f.u16le();
        h.rawCompression = f.u32le();
        f.skip(12);  // image size, resolution
        h.colorsUsed = f.u32le();
        f.u32le();  // colours important
        h.width = width;
        h.height = height;
        if (height < 0) {
            h.topDown = true;
            h.height = -int64_t(height);
        }
        h.compression = windows ? WindowsCompression(h.rawCompression) : Os2Compression(h.rawCompression);
        if (h.compression == DibCompression::BitFields) {
            if (h.headerSize >= 52) {
                h.redMask = f.u32le();
                h.greenMask = f.u32le();
                h.blueMask = f.u32le();
                if (h.headerSize >= 56) h.alphaMask = f.u32le();
            } else {
                h.redMask = r.u32le();
                h.greenMask = r.u32le();
                h.blueMask = r.u32le();
                if (h.rawCompression == 6) h.alphaMask = r.u32le();
            }
        }
    }
    if (h.width <= 0 || h.height <= 0)
        throw EInvalidGraphic(FormatMessage("Invalid bitmap size (%lld x %lld pixels)", static_cast<long long>(h.width),
                                            static_cast<long long>(h.topDown ? -h.height : h.height)));
    CheckCompression(h);
    if (h.compression != DibCompression::BitFields) {
        if (h.bitCount == 16) {
            h.redMask = 0x7C00;
            h.greenMask = 0x03E0;
            h.blueMask = 0x001F;
        } else if (h.bitCount >= 24) {
            h.redMask = 0xFF0000;
            h.greenMask = 0x00FF00;
            h.blueMask = 0x0000FF;
        }
    }
    CheckMasks(h);
    return h;
}

std::vector<TRGBQuad> ReadDibPalette(ByteReader& r, const DibHeader& h, size_t maxEntries) {
    if (!h.Indexed()) return {};
    const size_t capacity = size_t(1) << h.bitCount;
    size_t count = h.colorsUsed == 0 || h.colorsUsed > capacity ? capacity : h.colorsUsed;
    const size_t entrySize = static_cast<size_t>(h.PaletteEntrySize());
    count = std::min({count, maxEntries, r.remaining() / entrySize});
    std::vector<TRGBQuad> palette(capacity);  // what the file leaves out stays black
    for (size_t i = 0; i < count; ++i) {
        palette[i].rgbBlue = r.u8();
        palette[i].rgbGreen = r.u8();
        palette[i].rgbRed = r.u8();
        if (entrySize == 4) r.u8();
    }
    return palette;
}

TBitmap DecodeDibPixels(ByteReader& r, const DibHeader& h, const std::vector<TRGBQuad>& palette) {
    if (h.Indexed() && palette.size() < (size_t(1) << h.bitCount))
        throw EInvalidGraphicOperation("A palette of 2^bits entries is needed");
    if (h.compression == DibCompression::Rle8 || h.compression == DibCompression::Rle4)
        return DecodeRunLength(r, h, palette);
    return DecodeUncompressed(r, h, palette);
}

TBitmap ReadDib(ByteReader& r, size_t pixelStart) {
    const DibHeader h = ReadDibHeader(r);
    const size_t paletteStart = r.pos();
    // A pixel offset inside the headers is nonsense; the pixels then follow the palette.
    const bool useOffset = pixelStart > paletteStart;
    const size_t maxEntries = useOffset ? (pixelStart - paletteStart) / static_cast<size_t>(h.PaletteEntrySize())
                                        : static_cast<size_t>(-1);
    const std::vector<TRGBQuad> palette = ReadDibPalette(r, h, maxEntries);
    if (useOffset) {
        if (pixelStart > r.size()) throw EReadError(kStreamReadError);
        r.seek(pixelStart);
    }
    return DecodeDibPixels(r, h, palette);
}
