// Bad metafiles, built in memory from small valid ones: each must end in a clear error or a
// defined picture, within a second, never a crash, a hang or a read outside a buffer.
#include <gtest/gtest.h>

#include <chrono>
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

enum class Want { Picture, Error, Either };

struct Hostile {
    std::string name;
    std::vector<uint8_t> file;
    Want want;
};

// Empty when the case behaved.
std::string PlayHostile(const Hostile& c) {
    InstallMetafilePlayer();
    const auto start = std::chrono::steady_clock::now();
    std::string outcome;
    bool picture = false;
    try {
        TMemoryStream stream(c.file);
        TMetafile m;
        m.ReadPicture(stream);
        picture = !m.Empty();
        outcome = "a picture";
    } catch (const EImbrixError& e) {
        outcome = std::string("error \"") + e.what() + "\"";
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (seconds > 1.0) return "took " + std::to_string(seconds) + " s";
    if (c.want == Want::Picture && !picture) return "want a picture, have " + outcome;
    if (c.want == Want::Error && picture) return "want an error, have a picture";
    return {};
}

std::vector<uint8_t> ValidWmf() {
    WmfWriter w(true, 0, 0, 1440, 1440, 1440);
    w.Brush(0x0000FF).Select(0).Pen(0, 30, 0xFF0000).Select(1).Font(-200, 700, true, 450, "DejaVu Sans").Select(2);
    w.Rectangle(100, 100, 700, 700).Rec(0x0418, {1400, 1400, 800, 800}).TextOut(100, 900, "Hi");
    w.Rec(0x0324, {3, 0, 0, 1440, 0, 0, 1440});
    std::vector<int> words = {0x0020, 0x00CC, 0, 1, 1, 0, 0, 200, 200, 0, 0};
    const std::vector<uint8_t> dib = Dib24(1, 1, {0x00FF00});
    for (size_t i = 0; i + 1 < dib.size(); i += 2) words.push_back(dib[i] | (dib[i + 1] << 8));
    w.Rec(0x0F43, words);
    return w.Build();
}

std::vector<uint8_t> ValidEmf() {
    EmfWriter w(2540, 2540, 96, 96, 25, 25);
    w.Brush(1, 0x0000FF).Select(1).Rec(38, {2, 0, 3, 0, 0xFF0000}).Select(2);
    w.Font(3, -20, 400, false, 0, u"DejaVu Sans").Select(3);
    w.Rectangle(10, 10, 50, 50).Rec(42, {40, 40, 90, 90}).TextW(10, 60, u"Hi");
    w.Rec(86, {0, 0, 0, 0, 3, 0, 96, 96 << 16});
    return w.Build();
}

void Put32(std::vector<uint8_t>& f, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) f[at + i] = uint8_t(v >> (8 * i));
}
void Put16(std::vector<uint8_t>& f, size_t at, uint16_t v) {
    f[at] = uint8_t(v);
    f[at + 1] = uint8_t(v >> 8);
}

// A WMF of 1 x 1 inch with the given records after a red brush and the null pen.
std::vector<uint8_t> WmfWith(const std::function<void(WmfWriter&)>& add, uint16_t objects = 16) {
    WmfWriter w(true, 0, 0, 1440, 1440, 1440, objects);
    add(w);
    return w.Build();
}
std::vector<uint8_t> EmfWith(const std::function<void(EmfWriter&)>& add, uint16_t handles = 16) {
    EmfWriter w(2540, 2540, 96, 96, 25, 25, handles);
    add(w);
    return w.Build();
}

