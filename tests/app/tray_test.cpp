// Thumbnails, hover texts, summary lines and the progress text.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "app/core/progress_text.h"
#include "app/core/thumbnail.h"
#include "app/core/tray_model.h"
#include "tests/support/test_support.h"

using testsupport::TempDir;

namespace {
std::string Show(const ThumbnailPlacement& p) {
    return std::to_string(p.Width) + " x " + std::to_string(p.Height) + " at (" + std::to_string(p.Left) + ", " +
           std::to_string(p.Top) + ")";
}
}  // namespace

TEST(Thumbnail, FitsThePictureInItsProportionsAndCentresIt) {
    struct Case {
        int w, h;
        ThumbnailPlacement want;
    } cases[] = {
        {1000, 750, {0, 0, 63, 48}},  // 48 x own lies just below 64
        {750, 1000, {14, 0, 36, 48}},
        {100, 100, {8, 0, 48, 48}},
        {2000, 100, {0, 22, 64, 3}},
        {64, 48, {0, 0, 63, 48}},
        {1, 1000, {32, 0, 0, 48}},
    };
    for (const Case& c : cases) {
        const ThumbnailPlacement got = FitThumbnail(c.w, c.h, 64, 48);
        EXPECT_EQ(got, c.want) << c.w << " x " << c.h << ": have " << Show(got) << ", want " << Show(c.want);
    }
}

TEST(Thumbnail, KeepsTheMarginWhiteAndAveragesThePicture) {
    TBitmap picture(1000, 750, TPixelFormat::pf24bit);
    picture.FillRect(Rect(0, 0, 500, 750), RGBColor(255, 0, 0));
    picture.FillRect(Rect(500, 0, 1000, 750), RGBColor(0, 0, 255));
    const TBitmap thumb = MakeThumbnail(picture);
    ASSERT_EQ(thumb.Width(), 64);
    ASSERT_EQ(thumb.Height(), 48);
    EXPECT_EQ(thumb.PixelFormat(), TPixelFormat::pf24bit);
    for (int y = 0; y < 48; ++y) {
        EXPECT_EQ(thumb.Pixel(63, y), clWhite) << "row " << y;
        EXPECT_EQ(thumb.Pixel(0, y), RGBColor(255, 0, 0)) << "row " << y;
        EXPECT_EQ(thumb.Pixel(62, y), RGBColor(0, 0, 255)) << "row " << y;
    }

    // One-pixel stripes: picking pixels gives pure black or white, averaging a grey. Both
    // directions and an indexed picture too.
    struct Case {
        const char* name;
        int w, h;
        bool columns;
        TPixelFormat format;
    } cases[] = {
        {"columns", 640, 480, true, TPixelFormat::pf24bit},
        {"rows", 640, 480, false, TPixelFormat::pf24bit},
        {"columns, 8-bit", 320, 240, true, TPixelFormat::pf8bit},
    };
    for (const Case& c : cases) {
        TBitmap stripes(c.w, c.h, TPixelFormat::pf24bit);
        for (int i = 0; i < (c.columns ? c.w : c.h); i += 2)
            stripes.FillRect(c.columns ? Rect(i, 0, i + 1, c.h) : Rect(0, i, c.w, i + 1), RGBColor(0, 0, 0));
        if (c.format != TPixelFormat::pf24bit) stripes.SetPixelFormat(c.format);
        const TBitmap t = MakeThumbnail(stripes);
        for (int y = 8; y < 40; y += 7)
            for (int x = 8; x < 56; x += 7) {
                const int grey = GetRValue(t.Pixel(x, y));
                EXPECT_TRUE(grey > 96 && grey < 160) << c.name << ": pixel (" << x << ", " << y << ") is " << grey;
            }
    }
}

TEST(Thumbnail, CellFollowsTheDevicePixelRatio) {
    struct Case {
        double ratio;
        ThumbnailCell want;
    } cases[] = {{1.0, {64, 48}}, {2.0, {128, 96}}, {1.5, {96, 72}}, {1.25, {80, 60}},
                 {0.5, {64, 48}}, {0.0, {64, 48}}, {100.0, {64, 48}}};
    for (const Case& c : cases) {
        const ThumbnailCell got = ThumbnailCellFor(c.ratio);
        EXPECT_EQ(got, c.want) << "ratio " << c.ratio << ": have " << got.Width << " x " << got.Height;
    }
    // A one-pixel-wide fit (the resampler cannot make it from a longer side) still works.
    TBitmap tall(40, 2000, TPixelFormat::pf24bit);
    tall.FillRect(Rect(0, 0, 40, 2000), RGBColor(10, 20, 30));
    const TBitmap t = MakeThumbnail(tall, 128, 96);
    EXPECT_EQ(t.Pixel(63, 50), RGBColor(10, 20, 30));  // 1 x 96 at (63, 0)
    EXPECT_EQ(t.Pixel(0, 50), clWhite);
}

TEST(TrayTexts, NumbersAreGroupedWithOneDecimal) {
    EXPECT_EQ(FormatNumber1(0.0), "0.0");
    EXPECT_EQ(FormatNumber1(999.96), "1,000.0");
    EXPECT_EQ(FormatNumber1(1234567.25), "1,234,567.2");
    EXPECT_EQ(FormatNumber1(-1.0 / 1024), "-0.0");
    EXPECT_EQ(FormatNumber1(1234.5, NumberSeparators{".", ","}), "1.234,5");
    EXPECT_EQ(FormatKilobytes(int64_t(5) << 40), "5,368,709,120.0K");  // beyond 32 bits
}

