#include "graphics/picture.h"

#include <algorithm>

#include "graphics/bitmap.h"
#include "graphics/errors.h"
#include "graphics/platform_graphics.h"

namespace {
std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}
}  // namespace

TFileFormatsList::TFileFormatsList() {
    AddPictureFormat("wmf", "Metafiles", &TMetafile::ClassInfo);
    AddPictureFormat("emf", "Enhanced Metafiles", &TMetafile::ClassInfo);
    AddPictureFormat("ico", "Icons", &TIcon::ClassInfo);
    AddPictureFormat("bmp", "Bitmaps", &TBitmap::ClassInfo);
}

void TFileFormatsList::AddPictureFormat(const std::string& extension, const std::string& description,
                                        TGraphicClass graphicClass) {
    entries_.push_back(PictureFormatEntry{graphicClass, Lower(extension), description, 0});
}

TGraphicClass TFileFormatsList::FindPictureClass(const std::string& extension) const {
    const std::string wanted = Lower(extension);
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it)
        if (it->extension == wanted) return it->graphicClass;
    return nullptr;
}

void TFileFormatsList::RemovePictureClass(TGraphicClass graphicClass) {
    std::erase_if(entries_, [&](const PictureFormatEntry& e) { return e.graphicClass->InheritsFrom(graphicClass); });
}

TFileFormatsList& PictureFormatTable() {
    static TFileFormatsList table;
    return table;
}

std::string ExtractExtension(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

void TPicture::LoadPictureFile(const std::string& path) {
    std::unique_ptr<TGraphic> graphic = NewGraphicFor(path);
    if (OnProgress) graphic->OnProgress = OnProgress;
    graphic->ReadPictureFile(path);
    SetLoadedGraphic(std::move(graphic));
}

std::unique_ptr<TGraphic> TPicture::NewGraphicFor(const std::string& path) {
    const std::string extension = ExtractExtension(path);
    TGraphicClass graphicClass = PictureFormatTable().FindPictureClass(extension);
    if (!graphicClass || !graphicClass->create)
        throw EInvalidGraphic(FormatMessage("Unknown picture file extension (.%s)", extension.c_str()));
    return graphicClass->create();
}

void TPicture::SetLoadedGraphic(std::unique_ptr<TGraphic> graphic) {
    if (std::unique_ptr<TGraphic> recognised = graphic->TakeRecognisedPicture()) graphic = std::move(recognised);
    graphic_ = std::move(graphic);
}
