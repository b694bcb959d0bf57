// The canvas sizes of grid and overlay items and the images derived ones are made of, read
// from boxes built here, and the fuzzer's files: a grid that claims a canvas of gigapixels
// behind a 16 x 12 size property, an identity item made of an item the file does not have.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "graphics/byte_reader.h"
#include "graphics/errors.h"
#include "graphics/stream.h"
#include "readers/heif_canvas.h"
#include "readers/heif_reader.h"
#include "tests/support/test_support.h"

namespace {

std::vector<uint8_t> MakeBox(const char* type, const std::vector<uint8_t>& body) {
    ByteWriter w;
    w.u32be(uint32_t(8 + body.size()));
    w.bytes(type, 4);
    w.bytes(body);
    return w.take();
}

std::vector<uint8_t> Cat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

std::vector<uint8_t> Infe(uint16_t id, const char* type) {
    ByteWriter w;
    w.u32be(0x02000000);  // version 2
    w.u16be(id);
    w.u16be(0);
    w.bytes(type, 4);
    return MakeBox("infe", w.take());
}

// A file with one derived item (id 1, its description in idat or at a file offset) beside a
// coded one (id 2).
std::vector<uint8_t> DerivedFile(const char* type, const std::vector<uint8_t>& description, bool inIdat) {
    ByteWriter iinf;
    iinf.u32be(0);
    iinf.u16be(2);
    iinf.bytes(Infe(1, type));
    iinf.bytes(Infe(2, "hvc1"));
    const std::vector<uint8_t> ftyp = MakeBox("ftyp", {'h', 'e', 'i', 'c', 0, 0, 0, 0});
    auto build = [&](uint32_t offset) {
        ByteWriter iloc;
        iloc.u32be(0x01000000);  // version 1
        iloc.u8(0x44);           // 4-byte offsets and lengths
        iloc.u8(0x00);
        iloc.u16be(1);
        iloc.u16be(1);
        iloc.u16be(inIdat ? 1 : 0);
        iloc.u16be(0);
        iloc.u16be(1);
        iloc.u32be(offset);
        iloc.u32be(uint32_t(description.size()));
        ByteWriter meta;
        meta.u32be(0);
        meta.bytes(MakeBox("iinf", iinf.buffer()));
        meta.bytes(MakeBox("iloc", iloc.buffer()));
        if (inIdat) meta.bytes(MakeBox("idat", description));
        return Cat({ftyp, MakeBox("meta", meta.buffer())});
    };
    if (inIdat) return build(0);
    const size_t before = build(0).size();
    return Cat({build(uint32_t(before + 8)), MakeBox("mdat", description)});
}

// The reader's error for a saved fuzzer finding ("" if it loads).
std::string ReaderErrorOf(const std::string& finding) {
    const char* source = std::getenv("IMBRIX_SOURCE");
    const std::string path =
        std::string(source ? source : IMBRIX_TEST_SOURCE_DIR) + "/fuzz/crashes/read_heif/" + finding;
    TMemoryStream stream(testsupport::ReadFile(path));
    THEIFGraphic reader;
    try {
        reader.ReadPicture(stream);
    } catch (const EImbrixError& e) {
        return e.what();
    }
    return "";
}

TEST(HeifCanvas, DerivedItemSizes) {
    const std::vector<uint8_t> grid16 = {0, 0, 1, 1, 0x12, 0x34, 0x00, 0x20};
    const std::vector<uint8_t> grid32 = {0, 1, 0, 0, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x80, 0x00};
    const std::vector<uint8_t> overlay = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x00, 0x02, 0x00};
    struct Case {
        const char* name;
        std::vector<uint8_t> file;
        uint32_t width, height;
    };
    const std::vector<Case> cases = {
        {"grid, 16-bit sizes, in idat", DerivedFile("grid", grid16, true), 0x1234, 0x20},
        {"grid, 32-bit sizes, in mdat", DerivedFile("grid", grid32, false), 0x10000, 0x8000},
        {"overlay in idat", DerivedFile("iovl", overlay, true), 0x100, 0x200},
    };
    for (const Case& c : cases) {
        const std::vector<HeifCanvasSize> sizes = HeifDerivedCanvasSizes(c.file);
        ASSERT_EQ(sizes.size(), 1u) << c.name;
        EXPECT_EQ(sizes[0].width, c.width) << c.name;
        EXPECT_EQ(sizes[0].height, c.height) << c.name;
    }
    EXPECT_TRUE(HeifDerivedCanvasSizes(DerivedFile("hvc1", grid16, true)).empty()) << "no derived item";
    // A grid whose description is cut short, or that the boxes place past the file, is refused.
    std::vector<uint8_t> cut = DerivedFile("grid", grid32, false);
    cut.resize(cut.size() - 6);
    EXPECT_THROW(HeifDerivedCanvasSizes(cut), EReadError) << "cut description";
    std::vector<uint8_t> shortMeta = DerivedFile("grid", grid16, true);
    shortMeta.resize(40);
    EXPECT_THROW(HeifDerivedCanvasSizes(shortMeta), EReadError) << "cut boxes";
}

