#pragma once
// JPEG encoding of 24-bit rows: a whole bitmap, or a picture handed over as its rows are made.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "graphics/stream.h"

class TBitmap;

namespace jpegbinding {
class Compressor;
}

struct JpegEncoding {
    int quality = 90;  // 1..100; anything else fails with ERangeError
    bool grayscale = false;
    bool progressive = false;
};

// Encodes width x height rows of blue, green, red bytes, top row first, into bytes in memory.
// Rows may come a few at a time, so that the encoding keeps pace with whatever makes them.
class JpegRowEncoder {
public:
    JpegRowEncoder(int width, int height, const JpegEncoding& encoding,
                   std::function<void(int percent)> onProgress = {});
    ~JpegRowEncoder();
    JpegRowEncoder(const JpegRowEncoder&) = delete;
    JpegRowEncoder& operator=(const JpegRowEncoder&) = delete;

    void Write(const uint8_t* firstRow, size_t stride, int count);
    int RowsWritten() const { return rows_; }
    const JpegEncoding& Encoding() const { return encoding_; }
    // The file, once every row is written.
    ByteBuffer Finish();

private:
    JpegEncoding encoding_;
    ByteBuffer bytes_;  // before the compressor, which writes into it
    std::unique_ptr<jpegbinding::Compressor> compressor_;
    int height_ = 0;
    int rows_ = 0;
};

// The file for a bitmap of any pixel format (other than 24-bit through a converted copy); no
// bytes for an empty bitmap.
ByteBuffer EncodeJpeg(const TBitmap& bitmap, const JpegEncoding& encoding,
                      std::function<void(int percent)> onProgress = {});
