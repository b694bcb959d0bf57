// Metafiles written by another program: LibreOffice exports a drawing (shapes, text, an embedded
// photo) as WMF and EMF, and imbrix-batch converts both. Skips without soffice (scripts/setup.sh
// --office installs it); each export takes LibreOffice some seconds.
#include <gtest/gtest.h>

#include <string>

#include "graphics/bitmap.h"
#include "graphics/stream.h"
#include "tests/support/test_support.h"

namespace {

std::string Base64(const std::vector<uint8_t>& bytes) {
    static const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const uint32_t n = (uint32_t(bytes[i]) << 16) | (i + 1 < bytes.size() ? uint32_t(bytes[i + 1]) << 8 : 0) |
                           (i + 2 < bytes.size() ? bytes[i + 2] : 0);
        out += digits[(n >> 18) & 63];
        out += digits[(n >> 12) & 63];
        out += i + 1 < bytes.size() ? digits[(n >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? digits[n & 63] : '=';
    }
    return out;
}

// A drawing of 400 x 300 pixels; LibreOffice's export is cropped to its content and a margin.
std::string Drawing() {
    TBitmap photo(32, 24);
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 32; ++x) photo.SetPixel(x, y, RGBColor(uint8_t(x * 8), uint8_t(y * 10), 128));
    TMemoryStream bmp;
    photo.WritePicture(bmp);
    return "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" width=\"400px\" "
           "height=\"300px\" viewBox=\"0 0 400 300\">\n"
           "<rect x=\"20\" y=\"20\" width=\"160\" height=\"100\" fill=\"#ff0000\"/>\n"
           "<ellipse cx=\"300\" cy=\"70\" rx=\"70\" ry=\"50\" fill=\"#0000ff\"/>\n"
           "<text x=\"20\" y=\"200\" font-family=\"DejaVu Sans\" font-size=\"40\" fill=\"#000000\">Imbrix</text>\n"
           "<image x=\"240\" y=\"160\" width=\"128\" height=\"96\" xlink:href=\"data:image/bmp;base64," +
           Base64(bmp.Bytes()) + "\"/>\n</svg>\n";
}

}  // namespace

TEST(OfficeMetafiles, LibreOfficeExportsConvertLikeTheDrawing) {
#ifndef IMBRIX_BATCH
    GTEST_SKIP() << "imbrix-batch is not built";
#else
    if (!testsupport::HaveProgram("soffice")) GTEST_SKIP() << "soffice is not installed (scripts/setup.sh --office)";
    testsupport::TempDir dir;
    const std::string svg = Drawing();
    testsupport::WriteFile(dir.file("drawing.svg"), std::vector<uint8_t>(svg.begin(), svg.end()));
    for (const std::string format : {"wmf", "emf"}) {
        SCOPED_TRACE(format);
        const std::string profile = "-env:UserInstallation=file://" + dir.file("profile");
        ASSERT_EQ(testsupport::RunCommand("cd '" + dir.path().string() + "' && HOME='" + dir.path().string() +
                                          "' soffice " + profile + " --headless --convert-to " + format +
                                          " drawing.svg >/dev/null 2>&1"),
                  0);
        const std::string out = dir.file("out-" + format);
        std::filesystem::create_directory(out);
        ASSERT_EQ(testsupport::RunCommand(std::string(IMBRIX_BATCH) + " -s full -t bmp -o '" + out + "' '" +
                                          dir.file("drawing." + format) + "' >/dev/null"),
                  0);
        TBitmap result;
        {
            TFileStream stream(out + "/drawing.bmp", TFileStream::Mode::OpenRead);
            result.ReadPicture(stream);
        }
        EXPECT_NEAR(result.Width(), 373, 4);
        EXPECT_NEAR(result.Height(), 273, 4);
        auto near = [](TColor c, TColor want) {
            return std::abs(GetRValue(c) - GetRValue(want)) < 40 && std::abs(GetGValue(c) - GetGValue(want)) < 40 &&
                   std::abs(GetBValue(c) - GetBValue(want)) < 40;
        };
        EXPECT_TRUE(near(result.Pixel(80, 50), RGBColor(255, 0, 0))) << "the rectangle";
        EXPECT_TRUE(near(result.Pixel(280, 50), RGBColor(0, 0, 255))) << "the ellipse";
        EXPECT_TRUE(near(result.Pixel(200, 130), RGBColor(255, 255, 255))) << "the space between";
        int dark = 0;
        for (int y = 140; y < 190; ++y)
            for (int x = 0; x < 130; ++x) dark += GetRValue(result.Pixel(x, y)) < 100;
        EXPECT_GT(dark, 300) << "the text";
        // The photo: the gradient's corners, dark blue at the top left, green at the bottom left.
        EXPECT_TRUE(near(result.Pixel(232, 152), RGBColor(0, 0, 128)));
        EXPECT_TRUE(near(result.Pixel(232, 236), RGBColor(0, 230, 128)));
        EXPECT_TRUE(near(result.Pixel(346, 152), RGBColor(248, 0, 128)));
    }
#endif
}
