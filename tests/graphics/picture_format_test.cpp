// The picture format table, loading by file name, and the readers' format list.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "graphics/bitmap.h"
#include "graphics/errors.h"
#include "graphics/file_format_list.h"
#include "graphics/picture.h"
#include "graphics/platform_graphics.h"
#include "graphics/stream.h"
#include "tests/graphics/bmp_builder.h"
#include "tests/support/test_support.h"

using namespace testsupport;

namespace {

// Picture classes of the tests: they remember the first byte of what they read.
class TFakeBase : public TBitmap {
    IMBRIX_GRAPHIC_CLASS()
public:
    void ReadPicture(TStream& stream) override {
        uint8_t first = 0;
        stream.ReadBuffer(&first, 1);
        if (first == '!') throw EInvalidGraphic("fake reader refuses this file");
        FirstByte = first;
        SetSize(1, 1);
    }
    uint8_t FirstByte = 0;
};
class TFakePhoto : public TFakeBase {
    IMBRIX_GRAPHIC_CLASS()
};
class TFakeDerived : public TFakePhoto {
    IMBRIX_GRAPHIC_CLASS()
};
class TFakeOther : public TFakeBase {
    IMBRIX_GRAPHIC_CLASS()
};
IMBRIX_DEFINE_GRAPHIC_CLASS(TFakeBase, TBitmap);
IMBRIX_DEFINE_GRAPHIC_CLASS(TFakePhoto, TFakeBase);
IMBRIX_DEFINE_GRAPHIC_CLASS(TFakeDerived, TFakePhoto);
IMBRIX_DEFINE_GRAPHIC_CLASS(TFakeOther, TFakeBase);

// Rows of a picture table as "ext=Class:description", oldest first.
std::vector<std::string> Rows(const TFileFormatsList& table) {
    std::vector<std::string> rows;
    for (const PictureFormatEntry& e : table.Entries())
        rows.push_back(e.extension + "=" + e.graphicClass->name + ":" + e.description);
    return rows;
}

std::vector<std::string> Rows(const TFileFormatList& list) {
    std::vector<std::string> rows;
    for (const auto& e : list.Extensions())
        rows.push_back(e->extension + "=" + e->classEntry->graphicClass->name + ":" + e->description + "/" +
                       e->classEntry->description + "#" + std::to_string(e->classEntry->count));
    return rows;
}

// Registers the fake classes in the process-wide table for one test and removes them after.
class GlobalTable : public ::testing::Test {
protected:
    void SetUp() override {
        PictureFormatTable().AddPictureFormat("jpg", "fake JPEG", &TFakePhoto::ClassInfo);
        PictureFormatTable().AddPictureFormat("", "fake generic", &TFakeOther::ClassInfo);
    }
    void TearDown() override { PictureFormatTable().RemovePictureClass(&TFakeBase::ClassInfo); }

    std::string Write(const std::string& name, std::vector<uint8_t> bytes) {
        const std::string path = dir_.file(name);
        const auto slash = path.find_last_of('/');
        std::filesystem::create_directories(path.substr(0, slash));
        WriteFile(path, bytes);
        return path;
    }
    TempDir dir_;
};

}  // namespace

TEST(PictureFormats, ExtensionIsTheTextAfterTheLastDotOfTheFileName) {
    EXPECT_EQ(ExtractExtension("/home/me/Photo.JPG"), "JPG");
    EXPECT_EQ(ExtractExtension("a.b.png"), "png");
    EXPECT_EQ(ExtractExtension("/holiday.2024/picture"), "") << "a dot in a folder name does not count";
    EXPECT_EQ(ExtractExtension("/tmp/ends.with.dot."), "");
    EXPECT_EQ(ExtractExtension("noext"), "");
}

TEST_F(GlobalTable, LoadingPicksTheClassByExtension) {
    TPicture picture;
    picture.LoadPictureFile(Write("Photo.JPG", {'J'}));
    ASSERT_NE(picture.Graphic(), nullptr);
    EXPECT_EQ(picture.Graphic()->ClassType(), &TFakePhoto::ClassInfo) << "compared lower-cased";
    EXPECT_EQ(static_cast<TFakeBase*>(picture.Graphic())->FirstByte, 'J');

    // No extension, or a dot only in the folder name: the empty-extension row.
    picture.LoadPictureFile(Write("album.v2/scan", {'S'}));
    EXPECT_EQ(picture.Graphic()->ClassType(), &TFakeOther::ClassInfo);
    picture.LoadPictureFile(Write("trailing.", {'T'}));
    EXPECT_EQ(picture.Graphic()->ClassType(), &TFakeOther::ClassInfo);

    // The toolkit's own rows: bitmaps and icons.
    testbmp::DibSpec s;
    s.pixels = {1, 2, 3, 0};
    picture.LoadPictureFile(Write("real.bmp", testbmp::BuildBmp(s)));
    EXPECT_EQ(picture.Graphic()->ClassType(), &TBitmap::ClassInfo);
    EXPECT_EQ(picture.Width(), 1);
}