TEST(HeifCanvas, GigapixelGridIsRefusedBeforeDecoding) {
    const std::string error = ReaderErrorOf("grid-canvas-of-gigapixels");
    EXPECT_EQ(error.substr(0, 17), "Picture too large") << error;
}

// Derived images whose 'dimg' references name items of the file, or not, in both id widths.
TEST(HeifCanvas, DerivedImagesMustBeMadeOfItemsOfTheFile) {
    auto file = [](unsigned version, std::vector<uint32_t> targets) {
        ByteWriter iinf;
        iinf.u32be(0);
        iinf.u16be(2);
        iinf.bytes(Infe(1, "iden"));
        iinf.bytes(Infe(2, "hvc1"));
        ByteWriter dimg;
        auto id = [&](uint32_t v) { version == 0 ? dimg.u16be(uint16_t(v)) : dimg.u32be(v); };
        id(1);
        dimg.u16be(uint16_t(targets.size()));
        for (uint32_t t : targets) id(t);
        ByteWriter iref;
        iref.u32be(version << 24);
        iref.bytes(MakeBox("auxl", {0, 9, 0, 1, 0, 8}));  // other references name what they like
        iref.bytes(MakeBox("dimg", dimg.buffer()));
        ByteWriter meta;
        meta.u32be(0);
        meta.bytes(MakeBox("iinf", iinf.buffer()));
        meta.bytes(MakeBox("iref", iref.buffer()));
        return Cat({MakeBox("ftyp", {'h', 'e', 'i', 'c', 0, 0, 0, 0}), MakeBox("meta", meta.buffer())});
    };
    struct Case {
        const char* name;
        std::vector<uint8_t> file;
        bool complete;
    };
    const std::vector<Case> cases = {
        {"made of item 2", file(0, {2}), true},
        {"made of item 214", file(0, {214}), false},
        {"made of 2 and a missing one", file(0, {2, 3}), false},
        {"32-bit ids, item 2", file(1, {2}), true},
        {"32-bit ids, a missing item", file(1, {0x10002}), false},
        {"no references", DerivedFile("grid", {0, 0, 1, 1, 0, 16, 0, 16}, true), true},
    };
    for (const Case& c : cases) EXPECT_EQ(HeifDerivationsComplete(c.file), c.complete) << c.name;
    std::vector<uint8_t> cut = file(0, {2});
    cut.resize(cut.size() - 1);
    EXPECT_THROW(HeifDerivationsComplete(cut), EReadError) << "cut references";

    const std::string error = ReaderErrorOf("identity-of-a-missing-item");
    EXPECT_NE(error.find("an image it is made from is missing"), std::string::npos) << error;
}

}  // namespace
