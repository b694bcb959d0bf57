#include "tests/support/png_chunks.h"

#include <zlib.h>

#include <stdexcept>

namespace testsupport {

std::vector<uint8_t> Chunk(const char* type, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> out;
    const uint32_t n = static_cast<uint32_t>(data.size());
    for (int s = 24; s >= 0; s -= 8) out.push_back(uint8_t(n >> s));
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    uint32_t crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(type), 4));
    if (!data.empty()) crc = static_cast<uint32_t>(crc32(crc, data.data(), static_cast<uInt>(data.size())));
    for (int s = 24; s >= 0; s -= 8) out.push_back(uint8_t(crc >> s));
    return out;
}

std::vector<uint8_t> Ihdr(uint32_t w, uint32_t h, uint8_t depth, uint8_t type, uint8_t interlace) {
    std::vector<uint8_t> d;
    for (uint32_t v : {w, h})
        for (int s = 24; s >= 0; s -= 8) d.push_back(uint8_t(v >> s));
    d.insert(d.end(), {depth, type, 0, 0, interlace});
    return Chunk("IHDR", d);
}

std::vector<uint8_t> Deflate(const std::vector<uint8_t>& raw, int level) {
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    std::vector<uint8_t> out(size);
    if (compress2(out.data(), &size, raw.data(), static_cast<uLong>(raw.size()), level) != Z_OK)
        throw std::runtime_error("zlib could not compress the test data");
    out.resize(size);
    return out;
}

std::vector<uint8_t> Png(std::initializer_list<std::vector<uint8_t>> chunks) {
    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    for (const auto& c : chunks) out.insert(out.end(), c.begin(), c.end());
    return out;
}

}  // namespace testsupport
