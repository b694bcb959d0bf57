// The pipeline through real files in a temporary working folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "app/core/picture_formats.h"
#include "app/core/pipeline.h"
#include "graphics/picture_to_bitmap.h"
#include "graphics/bitmap.h"
#include "graphics/errors.h"
#include "graphics/picture.h"
#include "graphics/stream.h"
#include "gif/gif_image.h"
#include "jpeg/jpeg_image.h"
#include "tests/app/recording_host.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using testsupport::FirstPixelDifference;
using testsupport::NoiseBitmap;
using testsupport::TempDir;

namespace {

ScaleChoice Special(std::string w, std::string wu, std::string h, std::string hu) {
    ScaleChoice c;
    c.Scale = ScaleMode::Special;
    c.WidthText = std::move(w);
    c.WidthUnits = std::move(wu);
    c.HeightText = std::move(h);
    c.HeightUnits = std::move(hu);
    return c;
}

ScaleChoice Mode(ScaleMode m) {
    ScaleChoice c;
    c.Scale = m;
    return c;
}

std::string Size(const TargetSize& s) { return std::to_string(s.Width) + " x " + std::to_string(s.Height); }

void WriteBmp(const std::string& path, int w, int h, uint32_t seed = 1) {
    TBitmap bmp = NoiseBitmap(w, h, seed);
    bmp.WritePictureFile(path);
}

TBitmap Load(const std::string& path) {
    TPicture picture;
    picture.LoadPictureFile(path);
    return *PictureToBitmap(*picture.Graphic());
}

// The start-up list, plus the writable types should it not have them yet.
void RegisterFormats() {
    RegisterPictureFormats();
    TFileFormatsList& table = PictureFormatTable();
    if (!table.FindPictureClass("jpg")) table.AddPictureFormat("jpg", "JPEG", &TJPEGImage::ClassInfo);
    if (!table.FindPictureClass("gif")) table.AddPictureFormat("gif", "GIF", &TGIFImage::ClassInfo);
    if (!table.FindPictureClass("dib")) table.AddPictureFormat("dib", "", &TBitmap::ClassInfo);
}

class PipelineTest : public ::testing::Test {
protected:
    void SetUp() override { RegisterFormats(); }
    TempDir src;
    TempDir work;
    std::string WorkDir() const { return work.path().string() + "/"; }
    bool InWork(const std::string& name) const { return fs::exists(work.path() / name); }
};

}  // namespace

TEST(TargetSize, FixedScalesAndSpecialSizesFollowTheExtendedPrecisionRule) {
    struct Case {
        int a, b;
        ScaleChoice choice;
        bool keep;
        TargetSize want;
    } cases[] = {
        {1000, 750, Mode(ScaleMode::FullSize), true, {1000, 750}},
        {1000, 750, Mode(ScaleMode::HalfSize), true, {500, 375}},
        {1000, 750, Mode(ScaleMode::QuarterSize), true, {250, 187}},
        {1001, 3, Mode(ScaleMode::HalfSize), true, {500, 1}},
        {1000, 750, Special("640", "px", "640", "px"), true, {640, 480}},
        {1000, 750, Special("50", "%", "480", "px"), true, {500, 375}},
        {1000, 750, Special("50", "%", "480", "px"), false, {500, 480}},
        // 480 x own, formed in long double, lies just below 640.
        {1000, 750, Special("640", "px", "480", "px"), true, {639, 480}},
        {1600, 1200, Special("640", "px", "480", "px"), true, {639, 480}},
        {1000, 750, Special("640", "px", "480", "px"), false, {640, 480}},
        // A single zero field follows the other one in the picture's proportions.
        {1000, 750, Special("0", "px", "480", "px"), true, {639, 480}},
        {1000, 750, Special("0", "px", "480", "px"), false, {639, 480}},
        {1000, 750, Special("640", "px", "0", "px"), true, {640, 480}},
        {1000, 750, Special("10", "%", "0", "px"), false, {100, 75}},
        // An empty field counts as 0, with or without the aspect ratio kept.
        {1000, 750, Special("800", "px", "", "px"), false, {800, 600}},
        {1000, 750, Special("800", "px", " ", "%"), true, {800, 600}},
        {1000, 750, Special("", "px", "50", "%"), false, {499, 375}},  // 375 x own lies below 500
        // 1 % of 50 is 0 pixels: a field that was not left at 0 does not follow the other
        {50, 50, Special("1", "%", "100", "px"), false, {0, 100}},
        {50, 50, Special("100", "px", "1", "%"), true, {100, 0}},
        // Only exactly "px" means pixels; anything else (no selection, too) is a percentage.
        {1000, 750, Special("50", "", "50", "PX"), false, {500, 375}},
        {750, 1000, Special(" 300 ", "px", "200", "px"), false, {300, 200}},
    };
    for (const Case& c : cases) {
        const TargetSize got = ComputeTargetSize(c.a, c.b, c.choice, c.keep);
        EXPECT_EQ(got, c.want) << c.a << " x " << c.b << " with '" << c.choice.WidthText << c.choice.WidthUnits
                               << "' by '" << c.choice.HeightText << c.choice.HeightUnits << "' keep=" << c.keep
                               << ": have " << Size(got) << ", want " << Size(c.want);
    }
}

