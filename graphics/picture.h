#pragma once
// TPicture, the picture container, and the picture format table that maps a file extension
// to a picture class.
#include <memory>
#include <string>
#include <vector>

#include "graphics/graphic.h"

struct PictureFormatEntry {
    TGraphicClass graphicClass;
    std::string extension;  // lower case, no dot
    std::string description;
    int descriptionResourceId = 0;
};

// The toolkit's format table. Lookup runs newest first, so the last registration wins.
class TFileFormatsList {
public:
    // Starts with the toolkit's four rows: wmf, emf, ico, bmp.
    TFileFormatsList();
    void AddPictureFormat(const std::string& extension, const std::string& description, TGraphicClass graphicClass);
    // nullptr when no row has the extension (compared lower-cased).
    TGraphicClass FindPictureClass(const std::string& extension) const;
    // Removes every row whose class is graphicClass or derives from it.
    void RemovePictureClass(TGraphicClass graphicClass);
    const std::vector<PictureFormatEntry>& Entries() const { return entries_; }

private:
    std::vector<PictureFormatEntry> entries_;
};

// The process-wide table, created on first use.
TFileFormatsList& PictureFormatTable();

// The extension of a path: the text after the last dot of the file name, without the dot.
std::string ExtractExtension(const std::string& path);

class TPicture {
public:
    TPicture() = default;
    // Picks the class by extension and loads the file; on failure the previous picture stays.
    void LoadPictureFile(const std::string& path);
    // The two halves of LoadPictureFile, for a caller that keeps the graphic while it loads:
    // the empty graphic of the class the path's extension names, and the graphic after
    // ReadPictureFile made the picture (or the picture it recognised).
    static std::unique_ptr<TGraphic> NewGraphicFor(const std::string& path);
    void SetLoadedGraphic(std::unique_ptr<TGraphic> graphic);
    TGraphic* Graphic() const { return graphic_.get(); }
    void SetGraphic(std::unique_ptr<TGraphic> graphic) { graphic_ = std::move(graphic); }
    std::unique_ptr<TGraphic> TakeGraphic() { return std::move(graphic_); }
    int Width() const { return graphic_ ? graphic_->Width() : 0; }
    int Height() const { return graphic_ ? graphic_->Height() : 0; }
    TProgressEvent OnProgress;

private:
    std::unique_ptr<TGraphic> graphic_;
};
