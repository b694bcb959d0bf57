// The public GIF conformance pictures: every file loads or fails with the message our rules
// give it, and the first frame of those with expected pixels matches them. Only the first image is used, at
// its own size, drawn onto white: transparent pixels come out white, by colour.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "gif/gif_image.h"
#include "gif_test_util.h"
#include "graphics/errors.h"
#include "tests/support/test_support.h"

using namespace giftest;
namespace fs = std::filesystem;

namespace {

using Conf = std::map<std::string, std::map<std::string, std::string>>;

Conf ReadConf(const fs::path& path) {
    Conf conf;
    std::ifstream in(path);
    std::string line, section;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '[') {
            section = line.substr(1, line.find(']') - 1);
            continue;
        }
        const auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        auto trim = [](std::string s) {
            s.erase(0, s.find_first_not_of(" \t"));
            s.erase(s.find_last_not_of(" \t\r") + 1);
            return s;
        };
        conf[section][trim(line.substr(0, eq))] = trim(line.substr(eq + 1));
    }
    return conf;
}

struct Expected {
    int width = 0, height = 0;
    Bytes rgba;
};

// What the first image should show: the expected screen-sized frame, from which the first
// image's rectangle is compared.
void CompareFirstImage(TGIFImage& gif, const Expected& want, const std::string& name) {
    const TGIFFrame& frame = gif.Frame(0);
    if (frame.Left >= want.width || frame.Top >= want.height) return;  // placed off the screen
    TBitmap drawn(gif.Width(), gif.Height());
    gif.Draw(drawn, Rect(0, 0, gif.Width(), gif.Height()));
    const TColor key = frame.TransparentColor;
    int compared = 0;
    for (int y = 0; y < drawn.Height(); ++y)
        for (int x = 0; x < drawn.Width(); ++x) {
            const int sx = x + frame.Left, sy = y + frame.Top;
            if (sx >= want.width || sy >= want.height) continue;
            const uint8_t* p = &want.rgba[(size_t(sy) * size_t(want.width) + size_t(sx)) * 4];
            TColor expected = RGBColor(p[0], p[1], p[2]);
            if (p[3] == 0 || expected == key) expected = clWhite;
            ++compared;
            ASSERT_EQ(drawn.Pixel(x, y), expected) << name << ": pixel (" << x << ", " << y << ") had "
                                                   << std::hex << drawn.Pixel(x, y) << ", wanted " << expected;
        }
    EXPECT_GT(compared, 0) << name << ": nothing to compare";
}

std::string LoadFile(TGIFImage& gif, const fs::path& path) {
    try {
        gif.ReadPictureFile(path.string());
    } catch (const EImbrixError& e) {
        return e.what();
    }
    return {};
}

}  // namespace

TEST(GifCorpus, AncellSuite) {
    REQUIRE_CORPUS(corpus);
    const fs::path dir = corpus / "gif-ancell";
    if (!fs::exists(dir / "TESTS")) GTEST_SKIP() << "gif-ancell not present";

    // Files that fail under this reader's rules, with the message they fail with.
    const std::map<std::string, std::string> refused = {
        {"unknown-extension", "Unrecognized extension block: 2A"},
        // The descriptor announces a local table, and the file ends inside it.
        {"image-zero-height", "Stream read error"},
        {"image-zero-size", "Stream read error"},
    };
    // Files whose first image is covered by a later one in the expected frame (the first image
    // has no delay, so the first displayed frame also holds the next).
    const std::set<std::string> covered = {"images-overlap", "dispose-restore-previous"};
    // Files whose first image decodes differently here, and why.
    const std::map<std::string, std::string> differs = {
        // The descriptor has no code size byte: the trailer is taken for it, nothing decodes.
        {"image-zero-width", "no image data"},
        // Minimum code size 11: outside 2..9, so it is clamped and the frame marked corrupted.
        {"max-codes", "code size out of range"},
    };

    std::ifstream list(dir / "TESTS");
    std::string name;
    int checked = 0, loaded = 0;
    while (std::getline(list, name)) {
        if (name.empty()) continue;
        SCOPED_TRACE(name);
        const Conf conf = ReadConf(dir / (name + ".conf"));
        const auto& config = conf.at("config");
        TGIFImage gif;
        const std::string error = LoadFile(gif, dir / config.at("input"));
        if (auto r = refused.find(name); r != refused.end()) {
            EXPECT_EQ(error, r->second);
            continue;
        }
        ASSERT_EQ(error, "") << "failed to load";
        ++loaded;
        const std::string frames = config.count("frames") ? config.at("frames") : "";
        if (frames.empty() || gif.FrameCount() == 0) continue;
        if (auto d = differs.find(name); d != differs.end()) {
            EXPECT_TRUE(gif.Frame(0).Corrupted) << d->second;
            continue;
        }
        if (covered.count(name)) continue;
        const std::string first = frames.substr(0, frames.find(','));
        const auto& frameConf = conf.at(first);
        if (!frameConf.count("pixels")) continue;
        Expected want;
        want.width = std::stoi(config.at("width"));
        want.height = std::stoi(config.at("height"));
        want.rgba = testsupport::ReadFile((dir / frameConf.at("pixels")).string());
        ASSERT_EQ(want.rgba.size(), size_t(want.width) * size_t(want.height) * 4);
        CompareFirstImage(gif, want, name);
        ++checked;
    }
    EXPECT_GT(loaded, 70);
    EXPECT_GT(checked, 50);
}

TEST(GifCorpus, PeterdnSuite) {
    REQUIRE_CORPUS(corpus);
    const fs::path dir = corpus / "gif-peterdn" / "gifs";
    if (!fs::exists(dir)) GTEST_SKIP() << "gif-peterdn not present";
    int checked = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.path().extension() != ".gif") continue;
        const std::string stem = entry.path().stem().string();
        SCOPED_TRACE(stem);
        TGIFImage gif;
        ASSERT_EQ(LoadFile(gif, entry.path()), "");
        ASSERT_GE(gif.FrameCount(), 1);
        fs::path expected = dir / "frames" / (stem + "-0.png");
        if (!fs::exists(expected)) expected = dir / "frames" / (stem + ".png");
        if (!fs::exists(expected)) continue;
        const auto png = DecodeWithPillow(expected.string());
        if (!png) GTEST_SKIP() << "Pillow is needed to read the expected frames";
        CompareFirstImage(gif, Expected{png->width, png->height, png->rgba}, stem);
        ++checked;
    }
    EXPECT_GE(checked, 10);
}
