#pragma once
// PNG files put together chunk by chunk, for tests that need one of a given shape, and the zlib
// streams they and other formats carry.
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace testsupport {

// A chunk: its length, type, data and CRC.
std::vector<uint8_t> Chunk(const char* type, const std::vector<uint8_t>& data);
std::vector<uint8_t> Ihdr(uint32_t w, uint32_t h, uint8_t depth, uint8_t type, uint8_t interlace = 0);
// A zlib stream of the data, at the given level of zlib's.
std::vector<uint8_t> Deflate(const std::vector<uint8_t>& raw, int level = 6);
// The signature, then the chunks.
std::vector<uint8_t> Png(std::initializer_list<std::vector<uint8_t>> chunks);

}  // namespace testsupport