TEST(TargetSize, BadFieldsFailWithTheirMessages) {
    try {
        ComputeTargetSize(1000, 750, Special("12a", "px", "5", "px"), true);
        FAIL() << "no error for '12a'";
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'12a' is not a valid integer value");
    }
    try {
        ComputeTargetSize(1000, 750, Special("3000000", "%", "5", "px"), true);
        FAIL() << "no error for a percentage product beyond 32 bits";
    } catch (const EIntOverflow& e) {
        EXPECT_STREQ(e.what(), "Integer overflow");
    }
}

TEST(SpecialFields, ValidationAcceptsOnlyNonNegativeIntegersNotBothZero) {
    struct Case {
        const char *w, *h;
        bool valid;
    } cases[] = {{"", "", false},     {"abc", "10", false}, {"0", "0", false},  {"-1", "5", false},
                 {"640", "", true},   {"0", "5", true},     {"12", "7", true},  {" 12 ", "\t7", true},
                 {"1.5", "2", false}, {"99999999999", "1", false}};
    for (const Case& c : cases)
        EXPECT_EQ(SpecialFieldsValid(Special(c.w, "px", c.h, "px")), c.valid)
            << "'" << c.w << "' by '" << c.h << "'";
}

TEST(BatchRefusal, SettingsThatWouldFailEveryFileAreNamedBeforeAnythingIsCleared) {
    struct Case {
        int outputType, quality, resampler;
        ScaleChoice choice;
        std::string want;
    } cases[] = {
        {2, 85, 5, Mode(ScaleMode::HalfSize), ""},
        {2, 85, 5, Special("800", "px", "", "px"), ""},
        {2, 85, 5, Special("", "px", "", "px"), kSpecialSizeMessage},
        {2, 85, 5, Special("abc", "px", "5", "px"), kSpecialSizeMessage},
        {2, 0, 5, Mode(ScaleMode::HalfSize), "The JPEG quality must be a whole number from 1 to 100."},
        {0, 101, 5, Mode(ScaleMode::HalfSize), "The JPEG quality must be a whole number from 1 to 100."},
        {1, 101, 5, Mode(ScaleMode::HalfSize), ""},  // no JPEG is written
        {4, 101, 5, Mode(ScaleMode::HalfSize), ""},  // PNG
        {5, 85, 5, Mode(ScaleMode::HalfSize), "Range check error"},
        {2, 85, 7, Mode(ScaleMode::HalfSize), "Range check error"},
    };
    for (const Case& c : cases) {
        TSettingsRecord settings;
        settings.OutputType = c.outputType;
        settings.JPEGQuality = c.quality;
        settings.Resampler = c.resampler;
        EXPECT_EQ(BatchRefusal(settings, c.choice), c.want)
            << "type " << c.outputType << " quality " << c.quality << " filter " << c.resampler << " '"
            << c.choice.WidthText << "' by '" << c.choice.HeightText << "'";
    }
}

