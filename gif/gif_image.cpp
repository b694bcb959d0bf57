#include "gif/gif_image.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

#include "gif/gif_lzw.h"
#include "gif/gif_palette.h"
#include "graphics/byte_reader.h"
#include "graphics/errors.h"
#include "graphics/size_check.h"
#include "graphics/stream.h"

IMBRIX_DEFINE_GRAPHIC_CLASS(TGIFImage, TGraphic);

namespace {

constexpr const char* kNoDataToWrite = "No GIF Data to write";
// Every size and position field of the format is 16 bits wide.
constexpr int kMaxGifDimension = 65535;
constexpr int kMaxRepeatCount = 30000;

// Header parts that may be cut short by the end of the file are read as far as they go;
// the missing bytes count as zero.
std::vector<uint8_t> ReadPadded(ByteReader& in, size_t count) {
    std::vector<uint8_t> bytes(count, 0);
    const size_t have = std::min(count, in.remaining());
    in.copy(bytes.data(), have);
    return bytes;
}

// Skips zero bytes; the next byte, or 0 at the end of the data.
uint8_t NextSeparator(ByteReader& in) {
    while (!in.atEnd()) {
        const uint8_t b = in.u8();
        if (b != 0) return b;
    }
    return 0;
}

// Sub-blocks up to a zero count or the end of the data; a block cut short keeps what is there.
std::vector<std::string> ReadSubBlocks(ByteReader& in) {
    std::vector<std::string> blocks;
    while (!in.atEnd()) {
        const size_t count = in.u8();
        if (count == 0) break;
        const auto bytes = in.bytes(std::min(count, in.remaining()));
        blocks.emplace_back(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    return blocks;
}

bool IsLoopExtension(const TExtension& ext) {
    if (ext.Fixed.size() < 12 || ext.SubBlocks.empty()) return false;
    const size_t declared = ext.Fixed[0];
    if (declared < 11) return false;
    const std::string id(reinterpret_cast<const char*>(ext.Fixed.data() + 1), 11);
    if (id != "NETSCAPE2.0" && id != "ANIMEXTS1.0") return false;
    const std::string& first = ext.SubBlocks.front();
    return first.size() >= 3 && static_cast<uint8_t>(first[0]) == 1;
}

int Log2Ceil(int count) {
    int bits = 1;
    while ((1 << bits) < count) ++bits;
    return bits;
}

bool EqualsIgnoringCase(const uint8_t* a, const char* b, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        auto lower = [](unsigned c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; };
        if (lower(a[i]) != lower(static_cast<unsigned char>(b[i]))) return false;
    }
    return true;
}

// Splits a comment's text into lines at CR LF, LF or CR.
void AppendLines(std::vector<std::string>& lines, const std::string& text) {
    std::string line;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(line);
            line.clear();
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            line += c;
        }
    }
    if (!line.empty() || text.empty()) lines.push_back(line);
}

// Frame data as stored ends with a zero-length sub-block unless the file was cut short; a
// written file must always have it, or the next block would be read as image data.
void AppendTerminatedData(ByteWriter& out, const std::vector<uint8_t>& data) {
    out.bytes(data);
    size_t pos = 1;
    while (pos < data.size()) {
        const size_t count = data[pos];
        if (count == 0) return;
        pos += 1 + count;
    }
    if (pos > data.size()) out.fill(0, pos - data.size());  // complete a cut sub-block
    out.u8(0);
}

void CheckGifDimensions(int64_t width, int64_t height) {
    if (width > kMaxGifDimension || height > kMaxGifDimension)
        throw EInvalidGraphicOperation(FormatMessage(
            "Cannot write a GIF image of %lld x %lld pixels: GIF images are at most 65535 pixels wide and high",
            static_cast<long long>(width), static_cast<long long>(height)));
}

}  // namespace

std::string TExtension::Text() const {
    std::string text;
    for (const std::string& block : SubBlocks) text += block;
    return text;
}

// ---------------------------------------------------------------------------------------------
// Frames

TGIFFrame::TGIFFrame(TGIFImage* owner) : owner_(owner), data_(std::make_shared<TGIFItem>()) {}

