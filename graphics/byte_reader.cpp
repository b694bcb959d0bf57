#include "graphics/byte_reader.h"

#include <cstring>

#include "graphics/errors.h"

void ByteReader::require(size_t count) const {
    if (count > remaining()) throw EReadError(kStreamReadError);
}

void ByteReader::seek(size_t position) {
    if (position > data_.size()) throw EReadError(kStreamReadError);
    pos_ = position;
}

void ByteReader::skip(size_t count) {
    require(count);
    pos_ += count;
}

uint8_t ByteReader::u8() {
    require(1);
    return data_[pos_++];
}

uint8_t ByteReader::peek(size_t offset) const {
    if (offset >= remaining()) throw EReadError(kStreamReadError);
    return data_[pos_ + offset];
}

uint16_t ByteReader::u16le() {
    require(2);
    const uint16_t v = static_cast<uint16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
    pos_ += 2;
    return v;
}

uint16_t ByteReader::u16be() {
    require(2);
    const uint16_t v = static_cast<uint16_t>((data_[pos_] << 8) | data_[pos_ + 1]);
    pos_ += 2;
    return v;
}

uint32_t ByteReader::u32le() {
    require(4);
    const uint8_t* p = data_.data() + pos_;
    pos_ += 4;
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

uint32_t ByteReader::u32be() {
    require(4);
    const uint8_t* p = data_.data() + pos_;
    pos_ += 4;
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

float ByteReader::f32le() {
    const uint32_t bits = u32le();
    float v;
    std::memcpy(&v, &bits, 4);
    return v;
}

float ByteReader::f32be() {
    const uint32_t bits = u32be();
    float v;
    std::memcpy(&v, &bits, 4);
    return v;
}

double ByteReader::f64le() {
    const uint64_t low = u32le();
    const uint64_t bits = low | (uint64_t(u32le()) << 32);
    double v;
    std::memcpy(&v, &bits, 8);
    return v;
}

double ByteReader::f64be() {
    const uint64_t high = u32be();
    const uint64_t bits = (high << 32) | u32be();
    double v;
    std::memcpy(&v, &bits, 8);
    return v;
}

std::span<const uint8_t> ByteReader::bytes(size_t count) {
    require(count);
    auto s = data_.subspan(pos_, count);
    pos_ += count;
    return s;
}

void ByteReader::copy(void* dest, size_t count) {
    auto s = bytes(count);
    if (count) std::memcpy(dest, s.data(), count);
}

std::string ByteReader::text(size_t count) {
    auto s = bytes(count);
    return std::string(reinterpret_cast<const char*>(s.data()), s.size());
}

ByteReader ByteReader::sub(size_t count) { return ByteReader(bytes(count)); }

void ByteWriter::u16le(uint16_t v) {
    u8(static_cast<uint8_t>(v));
    u8(static_cast<uint8_t>(v >> 8));
}

void ByteWriter::u16be(uint16_t v) {
    u8(static_cast<uint8_t>(v >> 8));
    u8(static_cast<uint8_t>(v));
}

void ByteWriter::u32le(uint32_t v) {
    for (int i = 0; i < 4; ++i) u8(static_cast<uint8_t>(v >> (8 * i)));
}

void ByteWriter::u32be(uint32_t v) {
    for (int i = 3; i >= 0; --i) u8(static_cast<uint8_t>(v >> (8 * i)));
}

void ByteWriter::bytes(const void* data, size_t count) {
    const auto* p = static_cast<const uint8_t*>(data);
    bytes_.insert(bytes_.end(), p, p + count);
}

void ByteWriter::patchU32le(size_t position, uint32_t v) {
    if (position + 4 > bytes_.size()) throw ERangeError();
    for (int i = 0; i < 4; ++i) bytes_[position + i] = static_cast<uint8_t>(v >> (8 * i));
}