TEST_F(PipelineTest, InvalidSpecialFieldsShowTheBoxAndDoNothingElse) {
    const std::string a = src.file("a.bmp");
    WriteBmp(a, 8, 6);
    for (const ScaleChoice& choice :
         {Special("", "px", "", "px"), Special("abc", "px", "5", "px"), Special("0", "px", "0", "%")}) {
        RecordingHost host(WorkDir());
        host.scale = choice;
        EXPECT_EQ(ProcessFiles(host, {a}), BatchOutcome::Rejected);
        ASSERT_EQ(host.events.size(), 1u) << "first event: " << (host.events.empty() ? std::string("(none)") : host.events.front());
        EXPECT_EQ(host.errors.at(0), kSpecialSizeMessage);
        EXPECT_EQ(host.begins, 0);
    }
    EXPECT_TRUE(fs::is_empty(work.path()));
}

TEST_F(PipelineTest, FullSizeWithoutRotationKeepsTheSourcePixelsAndCountsSixStepsPerFile) {
    const std::string a = src.file("a.bmp"), b = src.file("b.bmp");
    WriteBmp(a, 37, 21, 5);
    WriteBmp(b, 10, 40, 6);
    RecordingHost host(WorkDir());
    host.settings.OutputType = 1;  // .bmp
    host.scale = Mode(ScaleMode::FullSize);
    ASSERT_EQ(ProcessFiles(host, {a, b}), BatchOutcome::Completed);

    EXPECT_EQ(host.stepCount, 12);
    EXPECT_EQ(host.steps, 12);
    EXPECT_EQ(host.begins, 1);
    EXPECT_EQ(host.ends, 1);
    EXPECT_EQ(host.events.back(), "end");
    ASSERT_EQ(host.trays.Count(TTray::Out), 2u);
    EXPECT_EQ(host.trays.Entries(TTray::In)[0].Data, TpicData(21, 37, 24));
    EXPECT_EQ(host.trays.Entries(TTray::Out)[1].Data, TpicData(40, 10, 24));
    EXPECT_EQ(FirstPixelDifference(Load(WorkDir() + "a.bmp"), NoiseBitmap(37, 21, 5)), -1);
    EXPECT_EQ(FirstPixelDifference(Load(WorkDir() + "b.bmp"), NoiseBitmap(10, 40, 6)), -1);
    for (const TrayEntry& e : host.trays.Entries(TTray::Out)) EXPECT_TRUE(e.Written.has_value()) << e.Path;
}

TEST_F(PipelineTest, SizeAskedForDescribesThePictureAfterAQuarterTurn) {
    const std::string a = src.file("wide.bmp");
    WriteBmp(a, 1000, 750);
    RecordingHost host(WorkDir());
    host.settings.OutputType = 1;
    host.settings.PreserveAspectRatio = false;
    host.scale = Special("300", "px", "200", "px");
    host.scale.RotationIndex = 1;
    ASSERT_EQ(ProcessFiles(host, {a}), BatchOutcome::Completed);
    const TBitmap result = Load(WorkDir() + "wide.bmp");
    EXPECT_EQ(result.Width(), 300);
    EXPECT_EQ(result.Height(), 200);
    EXPECT_EQ(host.trays.Entries(TTray::In)[0].Data, TpicData(750, 1000, 24));
    EXPECT_EQ(host.trays.Entries(TTray::Out)[0].Data, TpicData(200, 300, 24));
}

TEST_F(PipelineTest, RepeatedSourcesGetNumberedNamesAndNothingIsOverwritten) {
    const std::string photo = src.file("photo.jpg");
    {
        TBitmap bmp = NoiseBitmap(40, 30);
        TJPEGImage jpg;
        jpg.AssignBitmap(bmp);
        jpg.WritePictureFile(photo);
    }
    RecordingHost host(WorkDir());
    for (int i = 0; i < 3; ++i) ASSERT_EQ(ProcessFiles(host, {photo}), BatchOutcome::Completed);
    EXPECT_EQ(host.trays.Paths(TTray::Out),
              (std::vector<std::string>{WorkDir() + "photo.jpg", WorkDir() + "photo-1.jpg", WorkDir() + "photo-2.jpg"}));
    const TBitmap half = Load(WorkDir() + "photo-2.jpg");
    EXPECT_EQ(half.Width(), 20);
    EXPECT_EQ(half.Height(), 15);

    // A file of the first candidate's name that is not ours stays as it is.
    testsupport::WriteFile(WorkDir() + "other.bmp", {'k', 'e', 'e', 'p'});
    WriteBmp(src.file("other.bmp"), 4, 4);
    host.settings.OutputType = 1;
    ASSERT_EQ(ProcessFiles(host, {src.file("other.bmp")}), BatchOutcome::Completed);
    EXPECT_EQ(testsupport::ReadFile(WorkDir() + "other.bmp"), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));
    EXPECT_TRUE(InWork("other-1.bmp"));
}

