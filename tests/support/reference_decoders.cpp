#include "tests/support/reference_decoders.h"

#include <cstdio>
#include <cstdlib>

#include "tests/support/test_support.h"

namespace testsupport {

bool HavePillow() {
    static const bool have = HaveProgram(kSystemPython) &&
                             RunCommand(std::string(kSystemPython) + " -c 'import PIL' >/dev/null 2>&1") == 0;
    return have;
}

std::optional<TBitmap> PillowDecode(const std::filesystem::path& picture, const std::string& mode) {
    static constexpr std::string_view kScript =
        "import sys\n"
        "from PIL import Image\n"
        "im = Image.open(sys.argv[1]); im.load()\n"
        "im = im.convert(sys.argv[3])\n"
        "if im.mode == 'RGBA':\n"
        "    bg = Image.new('RGBA', im.size, (255, 255, 255, 255))\n"
        "    bg.alpha_composite(im)\n"
        "    im = bg\n"
        "im = im.convert('RGB')\n"
        "open(sys.argv[2], 'wb').write(b'%d %d\\n' % im.size + im.tobytes())\n";
    TempDir dir;
    const std::string script = dir.file("dump.py");
    WriteFile(script, std::vector<uint8_t>(kScript.begin(), kScript.end()));
    const std::string out = dir.file("pixels.raw");
    if (RunCommand(std::string(kSystemPython) + " " + script + " '" + picture.string() + "' " + out + " " + mode +
                   " 2>/dev/null") != 0)
        return std::nullopt;
    const std::vector<uint8_t> raw = ReadFile(out);
    int w = 0, h = 0, used = 0;
    const std::string head(raw.begin(), raw.begin() + std::min<size_t>(raw.size(), 32));
    // The size line ends at its first line feed; sscanf's "\n" would also eat pixel bytes
    // that happen to be white space.
    const size_t lineEnd = head.find('\n');
    if (lineEnd == std::string::npos || std::sscanf(head.c_str(), "%d %d", &w, &h) != 2) return std::nullopt;
    used = int(lineEnd + 1);
    if (raw.size() != size_t(used) + size_t(w) * size_t(h) * 3) return std::nullopt;
    TBitmap bmp(w, h, TPixelFormat::pf24bit);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = bmp.ScanLine(y);
        const uint8_t* p = raw.data() + used + size_t(y) * w * 3;
        for (int x = 0; x < w; ++x, p += 3) {
            row[x * 3] = p[2];  // bitmap rows are blue, green, red
            row[x * 3 + 1] = p[1];
            row[x * 3 + 2] = p[0];
        }
    }
    return bmp;
}

TBitmap FlattenOnWhite(TBitmap& picture) {
    TBitmap out(picture.Width(), picture.Height(), TPixelFormat::pf24bit);
    picture.Draw(out, Rect(0, 0, picture.Width(), picture.Height()));
    return out;
}

int MaxDifference(const TBitmap& had, const TBitmap& wanted, std::string* where) {
    if (had.Width() != wanted.Width() || had.Height() != wanted.Height()) {
        *where = "size " + std::to_string(had.Width()) + " x " + std::to_string(had.Height()) + ", wanted " +
                 std::to_string(wanted.Width()) + " x " + std::to_string(wanted.Height());
        return 256;
    }
    int worst = 0;
    for (int y = 0; y < had.Height(); ++y)
        for (int x = 0; x < had.Width(); ++x) {
            const TColor ca = had.Pixel(x, y), cb = wanted.Pixel(x, y);
            for (int s = 0; s < 24; s += 8) {
                const int d = std::abs(int((ca >> s) & 255) - int((cb >> s) & 255));
                if (d > worst) {
                    worst = d;
                    char text[128];
                    std::snprintf(text, sizeof text, "at (%d,%d) had #%02X%02X%02X wanted #%02X%02X%02X", x, y,
                                  unsigned(ca & 255), unsigned((ca >> 8) & 255), unsigned((ca >> 16) & 255),
                                  unsigned(cb & 255), unsigned((cb >> 8) & 255), unsigned((cb >> 16) & 255));
                    *where = text;
                }
            }
        }
    return worst;
}

}  // namespace testsupport
