#pragma once
// The MIME types of the pictures Imbrix reads, for the desktop entry's MimeType list (what
// file managers offer "Open With Imbrix" for). A test keeps app/imbrix.desktop equal to
// DesktopMimeTypeLine(), so a reader added to the picture format table needs a row here.
#include <optional>
#include <string>
#include <vector>

// The type the shared MIME database (freedesktop.org) gives files of this extension
// (lower case, no dot), "" for an extension it knows no type for (file managers then find
// such files by their content, if at all); nullopt for an extension without a row.
std::optional<std::string> MimeTypeOfExtension(const std::string& extension);

// The extensions of the picture format table that have no row here (should be none).
std::vector<std::string> ExtensionsWithoutMimeRow();

// The types of every extension the picture format table reads, sorted, each once.
std::vector<std::string> ReadableMimeTypes();
// "MimeType=image/bmp;image/gif;...;" from ReadableMimeTypes().
std::string DesktopMimeTypeLine();