namespace {
// Makes LC_NUMERIC the locale of that name found in `folder`; puts both the locale and the
// search path back when it dies.
class NumericLocale {
public:
    NumericLocale(const std::string& folder, const char* name) : previous_(std::setlocale(LC_NUMERIC, nullptr)) {
        if (const char* path = std::getenv("LOCPATH")) oldPath_ = path;
        ::setenv("LOCPATH", folder.c_str(), 1);
        active_ = std::setlocale(LC_NUMERIC, name) != nullptr;
    }
    ~NumericLocale() {
        std::setlocale(LC_NUMERIC, previous_.c_str());
        if (oldPath_)
            ::setenv("LOCPATH", oldPath_->c_str(), 1);
        else
            ::unsetenv("LOCPATH");
    }
    bool Active() const { return active_; }

private:
    std::string previous_;
    std::optional<std::string> oldPath_;
    bool active_ = false;
};
}  // namespace

// The window runs with the user's C locale; in German the decimal point of printf is a comma.
TEST(TrayTexts, NumbersIgnoreTheProcessLocale) {
    TempDir dir;
    const std::string build = "localedef -i de_DE -f UTF-8 -c " + dir.file("de_DE.UTF-8") + " >/dev/null 2>&1";
    if (std::system(build.c_str()) != 0 || !std::filesystem::exists(dir.file("de_DE.UTF-8") + "/LC_NUMERIC"))
        GTEST_SKIP() << "localedef or the de_DE locale source is missing";
    const NumericLocale german(dir.path().string(), "de_DE.UTF-8");
    ASSERT_TRUE(german.Active());
    EXPECT_EQ(FormatKilobytes(1264000, NumberSeparators{".", ","}), "1.234,4K");
    EXPECT_EQ(FormatNumber1(2.0), "2.0");
}

TEST(TrayTexts, InfoTipAndSummaryDescribeTheFilesAsTheyAre) {
    TempDir dir;
    const std::string a = dir.file("a.bmp"), b = dir.file("b.bmp");
    testsupport::WriteFile(a, std::vector<uint8_t>(1024, 0));
    testsupport::WriteFile(b, std::vector<uint8_t>(2048 + 512, 0));

    EXPECT_EQ(MakeInfoTip(a, TpicData(375, 500, 24)), a + "\nWidth: 500\nHeight: 375\nFilesize: 1.0K");
    EXPECT_EQ(MakeInfoTip(dir.file("gone.bmp"), TpicData(1, 2, 24)),
              dir.file("gone.bmp") + "\nWidth: 2\nHeight: 1\nFilesize: -0.0K");

    TrayModel trays;
    EXPECT_EQ(trays.SummaryLine(TTray::In), "");
    trays.Add(TTray::In, a, TpicData(750, 1000, 24), TBitmap());
    EXPECT_EQ(trays.SummaryLine(TTray::In), "1 files, total size: 1.0K");
    EXPECT_EQ(trays.SummaryLine(TTray::Out), "");
    trays.Add(TTray::In, b, TpicData(1, 1, 24), TBitmap());
    EXPECT_EQ(trays.SummaryLine(TTray::In), "2 files, total size: 3.5K");
    EXPECT_EQ(trays.InfoTip(TTray::In, 0), a + "\nWidth: 1000\nHeight: 750\nFilesize: 1.0K");
    EXPECT_EQ(FileSizeOf(dir.path().string()), -1) << "a folder is not a file";
}

TEST(TrayTexts, OnlyWrittenResultsAreDraggedOut) {
    TrayModel trays;
    for (const char* name : {"/w/a.jpg", "/w/b.jpg", "/w/c.tif", "/w/d.jpg"})
        trays.Add(TTray::Out, name, TpicData(1, 1, 24), TBitmap());
    trays.MarkWritten("/w/a.jpg", FileIdentity{});
    trays.MarkWritten("/w/d.jpg", FileIdentity{});
    // b is still being written, c had no output type: neither is handed over.
    EXPECT_EQ(trays.WrittenResults({0, 1, 2, 3}), (std::vector<std::string>{"/w/a.jpg", "/w/d.jpg"}));
    EXPECT_EQ(trays.WrittenResults({1, 3, 9}), (std::vector<std::string>{"/w/d.jpg"}));
}

TEST(TrayTexts, ClearingNeverDeletesAnEntryThatWasNotWritten) {
    TempDir dir;
    const std::string result = dir.file("r.jpg");
    testsupport::WriteFile(result, {1, 2, 3});
    TrayModel trays;
    trays.Add(TTray::Out, result, TpicData(1, 1, 24), TBitmap());  // listed, never marked written
    trays.Clear();
    EXPECT_EQ(FileSizeOf(result), 3);
}

TEST(ProgressText, LongPathsKeepTheirStartAndEnd) {
    const std::string p45(45, 'a');
    EXPECT_EQ(ShortenPath(p45), p45);
    std::string p46;
    for (int i = 0; i < 46; ++i) p46 += static_cast<char>('A' + i % 26);
    const std::string shortened = ShortenPath(p46);
    EXPECT_EQ(shortened, p46.substr(0, 23) + "..." + p46.substr(26));
    EXPECT_EQ(shortened.size(), 46u);
    // Characters, not bytes: "é" is two bytes and is never cut in half.
    std::string accented;
    for (int i = 0; i < 50; ++i) accented += "\xC3\xA9";
    std::string want;
    for (int i = 0; i < 23; ++i) want += "\xC3\xA9";
    want += "...";
    for (int i = 0; i < 20; ++i) want += "\xC3\xA9";
    EXPECT_EQ(ShortenPath(accented), want);
    EXPECT_EQ(ShortenPath(accented.substr(0, 90)), accented.substr(0, 90)) << "45 characters are shown whole";
}
