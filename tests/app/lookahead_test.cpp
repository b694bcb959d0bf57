// The look-ahead path against the sequential one: the same host calls in the same order and
// the same result files, byte for byte, for every output type, filter and turn, odd sizes, a
// bad file in the middle of the batch, stopping at it, a cancel, and a file that appears only
// while the batch runs.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "app/core/lookahead_loader.h"
#include "app/core/picture_formats.h"
#include "app/core/pipeline.h"
#include "graphics/bitmap.h"
#include "graphics/picture.h"
#include "graphics/warning_sink.h"
#include "gif/gif_image.h"
#include "jpeg/jpeg_image.h"
#include "tests/app/recording_host.h"
#include "app/core/working_bitmap.h"
#include "imageops/resample.h"
#include "tests/support/png_chunks.h"
#include "tests/support/reference_decoders.h"
#include "tests/support/test_profiles.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using testsupport::NoiseBitmap;
using testsupport::TempDir;

namespace {

struct BatchRun {
    std::vector<std::string> events;  // the working folder written as "WORK/"
    std::map<std::string, std::string> files;  // name -> bytes
    std::string outcome;
};

std::string Bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// Records each tray entry's thumbnail too (as a checksum of its rows), so that a working
// bitmap that differs shows even where the result files agree.
struct ThumbnailRecordingHost : RecordingHost {
    using RecordingHost::RecordingHost;
    bool thumbnails = true;  // false: as imbrix-batch, which shows none
    bool ShowsThumbnails() override { return thumbnails; }
    void AddToTray(TTray tray, const std::string& path, const TpicData& data, TBitmap thumbnail) override {
        uint64_t sum = 1469598103934665603ull;
        for (int y = 0; y < thumbnail.Height(); ++y)
            for (size_t x = 0; x < (size_t(thumbnail.Width()) * thumbnail.BitsPerPixel() + 7) / 8; ++x) sum = (sum ^ thumbnail.ScanLine(y)[x]) * 1099511628211ull;
        RecordingHost::AddToTray(tray, path, data, std::move(thumbnail));
        events.push_back("thumbnail " + std::to_string(sum));
    }
};

struct Case {
    const char* name;
    int outputType;  // 0 same, 1 bmp, 2 jpg, 3 gif
    int filter;
    int rotation;
    ScaleMode scale;
    bool stopAtFirstError = false;
    int cancelAfterFiles = -1;
};

class LookAheadTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterPictureFormats();
        TFileFormatsList& table = PictureFormatTable();
        if (!table.FindPictureClass("jpg")) table.AddPictureFormat("jpg", "JPEG", &TJPEGImage::ClassInfo);
        if (!table.FindPictureClass("gif")) table.AddPictureFormat("gif", "GIF", &TGIFImage::ClassInfo);
        // Odd sizes in every writable type, and one broken file in the middle.
        NoiseBitmap(37, 23, 1).WritePictureFile(src.file("a.bmp"));
        {
            TBitmap noise = NoiseBitmap(51, 33, 2);
            TJPEGImage jpg;
            jpg.SetQuality(90);
            jpg.AssignBitmap(noise);
            jpg.WritePictureFile(src.file("b.jpg"));
        }
        std::ofstream(src.file("broken.jpg"), std::ios::binary) << "\xff\xd8\xff\xe0 not really";
        {
            TBitmap noise = NoiseBitmap(29, 41, 3);
            TGIFImage gif;
            gif.AssignBitmap(noise);
            gif.WritePictureFile(src.file("c.gif"));
        }
        NoiseBitmap(64, 17, 4).WritePictureFile(src.file("d.bmp"));
        paths = {src.file("a.bmp"), src.file("b.jpg"), src.file("broken.jpg"), src.file("c.gif"), src.file("d.bmp")};
    }
    void TearDown() override { SetLookAheadEnabled(true); }

    BatchRun Batch(const Case& c, bool lookAhead, const std::function<void(RecordingHost&)>& adjust = {},
                   bool thumbnails = true) {
        SetLookAheadEnabled(lookAhead);
        TempDir work;
        const std::string dir = work.path().string() + "/";
        ThumbnailRecordingHost host(dir);
        host.thumbnails = thumbnails;
        host.settings.OutputType = c.outputType;
        host.settings.Resampler = c.filter;
        host.settings.StopAtFirstError = c.stopAtFirstError;
        host.scale.Scale = c.scale;
        host.scale.RotationIndex = c.rotation;
        host.cancelAfterFiles = c.cancelAfterFiles;
        if (adjust) adjust(host);
        BatchRun run;
        try {
            run.outcome = std::to_string(static_cast<int>(ProcessFiles(host, paths)));
        } catch (const std::exception& error) {
            run.outcome = std::string("thrown: ") + error.what();
        }
        for (std::string event : host.events) {
            for (size_t at; (at = event.find(dir)) != std::string::npos;) event.replace(at, dir.size(), "WORK/");
            run.events.push_back(event);
        }
        for (const auto& entry : fs::directory_iterator(work.path()))
            run.files[entry.path().filename().string()] = Bytes(entry.path());
        return run;
    }

    TempDir src;
    std::vector<std::string> paths;
};

