// The metafile player, checked by pixels: pictures built record by record at test time, one
// table of cases per record family and format.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "graphics/errors.h"
#include "graphics/platform_graphics.h"
#include "graphics/stream.h"
#include "metafile/metafile_player.h"
#include "tests/metafile/metafile_writer.h"

using namespace testmeta;

namespace {

// COLORREF values: 0x00BBGGRR.
constexpr uint32_t kRedRef = 0x0000FF, kGreenRef = 0x00FF00, kBlueRef = 0xFF0000;
const TColor kRed = RGBColor(255, 0, 0), kGreen = RGBColor(0, 255, 0), kBlue = RGBColor(0, 0, 255),
             kWhite = RGBColor(255, 255, 255);

TBitmap Play(const std::vector<uint8_t>& file) {
    InstallMetafilePlayer();
    TMemoryStream stream(file);
    TMetafile picture;
    picture.ReadPicture(stream);
    return static_cast<TBitmap&>(picture);
}

bool Dark(TColor c) { return GetRValue(c) + GetGValue(c) + GetBValue(c) < 3 * 128; }

// What a case expects of an area of the picture (x0..x1-1, y0..y1-1).
struct Probe {
    enum Kind { Is, HasDark, NoDark, Has } kind;
    int x0, y0, x1, y1;
    TColor color = 0;
};
Probe Is(int x, int y, TColor c) { return {Probe::Is, x, y, x + 1, y + 1, c}; }
Probe Area(int x0, int y0, int x1, int y1, TColor c) { return {Probe::Is, x0, y0, x1, y1, c}; }
Probe HasDark(int x0, int y0, int x1, int y1) { return {Probe::HasDark, x0, y0, x1, y1}; }
Probe NoDark(int x0, int y0, int x1, int y1) { return {Probe::NoDark, x0, y0, x1, y1}; }
Probe Has(int x0, int y0, int x1, int y1, TColor c) { return {Probe::Has, x0, y0, x1, y1, c}; }

struct Case {
    std::string name;
    std::function<std::vector<uint8_t>()> build;
    int width, height;
    std::vector<Probe> probes;
};

std::string Hex(TColor c) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "#%02X%02X%02X", GetRValue(c), GetGValue(c), GetBValue(c));
    return buf;
}

// Empty when the probe holds, else what was found.
std::string Check(const TBitmap& b, const Probe& p) {
    int dark = 0, matching = 0;
    for (int y = p.y0; y < p.y1; ++y) {
        for (int x = p.x0; x < p.x1; ++x) {
            const TColor c = b.Pixel(x, y);
            if (Dark(c)) ++dark;
            if (c == p.color) ++matching;
            if (p.kind == Probe::Is && c != p.color)
                return "pixel " + std::to_string(x) + "," + std::to_string(y) + " is " + Hex(c) + ", want " + Hex(p.color);
        }
    }
    const std::string area = std::to_string(p.x0) + "," + std::to_string(p.y0) + "-" + std::to_string(p.x1) + "," +
                             std::to_string(p.y1);
    if (p.kind == Probe::HasDark && dark == 0) return "no dark pixel in " + area;
    if (p.kind == Probe::NoDark && dark != 0) return std::to_string(dark) + " dark pixels in " + area;
    if (p.kind == Probe::Has && matching == 0) return "no " + Hex(p.color) + " pixel in " + area;
    return {};
}

void RunCases(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TBitmap picture;
        try {
            picture = Play(c.build());
        } catch (const std::exception& e) {
            ADD_FAILURE() << c.name << ": failed with " << e.what();
            continue;
        }
        ASSERT_EQ(picture.PixelFormat(), TPixelFormat::pf24bit) << c.name;
        EXPECT_EQ(picture.Width(), c.width) << c.name;
        EXPECT_EQ(picture.Height(), c.height) << c.name;
        if (picture.Width() != c.width || picture.Height() != c.height) continue;
        for (const Probe& p : c.probes) {
            const std::string problem = Check(picture, p);
            EXPECT_TRUE(problem.empty()) << c.name << ": " << problem;
        }
    }
}

// A placeable metafile of 1440 units per inch over 1 x 1 inch (96 x 96 pixels), with a red
// brush in slot 0 and the null pen selected.
WmfWriter RedInch() {
    WmfWriter w(true, 0, 0, 1440, 1440, 1440);
    w.Brush(kRedRef).Select(0).Pen(5, 0, 0).Select(1);
    return w;
}

