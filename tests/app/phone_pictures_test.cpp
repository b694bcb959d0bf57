// Phone pictures through the working bitmap: each EXIF orientation against Pillow's
// exif_transpose, embedded profiles (made here with LittleCMS) against ImageCms, and the
// pictures that must come out exactly as before: no profile, an sRGB one, a broken one.
#include <gtest/gtest.h>
#include <lcms2.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/core/picture_formats.h"
#include "app/core/pipeline.h"
#include "app/core/working_bitmap.h"
#include "graphics/picture.h"
#include "graphics/picture_to_bitmap.h"
#include "graphics/warning_sink.h"
#include "jpeg/jpeg_metadata.h"
#include "tests/support/reference_decoders.h"
#include "tests/support/test_profiles.h"
#include "tests/support/test_support.h"

namespace {

using testsupport::MaxDifference;
using testsupport::RgbProfile;
using testsupport::SaveProfile;

// A printer's CMYK profile, made here: inks to Lab through a table that is deliberately far
// from the plain formula (dotted gain on each ink, a warm black), so a reader that ignores it
// shows. Only the inks-to-PCS direction is needed to read pictures.
int SampleInks(const cmsUInt16Number in[], cmsUInt16Number out[], void* cargo) {
    auto ink = [&](int i) { return std::pow(in[i] / 65535.0, 0.7); };
    const double k = ink(3);
    const double rgb[3] = {(1 - ink(0)) * (1 - 0.9 * k), (1 - ink(1)) * (1 - k), (1 - ink(2)) * (1 - 0.8 * k)};
    cmsCIELab lab;
    cmsDoTransform(static_cast<cmsHTRANSFORM>(cargo), rgb, &lab, 1);
    cmsFloat2LabEncoded(out, &lab);
    return 1;
}

std::vector<uint8_t> CmykProfile() {
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHPROFILE labProfile = cmsCreateLab4Profile(nullptr);
    cmsHTRANSFORM toLab = cmsCreateTransform(srgb, TYPE_RGB_DBL, labProfile, TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC,
                                             cmsFLAGS_NOCACHE);
    cmsCloseProfile(srgb);
    cmsCloseProfile(labProfile);
    cmsHPROFILE profile = cmsCreateProfilePlaceholder(nullptr);
    cmsSetProfileVersion(profile, 4.3);
    cmsSetDeviceClass(profile, cmsSigOutputClass);
    cmsSetColorSpace(profile, cmsSigCmykData);
    cmsSetPCS(profile, cmsSigLabData);
    cmsPipeline* lut = cmsPipelineAlloc(nullptr, 4, 3);
    cmsStage* table = cmsStageAllocCLut16bit(nullptr, 9, 4, 3, nullptr);
    cmsStageSampleCLut16bit(table, SampleInks, toLab, 0);
    // Version 4 stores the table between identity curves (the form "A curves, table, B curves").
    cmsPipelineInsertStage(lut, cmsAT_END, cmsStageAllocToneCurves(nullptr, 4, nullptr));
    cmsPipelineInsertStage(lut, cmsAT_END, table);
    cmsPipelineInsertStage(lut, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
    cmsWriteTag(profile, cmsSigAToB0Tag, lut);
    cmsWriteTag(profile, cmsSigMediaWhitePointTag, cmsD50_XYZ());
    cmsMLU* name = cmsMLUalloc(nullptr, 1);
    cmsMLUsetASCII(name, "en", "US", "Test inks");
    cmsWriteTag(profile, cmsSigProfileDescriptionTag, name);
    cmsMLUfree(name);
    cmsPipelineFree(lut);
    cmsDeleteTransform(toLab);
    return SaveProfile(profile);
}

// The profiles the cases embed, written beside them for the case script.
void WriteProfiles(const testsupport::TempDir& dir) {
    testsupport::WriteFile(dir.file("inks.icc"), CmykProfile());
    testsupport::WriteFile(dir.file("p3.icc"), testsupport::DisplayP3Profile());
    testsupport::WriteFile(dir.file("adobe.icc"), RgbProfile({{0.64, 0.33, 1}, {0.21, 0.71, 1}, {0.15, 0.06, 1}},
                                                             cmsBuildGamma(nullptr, 2.19921875)));
    cmsToneCurve* gamma = cmsBuildGamma(nullptr, 1.8);
    testsupport::WriteFile(dir.file("gray.icc"), SaveProfile(cmsCreateGrayProfile(cmsD50_xyY(), gamma)));
    cmsFreeToneCurve(gamma);
    testsupport::WriteFile(dir.file("cmyk.icc"), SaveProfile(cmsCreateInkLimitingDeviceLink(cmsSigCmykData, 300)));
}

class PhonePictures : public testing::Test {
protected:
    static void SetUpTestSuite() {
        RegisterPictureFormats();
        if (!testsupport::HavePillow()) return;
        dir_ = new testsupport::TempDir();
        WriteProfiles(*dir_);
        const char* source = std::getenv("IMBRIX_SOURCE");
        const std::string script = std::string(source ? source : IMBRIX_TEST_SOURCE_DIR) + "/tests/app/phone_cases.py";
        ready_ = testsupport::RunCommand(std::string(testsupport::kSystemPython) + " " + script + " " +
                                         dir_->path().string()) == 0;
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    void SetUp() override {
        if (!testsupport::HavePillow()) GTEST_SKIP() << "Pillow is not installed";
        ASSERT_TRUE(ready_) << "the case script failed";
    }

    // The working bitmap of a case file, and the warnings its load gave.
    static std::unique_ptr<TBitmap> Load(const std::string& name, bool autoOrient, std::vector<std::string>* warnings) {
        std::vector<std::string> seen;
        WarningSink previous = SetWarningSink([&](const std::string& m) { seen.push_back(m); });
        TPicture picture;
        picture.LoadPictureFile(dir_->file(name));
        auto bitmap = WorkingBitmap(picture.TakeGraphic(), UprightOptions{autoOrient}, name);
        SetWarningSink(previous);
        if (warnings) *warnings = seen;
        return bitmap;
    }
    // The picture as stored: the decode before any of the new steps.
    static std::unique_ptr<TBitmap> Stored(const std::string& name) {
        TPicture picture;
        picture.LoadPictureFile(dir_->file(name));
        return PictureToBitmap(picture.TakeGraphic());
    }
    // Pillow's answer, saved by the script as a binary pixel map (read here, not by a reader
    // under test, and without starting Python once per case).
    static TBitmap Reference(const std::string& name) {
        const std::vector<uint8_t> bytes = testsupport::ReadFile(dir_->file(name));
        int w = 0, h = 0, maxval = 0, used = 0;
        if (std::sscanf(reinterpret_cast<const char*>(bytes.data()), "P6 %d %d %d%n", &w, &h, &maxval, &used) != 3 ||
            maxval != 255 || bytes.size() < size_t(used) + 1 + size_t(w) * h * 3) {
            ADD_FAILURE() << name << " is not a pixel map";
            return TBitmap();
        }
        TBitmap bitmap(w, h, TPixelFormat::pf24bit);
        const uint8_t* p = bytes.data() + used + 1;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x, p += 3) {
                uint8_t* q = bitmap.ScanLine(y) + size_t(x) * 3;
                q[0] = p[2];
                q[1] = p[1];
                q[2] = p[0];
            }
        return bitmap;
    }

    static inline testsupport::TempDir* dir_ = nullptr;
    static inline bool ready_ = false;
};

TEST_F(PhonePictures, EachOrientationComesOutAsExifTransposeGivesIt) {
    for (int orientation = 1; orientation <= 8; ++orientation)
        for (const char* order : {"i", "m"}) {
            const std::string name = "o" + std::to_string(orientation) + order;
            std::vector<std::string> warnings;
            const auto upright = Load(name + ".jpg", true, &warnings);
            std::string where;
            EXPECT_EQ(MaxDifference(*upright, Reference("ref_" + name + ".ppm"), &where), 0) << name << " " << where;
            EXPECT_TRUE(warnings.empty()) << name;
            // Off, the picture is used as stored, byte for byte as before.
            const auto asStored = Load(name + ".jpg", false, nullptr);
            EXPECT_EQ(testsupport::FirstPixelDifference(*asStored, *Stored(name + ".jpg")), -1) << name;
        }
}

TEST_F(PhonePictures, EmbeddedProfilesConvertAsImageCmsDoes) {
    for (const char* profile : {"p3", "adobe", "gray"})
        for (const char* ext : {"png", "tif", "jpg"}) {
            const std::string name = std::string(profile) + "." + ext;
            std::vector<std::string> warnings;
            const auto converted = Load(name, true, &warnings);
            std::string where;
            const TBitmap want = Reference(std::string("ref_") + profile + "_" + ext + ".ppm");
            EXPECT_LE(MaxDifference(*converted, want, &where), 2) << name << " " << where;
            EXPECT_TRUE(warnings.empty()) << name << ": " << (warnings.empty() ? "" : warnings[0]);
            // And the conversion did something: these profiles are far from sRGB.
            EXPECT_GT(MaxDifference(*converted, *Stored(name), &where), 8) << name << " was not converted";
        }
    std::string where;
    EXPECT_LE(MaxDifference(*Load("shuffled.jpg", true, nullptr), Reference("ref_p3_jpg.ppm"), &where), 2)
        << "chunks out of order: " << where;
}

// Profiles that reach the colours another way: Photoshop's image resource, and CMYK JPEG and
// Photoshop files, whose printer profile replaces the plain ink formula while decoding.
TEST_F(PhonePictures, PhotoshopAndCmykProfilesConvertAsImageCmsDoes) {
    struct Case {
        const char* file;
        const char* reference;
        const char* withoutProfile;  // the same pixels as they come out without the profile
    };
    for (const Case c : {Case{"p3.psd", "ref_p3_psd.ppm", nullptr}, Case{"adobe.psd", "ref_adobe_psd.ppm", nullptr},
                         Case{"inks.jpg", "ref_inks_jpg.ppm", "inks_bare.jpg"},
                         Case{"inks.psd", "ref_inks_psd.ppm", "inks_bare.psd"}}) {
        std::vector<std::string> warnings;
        const auto converted = Load(c.file, true, &warnings);
        ASSERT_TRUE(converted) << c.file;
        std::string where;
        EXPECT_LE(MaxDifference(*converted, Reference(c.reference), &where), 2) << c.file << " " << where;
        EXPECT_TRUE(warnings.empty()) << c.file << ": " << (warnings.empty() ? "" : warnings[0]);
        const auto plain = c.withoutProfile ? Load(c.withoutProfile, true, nullptr) : Stored(c.file);
        EXPECT_GT(MaxDifference(*converted, *plain, &where), 8) << c.file << " was not converted";
    }
}

TEST_F(PhonePictures, NoProfileSRGBOrABrokenOneLeavesEveryByte) {
    const auto bare = Stored("bare.jpg");
    struct Case {
        const char* file;
        bool warns;
    };
    for (const Case c : {Case{"bare.jpg", false}, Case{"srgb.jpg", false}, Case{"truncated.jpg", true},
                         Case{"missing.jpg", true}, Case{"doubled.jpg", true}, Case{"cmyk_on_rgb.jpg", true}}) {
        std::vector<std::string> warnings;
        const auto loaded = Load(c.file, true, &warnings);
        EXPECT_EQ(testsupport::FirstPixelDifference(*loaded, *bare), -1) << c.file;
        EXPECT_EQ(warnings.size(), c.warns ? 1u : 0u) << c.file;
        if (!warnings.empty()) {
            EXPECT_NE(warnings[0].find(c.file), std::string::npos) << "the warning names the file: " << warnings[0];
        }
    }
}

// Hostile EXIF blocks: whatever is wrong, the answer is "as stored", never a failure.
TEST(ExifOrientation, DamagedBlocksReadAsNoOrientation) {
    auto block = [](bool big, uint16_t type, uint32_t count, uint32_t value, uint32_t ifd = 8) {
        std::vector<uint8_t> b;
        auto u16 = [&](uint16_t v) { big ? b.insert(b.end(), {uint8_t(v >> 8), uint8_t(v)}) : b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)}); };
        auto u32 = [&](uint32_t v) { big ? (u16(uint16_t(v >> 16)), u16(uint16_t(v))) : (u16(uint16_t(v)), u16(uint16_t(v >> 16))); };
        b.push_back(big ? 'M' : 'I');
        b.push_back(big ? 'M' : 'I');
        u16(42);
        u32(ifd);
        u16(1);
        u16(0x0112);
        u16(type);
        u32(count);
        if (type == 3) {
            u16(uint16_t(value));
            u16(0);
        } else {
            u32(value);
        }
        return b;
    };
    struct Case {
        const char* what;
        std::vector<uint8_t> exif;
        int want;
    };
    const std::vector<Case> cases = {
        {"little-endian short", block(false, 3, 1, 6), 6},
        {"big-endian short", block(true, 3, 1, 8), 8},
        {"long", block(true, 4, 1, 5), 5},
        {"zero", block(false, 3, 1, 0), 1},
        {"nine", block(false, 3, 1, 9), 1},
        {"two values", block(false, 3, 2, 6), 1},
        {"ascii type", block(false, 2, 1, 6), 1},
        {"directory past the end", block(false, 3, 1, 6, 4000), 1},
        {"directory offset wraps", block(true, 3, 1, 6, 0xFFFFFFF0u), 1},
        {"cut in the entry", [&] { auto b = block(false, 3, 1, 6); b.resize(b.size() - 5); return b; }(), 1},
        {"wrong magic", [&] { auto b = block(false, 3, 1, 6); b[2] = 43; return b; }(), 1},
        {"empty", {}, 1},
    };
    for (const Case& c : cases) EXPECT_EQ(ExifOrientation(c.exif), c.want) << c.what;
}

}  // namespace
