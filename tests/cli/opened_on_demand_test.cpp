// What imbrix-batch opens only when it meets a picture that needs it: the metafile player (a
// module of its own) and libheif. The module draws what the player draws in-process; when
// either cannot be opened, those pictures fail with the reason and the other files convert.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/core/picture_formats.h"
#include "graphics/bitmap.h"
#include "graphics/picture.h"
#include "metafile/metafile_player.h"
#include "tests/cli/full_size_batch.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

const fs::path kSamples = fs::path(IMBRIX_TEST_SOURCE_DIR) / "fuzz/corpus/read_wmf";

}  // namespace

TEST(MetafileBatch, TheModuleDrawsWhatThePlayerDrawsInProcess) {
    RegisterPictureFormats();
    int played = 0;
    for (const auto& entry : fs::directory_iterator(kSamples)) {
        SCOPED_TRACE(entry.path().filename().string());
        const testsupport::TempDir out;
        std::string err;
        ASSERT_EQ(clitest::FullSizeBmpBatch(IMBRIX_BATCH, out, "'" + entry.path().string() + "'", &err), 0) << err;
        const std::vector<uint8_t> bytes = testsupport::ReadFile(entry.path().string());
        const TBitmap expected = PlayMetafile(bytes);
        const TBitmap got = clitest::LoadBmp(out.path() / (entry.path().stem().string() + ".bmp"));
        ASSERT_EQ(got.Width(), expected.Width());
        ASSERT_EQ(got.Height(), expected.Height());
        EXPECT_EQ(testsupport::FirstPixelDifference(got, expected), -1);
        ++played;
    }
    EXPECT_GE(played, 3);  // a placeable and a plain WMF, an EMF
}

TEST(MetafileBatch, WithoutItsModuleAMetafileFailsWithTheReasonAndTheOtherFilesConvert) {
    RegisterPictureFormats();
    // The program copied away from the build tree finds no module beside it.
    const testsupport::TempDir bin, src, out;
    const std::string program = bin.file("imbrix-batch");
    fs::copy_file(IMBRIX_BATCH, program);
    const std::string bmp = src.file("noise.bmp");
    testsupport::NoiseBitmap(8, 6).WritePictureFile(bmp);
    const std::string wmf = (kSamples / "placeable.wmf").string();
    std::string err;
    EXPECT_EQ(clitest::FullSizeBmpBatch(program, out, "'" + wmf + "' '" + bmp + "'", &err), 1);
    EXPECT_NE(err.find("placeable.wmf: Cannot load image. Metafiles are drawn by a module of Imbrix, which could not be loaded ("),
              std::string::npos)
        << err;
    EXPECT_NE(err.find("imbrix-metafile.so"), std::string::npos) << err;
    EXPECT_TRUE(fs::exists(out.path() / "noise.bmp"));
    EXPECT_FALSE(fs::exists(out.path() / "placeable.bmp"));
}

TEST(HeifLibraryBatch, ALibheifWithoutItsFunctionsFailsHeifFilesWithTheReasonAndTheOtherFilesConvert) {
    RegisterPictureFormats();
    const testsupport::TempDir src, out;
    // An ftyp box naming HEIC is all the probe needs; the library is opened after it.
    const std::vector<uint8_t> ftyp = {0, 0, 0, 24, 'f', 't', 'y', 'p', 'h', 'e', 'i', 'c',
                                       0, 0, 0, 0,  'm', 'i', 'f', '1', 'h', 'e', 'i', 'c'};
    const std::string heic = src.file("phone.heic");
    testsupport::WriteFile(heic, ftyp);
    const std::string bmp = src.file("noise.bmp");
    testsupport::NoiseBitmap(8, 6).WritePictureFile(bmp);
    std::string err;
    const std::string program = std::string("LD_LIBRARY_PATH='") + IMBRIX_BROKEN_LIBHEIF_DIR + "' " + IMBRIX_BATCH;
    EXPECT_EQ(clitest::FullSizeBmpBatch(program, out, "'" + heic + "' '" + bmp + "'", &err), 1);
    EXPECT_NE(err.find("phone.heic: Cannot load image. HEIC, HEIF and AVIF pictures are decoded by libheif, which "
                       "could not be loaded (libheif.so.1 has no heif_context_alloc)."),
              std::string::npos)
        << err;
    EXPECT_TRUE(fs::exists(out.path() / "noise.bmp"));
}