TGIFFrame::TGIFFrame(const TGIFFrame& other, TGIFImage* owner)
    : Left(other.Left),
      Top(other.Top),
      Interlaced(other.Interlaced),
      LocalColorTable(other.LocalColorTable),
      Corrupted(other.Corrupted),
      TransparentColor(other.TransparentColor),
      Interval(other.Interval),
      Disposal(other.Disposal),
      owner_(owner),
      data_(other.data_),
      bitmap_(other.bitmap_ ? std::make_unique<TBitmap>(*other.bitmap_) : nullptr),
      extensions_(other.extensions_) {}

TGIFItem& TGIFFrame::MutableItem() {
    if (data_.use_count() > 1) data_ = std::make_shared<TGIFItem>(*data_);
    return *data_;
}

void TGIFFrame::AssignPicture(TGraphic& picture) {
    data_ = std::make_shared<TGIFItem>();
    bitmap_.reset();
    Left = Top = 0;
    Interlaced = LocalColorTable = Corrupted = false;
    TransparentColor = NoColor;
    Interval = 0;
    Disposal = 0;
    if (!picture.Empty()) {
        if (auto* source = dynamic_cast<TBitmap*>(&picture)) {
            bitmap_ = std::make_unique<TBitmap>(*source);
        } else {
            bitmap_ = std::make_unique<TBitmap>(picture.Width(), picture.Height(), TPixelFormat::pf24bit);
            picture.Draw(*bitmap_, Rect(0, 0, picture.Width(), picture.Height()));
        }
        bitmap_->Transparent = false;
        data_->Width = bitmap_->Width();
        data_->Height = bitmap_->Height();
    }
    if (owner_) owner_->RecomputeScreenSize();
}

// ---------------------------------------------------------------------------------------------
// The picture

TGIFImage::TGIFImage() : data_(std::make_shared<TGIFData>()) { Transparent = true; }

TGIFImage::TGIFImage(const TGIFImage& other) : TGraphic(other) { *this = other; }

TGIFImage& TGIFImage::operator=(const TGIFImage& other) {
    if (this == &other) return *this;
    Transparent = other.Transparent;
    data_ = other.data_;
    frames_.clear();
    for (const auto& f : other.frames_) frames_.push_back(std::make_unique<TGIFFrame>(*f, this));
    current_ = other.current_;
    version_ = other.version_;
    screenWidth_ = other.screenWidth_;
    screenHeight_ = other.screenHeight_;
    backgroundColor_ = other.backgroundColor_;
    looping_ = other.looping_;
    repeatCount_ = other.repeatCount_;
    corrupted_ = other.corrupted_;
    return *this;
}

TGIFImage::~TGIFImage() = default;

TGIFData& TGIFImage::MutableData() {
    if (data_.use_count() > 1) data_ = std::make_shared<TGIFData>(*data_);
    return *data_;
}

void TGIFImage::Reset() {
    data_ = std::make_shared<TGIFData>();
    frames_.clear();
    current_ = -1;
    backgroundColor_ = NoColor;
    repeatCount_ = 1;
    looping_ = false;
    version_ = 0;
    corrupted_ = false;
    screenWidth_ = screenHeight_ = 0;
}

TGIFFrame& TGIFImage::Frame(int index) {
    if (index < 0 || index >= FrameCount()) throw ERangeError();
    return *frames_[size_t(index)];
}

const TGIFFrame& TGIFImage::Frame(int index) const {
    if (index < 0 || index >= FrameCount()) throw ERangeError();
    return *frames_[size_t(index)];
}

void TGIFImage::SetCurrentFrameIndex(int index) {
    if (index < -1 || index >= FrameCount()) throw ERangeError();
    current_ = index;
}

int TGIFImage::Width() const {
    if (current_ < 0 || current_ >= FrameCount()) return 0;
    return const_cast<TGIFImage*>(this)->DecodeFrameBitmap(*frames_[size_t(current_)]).Width();
}

int TGIFImage::Height() const {
    if (current_ < 0 || current_ >= FrameCount()) return 0;
    return const_cast<TGIFImage*>(this)->DecodeFrameBitmap(*frames_[size_t(current_)]).Height();
}

