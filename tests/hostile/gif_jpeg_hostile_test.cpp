// GIF and JPEG pictures against damaged copies of small valid files.
#include <gtest/gtest.h>

#include "gif/gif_image.h"
#include "jpeg/jpeg_image.h"
#include "tests/hostile/hostile_util.h"

namespace hostile {
namespace {

// Sub-blocks of at most 255 bytes, each length a named field, then the terminator.
void SubBlocks(FileBuilder& b, const Bytes& data, const std::string& name, size_t chunk = 255) {
    for (size_t i = 0; i < data.size(); i += chunk) {
        const size_t n = std::min(chunk, data.size() - i);
        b.u8(n, name + " block length", Kind::Length);
        b.bytes(std::span<const uint8_t>(data.data() + i, n), name + " data");
    }
    b.u8(0, name + " terminator", Kind::Length);
}

// Two frames: the first over the global table with a transparent colour, the second with a
// local table and interlaced rows. Pixel values reach past both palettes (8 symbols, 4 and 2
// entries), and the comment and application extensions come before and between them.
Sample Gif(bool smallBlocks) {
    FileBuilder b;
    b.bytes(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>("GIF89a"), 6));
    b.u16(9, "screen width", Kind::Dimension);
    b.u16(6, "screen height", Kind::Dimension);
    b.u8(0x81, "screen flags", Kind::Enum);  // global table of 4
    b.u8(2, "background", Kind::Index);
    b.u8(0);
    b.bytes(Bytes{0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255}, "global palette");

    const uint8_t app[] = {0x21, 0xFF};
    b.bytes(app);
    b.u8(11, "application id length", Kind::Length);
    b.bytes(Bytes{'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'});
    b.u8(3, "loop block length", Kind::Length);
    b.bytes(Bytes{1, 0, 0});
    b.u8(0);
    b.bytes(Bytes{0x21, 0xFE});
    SubBlocks(b, Pattern(40, 3), "comment", 13);
    b.bytes(Bytes{0x21, 0xF9});
    b.u8(4, "control length", Kind::Length);
    b.u8(1, "control flags", Kind::Enum);
    b.u16(10);
    b.u8(7, "transparent index", Kind::Index);
    b.u8(0);