TEST_F(GlobalTable, FailedLoadsKeepThePreviousPicture) {
    TPicture picture;
    picture.LoadPictureFile(Write("keep.jpg", {'K'}));
    TGraphic* const previous = picture.Graphic();

    try {
        picture.LoadPictureFile(Write("picture.xyz", {'X'}));
        FAIL() << "no error for an unknown extension";
    } catch (const EInvalidGraphic& e) {
        EXPECT_STREQ(e.what(), "Unknown picture file extension (.xyz)");
    }
    EXPECT_EQ(picture.Graphic(), previous);

    // The reader's own error passes on unchanged.
    try {
        picture.LoadPictureFile(Write("bad.jpg", {'!'}));
        FAIL() << "no error from the reader";
    } catch (const EInvalidGraphic& e) {
        EXPECT_STREQ(e.what(), "fake reader refuses this file");
    }
    EXPECT_EQ(picture.Graphic(), previous);
    EXPECT_THROW(picture.LoadPictureFile(dir_.file("missing.jpg")), EFOpenError);
    EXPECT_EQ(picture.Graphic(), previous);
}

TEST(PictureFormats, TableStartsWithTheToolkitRowsAndTheNewestWins) {
    TFileFormatsList table;
    EXPECT_EQ(Rows(table), (std::vector<std::string>{"wmf=TMetafile:Metafiles", "emf=TMetafile:Enhanced Metafiles",
                                                     "ico=TIcon:Icons", "bmp=TBitmap:Bitmaps"}));
    EXPECT_EQ(table.FindPictureClass("ICO"), &TIcon::ClassInfo);
    EXPECT_EQ(table.FindPictureClass("png"), nullptr);

    table.AddPictureFormat("BMP", "Mine", &TFakePhoto::ClassInfo);
    EXPECT_EQ(table.Entries().back().extension, "bmp") << "stored lower-cased";
    EXPECT_EQ(table.FindPictureClass("bmp"), &TFakePhoto::ClassInfo);

    // Removing a class removes the classes derived from it too.
    table.AddPictureFormat("drv", "", &TFakeDerived::ClassInfo);
    table.RemovePictureClass(&TFakePhoto::ClassInfo);
    EXPECT_EQ(table.FindPictureClass("drv"), nullptr);
    EXPECT_EQ(table.FindPictureClass("bmp"), &TBitmap::ClassInfo) << "the older row shows again";
    table.RemovePictureClass(&TBitmap::ClassInfo);
    EXPECT_TRUE(table.Entries().empty()) << "icons and metafiles derive from bitmaps here";
}

TEST(FormatList, AddFormatSharesClassEntriesAndFillsThePictureTable) {
    TFileFormatsList table;
    const size_t toolkitRows = table.Entries().size();
    {
        TFileFormatList list(table);
        list.AddFormat("", "ignored", "", fkRaster, false, &TFakePhoto::ClassInfo);
        EXPECT_TRUE(list.Extensions().empty()) << "an empty extension registers nothing";

        list.AddFormat("jfif", "JPG images", "JFIF images", fkRaster, false, &TFakePhoto::ClassInfo);
        list.AddFormat("jpg", "", "JPG images", fkRaster, false, &TFakePhoto::ClassInfo);
        list.AddFormat("pcx", "ZSoft Paintbrush images", "", fkRaster, false, &TFakeOther::ClassInfo);
        list.AddFormat("pcc", "", "", fkRaster | fkLayered, false, &TFakeOther::ClassInfo);
        EXPECT_EQ(Rows(list), (std::vector<std::string>{"jfif=TFakePhoto:JFIF images/JPG images#2",
                                                        "jpg=TFakePhoto:JPG images/JPG images#2",
                                                        "pcx=TFakeOther:/ZSoft Paintbrush images#2",
                                                        "pcc=TFakeOther:/ZSoft Paintbrush images#2"}));
        EXPECT_EQ(list.Classes().size(), 2u);
        EXPECT_EQ(list.Extensions()[3]->kinds, fkRaster | fkLayered);
        const std::vector<std::string> rows = Rows(table);
        EXPECT_EQ(std::vector<std::string>(rows.begin() + toolkitRows, rows.end()),
                  (std::vector<std::string>{"jfif=TFakePhoto:JFIF images", "jpg=TFakePhoto:JPG images",
                                            "pcx=TFakeOther:ZSoft Paintbrush images",
                                            "pcc=TFakeOther:ZSoft Paintbrush images"}));

        EXPECT_EQ(list.IndexOfExtension("PCX"), 2);
        EXPECT_EQ(list.IndexOfExtension(""), -1);
        EXPECT_EQ(list.IndexOfExtension("gif"), -1);
        EXPECT_EQ(list.IndexOfClass(&TFakeOther::ClassInfo), 1);
        EXPECT_EQ(list.IndexOfClass(&TFakeDerived::ClassInfo), -1) << "exact class only";
    }
    EXPECT_EQ(table.Entries().size(), toolkitRows) << "the list's destructor clears what it registered";
}

