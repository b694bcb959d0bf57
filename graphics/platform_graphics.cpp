#include "graphics/platform_graphics.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <vector>

#include "graphics/byte_reader.h"
#include "graphics/dib.h"
#include "graphics/errors.h"
#include "graphics/size_check.h"
#include "graphics/stream.h"

IMBRIX_DEFINE_GRAPHIC_CLASS(TIcon, TBitmap);
IMBRIX_DEFINE_GRAPHIC_CLASS(TMetafile, TBitmap);

namespace {

struct IconEntry {
    size_t offset = 0;
    size_t size = 0;
    uint64_t pixels = 0;  // unsigned: two 32-bit PNG dimensions multiply past int64_t
    int bitCount = 0;
    bool png = false;
};

TIconPngDecoder iconPngDecoder = nullptr;
TMetafilePlayer metafilePlayer = nullptr;

bool IsPngData(std::span<const uint8_t> data) {
    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return data.size() >= 8 && std::equal(signature, signature + 8, data.begin());
}

// The image of an entry: its DIB header holds the XOR bitmap and the AND mask one above
// the other, so the real height is half the stored one.
DibHeader IconImageHeader(ByteReader& r) {
    DibHeader h = ReadDibHeader(r);
    if (h.topDown || h.height < 2) throw EInvalidGraphic("Invalid icon image");
    h.height /= 2;
    return h;
}

// Pixels that the AND mask marks become fully transparent: drawn onto the white working
// bitmap they come out white.
void ApplyAndMask(ByteReader& r, const DibHeader& h, TBitmap& bmp) {
    const size_t stride = static_cast<size_t>(CheckPictureSize(h.width, 1, 1, 4));
    // Some writers leave the mask out; the picture is then opaque.
    if (r.remaining() / stride < static_cast<uint64_t>(h.height)) return;
    const int w = bmp.Width(), height = bmp.Height();
    std::vector<uint8_t> mask(static_cast<size_t>(CheckAllocation(uint64_t(w), uint64_t(height))));
    bool any = false;
    for (int i = 0; i < height; ++i) {
        const std::span<const uint8_t> row = r.bytes(stride);
        const int y = height - 1 - i;
        for (int x = 0; x < w; ++x) {
            const bool transparent = (row[size_t(x) >> 3] >> (7 - (x & 7))) & 1;
            mask[size_t(y) * size_t(w) + size_t(x)] = transparent;
            any = any || transparent;
        }
    }
    if (!any) return;
    bmp.SetPixelFormat(TPixelFormat::pf32bit);
    for (int y = 0; y < height; ++y) {
        uint8_t* out = bmp.ScanLine(y);
        for (int x = 0; x < w; ++x) out[4 * x + 3] = mask[size_t(y) * size_t(w) + size_t(x)] ? 0 : 255;
    }
    bmp.AlphaMeaningful = true;
}

}  // namespace

void SetIconPngDecoder(TIconPngDecoder decoder) { iconPngDecoder = decoder; }

