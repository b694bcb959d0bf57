#pragma once
// TJPEGImage: the picture class for JPEG files, over libjpeg (interface version 62).
//
// It keeps the file's bytes, answers Width/Height from the header without decoding, decodes
// to a TBitmap the first time pixels are needed, and compresses a Bitmap when saved.
//
// Writing a ".jpg" result:
//     TJPEGImage jpg;
//     jpg.SetQuality(quality);          // 1..100, otherwise "Range check error"
//     jpg.SetGrayOutput(false);
//     jpg.SetProgressiveSave(false);
//     jpg.AssignBitmap(bitmap);
//     jpg.WritePictureFileExclusive(path);
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "graphics/bitmap.h"
#include "graphics/graphic.h"
#include "graphics/stream.h"

class TStream;
class CmykToSRGB;

// Depth of the decoded bitmap.
enum class TJPEGPixelFormat { jf24Bit, jf8Bit };

// The process-wide defaults every new TJPEGImage copies.
struct TJPEGDefaults {
    int Quality = 90;
    bool GrayOutput = false;
    TJPEGPixelFormat OutputDepth = TJPEGPixelFormat::jf24Bit;
    bool ProgressiveSave = false;
};
extern TJPEGDefaults JpegSettingDefaults;

// Set once at start-up, before any JPEG picture exists, from the screen's bits per pixel
// (times colour planes): 8 or fewer selects 8-bit decoding, more selects 24-bit.
void SetJpegDefaultOutputDepth(int screenBitsPerPixel);

// The data several pictures may share. Never changed once shared: a picture that needs other
// data makes a new TJPEGData.
struct TJPEGData {
    bool HasBytes = false;         // false: no JPEG bytes yet (to be encoded from the bitmap)
    ByteBuffer Bytes;              // the JPEG file image
    int32_t Width = 0;
    int32_t Height = 0;
    bool Grayscale = false;        // the file's colour space is grayscale
    bool Cmyk = false;             // the file stores inks (CMYK or YCCK)
    // Ink pictures with a usable embedded CMYK profile decode through it instead of the
    // plain formula.
    std::shared_ptr<const CmykToSRGB> CmykProfile;
};

class TJPEGImage : public TGraphic {
    IMBRIX_GRAPHIC_CLASS()
public:
    TJPEGImage();
    // Copies share the data and copy the decoded bitmap (like Assign).
    TJPEGImage(const TJPEGImage& other);
    TJPEGImage& operator=(const TJPEGImage& other);
    ~TJPEGImage() override;

    // Reads every byte from the stream's position to its end; width, height and the
    // grayscale flag come from the header ("JPEG error #%d" for a file that is not JPEG).
    // The EXIF orientation and the ICC profile (APP2 chunks) go to Orientation and
    // IccProfile; a CMYK file's profile is used by the decoder itself instead.
    void ReadPicture(TStream& stream) override;

    int Width() const override;
    int Height() const override;
    // Fail with "Cannot change the size of a JPEG image".
    void SetWidth(int width);
    void SetHeight(int height);

    // Stretches the decoded bitmap into rect (a 1:1 copy at the picture's own size).
    void Draw(TBitmap& target, const TRect& rect) override;

    // Decodes on first use and returns the cached bitmap afterwards.
    TBitmap& DecodedBitmap();
    bool HasDecodedBitmap() const { return bitmap_ != nullptr; }
    // The decoded bitmap itself, when it is plain 24-bit; a later draw decodes again.
    std::unique_ptr<TBitmap> TakePlainBitmap() override;

    // Whether the picture decodes straight to the plain 24-bit rows TakePlainBitmap hands
    // over (not ink, gray or 8-bit output, not decoded yet), so that DecodeFollowed can be used.
    bool DecodesToPlainRows() const;
    // Decodes the rows TakePlainBitmap would hand over, Width() x 3 bytes each, row y to
    // rowAt(y), which is asked in order, before the row is decoded (rows 0..y-1 are final
    // then); rowsDone(n) is called every few rows, whenever rows 0..n-1 are final. For a
    // consumer on another thread, so the rows go where it reads them. Only when
    // DecodesToPlainRows(); the picture keeps no decoded bitmap.
    void DecodeFollowed(const std::function<uint8_t*(int y)>& rowAt, const std::function<void(int)>& rowsDone);

    bool CanWrite() const override { return true; }
    // Encodes first when there are no JPEG bytes yet; a 0-sized bitmap gives 0 bytes.
    void WritePicture(TStream& stream) override;
    // Compresses the decoded bitmap into new JPEG bytes.
    void EncodeData();

    // Drops the data and keeps a copy of the source as the decoded bitmap.
    void AssignBitmap(TBitmap& source) override;
    // Shares the other picture's data and copies its decoded bitmap if it has one.
    void Assign(const TJPEGImage& source);

    // Settings, copied from JpegSettingDefaults at creation.
    int Quality() const { return quality_; }
    void SetQuality(int quality);  // outside 1..100: "Range check error"
    bool GrayOutput() const { return grayOutput_; }
    void SetGrayOutput(bool on);
    TJPEGPixelFormat OutputDepth() const { return outputDepth_; }
    void SetOutputDepth(TJPEGPixelFormat depth);
    bool ProgressiveSave() const { return progressiveSave_; }
    void SetProgressiveSave(bool on) { progressiveSave_ = on; }

    // The (shared) data; for inspection.
    const TJPEGData& Data() const { return *data_; }
    std::shared_ptr<const TJPEGData> SharedData() const { return data_; }
    bool PaletteModified() const { return paletteModified_; }

private:
    void FreeBitmapIfRedecodable();
    // The decoding behind DecodedBitmap and DecodeFollowed (without rowAt: into a new bitmap,
    // which is returned).
    std::unique_ptr<TBitmap> Decode(const std::function<uint8_t*(int)>& rowAt, const std::function<void(int)>& rowsDone);

    std::shared_ptr<TJPEGData> data_;
    std::unique_ptr<TBitmap> bitmap_;
    bool paletteModified_ = false;
    int quality_;
    bool grayOutput_;
    TJPEGPixelFormat outputDepth_;
    bool progressiveSave_;
};