std::string Describe(const BatchRun& run) {
    std::string text = "outcome " + run.outcome + "\n";
    for (const std::string& e : run.events) text += "  " + e + "\n";
    for (const auto& [name, bytes] : run.files) text += "  file " + name + " (" + std::to_string(bytes.size()) + " bytes)\n";
    return text;
}

void ExpectSameRuns(const BatchRun& sequential, const BatchRun& lookAhead) {
    EXPECT_EQ(sequential.outcome, lookAhead.outcome);
    EXPECT_EQ(sequential.events, lookAhead.events) << "sequential:\n" << Describe(sequential) << "look-ahead:\n"
                                                   << Describe(lookAhead);
    ASSERT_EQ(sequential.files.size(), lookAhead.files.size()) << Describe(sequential) << Describe(lookAhead);
    for (const auto& [name, bytes] : sequential.files) {
        auto other = lookAhead.files.find(name);
        ASSERT_NE(other, lookAhead.files.end()) << name;
        EXPECT_TRUE(bytes == other->second) << name << " differs";
    }
}

}  // namespace

TEST_F(LookAheadTest, ResultsAndHostCallsMatchTheSequentialPath) {
    const Case cases[] = {
        {"same type, box, no turn", 0, 0, 0, ScaleMode::HalfSize},
        {"bmp, triangle, right", 1, 1, 1, ScaleMode::HalfSize},
        {"jpg, hermite, flip", 2, 2, 2, ScaleMode::QuarterSize},
        {"gif, bell, left", 3, 3, 3, ScaleMode::HalfSize},
        {"jpg, b-spline, right, full size", 2, 4, 1, ScaleMode::FullSize},
        {"bmp, lanczos3, no turn", 1, 5, 0, ScaleMode::QuarterSize},
        {"jpg, mitchell, left", 2, 6, 3, ScaleMode::HalfSize},
        {"stop at the broken file", 2, 5, 0, ScaleMode::HalfSize, true},
        {"cancel before the second file", 1, 5, 1, ScaleMode::HalfSize, false, 1},
        {"cancel before the fourth file", 3, 0, 0, ScaleMode::HalfSize, false, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const BatchRun sequential = Batch(c, false);
        const BatchRun lookAhead = Batch(c, true);
        ExpectSameRuns(sequential, lookAhead);
        // The runs did real work: results exist unless the batch was cancelled at once.
        if (c.cancelAfterFiles != 1) {
            EXPECT_FALSE(sequential.files.empty());
        }
    }
}

TEST_F(LookAheadTest, AFileMendedWhileTheBatchRunsIsReadInItsTurn) {
    // broken.jpg is read ahead while it is broken and mended (renamed into place whole) as its
    // turn comes: the look-ahead's failure is not reported, the batch reads the file again.
    const std::string mended = src.file("mended.jpg"), broken = src.file("broken.jpg");
    const Case c{"mended", 1, 1, 0, ScaleMode::HalfSize};
    auto mend = [&](RecordingHost& host) {
        std::ofstream(broken, std::ios::binary | std::ios::trunc) << "\xff\xd8 broken";
        host.onFile = [&](const std::string& path) {
            if (path == broken) fs::copy_file(mended, src.file("mended.tmp"), fs::copy_options::overwrite_existing),
                                fs::rename(src.file("mended.tmp"), broken);
        };
    };
    {
        TBitmap noise = NoiseBitmap(9, 7, 5);
        TJPEGImage jpg;
        jpg.AssignBitmap(noise);
        jpg.WritePictureFile(mended);
    }
    const BatchRun sequential = Batch(c, false, mend);
    const BatchRun lookAhead = Batch(c, true, mend);
    ExpectSameRuns(sequential, lookAhead);
    EXPECT_EQ(lookAhead.files.size(), paths.size()) << Describe(lookAhead);
}

TEST_F(LookAheadTest, SettingsChangedWhileTheBatchRunsApplyFromTheFileInTurn) {
    // The next file is loaded (and resampled) ahead with the settings of its start; changed
    // before its turn, they apply to it as they would in turn.
    struct Change {
        const char* name;
        std::function<void(RecordingHost&)> apply;
    };
    const Change changes[] = {
        {"scale", [](RecordingHost& host) { host.scale.Scale = ScaleMode::QuarterSize; }},
        {"filter", [](RecordingHost& host) { host.settings.Resampler = 1; }},
        {"quality", [](RecordingHost& host) { host.settings.JPEGQuality = 40; }},
        {"turn", [](RecordingHost& host) { host.scale.RotationIndex = 1; }},
    };
    // JPEGs, whose resampling follows their decoding.
    paths.clear();
    for (int i = 0; i < 4; ++i) {
        TBitmap noise = NoiseBitmap(40 + 7 * i, 30 + 5 * i, 10 + i);
        TJPEGImage jpg;
        jpg.AssignBitmap(noise);
        paths.push_back(src.file("p" + std::to_string(i) + ".jpg"));
        jpg.WritePictureFile(paths.back());
    }
    const Case c{"jpg, lanczos3", 2, 5, 0, ScaleMode::HalfSize};
    for (const Change& change : changes) {
        SCOPED_TRACE(change.name);
        auto changeAtTheThirdFile = [&](RecordingHost& host) {
            host.onFile = [&host, &change, third = paths[2]](const std::string& path) {
                if (path == third) change.apply(host);
            };
        };
        ExpectSameRuns(Batch(c, false, changeAtTheThirdFile, false), Batch(c, true, changeAtTheThirdFile, false));
    }
}

TEST(LookAheadLoader, HandsOverOnlyTheFileItWasStartedFor) {
    // Warnings of a load are shown by Take, on the taking thread; a failed, dropped or refused
    // load's never (the file is loaded again in its turn and warns then).
    std::vector<std::string> shown;
    const std::thread::id batchThread = std::this_thread::get_id();
    WarningSink previous = SetWarningSink([&](const std::string& message) {
        EXPECT_EQ(std::this_thread::get_id(), batchThread) << message;
        shown.push_back(message);
    });
    std::vector<std::string> loaded;  // read after each Take/Abandon, which join the worker
    LookAheadLoader<StoredWorkingBitmap> loader;
    auto load = [&](std::string path) {
        return [&loaded, path]() -> StoredWorkingBitmap {
            loaded.push_back(path);
            ShowWarning("warning from " + path);
            if (path == "fails") throw std::runtime_error("no");
            return {std::make_unique<TBitmap>(static_cast<int>(path.size()), 1, TPixelFormat::pf24bit), 6};
        };
    };
    struct Step {
        const char* start;  // "" for none
        const char* take;
        bool usable;  // what the taker makes of the result
        int width;    // of the bitmap handed over, -1 for none
    };
    const Step steps[] = {{"abc", "abc", true, 3},  {"abcd", "other", true, -1}, {"fails", "fails", true, -1},
                          {"", "abc", true, -1},    {"abcde", "abcde", false, -1}, {"ab", "ab", true, 2}};
    for (const Step& s : steps) {
        SCOPED_TRACE(std::string(s.start) + " / " + s.take);
        if (*s.start) loader.Start(s.start, load(s.start));
        const std::optional<StoredWorkingBitmap> got =
            loader.Take(s.take, [&](const StoredWorkingBitmap&) { return s.usable; });
        EXPECT_EQ(got ? got->bitmap->Width() : -1, s.width);
        if (got) {
            EXPECT_EQ(got->orientation, 6);
        }
        EXPECT_FALSE(loader.Pending());
    }
    EXPECT_EQ(loaded, (std::vector<std::string>{"abc", "abcd", "fails", "abcde", "ab"}));
    EXPECT_EQ(shown, (std::vector<std::string>{"warning from abc", "warning from ab"}));
    loader.Start("left running", load("left running"));  // dropped by Abandon
    loader.Abandon();
    EXPECT_EQ(shown.size(), 2u);
    SetWarningSink(std::move(previous));
}

namespace {

std::string FileBytes(const std::string& path) { return Bytes(path); }

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string JpegOf(const TBitmap& picture, bool progressive, const std::string& path) {
    TBitmap copy = picture;
    TJPEGImage jpg;
    jpg.SetQuality(88);
    jpg.SetProgressiveSave(progressive);
    jpg.AssignBitmap(copy);
    jpg.WritePictureFile(path);
    return FileBytes(path);
}

// The JPEG as a phone saves it: an EXIF orientation (APP1) and, if given, an embedded
// profile (one APP2 chunk), after the start marker.
std::string AsPhoneSaves(const std::string& jpeg, int orientation, const std::vector<uint8_t>& profile = {}) {
    auto segment = [](uint8_t marker, const std::string& payload) {
        const size_t length = payload.size() + 2;
        return std::string{'\xff', char(marker), char(length >> 8), char(length & 0xff)} + payload;
    };
    const std::string exif = std::string("Exif\0\0II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0", 24) +
                             char(orientation) + std::string(7, '\0');
    std::string segments = segment(0xE1, exif);
    if (!profile.empty())
        segments += segment(0xE2, std::string("ICC_PROFILE\0\x01\x01", 14) +
                                      std::string(profile.begin(), profile.end()));
    return jpeg.substr(0, 2) + segments + jpeg.substr(2);
}

// picture as an 8-bit RGB PNG (gray when asked), its rows unfiltered, with the chunks given
// before the image data, which is split into two IDAT chunks after splitRow rows (the second
// with a wrong CRC when asked).
std::string PngOf(const TBitmap& picture, std::initializer_list<std::vector<uint8_t>> before, int splitRow,
                  bool gray = false, bool badSecondCrc = false) {
    using testsupport::Chunk;
    std::vector<uint8_t> raw;
    for (int y = 0; y < picture.Height(); ++y) {
        raw.push_back(0);
        const uint8_t* row = picture.ScanLine(y);
        for (int x = 0; x < picture.Width(); ++x)
            if (gray)
                raw.push_back(row[3 * x + 1]);
            else
                raw.insert(raw.end(), {row[3 * x + 2], row[3 * x + 1], row[3 * x]});
    }
    const std::vector<uint8_t> data = testsupport::Deflate(raw);
    const size_t split = data.size() * size_t(splitRow) / size_t(picture.Height());
    std::vector<uint8_t> second = Chunk("IDAT", std::vector<uint8_t>(data.begin() + split, data.end()));
    if (badSecondCrc) second.back() ^= 1;
    std::vector<uint8_t> file = testsupport::Png(
        {testsupport::Ihdr(picture.Width(), picture.Height(), 8, gray ? 0 : 2)});
    for (const auto& chunk : before) file.insert(file.end(), chunk.begin(), chunk.end());
    for (const auto& chunk : {Chunk("IDAT", std::vector<uint8_t>(data.begin(), data.begin() + split)), second,
                              Chunk("IEND", {})})
        file.insert(file.end(), chunk.begin(), chunk.end());
    return std::string(file.begin(), file.end());
}

// picture as a little-endian, uncompressed RGB TIFF of 16-row strips (the directory first).
std::string TiffOf(const TBitmap& picture) {
    const uint32_t w = picture.Width(), h = picture.Height(), strips = (h + 15) / 16;
    const uint16_t tags[][2] = {{256, 4}, {257, 4}, {258, 3}, {259, 3}, {262, 3}, {273, 4},
                                {277, 3}, {278, 4}, {279, 4}, {284, 3}};
    const uint32_t count = sizeof tags / sizeof tags[0];
    const uint32_t offsetsAt = 8 + 2 + count * 12 + 4, countsAt = offsetsAt + 4 * strips, bitsAt = countsAt + 4 * strips;
    const uint32_t pixelsAt = bitsAt + 6;
    const uint32_t values[] = {w, h, bitsAt, 1, 2, offsetsAt, 3, 16, countsAt, 1};
    std::string out("II*\0\x08\0\0\0", 8);
    auto put = [&out](uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) out += char(v >> (8 * i));
    };
    put(count, 2);
    for (uint32_t i = 0; i < count; ++i) {
        const bool many = tags[i][0] == 258 || ((tags[i][0] == 273 || tags[i][0] == 279) && strips > 1);
        put(tags[i][0], 2), put(tags[i][1], 2), put(tags[i][0] == 258 ? 3 : tags[i][0] == 273 || tags[i][0] == 279 ? strips : 1, 4);
        put(values[i], tags[i][1] == 3 && !many ? 2 : 4);
        if (tags[i][1] == 3 && !many) put(0, 2);
    }
    put(0, 4);
    for (uint32_t k = 0; k < strips; ++k) put(pixelsAt + k * 16 * w * 3, 4);
    for (uint32_t k = 0; k < strips; ++k) put(std::min(16u, h - 16 * k) * w * 3, 4);
    put(8, 2), put(8, 2), put(8, 2);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            for (int c : {2, 1, 0}) out += char(picture.ScanLine(int(y))[3 * x + c]);
    return out;
}

}  // namespace

