#pragma once
// TGraphicReader: the base of every file reader in readers/. A loaded reader is a TBitmap, so
// the rest of the program draws, scans and assigns it like any bitmap.
//
// How a reader's ReadPicture goes (the base supplies the pieces):
//   TLoadScope scope(*this, stream);                  // releases the old picture, sets
//                                                     // BasePosition and SourceStream
//   ReadPropertiesOrFail(stream, gesPNGLabel);        // or test ReadProperties itself
//   ByteReader data = LoadSourceData();               // the file from BasePosition on
//   SetBitmapFormatAndSize(ColorManager.BitmapFormatFor(TConversionSide::Target), w, h, label);
//   ProgressRect = Rect(0, 0, Width(), 1); StartProgress(gesTransfering);
//   for each row: decode, ColorManager.ConvertScanline(...), RowProgress(RowPercent(y, h));
//                 TellRowsFinal(y + 1) where rows come top to bottom, final once converted
//   EndProgress();
// File data is only ever read through ByteReader, and sizes go through CheckPictureSize
// (SetBitmapFormatAndSize does) before anything picture-sized is allocated.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "graphics/bitmap.h"
#include "graphics/byte_reader.h"
#include "graphics/stream.h"
#include "readers/color_manager.h"
#include "readers/graphic_strings.h"

class TStream;

using TCardinalArray = std::vector<uint32_t>;
using TByteArray = std::vector<uint8_t>;
using TFloatArray = std::vector<float>;

// Compression schemes; the TIFF codes the TIFF reader maps are in brackets.
enum class Compression : uint8_t {
    Unknown = 0,      // any other code
    None = 1,         // [1]
    RLE = 2,          // run-length schemes of Targa, PCX, SGI, CUT and the like
    PackBits = 3,     // [32773]
    LZW = 4,          // [5]
    Fax3 = 5,         // [3]
    FaxRLE = 6,       // [2]
    Fax4 = 7,         // [4]
    FaxRLEW = 8,      // [32771]
    LZ77 = 9,         // [8, 32946; PNG]
    JPEG = 10,        // [7]
    OldJPEG = 11,     // [6]
    ThunderScan = 12, // [32809]
    NeXT = 13,        // [32766]
    IT8CTPad = 14,    // [32895]
    IT8LW = 15,       // [32896]
    IT8MP = 16,       // [32897]
    IT8BL = 17,       // [32898]
    PixarFilm = 18,   // [32908]
    PixarLog = 19,    // [32909]
    DCS = 20,         // [32947]
    JBIG = 21,        // [34661]
    PhotoCDHuffman = 22,
};

// Bits of TImageProperties::Options.
using TImageOptions = uint8_t;
namespace ImageOption {
inline constexpr TImageOptions Tiled = 1 << 0;
inline constexpr TImageOptions BigEndian = 1 << 1;         // the file's multi-byte values are big-endian
inline constexpr TImageOptions MinIsWhite = 1 << 2;        // gray 0 is white
inline constexpr TImageOptions ReversedBitOrder = 1 << 3;  // bits of a byte run lowest first
inline constexpr TImageOptions GammaApplied = 1 << 4;      // a file gamma was applied
}  // namespace ImageOption

// What a reader learns about a picture file before decoding pixels.
struct TImageProperties {
    uint32_t Version = 0;  // format version; TIFF: 42
    TImageOptions Options = 0;
    uint32_t Width = 0;
    uint32_t Height = 0;
    ::ColorScheme ColorScheme = ::ColorScheme::Unknown;
    uint8_t BitsPerSample = 0;
    uint8_t SamplesPerPixel = 0;
    uint8_t BitsPerPixel = 0;
    ::Compression Compression = ::Compression::Unknown;
    float Gamma = 1.0f;
    float XResolution = 0;  // dots per inch, 0 when unknown
    float YResolution = 0;
    bool Interlaced = false;
    bool HasAlpha = false;
    uint32_t FirstIFDOffset = 0;
    uint32_t PlanarConfiguration = 0;
    uint32_t CurrentRow = 0;
    uint32_t TileWidth = 0;
    uint32_t TileLength = 0;
    uint32_t BytesPerLine = 0;
    TCardinalArray RowsPerStrip;
    TByteArray YCbCrSubsampling;
    TByteArray JPEGTables;
    uint32_t JPEGColorMode = 0;
    uint32_t JPEGTablesMode = 0;
    int32_t CurrentStrip = 0;
    int32_t StripCount = 0;
    int32_t Predictor = 0;
    bool IsOverview = false;
    uint8_t Rotation = 0;
    uint16_t SubImageCount = 0;
    bool OwnPalette = false;
    bool BottomUpRows = false;
    uint8_t ChannelCount = 0;
    uint8_t FilterMethod = 0;

    bool operator==(const TImageProperties&) const = default;
};

class TGraphicReader : public TBitmap {
    IMBRIX_GRAPHIC_CLASS()
public:
    TGraphicReader();
    ~TGraphicReader() override;
    TGraphicReader(const TGraphicReader&) = delete;
    TGraphicReader& operator=(const TGraphicReader&) = delete;

    TColorManager ColorManager;
    TImageProperties Properties;
    uint64_t BasePosition = 0;        // where the picture starts; file offsets are relative to it
    TStream* SourceStream = nullptr;  // the stream being decoded (borrowed, only during a load)
    TRect ProgressRect;

    // Class-level probing. Readers declare their own static ProbeStream and put
    // IMBRIX_READER_CLASS() in their class body, which gives them ProbeFile and lets the
    // registry reach the probe through an instance (ProbeStreamAs below).
    static bool ProbeStream(TStream& stream);
    static bool ProbeFile(const std::string& path);
    virtual bool ProbeStreamOfClass(TStream& stream) const { return ProbeStream(stream); }

