// imbrix-batch as a user runs it: real files, real processes, exit statuses.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "app/core/picture_formats.h"
#include "graphics/bitmap.h"
#include "graphics/picture.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using testsupport::NoiseBitmap;
using testsupport::TempDir;

namespace {

struct RunResult {
    int status = -1;
    std::string out, err;
};

std::string Quote(const std::string& s) { return "'" + s + "'"; }

std::string Slurp(const std::string& path) {
    std::error_code ec;
    if (!fs::exists(path, ec)) return {};
    const std::vector<uint8_t> bytes = testsupport::ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
}

class BatchTest : public ::testing::Test {
protected:
    void SetUp() override { RegisterPictureFormats(); }

    RunResult Batch(const std::string& args) {
        const std::string out = logs.file("out" + std::to_string(runs)), err = logs.file("err" + std::to_string(runs));
        ++runs;
        RunResult r;
        r.status = testsupport::RunCommand(std::string(IMBRIX_BATCH) + " " + args + " >" + out + " 2>" + err + " </dev/null");
        r.out = Slurp(out);
        r.err = Slurp(err);
        return r;
    }
    std::string Bmp(const std::string& name, int w, int h, uint32_t seed = 1) {
        const std::string path = src.file(name);
        TBitmap bmp = NoiseBitmap(w, h, seed);
        bmp.WritePictureFile(path);
        return path;
    }
    static TBitmap Load(const std::string& path) {
        TPicture picture;
        picture.LoadPictureFile(path);
        TBitmap bmp(picture.Width(), picture.Height());
        picture.Graphic()->Draw(bmp, Rect(0, 0, bmp.Width(), bmp.Height()));
        return bmp;
    }

    TempDir src, work, logs;
    int runs = 0;
};

}  // namespace

TEST_F(BatchTest, FullSizeBitmapIsWrittenIntoTheWorkingFolderAndItsPathPrinted) {
    const std::string picture = Bmp("picture.bmp", 33, 17, 4);
    const RunResult r = Batch("-s full -t bmp -o " + Quote(work.path().string()) + " " + Quote(picture));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, work.file("picture.bmp") + "\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(testsupport::FirstPixelDifference(Load(work.file("picture.bmp")), NoiseBitmap(33, 17, 4)), -1);
}

TEST_F(BatchTest, SpecialSizeKeepsTheProportionsTheWindowWould) {
    const std::string picture = Bmp("big.bmp", 1000, 750);
    const RunResult r = Batch("-W 640 -H 480 -t bmp -o " + Quote(work.path().string()) + " " + Quote(picture));
    ASSERT_EQ(r.status, 0) << r.err;
    const TBitmap result = Load(work.file("big.bmp"));
    EXPECT_EQ(result.Width(), 639);
    EXPECT_EQ(result.Height(), 480);

    // One side alone: the other follows the picture; turned right, the width is the new width.
    const RunResult turned = Batch("-W 50% -r right -t bmp --prefix t_ -o " + Quote(work.path().string()) + " " + Quote(picture));
    ASSERT_EQ(turned.status, 0) << turned.err;
    const TBitmap t = Load(work.file("t_big.bmp"));
    EXPECT_EQ(t.Width(), 375);
    EXPECT_EQ(t.Height(), 500);
}

TEST_F(BatchTest, BadFilesAreListedAtTheEndUnlessTheFirstOneStopsTheBatch) {
    const std::string good = Bmp("good.bmp", 4, 4);
    const std::string missing = src.file("missing.bmp");
    const std::string notes = src.file("notes.txt");
    std::ofstream(notes) << "text";
    const std::string other = Bmp("other.bmp", 4, 4);
    const std::string files = Quote(good) + " " + Quote(missing) + " " + Quote(notes) + " " + Quote(other);
    const std::string cannotOpen = "Cannot open file \"" + missing + "\". No such file or directory";

    const RunResult r = Batch("-t bmp -o " + Quote(work.path().string()) + " " + files);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, work.file("good.bmp") + "\n" + work.file("other.bmp") + "\n") << "a good file was not converted";
    EXPECT_EQ(r.err, "2 of 4 files could not be converted:\nmissing.bmp: " + cannotOpen +
                         "\nnotes.txt: Unknown picture file extension (.txt)\n");

    const RunResult stop = Batch("--stop-at-first-error -t bmp --prefix s_ -o " + Quote(work.path().string()) + " " + files);
    EXPECT_EQ(stop.status, 1);
    EXPECT_EQ(stop.out, work.file("s_good.bmp") + "\n") << "the file after the failure was processed";
    EXPECT_EQ(stop.err, cannotOpen + ".\n");
}

TEST_F(BatchTest, AnUnwritableOutputTypeIsReportedButTheOthersGoOn) {
    const std::string dib = src.file("p.dib");
    NoiseBitmap(4, 4).WritePictureFile(dib);
    const std::string scan = Bmp("Scan.BMP", 4, 4);
    const RunResult r = Batch("-t same -o " + Quote(work.path().string()) + " " + Quote(dib) + " " + Quote(scan));
    EXPECT_EQ(r.status, 1) << "a file without a result must not look like success";
    EXPECT_EQ(r.err, "1 of 2 files could not be converted:\np.dib: Unknown output file type for file:" +
                         work.file("p.dib") + "\n");
    EXPECT_EQ(r.out, work.file("Scan.BMP") + "\n");
    EXPECT_FALSE(fs::exists(work.file("p.dib")));
}

