// The desktop entry's MimeType list against the picture format table and the shared MIME
// database, so that "Open With Imbrix" is offered for exactly what Imbrix reads.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "app/core/mime_types.h"
#include "app/core/picture_formats.h"
#include "graphics/picture.h"

namespace {

std::string SourceFile(const std::string& relative) {
    const char* root = std::getenv("IMBRIX_SOURCE");
    return std::string(root ? root : IMBRIX_TEST_SOURCE_DIR) + "/" + relative;
}

std::vector<std::string> TableExtensions() {
    std::vector<std::string> extensions;
    for (const PictureFormatEntry& e : PictureFormatTable().Entries())
        if (!e.extension.empty()) extensions.push_back(e.extension);
    return extensions;
}

}  // namespace

TEST(DesktopEntry, ListsTheTypeOfEveryReadableExtensionAndTakesFiles) {
    RegisterPictureFormats();
    EXPECT_EQ(ExtensionsWithoutMimeRow(), std::vector<std::string>{})
        << "a reader was added: give its extensions a row in app/core/mime_types.cpp";

    std::ifstream desktop(SourceFile("app/imbrix.desktop"));
    ASSERT_TRUE(desktop) << SourceFile("app/imbrix.desktop");
    std::string line, mimeLine, execLine;
    while (std::getline(desktop, line)) {
        if (line.rfind("MimeType=", 0) == 0) mimeLine = line;
        if (line.rfind("Exec=", 0) == 0) execLine = line;
    }
    EXPECT_EQ(execLine, "Exec=imbrix %F");
    EXPECT_EQ(mimeLine, DesktopMimeTypeLine()) << "app/imbrix.desktop needs the line\n" << DesktopMimeTypeLine();
    for (const char* type : {"image/jpeg", "image/png", "image/gif", "image/tiff", "image/bmp"})
        EXPECT_NE(mimeLine.find(std::string(type) + ";"), std::string::npos) << type;
}

TEST(DesktopEntry, TypeNamesAreTheOnesTheMimeDatabaseGivesTheExtensions) {
    const std::string globsFile = "/usr/share/mime/globs2";
    if (!std::filesystem::exists(globsFile)) GTEST_SKIP() << "no shared MIME database";
    RegisterPictureFormats();
    // "weight:type:glob" lines; only "*.ext" globs matter here.
    std::map<std::string, std::set<std::string>> typesOfExtension;
    std::set<std::string> knownTypes;
    std::ifstream globs(globsFile);
    std::string line;
    while (std::getline(globs, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::stringstream fields(line);
        std::string weight, type, glob;
        std::getline(fields, weight, ':');
        std::getline(fields, type, ':');
        std::getline(fields, glob, ':');
        knownTypes.insert(type);
        if (glob.rfind("*.", 0) == 0) typesOfExtension[glob.substr(2)].insert(type);
    }
    for (const std::string& ext : TableExtensions()) {
        const std::string ours = MimeTypeOfExtension(ext).value_or("?");
        const auto found = typesOfExtension.find(ext);
        if (ours.empty()) {
            // No type of ours: the database must not know one either.
            if (found != typesOfExtension.end()) {
                for (const std::string& type : found->second) {
                    EXPECT_NE(type.rfind("image/", 0), 0u) << "." << ext << " is " << type << " in the database";
                }
            }
        } else if (found != typesOfExtension.end()) {
            EXPECT_TRUE(found->second.count(ours)) << "." << ext << ": have " << ours << ", the database says "
                                                   << *found->second.begin();
        } else {
            EXPECT_TRUE(knownTypes.count(ours)) << "." << ext << ": " << ours << " is not a type the database knows";
        }
    }
}