TEST(FormatList, RegisteringTwiceFailsAndChangesNothing) {
    TFileFormatsList table;
    TFileFormatList list(table);
    list.AddFormat("png", "Portable network graphic images", "", fkRaster, false, &TFakePhoto::ClassInfo);
    const auto listBefore = Rows(list);
    const auto tableBefore = Rows(table);
    try {
        list.AddFormat("PNG", "other", "", fkRaster, false, &TFakeOther::ClassInfo);
        FAIL() << "no error";
    } catch (const EInvalidGraphic& e) {
        EXPECT_STREQ(e.what(), "Attempt to register PNG twice.");
    }
    try {
        list.AddFormat("png", "other", "", fkRaster, false, &TFakePhoto::ClassInfo);
        FAIL() << "no error";
    } catch (const EInvalidGraphic& e) {
        EXPECT_STREQ(e.what(), "Attempt to register png twice.");
    }
    EXPECT_EQ(Rows(list), listBefore);
    EXPECT_EQ(Rows(table), tableBefore);
    EXPECT_EQ(list.Classes().size(), 1u) << "no class entry left behind for the refused class";
}

TEST(FormatList, ReplaceMovesTheExtensionToTheNewClass) {
    TFileFormatsList table;
    TFileFormatList list(table);
    list.AddFormat("aaa", "Old", "", fkRaster, false, &TFakePhoto::ClassInfo);
    list.AddFormat("bbb", "New", "", fkRaster, false, &TFakeOther::ClassInfo);
    // The old class entry comes first and goes away: the new one must still be found.
    list.AddFormat("aaa", "", "", fkRaster, true, &TFakeOther::ClassInfo);
    EXPECT_EQ(Rows(list), (std::vector<std::string>{"aaa=TFakeOther:/New#2", "bbb=TFakeOther:/New#2"}));
    ASSERT_EQ(list.Classes().size(), 1u);
    EXPECT_EQ(table.FindPictureClass("aaa"), &TFakeOther::ClassInfo);

    const auto before = Rows(table);
    list.AddFormat("aaa", "", "", fkRaster, true, &TFakeOther::ClassInfo);
    EXPECT_EQ(Rows(table), before) << "replacing with the same class changes nothing";

    // Replacing into a class that is not registered yet.
    list.AddFormat("bbb", "Third", "", fkRaster, true, &TFakeDerived::ClassInfo);
    EXPECT_EQ(Rows(list), (std::vector<std::string>{"aaa=TFakeOther:/New#1", "bbb=TFakeDerived:/Third#1"}));
}

TEST(FormatList, RemoveFormatByExtensionAndByClass) {
    TFileFormatsList table;
    TFileFormatList list(table);
    list.AddFormat("rle", "Windows bitmaps", "Run length encoded Windows bitmaps", fkRaster, false,
                   &TFakePhoto::ClassInfo);
    list.AddFormat("dib", "", "Device independant Windows bitmaps", fkRaster, false, &TFakePhoto::ClassInfo);
    list.AddFormat("x1", "Other", "", fkRaster, false, &TFakeOther::ClassInfo);
    list.AddFormat("x2", "", "", fkRaster, false, &TFakeOther::ClassInfo);
    list.AddFormat("x3", "", "", fkRaster, false, &TFakeOther::ClassInfo);

    list.RemoveFormat("RLE", &TFakePhoto::ClassInfo);
    EXPECT_EQ(list.IndexOfExtension("rle"), -1);
    EXPECT_EQ(table.FindPictureClass("rle"), &TFakePhoto::ClassInfo) << "the row stays while the class has others";
    list.RemoveFormat("dib", &TFakePhoto::ClassInfo);
    EXPECT_EQ(table.FindPictureClass("rle"), nullptr) << "last extension gone: the class leaves the table";
    EXPECT_EQ(list.IndexOfClass(&TFakePhoto::ClassInfo), -1);
    EXPECT_NO_THROW(list.RemoveFormat("never", &TFakePhoto::ClassInfo));

    list.RemoveFormat("", &TFakeOther::ClassInfo);
    EXPECT_TRUE(list.Extensions().empty());
    EXPECT_TRUE(list.Classes().empty());
    EXPECT_EQ(table.FindPictureClass("x2"), nullptr);
    EXPECT_THROW(list.RemoveFormat("", &TFakeOther::ClassInfo), EInvalidGraphic) << "class no longer registered";
}