    auto frame = [&](const std::string& p, int left, int top, int w, int h, uint8_t flags, const Bytes& palette) {
        b.u8(0x2C);
        b.u16(left, p + "left", Kind::Dimension);
        b.u16(top, p + "top", Kind::Dimension);
        b.u16(w, p + "width", Kind::Dimension);
        b.u16(h, p + "height", Kind::Dimension);
        b.u8(flags, p + "flags", Kind::Enum);
        b.bytes(palette, p + "palette");
        b.u8(3, p + "code size", Kind::Enum);
        SubBlocks(b, LiteralLzw(Pattern(size_t(w) * h, uint32_t(w + 5), 7), 3, false), p + "lzw",
                  smallBlocks ? 5 : 255);
    };
    frame("frame 1 ", 0, 0, 9, 6, 0, {});
    frame("frame 2 ", 2, 1, 5, 4, 0xC0, Bytes{10, 20, 30, 200, 100, 50});
    b.u8(0x3B);
    return b.take(smallBlocks ? "gif in 5-byte blocks" : "gif");
}

TEST(HostileInput, Gif) {
    const Sample plain = Gif(false);
    // Long chains: a hundred thousand empty extensions, a comment of a million one-byte
    // blocks, and ten thousand one-pixel frames, each with a local palette.
    Bytes extensions(plain.bytes.begin(), plain.bytes.begin() + 25);
    for (int i = 0; i < 100000; ++i) extensions.insert(extensions.end(), {0x21, 0x01, 0x00});
    extensions.insert(extensions.end(), plain.bytes.begin() + 25, plain.bytes.end());
    Bytes comment(plain.bytes.begin(), plain.bytes.begin() + 25);
    comment.insert(comment.end(), {0x21, 0xFE});
    for (int i = 0; i < 1000000; ++i) comment.insert(comment.end(), {0x01, 'x'});
    comment.push_back(0);
    comment.insert(comment.end(), plain.bytes.begin() + 25, plain.bytes.end());
    Bytes frames(plain.bytes.begin(), plain.bytes.begin() + 25);
    for (int i = 0; i < 10000; ++i)
        frames.insert(frames.end(), {0x2C, 1, 0, 1, 0, 1, 0, 1, 0, 0x80, 1, 2, 3, 4, 5, 6, 2, 2, 0x4C, 0x01, 0});
    frames.push_back(0x3B);
    const std::string faults = CheckSamples({plain, Gif(true)}, LoadAndDraw<TGIFImage>,
                                            {{"100000 empty extensions", extensions},
                                             {"a comment of a million blocks", comment},
                                             {"10000 frames", frames}});
    EXPECT_TRUE(faults.empty()) << faults;
}

// A JPEG written by the program itself, with its marker segments' fields found by walking them.
Sample Jpeg(bool progressive, bool gray) {
    TBitmap source = testsupport::NoiseBitmap(19, 11, 5);
    TJPEGImage image;
    image.AssignBitmap(source);
    image.SetQuality(70);
    image.SetProgressiveSave(progressive);
    image.SetGrayOutput(gray);
    TMemoryStream out;
    image.WritePicture(out);
    Sample s;
    s.name = std::string("jpeg") + (progressive ? " progressive" : "") + (gray ? " gray" : "");
    s.bytes = out.TakeBytes();
    s.everyCut = 300;
    const Bytes& f = s.bytes;
    for (size_t at = 2; at + 4 <= f.size() && f[at] == 0xFF;) {
        const uint8_t marker = f[at + 1];
        const size_t length = size_t(f[at + 2]) << 8 | f[at + 3];
        const std::string m = "marker " + Hex2(marker) + " ";
        s.fields.push_back({m + "length", at + 2, 2, true, Kind::Length});
        if (marker == 0xC0 || marker == 0xC2) {
            s.fields.push_back({m + "precision", at + 4, 1, true, Kind::Enum});
            s.fields.push_back({m + "height", at + 5, 2, true, Kind::Dimension});
            s.fields.push_back({m + "width", at + 7, 2, true, Kind::Dimension});
            s.fields.push_back({m + "components", at + 9, 1, true, Kind::Count});
            for (size_t c = 0; c < f[at + 9] && at + 12 + 3 * c < f.size(); ++c) {
                s.fields.push_back({m + "sampling", at + 11 + 3 * c, 1, true, Kind::Enum});
                s.fields.push_back({m + "table", at + 12 + 3 * c, 1, true, Kind::Index});
            }
        } else if (marker == 0xC4 || marker == 0xDB) {
            s.fields.push_back({m + "class and id", at + 4, 1, true, Kind::Enum});
        } else if (marker == 0xDA) {
            s.fields.push_back({m + "components", at + 4, 1, true, Kind::Count});
            s.fields.push_back({m + "tables", at + 6, 1, true, Kind::Index});
            s.fields.push_back({m + "spectral start", at + 4 + length - 5, 1, true, Kind::Enum});
            s.fields.push_back({m + "spectral end", at + 4 + length - 4, 1, true, Kind::Enum});
            s.fields.push_back({m + "approximation", at + 4 + length - 3, 1, true, Kind::Enum});
            size_t end = at + 2 + length;
            while (end + 1 < f.size() && !(f[end] == 0xFF && f[end + 1] != 0 && (f[end + 1] < 0xD0 || f[end + 1] > 0xD7)))
                ++end;
            s.regions.push_back({m + "scan data", at + 2 + length, end - (at + 2 + length)});
            at = end;
            continue;
        }
        at += 2 + length;
    }
    return s;
}

TEST(HostileInput, Jpeg) {
    const std::string faults = CheckSamples({Jpeg(false, false), Jpeg(true, false), Jpeg(false, true)},
                                            LoadAndDraw<TJPEGImage>);
    EXPECT_TRUE(faults.empty()) << faults;
}

}  // namespace
}  // namespace hostile
