// Files without an extension: the generic loader recognises them by their first bytes, and
// each one must load exactly as it does under its own extension (same class, same pixels,
// or the same error), through the registered table.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "app/core/picture_formats.h"
#include "app/core/pipeline.h"
#include "app/core/settings_record.h"
#include "graphics/byte_reader.h"
#include "graphics/errors.h"
#include "graphics/picture.h"
#include "graphics/picture_to_bitmap.h"
#include "graphics/stream.h"
#include "gif/gif_image.h"
#include "jpeg/jpeg_image.h"
#include "readers/ole_graphic.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using testsupport::TempDir;

namespace {

struct Outcome {
    bool loaded = false;
    std::string error;
    std::string className;
    std::unique_ptr<TBitmap> pixels;
};

Outcome Load(const std::string& path) {
    Outcome o;
    TPicture picture;
    try {
        picture.LoadPictureFile(path);
        o.className = picture.Graphic()->ClassType()->name;
        o.pixels = PictureToBitmap(picture.TakeGraphic());
        o.loaded = true;
    } catch (const EImbrixError& e) {
        o.error = e.what();
    }
    return o;
}

// "" when the two agree, else what differs.
std::string Compare(const Outcome& withExt, const Outcome& without) {
    if (withExt.loaded != without.loaded)
        return withExt.loaded ? "loads with its extension, without it fails: " + without.error
                              : "fails with its extension (" + withExt.error + "), loads without it";
    if (!withExt.loaded)
        return withExt.error == without.error ? "" : "errors differ: \"" + withExt.error + "\" vs \"" + without.error + "\"";
    if (withExt.className != without.className) return "class " + withExt.className + " vs " + without.className;
    const int64_t diff = testsupport::FirstPixelDifference(*withExt.pixels, *without.pixels);
    return diff == -1 ? "" : "pixels differ (first difference " + std::to_string(diff) + ")";
}

fs::path SourceDir() { return IMBRIX_TEST_SOURCE_DIR; }

using Bytes = std::vector<uint8_t>;

// A metafile drawing a red rectangle, with the placeable header or without it.
Bytes Wmf(bool placeable) {
    ByteWriter records;
    auto record = [&](uint16_t function, std::initializer_list<uint16_t> params) {
        records.u32le(uint32_t(3 + params.size()));
        records.u16le(function);
        for (uint16_t p : params) records.u16le(p);
    };
    record(0x020B, {0, 0});                      // window origin
    record(0x020C, {20, 40});                    // window extent
    record(0x02FC, {0, 0x00FF, 0x0000, 0});      // solid red brush
    record(0x012D, {0});                         // select it
    record(0x041B, {15, 30, 5, 10});             // rectangle
    record(0x0003, {});                          // end
    const Bytes body = records.take();
    ByteWriter w;
    if (placeable) {
        const uint16_t words[10] = {0xCDD7, 0x9AC6, 0, 0, 0, 40, 20, 96, 0, 0};
        uint16_t sum = 0;
        for (uint16_t v : words) {
            w.u16le(v);
            sum ^= v;
        }
        w.u16le(sum);
    }
    w.u16le(1);
    w.u16le(9);
    w.u16le(0x0300);
    w.u32le(uint32_t(9 + body.size() / 2));
    w.u16le(1);
    w.u32le(7);
    w.u16le(0);
    w.bytes(body);
    return w.take();
}

Bytes Emf() {
    ByteWriter r;
    auto rect = [&](int32_t l, int32_t t, int32_t rr, int32_t b) {
        for (int32_t v : {l, t, rr, b}) r.u32le(uint32_t(v));
    };
    r.u32le(39), r.u32le(24), r.u32le(1), r.u32le(0), r.u32le(0x000000FF), r.u32le(0);  // red brush 1
    r.u32le(37), r.u32le(12), r.u32le(1);                                                // select it
    r.u32le(43), r.u32le(24), rect(10, 5, 30, 15);                                       // rectangle
    r.u32le(14), r.u32le(20), r.u32le(0), r.u32le(16), r.u32le(20);                      // end
    const Bytes records = r.take();
    ByteWriter w;
    w.u32le(1);
    w.u32le(88);
    for (int32_t v : {0, 0, 39, 19}) w.u32le(uint32_t(v));       // bounds, pixels
    for (int32_t v : {0, 0, 1058, 529}) w.u32le(uint32_t(v));    // frame, 0.01 mm
    w.text(" EMF");
    w.u32le(0x10000);
    w.u32le(uint32_t(88 + records.size()));
    w.u32le(5);
    w.u16le(2);
    w.u16le(0);
    w.u32le(0), w.u32le(0), w.u32le(0);
    w.u32le(1024), w.u32le(768), w.u32le(320), w.u32le(240);
    w.bytes(records);
    return w.take();
}

}  // namespace

