#pragma once
// Bounds-checked access to file data. Every reader and codec goes through this: short data
// raises "Stream read error" (EReadError), it never reads past the end or yields zeros.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

class ByteReader {
public:
    ByteReader() = default;
    explicit ByteReader(std::span<const uint8_t> data) : data_(data) {}
    ByteReader(const uint8_t* data, size_t size) : data_(data, size) {}
    explicit ByteReader(const std::vector<uint8_t>& data) : data_(data.data(), data.size()) {}

    size_t size() const { return data_.size(); }
    size_t pos() const { return pos_; }
    size_t remaining() const { return data_.size() - pos_; }
    bool atEnd() const { return pos_ >= data_.size(); }
    std::span<const uint8_t> data() const { return data_; }

    void seek(size_t position);  // to any position 0..size()
    void skip(size_t count);
    // Throws unless count more bytes are there.
    void require(size_t count) const;

    uint8_t u8();
    int8_t i8() { return static_cast<int8_t>(u8()); }
    uint16_t u16le();
    uint16_t u16be();
    uint32_t u32le();
    uint32_t u32be();
    int16_t i16le() { return static_cast<int16_t>(u16le()); }
    int16_t i16be() { return static_cast<int16_t>(u16be()); }
    int32_t i32le() { return static_cast<int32_t>(u32le()); }
    int32_t i32be() { return static_cast<int32_t>(u32be()); }
    float f32le();
    float f32be();
    double f64le();
    double f64be();
    uint16_t u16(bool bigEndian) { return bigEndian ? u16be() : u16le(); }
    uint32_t u32(bool bigEndian) { return bigEndian ? u32be() : u32le(); }

    // The next count bytes, without copying.
    std::span<const uint8_t> bytes(size_t count);
    void copy(void* dest, size_t count);
    std::string text(size_t count);
    // A reader over the next count bytes; this reader moves past them.
    ByteReader sub(size_t count);
    // Peeks at a byte relative to the position without moving.
    uint8_t peek(size_t offset = 0) const;

private:
    std::span<const uint8_t> data_;
    size_t pos_ = 0;
};

// The twin of ByteReader for the writers: appends to a growing buffer.
class ByteWriter {
public:
    void u8(uint8_t v) { bytes_.push_back(v); }
    void u16le(uint16_t v);
    void u16be(uint16_t v);
    void u32le(uint32_t v);
    void u32be(uint32_t v);
    void i32le(int32_t v) { u32le(static_cast<uint32_t>(v)); }
    void bytes(std::span<const uint8_t> data) { bytes_.insert(bytes_.end(), data.begin(), data.end()); }
    void bytes(const void* data, size_t count);
    void text(const std::string& s) { bytes(s.data(), s.size()); }
    void fill(uint8_t value, size_t count) { bytes_.insert(bytes_.end(), count, value); }
    // Overwrites a 32-bit little-endian value written earlier (sizes known only at the end).
    void patchU32le(size_t position, uint32_t v);
    size_t size() const { return bytes_.size(); }
    const std::vector<uint8_t>& buffer() const { return bytes_; }
    std::vector<uint8_t> take() { return std::move(bytes_); }
    void reserve(size_t n) { bytes_.reserve(n); }

private:
    std::vector<uint8_t> bytes_;
};