std::vector<uint8_t> TwoByTwoDib() { return Dib24(2, 2, {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF}); }

std::vector<int> Words(const std::vector<uint8_t>& bytes) {
    std::vector<int> out;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) out.push_back(bytes[i] | (bytes[i + 1] << 8));
    return out;
}

}  // namespace

TEST(WmfPlayer, RecordFamiliesLandOnTheirPixels) {
    const std::vector<Case> cases = {
        {"placeable bounds at their units per inch; untouched picture is white",
         [] { return WmfWriter(true, 0, 0, 1440, 720, 1440).Build(); }, 96, 48, {Area(0, 0, 96, 48, kWhite)}},
        {"placeable bounds not at the origin",
         [] { return RedInch().Build(); }, 96, 96, {}},
        {"filled red rectangle, null pen",
         [] { return RedInch().Rectangle(150, 150, 450, 300).Build(); }, 96, 96,
         {Area(11, 11, 29, 19, kRed), Is(9, 15, kWhite), Is(31, 15, kWhite), Is(20, 8, kWhite), Is(20, 21, kWhite)}},
        {"window origin and extent map onto the bounds (anisotropic)",
         [] {
             return RedInch().Rec(0x0103, {8}).Rec(0x020B, {-10, -10}).Rec(0x020C, {100, 200}).Rectangle(-10, 0, 90, 40).Build();
         },
         96, 96, {Area(2, 11, 46, 47, kRed), Is(48, 30, kWhite), Is(30, 50, kWhite)}},
        {"ellipse",
         [] { return RedInch().Rec(0x0418, {1440, 1440, 0, 0}).Build(); }, 96, 96,
         {Area(40, 40, 56, 56, kRed), Is(2, 2, kWhite), Is(93, 93, kWhite), Is(48, 2, kRed)}},
        {"rounded rectangle leaves its corners",
         [] { return RedInch().Rec(0x061C, {720, 720, 1440, 1440, 0, 0}).Build(); }, 96, 96,
         {Is(1, 1, kWhite), Is(94, 94, kWhite), Area(40, 2, 56, 94, kRed)}},
        {"pie: a quarter from 3 o'clock to 12 o'clock",
         [] { return RedInch().Rec(0x081A, {0, 720, 720, 1440, 1440, 1440, 0, 0}).Build(); }, 96, 96,
         {Area(60, 25, 70, 35, kRed), Is(25, 25, kWhite), Is(25, 70, kWhite), Is(70, 70, kWhite)}},
        {"chord cuts across the radials",
         [] { return RedInch().Rec(0x0830, {0, 720, 720, 1440, 1440, 1440, 0, 0}).Build(); }, 96, 96,
         {Is(82, 22, kRed), Is(50, 40, kWhite), Is(25, 70, kWhite)}},
        {"polygon",
         [] { return RedInch().Rec(0x0324, {3, 0, 0, 1440, 0, 0, 1440}).Build(); }, 96, 96,
         {Is(10, 10, kRed), Is(85, 85, kWhite)}},
        {"poly-polygon, alternate fill: the inner square is a hole",
         [] {
             return RedInch().Rec(0x0106, {1}).Rec(0x0538, {2, 4, 4, 0, 0, 1440, 0, 1440, 1440, 0, 1440, 360, 360, 1080, 360,
                                                           1080, 1080, 360, 1080}).Build();
         },
         96, 96, {Is(10, 10, kRed), Area(40, 40, 56, 56, kWhite)}},
        {"poly-polygon, winding fill: the inner square is filled",
         [] {
             return RedInch().Rec(0x0106, {2}).Rec(0x0538, {2, 4, 4, 0, 0, 1440, 0, 1440, 1440, 0, 1440, 360, 360, 1080, 360,
                                                           1080, 1080, 360, 1080}).Build();
         },
         96, 96, {Is(10, 10, kRed), Area(40, 40, 56, 56, kRed)}},
        {"thick blue pen on a polyline",
         [] { return WmfWriter(true, 0, 0, 1440, 1440, 1440).Pen(0, 150, kBlueRef).Select(0).Rec(0x0325, {2, 0, 720, 1440, 720}).Build(); },
         96, 96, {Area(5, 46, 90, 50, kBlue), Is(48, 30, kWhite)}},
        {"move to and line to",
         [] { return WmfWriter(true, 0, 0, 1440, 1440, 1440).Pen(0, 150, kBlueRef).Select(0).Rec(0x0214, {0, 720}).Rec(0x0213, {1440, 720}).Build(); },
         96, 96, {Area(46, 5, 50, 90, kBlue), Is(30, 48, kWhite)}},
        {"hatched brush: blue lines on the white background",
         [] { return WmfWriter(true, 0, 0, 1440, 1440, 1440).Brush(kBlueRef, 2, 0).Select(0).Pen(5, 0, 0).Select(1).Rectangle(0, 0, 1440, 1440).Build(); },
         96, 96, {Has(20, 20, 40, 40, kBlue), Has(20, 20, 40, 40, kWhite)}},
        {"intersected clip rectangle keeps the fill inside",
         [] { return RedInch().Rec(0x0416, {720, 720, 0, 0}).Rectangle(0, 0, 1440, 1440).Build(); }, 96, 96,
         {Area(2, 2, 46, 46, kRed), Is(60, 20, kWhite), Is(20, 60, kWhite)}},
        {"excluded clip rectangle leaves a hole",
         [] { return RedInch().Rec(0x0415, {1080, 1080, 360, 360}).Rectangle(0, 0, 1440, 1440).Build(); }, 96, 96,
         {Is(10, 10, kRed), Area(30, 30, 66, 66, kWhite)}},
        {"save and restore bring back the brush and the clip",
         [] {
             return RedInch().Rec(0x001E, {}).Brush(kBlueRef).Select(2).Rec(0x0416, {100, 100, 0, 0}).Rec(0x0127, {0xFFFF})
                 .Rectangle(0, 0, 1440, 1440).Build();
         },
         96, 96, {Area(0, 0, 96, 96, kRed)}},
        {"palette index colours through the selected palette",
         [] {
             WmfWriter w(true, 0, 0, 1440, 1440, 1440);
             w.Rec(0x00F7, {0x300, 2, 0, 0, 0xFF00, 0});  // black, then (0, 255, 0)
             w.Rec(0x0234, {0, 0}).Brush(0x01000001).Select(1).Pen(5, 0, 0).Select(2).Rectangle(0, 0, 1440, 1440);
             return w.Build();
         },
         96, 96, {Area(10, 10, 86, 86, kGreen)}},
        {"unknown record skipped by its length",
         [] { return RedInch().Rec(0x0999, {1, 2, 3, 4, 5}).Rectangle(0, 0, 1440, 1440).Build(); }, 96, 96,
         {Area(10, 10, 86, 86, kRed)}},
        {"selecting an object out of range keeps the brush",
         [] { return RedInch().Select(500).Select(9).Rec(0x01F0, {700}).Rectangle(0, 0, 1440, 1440).Build(); }, 96, 96,
         {Area(10, 10, 86, 86, kRed)}},
        {"deleted slot is reused by the next object",
         [] { return RedInch().Rec(0x01F0, {0}).Brush(kGreenRef).Select(0).Rectangle(0, 0, 1440, 1440).Build(); }, 96, 96,
         {Area(10, 10, 86, 86, kGreen)}},
        {"a record running past the end ends the picture with what was drawn",
         [] {
             WmfWriter w = RedInch();
             w.Rectangle(0, 0, 720, 720).SizedRaw(1000, 0x041B, {0, 0, 0, 0});
             return w.Build(false);
         },
         96, 96, {Area(5, 5, 40, 40, kRed), Is(70, 70, kWhite)}},
        {"text at the top-left alignment hangs below and right of its point",
         [] { return WmfWriter(true, 0, 0, 1440, 1440, 1440).Font(-300, 400, false, 0, "DejaVu Sans").Select(0).Rec(0x0102, {1}).TextOut(720, 720, "HH").Build(); },
         96, 96, {HasDark(48, 48, 96, 70), NoDark(0, 0, 96, 46), NoDark(0, 0, 46, 96)}},
        {"text aligned right and bottom sits above and left of its point",
         [] {
             return WmfWriter(true, 0, 0, 1440, 1440, 1440).Font(-300, 400, false, 0, "DejaVu Sans").Select(0).Rec(0x0102, {1})
                 .Rec(0x012E, {2 | 8}).TextOut(720, 720, "HH").Build();
         },
         96, 96, {HasDark(10, 25, 48, 48), NoDark(0, 50, 96, 96), NoDark(50, 0, 96, 96)}},
        {"text with a 90 degree escapement runs upwards",
         [] {
             return WmfWriter(true, 0, 0, 1440, 1440, 1440).Font(-300, 400, false, 900, "DejaVu Sans").Select(0).Rec(0x0102, {1})
                 .TextOut(360, 1300, "HHHH").Build();
         },
         96, 96, {HasDark(20, 20, 50, 80), NoDark(48, 0, 96, 96)}},
        {"DIB stretched onto a rectangle (STRETCHDIB)",
         [] {
             std::vector<int> words = {0x0020, 0x00CC, 0, 2, 2, 0, 0, 960, 960, 240, 240};
             for (int v : Words(TwoByTwoDib())) words.push_back(v);
             return WmfWriter(true, 0, 0, 1440, 1440, 1440).Rec(0x0F43, words).Build();
         },
         96, 96, {Area(18, 18, 46, 46, kRed), Area(50, 18, 78, 46, kGreen), Area(18, 50, 46, 78, kBlue),
                  Area(50, 50, 78, 78, kWhite), Is(10, 10, kWhite)}},
        {"DIB through DIBSTRETCHBLT",
         [] {
             std::vector<int> words = {0x0020, 0x00CC, 2, 2, 0, 0, 480, 480, 0, 0};
             for (int v : Words(TwoByTwoDib())) words.push_back(v);
             return WmfWriter(true, 0, 0, 1440, 1440, 1440).Rec(0x0B41, words).Build();
         },
         96, 96, {Area(2, 2, 14, 14, kRed), Area(18, 2, 30, 14, kGreen), Area(2, 18, 14, 30, kBlue), Is(40, 40, kWhite)}},
        {"PATBLT fills with the brush",
         [] { return RedInch().Rec(0x061D, {0x0021, 0x00F0, 720, 720, 0, 0}).Build(); }, 96, 96,
         {Area(2, 2, 46, 46, kRed), Is(60, 60, kWhite)}},
        {"plain metafile: the window extent is the picture",
         [] {
             WmfWriter w(false, 0, 0, 0, 0, 0);
             w.Rec(0x020B, {0, 0}).Rec(0x020C, {100, 200}).Brush(kRedRef).Select(0).Rectangle(50, 0, 150, 100);
             return w.Build();
         },
         200, 100, {Area(52, 2, 148, 98, kRed), Is(20, 50, kWhite), Is(180, 50, kWhite)}},
        {"plain metafile in twips",
         [] {
             WmfWriter w(false, 0, 0, 0, 0, 0);
             w.Rec(0x020C, {7200, 14400}).Brush(kRedRef).Select(0).Rectangle(0, 0, 7200, 7200);
             return w.Build();
         },
         960, 480, {Area(2, 2, 470, 470, kRed), Is(700, 200, kWhite)}},
    };
    RunCases(cases);
}