class OleGraphicTest : public ::testing::Test {
protected:
    void SetUp() override { RegisterPictureFormats(); }

    // Writes the picture as name.ext and as name, loads both and says where they differ.
    // A whole file must be recognised as a type read by the same class and come out the same
    // (pixels, or error). A cut one (which may no longer show its signature) must come out the
    // same when it loads with its extension, and be refused without it when it is refused with
    // it.
    std::string Check(const Bytes& bytes, const std::string& ext, bool whole) {
        const std::string stem = dir.file("p" + std::to_string(count++));
        testsupport::WriteFile(stem + "." + ext, bytes);
        testsupport::WriteFile(stem, bytes);
        const Outcome withExt = Load(stem + "." + ext);
        const Outcome without = Load(stem);
        if (whole) {
            if (withExt.loaded) ++loaded;
            const std::string type = RecognisePictureFile(stem);
            const TFileFormatsList& table = PictureFormatTable();
            if (table.FindPictureClass(type) != table.FindPictureClass(ext))
                return "recognised as \"" + type + "\", a type of another class";
        }
        if (!withExt.loaded && !whole) return without.loaded ? "refused with its extension, loads without it" : "";
        return Compare(withExt, without);
    }

    TempDir dir;
    int count = 0;
    int loaded = 0;  // whole files that loaded
};

// Every seed of the readers' fuzz corpora is a tiny valid file of its type; the same files cut
// in half must fail (or load) the same way with and without their extension.
TEST_F(OleGraphicTest, EveryTypeLoadsWithoutItsExtensionAsWithIt) {
    const std::map<std::string, std::string> folders = {
        {"bmp", "bmp"},           {"ico", "ico"},           {"gif", "gif"},         {"jpeg", "jpg"},
        {"read_tiff", "tif"},     {"read_eps", "eps"},      {"read_png", "png"},    {"read_psd", "psd"},
        {"read_psp", "psp"},      {"read_rla", "rla"},      {"read_sgi", "sgi"},    {"read_pcx", "pcx"},
        {"read_autodesk", "cel"}, {"read_pcd", "pcd"},      {"read_ppm", "ppm"},
    };
    const fs::path corpus = SourceDir() / "fuzz" / "corpus";
    ASSERT_TRUE(fs::is_directory(corpus)) << corpus;
    int checked = 0;
    for (const auto& [folder, ext] : folders) {
        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(corpus / folder)) files.push_back(entry.path());
        std::sort(files.begin(), files.end());
        EXPECT_FALSE(files.empty()) << folder;
        for (const fs::path& file : files) {
            const Bytes bytes = testsupport::ReadFile(file.string());
            EXPECT_EQ(Check(bytes, ext, true), "") << file;
            const Bytes half(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(bytes.size() / 2));
            EXPECT_EQ(Check(half, ext, false), "") << file << " cut to " << half.size() << " bytes";
            ++checked;
        }
    }
    EXPECT_GT(checked, 60);
    EXPECT_GE(loaded, checked - 4) << "seeds are valid files, but for a few deliberately odd ones";
}

// Files made here, in the writable types and the metafiles. The metafiles fail with the table's
// own message until a metafile class is registered, and load once one is: the same either way.
TEST_F(OleGraphicTest, MadeFilesAndMetafilesLoadAsWithTheirExtension) {
    TBitmap noise = testsupport::NoiseBitmap(13, 7, 5);
    auto written = [&](TGraphic& picture) {
        picture.AssignBitmap(noise);
        TMemoryStream out;
        picture.WritePicture(out);
        return out.TakeBytes();
    };
    TJPEGImage jpeg;
    TGIFImage gif;
    struct Case {
        const char* what;
        Bytes bytes;
        std::string ext;
    };
    const Case cases[] = {
        {"24-bit BMP", written(noise), "bmp"},
        {"JPEG", written(jpeg), "jpg"},
        {"GIF", written(gif), "gif"},
        {"placeable WMF", Wmf(true), "wmf"},
        {"bare WMF", Wmf(false), "wmf"},
        {"EMF", Emf(), "emf"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Check(c.bytes, c.ext, true), "") << c.what;
        TMemoryStream stream(c.bytes);
        EXPECT_EQ(RecognisePictureType(stream), c.ext) << c.what;
        EXPECT_EQ(stream.Position(), 0u) << c.what << ": the position must be restored";
    }
}

