// TIFF (stored, PackBits, LZW, deflate, fax, JPEG, subsampled YCbCr, planes) against damaged
// copies of small valid files, directory loops included.
#include <gtest/gtest.h>

#include "jpeg/jpeg_image.h"
#include "readers/tiff_reader.h"
#include "tests/hostile/hostile_util.h"

namespace hostile {
namespace {

struct Entry {
    uint16_t tag;
    uint16_t type;  // 3 SHORT, 4 LONG, 5 RATIONAL
    std::vector<uint32_t> values;
    Kind kind = Kind::Count;
};

struct TiffLayout {
    std::string name;
    bool bigEndian = false;
    std::vector<Entry> entries;  // in tag order; strip offsets and byte counts are added
    std::vector<Bytes> strips;
    bool loop = false;  // the next directory is this one again
};

Sample Tiff(TiffLayout l) {
    FileBuilder b(l.bigEndian);
    b.bytes(Bytes(l.bigEndian ? Bytes{'M', 'M', 0, 42} : Bytes{'I', 'I', 42, 0}));
    const size_t first = b.u32(0, "first directory", Kind::Offset);
    std::vector<uint32_t> offsets, counts;
    for (size_t k = 0; k < l.strips.size(); ++k) {
        offsets.push_back(uint32_t(b.bytes(l.strips[k], "strip " + std::to_string(k))));
        counts.push_back(uint32_t(l.strips[k].size()));
        if (b.size() % 2) b.u8(0);
    }
    l.entries.push_back({273, 4, offsets, Kind::Offset});
    l.entries.push_back({279, 4, counts, Kind::Length});
    std::stable_sort(l.entries.begin(), l.entries.end(), [](const Entry& a, const Entry& c) { return a.tag < c.tag; });

    auto size = [](const Entry& e) { return e.type == 3 ? 2u : e.type == 5 ? 8u : 4u; };
    std::vector<size_t> arrays(l.entries.size(), 0);
    std::vector<Field> elementFields;
    for (size_t i = 0; i < l.entries.size(); ++i) {
        const Entry& e = l.entries[i];
        if (e.values.size() * size(e) <= 4) continue;
        arrays[i] = b.size();
        for (size_t k = 0; k < e.values.size(); ++k) {
            const std::string name = "tag " + std::to_string(e.tag) + " value " + std::to_string(k);
            const bool named = k == 0 || k + 1 == e.values.size();
            if (e.type == 3) b.u16(e.values[k], named ? name : "", e.kind);
            else if (e.type == 4) b.u32(e.values[k], named ? name : "", e.kind);
            else {
                b.u32(e.values[k], named ? name : "", e.kind);
                b.u32(1);
            }
        }
    }
    const size_t ifd = b.size();
    b.patch(first, 4, ifd);
    b.u16(l.entries.size(), "entry count");
    for (size_t i = 0; i < l.entries.size(); ++i) {
        const Entry& e = l.entries[i];
        const std::string t = "tag " + std::to_string(e.tag);
        b.u16(e.tag, t + " tag", Kind::Enum);
        b.u16(e.type, t + " type", Kind::Enum);
        b.u32(e.values.size(), t + " count");
        if (arrays[i]) {
            b.u32(arrays[i], t + " pointer", Kind::Offset);
        } else if (e.type == 3) {
            b.u16(e.values.empty() ? 0 : e.values[0], t + " value", e.kind);
            b.u16(e.values.size() > 1 ? e.values[1] : 0, e.values.size() > 1 ? t + " value 1" : "", e.kind);
        } else {
            b.u32(e.values.empty() ? 0 : e.values[0], t + " value", e.kind);
        }
    }
    b.u32(l.loop ? ifd : 0, "next directory", Kind::Offset);
    return b.take("tiff " + l.name);
}

// One MH row of 8 pixels: 3 white, 2 black, 3 white.
Bytes FaxRows(int rows, bool byteAligned) {
    std::vector<int> bits;
    for (int y = 0; y < rows; ++y) {
        for (const char* code : {"1000", "11", "1000"})
            for (const char* c = code; *c; ++c) bits.push_back(*c - '0');
        if (byteAligned)
            while (bits.size() % 8) bits.push_back(0);
    }
    return PackCodes(bits, 1, true);
}

Bytes JpegStream() {
    TBitmap source = testsupport::NoiseBitmap(16, 8, 3);
    TJPEGImage image;
    image.AssignBitmap(source);
    image.SetGrayOutput(false);
    TMemoryStream out;
    image.WritePicture(out);
    return out.TakeBytes();
}

std::vector<Sample> TiffSamples() {
    std::vector<Sample> s;
    auto base = [](uint32_t w, uint32_t h, std::vector<uint32_t> bits, uint32_t compression, uint32_t photometric,
                   uint32_t rowsPerStrip) {
        return std::vector<Entry>{{256, 4, {w}, Kind::Dimension},
                                  {257, 4, {h}, Kind::Dimension},
                                  {258, 3, bits, Kind::Count},
                                  {259, 3, {compression}, Kind::Enum},
                                  {262, 3, {photometric}, Kind::Enum},
                                  {277, 3, {uint32_t(bits.size())}, Kind::Count},
                                  {278, 4, {rowsPerStrip}, Kind::Count},
                                  {282, 5, {72}, Kind::Count},
                                  {296, 3, {2}, Kind::Enum}};
    };
    {
        TiffLayout l{"4-bit palette, big-endian", true, base(9, 5, {4}, 1, 3, 3), {}};
        std::vector<uint32_t> map;
        for (int c = 0; c < 3; ++c)
            for (uint32_t i = 0; i < 16; ++i) map.push_back((i * 4099 + uint32_t(c) * 777) & 0xFFFF);
        l.entries.push_back({320, 3, map, Kind::Count});
        l.strips = {Pattern(15, 1), Pattern(10, 2)};
        s.push_back(Tiff(l));
    }
    {
        TiffLayout l{"rgb lzw predictor", false, base(7, 5, {8, 8, 8}, 5, 2, 2), {}};
        l.entries.push_back({317, 3, {2}, Kind::Enum});
        for (uint32_t k = 0; k < 3; ++k) l.strips.push_back(LiteralLzw(Pattern(k < 2 ? 42 : 21, k + 4), 8, true));
        s.push_back(Tiff(l));
    }
    {
        TiffLayout l{"rgb deflate planes", false, base(6, 4, {8, 8, 8}, 8, 2, 4), {}};
        l.entries.push_back({284, 3, {2}, Kind::Enum});
        for (uint32_t k = 0; k < 3; ++k) l.strips.push_back(Deflate(Pattern(24, k + 7)));
        s.push_back(Tiff(l));
    }
    {
        TiffLayout l{"fax group 3", false, base(8, 4, {1}, 3, 0, 4), {}};
        l.entries.push_back({266, 3, {1}, Kind::Enum});
        l.entries.push_back({292, 4, {0}, Kind::Enum});
        l.strips = {FaxRows(4, false)};
        s.push_back(Tiff(l));
    }
    {
        TiffLayout l{"fax modified huffman", true, base(8, 6, {1}, 2, 0, 3), {}};
        l.strips = {FaxRows(3, true), FaxRows(3, true)};
        s.push_back(Tiff(l));
    }
    {
        TiffLayout l{"16-bit gray packbits", false, base(5, 4, {16}, 32773, 1, 2), {}};
        for (uint32_t k = 0; k < 2; ++k) {
            const Bytes rows = Pattern(20, k + 9);
            l.strips.push_back(PackBits(rows.data(), rows.size()));
        }
        s.push_back(Tiff(l));
    }
    {
        TiffLayout l{"ycbcr 2x2", false, base(6, 4, {8, 8, 8}, 1, 6, 4), {}};
        l.entries.push_back({530, 3, {2, 2}, Kind::Count});
        l.strips = {Pattern(36, 12)};
        s.push_back(Tiff(l));
    }
    {
        // A directory chain that loops and an EXIF pointer back at the directory itself.
        TiffLayout l{"cmyk lzw, looping directories", false, base(4, 3, {8, 8, 8, 8}, 5, 5, 3), {}};
        l.loop = true;
        l.strips = {LiteralLzw(Pattern(48, 14), 8, true)};
        Sample t = Tiff(l);
        s.push_back(t);
        l.name = "rgba extra samples, exif pointer";
        l.loop = false;
        l.entries = base(4, 3, {8, 8, 8, 8}, 1, 2, 3);
        l.entries.push_back({338, 3, {2}, Kind::Enum});
        l.entries.push_back({34665, 4, {8}, Kind::Offset});
        l.strips = {Pattern(48, 15)};
        s.push_back(Tiff(l));
    }
    {
        TiffLayout l{"jpeg", false, base(16, 8, {8, 8, 8}, 7, 6, 8), {}};
        l.entries.push_back({284, 3, {1}, Kind::Enum});  // the JPEG codec wants it said
        l.strips = {JpegStream()};
        Sample t = Tiff(l);
        t.everyCut = 200;
        s.push_back(t);
    }
    return s;
}

TEST(HostileInput, Tiff) {
    const std::string faults = CheckSamples(TiffSamples(), LoadAndDraw<TTIFFGraphic>);
    EXPECT_TRUE(faults.empty()) << faults;
}

}  // namespace
}  // namespace hostile