TEST(EmfPlayer, RecordFamiliesLandOnTheirPixels) {
    // 1 x 0.5 inch at a reference device of 96 dots per inch: device pixels are picture pixels.
    auto base = [] {
        EmfWriter w(2540, 1270);
        w.Brush(1, kRedRef).Select(1).NullPen();
        return w;
    };
    const std::vector<Case> cases = {
        {"frame in 0.01 mm at 96 dots per inch", [] { return EmfWriter(2540, 1270).Build(); }, 96, 48,
         {Area(0, 0, 96, 48, kWhite)}},
        {"filled red rectangle in device units",
         [&] { return base().Rectangle(10, 10, 50, 30).Build(); }, 96, 48,
         {Area(11, 11, 49, 29, kRed), Is(8, 20, kWhite), Is(52, 20, kWhite), Is(30, 32, kWhite)}},
        {"a reference device of another resolution is scaled to the frame",
         [] {
             EmfWriter w(2540, 1270, 1920, 960, 254, 127);
             w.Brush(1, kRedRef).Select(1).NullPen().Rectangle(0, 0, 96, 48);  // 192 dpi: half an inch wide
             return w.Build();
         },
         96, 48, {Area(1, 1, 47, 23, kRed), Is(60, 30, kWhite)}},
        {"low-metric mapping: 0.1 mm units, y upwards",
         [&] { return base().Rec(17, {2}).Rectangle(20, -20, 120, -100).Build(); }, 96, 48,
         {Area(9, 9, 44, 36, kRed), Is(4, 4, kWhite), Is(50, 20, kWhite)}},
        {"twips mapping",
         [&] { return base().Rec(17, {6}).Rectangle(0, 0, 720, -720).Build(); }, 96, 48,
         {Area(1, 1, 47, 47, kRed), Is(60, 20, kWhite)}},
        {"anisotropic window and viewport",
         [&] { return base().Rec(17, {8}).Rec(9, {10, 10}).Rec(11, {96, 48}).Rectangle(2, 2, 8, 8).Build(); }, 96, 48,
         {Area(21, 11, 76, 38, kRed), Is(15, 20, kWhite), Is(80, 20, kWhite), Is(40, 42, kWhite)}},
        {"isotropic mapping keeps squares square",
         [&] { return base().Rec(17, {7}).Rec(9, {10, 10}).Rec(11, {96, 48}).Rectangle(0, 0, 10, 10).Build(); }, 96, 48,
         {Area(1, 1, 47, 47, kRed), Is(60, 20, kWhite)}},
        {"viewport origin moves the drawing",
         [&] { return base().Rec(12, {40, 0}).Rectangle(0, 0, 20, 20).Build(); }, 96, 48,
         {Area(41, 1, 59, 19, kRed), Is(20, 10, kWhite)}},
        {"world transform scales",
         [&] {
             ByteWriter x;
             for (float v : {2.0f, 0.0f, 0.0f, 2.0f, 0.0f, 0.0f}) {
                 uint32_t bits;
                 std::memcpy(&bits, &v, 4);
                 x.u32le(bits);
             }
             return base().Raw(35, x.take()).Rectangle(5, 5, 10, 10).Build();
         },
         96, 48, {Area(11, 11, 19, 19, kRed), Is(8, 8, kWhite), Is(22, 22, kWhite)}},
        {"polygon16",
         [&] { return base().Rec(86, {0, 0, 0, 0, 3, 0 | (0 << 16), 96 | (0 << 16), 0 | (48 << 16)}).Build(); }, 96, 48,
         {Is(5, 5, kRed), Is(90, 40, kWhite)}},
        {"poly-polygon16, alternate and winding",
         [&] {
             EmfWriter w = base();
             auto pp = [] {
                 return std::vector<int64_t>{0, 0, 0, 0, 2, 8, 4, 4, 0, 96, 96 | (48 << 16), 48 << 16,
                                             10 | (10 << 16), 30 | (10 << 16), 30 | (30 << 16), 10 | (30 << 16)};
             };
             w.Rec(19, {1}).Rec(91, pp()).Rec(12, {48, 0}).Rec(19, {2}).Rec(91, pp());
             return w.Build();
         },
         96, 48, {Is(5, 40, kRed), Area(14, 14, 26, 26, kWhite), Area(62, 14, 74, 26, kRed)}},
        {"path filled",
         [&] {
             return base().Rec(59, {}).Rec(27, {10, 10}).Rec(54, {40, 10}).Rec(54, {40, 40}).Rec(54, {10, 40}).Rec(61, {})
                 .Rec(60, {}).Rec(62, {0, 0, 0, 0}).Build();
         },
         96, 48, {Area(12, 12, 38, 38, kRed), Is(50, 20, kWhite)}},
        {"clip path",
         [&] {
             return base().Rec(59, {}).Rec(42, {0, 0, 48, 48}).Rec(60, {}).Rec(67, {5}).Rectangle(0, 0, 96, 48).Build();
         },
         96, 48, {Area(20, 20, 28, 28, kRed), Is(70, 20, kWhite), Is(2, 2, kWhite)}},
        {"region clip",
         [&] {
             // EXTSELECTCLIPRGN with one rectangle, RGN_COPY.
             return base().Rec(75, {48, 5, 32, 1, 1, 16, 0, 0, 20, 20, 0, 0, 20, 20}).Rectangle(0, 0, 96, 48).Build();
         },
         96, 48, {Area(1, 1, 19, 19, kRed), Is(30, 10, kWhite), Is(10, 30, kWhite)}},
        {"object indices out of range are ignored",
         [&] { return base().Brush(9999, kBlueRef).Select(9999).Select(12).Rec(40, {70000}).Rectangle(0, 0, 96, 48).Build(); },
         96, 48, {Area(1, 1, 95, 47, kRed)}},
        {"unknown records skipped by their length",
         [&] { return base().Rec(300, {1, 2, 3}).Rec(70, {4, 0x2B464D45}).Rectangle(0, 0, 96, 48).Build(); }, 96, 48,
         {Area(1, 1, 95, 47, kRed)}},
        {"save and restore",
         [&] { return base().Rec(33, {}).Brush(2, kBlueRef).Select(2).Rec(34, {-1}).Rectangle(0, 0, 96, 48).Build(); },
         96, 48, {Area(1, 1, 95, 47, kRed)}},
        {"stretched DIB (STRETCHDIBITS)",
         [] {
             const std::vector<uint8_t> dib = TwoByTwoDib();
             ByteWriter w;
             for (int v : {0, 0, 0, 0, 8, 8, 0, 0, 2, 2}) w.i32le(v);
             w.u32le(80);
             w.u32le(40);
             w.u32le(120);
             w.u32le(static_cast<uint32_t>(dib.size() - 40));
             w.u32le(0);
             w.u32le(0x00CC0020);
             w.i32le(32);
             w.i32le(32);
             w.bytes(dib);
             return EmfWriter(2540, 1270).Raw(81, w.take()).Build();
         },
         96, 48,
         {Area(10, 10, 22, 22, kRed), Area(26, 10, 38, 22, kGreen), Area(10, 26, 22, 38, kBlue), Area(26, 26, 38, 38, kWhite),
          Is(45, 20, kWhite)}},
        {"unicode text, centred on its baseline",
         [] {
             EmfWriter w(2540, 1270);
             w.Font(1, -20, 400, false, 0, u"DejaVu Sans").Select(1).Rec(18, {1}).Rec(22, {6 | 24}).TextW(48, 30, u"HHH");
             return w.Build();
         },
         96, 48, {HasDark(20, 12, 47, 30), HasDark(49, 12, 76, 30), NoDark(0, 31, 96, 48), NoDark(0, 0, 15, 48)}},
    };
    RunCases(cases);
}