bool TGIFImage::Empty() const {
    if (frames_.empty()) return true;
    const size_t index = size_t(std::max(current_, 0));
    if (index >= frames_.size()) return true;
    const TGIFFrame& frame = *frames_[index];
    // A frame of zero width or height has nothing to show, whatever data it carries.
    if (frame.Width() <= 0 || frame.Height() <= 0) return true;
    const bool hasBitmap = frame.Bitmap() && !frame.Bitmap()->Empty();
    return !hasBitmap && !frame.HasData();
}

void TGIFImage::SetWidth(int) { throw EInvalidGraphicOperation("Cannot change the Size of a GIF image"); }
void TGIFImage::SetHeight(int) { throw EInvalidGraphicOperation("Cannot change the Size of a GIF image"); }

void TGIFImage::RecomputeScreenSize() {
    int64_t w = 0, h = 0;
    for (const auto& f : frames_) {
        w = std::max(w, int64_t(f->Width()) + f->Left);
        h = std::max(h, int64_t(f->Height()) + f->Top);
    }
    screenWidth_ = static_cast<int>(std::min<int64_t>(w, INT32_MAX));
    screenHeight_ = static_cast<int>(std::min<int64_t>(h, INT32_MAX));
}

// ---------------------------------------------------------------------------------------------
// Reading

void TGIFImage::ReadPicture(TStream& stream) { ReadGifStream(stream.Remaining(), stream, true); }

void TGIFImage::ReadGifStream(uint64_t size, TStream& stream, bool decodeFirst) {
    Reset();
    if (size == 0) return;
    ByteBuffer bytes(size_t(CheckAllocation(size, 1)));  // not zero-filled: every byte is read into
    stream.ReadBuffer(bytes.data(), bytes.size());
    ByteReader in{std::span<const uint8_t>(bytes)};

    const std::vector<uint8_t> header = ReadPadded(in, 6);
    if (!EqualsIgnoringCase(header.data(), "GIF", 3)) throw EInvalidGraphicOperation("Unknown GIF version");
    if (EqualsIgnoringCase(header.data() + 3, "87a", 3))
        version_ = 1;
    else if (EqualsIgnoringCase(header.data() + 3, "89a", 3))
        version_ = 2;
    else
        throw EInvalidGraphicOperation("Unknown GIF version");

    TGIFData& data = MutableData();
    const std::vector<uint8_t> screen = ReadPadded(in, 7);
    screenWidth_ = screen[0] | (screen[1] << 8);
    screenHeight_ = screen[2] | (screen[3] << 8);
    const uint8_t packed = screen[4];
    const uint8_t backgroundIndex = screen[5];
    data.AspectRatio = screen[6];
    data.BitsPerPixel = (packed & 7) + 1;
    data.ColorResolution = ((packed >> 4) & 7) + 1;
    if (packed & 0x80) {
        const int count = 1 << data.BitsPerPixel;
        const std::vector<uint8_t> table = ReadPadded(in, size_t(count) * 3);
        std::copy(table.begin(), table.end(), data.ColorTable.Colors.begin());
        data.ColorTable.Count = count;
        if (backgroundIndex < count) backgroundColor_ = data.ColorTable.Color(backgroundIndex);
    }

    uint8_t separator = NextSeparator(in);
    while (separator != 0 && separator != kGifTrailer && !in.atEnd()) {
        // A run of extensions; graphic controls and comments are kept for what follows.
        std::vector<TExtension> kept;
        while (separator == kGifExtensionIntroducer) {
            if (in.atEnd()) {
                separator = kGifTrailer;
                break;
            }
            const uint8_t label = in.u8();
            TExtension ext;
            switch (label) {
                case kGifLabelGraphicControl:
                    ext.Kind = ExtensionKind::GraphicControl;
                    ext.Fixed = ReadPadded(in, 6);
                    kept.push_back(std::move(ext));
                    break;
                case kGifLabelComment:
                    ext.Kind = ExtensionKind::Comment;
                    ext.SubBlocks = ReadSubBlocks(in);
                    kept.push_back(std::move(ext));
                    break;
                case kGifLabelPlainText:
                    // Text drawn over the picture is not shown; what came before it goes too.
                    ReadPadded(in, 13);
                    ReadSubBlocks(in);
                    kept.clear();
                    break;
                case kGifLabelApplication:
                    ext.Kind = ExtensionKind::Application;
                    ext.Fixed = ReadPadded(in, 12);
                    ext.SubBlocks = ReadSubBlocks(in);
                    if (IsLoopExtension(ext)) {
                        const std::string& first = ext.SubBlocks.front();
                        const int count = static_cast<uint8_t>(first[1]) | (static_cast<uint8_t>(first[2]) << 8);
                        looping_ = true;
                        repeatCount_ = static_cast<uint16_t>(std::min(count, kMaxRepeatCount));
                    }
                    break;
                default:
                    throw EInvalidGraphicOperation(FormatMessage("Unrecognized extension block: %.2X", label));
            }
            separator = in.atEnd() ? kGifTrailer : NextSeparator(in);
        }

        if (separator == kGifImageIntroducer) {
            auto frame = std::make_unique<TGIFFrame>(this);
            if (data.ColorTable.Count > 0) frame->MutableItem().BitsPerPixel = Log2Ceil(data.ColorTable.Count);
            frame->extensions_ = std::move(kept);
            ReadImageBlock(in, *frame);
            frames_.push_back(std::move(frame));
            if (in.atEnd()) {
                separator = kGifTrailer;
            } else {
                separator = NextSeparator(in);
                if (separator != kGifExtensionIntroducer && separator != kGifImageIntroducer &&
                    separator != kGifTrailer)
                    separator = 0;
            }
        } else {
            if (!data.Comments.empty() || kept.empty()) {
                if (separator != 0 && separator != kGifTrailer) throw EInvalidGraphicOperation(kStreamReadError);
            } else {
                // Comments after the last image belong to the whole picture.
                for (const TExtension& ext : kept) {
                    if (ext.Kind != ExtensionKind::Comment) continue;
                    if (!data.Comments.empty()) data.Comments.emplace_back();
                    AppendLines(data.Comments, ext.Text());
                }
            }
        }
    }

    if (!frames_.empty()) {
        current_ = 0;
        if (decodeFirst) {
            try {
                DecodeFrameBitmap(*frames_[0]);
            } catch (...) {
                frames_.erase(frames_.begin());
                current_ = frames_.empty() ? -1 : 0;
                throw;
            }
        }
    }
}

