#include "gif_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "tests/support/test_support.h"

namespace giftest {

Bytes PackCodes(const std::vector<int>& codes, int codeSize) {
    Bytes out;
    uint32_t acc = 0;
    int bits = 0;
    for (int code : codes) {
        acc |= uint32_t(code) << bits;
        bits += codeSize;
        while (bits >= 8) {
            out.push_back(uint8_t(acc));
            acc >>= 8;
            bits -= 8;
        }
    }
    if (bits > 0) out.push_back(uint8_t(acc));
    return out;
}

Bytes SubBlocks(const Bytes& data) {
    Bytes out;
    for (size_t pos = 0; pos < data.size(); pos += 255) {
        const size_t n = std::min<size_t>(255, data.size() - pos);
        out.push_back(uint8_t(n));
        out.insert(out.end(), data.begin() + pos, data.begin() + pos + n);
    }
    out.push_back(0);
    return out;
}

GifBuilder::GifBuilder(const char* signature) { bytes_.assign(signature, signature + 6); }

void GifBuilder::Table(const std::vector<TColor>& colors, int bits) {
    for (int i = 0; i < (1 << bits); ++i) {
        const TColor c = i < int(colors.size()) ? colors[i] : 0;
        bytes_.push_back(GetRValue(c));
        bytes_.push_back(GetGValue(c));
        bytes_.push_back(GetBValue(c));
    }
}

static int TableBits(size_t count) {
    int bits = 1;
    while ((size_t(1) << bits) < count) ++bits;
    return bits;
}

GifBuilder& GifBuilder::Screen(int width, int height, const std::vector<TColor>& colors, uint8_t background) {
    const int bits = TableBits(colors.size());
    Raw({uint8_t(width), uint8_t(width >> 8), uint8_t(height), uint8_t(height >> 8)});
    bytes_.push_back(colors.empty() ? 0 : uint8_t(0x80 | ((bits - 1) << 4) | (bits - 1)));
    Raw({background, 0});
    if (!colors.empty()) Table(colors, bits);
    return *this;
}

GifBuilder& GifBuilder::GraphicControl(uint8_t packed, int delay, uint8_t transparentIndex) {
    return Raw({'!', 0xF9, 4, packed, uint8_t(delay), uint8_t(delay >> 8), transparentIndex, 0});
}

GifBuilder& GifBuilder::Comment(const std::string& text) {
    Raw({'!', 0xFE});
    return Raw(SubBlocks(Bytes(text.begin(), text.end())));
}

GifBuilder& GifBuilder::Application(const std::string& id11, const Bytes& firstBlock) {
    Raw({'!', 0xFF, 11});
    Raw(Bytes(id11.begin(), id11.end()));
    bytes_.push_back(uint8_t(firstBlock.size()));
    Raw(firstBlock);
    bytes_.push_back(0);
    return *this;
}

GifBuilder& GifBuilder::PlainText() {
    Raw({'!', 0x01, 12, 0, 0, 0, 0, 8, 0, 8, 0, 8, 8, 1, 0});
    return Raw(SubBlocks({'h', 'i'}));
}

GifBuilder& GifBuilder::Image(int left, int top, int width, int height, int minCodeSize, const Bytes& lzwData,
                              bool interlaced, const std::vector<TColor>& localColors) {
    bytes_.push_back(',');
    Raw({uint8_t(left), uint8_t(left >> 8), uint8_t(top), uint8_t(top >> 8)});
    Raw({uint8_t(width), uint8_t(width >> 8), uint8_t(height), uint8_t(height >> 8)});
    const int bits = TableBits(localColors.size());
    uint8_t packed = interlaced ? 0x40 : 0;
    if (!localColors.empty()) packed |= uint8_t(0x80 | (bits - 1));
    bytes_.push_back(packed);
    if (!localColors.empty()) Table(localColors, bits);
    bytes_.push_back(uint8_t(minCodeSize));
    return Raw(SubBlocks(lzwData));
}

GifBuilder& GifBuilder::Raw(std::initializer_list<uint8_t> bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
}

GifBuilder& GifBuilder::Raw(const Bytes& bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
}

GifBuilder& GifBuilder::Trailer() { return Raw({';'}); }

void LoadGif(TGIFImage& gif, const Bytes& bytes) {
    TMemoryStream stream(bytes);
    gif.ReadPicture(stream);
}

Bytes SaveGif(TGIFImage& gif) {
    TMemoryStream stream;
    gif.WritePicture(stream);
    return stream.TakeBytes();
}

std::optional<Bytes> ReferenceDecodeLzw(const Bytes& lzw) {
    if (lzw.empty()) return std::nullopt;
    const int minSize = lzw[0];
    Bytes data;
    for (size_t pos = 1; pos < lzw.size() && lzw[pos] != 0;) {
        const size_t n = lzw[pos];
        if (pos + 1 + n > lzw.size()) return std::nullopt;
        data.insert(data.end(), lzw.begin() + pos + 1, lzw.begin() + pos + 1 + n);
        pos += 1 + n;
    }
    const int clear = 1 << minSize, end = clear + 1;
    std::vector<Bytes> dict;
    auto reset = [&]() {
        dict.clear();
        for (int i = 0; i < clear + 2; ++i) dict.push_back(Bytes{uint8_t(i)});
    };
    reset();
    int size = minSize + 1;
    size_t bit = 0;
    Bytes out, prev;
    bool havePrev = false;
    while (bit + size <= data.size() * 8) {
        int code = 0;
        for (int i = 0; i < size; ++i, ++bit)
            if (data[bit / 8] & (1 << (bit % 8))) code |= 1 << i;
        if (code == clear) {
            reset();
            size = minSize + 1;
            havePrev = false;
            continue;
        }
        if (code == end) return out;
        Bytes entry;
        if (code < int(dict.size())) {
            entry = dict[size_t(code)];
        } else if (code == int(dict.size()) && havePrev) {
            entry = prev;
            entry.push_back(prev[0]);
        } else {
            return std::nullopt;
        }
        out.insert(out.end(), entry.begin(), entry.end());
        if (havePrev && dict.size() < 4096) {
            Bytes added = prev;
            added.push_back(entry[0]);
            dict.push_back(added);
            if (int(dict.size()) == (1 << size) && size < 12) ++size;
        }
        prev = entry;
        havePrev = true;
    }
    return std::nullopt;  // no end code
}

std::optional<Decoded> DecodeWithPillow(const std::string& path) {
    static const bool have = testsupport::HaveProgram("/usr/bin/python3") &&
                             testsupport::RunCommand("/usr/bin/python3 -c 'import PIL' >/dev/null 2>&1") == 0;
    if (!have) return std::nullopt;
    testsupport::TempDir dir;
    const std::string out = dir.file("pixels.raw");
    const std::string script =
        "import sys; from PIL import Image; im = Image.open(sys.argv[1]); im.seek(0); px = im.convert('RGBA'); "
        "f = open(sys.argv[2], 'wb'); f.write(b'%d %d\\n' % px.size); f.write(px.tobytes())";
    const int rc = testsupport::RunCommand("/usr/bin/python3 -c \"" + script + "\" '" + path + "' '" + out + "'");
    EXPECT_EQ(rc, 0) << "Pillow could not decode " << path;
    Decoded result;
    if (rc != 0) return result;
    const Bytes raw = testsupport::ReadFile(out);
    const auto nl = std::find(raw.begin(), raw.end(), uint8_t('\n'));
    if (nl == raw.end() || std::sscanf(std::string(raw.begin(), nl).c_str(), "%d %d", &result.width, &result.height) != 2)
        return result;
    result.rgba.assign(nl + 1, raw.end());
    return result;
}

Bytes BitmapRgba(const TBitmap& bitmap) {
    Bytes rgba;
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x) {
            const TColor c = bitmap.Pixel(x, y);
            rgba.insert(rgba.end(), {GetRValue(c), GetGValue(c), GetBValue(c), 255});
        }
    return rgba;
}

}  // namespace giftest
