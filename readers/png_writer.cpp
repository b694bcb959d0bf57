#include "readers/png_writer.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>
#include <vector>

#include "graphics/bitmap.h"
#include "graphics/byte_reader.h"
#include "graphics/errors.h"
#include "graphics/size_check.h"
#include "graphics/stream.h"

namespace {

constexpr std::array<uint8_t, 8> kSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// IDAT chunks of this size: large enough that chunk overhead does not matter, small enough
// that a picture of any size is never held compressed as a whole.
constexpr size_t kIdatChunkSize = 256 * 1024;

void WriteChunk(TStream& stream, const char (&type)[5], const uint8_t* data, size_t size) {
    ByteWriter head;
    head.u32be(static_cast<uint32_t>(size));
    head.bytes(type, 4);
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, reinterpret_cast<const Bytef*>(type), 4);
    if (size > 0) crc = crc32_z(crc, data, size);
    ByteWriter tail;
    tail.u32be(static_cast<uint32_t>(crc));
    stream.WriteBytes(head.buffer());
    if (size > 0) stream.WriteBuffer(data, size);
    stream.WriteBytes(tail.buffer());
}

// The deflate state, ended however the write ends.
class Deflater {
public:
    explicit Deflater(int level) {
        // Default window and memory; Z_DEFAULT_STRATEGY, since filtered rows are what
        // zlib's tuning for PNG data assumes anyway.
        if (deflateInit2(&z_, level, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            throw EOutOfResources("Cannot start the PNG compressor");
        started_ = true;
    }
    ~Deflater() {
        if (started_) deflateEnd(&z_);
    }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;
    z_stream& Stream() { return z_; }

private:
    z_stream z_{};
    bool started_ = false;
};

uint8_t Paeth(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return static_cast<uint8_t>(a);
    if (pb <= pc) return static_cast<uint8_t>(b);
    return static_cast<uint8_t>(c);
}

// Fills out (filter byte + row) with the filter whose output bytes, read as signed, have
// the smallest sum of magnitudes: the heuristic the PNG authors recommend. Each filter has a
// loop of its own, so the compiler sees plain byte arithmetic.
void FilterRow(const std::vector<uint8_t>& rowBytes, const std::vector<uint8_t>& priorBytes, std::vector<uint8_t>& out,
               std::array<std::vector<uint8_t>, 5>& trial) {
    constexpr size_t bpp = 3;
    const size_t n = rowBytes.size();
    const uint8_t* row = rowBytes.data();
    const uint8_t* prior = priorBytes.data();
    for (std::vector<uint8_t>& t : trial) t.resize(n);
    uint8_t* none = trial[0].data();
    uint8_t* sub = trial[1].data();
    uint8_t* up = trial[2].data();
    uint8_t* average = trial[3].data();
    uint8_t* paeth = trial[4].data();
    for (size_t i = 0; i < n; ++i) none[i] = row[i];
    for (size_t i = 0; i < n; ++i) sub[i] = static_cast<uint8_t>(row[i] - (i >= bpp ? row[i - bpp] : 0));
    for (size_t i = 0; i < n; ++i) up[i] = static_cast<uint8_t>(row[i] - prior[i]);
    for (size_t i = 0; i < n; ++i)
        average[i] = static_cast<uint8_t>(row[i] - (((i >= bpp ? row[i - bpp] : 0) + prior[i]) >> 1));
    for (size_t i = 0; i < n; ++i)
        paeth[i] = static_cast<uint8_t>(
            row[i] - (i >= bpp ? Paeth(row[i - bpp], prior[i], prior[i - bpp]) : Paeth(0, prior[i], 0)));

    uint64_t bestSum = UINT64_MAX;
    size_t best = 0;
    for (size_t type = 0; type < trial.size(); ++type) {
        const uint8_t* t = trial[type].data();
        uint64_t sum = 0;
        for (size_t i = 0; i < n; ++i) sum += t[i] < 128 ? t[i] : 256 - t[i];
        if (sum < bestSum) {
            bestSum = sum;
            best = type;
        }
    }
    out.resize(n + 1);
    out[0] = static_cast<uint8_t>(best);
    std::copy(trial[best].begin(), trial[best].end(), out.begin() + 1);
}

}  // namespace

void WritePngPicture(const TBitmap& bitmap, TStream& stream, int level) {
    const int width = bitmap.Width(), height = bitmap.Height();
    if (width <= 0 || height <= 0) throw EInvalidGraphicOperation("Cannot write an empty picture as PNG");

    // Rows must be 24-bit blue, green, red; other formats go through a converted copy.
    std::unique_ptr<TBitmap> converted;
    const TBitmap* source = &bitmap;
    if (bitmap.PixelFormat() != TPixelFormat::pf24bit) {
        converted = std::make_unique<TBitmap>(bitmap);
        converted->SetPixelFormat(TPixelFormat::pf24bit);
        source = converted.get();
    }
    const size_t rowBytes = static_cast<size_t>(CheckAllocation(static_cast<uint64_t>(width), 3));

    stream.WriteBuffer(kSignature.data(), kSignature.size());
    ByteWriter ihdr;
    ihdr.u32be(static_cast<uint32_t>(width));
    ihdr.u32be(static_cast<uint32_t>(height));
    ihdr.u8(8);  // bit depth
    ihdr.u8(2);  // colour type: RGB
    ihdr.u8(0);  // deflate
    ihdr.u8(0);  // adaptive filtering
    ihdr.u8(0);  // not interlaced
    WriteChunk(stream, "IHDR", ihdr.buffer().data(), ihdr.size());

    Deflater deflater(level);
    z_stream& z = deflater.Stream();
    std::vector<uint8_t> idat(kIdatChunkSize);
    z.next_out = idat.data();
    z.avail_out = static_cast<uInt>(idat.size());
    auto pump = [&](int flush) {
        for (;;) {
            const int rc = deflate(&z, flush);
            if (rc == Z_STREAM_ERROR) throw EGraphicCompression("PNG compression failed");
            const bool full = z.avail_out == 0;
            if (full) {
                WriteChunk(stream, "IDAT", idat.data(), idat.size());
                z.next_out = idat.data();
                z.avail_out = static_cast<uInt>(idat.size());
            }
            if (flush == Z_FINISH) {
                if (rc == Z_STREAM_END) return;
            } else if (!full && z.avail_in == 0) {
                return;  // all input taken, and zlib had room to spare for what it holds
            }
        }
    };

    std::vector<uint8_t> row(rowBytes), prior(rowBytes, 0), filtered;
    std::array<std::vector<uint8_t>, 5> trial;
    for (int y = 0; y < height; ++y) {
        const uint8_t* bgr = source->ScanLine(y);
        for (size_t x = 0; x < rowBytes; x += 3) {
            row[x] = bgr[x + 2];
            row[x + 1] = bgr[x + 1];
            row[x + 2] = bgr[x];
        }
        FilterRow(row, prior, filtered, trial);
        z.next_in = filtered.data();
        z.avail_in = static_cast<uInt>(filtered.size());
        pump(Z_NO_FLUSH);
        row.swap(prior);
    }
    z.next_in = nullptr;
    z.avail_in = 0;
    pump(Z_FINISH);
    const size_t left = idat.size() - z.avail_out;
    if (left > 0) WriteChunk(stream, "IDAT", idat.data(), left);
    WriteChunk(stream, "IEND", nullptr, 0);
}
