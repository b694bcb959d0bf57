#include "gif/gif_palette.h"

#include <limits>

#include "graphics/errors.h"
#include "graphics/size_check.h"

namespace {

constexpr int kMaxEntries = 2049;
constexpr int kHashSlots = 5191;
constexpr uint16_t kEmptySlot = 0xFFFF;

struct HistogramEntry {
    uint8_t blue = 0, green = 0, red = 0;
    int32_t count = 0;
    uint8_t paletteIndex = 0;
    bool picked = false;
};

class ColorHistogram {
public:
    uint8_t redMask = 0xFF, greenMask = 0xFF, blueMask = 0xFF;
    std::vector<HistogramEntry> entries;

    ColorHistogram() : slots_(kHashSlots, kEmptySlot) { entries.reserve(kMaxEntries); }

    void Clear() {
        entries.clear();
        std::fill(slots_.begin(), slots_.end(), kEmptySlot);
    }

    // The slot holding the masked colour, or the empty slot where it would go.
    size_t Find(uint8_t r, uint8_t g, uint8_t b) const {
        size_t slot = size_t((unsigned(r) + g) * (unsigned(g) + b) * (unsigned(b) + r)) % kHashSlots;
        while (slots_[slot] != kEmptySlot) {
            const HistogramEntry& e = entries[slots_[slot]];
            if (e.red == r && e.green == g && e.blue == b) break;
            if (++slot == kHashSlots) slot = 0;
        }
        return slot;
    }

    // Counts one pixel; false when a new colour does not fit any more.
    bool Add(uint8_t r, uint8_t g, uint8_t b) {
        r &= redMask;
        g &= greenMask;
        b &= blueMask;
        const size_t slot = Find(r, g, b);
        if (slots_[slot] != kEmptySlot) {
            ++entries[slots_[slot]].count;
            return true;
        }
        if (entries.size() >= kMaxEntries) return false;
        slots_[slot] = static_cast<uint16_t>(entries.size());
        entries.push_back(HistogramEntry{b, g, r, 1, 0, false});
        return true;
    }

    const HistogramEntry& Lookup(uint8_t r, uint8_t g, uint8_t b) const {
        return entries[slots_[Find(r & redMask, g & greenMask, b & blueMask)]];
    }

    // One more low bit off one channel, blue, red and green in turn.
    void Narrow() {
        if (redMask < greenMask)
            greenMask = static_cast<uint8_t>(greenMask << 1);
        else if (redMask > blueMask)
            redMask = static_cast<uint8_t>(redMask << 1);
        else
            blueMask = static_cast<uint8_t>(blueMask << 1);
    }

private:
    std::vector<uint16_t> slots_;
};

// Rows in the order of a bottom-up Windows bitmap: the order decides which of two equally
// frequent colours comes first.
bool CountColors(const TBitmap& bitmap, ColorHistogram& histogram) {
    histogram.Clear();
    const int w = bitmap.Width();
    for (int y = bitmap.Height() - 1; y >= 0; --y) {
        const uint8_t* row = bitmap.ScanLine(y);
        for (int x = 0; x < w; ++x)
            if (!histogram.Add(row[3 * x + 2], row[3 * x + 1], row[3 * x])) return false;
    }
    return true;
}

}  // namespace

TPaletteImage ReduceToPalette(const TBitmap& bitmap) {
    if (bitmap.PixelFormat() != TPixelFormat::pf24bit)
        throw EInvalidGraphicOperation("Colour reduction needs a 24-bit picture");
    TPaletteImage result;
    result.Width = bitmap.Width();
    result.Height = bitmap.Height();
    CheckPictureSize(result.Width, result.Height, 8);

    ColorHistogram histogram;
    while (!CountColors(bitmap, histogram)) histogram.Narrow();
    result.RedMask = histogram.redMask;
    result.GreenMask = histogram.greenMask;
    result.BlueMask = histogram.blueMask;

    auto& entries = histogram.entries;
    const int used = static_cast<int>(std::min<size_t>(256, entries.size()));
    for (int i = 0; i < used; ++i) {
        size_t best = 0;
        int32_t bestCount = -1;
        for (size_t e = 0; e < entries.size(); ++e)
            if (!entries[e].picked && entries[e].count > bestCount) {
                best = e;
                bestCount = entries[e].count;
            }
        HistogramEntry& chosen = entries[best];
        result.Palette[i] = TRGBQuad{chosen.blue, chosen.green, chosen.red, 0};
        chosen.count = 0;
        chosen.paletteIndex = static_cast<uint8_t>(i);
        chosen.picked = true;
    }
    for (int i = used; i < 256; ++i) result.Palette[i] = TRGBQuad{128, 128, 128, 0};
    result.UsedColors = used;

    for (HistogramEntry& e : entries) {
        if (e.picked) continue;
        int bestDistance = std::numeric_limits<int>::max();
        for (int i = 0; i < used; ++i) {
            const TRGBQuad& q = result.Palette[i];
            const int dr = int(e.red) - q.rgbRed, dg = int(e.green) - q.rgbGreen, db = int(e.blue) - q.rgbBlue;
            const int d = dr * dr + dg * dg + db * db;
            if (d < bestDistance) {
                bestDistance = d;
                e.paletteIndex = static_cast<uint8_t>(i);
            }
        }
    }

    result.Indices.resize(size_t(result.Width) * size_t(result.Height));
    for (int y = 0; y < result.Height; ++y) {
        const uint8_t* row = bitmap.ScanLine(y);
        uint8_t* out = result.Indices.data() + size_t(y) * size_t(result.Width);
        for (int x = 0; x < result.Width; ++x)
            out[x] = histogram.Lookup(row[3 * x + 2], row[3 * x + 1], row[3 * x]).paletteIndex;
    }
    return result;
}
