// PCX and SGI files through imbrix-batch as a user converts them: every extension of the two
// readers reaches its reader, and every sample file ends in a picture or a clear message.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/core/picture_formats.h"
#include "graphics/bitmap.h"
#include "graphics/picture.h"
#include "tests/cli/full_size_batch.h"
#include "tests/readers/pcx_sgi_writers.h"
#include "tests/support/reference_decoders.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

TEST(PCXSGIBatch, EveryExtensionConverts) {
    if (!testsupport::HavePillow()) GTEST_SKIP() << "Pillow not installed";
    RegisterPictureFormats();
    testwriters::PCXFile pcx;
    pcx.width = 9, pcx.height = 4, pcx.bits = 8, pcx.planes = 3;
    for (int i = 0; i < 36; ++i) pcx.pixels.push_back(uint32_t(i) * 0x030507u);
    testwriters::SGIFile sgi;
    sgi.width = 7, sgi.height = 3, sgi.channels = 4, sgi.rle = true;
    for (int i = 0; i < 4 * 21; ++i) sgi.samples.push_back(uint16_t((i * 37) % 256));

    testsupport::TempDir src;
    const std::pair<const char*, bool> extensions[] = {{"pcx", true},  {"pcc", true},  {"scr", true}, {"sgi", false},
                                                       {"rgba", false}, {"rgb", false}, {"bw", false}};
    for (const auto& [ext, isPcx] : extensions) {
        SCOPED_TRACE(ext);
        const std::string file = src.file(std::string("picture.") + ext);
        testsupport::WriteFile(file, isPcx ? pcx.Build() : sgi.Build());
        testsupport::TempDir out;
        std::string err;
        ASSERT_EQ(clitest::FullSizeBmpBatch(IMBRIX_BATCH, out, "'" + file + "'", &err), 0) << err;
        const auto pillow = testsupport::PillowDecode(file);
        ASSERT_TRUE(pillow);
        std::string where;
        EXPECT_LE(testsupport::MaxDifference(clitest::LoadBmp(out.path() / "picture.bmp"), *pillow, &where), isPcx ? 0 : 1)
            << where;
    }
}

TEST(PCXSGIBatch, SampleFilesEndInAPictureOrAMessage) {
    REQUIRE_CORPUS(corpus);
    for (const char* folder : {"pcx", "sgi"}) {
        for (const auto& entry : fs::directory_iterator(corpus / "pillow-samples" / folder)) {
            SCOPED_TRACE(entry.path().string());
            testsupport::TempDir out;
            std::string err;
            const int status = clitest::FullSizeBmpBatch(IMBRIX_BATCH, out, "'" + entry.path().string() + "'", &err);
            if (status == 0) {
                EXPECT_TRUE(fs::exists(out.path() / (entry.path().stem().string() + ".bmp")));
            } else {
                // Refused with one of the readers' messages, not a crash.
                EXPECT_EQ(status, 1) << err;
                EXPECT_TRUE(err.find("Cannot load image.") != std::string::npos ||
                            err.find("Invalid color format") != std::string::npos)
                    << err;
            }
        }
    }
}

}  // namespace
