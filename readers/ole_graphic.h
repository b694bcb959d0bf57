#pragma once
// TOleGraphic, the generic loader that the picture format table picks for file names without
// an extension (or ending in a dot). It recognises the picture by its first bytes and loads
// it with the class the table holds for that type's extension, so a file that lost its
// extension loads exactly as it would with it.
#include <memory>
#include <string>

#include "graphics/graphic.h"

class TOleGraphic : public TGraphic {
    IMBRIX_GRAPHIC_CLASS()
public:
    // Fails with kUnrecognisedPictureMessage when no known signature starts the stream; the
    // class found for the type then reads it and its errors pass on unchanged.
    void ReadPicture(TStream& stream) override;
    int Width() const override { return loaded_ ? loaded_->Width() : 0; }
    int Height() const override { return loaded_ ? loaded_->Height() : 0; }
    bool Empty() const override { return !loaded_ || loaded_->Empty(); }
    void Draw(TBitmap& target, const TRect& rect) override;
    std::unique_ptr<TGraphic> TakeRecognisedPicture() override { return std::move(loaded_); }

    // The type's extension ("jpg", "png", ...) of the last load, "" before one.
    const std::string& DetectedExtension() const { return extension_; }
    TGraphic* Loaded() const { return loaded_.get(); }

private:
    std::unique_ptr<TGraphic> loaded_;
    std::string extension_;
};

// The extension (lower case, no dot) of the picture type whose signature starts the stream
// at its position, or "" when none does. The position is restored. Only types with a
// reliable signature are recognised: Targa and Dr. Halo files have none.
std::string RecognisePictureType(TStream& stream);
// The same for a file; "" also when it cannot be opened or read.
std::string RecognisePictureFile(const std::string& path);

// The message for a stream that starts with no known signature; names the types expected.
std::string UnrecognisedPictureMessage();