void TGIFImage::ReadImageBlock(ByteReader& in, TGIFFrame& frame) {
    TGIFItem& item = frame.MutableItem();
    // Short data here is a read error: the frame is discarded with it.
    const uint16_t left = in.u16le();
    const uint16_t top = in.u16le();
    const uint16_t width = in.u16le();
    const uint16_t height = in.u16le();
    const uint8_t packed = in.u8();
    item.Packed = packed;
    frame.Interlaced = (packed & 0x40) != 0;
    if (packed & 0x80) {
        const int bits = (packed & 7) + 1;
        const int count = 1 << bits;
        in.copy(item.ColorTable.Colors.data(), size_t(count) * 3);
        item.ColorTable.Count = count;
        item.BitsPerPixel = bits;
        frame.LocalColorTable = true;
    } else {
        item.ColorTable.Clear();
        frame.LocalColorTable = false;
    }

    std::vector<uint8_t> compressed;
    {
        // Sized first: a big picture's data grown block by block would be copied over and over.
        size_t length = 2, at = in.pos() + 1;
        const std::span<const uint8_t> file = in.data();
        while (at < file.size() && file[at] != 0 && at + 1 + file[at] <= file.size()) {
            length += 1 + size_t(file[at]);
            at += 1 + size_t(file[at]);
        }
        compressed.reserve(length);
    }
    compressed.push_back(in.u8());  // minimum code size
    while (!in.atEnd()) {
        const size_t count = in.peek();
        if (count == 0) {
            compressed.push_back(in.u8());
            break;
        }
        if (1 + count > in.remaining()) {
            // A sub-block cut off by the end of the file: decode what came before it.
            frame.Corrupted = true;
            corrupted_ = true;
            in.seek(in.size());
            break;
        }
        const auto block = in.bytes(1 + count);
        compressed.insert(compressed.end(), block.begin(), block.end());
    }
    item.Data = std::move(compressed);

    item.Width = width != 0 ? width : screenWidth_;
    item.Height = height != 0 ? height : screenHeight_;
    frame.Left = left;
    frame.Top = top;
    if (!frame.LocalColorTable) item.ColorTable = data_->ColorTable;

    for (const TExtension& ext : frame.extensions_) {
        if (ext.Kind != ExtensionKind::GraphicControl) continue;
        if (ext.Packed() & 1) {
            if (ext.TransparentIndex() < item.ColorTable.Count)
                frame.TransparentColor = item.ColorTable.Color(ext.TransparentIndex());
        } else {
            frame.TransparentColor = NoColor;
        }
        frame.Interval = std::max(ext.DelayHundredths() * 10, frame.Interval);
        frame.Disposal = (ext.Packed() >> 2) & 7;
    }
}

