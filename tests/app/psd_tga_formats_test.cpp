// The Photoshop and Targa rows of the start-up registration: each extension reaches its reader
// with their registered kinds and descriptions, and a file opened by name loads through it.
#include <gtest/gtest.h>

#include "app/core/picture_formats.h"
#include "graphics/file_format_list.h"
#include "graphics/picture.h"
#include "readers/psd_reader.h"
#include "readers/targa_reader.h"
#include "tests/readers/psd_tga_writers.h"
#include "tests/support/test_support.h"

TEST(PsdTgaFormats, ExtensionsReachTheirReaders) {
    RegisterPictureFormats();
    struct Row {
        const char* extension;
        TGraphicClass graphicClass;
        const char* description;
        FormatKinds kinds;
    };
    const Row rows[] = {
        {"win", &TTargaGraphic::ClassInfo, "Truevision images", fkRaster},
        {"vst", &TTargaGraphic::ClassInfo, "Truevision images", fkRaster},
        {"vda", &TTargaGraphic::ClassInfo, "Truevision images", fkRaster},
        {"tga", &TTargaGraphic::ClassInfo, "Truevision images", fkRaster},
        {"ICB", &TTargaGraphic::ClassInfo, "Truevision images", fkRaster},
        {"psd", &TPSDGraphic::ClassInfo, "Photoshop images", fkRaster | fkLayered},
        {"pdd", &TPSDGraphic::ClassInfo, "Photoshop images", fkRaster | fkLayered},
    };
    TFileFormatList& list = FileFormatList();
    for (const Row& r : rows) {
        SCOPED_TRACE(r.extension);
        EXPECT_EQ(PictureFormatTable().FindPictureClass(r.extension), r.graphicClass);
        const int e = list.IndexOfExtension(r.extension);
        ASSERT_GE(e, 0);
        const auto& entry = *list.Extensions()[size_t(e)];
        EXPECT_EQ(entry.kinds, r.kinds);
        EXPECT_EQ(entry.classEntry->description, r.description);
    }
    EXPECT_EQ(list.Classes()[size_t(list.IndexOfClass(&TTargaGraphic::ClassInfo))]->count, 5u);
    EXPECT_EQ(list.Classes()[size_t(list.IndexOfClass(&TPSDGraphic::ClassInfo))]->count, 2u);

    // Opened by name, the way the pipeline opens files.
    testsupport::TempDir dir;
    testwriters::TgaPicture tga;
    tga.width = 2;
    tga.height = 1;
    tga.pixels = {10, 20, 30, 40, 50, 60};
    testsupport::WriteFile(dir.file("a.Tga"), testwriters::TgaFile(tga));
    TPicture picture;
    picture.LoadPictureFile(dir.file("a.Tga"));
    ASSERT_NE(dynamic_cast<TTargaGraphic*>(picture.Graphic()), nullptr);
    EXPECT_EQ(picture.Graphic()->Width(), 2);
}
