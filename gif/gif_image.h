#pragma once
// TGIFImage: the picture object for GIF files (GIF87a and GIF89a). Reading keeps every image
// block as a frame with its compressed data and decodes only the first frame; writing reduces a
// Bitmap to at most 256 colours and compresses it with GIF LZW.
//
// The pipeline writes a ".gif" result like this:
//     TGIFImage gif;
//     gif.AssignBitmap(bitmap);
//     gif.WritePictureFileExclusive(path);
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "graphics/bitmap.h"
#include "graphics/graphic.h"

class ByteReader;
class TStream;

// A GIF colour table: Count entries (0..256) of red, green, blue in file order; the entries
// beyond Count are zero.
struct GifColorTable {
    int32_t Count = 0;
    std::array<uint8_t, 256 * 3> Colors{};

    TColor Color(int index) const {
        return RGBColor(Colors[3 * index], Colors[3 * index + 1], Colors[3 * index + 2]);
    }
    void SetColor(int index, TColor color) {
        Colors[3 * index] = GetRValue(color);
        Colors[3 * index + 1] = GetGValue(color);
        Colors[3 * index + 2] = GetBValue(color);
    }
    void Clear() { *this = GifColorTable{}; }
    bool operator==(const GifColorTable&) const = default;
};

enum class ExtensionKind : uint8_t { GraphicControl = 0, PlainText = 1, Application = 2, Comment = 3 };

// Block labels and introducers of the file format.
inline constexpr uint8_t kGifLabelGraphicControl = 0xF9;
inline constexpr uint8_t kGifLabelPlainText = 0x01;
inline constexpr uint8_t kGifLabelApplication = 0xFF;
inline constexpr uint8_t kGifLabelComment = 0xFE;
inline constexpr uint8_t kGifExtensionIntroducer = '!';
inline constexpr uint8_t kGifImageIntroducer = ',';
inline constexpr uint8_t kGifTrailer = ';';

// One extension block as read from the file.
struct TExtension {
    ExtensionKind Kind = ExtensionKind::Comment;
    // The extension's fixed part as read (6 bytes for GraphicControl, 13 for PlainText, 12 for
    // Application, none for Comment); bytes missing at the end of the file are zero.
    std::vector<uint8_t> Fixed;
    // The data sub-blocks, one string per sub-block (none for GraphicControl).
    std::vector<std::string> SubBlocks;

    // GraphicControl fields.
    uint8_t Packed() const { return Fixed.size() > 1 ? Fixed[1] : 0; }
    int DelayHundredths() const { return Fixed.size() > 3 ? Fixed[2] | (Fixed[3] << 8) : 0; }
    uint8_t TransparentIndex() const { return Fixed.size() > 4 ? Fixed[4] : 0; }
    // The sub-blocks joined (the text of a Comment).
    std::string Text() const;
};

// Picture-wide data, shared between copies of a picture and copied before it is changed.
struct TGIFData {
    uint8_t AspectRatio = 0;
    int BitsPerPixel = 0;      // of the global colour table, 1..8 (0 when there is none)
    int ColorResolution = 0;   // 1..8
    GifColorTable ColorTable;  // the global table; Count 0 when the file has none
    std::vector<std::string> Comments;  // comment lines
};

// Frame data, shared between copies of a frame and copied before it is changed.
struct TGIFItem {
    int BitsPerPixel = 0;  // 1..8; 0 while the frame has no colour table at all
    GifColorTable ColorTable;
    int32_t Width = 0;
    int32_t Height = 0;
    uint8_t Packed = 0;  // the image descriptor's packed byte
    // The LZW minimum code size byte followed by the data sub-blocks exactly as in the file.
    std::optional<std::vector<uint8_t>> Data;
};

class TGIFImage;

class TGIFFrame {
public:
    explicit TGIFFrame(TGIFImage* owner);
    TGIFFrame(const TGIFFrame& other, TGIFImage* owner);

    TGIFImage* Owner() const { return owner_; }
    const TGIFItem& Item() const { return *data_; }
    // The frame data, copied first when another frame still shares it.
    TGIFItem& MutableItem();
    const std::shared_ptr<TGIFItem>& SharedItem() const { return data_; }

    int Width() const { return data_->Width; }
    int Height() const { return data_->Height; }
    int BitsPerPixel() const { return data_->BitsPerPixel; }
    const GifColorTable& ColorTable() const { return data_->ColorTable; }
    bool HasData() const { return data_->Data && !data_->Data->empty(); }

