// The HEIC/HEIF/AVIF and WebP rows added after the described registrations: each extension
// reaches its reader with its description, and the described rows keep their places.
#include <gtest/gtest.h>

#include "app/core/picture_formats.h"
#include "graphics/file_format_list.h"
#include "graphics/picture.h"
#include "readers/heif_reader.h"
#include "readers/png_reader.h"
#include "readers/webp_reader.h"

TEST(PhoneFormats, ExtensionsReachTheirReaders) {
    RegisterPictureFormats();
    struct Row {
        const char* extension;
        TGraphicClass graphicClass;
        const char* description;  // what reaches the picture table
    };
    const Row rows[] = {
        {"heic", &THEIFGraphic::ClassInfo, "HEIC images"},
        {"HEIF", &THEIFGraphic::ClassInfo, "HEIF images"},
        {"avif", &THEIFGraphic::ClassInfo, "AVIF images"},
        {"webp", &TWebPGraphic::ClassInfo, "WebP images"},
    };
    TFileFormatList& list = FileFormatList();
    for (const Row& r : rows) {
        EXPECT_EQ(PictureFormatTable().FindPictureClass(r.extension), r.graphicClass) << r.extension;
        const int e = list.IndexOfExtension(r.extension);
        ASSERT_GE(e, 0) << r.extension;
        const auto& entry = *list.Extensions()[size_t(e)];
        EXPECT_EQ(entry.kinds, fkRaster) << r.extension;
        const std::string description =
            entry.description.empty() ? entry.classEntry->description : entry.description;
        EXPECT_EQ(description, r.description) << r.extension;
    }
    // The described rows stay as they were: GIF is still the newest row, PNG its reader's.
    EXPECT_EQ(PictureFormatTable().Entries().back().extension, "gif");
    EXPECT_EQ(PictureFormatTable().FindPictureClass("png"), &TPNGGraphic::ClassInfo);
}