TEST_F(PipelineTest, PrefixSuffixAndGifOutput) {
    const std::string cat = src.file("cat.bmp");
    WriteBmp(cat, 16, 12);
    RecordingHost host(WorkDir());
    host.settings.Prefix = "small_";
    host.settings.Suffix = "_v";
    host.settings.OutputType = 3;
    ASSERT_EQ(ProcessFiles(host, {cat}), BatchOutcome::Completed);
    ASSERT_TRUE(InWork("small_cat_v.gif"));
    const TBitmap gif = Load(WorkDir() + "small_cat_v.gif");
    EXPECT_EQ(gif.Width(), 8);
    EXPECT_EQ(gif.Height(), 6);
}

TEST_F(PipelineTest, SameAsOriginalKeepsTheLetterCaseAndReportsUnwritableTypes) {
    const std::string scan = src.file("Scan.BMP");
    const std::string dib = src.file("pic.dib");
    const std::string last = src.file("last.bmp");
    WriteBmp(scan, 8, 8);
    WriteBmp(dib, 8, 8);
    WriteBmp(last, 8, 8);
    const std::string unknown = "Unknown output file type for file:" + WorkDir() + "pic.dib";
    for (bool stopAtFirstError : {false, true}) {
        SCOPED_TRACE(stopAtFirstError ? "stop at first error" : "go on");
        for (const auto& entry : fs::directory_iterator(work.path())) fs::remove(entry.path());
        RecordingHost host(WorkDir());
        host.settings.OutputType = 0;
        host.settings.StopAtFirstError = stopAtFirstError;
        // Either way the batch goes on; the box comes at once or in the list at the end.
        EXPECT_EQ(ProcessFiles(host, {scan, dib, last}),
                  stopAtFirstError ? BatchOutcome::Completed : BatchOutcome::Failures);
        EXPECT_TRUE(InWork("Scan.BMP"));
        EXPECT_TRUE(InWork("last.bmp"));
        EXPECT_FALSE(InWork("pic.dib"));
        EXPECT_EQ(host.errors, std::vector<std::string>{stopAtFirstError
                                                            ? unknown
                                                            : "1 of 3 files could not be converted:\npic.dib: " + unknown});
        // No Out entry for a file that was never written; the source stays, marked.
        EXPECT_EQ(host.trays.Paths(TTray::Out), (std::vector<std::string>{WorkDir() + "Scan.BMP", WorkDir() + "last.bmp"}));
        ASSERT_EQ(host.trays.Count(TTray::In), 3u);
        EXPECT_EQ(host.trays.Entries(TTray::In)[1].NotConverted, unknown);
        EXPECT_NE(host.trays.InfoTip(TTray::In, 1).find("\nNot converted: " + unknown), std::string::npos);
        EXPECT_TRUE(host.trays.Entries(TTray::In)[2].NotConverted.empty());
        EXPECT_EQ(host.steps, 18);
    }
}

