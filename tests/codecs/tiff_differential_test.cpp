// Strips written by libtiff (through Pillow) decode to the pixels Pillow wrote. An
// independent encoder catches table and bit-order mistakes that hand-made streams share
// with the decoder.
#include <gtest/gtest.h>

#include <memory>

#include "codec_test_util.h"
#include "graphics/byte_reader.h"
#include "readers/codecs/ccitt_decoder.h"
#include "readers/codecs/lz77_decoder.h"
#include "readers/codecs/lzw_decoder.h"
#include "readers/codecs/rle_decoders.h"
#include "tests/support/test_support.h"

using codectest::Bytes;

namespace {

const char* kPython = "/usr/bin/python3";

// Writes a picture of the given Pillow mode and compression plus its raw rows.
bool MakeTiff(const testsupport::TempDir& dir, const std::string& mode, const std::string& compression,
              int width, int height) {
    const std::string script = dir.file("make.py");
    testsupport::WriteFile(script, [] {
        const std::string text = R"(
import random, sys
from PIL import Image
mode, compression, w, h, out, raw = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), sys.argv[5], sys.argv[6]
random.seed(7)
im = Image.new('L', (w, h))
px = []
for y in range(h):
    for x in range(w):
        if y % 11 == 3: v = 255
        elif y % 11 == 4: v = 0
        elif y % 7 == 0: v = random.randrange(256)
        elif (x // 9 + y // 5) % 3 == 0: v = 255
        elif x % 13 < 4: v = 0
        else: v = (x * 3 + y) & 255
        px.append(v)
im.putdata(px)
if mode == '1': im = im.point(lambda v: 255 if v > 100 else 0).convert('1')
im.save(out, compression=compression)
open(raw, 'wb').write(im.tobytes())
)";
        return Bytes(text.begin(), text.end());
    }());
    const std::string cmd = std::string(kPython) + " " + script + " " + mode + " " + compression + " " +
                            std::to_string(width) + " " + std::to_string(height) + " " +
                            dir.file("p.tif") + " " + dir.file("p.raw");
    return testsupport::RunCommand(cmd) == 0;
}

struct Strips {
    std::vector<Bytes> data;
    uint32_t rowsPerStrip = 0;
    uint32_t fillOrder = 1;
};

std::vector<uint32_t> TagValues(ByteReader file, uint16_t type, uint32_t count, uint32_t valueOrOffset,
                                size_t entryPos) {
    const size_t size = type == 3 ? 2 : 4;
    ByteReader r = file;
    if (count * size <= 4) r.seek(entryPos + 8);
    else r.seek(valueOrOffset);
    std::vector<uint32_t> v;
    for (uint32_t i = 0; i < count; ++i) v.push_back(type == 3 ? r.u16le() : r.u32le());
    return v;
}

Strips ReadStrips(const Bytes& file) {
    ByteReader r(file);
    EXPECT_EQ(r.u16le(), 0x4949) << "Pillow writes little-endian files";
    r.skip(2);
    r.seek(r.u32le());
    const uint16_t entries = r.u16le();
    std::vector<uint32_t> offsets, counts;
    Strips s;
    for (uint16_t i = 0; i < entries; ++i) {
        const size_t entryPos = r.pos();
        const uint16_t tag = r.u16le(), type = r.u16le();
        const uint32_t count = r.u32le(), value = r.u32le();
        if (tag == 273) offsets = TagValues(ByteReader(file), type, count, value, entryPos);
        if (tag == 279) counts = TagValues(ByteReader(file), type, count, value, entryPos);
        if (tag == 278) s.rowsPerStrip = TagValues(ByteReader(file), type, count, value, entryPos)[0];
        if (tag == 266) s.fillOrder = TagValues(ByteReader(file), type, count, value, entryPos)[0];
    }
    for (size_t i = 0; i < offsets.size() && i < counts.size(); ++i)
        s.data.emplace_back(file.begin() + offsets[i], file.begin() + offsets[i] + counts[i]);
    return s;
}

// Decodes every strip with a fresh Decode call and returns the rows.
Bytes DecodeAll(TDecoder& decoder, const Strips& strips, size_t rowBytes, int height) {
    Bytes out(rowBytes * height, 0xEE);
    int row = 0;
    decoder.DecodeInit();
    for (const Bytes& strip : strips.data) {
        const int rows = std::min<int>(strips.rowsPerStrip, height - row);
        TDecodeSource src(strip.data(), strip.size());
        TDecodeTarget dst(out.data() + row * rowBytes, rows * rowBytes);
        decoder.Decode(src, dst, int32_t(strip.size()), int32_t(rows * rowBytes));
        row += rows;
    }
    decoder.DecodeEnd();
    return out;
}

struct Case {
    const char* mode;
    const char* compression;
    int width, height;
    std::function<std::unique_ptr<TDecoder>(int width)> make;
};

void CheckAgainstPillow(const Case& c) {
    if (!testsupport::HaveProgram(kPython) || testsupport::RunCommand(std::string(kPython) + " -c 'import PIL.Image'") != 0)
        GTEST_SKIP() << "no Pillow (scripts/setup.sh installs python3-pil)";
    testsupport::TempDir dir;
    // Debian's Pillow writes every one of these through libtiff: a failure here is a fault.
    ASSERT_TRUE(MakeTiff(dir, c.mode, c.compression, c.width, c.height)) << "Pillow could not write " << c.compression;
    const Strips strips = ReadStrips(testsupport::ReadFile(dir.file("p.tif")));
    ASSERT_FALSE(strips.data.empty());
    ASSERT_GT(strips.rowsPerStrip, 0u);
    const Bytes want = testsupport::ReadFile(dir.file("p.raw"));
    const size_t rowBytes = std::string(c.mode) == "1" ? (c.width + 7) / 8 : c.width;
    auto decoder = c.make(c.width);
    const Bytes have = DecodeAll(*decoder, strips, rowBytes, c.height);
    ASSERT_EQ(have.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i)
        ASSERT_EQ(have[i], want[i]) << c.compression << ": first difference at byte " << i << " (row "
                                    << i / rowBytes << "), " << strips.data.size() << " strips";
}

}  // namespace

TEST(TiffStripsFromLibtiff, LZW) {
    CheckAgainstPillow({"L", "tiff_lzw", 301, 260, [](int) { return std::make_unique<TTIFFLZWDecoder>(); }});
}

TEST(TiffStripsFromLibtiff, PackBits) {
    CheckAgainstPillow({"L", "packbits", 157, 90, [](int) { return std::make_unique<TPackbitsRLEDecoder>(); }});
}

TEST(TiffStripsFromLibtiff, DeflateWithAutoReset) {
    CheckAgainstPillow({"L", "tiff_adobe_deflate", 400, 300,
                        [](int) { return std::make_unique<TLZ77Decoder>(1, true); }});
}

TEST(TiffStripsFromLibtiff, ModifiedHuffman) {
    CheckAgainstPillow({"1", "tiff_ccitt", 1801, 40, [](int w) {
                            return std::make_unique<TCCITTMHDecoder>(0, false, false, w);
                        }});
}

TEST(TiffStripsFromLibtiff, Group3OneDimensional) {
    CheckAgainstPillow({"1", "group3", 2600, 30, [](int w) {
                            return std::make_unique<TCCITTFax3Decoder>(0, false, false, w);
                        }});
}
