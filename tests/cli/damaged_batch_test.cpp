// A JPEG or PNG cut short is converted as far as it goes and named once, in the batch's end
// message, both on the sequential path and when it was read ahead.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/core/picture_formats.h"
#include "app/core/pipeline.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using testsupport::TempDir;

namespace {

std::string Quote(const std::string& s) { return "'" + s + "'"; }

std::string Text(const std::string& path) {
    const std::vector<uint8_t> bytes = testsupport::ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
}

// The first half of a file's bytes, as a download that stopped halfway leaves it.
void CutInHalf(const std::string& from, const std::string& to) {
    std::vector<uint8_t> bytes = testsupport::ReadFile(from);
    bytes.resize(bytes.size() / 2);
    testsupport::WriteFile(to, bytes);
}

}  // namespace

TEST(DamagedBatch, CutFilesAreConvertedAndNamedOnceInTheEndMessage) {
    RegisterPictureFormats();
    TempDir src, work, logs;
    TBitmap picture = testsupport::NoiseBitmap(96, 64, 7);
    const std::string good = src.file("good.jpg"), cutJpg = src.file("cut.jpg"), cutPng = src.file("cut.png");
    ASSERT_TRUE(SaveResult(picture, good, ".jpg", 90));
    ASSERT_TRUE(SaveResult(picture, src.file("whole.png"), ".png", 90));
    CutInHalf(good, cutJpg);
    CutInHalf(src.file("whole.png"), cutPng);
    const std::string missing = src.file("missing.bmp");
    const std::string damagedPng = "cut.png: The image data of the PNG file ends early: the rest of the picture is missing.";

    struct Case {
        const char* name;
        std::string env, files;
        int status;            // a damaged file was converted: only the missing one fails
        std::string failures;  // the failure section expected before the damaged one
    } cases[] = {
        {"sequential", "IMBRIX_SEQUENTIAL=1", Quote(good) + " " + Quote(cutJpg) + " " + Quote(cutPng), 0, ""},
        {"read ahead", "IMBRIX_SEQUENTIAL=0", Quote(good) + " " + Quote(cutJpg) + " " + Quote(cutPng), 0, ""},
        {"with a failure", "IMBRIX_SEQUENTIAL=0",
         Quote(cutJpg) + " " + Quote(missing) + " " + Quote(good) + " " + Quote(cutPng), 1,
         "1 of 4 files could not be converted:\nmissing.bmp: Cannot open file \"" + missing +
             "\". No such file or directory\n\n"},
    };
    std::string jpegLine;  // the library's wording, the same on every run
    std::vector<uint8_t> firstCutResult;
    int run = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string prefix = "r" + std::to_string(run++) + "_";
        const std::string out = logs.file(prefix + "out"), err = logs.file(prefix + "err");
        const int status = testsupport::RunCommand(c.env + " " + IMBRIX_BATCH + " -s full -t bmp --prefix " + prefix +
                                                   " -o " + Quote(work.path().string()) + " " + c.files + " >" + out +
                                                   " 2>" + err + " </dev/null");
        EXPECT_EQ(status, c.status);
        for (const char* name : {"good", "cut"})
            EXPECT_TRUE(fs::exists(work.file(prefix + name + ".bmp"))) << name << " was not converted";
        EXPECT_TRUE(fs::exists(work.file(prefix + "cut-1.bmp"))) << "the second cut file was not converted";

        const std::string text = Text(err);
        const std::string header = "2 files were damaged and converted as far as they could be read:\ncut.jpg: ";
        ASSERT_EQ(text.rfind(c.failures + header, 0), 0u) << text;
        const size_t jpegStart = c.failures.size() + header.size() - std::string("cut.jpg: ").size();
        const size_t jpegEnd = text.find('\n', jpegStart);
        if (jpegLine.empty()) jpegLine = text.substr(jpegStart, jpegEnd - jpegStart);
        EXPECT_NE(jpegLine.find("Premature end of JPEG file"), std::string::npos) << jpegLine;
        EXPECT_EQ(text, c.failures + header.substr(0, header.size() - 9) + jpegLine + "\n" + damagedPng + "\n")
            << "each damaged file is named once, and nothing else";

        // Reading ahead changes nothing in what comes out.
        const std::vector<uint8_t> cutResult = testsupport::ReadFile(work.file(prefix + "cut.bmp"));
        if (firstCutResult.empty()) firstCutResult = cutResult;
        EXPECT_EQ(cutResult, firstCutResult);
    }
}