    // Fills Properties without decoding pixels. The base empties Properties (Gamma 1.0)
    // and answers false; every override calls it first.
    virtual bool ReadProperties(TStream& stream, unsigned imageIndex);

    void ReadPicture(TStream& stream) override = 0;

    // Copies Properties when the source is a reader too, then the bitmap itself. The
    // reader keeps its own progress listener.
    void AssignBitmap(TBitmap& source) override;

    // Forwards to the progress listener, if one is set. redrawNow is kept for readers
    // that pass it; the listener has no use for it.
    void ReportProgress(TProgressStage stage, uint8_t percentDone, bool redrawNow, const TRect& rect,
                        const std::string& message);

    // Percentage of rows done, truncated (or rounded), 0..100; 100 for an empty total.
    static uint8_t RowPercent(uint64_t done, uint64_t total, bool rounded = false);

protected:
    // Opens the file for reading, runs probe on it, closes it in every case. A file too
    // short for the probe is not of the format.
    static bool ProbeFileWith(const std::string& path, bool (*probe)(TStream&));

    // Ties one ReadPicture to its stream: releases the current picture, sets BasePosition
    // and SourceStream; on leaving, forgets the stream and frees the loaded file data, and
    // with endProgressOnFailure sends the stage end a failed load still owes.
    class TLoadScope {
    public:
        TLoadScope(TGraphicReader& reader, TStream& stream, bool endProgressOnFailure = false);
        ~TLoadScope();
        TLoadScope(const TLoadScope&) = delete;
        TLoadScope& operator=(const TLoadScope&) = delete;

    private:
        TGraphicReader& reader_;
        bool endProgressOnFailure_;
        int exceptionsAtStart_;
    };

    // Empties pixels and palette.
    void ReleaseBitmap();
    // ReadProperties(stream, 0); false raises the invalid-format message with the label.
    void ReadPropertiesOrFail(TStream& stream, const char* formatLabel);
    [[noreturn]] static void RaiseUnsupportedCompression(const char* formatLabel);
    // Checks the size first, then sets format and size; a custom format (no bitmap layout
    // for the source) raises "Invalid color format in %s file.".
    void SetBitmapFormatAndSize(TPixelFormat format, uint64_t width, uint64_t height, const char* formatLabel);

    // A bitmap row as a span for ConvertScanline ("Scan line index out of range" outside).
    std::span<uint8_t> ScanLineSpan(int row) { return {ScanLine(row), RowStride()}; }

    // The stream from BasePosition to its end, read once and kept until the load ends.
    ByteReader LoadSourceData();
    void ReleaseSourceData();

    // Stage start (percent 0) with ProgressRect; running with percent, then ProgressRect moves
    // one row down; stage end.
    void StartProgress(const std::string& stageText);
    void RowProgress(uint8_t percentDone);
    void EndProgress(uint8_t percentDone = 100);
    // Rows 0..rows-1 are final, for a consumer that follows the load (TGraphic::OnRowsFinal).
    // For readers whose rows come top to bottom and are never touched once converted; only
    // a 24-bit picture is told.
    void TellRowsFinal(int rows) {
        if (PixelFormat() == TPixelFormat::pf24bit) RowsFinal(*this, rows);
    }

private:
    ByteBuffer sourceData_;
    bool progressOpen_ = false;
    uint8_t lastPercent_ = 0;
};

// Gives a reader class its ProbeFile and the instance route to its own ProbeStream.
#define IMBRIX_READER_CLASS()                                                            \
    IMBRIX_GRAPHIC_CLASS()                                                               \
    static bool ProbeFile(const std::string& path) { return ProbeFileWith(path, &ProbeStream); } \
    bool ProbeStreamOfClass(TStream& stream) const override { return ProbeStream(stream); }

// The registry's way to a class's probe: false for classes that are not readers. The
// stream position is restored.
bool ProbeStreamAs(TGraphicClass graphicClass, TStream& stream);
bool ProbeFileAs(TGraphicClass graphicClass, const std::string& path);

// ---- shared helpers of the readers ------------------------------------------------------

[[noreturn]] void RaiseReaderError(const std::string& message);
// The bytes from the stream's position to its end, leaving the position where it was: for
// readers whose library parses a whole file held in memory.
std::vector<uint8_t> PeekRest(TStream& stream);
[[noreturn]] void RaiseReaderErrorFmt(const char* format, ...) __attribute__((format(printf, 1, 2)));

uint16_t SwapWord(uint16_t value);
uint32_t SwapLong(uint32_t value);
void SwapWords(std::span<uint16_t> values);
void SwapLongs(std::span<uint32_t> values);
// Reverses each 2-byte group of a byte buffer in place (16-bit values held as bytes); a
// trailing odd byte is left alone.
void SwapWordBytes(std::span<uint8_t> bytes);

// Undo horizontal differencing of 8-bit samples in place, 1, 3 or 4 samples per pixel;
// count is the number of pixels after the first. The row must hold count + 1 pixels
// ("Range check error" otherwise).
void UndoDifferencing1(std::span<uint8_t> row, size_t count);
void UndoDifferencing3(std::span<uint8_t> row, size_t count);
void UndoDifferencing4(std::span<uint8_t> row, size_t count);

// Doubles a width x height plane of 8-bit samples held at the top-left of plane (rows
// rowStride bytes apart) in place to 2 width x 2 height, interpolating between samples.
void UpsamplePlane(size_t width, size_t height, size_t rowStride, std::span<uint8_t> plane);