TEST_F(PipelineTest, UnreadableFilesAreSkippedAndListedOrStopTheBatchWhenAsked) {
    const std::string a = src.file("a.bmp"), txt = src.file("notes.txt"), c = src.file("c.bmp");
    const std::string bad = src.file("bad.bmp"), missing = src.file("missing.bmp"), e = src.file("e.bmp");
    WriteBmp(a, 8, 8);
    std::ofstream(txt) << "not a picture";
    WriteBmp(c, 8, 8);
    std::ofstream(bad) << "BM but nothing after it";
    WriteBmp(e, 8, 8);
    const std::vector<std::string> files = {a, txt, c, bad, missing, e};
    for (bool stopAtFirstError : {false, true}) {
        SCOPED_TRACE(stopAtFirstError ? "stop at first error" : "go on");
        for (const auto& entry : fs::directory_iterator(work.path())) fs::remove(entry.path());
        RecordingHost host(WorkDir());
        host.settings.OutputType = 1;
        host.settings.StopAtFirstError = stopAtFirstError;
        std::string thrown;
        BatchOutcome outcome = BatchOutcome::Completed;
        try {
            outcome = ProcessFiles(host, files);
        } catch (const std::exception& error) {
            thrown = error.what();
        }
        EXPECT_EQ(host.ends, 1);
        // Nothing listed is lost: every path has its In entry, in order, converted or marked.
        EXPECT_EQ(host.trays.Paths(TTray::In), files);
        const std::vector<TrayEntry>& in = host.trays.Entries(TTray::In);
        if (stopAtFirstError) {
            EXPECT_EQ(thrown, "Unknown picture file extension (.txt)");
            EXPECT_TRUE(host.errors.empty());
            EXPECT_TRUE(InWork("a.bmp"));
            EXPECT_FALSE(InWork("c.bmp"));
            for (size_t i = 2; i < files.size(); ++i) EXPECT_EQ(in[i].NotConverted, kStoppedReason) << files[i];
            continue;
        }
        EXPECT_EQ(thrown, "");
        EXPECT_EQ(outcome, BatchOutcome::Failures);
        for (const char* name : {"a.bmp", "c.bmp", "e.bmp"}) EXPECT_TRUE(InWork(name)) << name;
        EXPECT_EQ(host.trays.Count(TTray::Out), 3u);
        ASSERT_EQ(host.errors.size(), 1u);
        const std::string& list = host.errors[0];
        // Exactly the bad files, in order, each with the reader's message.
        EXPECT_EQ(list.rfind("3 of 6 files could not be converted:\nnotes.txt: Unknown picture file extension (.txt)\nbad.bmp: ", 0), 0u) << list;
        EXPECT_NE(list.find("\nmissing.bmp: "), std::string::npos) << list;
        EXPECT_EQ(std::count(list.begin(), list.end(), '\n'), 3) << list;
        for (size_t i : {1u, 3u, 4u}) EXPECT_FALSE(in[i].NotConverted.empty()) << files[i];
        for (size_t i : {0u, 2u, 5u}) EXPECT_TRUE(in[i].NotConverted.empty()) << files[i];
        // The message was shown after the progress closed.
        EXPECT_EQ(host.events.back(), "error " + list);
    }
}

TEST_F(PipelineTest, NameConflictFailsThatFileOnly) {
    const std::string n = src.file("n.bmp"), after = src.file("after.bmp");
    WriteBmp(n, 4, 4);
    WriteBmp(after, 4, 4);
    std::ofstream(work.file("n.bmp")).put('x');
    for (int i = 1; i <= kMaxNameSuffix; ++i) std::ofstream(work.file("n-" + std::to_string(i) + ".bmp")).put('x');
    for (bool stopAtFirstError : {false, true}) {
        SCOPED_TRACE(stopAtFirstError ? "stop at first error" : "go on");
        fs::remove(work.path() / "after.bmp");
        RecordingHost host(WorkDir());
        host.settings.OutputType = 1;
        host.settings.StopAtFirstError = stopAtFirstError;
        if (stopAtFirstError) {
            EXPECT_EQ(ProcessFiles(host, {n, after}), BatchOutcome::Stopped);
            EXPECT_EQ(host.warnings, std::vector<std::string>{kNameConflictMessage});
            EXPECT_EQ(host.errors, std::vector<std::string>{"Couldn't load file: " + n});
            EXPECT_FALSE(InWork("after.bmp"));
        } else {
            EXPECT_EQ(ProcessFiles(host, {n, after}), BatchOutcome::Failures);
            EXPECT_TRUE(host.warnings.empty());
            EXPECT_EQ(host.errors, std::vector<std::string>{std::string("1 of 2 files could not be converted:\nn.bmp: ") +
                                                            kNameConflictMessage});
            EXPECT_TRUE(InWork("after.bmp"));
        }
        EXPECT_EQ(host.trays.Count(TTray::In), 2u);
        EXPECT_EQ(host.trays.Count(TTray::Out), stopAtFirstError ? 0u : 1u);
        EXPECT_EQ(host.ends, 1);
    }
}

