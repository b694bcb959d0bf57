#include "jpeg/jpeg_metadata.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <map>

#include "graphics/byte_reader.h"

namespace {

constexpr uint16_t kOrientationTag = 0x0112;
constexpr uint16_t kTypeShort = 3;
constexpr uint16_t kTypeLong = 4;
constexpr char kExifId[] = "Exif\0";      // followed by one more zero (or padding)
constexpr char kIccId[] = "ICC_PROFILE";  // followed by a zero, sequence number, count

bool StartsWith(std::span<const uint8_t> data, const char* id, size_t length) {
    return data.size() >= length && std::memcmp(data.data(), id, length) == 0;
}

}  // namespace

int ExifOrientation(std::span<const uint8_t> exif) {
    try {
        ByteReader r(exif);
        const uint16_t order = r.u16be();
        if (order != 0x4949 && order != 0x4D4D) return 1;  // "II" little, "MM" big endian
        const bool big = order == 0x4D4D;
        if (r.u16(big) != 42) return 1;
        r.seek(r.u32(big));  // beyond the end: the reader throws, which reads as "none"
        const uint16_t count = r.u16(big);
        for (uint16_t i = 0; i < count; ++i) {
            const uint16_t tag = r.u16(big);
            const uint16_t type = r.u16(big);
            const uint32_t n = r.u32(big);
            // The value sits in the entry's 4 value bytes, left-aligned.
            const uint32_t value = type == kTypeShort ? r.u16(big) : type == kTypeLong ? r.u32(big) : 0;
            r.skip(type == kTypeShort ? 2 : type == kTypeLong ? 0 : 4);
            if (tag != kOrientationTag) continue;
            if (n != 1 || (type != kTypeShort && type != kTypeLong) || value < 1 || value > 8) return 1;
            return static_cast<int>(value);
        }
    } catch (const std::exception&) {
        // A directory cut short or pointing outside the block: no orientation.
    }
    return 1;
}

JpegMetadata ScanJpegMetadata(std::span<const uint8_t> file) {
    JpegMetadata result;
    bool sawExif = false;
    std::map<int, std::span<const uint8_t>> chunks;
    int declaredCount = -1;
    bool chunksInconsistent = false;
    try {
        ByteReader r(file);
        if (r.u8() != 0xFF || r.u8() != 0xD8) return result;
        for (;;) {
            if (r.u8() != 0xFF) break;  // not a marker where one must be: stop looking
            uint8_t marker = r.u8();
            while (marker == 0xFF) marker = r.u8();  // fill bytes
            if (marker == 0xDA || marker == 0xD9) break;   // start of scan, end of image
            if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;  // no length
            const uint16_t length = r.u16be();
            if (length < 2) break;
            ByteReader segment = r.sub(length - 2u);
            const std::span<const uint8_t> payload = segment.data();
            if (marker == 0xE1 && !sawExif && StartsWith(payload, kExifId, 5) && payload.size() >= 6) {
                sawExif = true;
                result.Orientation = ExifOrientation(payload.subspan(6));
            } else if (marker == 0xE2 && StartsWith(payload, kIccId, sizeof kIccId)) {
                if (payload.size() < sizeof kIccId + 2) {
                    chunksInconsistent = true;
                    continue;
                }
                const int sequence = payload[sizeof kIccId];
                const int count = payload[sizeof kIccId + 1];
                if (declaredCount >= 0 && count != declaredCount) chunksInconsistent = true;
                declaredCount = count;
                if (sequence < 1 || sequence > count || !chunks.emplace(sequence, payload.subspan(sizeof kIccId + 2)).second)
                    chunksInconsistent = true;
            }
        }
    } catch (const std::exception&) {
        // A segment cut short: keep what was read before it.
    }
    if (declaredCount < 0 && !chunksInconsistent) return result;
    if (chunksInconsistent || static_cast<int>(chunks.size()) != declaredCount) {
        result.IccProblem = "its ICC profile chunks are incomplete or out of order";
        return result;
    }
    size_t total = 0;
    for (const auto& [sequence, data] : chunks) total += data.size();
    result.IccProfile.reserve(total);
    for (const auto& [sequence, data] : chunks) result.IccProfile.insert(result.IccProfile.end(), data.begin(), data.end());
    return result;
}
