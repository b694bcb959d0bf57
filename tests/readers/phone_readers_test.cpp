// HEIC/AVIF and WebP readers against the codecs' own command-line decoders (heif-convert, dwebp)
// on files made at test time: heif-enc, cwebp, img2webp and webpmux where they can say what we
// want, libheif's encoder where they cannot (rotation and mirror properties, AVIF with alpha, a
// primary image that is not the first). The turned cases are also checked against Pillow's
// upright version of the source, so a reader and heif-convert that both ignored the properties
// would still fail.
#include <gtest/gtest.h>

#include <libheif/heif.h>

#include <algorithm>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "graphics/errors.h"
#include "graphics/size_check.h"
#include "graphics/stream.h"
#include "readers/heif_reader.h"
#include "readers/png_reader.h"
#include "readers/webp_reader.h"
#include "tests/support/reference_decoders.h"
#include "tests/support/test_support.h"

// x265, which libheif's encoder runs to make the test files, keeps a few blocks until the
// process ends, and dav1d one from some broken AV1 streams; neither is ours to free.
extern "C" const char* __lsan_default_suppressions() { return "leak:libx265.so\nleak:libdav1d.so\n"; }

namespace {

using testsupport::HaveProgram;
using testsupport::RunCommand;
using testsupport::TempDir;

// Four flat quadrants (red, green, blue, yellow), so turns and mirrors show far above the
// codecs' error; with alpha, each quadrant a different opacity.
const char* kMakeSources = R"PY(
import sys
from PIL import Image, ImageOps, ImageCms
d = sys.argv[1]
open(d + '/test.icc', 'wb').write(ImageCms.ImageCmsProfile(ImageCms.createProfile('sRGB')).tobytes())
def quadrants(w, h, alpha):
    im = Image.new('RGBA', (w, h))
    colours = [(230, 30, 30), (30, 200, 40), (40, 50, 220), (240, 220, 30)]
    alphas = [255, 180, 90, 30] if alpha else [255] * 4
    for i, (c, a) in enumerate(zip(colours, alphas)):
        x, y = (i % 2) * (w // 2), (i // 2) * (h // 2)
        im.paste(c + (a,), (x, y, x + w // 2, y + h // 2))
    return im
quadrants(64, 48, False).convert('RGB').save(d + '/rgb.png')
quadrants(64, 48, True).save(d + '/rgba.png')
quadrants(40, 30, False).transpose(Image.FLIP_LEFT_RIGHT).convert('RGB').save(d + '/other.png')
# Premultiplied colours (every channel at most its alpha) for heif-enc --premultiplied-alpha.
pm = quadrants(64, 48, True)
pm.putdata([(r * a // 255, g * a // 255, b * a // 255, a) for r, g, b, a in pm.getdata()])
pm.save(d + '/premultiplied.png')
for o in range(1, 9):
    im = quadrants(64, 48, False).convert('RGB')
    im.getexif()[0x0112] = o
    ImageOps.exif_transpose(im).save(d + '/upright%d.png' % o)
)PY";

std::string Quote(const std::string& s) { return "'" + s + "'"; }

// A PNG read by our own reader: 32-bit BGRA with alpha, or 24-bit BGR.
TBitmap ReadPng(const std::string& path) {
    TPNGGraphic png;
    TFileStream stream(path, TFileStream::Mode::OpenRead);
    png.ReadPicture(stream);
    TBitmap copy = png;
    return copy;
}

// What libheif's encoder makes beyond heif-enc: the picture with an orientation (written as
// irot/imir properties), optionally a second, primary, image.
struct HeifBuild {
    heif_compression_format format = heif_compression_HEVC;
    int orientation = 1;
    std::string primary;  // PNG of a second image made the primary one; empty: none
    std::vector<uint8_t> icc = {};  // a 'prof' colour box
};

// LittleCMS's sRGB profile as Pillow writes it (test.icc beside the sources): the readers
// hand such bytes on unchanged.
std::vector<uint8_t> TestProfile();

bool AddImage(heif_context* ctx, heif_encoder* encoder, const TBitmap& bmp, int orientation, bool makePrimary,
              const std::vector<uint8_t>& icc = {}) {
    const bool alpha = bmp.PixelFormat() == TPixelFormat::pf32bit;
    heif_image* img = nullptr;
    if (heif_image_create(bmp.Width(), bmp.Height(), heif_colorspace_RGB,
                          alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, &img)
            .code != heif_error_Ok)
        return false;
    heif_image_add_plane(img, heif_channel_interleaved, bmp.Width(), bmp.Height(), 8);
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(img, heif_channel_interleaved, &stride);
    const int n = alpha ? 4 : 3;
    for (int y = 0; y < bmp.Height(); ++y)
        for (int x = 0; x < bmp.Width(); ++x) {
            const uint8_t* s = bmp.ScanLine(y) + n * x;
            uint8_t* d = plane + y * stride + n * x;
            d[0] = s[2], d[1] = s[1], d[2] = s[0];
            if (alpha) d[3] = s[3];
        }
    if (!icc.empty()) heif_image_set_raw_color_profile(img, "prof", icc.data(), icc.size());
    heif_encoding_options* options = heif_encoding_options_alloc();
    options->image_orientation = static_cast<heif_orientation>(orientation);
    heif_image_handle* handle = nullptr;
    const heif_error e = heif_context_encode_image(ctx, img, encoder, options, &handle);
    if (e.code != heif_error_Ok) std::cout << "libheif encoder: " << e.message << "\n";
    if (makePrimary && handle) heif_context_set_primary_image(ctx, handle);
    heif_image_handle_release(handle);
    heif_encoding_options_free(options);
    heif_image_release(img);
    return e.code == heif_error_Ok;
}

// False when this libheif has no encoder for the format or it failed.
bool EncodeHeif(const std::string& png, const HeifBuild& build, const std::string& out) {
    heif_context* ctx = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    bool ok = heif_context_get_encoder_for_format(ctx, build.format, &encoder).code == heif_error_Ok;
    if (ok) {
        heif_encoder_set_lossy_quality(encoder, 90);
        ok = AddImage(ctx, encoder, ReadPng(png), build.orientation, false, build.icc) &&
             (build.primary.empty() || AddImage(ctx, encoder, ReadPng(build.primary), 1, true)) &&
             heif_context_write_to_file(ctx, out.c_str()).code == heif_error_Ok;
        heif_encoder_release(encoder);
    }
    heif_context_free(ctx);
    return ok;
}

template <class Reader>
TBitmap Decode(const std::string& path, Reader& reader) {
    TFileStream stream(path, TFileStream::Mode::OpenRead);
    reader.ReadPicture(stream);
    return testsupport::FlattenOnWhite(reader);
}

// Largest difference at the centres of the four quadrants.
int QuadrantDifference(const TBitmap& had, const TBitmap& wanted) {
    if (had.Width() != wanted.Width() || had.Height() != wanted.Height()) return 256;
    int worst = 0;
    for (int qy : {1, 3})
        for (int qx : {1, 3}) {
            const int x = had.Width() * qx / 4, y = had.Height() * qy / 4;
            for (int c = 0; c < 3; ++c)
                worst = std::max(worst, std::abs(int(had.ScanLine(y)[3 * x + c]) - int(wanted.ScanLine(y)[3 * x + c])));
        }
    return worst;
}

struct PhoneCase {
    std::string name;
    std::string file;                        // made in the temporary folder
    std::function<bool(const TempDir&)> make;  // false: the tool cannot make it here (skipped)
    bool alpha = false;
    int orientation = 0;                     // checked against Pillow's upright source
    bool icc = false;                          // carries TestProfile()
    std::string expected = {};                  // PNG of the wanted picture; empty: the tool's decode,
                                                // or for turned cases Pillow's upright source only
    int tolerance = 2;
};

class PhoneReaders : public ::testing::Test {
protected:
    // The sources are made once for the suite: starting Python is most of its time.
    static void SetUpTestSuite() {
        shared_ = std::make_unique<TempDir>();
        if (!testsupport::HavePillow()) return;
        const std::string script = kMakeSources;
        const std::string path = shared_->file("make_sources.py");
        testsupport::WriteFile(path, std::vector<uint8_t>(script.begin(), script.end()));
        sourcesMade_ = RunCommand(std::string(testsupport::kSystemPython) + " " + Quote(path) + " " +
                                  Quote(shared_->path().string())) == 0;
    }
    static void TearDownTestSuite() { shared_.reset(); }
    void SetUp() override {
        if (!testsupport::HavePillow()) GTEST_SKIP() << "Debian's Pillow is missing";
        ASSERT_TRUE(sourcesMade_) << "Pillow could not make the source pictures";
    }
    std::string F(const std::string& name) const { return dir.file(name); }
    bool Run(const std::string& command) const { return RunCommand("cd " + Quote(dir.path().string()) + " && " + command + " >/dev/null 2>&1") == 0; }

    template <class Reader>
    void RunCases(const std::vector<PhoneCase>& cases, const std::function<std::string(std::string, std::string)>& reference) {
        for (const PhoneCase& c : cases) {
            SCOPED_TRACE(c.name);
            if (!c.make(dir)) {
                std::cout << "[ skipped ] " << c.name << ": the tool could not make it here\n";
                continue;
            }
            try {
                Compare<Reader>(c, reference);
            } catch (const EImbrixError& e) {
                ADD_FAILURE() << c.name << ": " << e.what();
            }
        }
    }

    template <class Reader>
    void Compare(const PhoneCase& c, const std::function<std::string(std::string, std::string)>& reference) {
            Reader reader;
            const TBitmap had = Decode(F(c.file), reader);
            EXPECT_EQ(reader.AlphaMeaningful, c.alpha) << c.name;
            if (!c.orientation) {
                std::string wantedPng = c.expected.empty() ? c.file + ".ref.png" : c.expected;
                if (c.expected.empty()) {
                    ASSERT_TRUE(Run(reference(c.file, wantedPng))) << c.name << ": the tool's decode";
                }
                // The tools write plain PNGs; our PNG reader (checked against Pillow) reads them.
                TBitmap wantedFull = ReadPng(F(wantedPng));
                const TBitmap wanted = testsupport::FlattenOnWhite(wantedFull);
                std::string where;
                const int diff = testsupport::MaxDifference(had, wanted, &where);
                EXPECT_LE(diff, c.tolerance) << c.name << ": " << where;
            } else {
                // Independent of libheif: the quadrants where Pillow puts them for the orientation.
                TBitmap upright = ReadPng(F("upright" + std::to_string(c.orientation) + ".png"));
                EXPECT_LE(QuadrantDifference(had, upright), 20) << c.name << ": not turned as the file says";
            }
            EXPECT_EQ(reader.IccProfile, c.icc ? TestProfile() : std::vector<uint8_t>{}) << c.name << ": embedded profile";
    }

    static inline std::unique_ptr<TempDir> shared_;
    static inline bool sourcesMade_ = false;
    const TempDir& dir = *shared_;
    friend std::vector<uint8_t> TestProfile();
};

std::vector<uint8_t> TestProfile() { return testsupport::ReadFile(PhoneReaders::shared_->file("test.icc")); }

TEST_F(PhoneReaders, HeifAndAvifMatchHeifConvert) {
    if (!HaveProgram("heif-enc") || !HaveProgram("heif-convert")) GTEST_SKIP() << "libheif-examples is missing";
    auto tool = [this](std::string command) { return [this, command](const TempDir&) { return Run(command); }; };
    // libheif's encoder, then a shell step (heif-convert beside a tool that PNG cannot show).
    auto libheif = [this](std::string png, HeifBuild build, std::string out, std::string then = "") {
        if (!build.primary.empty()) build.primary = F(build.primary);
        return [=, this](const TempDir&) { return EncodeHeif(F(png), build, F(out)) && (then.empty() || Run(then)); };
    };
    std::vector<PhoneCase> cases = {
        {"HEIC", "plain.heic", tool("heif-enc -q 90 rgb.png -o plain.heic")},
        {"HEIC with alpha", "alpha.heic", tool("heif-enc -q 90 rgba.png -o alpha.heic"), true},
        {"HEIC, 10 bits", "deep.heic",
         tool("convert rgb.png -depth 16 PNG48:rgb16.png && heif-enc -q 90 -b 10 rgb16.png -o deep.heic")},
        {"HEIC with an ICC profile", "icc.heic", libheif("rgb.png", {heif_compression_HEVC, 1, "", TestProfile()}, "icc.heic"),
         false, 0, true},
        // heif-convert writes premultiplied colours as they are; the picture wanted is the
        // straight source put onto white.
        {"HEIC, premultiplied alpha", "pm.heic", tool("heif-enc -q 90 --premultiplied-alpha premultiplied.png -o pm.heic"),
         false, 0, false, "rgba.png", 12},
        {"AVIF with alpha", "alpha.avif", libheif("rgba.png", {heif_compression_AV1, 1, ""}, "alpha.avif"), true},
        {"AVIF, turned right", "o6.avif", libheif("rgb.png", {heif_compression_AV1, 6, ""}, "o6.avif"), false, 6},
        // heif-convert writes every image, numbered; the second is the primary one.
        {"HEIC, the second image primary", "primary.heic",
         libheif("rgb.png", {heif_compression_HEVC, 1, "other.png"}, "primary.heic",
                 "heif-convert primary.heic primary.png"),
         false, 0, false, "primary-2.png"},
    };
    // A mirror, a quarter turn and both together.
    for (int o : {2, 7, 8})
        cases.push_back({"HEIC, orientation " + std::to_string(o), "o" + std::to_string(o) + ".heic",
                         libheif("rgb.png", {heif_compression_HEVC, o, ""}, "o" + std::to_string(o) + ".heic"), false, o});
    RunCases<THEIFGraphic>(cases, [](std::string in, std::string out) { return "heif-convert " + in + " " + out; });

    // The primary image is the one shown, not the first.
    THEIFGraphic primary;
    Decode(F("primary.heic"), primary);
    EXPECT_EQ(primary.Width(), 40);
    EXPECT_EQ(primary.Height(), 30);
}

TEST_F(PhoneReaders, WebPMatchesDwebp) {
    if (!HaveProgram("cwebp") || !HaveProgram("dwebp") || !HaveProgram("img2webp") || !HaveProgram("webpmux"))
        GTEST_SKIP() << "webp tools are missing";
    auto tool = [this](std::string command) { return [this, command](const TempDir&) { return Run(command); }; };
    const std::vector<PhoneCase> cases = {
        {"lossy", "lossy.webp", tool("cwebp -q 90 rgb.png -o lossy.webp")},
        {"lossy with alpha", "lossya.webp", tool("cwebp -q 90 rgba.png -o lossya.webp"), true},
        {"lossless with alpha", "lossless.webp", tool("cwebp -lossless -exact rgba.png -o lossless.webp"), true, 0, false,
         "", 0},
        {"ICC profile", "icc.webp",
         tool("cwebp -q 90 rgb.png -o plain.webp && webpmux -set icc test.icc plain.webp -o icc.webp"), false, 0, true},
        // Two frames: the first is shown. dwebp cannot read animations; the first frame's
        // source is the picture wanted.
        {"animation, first frame", "anim.webp",
         tool("convert rgb.png -resize 64x48! other64.png && img2webp -lossless rgba.png other64.png -o anim.webp"),
         true, 0, false, "rgba.png", 0},
    };
    RunCases<TWebPGraphic>(cases, [](std::string in, std::string out) { return "dwebp -quiet " + in + " -o " + out; });
}

// Damaged and foreign files fail with the readers' messages; files over the pixel limit are
// refused before they are decoded; each probe knows its own files only.
TEST_F(PhoneReaders, RefusalsAndProbes) {
    if (!HaveProgram("cwebp")) GTEST_SKIP() << "cwebp is missing";
    ASSERT_TRUE(EncodeHeif(F("rgb.png"), {}, F("good.heic")));
    ASSERT_TRUE(Run("cwebp -q 80 rgb.png -o good.webp"));
    const std::vector<uint8_t> heic = testsupport::ReadFile(F("good.heic"));
    const std::vector<uint8_t> webp = testsupport::ReadFile(F("good.webp"));
    const std::vector<uint8_t> png = testsupport::ReadFile(F("rgb.png"));
    auto cut = [](std::vector<uint8_t> v, size_t n) { return v.resize(n), v; };
    std::vector<uint8_t> mp4 = cut(heic, 64);
    for (size_t i = 8; i + 4 <= std::min<size_t>(mp4[3], 64); i += 4) std::copy_n("isom", 4, mp4.begin() + i);  // a video's ftyp

    const std::string heifInvalid = "Cannot load image. Invalid or unexpected HEIC, HEIF or AVIF image format.";
    const std::string webpInvalid = "Cannot load image. Invalid or unexpected WebP image format.";
    struct Refusal {
        std::string name;
        std::vector<uint8_t> bytes;
        bool heif;                 // which reader
        std::string error;         // message wanted (a prefix)
        uint64_t maxPixels = 0;    // a lowered limit, 0: the default
    };
    const std::vector<Refusal> refusals = {
        {"PNG to the HEIF reader", png, true, heifInvalid},
        {"video ftyp", mp4, true, heifInvalid},
        {"HEIC cut to its boxes", cut(heic, heic.size() / 3), true, "Cannot load image."},
        {"HEIC without the end of its image data", cut(heic, heic.size() - 40), true, "Cannot load image."},
        {"HEIC over the pixel limit", heic, true, "Picture too large", 1000},
        {"PNG to the WebP reader", png, false, webpInvalid},
        {"WebP cut short", cut(webp, webp.size() - 10), false, webpInvalid},
        {"WebP header only", cut(webp, 12), false, webpInvalid},
        {"WebP over the pixel limit", webp, false, "Picture too large", 1000},
    };
    for (const Refusal& r : refusals) {
        testsupport::LimitsGuard limits;
        if (r.maxPixels) CurrentPictureLimits().maxPixels = r.maxPixels;
        TMemoryStream stream(r.bytes);
        std::string error;
        try {
            if (r.heif) {
                THEIFGraphic reader;
                reader.ReadPicture(stream);
            } else {
                TWebPGraphic reader;
                reader.ReadPicture(stream);
            }
        } catch (const EImbrixError& e) {
            error = e.what();
        }
        EXPECT_EQ(error.substr(0, r.error.size()), r.error) << r.name << ": had \"" << error << "\"";
    }

    struct Probe {
        std::string name;
        std::vector<uint8_t> bytes;
        bool heif, webp;
    };
    const std::vector<Probe> probes = {
        {"HEIC", heic, true, false}, {"WebP", webp, false, true}, {"PNG", png, false, false},
        {"video ftyp", mp4, false, false}, {"8 bytes of HEIC", cut(heic, 8), false, false},
    };
    for (const Probe& p : probes) {
        TMemoryStream a(p.bytes), b(p.bytes);
        EXPECT_EQ(THEIFGraphic::ProbeStream(a), p.heif) << p.name;
        EXPECT_EQ(TWebPGraphic::ProbeStream(b), p.webp) << p.name;
    }
}

}  // namespace