TEST_F(PipelineTest, CancelTakesEffectBeforeTheNextFileAndKeepsTheRestListed) {
    std::vector<std::string> files;
    for (int i = 0; i < 5; ++i) {
        files.push_back(src.file("f" + std::to_string(i) + ".bmp"));
        WriteBmp(files.back(), 6, 6);
    }
    RecordingHost host(WorkDir());
    host.settings.OutputType = 1;
    host.cancelAfterFiles = 2;  // pressed while the second file runs
    EXPECT_EQ(ProcessFiles(host, files), BatchOutcome::Cancelled);
    EXPECT_EQ(host.filesStarted, 2);
    EXPECT_EQ(host.trays.Count(TTray::Out), 2u);
    EXPECT_TRUE(InWork("f1.bmp"));
    EXPECT_FALSE(InWork("f2.bmp"));
    EXPECT_EQ(host.steps, 12);
    EXPECT_EQ(host.ends, 1);
    EXPECT_EQ(host.trays.Paths(TTray::In), files);
    for (size_t i = 0; i < files.size(); ++i)
        EXPECT_EQ(host.trays.Entries(TTray::In)[i].NotConverted, i < 2 ? "" : kCancelledReason) << files[i];
}

TEST_F(PipelineTest, ControlsAreReadPerFileAndABadValueFailsThatFile) {
    const std::string a = src.file("a.bmp"), b = src.file("b.bmp");
    WriteBmp(a, 20, 20);
    WriteBmp(b, 20, 20);
    RecordingHost host(WorkDir());
    host.settings.OutputType = 1;
    host.scale = Special("10", "px", "10", "px");
    host.onFile = [&](const std::string& path) {
        if (path == b) host.scale.WidthText = "ten";
    };
    EXPECT_EQ(ProcessFiles(host, {a, b}), BatchOutcome::Failures);
    EXPECT_EQ(host.errors,
              std::vector<std::string>{"1 of 2 files could not be converted:\nb.bmp: 'ten' is not a valid integer value"});
    EXPECT_TRUE(InWork("a.bmp"));
    EXPECT_EQ(host.trays.Count(TTray::In), 2u);
    EXPECT_EQ(host.trays.Count(TTray::Out), 1u);
}

TEST_F(PipelineTest, FailedWritesStopTheBatchAndLeaveNoFileOrOutEntryBehind) {
    const std::string a = src.file("a.bmp"), b = src.file("b.bmp");
    WriteBmp(a, 8, 8);
    WriteBmp(b, 8, 8);
    {
        RecordingHost host(WorkDir());
        host.settings.JPEGQuality = 101;
        EXPECT_THROW(ProcessFiles(host, {a, b}), ERangeError);
        EXPECT_EQ(host.ends, 1);
        EXPECT_TRUE(fs::is_empty(work.path())) << "a partial result was left";
        EXPECT_EQ(host.trays.Count(TTray::Out), 0u);
        EXPECT_EQ(host.filesStarted, 1) << "the batch went on after a failed write";
    }
    {
        RecordingHost host(WorkDir() + "missing/");
        try {
            ProcessFiles(host, {a, b});
            FAIL() << "no error for a missing working folder";
        } catch (const EFCreateError& e) {
            EXPECT_NE(std::string(e.what()).find("Cannot create file \"" + WorkDir() + "missing/a.jpg\"."),
                      std::string::npos)
                << e.what();
        }
        EXPECT_FALSE(fs::exists(work.path() / "missing")) << "the working folder was created";
        EXPECT_EQ(host.trays.Count(TTray::Out), 0u);
        EXPECT_EQ(host.trays.Paths(TTray::In), (std::vector<std::string>{a, b}));
        EXPECT_FALSE(host.trays.Entries(TTray::In)[0].NotConverted.empty());
        EXPECT_EQ(host.trays.Entries(TTray::In)[1].NotConverted, kStoppedReason);
    }
    {
        // A bad filter index fails each file (it is read while converting), not the folder.
        RecordingHost host(WorkDir());
        host.settings.Resampler = 7;
        EXPECT_EQ(ProcessFiles(host, {a}), BatchOutcome::Failures);
        EXPECT_EQ(host.errors, std::vector<std::string>{"1 of 1 file could not be converted:\na.bmp: Range check error"});
        EXPECT_TRUE(fs::is_empty(work.path()));
    }
}

