#include "readers/codecs/lzw_decoder.h"

#include <array>
#include <memory>
#include <vector>

#include "graphics/errors.h"
#include "readers/codecs/codec_io.h"

namespace {

constexpr unsigned kTableSize = 4096;
constexpr unsigned kNoPrefix = 4096;
constexpr unsigned kClearCode = 256;
constexpr unsigned kEndCode = 257;
constexpr unsigned kFirstFree = 258;

struct LzwTable {
    std::array<uint16_t, kTableSize> prefix;
    std::array<uint8_t, kTableSize> suffix;
    LzwTable() {
        prefix.fill(kNoPrefix);
        suffix.fill(0);
        for (unsigned i = 0; i < 256; ++i) suffix[i] = static_cast<uint8_t>(i);
    }
};

}  // namespace

void TTIFFLZWDecoder::Decode(TDecodeSource& Source, TDecodeTarget& Dest, int32_t PackedSize,
                             int32_t UnpackedSize) {
    ByteReader in = codec_io::PackedInput(Source, PackedSize);
    codec_io::OutputWindow out(Dest, UnpackedSize);
    auto table = std::make_unique<LzwTable>();
    std::vector<uint8_t> stack;
    stack.reserve(kTableSize);

    uint32_t accumulator = 0;
    unsigned bitsHeld = 0;
    unsigned width = 9;
    unsigned widthMask = 511;
    unsigned nextFree = kFirstFree;
    int previous = -1;
    uint8_t firstByte = 0;

    while (!in.atEnd() && !out.full()) {
        accumulator |= uint32_t(in.u8()) << (24 - bitsHeld);
        bitsHeld += 8;
        while (bitsHeld >= width && !out.full()) {
            unsigned code = accumulator >> (32 - width);
            accumulator <<= width;
            bitsHeld -= width;

            if (code == kEndCode) return;
            if (code == kClearCode) {
                width = 9;
                widthMask = 511;
                nextFree = kFirstFree;
                previous = -1;
                continue;
            }
            // Codes not in the table yet are damage: skip them.
            if (code > nextFree) continue;
            if (previous < 0) {
                // Only a single byte can start a string; a first code past 255 is damage too.
                if (code > 255) continue;
                firstByte = static_cast<uint8_t>(code);
                out.put(firstByte);
                previous = static_cast<int>(code);
                continue;
            }

            const unsigned thisCode = code;
            stack.clear();
            if (code == nextFree) {
                stack.push_back(firstByte);
                code = static_cast<unsigned>(previous);
            }
            // Every entry's prefix is an older code, so the walk ends; the length check only
            // guards against that ever changing.
            while (code > 256) {
                if (stack.size() >= kTableSize) throw ERangeError();
                stack.push_back(table->suffix[code]);
                code = table->prefix[code];
            }
            firstByte = static_cast<uint8_t>(code);
            stack.push_back(firstByte);

            // A full table without a Clear is a broken stream; it fails the load.
            if (nextFree >= kTableSize) throw ERangeError();
            table->prefix[nextFree] = static_cast<uint16_t>(previous);
            table->suffix[nextFree] = firstByte;
            if (nextFree < kTableSize) ++nextFree;
            if (nextFree == widthMask && width < 12) {
                ++width;
                widthMask = (1u << width) - 1;
            }

            for (auto it = stack.rbegin(); it != stack.rend() && !out.full(); ++it) out.put(*it);
            previous = static_cast<int>(thisCode);
        }
    }
}