// JPEGs, PNGs, TIFFs and PPMs loaded in their turn are decoded on a thread of their own with
// the resampler following: whole, cut short (damaged part-way), failing part-way or at the end of the data
// and failing before the first row, alone and in one batch, give what the sequential steps
// give; so do they for a host without thumbnails, whose JPEG rows pass through a ring.
TEST_F(LookAheadTest, ResamplingThatFollowsTheDecodingMatchesTheSequentialPath) {
    const std::string big = src.file("big.jpg");
    const std::string whole = JpegOf(NoiseBitmap(640, 480, 11), false, big);
    // Cut short in the middle of the picture's data: the rest comes out gray, with a warning.
    WriteBytes(src.file("cut.jpg"), whole.substr(0, whole.size() * 11 / 20));
    // A second frame header after the cut: every row comes, then the end of the data fails.
    WriteBytes(src.file("tail.jpg"), whole.substr(0, whole.size() / 2) + std::string("\xff\xc0\x00\x0b\x08\x00\x10\x00\x10\x01\x01\x11\x00\xff\xd9", 15));
    // A progressive file whose second scan asks for coefficients past the last one: it
    // fails while the scans are read, before any row.
    std::string progressive = JpegOf(NoiseBitmap(333, 211, 12), true, src.file("odd.jpg"));
    const size_t first = progressive.find("\xff\xda");
    const size_t second = progressive.find("\xff\xda", first + 2);
    ASSERT_NE(second, std::string::npos);
    const size_t components = static_cast<uint8_t>(progressive[second + 4]);
    progressive[second + 5 + 2 * components] = 0x50;  // Ss
    WriteBytes(src.file("scan.jpg"), progressive);
    // Phone pictures: resampled as stored and turned upright after, their colours converted
    // as the rows come.
    const std::vector<uint8_t> p3 = testsupport::DisplayP3Profile();
    WriteBytes(src.file("o6.jpg"), AsPhoneSaves(whole, 6));
    WriteBytes(src.file("p3o8.jpg"), AsPhoneSaves(whole, 8, p3));
    WriteBytes(src.file("p3o2.jpg"), AsPhoneSaves(FileBytes(src.file("odd.jpg")), 2, p3));
    WriteBytes(src.file("p3cut.jpg"), AsPhoneSaves(whole.substr(0, whole.size() * 11 / 20), 5, p3));
    WriteBytes(src.file("p3cutupright.jpg"), AsPhoneSaves(whole.substr(0, whole.size() * 3 / 5), 1, p3));
    // PNGs, whose reader tells its rows final as it decodes them: plain, with a profile, cut
    // short (the rest is background, with a warning), failing part-way (a bad CRC on the
    // second half of the data), and two the working bitmap does not take as they are (a
    // transparent colour, gray levels).
    const TBitmap pngNoise = NoiseBitmap(641, 479, 13);
    const std::string png = PngOf(pngNoise, {}, 200);
    WriteBytes(src.file("big.png"), png);
    {
        std::vector<uint8_t> iccp = {'P', '3', 0, 0};
        const std::vector<uint8_t> packed = testsupport::Deflate(p3);
        iccp.insert(iccp.end(), packed.begin(), packed.end());
        WriteBytes(src.file("p3.png"), PngOf(NoiseBitmap(333, 211, 14), {testsupport::Chunk("iCCP", iccp)}, 100));
    }
    WriteBytes(src.file("cut.png"), png.substr(0, png.size() * 3 / 5));
    WriteBytes(src.file("fails.png"), PngOf(pngNoise, {}, 300, false, true));
    WriteBytes(src.file("trns.png"), PngOf(pngNoise, {testsupport::Chunk("tRNS", {0, 1, 0, 2, 0, 3})}, 200));
    WriteBytes(src.file("gray.png"), PngOf(pngNoise, {}, 200, true));
    // TIFF and PPM tell their rows too; a TIFF whose last strips lie past the end of the file
    // ends in white rows.
    const std::string tiff = TiffOf(NoiseBitmap(322, 241, 15));
    WriteBytes(src.file("strips.tif"), tiff);
    WriteBytes(src.file("short.tif"), tiff.substr(0, tiff.size() * 2 / 3));
    {
        const TBitmap ppmNoise = NoiseBitmap(201, 133, 16);
        std::string ppm = "P6\n201 133\n255\n";
        for (int y = 0; y < ppmNoise.Height(); ++y)
            for (int x = 0; x < ppmNoise.Width(); ++x)
                for (int c : {2, 1, 0}) ppm += char(ppmNoise.ScanLine(y)[3 * x + c]);
        WriteBytes(src.file("noise.ppm"), ppm);
    }

    struct FollowCase {
        const char* name;
        std::vector<std::string> files;
        Case settings;
        bool follows;  // the streamed path is taken at least once
        bool encodesAsItGoes = false;  // a result is written as encoded while resampled
    };
    const std::vector<std::string> all = {"big.jpg", "cut.jpg", "tail.jpg", "scan.jpg", "odd.jpg"};
    const FollowCase batches[] = {
        {"whole, jpg, lanczos3", {"big.jpg"}, {"", 2, 5, 0, ScaleMode::HalfSize}, true, true},
        {"whole, bmp, mitchell, turned", {"big.jpg"}, {"", 1, 6, 1, ScaleMode::QuarterSize}, true},
        {"whole, full size", {"big.jpg"}, {"", 1, 0, 0, ScaleMode::FullSize}, false},
        {"odd size, gif, bell", {"odd.jpg"}, {"", 3, 3, 3, ScaleMode::HalfSize}, true},
        {"odd size, jpg, triangle", {"odd.jpg"}, {"", 2, 1, 0, ScaleMode::QuarterSize}, true, true},
        {"cut short, bmp, triangle", {"cut.jpg"}, {"", 1, 1, 0, ScaleMode::HalfSize}, true},
        {"fails at the end, jpg, box", {"tail.jpg"}, {"", 2, 0, 0, ScaleMode::HalfSize}, true},
        {"fails before the first row", {"scan.jpg"}, {"", 1, 4, 2, ScaleMode::QuarterSize}, true},
        {"all, going on past failures", all, {"", 2, 5, 0, ScaleMode::HalfSize}, true, true},
        {"all, stopping at the first", all, {"", 1, 2, 0, ScaleMode::HalfSize, true}, true},
        {"orientation 6, jpg, lanczos3", {"o6.jpg"}, {"", 2, 5, 0, ScaleMode::HalfSize}, true},
        {"orientation 8 and P3, bmp, mitchell, turned", {"p3o8.jpg"}, {"", 1, 6, 1, ScaleMode::QuarterSize}, true},
        {"mirrored, P3, odd size, gif, bell", {"p3o2.jpg"}, {"", 3, 3, 3, ScaleMode::HalfSize}, true},
        {"transposed, P3, cut short", {"p3cut.jpg"}, {"", 1, 1, 0, ScaleMode::HalfSize}, true},
        {"upright, P3, cut short, jpg", {"p3cutupright.jpg"}, {"", 2, 5, 0, ScaleMode::HalfSize}, true, true},
        {"oriented, full size", {"p3o8.jpg"}, {"", 1, 0, 2, ScaleMode::FullSize}, false},
        {"phone pictures in one batch", {"o6.jpg", "p3o8.jpg", "p3o2.jpg"}, {"", 1, 5, 0, ScaleMode::HalfSize}, true},
        {"png, jpg, lanczos3", {"big.png"}, {"", 2, 5, 0, ScaleMode::HalfSize}, true, true},
        {"png, bmp, mitchell, turned", {"big.png"}, {"", 1, 6, 1, ScaleMode::QuarterSize}, true},
        {"png, full size", {"big.png"}, {"", 1, 0, 0, ScaleMode::FullSize}, false},
        {"png with a P3 profile, gif, bell, turned", {"p3.png"}, {"", 3, 3, 3, ScaleMode::HalfSize}, true},
        {"png cut short, jpg, triangle", {"cut.png"}, {"", 2, 1, 0, ScaleMode::HalfSize}, true, true},
        {"png failing part-way, bmp, box", {"fails.png"}, {"", 1, 0, 0, ScaleMode::HalfSize}, true},
        {"png with a transparent colour", {"trns.png"}, {"", 2, 5, 0, ScaleMode::HalfSize}, false},
        {"gray png", {"gray.png"}, {"", 2, 5, 0, ScaleMode::HalfSize}, false},
        {"pngs among jpegs, stopping at the first failure", {"big.png", "cut.png", "big.jpg", "p3.png", "fails.png", "trns.png"},
         {"", 2, 5, 0, ScaleMode::HalfSize, true}, true, true},
        {"tiff, jpg, lanczos3", {"strips.tif"}, {"", 2, 5, 0, ScaleMode::HalfSize}, true, true},
        {"tiff cut short, bmp, bell, turned", {"short.tif"}, {"", 1, 3, 1, ScaleMode::QuarterSize}, true},
        {"ppm, gif, mitchell", {"noise.ppm"}, {"", 3, 6, 0, ScaleMode::HalfSize}, true},
        {"pngs among jpegs, going on", {"fails.png", "big.png", "gray.png", "p3.png", "odd.jpg", "cut.png"},
         {"", 1, 2, 2, ScaleMode::HalfSize}, true},
    };
    for (const bool thumbnails : {true, false})
        for (const FollowCase& b : batches) {
            SCOPED_TRACE(std::string(b.name) + (thumbnails ? "" : ", no thumbnails"));
            paths.clear();
            for (const std::string& f : b.files) paths.push_back(src.file(f));
            const BatchRun sequential = Batch(b.settings, false, {}, thumbnails);
            const int64_t before = FollowedDecodingCount(), encodedBefore = StreamedEncodingCount();
            const BatchRun followed = Batch(b.settings, true, {}, thumbnails);
            EXPECT_EQ(FollowedDecodingCount() > before, b.follows);
            EXPECT_EQ(StreamedEncodingCount() > encodedBefore, b.encodesAsItGoes);
            ExpectSameRuns(sequential, followed);
            EXPECT_NE(sequential.events.size(), 0u);
        }
}