TEST(MetafilePlayer, FontWeightAndItalicChangeTheGlyphs) {
    auto text = [](int weight, bool italic) {
        EmfWriter w(2540, 1270);
        w.Font(1, -30, weight, italic, 0, u"DejaVu Sans").Select(1).Rec(18, {1}).TextW(4, 4, u"IIII");
        TBitmap b = Play(w.Build());
        int dark = 0, slanted = 0;
        for (int y = 0; y < b.Height(); ++y)
            for (int x = 0; x < b.Width(); ++x)
                if (Dark(b.Pixel(x, y))) ++dark;
        // An upright I has the same columns at the top and bottom of its stem; italic ones differ.
        int topLeft = 96, bottomLeft = 96;
        for (int x = 0; x < b.Width(); ++x) {
            if (Dark(b.Pixel(x, 14))) topLeft = std::min(topLeft, x);
            if (Dark(b.Pixel(x, 28))) bottomLeft = std::min(bottomLeft, x);
        }
        slanted = topLeft - bottomLeft;
        return std::pair(dark, slanted);
    };
    const auto regular = text(400, false), bold = text(700, false), italic = text(400, true);
    EXPECT_GT(regular.first, 0);
    EXPECT_GT(bold.first, regular.first * 5 / 4) << "bold strokes are wider";
    EXPECT_EQ(regular.second, 0);
    EXPECT_GT(italic.second, 1) << "italic stems lean right";
}

TEST(MetafilePlayer, RefusesWhatIsNotAMetafile) {
    InstallMetafilePlayer();
    const std::vector<std::pair<std::string, std::vector<uint8_t>>> cases = {
        {"empty", {}},
        {"text", {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!', '!', '!', '!', '!', '!', '!', '!', '!'}},
        {"placeable key with nothing after it", {0xD7, 0xCD, 0xC6, 0x9A, 0, 0}},
    };
    for (const auto& [name, bytes] : cases) {
        TMemoryStream stream(bytes);
        TMetafile picture;
        EXPECT_THROW(picture.ReadPicture(stream), EImbrixError) << name;
    }
}
