#pragma once
// Bounded input and output for the codecs. The input is a ByteReader over the part of Source
// the codec may read; the output is a window over Dest that drops what does not fit, so a
// packet reaching past the end is cut there instead of overrunning.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>

#include "graphics/byte_reader.h"

namespace codec_io {

// The first `limit` bytes of span (all of it when limit is negative or larger).
template <class T>
std::span<T> Clip(std::span<T> data, int64_t limit) {
    if (limit < 0 || static_cast<uint64_t>(limit) >= data.size()) return data;
    return data.first(static_cast<size_t>(limit));
}

// Input limited to PackedSize bytes of Source, never beyond it.
inline ByteReader PackedInput(std::span<const uint8_t> source, int64_t packedSize) {
    return ByteReader(Clip(source, std::max<int64_t>(packedSize, 0)));
}

class OutputWindow {
public:
    explicit OutputWindow(std::span<uint8_t> dest) : dest_(dest) {}
    OutputWindow(std::span<uint8_t> dest, int64_t limit)
        : dest_(Clip(dest, std::max<int64_t>(limit, 0))) {}

    size_t pos() const { return pos_; }
    size_t room() const { return dest_.size() - pos_; }
    bool full() const { return pos_ >= dest_.size(); }

    void put(uint8_t value) {
        if (pos_ < dest_.size()) dest_[pos_++] = value;
    }
    void copy(std::span<const uint8_t> bytes) {
        const size_t n = std::min(bytes.size(), room());
        if (n) std::memcpy(dest_.data() + pos_, bytes.data(), n);
        pos_ += n;
    }
    // The element written count times, cut at the end of the window.
    void repeat(std::span<const uint8_t> element, uint64_t count) {
        if (element.size() == 1) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(count, room()));
            if (n) std::memset(dest_.data() + pos_, element[0], n);
            pos_ += n;
            return;
        }
        for (uint64_t i = 0; i < count && !full(); ++i) copy(element);
    }

private:
    std::span<uint8_t> dest_;
    size_t pos_ = 0;
};

// The two packet kinds every run-length scheme is made of. Both answer false when the input
// ended inside the packet (a literal packet still writes the elements that were there).
inline bool RunPacket(ByteReader& in, OutputWindow& out, uint64_t count, size_t elementSize) {
    if (in.remaining() < elementSize) return false;
    out.repeat(in.bytes(elementSize), count);
    return true;
}

inline bool LiteralPacket(ByteReader& in, OutputWindow& out, uint64_t count, size_t elementSize) {
    const uint64_t wanted = count * elementSize;
    const size_t have = static_cast<size_t>(std::min<uint64_t>(wanted, in.remaining()));
    out.copy(in.bytes(have));
    return have == wanted;
}

}  // namespace codec_io
