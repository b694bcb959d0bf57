#include "graphics/graphic.h"

#include <cstdio>

#include "graphics/bitmap.h"
#include "graphics/errors.h"
#include "graphics/stream.h"

const GraphicClassInfo TGraphic::ClassInfo = {"TGraphic", nullptr, nullptr};

void TGraphic::ReadPictureFile(const std::string& path) {
    TFileStream stream(path, TFileStream::Mode::OpenRead);
    ReadPicture(stream);
}

void TGraphic::WritePicture(TStream&) {
    throw EInvalidGraphicOperation(std::string("Cannot write pictures of class ") + ClassType()->name);
}

namespace {
void WriteToNewFile(TGraphic& graphic, const std::string& path, TFileStream::Mode mode) {
    TFileStream stream(path, mode);
    try {
        graphic.WritePicture(stream);
    } catch (...) {
        // Never leave a half-written result behind.
        std::remove(path.c_str());
        throw;
    }
}
}  // namespace

void TGraphic::WritePictureFile(const std::string& path) {
    WriteToNewFile(*this, path, TFileStream::Mode::CreateOrTruncate);
}

void TGraphic::WritePictureFileExclusive(const std::string& path) {
    WriteToNewFile(*this, path, TFileStream::Mode::CreateExclusive);
}

void TGraphic::AssignBitmap(TBitmap&) {
    throw EConvertError(std::string("Cannot assign a TBitmap to a ") + ClassType()->name);
}

std::unique_ptr<TBitmap> TGraphic::TakePlainBitmap() { return nullptr; }

void TGraphic::Progress(TProgressStage stage, uint8_t percentDone, const TRect& rect, const std::string& message) {
    if (OnProgress) OnProgress(*this, stage, percentDone, rect, message);
}