TEST_F(PipelineTest, ReservedNamesAreExclusiveAndDiscardedUnlessCommitted) {
    const std::string stem = WorkDir() + "r";
    std::optional<ReservedResult> first = ReservedResult::Create(stem, ".bmp");
    std::optional<ReservedResult> second = ReservedResult::Create(stem, ".bmp");
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->Path(), stem + ".bmp");
    EXPECT_EQ(second->Path(), stem + "-1.bmp");
    first->Stream().WriteBuffer("abc", 3);
    const FileIdentity id = first->Commit();
    EXPECT_EQ(id.Size, 3);
    first.reset();
    second.reset();
    EXPECT_TRUE(InWork("r.bmp"));
    EXPECT_FALSE(InWork("r-1.bmp"));
}

TEST_F(PipelineTest, ClearingDeletesOnlyTheResultsAsWritten) {
    // The source lies in the working folder itself.
    const std::string a = work.file("a.bmp"), b = work.file("b.bmp");
    WriteBmp(a, 8, 8);
    WriteBmp(b, 8, 8);
    RecordingHost host(WorkDir());
    host.settings.OutputType = 1;
    ASSERT_EQ(ProcessFiles(host, {a, b}), BatchOutcome::Completed);
    ASSERT_TRUE(InWork("a-1.bmp") && InWork("b-1.bmp"));
    // Someone replaces one result with a file of their own under the same name.
    fs::remove(work.path() / "b-1.bmp");
    testsupport::WriteFile(work.file("b-1.bmp"), {'m', 'i', 'n', 'e'});
    host.trays.Clear();
    EXPECT_FALSE(InWork("a-1.bmp"));
    EXPECT_TRUE(InWork("b-1.bmp"));
    EXPECT_TRUE(InWork("a.bmp") && InWork("b.bmp"));
    EXPECT_EQ(host.trays.Count(TTray::In), 0u);
    EXPECT_EQ(host.trays.Count(TTray::Out), 0u);
}

TEST_F(PipelineTest, AResultDroppedBackIntoTheInTrayIsASourceAndSurvivesClearing) {
    const std::string a = src.file("a.bmp");
    WriteBmp(a, 8, 8);
    RecordingHost host(WorkDir());
    host.settings.OutputType = 1;
    ASSERT_EQ(ProcessFiles(host, {a}), BatchOutcome::Completed);
    ASSERT_EQ(ProcessFiles(host, {WorkDir() + "a.bmp"}), BatchOutcome::Completed);
    ASSERT_TRUE(InWork("a-1.bmp"));
    host.trays.Clear();
    EXPECT_TRUE(InWork("a.bmp")) << "a file the In tray lists was deleted";
    EXPECT_FALSE(InWork("a-1.bmp"));
}

TEST_F(PipelineTest, EmptyBatchShowsAndClosesTheProgressOnly) {
    RecordingHost host(WorkDir());
    EXPECT_EQ(ProcessFiles(host, {}), BatchOutcome::Completed);
    EXPECT_EQ(host.events, (std::vector<std::string>{"begin 0", "end"}));
}

TEST(ErrorBox, FullStopIsAddedAfterTextsEndingAboveTheDot) {
    EXPECT_EQ(ErrorBoxText("Range check error"), "Range check error.");
    EXPECT_EQ(ErrorBoxText("Unknown picture file extension (.xyz)"), "Unknown picture file extension (.xyz)");
    EXPECT_EQ(ErrorBoxText("Done."), "Done.");
    EXPECT_EQ(ErrorBoxText(""), "");
}