TEST_F(BatchTest, UsageErrorsExitTwoAndHelpListsTheOptions) {
    const std::string p = Bmp("p.bmp", 4, 4);
    const std::string wd = " -o " + Quote(work.path().string()) + " ";
    for (const std::string& args : {std::string("--bogus ") + p, "-q 0" + wd + p, "-q 101" + wd + p, "-W abc" + wd + p,
                                    "-t tif" + wd + p, "--max-size 50K" + wd + p, "--max-size -1" + wd + p,
                                    "-s full -W 10" + wd + p, std::string("-t bmp"), std::string("-r"),
                                    "-o " + Quote(work.file("missing")) + " " + p}) {
        const RunResult r = Batch(args);
        EXPECT_EQ(r.status, 2) << args << ": " << r.err;
        EXPECT_NE(r.err.find("imbrix-batch: "), std::string::npos) << args;
    }
    const RunResult zero = Batch("-W 0 -H 0" + wd + p);
    EXPECT_EQ(zero.status, 2);
    EXPECT_NE(zero.err.find("you need to enter a value greater than zero"), std::string::npos) << zero.err;
    EXPECT_TRUE(fs::is_empty(work.path()));

    const RunResult help = Batch("--help");
    EXPECT_EQ(help.status, 0);
    for (const char* option : {"--rotate", "--scale", "--width", "--height", "--keep-aspect", "--filter", "--type",
                               "--quality", "--max-size", "--workdir", "--prefix", "--suffix", "--no-auto-orient", "--version",
                               "same|bmp|jpg|gif|png"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option << " missing from --help";
    EXPECT_EQ(help.out.rfind("Usage: imbrix-batch ", 0), 0u) << help.out;

    // GNU form: "program (package) version" first, on standard output, with nothing processed.
    const RunResult version = Batch("--version");
    EXPECT_EQ(version.status, 0) << version.err;
    EXPECT_EQ(version.out.rfind("imbrix-batch (Imbrix) " IMBRIX_VERSION "\n", 0), 0u) << version.out;
    EXPECT_TRUE(version.err.empty()) << version.err;
    EXPECT_EQ(Batch("--version=1").status, 2);
}

TEST_F(BatchTest, RacingBatchesNeverOverwriteEachOther) {
    const int kFiles = 12;
    const std::string photo = Bmp("photo.bmp", 400, 300, 7);
    std::string files;
    // The same source twelve times in each of two processes started together.
    for (int i = 0; i < kFiles; ++i) files += " " + Quote(photo);
    const std::string cmd = std::string(IMBRIX_BATCH) + " -t bmp -s full -o " + Quote(work.path().string()) + files;
    const std::string a = logs.file("a"), b = logs.file("b");
    // Both batches must succeed: the status is the second's, or the first's if that failed.
    ASSERT_EQ(testsupport::RunCommand("(" + cmd + " >" + a + " & first=$!; " + cmd + " >" + b +
                                      "; second=$?; wait $first && exit $second)"),
              0);
    std::set<std::string> printed;
    size_t lines = 0;
    for (const std::string& out : {Slurp(a), Slurp(b)}) {
        std::istringstream in(out);
        for (std::string line; std::getline(in, line); ++lines) printed.insert(line);
    }
    EXPECT_EQ(lines, size_t(2 * kFiles));
    EXPECT_EQ(printed.size(), size_t(2 * kFiles)) << "two processes reported the same result name";
    size_t onDisk = 0;
    const TBitmap want = NoiseBitmap(400, 300, 7);
    for (const auto& entry : fs::directory_iterator(work.path())) {
        ++onDisk;
        EXPECT_EQ(testsupport::FirstPixelDifference(Load(entry.path().string()), want), -1) << entry.path();
    }
    EXPECT_EQ(onDisk, size_t(2 * kFiles));
}

TEST_F(BatchTest, PngResultsAndTheJpegSizeLimit) {
    const std::string p = Bmp("noise.bmp", 160, 120, 3);
    const std::string wd = " -s full -o " + Quote(work.path().string()) + " ";
    struct Case {
        std::string args, result;
        int64_t maxBytes;      // -1: no limit to check
        bool overMessage;
    } cases[] = {
        {"-t png", "noise.png", -1, false},
        {"--max-size 30", "noise.jpg", 30 * 1024, false},
        {"--max-size=1 -q 50", "noise-1.jpg", -1, true},  // noise does not fit 1 KB at any quality
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        const RunResult r = Batch(c.args + wd + p);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, work.file(c.result) + "\n");
        if (c.maxBytes >= 0) {
            EXPECT_LE(int64_t(fs::file_size(work.file(c.result))), c.maxBytes);
        }
        if (c.overMessage) {
            EXPECT_EQ(r.err.rfind(work.file(c.result) + ": Over the 1K limit even at JPEG quality 10 (", 0), 0u) << r.err;
        } else {
            EXPECT_EQ(r.err, "");
        }
    }
    // Lossless: the PNG holds the source's pixels.
    const TBitmap png = Load(work.file("noise.png"));
    EXPECT_EQ(testsupport::FirstPixelDifference(png, NoiseBitmap(160, 120, 3)), -1);
}