void TIcon::ReadPicture(TStream& stream) {
    const std::vector<uint8_t> data = stream.ReadRest();
    ByteReader r(data);
    const uint16_t reserved = r.u16le();
    const uint16_t type = r.u16le();
    const uint16_t count = r.u16le();
    if (reserved != 0 || (type != 1 && type != 2) || count == 0) throw EInvalidGraphic("Not a Windows icon file");

    std::vector<IconEntry> candidates;
    bool sawPng = false;
    std::string firstError;
    bool directoryCut = false;
    for (uint16_t i = 0; i < count; ++i) {
        if (r.remaining() < 16) {
            directoryCut = true;  // use the entries read so far
            break;
        }
        r.skip(8);  // width, height, colours, reserved, planes, bit count: the image header says it better
        IconEntry e;
        e.size = r.u32le();
        e.offset = r.u32le();
        if (e.offset >= data.size()) continue;
        e.size = std::min(e.size, data.size() - e.offset);
        const std::span<const uint8_t> image(data.data() + e.offset, e.size);
        if (IsPngData(image)) {
            sawPng = true;
            // Size and depth from the IHDR that must follow the signature.
            if (!iconPngDecoder || image.size() < 26) continue;
            ByteReader header(image.subspan(16));
            const uint32_t w = header.u32be(), h = header.u32be();
            const uint8_t depth = header.u8(), colorType = header.u8();
            const int channels = colorType == 2 ? 3 : colorType == 4 ? 2 : colorType == 6 ? 4 : 1;
            e.pixels = uint64_t(w) * uint64_t(h);
            e.bitCount = depth * channels;
            e.png = true;
            candidates.push_back(e);
            continue;
        }
        try {
            ByteReader header(image);
            const DibHeader h = IconImageHeader(header);
            e.pixels = static_cast<uint64_t>(h.width * h.height);
            e.bitCount = h.bitCount;
        } catch (const EImbrixError& error) {
            if (firstError.empty()) firstError = error.what();
            continue;
        }
        candidates.push_back(e);
    }
    if (candidates.empty() && firstError.empty() && !sawPng && directoryCut) throw EReadError(kStreamReadError);

    // The largest, then the deepest image; one that turns out to be damaged gives way to the
    // next, so a single bad entry does not make the whole icon unreadable. Only a few are
    // tried: a directory of thousands of broken entries must not mean thousands of decodes.
    std::stable_sort(candidates.begin(), candidates.end(), [](const IconEntry& a, const IconEntry& b) {
        return a.pixels != b.pixels ? a.pixels > b.pixels : a.bitCount > b.bitCount;
    });
    constexpr size_t kMaxAttempts = 4;
    if (candidates.size() > kMaxAttempts) candidates.resize(kMaxAttempts);
    std::exception_ptr firstFailure;
    std::optional<TBitmap> decoded;
    for (const IconEntry& e : candidates) {
        try {
            if (e.png) {
                TBitmap bitmap;
                iconPngDecoder(std::span<const uint8_t>(data.data() + e.offset, e.size), bitmap);
                decoded = std::move(bitmap);
                break;
            }
            ByteReader image(std::span<const uint8_t>(data.data() + e.offset, e.size));
            DibHeader h = IconImageHeader(image);
            // In icons the fourth byte of 32-bit pixels is alpha.
            if (h.bitCount == 32 && h.alphaMask == 0) h.alphaMask = 0xFF000000u;
            const std::vector<TRGBQuad> palette = ReadDibPalette(image, h, static_cast<size_t>(-1));
            TBitmap bitmap = DecodeDibPixels(image, h, palette);
            if (!bitmap.AlphaMeaningful) ApplyAndMask(image, h, bitmap);
            decoded = std::move(bitmap);
            break;
        } catch (const EImbrixError&) {
            if (!firstFailure) firstFailure = std::current_exception();
        }
    }
    if (!decoded) {
        if (firstFailure) std::rethrow_exception(firstFailure);
        if (sawPng && !iconPngDecoder) throw EInvalidGraphic("Icons with PNG-compressed images are not supported yet");
        throw EInvalidGraphic(firstError.empty() ? std::string("The icon file holds no image") : firstError);
    }
    TBitmap result = std::move(*decoded);

    TProgressEvent listener = std::move(OnProgress);
    static_cast<TBitmap&>(*this) = std::move(result);
    OnProgress = std::move(listener);
    Transparent = false;
    SetTransparentColor(NoColor);
}

void SetMetafilePlayer(TMetafilePlayer player) { metafilePlayer = player; }
TMetafilePlayer CurrentMetafilePlayer() { return metafilePlayer; }

void TMetafile::ReadPicture(TStream& stream) {
    if (!metafilePlayer) throw EInvalidGraphic("Windows metafiles cannot be read: only raster pictures are supported");
    const std::vector<uint8_t> data = stream.ReadRest();
    TBitmap result = metafilePlayer(data);
    TProgressEvent listener = std::move(OnProgress);
    static_cast<TBitmap&>(*this) = std::move(result);
    OnProgress = std::move(listener);
    Transparent = false;
    SetTransparentColor(NoColor);
}