// Resampling as stored and turning the result upright gives what turning first and resampling
// the upright picture gives: byte for byte where the sides stay, within the rounding of the
// resampler's intermediate rows where they swap; for every orientation, with and without a
// profile, resampled as the decoding comes or not.
TEST_F(LookAheadTest, OrientedPicturesComeOutUprightAtTheSizeAskedFor) {
    const std::string plain = JpegOf(NoiseBitmap(97, 61, 21), false, src.file("plain.jpg"));
    const std::vector<uint8_t> p3 = testsupport::DisplayP3Profile();
    const FilterEntry& triangle = FilterTable[1];  // no negative lobes: nothing clamps in between
    for (int orientation = 1; orientation <= 8; ++orientation)
        for (const bool withProfile : {false, true})
            for (const bool followed : {false, true}) {
                const std::string name = "o" + std::to_string(orientation) + (withProfile ? "p3" : "") + ".jpg";
                SCOPED_TRACE(name + (followed ? ", followed" : ", in turn"));
                WriteBytes(src.file(name), AsPhoneSaves(plain, orientation, withProfile ? p3 : std::vector<uint8_t>{}));
                paths = {src.file(name)};
                const BatchRun run = Batch({"", 1, 1, 0, ScaleMode::HalfSize}, followed);
                ASSERT_EQ(run.files.size(), 1u) << Describe(run);
                const std::string bmp = src.file("result.bmp");
                WriteBytes(bmp, run.files.begin()->second);
                TBitmap result;
                result.ReadPictureFile(bmp);

                TPicture picture;
                picture.LoadPictureFile(src.file(name));
                ASSERT_EQ(picture.Graphic()->Orientation, orientation);
                ASSERT_EQ(picture.Graphic()->IccProfile.empty(), !withProfile);
                const std::unique_ptr<TBitmap> upright = WorkingBitmap(picture.TakeGraphic(), UprightOptions{}, name);
                TBitmap want(upright->Width() / 2, upright->Height() / 2, TPixelFormat::pf24bit);
                ResampleBitmap(*upright, want, triangle.kernel, triangle.support);
                ASSERT_EQ(result.Width(), want.Width());
                ASSERT_EQ(result.Height(), want.Height());
                std::string where;
                EXPECT_LE(testsupport::MaxDifference(result, want, &where), OrientationSwapsSides(orientation) ? 1 : 0)
                    << where;
            }
}