TBitmap& TGIFImage::DecodeFrameBitmap(TGIFFrame& frame) {
    if (frame.bitmap_ && !frame.bitmap_->Empty()) return *frame.bitmap_;
    const TGIFItem& item = frame.Item();
    const int bpp = item.BitsPerPixel;
    int bitCount;
    TPixelFormat format;
    if (bpp == 1) {
        bitCount = 1;
        format = TPixelFormat::pf1bit;
    } else if (bpp >= 2 && bpp <= 4) {
        bitCount = 4;
        format = TPixelFormat::pf4bit;
    } else if (bpp >= 5 && bpp <= 8) {
        bitCount = 8;
        format = TPixelFormat::pf8bit;
    } else {
        throw EInvalidGraphicOperation("Wrong number of colors; must be a power of 2");
    }
    if (!item.Data || item.Data->empty() || item.Width <= 0 || item.Height <= 0) {
        if (!frame.bitmap_) frame.bitmap_ = std::make_unique<TBitmap>();
        return *frame.bitmap_;
    }

    CheckPictureSize(item.Width, item.Height, bitCount, 4);
    // A frame whose LZW data could not fill it at any ratio is a bomb, not a damaged frame.
    CheckCompressedSize(uint64_t(item.Width) * uint64_t(item.Height), item.Data->size(), kGifLzwMaxRatio);
    auto bitmap = std::make_unique<TBitmap>(0, 0, format);
    std::vector<TRGBQuad> palette(size_t(1) << bitCount, TRGBQuad{128, 128, 128, 0});
    for (int i = 0; i < item.ColorTable.Count && i < int(palette.size()); ++i)
        palette[size_t(i)] = ColorToQuad(item.ColorTable.Color(i));
    bitmap->SetPalette(std::move(palette));
    bitmap->SetSize(item.Width, item.Height);
    std::memset(bitmap->Bits(), 0, bitmap->RowStride() * size_t(bitmap->Height()));

    LzwDecodeTarget target;
    target.Pixels = std::span<uint8_t>(bitmap->Bits(), bitmap->RowStride() * size_t(bitmap->Height()));
    target.Stride = bitmap->RowStride();
    target.Width = item.Width;
    target.Height = item.Height;
    target.BitCount = bitCount;
    target.Interlaced = frame.Interlaced;
    target.PixelMask = (1u << bpp) - 1;
    ByteReader data(*item.Data);
    if (LzwDecode(data, target)) {
        frame.Corrupted = true;
        corrupted_ = true;
    }
    frame.bitmap_ = std::move(bitmap);
    return *frame.bitmap_;
}

// ---------------------------------------------------------------------------------------------
// Drawing

void TGIFImage::Draw(TBitmap& target, const TRect& rect) {
    if (current_ < 0 || current_ >= FrameCount()) return;
    TGIFFrame& frame = *frames_[size_t(current_)];
    TBitmap& bitmap = DecodeFrameBitmap(frame);
    if (bitmap.Empty()) return;
    const bool keyed = Transparent && frame.TransparentColor != NoColor;
    // The frame's bitmap carries the key only while it is drawn.
    bitmap.Transparent = keyed;
    bitmap.SetTransparentColor(keyed ? frame.TransparentColor : NoColor);
    try {
        bitmap.Draw(target, rect);
    } catch (...) {
        bitmap.Transparent = false;
        throw;
    }
    bitmap.Transparent = false;
}

// ---------------------------------------------------------------------------------------------
// Writing

void TGIFImage::AssignBitmap(TBitmap& source) {
    Reset();
    AppendFrame(source);
}

int TGIFImage::AppendFrame(TGraphic& picture) {
    frames_.push_back(std::make_unique<TGIFFrame>(this));
    current_ = FrameCount() - 1;
    frames_.back()->AssignPicture(picture);
    if (version_ == 0) version_ = 1;
    if (frames_.size() > 1) version_ = 2;
    return current_;
}

