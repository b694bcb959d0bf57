#pragma once
// The picture object interface every picture class offers, and the class references the
// picture format table stores.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TStream;
class TBitmap;
class TGraphic;

struct TRect {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    bool operator==(const TRect&) const = default;
};
inline TRect Rect(int left, int top, int right, int bottom) { return TRect{left, top, right, bottom}; }

// Colour value: red in bits 0-7, green 8-15, blue 16-23.
using TColor = uint32_t;
inline constexpr TColor NoColor = 0x1FFFFFFF;
inline constexpr TColor clWhite = 0x00FFFFFF;
inline constexpr TColor clBlack = 0x00000000;
constexpr TColor RGBColor(uint8_t r, uint8_t g, uint8_t b) { return TColor(r) | (TColor(g) << 8) | (TColor(b) << 16); }
constexpr uint8_t GetRValue(TColor c) { return uint8_t(c); }
constexpr uint8_t GetGValue(TColor c) { return uint8_t(c >> 8); }
constexpr uint8_t GetBValue(TColor c) { return uint8_t(c >> 16); }

// A class reference: can create an empty picture and answer class derivation.
struct GraphicClassInfo {
    const char* name;
    const GraphicClassInfo* parent;
    std::unique_ptr<TGraphic> (*create)();  // null for abstract classes
    bool InheritsFrom(const GraphicClassInfo* other) const {
        for (const GraphicClassInfo* c = this; c; c = c->parent)
            if (c == other) return true;
        return false;
    }
};
using TGraphicClass = const GraphicClassInfo*;

// In a class body: its class reference and ClassType().
#define IMBRIX_GRAPHIC_CLASS()                     \
public:                                            \
    static const GraphicClassInfo ClassInfo;       \
    TGraphicClass ClassType() const override { return &ClassInfo; }

// In a .cpp: defines Class::ClassInfo with Base as its parent.
#define IMBRIX_DEFINE_GRAPHIC_CLASS(Class, Base)                                          \
    const GraphicClassInfo Class::ClassInfo = {#Class, &Base::ClassInfo,                  \
                                               []() -> std::unique_ptr<TGraphic> {        \
                                                   return std::make_unique<Class>();      \
                                               }}

enum class TProgressStage { psStarting, psRunning, psEnding };
using TProgressEvent = std::function<void(TGraphic& sender, TProgressStage stage, uint8_t percentDone,
                                          const TRect& rect, const std::string& message)>;

using TRowsFinalEvent = std::function<void(const TBitmap& pixels, int rows)>;

class TGraphic {
public:
    static const GraphicClassInfo ClassInfo;
    virtual ~TGraphic() = default;
    virtual TGraphicClass ClassType() const { return &ClassInfo; }

    // Replaces the picture with the one starting at the stream's position.
    virtual void ReadPicture(TStream& stream) = 0;
    // Opens the file for reading, ReadPicture, closes it in every case.
    void ReadPictureFile(const std::string& path);

    virtual int Width() const = 0;
    virtual int Height() const = 0;
    virtual bool Empty() const { return Width() == 0 || Height() == 0; }

    // Draws the picture into rect of the target's surface, stretched (nearest pixel) to fit.
    // Not const: lazily decoded pictures decode on first draw.
    virtual void Draw(TBitmap& target, const TRect& rect) = 0;

    virtual bool CanWrite() const { return false; }
    virtual void WritePicture(TStream& stream);
    // Creates or truncates the file, writes, closes; a failed write removes the partial file.
    void WritePictureFile(const std::string& path);
    // Writes to a file that must not exist yet (O_EXCL); a failed write removes it.
    void WritePictureFileExclusive(const std::string& path);
    // Assignment from a Bitmap, for the writable classes.
    virtual void AssignBitmap(TBitmap& source);
    // Hands over the picture's pixels when they already are a plain 24-bit bitmap of the
    // picture's size (no transparency), leaving the graphic empty; nullptr otherwise, and the
    // graphic untouched. Lets the working bitmap be taken instead of copied.
    virtual std::unique_ptr<TBitmap> TakePlainBitmap();
    // A picture that only recognised its file and had another class read it hands that
    // picture over, so its container keeps the class the file's type would have chosen.
    virtual std::unique_ptr<TGraphic> TakeRecognisedPicture() { return nullptr; }

    bool Transparent = false;
    TProgressEvent OnProgress;
    // For a consumer on another thread that follows a load (the resampler): told, on the
    // loading thread, while ReadPicture runs, that rows 0..rows-1 of pixels are final. Only
    // readers whose rows come top to bottom into a 24-bit bitmap that is the picture itself
    // tell it, and they promise that until ReadPicture returns, failed or not, those pixels
    // stay where they are, unchanged, and that the bitmap keeps its size, format, alpha,
    // transparency, orientation and profile as they were at the first call.
    TRowsFinalEvent OnRowsFinal;

    // How the file asks for its picture to be shown, kept by the readers that know it and
    // applied to the working bitmap by app/core/working_bitmap.h (graphics/ only carries it).
    // Orientation: the EXIF value, 1 (as stored) to 8; the pixels Draw gives are as stored.
    int Orientation = 1;
    // The embedded ICC profile the pixels Draw gives are in; empty when there is none (or the
    // reader has already converted them itself).
    std::vector<uint8_t> IccProfile;
    // Why a profile the file carries could not be taken (chunks missing, say): the load
    // succeeds and the user is warned. Empty when there was no problem.
    std::string IccProfileProblem;

protected:
    void Progress(TProgressStage stage, uint8_t percentDone, const TRect& rect, const std::string& message = {});
    void RowsFinal(const TBitmap& pixels, int rows) {
        if (OnRowsFinal) OnRowsFinal(pixels, rows);
    }
};