namespace {

// Tells its rows as it makes them, then breaks its word: the picture it ends with has a
// transparent colour, which the working bitmap does not take as it is.
class TWordBreakingReader : public TBitmap {
    IMBRIX_GRAPHIC_CLASS()
public:
    void ReadPicture(TStream&) override {
        const TBitmap noise = NoiseBitmap(90, 70, 17);
        SetPixelFormat(TPixelFormat::pf24bit);
        SetSize(noise.Width(), noise.Height());
        for (int y = 0; y < Height(); ++y) {
            std::copy_n(noise.ScanLine(y), size_t(Width()) * 3, ScanLine(y));
            RowsFinal(*this, y + 1);
        }
        ShowWarning("read once", WarningKind::Damage);
        SetTransparentColor(static_cast<TColor>(noise.ScanLine(0)[0]));
        Transparent = true;
    }
};
IMBRIX_DEFINE_GRAPHIC_CLASS(TWordBreakingReader, TBitmap);

}  // namespace

// What was followed of a reader that ends other than it told is dropped, and the file is read
// again in turn: the same host calls (its warning once) and result as the sequential steps.
TEST_F(LookAheadTest, AReaderThatEndsOtherThanItToldIsReadAgainInTurn) {
    PictureFormatTable().AddPictureFormat("lie", "Word-breaking", &TWordBreakingReader::ClassInfo);
    WriteBytes(src.file("a.lie"), "");
    paths = {src.file("a.lie")};
    const Case c{"word-breaking", 1, 5, 0, ScaleMode::HalfSize};
    const BatchRun sequential = Batch(c, false);
    const int64_t before = FollowedDecodingCount();
    const BatchRun followed = Batch(c, true);
    PictureFormatTable().RemovePictureClass(&TWordBreakingReader::ClassInfo);
    EXPECT_GT(FollowedDecodingCount(), before);
    ExpectSameRuns(sequential, followed);
    EXPECT_EQ(std::count_if(followed.events.begin(), followed.events.end(),
                            [](const std::string& e) { return e.find("read once") != std::string::npos; }),
              1)
        << Describe(followed);
}