    // The decoded picture: null until decoded (or assigned).
    TBitmap* Bitmap() const { return bitmap_.get(); }
    void SetBitmap(std::unique_ptr<TBitmap> bitmap) { bitmap_ = std::move(bitmap); }
    // Assigns a picture: an empty one leaves the frame without data and bitmap; otherwise the
    // frame gets new data and a copy of the picture as its bitmap.
    void AssignPicture(TGraphic& picture);

    const std::vector<TExtension>& Extensions() const { return extensions_; }
    std::vector<TExtension>& MutableExtensions() { return extensions_; }

    int Left = 0;
    int Top = 0;
    bool Interlaced = false;
    bool LocalColorTable = false;
    bool Corrupted = false;
    TColor TransparentColor = NoColor;
    int32_t Interval = 0;  // milliseconds
    int Disposal = 0;      // 0..7

private:
    friend class TGIFImage;
    TGIFImage* owner_;
    std::shared_ptr<TGIFItem> data_;
    std::unique_ptr<TBitmap> bitmap_;
    std::vector<TExtension> extensions_;
};

class TGIFImage : public TGraphic {
    IMBRIX_GRAPHIC_CLASS()
public:
    TGIFImage();
    // Copies share the picture and frame data until one of them changes it.
    TGIFImage(const TGIFImage& other);
    TGIFImage& operator=(const TGIFImage& other);
    ~TGIFImage() override;

    // Reads the GIF that fills the rest of the stream; decodes its first frame.
    void ReadPicture(TStream& stream) override;
    // Reads size bytes of the stream as a GIF file; decodes frame 0 when decodeFirst.
    void ReadGifStream(uint64_t size, TStream& stream, bool decodeFirst);

    // The current frame's size (0 when there is none); decodes it on demand.
    int Width() const override;
    int Height() const override;
    bool Empty() const override;
    // Fails with "Cannot change the Size of a GIF image".
    void SetWidth(int width);
    void SetHeight(int height);

    // Draws the current frame stretched into rect; with Transparent on, pixels of the frame's
    // transparent colour leave the target as it was.
    void Draw(TBitmap& target, const TRect& rect) override;

    bool CanWrite() const override { return true; }
    void WritePicture(TStream& stream) override { WriteGifStream(stream); }
    void WriteGifStream(TStream& stream);
    // Makes this a one-frame picture of a copy of the bitmap.
    void AssignBitmap(TBitmap& source) override;
    // Appends a frame holding a copy of the picture and makes it current; returns its index.
    int AppendFrame(TGraphic& picture);

    int FrameCount() const { return static_cast<int>(frames_.size()); }
    TGIFFrame& Frame(int index);
    const TGIFFrame& Frame(int index) const;
    // Decodes a frame's compressed data into its bitmap (or returns the bitmap it has).
    TBitmap& DecodeFrameBitmap(TGIFFrame& frame);
    // Compresses a frame's bitmap into its data (reducing it to 256 colours first).
    void EncodeFrame(TGIFFrame& frame);
    int CurrentFrameIndex() const { return current_; }
    void SetCurrentFrameIndex(int index);

    const TGIFData& Data() const { return *data_; }
    // The picture data, copied first when another picture still shares it.
    TGIFData& MutableData();
    const std::vector<std::string>& Comments() const { return data_->Comments; }

    int Version() const { return version_; }  // 0 unknown, 1 "87a", 2 "89a"
    int ScreenWidth() const { return screenWidth_; }
    int ScreenHeight() const { return screenHeight_; }
    void RecomputeScreenSize();
    TColor BackgroundColor() const { return backgroundColor_; }
    void SetBackgroundColor(TColor color) { backgroundColor_ = color; }
    bool Looping() const { return looping_; }
    uint16_t RepeatCount() const { return repeatCount_; }
    bool Corrupted() const { return corrupted_; }

private:
    void Reset();
    void ReadImageBlock(ByteReader& in, TGIFFrame& frame);

    std::shared_ptr<TGIFData> data_;
    std::vector<std::unique_ptr<TGIFFrame>> frames_;
    int current_ = -1;
    int version_ = 0;
    int screenWidth_ = 0;
    int screenHeight_ = 0;
    TColor backgroundColor_ = NoColor;
    bool looping_ = false;
    uint16_t repeatCount_ = 1;
    bool corrupted_ = false;
};