std::vector<Hostile> Cases() {
    std::vector<Hostile> cases;
    const std::vector<uint8_t> wmf = ValidWmf(), emf = ValidEmf();
    cases.push_back({"valid wmf", wmf, Want::Picture});
    cases.push_back({"valid emf", emf, Want::Picture});
    // Cut at every offset: before the headers end an error, after it the records drawn so far.
    for (size_t n = 0; n < wmf.size(); ++n)
        cases.push_back({"wmf cut at " + std::to_string(n), {wmf.begin(), wmf.begin() + n}, n >= 40 ? Want::Picture : Want::Either});
    for (size_t n = 0; n < emf.size(); ++n)
        cases.push_back({"emf cut at " + std::to_string(n), {emf.begin(), emf.begin() + n}, n >= 88 ? Want::Picture : Want::Either});

    // Record sizes: 0, 1, 2 (shorter than the record header), past the end, the maximum.
    for (uint32_t words : {0u, 1u, 2u, 3u, 1000u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        std::vector<uint8_t> f = wmf;
        Put32(f, 40, words);
        cases.push_back({"wmf first record of " + std::to_string(words) + " words", f, Want::Picture});
    }
    for (uint32_t size : {0u, 4u, 7u, 9u, 12u, 1000u, 0x7FFFFFFCu, 0xFFFFFFFCu}) {
        std::vector<uint8_t> f = emf;
        Put32(f, 92, size);
        cases.push_back({"emf first record of " + std::to_string(size) + " bytes", f, Want::Picture});
    }
    {
        std::vector<uint8_t> f = emf;
        Put32(f, 4, 0xFFFFFFF0u);
        cases.push_back({"emf header size past the end", f, Want::Error});
        f = emf;
        Put32(f, 4, 40);
        cases.push_back({"emf header size too small", f, Want::Error});
    }

    // Frames: empty, negative, huge.
    auto placeable = [&](int16_t r, int16_t b, uint16_t inch) {
        std::vector<uint8_t> f = wmf;
        Put16(f, 10, uint16_t(r));
        Put16(f, 12, uint16_t(b));
        Put16(f, 14, inch);
        return f;
    };
    cases.push_back({"wmf empty bounds", placeable(0, 0, 1440), Want::Error});
    cases.push_back({"wmf zero units per inch", placeable(1440, 1440, 0), Want::Error});
    cases.push_back({"wmf negative bounds", placeable(-1440, -1440, 1440), Want::Picture});
    cases.push_back({"wmf huge frame (32767 units at 1 per inch)", placeable(32767, 32767, 1), Want::Error});
    auto frame = [&](int32_t r, int32_t b) {
        std::vector<uint8_t> f = emf;
        Put32(f, 32, uint32_t(r));
        Put32(f, 36, uint32_t(b));
        return f;
    };
    cases.push_back({"emf huge frame", frame(0x7FFFFFFF, 0x7FFFFFFF), Want::Error});
    cases.push_back({"emf frame of 10 m square", frame(1000000, 1000000), Want::Error});
    cases.push_back({"emf negative frame and bounds", [&] {
                         std::vector<uint8_t> f = frame(-100, -100);
                         Put32(f, 16, 0x80000000u);
                         return f;
                     }(),
                     Want::Error});
    {
        std::vector<uint8_t> f = emf;
        for (size_t at : {72u, 76u, 80u, 84u}) Put32(f, at, 0);
        cases.push_back({"emf reference device of zero size", f, Want::Picture});
        f = emf;
        Put32(f, 72, 1);
        Put32(f, 80, 0x7FFFFFFF);
        cases.push_back({"emf reference device of absurd resolution", f, Want::Picture});
    }
    cases.push_back({"plain wmf without a window extent", [] {
                         WmfWriter w(false, 0, 0, 0, 0, 0);
                         w.Rectangle(0, 0, 10, 10);
                         return w.Build();
                     }(),
                     Want::Error});
    cases.push_back({"plain wmf with a huge window", [] {
                         WmfWriter w(false, 0, 0, 0, 0, 0);
                         w.Rec(0x0103, {3}).Rec(0x020C, {32767, 32767});
                         return w.Build();
                     }(),
                     Want::Either});

    // Object indices out of range and full tables.
    cases.push_back({"wmf objects selected and deleted out of range", WmfWith([](WmfWriter& w) {
                         w.Select(0xFFFF).Rec(0x01F0, {0xFFFF}).Rec(0x0234, {0xFFFF}).Rec(0x012C, {0xFFFF}).Rec(0x0228, {0xFFFF, 0xFFFF});
                         w.Rectangle(0, 0, 100, 100);
                     }),
                     Want::Picture});
    cases.push_back({"wmf with no object slots", WmfWith([](WmfWriter& w) { w.Brush(0xFF).Select(0).Rectangle(0, 0, 100, 100); }, 0),
                     Want::Picture});
    cases.push_back({"wmf 60000 objects into 65535 slots", WmfWith([](WmfWriter& w) {
                         for (int i = 0; i < 60000; ++i) w.Brush(uint32_t(i));
                         w.Select(59999).Rectangle(0, 0, 100, 100);
                     }, 0xFFFF),
                     Want::Picture});
    cases.push_back({"emf objects out of range", EmfWith([](EmfWriter& w) {
                         w.Brush(0xFFFFFFFF, 0xFF).Select(0xFFFFFFFF).Select(0x7FFFFFFF).Select(0x80000000u | 9999).Rec(40, {0xFFFFFFFF});
                         w.Rec(48, {0xFFFFFFFF}).Rec(71, {0, 0, 0, 0, 0, 0xFFFFFFFF}).Rectangle(0, 0, 10, 10);
                     }, 0),
                     Want::Picture});

    // Deep nesting of saved states, and restores beyond them.
    cases.push_back({"wmf 100000 saves then as many restores", WmfWith([](WmfWriter& w) {
                         for (int i = 0; i < 100000; ++i) w.Rec(0x001E, {});
                         for (int i = 0; i < 100002; ++i) w.Rec(0x0127, {0xFFFF});
                         w.Rec(0x0127, {0x8000}).Rec(0x0127, {0x7FFF}).Rectangle(0, 0, 100, 100);
                     }),
                     Want::Picture});
    cases.push_back({"emf 100000 saves, one restore to the first", EmfWith([](EmfWriter& w) {
                         for (int i = 0; i < 100000; ++i) w.Rec(33, {});
                         w.Rec(34, {1}).Rec(34, {int64_t(0x80000000u)}).Rectangle(0, 0, 10, 10);
                     }),
                     Want::Picture});

    // Counts that claim more than the record holds, and figures of extreme size.
    cases.push_back({"wmf polygon claims 65535 points", WmfWith([](WmfWriter& w) { w.Rec(0x0324, {0xFFFF, 1, 2}); }), Want::Picture});
    cases.push_back({"wmf poly-polygon claims 65535 polygons", WmfWith([](WmfWriter& w) { w.Rec(0x0538, {0xFFFF, 3, 0, 0}); }),
                     Want::Picture});
    cases.push_back({"emf polygon claims 2^32-1 points", EmfWith([](EmfWriter& w) { w.Rec(3, {0, 0, 0, 0, 0xFFFFFFFF, 1, 2}); }),
                     Want::Picture});
    cases.push_back({"emf poly-polygon claims 2^30 polygons", EmfWith([](EmfWriter& w) { w.Rec(8, {0, 0, 0, 0, 1 << 30, 3, 3}); }),
                     Want::Picture});
    cases.push_back({"emf extreme coordinates and pen", EmfWith([](EmfWriter& w) {
                         w.Rec(38, {1, 0, 0x7FFFFFFF, 0, 0}).Select(1);
                         w.Rec(3, {0, 0, 0, 0, 3, int32_t(0x80000000), int32_t(0x80000000), 0x7FFFFFFF, 0, 0, 0x7FFFFFFF});
                         w.Rec(42, {int32_t(0x80000000), int32_t(0x80000000), 0x7FFFFFFF, 0x7FFFFFFF});
                         w.Rec(45, {0, 0, 0x7FFFFFFF, 1, 0, 0, 5, 5});
                     }),
                     Want::Picture});
    cases.push_back({"emf world transform of infinities and huge scales", EmfWith([](EmfWriter& w) {
                         auto xf = [](std::initializer_list<float> m) {
                             ByteWriter b;
                             for (float v : m) {
                                 uint32_t bits;
                                 std::memcpy(&bits, &v, 4);
                                 b.u32le(bits);
                             }
                             return b.take();
                         };
                         w.Raw(35, xf({1e30f, 0, 0, 1e30f, 0, 0})).Rectangle(0, 0, 10, 10);
                         w.Raw(35, xf({__builtin_inff(), 0, 0, 1, 0, 0})).Rectangle(0, 0, 10, 10);
                         w.Raw(35, xf({0, 0, 0, 0, 0, 0})).Rectangle(0, 0, 10, 10).TextW(1, 1, u"x");
                     }),
                     Want::Picture});
    cases.push_back({"emf zero and extreme window extents", EmfWith([](EmfWriter& w) {
                         w.Rec(17, {8}).Rec(9, {0, 0}).Rec(11, {0x7FFFFFFF, 1}).Rectangle(0, 0, 10, 10);
                         w.Rec(9, {1, int32_t(0x80000000)}).Rec(32, {0, 0, 0, 0}).Rec(31, {0x7FFFFFFF, 1, 0x7FFFFFFF, 1});
                         w.Rectangle(0, 0, 10, 10).Rec(30, {0, 0, 0x7FFFFFFF, 0x7FFFFFFF}).Rec(26, {0x7FFFFFFF, 0x7FFFFFFF});
                     }),
                     Want::Picture});
    cases.push_back({"wmf huge font and long text", WmfWith([](WmfWriter& w) {
                         w.Font(-32768, 1000, true, 3600, std::string(40, 'A')).Select(0).TextOut(0, 0, std::string(3000, 'W'));
                     }),
                     Want::Picture});
    cases.push_back({"emf text offsets past the record", EmfWith([](EmfWriter& w) {
                         ByteWriter b;
                         b.fill(0, 28);
                         for (uint32_t v : {0u, 0u, 0x7FFFFFFFu, 0xFFFFFFF0u, 0u, 0u, 0u, 0u, 0u, 0xFFFFFFF0u}) b.u32le(v);
                         w.Raw(84, b.take());
                     }),
                     Want::Picture});

    // Bitmaps whose headers claim what the record does not hold.
    auto dibRecord = [](int32_t width, int32_t height, uint16_t bits, uint32_t compression) {
        ByteWriter d;
        d.u32le(40);
        d.i32le(width);
        d.i32le(height);
        d.u16le(1);
        d.u16le(bits);
        d.u32le(compression);
        d.fill(0, 20);
        d.fill(0, bits <= 8 ? 4u << bits : 0);
        d.fill(0x11, 64);
        return d.take();
    };
    for (auto [w, h, bits, comp] : std::vector<std::tuple<int32_t, int32_t, uint16_t, uint32_t>>{
             {30000, 30000, 8, 1}, {30000, 30000, 24, 0}, {0x7FFFFFFF, 2, 1, 0}, {-5, -5, 24, 0}, {0, 0, 24, 0}, {4, 4, 7, 0}}) {
        const std::vector<uint8_t> dib = dibRecord(w, h, bits, comp);
        const std::string what = std::to_string(w) + "x" + std::to_string(h) + "x" + std::to_string(bits);
        cases.push_back({"wmf bitmap " + what, WmfWith([&](WmfWriter& wr) {
                             std::vector<int> words = {0x0020, 0x00CC, 0, 1, 1, 0, 0, 1440, 1440, 0, 0};
                             for (size_t i = 0; i + 1 < dib.size(); i += 2) words.push_back(dib[i] | (dib[i + 1] << 8));
                             for (int k = 0; k < 20; ++k) wr.Rec(0x0F43, words);
                         }),
                         Want::Picture});
        cases.push_back({"emf bitmap " + what, EmfWith([&](EmfWriter& wr) {
                             ByteWriter b;
                             for (int v : {0, 0, 0, 0, 0, 0, 0, 0, 1, 1}) b.i32le(v);
                             for (uint32_t v : {80u, 40u, 120u, uint32_t(dib.size() - 40), 0u, 0x00CC0020u}) b.u32le(v);
                             b.i32le(96);
                             b.i32le(96);
                             b.bytes(dib);
                             for (int k = 0; k < 20; ++k) wr.Raw(81, b.buffer());
                         }),
                         Want::Picture});
    }
    cases.push_back({"emf bitmap offsets past the record", EmfWith([](EmfWriter& w) {
                         ByteWriter b;
                         for (int v : {0, 0, 0, 0, 0, 0, 0, 0, 1, 1}) b.i32le(v);
                         for (uint32_t v : {0xFFFFFFF0u, 0x20u, 80u, 0xFFFFFFFFu, 0u, 0x00CC0020u, 10u, 10u}) b.u32le(v);
                         w.Raw(81, b.take());
                     }),
                     Want::Picture});
    cases.push_back({"emf region data claiming millions of rectangles", EmfWith([](EmfWriter& w) {
                         w.Rec(75, {48, 5, 32, 1, 0x7FFFFFFF, 16, 0, 0, 20, 20, 0, 0, 20, 20}).Rectangle(0, 0, 96, 96);
                     }),
                     Want::Picture});
    cases.push_back({"wmf region of many bands", WmfWith([](WmfWriter& w) {
                         std::vector<int> r = {0, 6, 0, 0, 20000, 5000, 0, 0, 0, 1440, 1440};
                         for (int i = 0; i < 5000; ++i) {
                             r.insert(r.end(), {2, i % 1400, i % 1400 + 1, 0, 1440, 2});
                         }
                         w.Rec(0x06FF, r).Rec(0x012C, {0}).Rectangle(0, 0, 1440, 1440);
                     }),
                     Want::Picture});
    return cases;
}

}  // namespace

TEST(MetafileHostile, EveryBadFileEndsCleanlyAndQuickly) {
    for (const Hostile& c : Cases()) {
        const std::string problem = PlayHostile(c);
        EXPECT_TRUE(problem.empty()) << c.name << ": " << problem;
    }
}

TEST(MetafileHostile, ACutFileKeepsWhatWasDrawnBeforeTheCut) {
    WmfWriter w(true, 0, 0, 1440, 1440, 1440);
    w.Brush(0x0000FF).Select(0).Pen(5, 0, 0).Select(1).Rectangle(0, 0, 720, 720).Rectangle(720, 720, 1440, 1440);
    std::vector<uint8_t> f = w.Build();
    ASSERT_GT(f.size(), 11u);
    f.erase(f.end() - 11, f.end());  // the end record and half the second rectangle
    InstallMetafilePlayer();
    TMemoryStream stream(f);
    TMetafile m;
    m.ReadPicture(stream);
    EXPECT_EQ(m.Pixel(20, 20), RGBColor(255, 0, 0));
    EXPECT_EQ(m.Pixel(70, 70), RGBColor(255, 255, 255));
}
