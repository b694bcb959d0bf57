#include "app/core/mime_types.h"

#include <algorithm>
#include <set>
#include <string_view>
#include <utility>

#include "graphics/picture.h"

namespace {

// Extension, canonical type. Extensions not yet in the picture format table may have a row
// already; only the table's own extensions reach the desktop entry.
constexpr std::pair<std::string_view, std::string_view> kMimeRows[] = {
    {"bmp", "image/bmp"},
    {"dib", "image/bmp"},
    {"rle", "image/rle"},
    {"ico", "image/vnd.microsoft.icon"},
    {"wmf", "image/wmf"},
    {"emf", "image/emf"},
    {"jpg", "image/jpeg"},
    {"jpeg", "image/jpeg"},
    {"jpe", "image/jpeg"},
    {"jfif", "image/jpeg"},  // the database types it by content
    {"gif", "image/gif"},
    {"tif", "image/tiff"},
    {"tiff", "image/tiff"},
    {"fax", "image/tiff"},  // a TIFF file by content
    {"eps", "image/x-eps"},
    {"png", "image/png"},
    {"psd", "image/vnd.adobe.photoshop"},
    {"pdd", "image/vnd.adobe.photoshop"},  // by content
    {"tga", "image/x-tga"},
    {"icb", "image/x-tga"},
    {"vda", "image/x-tga"},
    {"vst", "image/x-tga"},
    {"win", ""},
    {"pcx", "image/vnd.zbrush.pcx"},
    {"pcc", ""},
    {"scr", ""},
    {"sgi", "image/x-sgi"},
    {"rgb", "image/x-rgb"},
    {"rgba", ""},
    {"bw", ""},
    {"psp", ""},
    {"cut", ""},
    {"rla", ""},
    {"rpf", ""},
    {"ppm", "image/x-portable-pixmap"},
    {"pgm", "image/x-portable-graymap"},
    {"pbm", "image/x-portable-bitmap"},
    {"cel", ""},
    {"pic", ""},
    {"pcd", "image/x-photo-cd"},
    {"heic", "image/heif"},
    {"heif", "image/heif"},
    {"avif", "image/avif"},
    {"webp", "image/webp"},
};

// The table's extensions, without the generic loader's empty one.
std::vector<std::string> TableExtensions() {
    std::vector<std::string> extensions;
    for (const PictureFormatEntry& e : PictureFormatTable().Entries())
        if (!e.extension.empty()) extensions.push_back(e.extension);
    return extensions;
}

}  // namespace

std::optional<std::string> MimeTypeOfExtension(const std::string& extension) {
    for (const auto& [ext, type] : kMimeRows)
        if (ext == extension) return std::string(type);
    return std::nullopt;
}

std::vector<std::string> ExtensionsWithoutMimeRow() {
    std::vector<std::string> missing;
    for (const std::string& ext : TableExtensions())
        if (!MimeTypeOfExtension(ext) && std::find(missing.begin(), missing.end(), ext) == missing.end())
            missing.push_back(ext);
    return missing;
}

std::vector<std::string> ReadableMimeTypes() {
    std::set<std::string> types;
    for (const std::string& ext : TableExtensions())
        if (const std::optional<std::string> type = MimeTypeOfExtension(ext); type && !type->empty()) types.insert(*type);
    return {types.begin(), types.end()};
}

std::string DesktopMimeTypeLine() {
    std::string line = "MimeType=";
    for (const std::string& type : ReadableMimeTypes()) line += type + ";";
    return line;
}