void TGIFImage::EncodeFrame(TGIFFrame& frame) {
    if (!frame.bitmap_ || frame.bitmap_->Empty()) throw EInvalidGraphicOperation(kNoDataToWrite);
    CheckGifDimensions(frame.bitmap_->Width(), frame.bitmap_->Height());

    TPaletteImage reduced;
    if (frame.bitmap_->PixelFormat() == TPixelFormat::pf24bit) {
        reduced = ReduceToPalette(*frame.bitmap_);
    } else {
        TBitmap copy(*frame.bitmap_);
        copy.SetPixelFormat(TPixelFormat::pf24bit);
        reduced = ReduceToPalette(copy);
    }

    TGIFItem& item = frame.MutableItem();
    frame.Interlaced = false;
    item.ColorTable.Count = 256;
    for (int i = 0; i < 256; ++i) item.ColorTable.SetColor(i, QuadToColor(reduced.Palette[size_t(i)]));
    ByteWriter compressed;
    LzwEncode(compressed, reduced.Indices, reduced.Width, reduced.Height);
    item.Data = compressed.take();
    item.BitsPerPixel = Log2Ceil(item.ColorTable.Count);

    if (data_->ColorTable.Count > 0) {
        frame.LocalColorTable = true;
    } else {
        TGIFData& data = MutableData();
        data.ColorTable = item.ColorTable;
        data.BitsPerPixel = item.BitsPerPixel;
        frame.LocalColorTable = false;
    }
    item.Width = reduced.Width;
    item.Height = reduced.Height;
    RecomputeScreenSize();
}

void TGIFImage::WriteGifStream(TStream& stream) {
    if (frames_.empty()) throw EInvalidGraphicOperation(kNoDataToWrite);
    for (auto& f : frames_) {
        if (f->HasData()) continue;
        // Refuse an oversized picture before spending time reducing it.
        if (f->bitmap_) CheckGifDimensions(f->bitmap_->Width(), f->bitmap_->Height());
        EncodeFrame(*f);
    }
    RecomputeScreenSize();
    CheckGifDimensions(screenWidth_, screenHeight_);

    ByteWriter out;
    out.text("GIF");
    out.text(version_ == 2 ? "89a" : "87a");

    const GifColorTable& global = data_->ColorTable;
    out.u16le(static_cast<uint16_t>(screenWidth_));
    out.u16le(static_cast<uint16_t>(screenHeight_));
    int globalBits = 0;
    if (global.Count > 0) {
        globalBits = Log2Ceil(global.Count);
        out.u8(static_cast<uint8_t>(0x80 + 16 * (globalBits - 1) + (globalBits - 1)));
    } else {
        out.u8(0);
    }
    uint8_t backgroundIndex = 0;
    if (backgroundColor_ != NoColor)
        for (int i = 0; i < global.Count; ++i)
            if (global.Color(i) == backgroundColor_) {
                backgroundIndex = static_cast<uint8_t>(i);
                break;
            }
    out.u8(backgroundIndex);
    out.u8(data_->AspectRatio);
    // The size field can only say 2^bits entries; entries past Count are zero.
    if (global.Count > 0) out.bytes(global.Colors.data(), size_t(3) << globalBits);

    for (const auto& f : frames_) {
        const TGIFItem& item = f->Item();
        out.u8(kGifImageIntroducer);
        out.u16le(static_cast<uint16_t>(f->Left));
        out.u16le(static_cast<uint16_t>(f->Top));
        out.u16le(static_cast<uint16_t>(item.Width));
        out.u16le(static_cast<uint16_t>(item.Height));
        uint8_t packed = 0;
        int localBits = 0;
        if (f->LocalColorTable) {
            localBits = Log2Ceil(item.ColorTable.Count);
            packed = static_cast<uint8_t>(0x80 + (localBits - 1));
        }
        if (f->Interlaced) packed |= 0x40;
        out.u8(packed);
        if (f->LocalColorTable) out.bytes(item.ColorTable.Colors.data(), size_t(3) << localBits);
        AppendTerminatedData(out, *item.Data);
    }
    out.u8(kGifTrailer);
    stream.WriteBytes(out.buffer());
}