TEST_F(OleGraphicTest, CorpusFilesLoadWithoutTheirExtensionAsWithIt) {
    REQUIRE_CORPUS(shared);
    const std::map<std::string, std::string> known = {
        {".png", "png"}, {".gif", "gif"}, {".bmp", "bmp"}, {".jpg", "jpg"}, {".tif", "tif"}, {".tiff", "tif"},
        {".psd", "psd"}, {".pcx", "pcx"}, {".sgi", "sgi"}, {".rgb", "sgi"}, {".bw", "sgi"},  {".ppm", "ppm"},
        {".pgm", "ppm"}, {".pbm", "ppm"}, {".ico", "ico"},
    };
    // An even sample of each folder's pictures, so the test stays quick.
    constexpr size_t kPerFolder = 12;
    std::vector<fs::path> sample;
    for (const auto& folder : fs::directory_iterator(shared)) {
        if (!folder.is_directory()) continue;
        std::vector<fs::path> files;
        for (const auto& entry : fs::recursive_directory_iterator(folder.path()))
            if (entry.is_regular_file() && known.count(entry.path().extension().string()) &&
                entry.path().string().find("/reference") == std::string::npos && entry.file_size() < 48 * 1024)
                files.push_back(entry.path());
        std::sort(files.begin(), files.end());
        const size_t step = std::max<size_t>(1, files.size() / kPerFolder);
        for (size_t i = 0; i < files.size(); i += step) sample.push_back(files[i]);
    }
    int loaded = 0;
    for (const fs::path& file : sample) {
        // A link named without the extension: the name is all that differs.
        const std::string bare = dir.file("c" + std::to_string(count++));
        fs::create_symlink(file, bare);
        const Outcome withExt = Load(file.string());
        const Outcome without = Load(bare);
        if (withExt.loaded) {
            ++loaded;
            EXPECT_EQ(Compare(withExt, without), "") << file;
        } else {
            // A damaged file may not even show its signature; it must still be refused.
            EXPECT_FALSE(without.loaded) << file << " is refused with its extension: " << withExt.error;
        }
    }
    EXPECT_GT(loaded, 50);
}

TEST_F(OleGraphicTest, AFileOfNoKnownTypeIsRefusedNamingTheTypesExpected) {
    struct Case {
        const char* what;
        std::string bytes;
    };
    const Case cases[] = {
        {"text", "Shopping list: milk, eggs, bread.\n"},
        {"empty", ""},
        {"text starting BM", "BMW 320i for sale, one owner, full service history\n"},
        {"zeros after an icon's first word", std::string("\0\0\1\0\0\0", 6) + std::string(40, '\0')},
        {"JPEG's first two bytes only", "\xFF\xD8"},
        {"P6 run into text", "P6x is not a pixel map\n"},
        {"GIF with an unknown version", "GIF88a\x01\x00\x01\x00\x00\x00\x00"},
        {"Targa (no signature to go by)", std::string("\0\0\2\0\0\0\0\0\0\0\0\0\1\0\1\0\x18\0", 18) + "\xFF\xFF\xFF"},
    };
    for (const Case& c : cases) {
        const std::string path = dir.file("unknown" + std::to_string(count++));
        testsupport::WriteFile(path, Bytes(c.bytes.begin(), c.bytes.end()));
        const Outcome o = Load(path);
        EXPECT_FALSE(o.loaded) << c.what;
        EXPECT_EQ(o.error, UnrecognisedPictureMessage()) << c.what;
    }
    const std::string message = UnrecognisedPictureMessage();
    for (const char* named : {"JPEG", "PNG", "GIF", "BMP", "TIFF", "WMF", "EMF"})
        EXPECT_NE(message.find(named), std::string::npos) << named << " missing from: " << message;
}

// "Same as original" writes the type the file is; a file that lost its extension gets that
// type's, so the copy of a JPEG named photo is photo.jpg.
TEST_F(OleGraphicTest, SameAsOriginalGivesTheRecognisedTypesExtension) {
    int same = -1;
    for (size_t i = 0; i < OutputTypeTable.size(); ++i)
        if (std::string(OutputTypeTable[i].extension) == ".*") same = static_cast<int>(i);
    ASSERT_GE(same, 0);
    TJPEGImage jpeg;
    TBitmap noise = testsupport::NoiseBitmap(9, 9, 2);
    jpeg.AssignBitmap(noise);
    for (const char* name : {"photo", "photo.", "Photo.JPG"}) jpeg.WritePictureFile(dir.file(name));
    testsupport::WriteFile(dir.file("notes"), Bytes{'h', 'i', '\n'});
    const struct {
        const char* name;
        const char* want;
    } cases[] = {{"photo", ".jpg"}, {"photo.", ".jpg"}, {"Photo.JPG", ".JPG"}, {"notes", ""}, {"missing", ""}};
    for (const auto& c : cases) EXPECT_EQ(ResultExtension(same, dir.file(c.name)), c.want) << c.name;
}
