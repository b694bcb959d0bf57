#include "readers/heif_canvas.h"

#include <cstring>
#include <map>
#include <optional>
#include <string>

#include "graphics/byte_reader.h"
#include "graphics/errors.h"

namespace {

struct Box {
    char type[4];
    ByteReader body;
};

// The next box of r; a size of 0 runs to the end.
Box NextBox(ByteReader& r) {
    const size_t start = r.pos();
    uint64_t size = r.u32be();
    Box box;
    r.copy(box.type, 4);
    if (size == 1) {
        const uint64_t high = r.u32be();
        size = (high << 32) | r.u32be();
    } else if (size == 0) {
        size = r.size() - start;
    }
    const size_t header = r.pos() - start;
    if (size < header || size - header > r.remaining()) throw EReadError(kStreamReadError);
    box.body = r.sub(static_cast<size_t>(size - header));
    return box;
}

bool Is(const Box& box, const char* type) { return std::memcmp(box.type, type, 4) == 0; }

uint64_t ReadSized(ByteReader& r, unsigned bytes) {
    uint64_t v = 0;
    for (unsigned i = 0; i < bytes; ++i) v = (v << 8) | r.u8();
    return v;
}

struct Location {
    unsigned method = 0;
    uint64_t offset = 0;  // of the first extent
    uint64_t length = 0;
};

std::map<uint32_t, Location> ParseIloc(ByteReader r) {
    const unsigned version = r.u8();
    r.skip(3);
    const unsigned sizes = r.u8();
    const unsigned offsetSize = sizes >> 4, lengthSize = sizes & 15;
    const unsigned sizes2 = r.u8();
    const unsigned baseSize = sizes2 >> 4, indexSize = version >= 1 ? (sizes2 & 15) : 0;
    const uint32_t count = version < 2 ? r.u16be() : r.u32be();
    std::map<uint32_t, Location> items;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t id = version < 2 ? r.u16be() : r.u32be();
        Location loc;
        if (version >= 1) loc.method = r.u16be() & 15;
        r.skip(2);  // data reference index
        const uint64_t base = ReadSized(r, baseSize);
        const unsigned extents = r.u16be();
        for (unsigned e = 0; e < extents; ++e) {
            ReadSized(r, indexSize);
            const uint64_t offset = ReadSized(r, offsetSize);
            const uint64_t length = ReadSized(r, lengthSize);
            if (e == 0) {
                loc.offset = base + offset;
                loc.length = length;
            }
        }
        items[id] = loc;
    }
    return items;
}

// Item id -> item type (four spaces for descriptions older than version 2, which have none).
std::map<uint32_t, std::string> ParseItems(std::optional<ByteReader> iinf) {
    if (!iinf) return {};
    ByteReader& r = *iinf;
    const unsigned version = r.u8();
    r.skip(3);
    const uint32_t count = version == 0 ? r.u16be() : r.u32be();
    std::map<uint32_t, std::string> items;
    for (uint32_t i = 0; i < count && !r.atEnd(); ++i) {
        Box infe = NextBox(r);
        if (!Is(infe, "infe")) continue;
        const unsigned v = infe.body.u8();
        infe.body.skip(3);
        const uint32_t id = v <= 2 ? infe.body.u16be() : infe.body.u32be();
        std::string type = "    ";
        if (v >= 2) {
            infe.body.skip(2);  // protection index
            infe.body.copy(type.data(), 4);
        }
        items[id] = type;
    }
    return items;
}

// The boxes of the meta box that describe the file's items (each absent if not there).
struct ItemBoxes {
    std::optional<ByteReader> iinf, iloc, idat, iref;
};

ItemBoxes FindItemBoxes(std::span<const uint8_t> file) {
    ByteReader top(file);
    std::optional<ByteReader> meta;
    while (!top.atEnd() && !meta) {
        Box box = NextBox(top);
        if (Is(box, "meta")) meta = box.body;
    }
    ItemBoxes boxes;
    if (!meta) return boxes;
    meta->skip(4);  // version and flags
    while (!meta->atEnd()) {
        Box box = NextBox(*meta);
        if (Is(box, "iinf")) boxes.iinf = box.body;
        if (Is(box, "iloc")) boxes.iloc = box.body;
        if (Is(box, "idat")) boxes.idat = box.body;
        if (Is(box, "iref")) boxes.iref = box.body;
    }
    return boxes;
}

HeifCanvasSize ParseCanvas(ByteReader r, bool overlay) {
    r.u8();  // version
    const unsigned flags = r.u8();
    if (overlay)
        r.skip(8);  // fill colour
    else
        r.skip(2);  // rows and columns
    HeifCanvasSize size;
    size.width = (flags & 1) ? r.u32be() : r.u16be();
    size.height = (flags & 1) ? r.u32be() : r.u16be();
    return size;
}

}  // namespace

std::vector<HeifCanvasSize> HeifDerivedCanvasSizes(std::span<const uint8_t> file) {
    const ItemBoxes boxes = FindItemBoxes(file);
    const std::map<uint32_t, std::string> items = ParseItems(boxes.iinf);
    const std::map<uint32_t, Location> locations = boxes.iloc ? ParseIloc(*boxes.iloc) : std::map<uint32_t, Location>();
    const std::optional<ByteReader>& idat = boxes.idat;
    std::vector<HeifCanvasSize> sizes;
    for (const auto& [id, type] : items) {
        const bool overlay = type == "iovl";
        if (!overlay && type != "grid") continue;
        const auto found = locations.find(id);
        if (found == locations.end()) throw EReadError(kStreamReadError);
        const Location& loc = found->second;
        std::span<const uint8_t> source;
        if (loc.method == 0)
            source = file;
        else if (loc.method == 1 && idat)
            source = idat->data();
        else
            throw EReadError(kStreamReadError);
        if (loc.offset > source.size()) throw EReadError(kStreamReadError);
        ByteReader data(source.subspan(static_cast<size_t>(loc.offset)));
        sizes.push_back(ParseCanvas(data, overlay));
    }
    return sizes;
}

bool HeifDerivationsComplete(std::span<const uint8_t> file) {
    const ItemBoxes boxes = FindItemBoxes(file);
    if (!boxes.iref) return true;
    const std::map<uint32_t, std::string> items = ParseItems(boxes.iinf);
    ByteReader r = *boxes.iref;
    const unsigned version = r.u8();
    r.skip(3);
    while (!r.atEnd()) {
        Box reference = NextBox(r);
        if (!Is(reference, "dimg")) continue;
        ByteReader& body = reference.body;
        auto id = [&] { return version == 0 ? uint32_t(body.u16be()) : body.u32be(); };
        id();  // the derived image
        const unsigned count = body.u16be();
        for (unsigned i = 0; i < count; ++i)
            if (!items.contains(id())) return false;
    }
    return true;
}
