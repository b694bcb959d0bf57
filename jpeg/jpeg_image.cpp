#include "jpeg/jpeg_image.h"

#include <algorithm>
#include <utility>

#include <cstdio>
#include <jpeglib.h>
#include <jerror.h>

#include "graphics/errors.h"
#include "graphics/size_check.h"
#include "graphics/stream.h"
#include "icc/colour_profile.h"
#include "jpeg/jpeg_encoder.h"
#include "jpeg/jpeg_library.h"
#include "jpeg/jpeg_metadata.h"

IMBRIX_DEFINE_GRAPHIC_CLASS(TJPEGImage, TGraphic);

TJPEGDefaults JpegSettingDefaults;

void SetJpegDefaultOutputDepth(int screenBitsPerPixel) {
    JpegSettingDefaults.OutputDepth =
        screenBitsPerPixel <= 8 ? TJPEGPixelFormat::jf8Bit : TJPEGPixelFormat::jf24Bit;
}

namespace {

constexpr int kQuantizedColors = 236;

uint8_t MulDiv255(unsigned a, unsigned b) { return static_cast<uint8_t>((a * b + 127) / 255); }

// One row of CMYK samples to blue, green, red. Adobe's files store the inks inverted.
void CmykRowToBgr(const uint8_t* cmyk, uint8_t* bgr, int width, bool inverted) {
    for (int x = 0; x < width; ++x, cmyk += 4, bgr += 3) {
        unsigned c = cmyk[0], m = cmyk[1], y = cmyk[2], k = cmyk[3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        bgr[0] = MulDiv255(y, k);
        bgr[1] = MulDiv255(m, k);
        bgr[2] = MulDiv255(c, k);
    }
}

}  // namespace

TJPEGImage::TJPEGImage()
    : data_(std::make_shared<TJPEGData>()),
      quality_(90),
      grayOutput_(JpegSettingDefaults.GrayOutput),
      outputDepth_(JpegSettingDefaults.OutputDepth),
      progressiveSave_(JpegSettingDefaults.ProgressiveSave) {
    SetQuality(JpegSettingDefaults.Quality);
}

TJPEGImage::TJPEGImage(const TJPEGImage& other)
    : TGraphic(other),
      data_(other.data_),
      paletteModified_(other.paletteModified_),
      quality_(other.quality_),
      grayOutput_(other.grayOutput_),
      outputDepth_(other.outputDepth_),
      progressiveSave_(other.progressiveSave_) {
    if (other.bitmap_) bitmap_ = std::make_unique<TBitmap>(*other.bitmap_);
}

TJPEGImage& TJPEGImage::operator=(const TJPEGImage& other) {
    if (this != &other) {
        Assign(other);
        quality_ = other.quality_;
        grayOutput_ = other.grayOutput_;
        outputDepth_ = other.outputDepth_;
        progressiveSave_ = other.progressiveSave_;
    }
    return *this;
}

TJPEGImage::~TJPEGImage() = default;

void TJPEGImage::ReadPicture(TStream& stream) {
    auto data = std::make_shared<TJPEGData>();
    CheckAllocation(stream.Remaining(), 1);
    data->Bytes = stream.ReadRestBuffer();
    data->HasBytes = true;
    JpegMetadata metadata;
    if (!data->Bytes.empty()) {
        jpegbinding::Decompressor decompressor(data->Bytes);
        decompressor.ReadHeader();
        const jpeg_decompress_struct& info = decompressor.Info();
        data->Width = static_cast<int32_t>(info.image_width);
        data->Height = static_cast<int32_t>(info.image_height);
        data->Grayscale = info.jpeg_color_space == JCS_GRAYSCALE;
        metadata = ScanJpegMetadata(data->Bytes);
        const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
        data->Cmyk = cmyk;
        if (cmyk && !metadata.IccProfile.empty()) {
            std::string problem;
            data->CmykProfile = CmykToSRGB::Create(metadata.IccProfile, info.saw_Adobe_marker, &problem);
            if (!data->CmykProfile) metadata.IccProblem = problem;
            metadata.IccProfile.clear();
        }
    }
    // The previous picture stays until the new one has been read.
    Orientation = metadata.Orientation;
    IccProfile = std::move(metadata.IccProfile);
    IccProfileProblem = std::move(metadata.IccProblem);
    data_ = std::move(data);
    bitmap_.reset();
    paletteModified_ = true;
}

int TJPEGImage::Width() const { return bitmap_ ? bitmap_->Width() : data_->Width; }
int TJPEGImage::Height() const { return bitmap_ ? bitmap_->Height() : data_->Height; }

void TJPEGImage::SetWidth(int) { throw EInvalidGraphicOperation("Cannot change the size of a JPEG image"); }
void TJPEGImage::SetHeight(int) { throw EInvalidGraphicOperation("Cannot change the size of a JPEG image"); }

void TJPEGImage::Draw(TBitmap& target, const TRect& rect) { DecodedBitmap().Draw(target, rect); }

std::unique_ptr<TBitmap> TJPEGImage::TakePlainBitmap() {
    if (Transparent || Empty()) return nullptr;
    const TBitmap& decoded = DecodedBitmap();
    if (decoded.PixelFormat() != TPixelFormat::pf24bit || decoded.Transparent || decoded.AlphaMeaningful ||
        decoded.Width() != Width() || decoded.Height() != Height())
        return nullptr;
    return std::move(bitmap_);
}

bool TJPEGImage::DecodesToPlainRows() const {
    return !bitmap_ && data_->HasBytes && !data_->Bytes.empty() && !data_->Cmyk && !data_->Grayscale && !grayOutput_ &&
           outputDepth_ == TJPEGPixelFormat::jf24Bit && !Transparent && !Empty();
}

void TJPEGImage::DecodeFollowed(const std::function<uint8_t*(int)>& rowAt, const std::function<void(int)>& rowsDone) {
    if (!DecodesToPlainRows() || !rowAt)
        throw EInvalidGraphicOperation("This JPEG picture cannot be decoded row by row");
    Decode(rowAt, rowsDone);
    Progress(TProgressStage::psEnding, 100, Rect(0, 0, Width(), Height()));
}

TBitmap& TJPEGImage::DecodedBitmap() {
    if (bitmap_) return *bitmap_;
    bitmap_ = Decode({}, {});
    Progress(TProgressStage::psEnding, 100, Rect(0, 0, Width(), Height()));
    return *bitmap_;
}

std::unique_ptr<TBitmap> TJPEGImage::Decode(const std::function<uint8_t*(int)>& rowAt,
                                            const std::function<void(int)>& rowsDone) {
    // Built aside and kept only when complete, so a failed decode leaves no half picture
    // behind to be drawn later as if it were good.
    const bool given = rowAt != nullptr;
    std::unique_ptr<TBitmap> bitmap = given ? nullptr : std::make_unique<TBitmap>();
    const TRect whole = Rect(0, 0, Width(), Height());
    Progress(TProgressStage::psStarting, 0, whole);

    // Held here so that the bytes outlive the decoder whatever a progress listener does.
    const std::shared_ptr<TJPEGData> data = data_;
    jpegbinding::Decompressor decompressor(data->Bytes);
    decompressor.SetProgressHandler(
        [this, whole](int percent) { Progress(TProgressStage::psRunning, static_cast<uint8_t>(percent), whole); });
    decompressor.ReadHeader();
    jpeg_decompress_struct& info = decompressor.Info();

    info.scale_num = 1;
    info.scale_denom = 1;
    info.do_block_smoothing = TRUE;
    info.buffered_image = FALSE;
    const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    bool quantize = false;
    if (cmyk) {
        // The library does not turn CMYK into RGB; we do, row by row.
        info.out_color_space = JCS_CMYK;
    } else {
        if (grayOutput_) info.out_color_space = JCS_GRAYSCALE;
        quantize = outputDepth_ == TJPEGPixelFormat::jf8Bit || info.out_color_space == JCS_GRAYSCALE;
        if (quantize) {
            // Gray files always come here: 236 levels of an 8-bit palettised bitmap.
            if (info.out_color_space != JCS_GRAYSCALE) info.out_color_space = JCS_RGB;
            info.quantize_colors = TRUE;
            info.desired_number_of_colors = kQuantizedColors;
        } else {
            // Our 24-bit rows are blue, green, red: let the library write them that way.
            info.out_color_space = JCS_EXT_BGR;
        }
    }
    decompressor.CalcOutputDimensions();
    // Rows are sized for exactly this many bytes per pixel; never let the library write more.
    if (info.output_components != (quantize ? 1 : cmyk ? 4 : 3))
        throw EJPEG(jpegbinding::JpegErrorText(JERR_CONVERSION_NOTIMPL));

    const int width = static_cast<int>(info.output_width);
    const int height = static_cast<int>(info.output_height);
    if (given) {
        // The consumer counts on rows of the picture's own size, three bytes a pixel.
        if (quantize || cmyk || width != Width() || height != Height())
            throw EInvalidGraphicOperation("This JPEG picture cannot be decoded row by row");
    } else {
        // Sized (and checked against the picture limits) before the library allocates anything.
        if (quantize) bitmap->SetPixelFormat(TPixelFormat::pf8bit);
        else bitmap->SetPixelFormat(TPixelFormat::pf24bit);
        bitmap->SetSizeForOverwrite(width, height);  // every row is decoded into below
    }

    decompressor.Start();
    if (quantize) {
        std::vector<TRGBQuad> palette(static_cast<size_t>(info.actual_number_of_colors));
        const bool gray = info.out_color_components == 1;
        for (size_t i = 0; i < palette.size(); ++i) {
            const JSAMPARRAY map = info.colormap;
            palette[i].rgbRed = map[0][i];
            palette[i].rgbGreen = gray ? map[0][i] : map[1][i];
            palette[i].rgbBlue = gray ? map[0][i] : map[2][i];
        }
        bitmap->SetPalette(std::move(palette));
        paletteModified_ = true;
    }

    if (height > 0 && width > 0) {
        if (cmyk) {
            std::vector<uint8_t> row(static_cast<size_t>(CheckAllocation(static_cast<uint64_t>(width), 4)));
            const bool inverted = info.saw_Adobe_marker;
            const CmykToSRGB* profile = data->CmykProfile.get();
            for (int y = 0; y < height; ++y) {
                decompressor.ReadRows(row.data(), row.size(), 1);
                if (profile) profile->Row(row.data(), bitmap->ScanLine(y), width);
                else CmykRowToBgr(row.data(), bitmap->ScanLine(y), width, inverted);
            }
        } else if (given) {
            // Told in bands, so that the consumer follows closely without being woken for
            // every row.
            constexpr int kBand = 32;
            for (int y = 0; y < height; ++y) {
                decompressor.ReadRows(rowAt(y), 0, 1);
                if (rowsDone && ((y + 1) % kBand == 0 || y + 1 == height)) rowsDone(y + 1);
            }
        } else {
            decompressor.ReadRows(bitmap->ScanLine(0), bitmap->RowStride(), height);
        }
    }
    decompressor.Finish();
    return bitmap;
}

void TJPEGImage::WritePicture(TStream& stream) {
    if (!data_->HasBytes) EncodeData();
    if (!data_->Bytes.empty()) stream.WriteBuffer(data_->Bytes.data(), data_->Bytes.size());
}

void TJPEGImage::EncodeData() {
    // Always new data: the old one may be shared with other pictures. It replaces the old one
    // only when the encoding succeeded, so a failure never leaves half a file to be saved.
    auto data = std::make_shared<TJPEGData>();
    data->HasBytes = true;
    if (!bitmap_ || bitmap_->Width() == 0 || bitmap_->Height() == 0) {
        data_ = std::move(data);
        return;
    }
    const TRect whole = Rect(0, 0, bitmap_->Width(), bitmap_->Height());
    Progress(TProgressStage::psStarting, 0, whole);

    data->Bytes = EncodeJpeg(*bitmap_, {quality_, grayOutput_, progressiveSave_}, [this, whole](int percent) {
        Progress(TProgressStage::psRunning, static_cast<uint8_t>(percent), whole);
    });
    data->Width = bitmap_->Width();
    data->Height = bitmap_->Height();
    data->Grayscale = grayOutput_;
    data_ = std::move(data);
    Progress(TProgressStage::psEnding, 100, whole);
}

void TJPEGImage::AssignBitmap(TBitmap& source) {
    auto copy = std::make_unique<TBitmap>(source);
    copy->OnProgress = nullptr;
    data_ = std::make_shared<TJPEGData>();
    bitmap_ = std::move(copy);
    paletteModified_ = true;
    // The bitmap is the picture now, as it stands: nothing left of the file to apply.
    Orientation = 1;
    IccProfile.clear();
    IccProfileProblem.clear();
}

void TJPEGImage::Assign(const TJPEGImage& source) {
    if (&source == this) return;
    std::unique_ptr<TBitmap> copy;
    if (source.bitmap_) copy = std::make_unique<TBitmap>(*source.bitmap_);
    data_ = source.data_;
    bitmap_ = std::move(copy);
    paletteModified_ = true;
    Orientation = source.Orientation;
    IccProfile = source.IccProfile;
    IccProfileProblem = source.IccProfileProblem;
}

void TJPEGImage::SetQuality(int quality) {
    if (quality < 1 || quality > 100) throw ERangeError();
    quality_ = quality;
}

void TJPEGImage::FreeBitmapIfRedecodable() {
    // Only a bitmap decoded from our bytes may go; an assigned one is the picture itself.
    if (!data_->Bytes.empty()) bitmap_.reset();
}

void TJPEGImage::SetGrayOutput(bool on) {
    if (on == grayOutput_) return;
    grayOutput_ = on;
    FreeBitmapIfRedecodable();
}

void TJPEGImage::SetOutputDepth(TJPEGPixelFormat depth) {
    if (depth == outputDepth_) return;
    outputDepth_ = depth;
    FreeBitmapIfRedecodable();
}
