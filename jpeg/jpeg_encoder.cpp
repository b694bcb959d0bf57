#include "jpeg/jpeg_encoder.h"

#include <utility>

#include "graphics/bitmap.h"
#include "graphics/errors.h"
#include "jpeg/jpeg_library.h"

JpegRowEncoder::JpegRowEncoder(int width, int height, const JpegEncoding& encoding,
                               std::function<void(int)> onProgress)
    : encoding_(encoding), height_(height) {
    if (encoding.quality < 1 || encoding.quality > 100) throw ERangeError();
    compressor_ = std::make_unique<jpegbinding::Compressor>(bytes_);
    if (onProgress) compressor_->SetProgressHandler(std::move(onProgress));
    jpeg_compress_struct& info = compressor_->Info();
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = 3;
    info.in_color_space = JCS_EXT_BGR;  // RGB samples, in our byte order
    compressor_->SetDefaults();
    compressor_->SetQuality(encoding.quality);
    if (encoding.grayscale) compressor_->SetGrayscale();
    if (encoding.progressive) compressor_->SetProgressive();
    compressor_->Start();
}

JpegRowEncoder::~JpegRowEncoder() = default;

void JpegRowEncoder::Write(const uint8_t* firstRow, size_t stride, int count) {
    if (!compressor_) throw EInvalidGraphicOperation("The JPEG is finished already");
    if (count < 0 || count > height_ - rows_) throw EInvalidGraphicOperation("More JPEG rows than the picture has");
    compressor_->WriteRows(firstRow, stride, count);
    rows_ += count;
}

ByteBuffer JpegRowEncoder::Finish() {
    if (!compressor_) throw EInvalidGraphicOperation("The JPEG is finished already");
    if (rows_ != height_) throw EInvalidGraphicOperation("A JPEG finished before its last row");
    compressor_->Finish();
    compressor_.reset();
    return std::move(bytes_);
}

ByteBuffer EncodeJpeg(const TBitmap& bitmap, const JpegEncoding& encoding, std::function<void(int)> onProgress) {
    if (encoding.quality < 1 || encoding.quality > 100) throw ERangeError();
    if (bitmap.Width() == 0 || bitmap.Height() == 0) return {};  // as a TJPEGImage saves an empty bitmap
    const TPixelFormat format = bitmap.PixelFormat();
    if (format != TPixelFormat::pf24bit && format != TPixelFormat::pfDevice) {
        TBitmap converted(bitmap);
        converted.SetPixelFormat(TPixelFormat::pf24bit);
        return EncodeJpeg(converted, encoding, std::move(onProgress));
    }
    JpegRowEncoder encoder(bitmap.Width(), bitmap.Height(), encoding, std::move(onProgress));
    encoder.Write(bitmap.ScanLine(0), bitmap.RowStride(), bitmap.Height());
    return encoder.Finish();
}
