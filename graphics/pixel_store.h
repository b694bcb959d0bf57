#pragma once
// Pixel memory for bitmaps. It is not cleared on allocation: producers write every pixel, and
// touching a big buffer twice (clear, then fill) doubled the cost of every large picture.
// Large buffers come straight from the system on 2 MiB boundaries with transparent huge
// pages asked for, so first touching a 70 MB picture takes tens of page faults, not 17,000.
#include <cstddef>
#include <cstdint>
#include <memory>

// The length to map for a buffer of size bytes on huge-page boundaries, or 0 when it is better
// served by the ordinary heap (below threshold, or in a build that must see every allocation).
size_t HugeAlignedLength(size_t size, size_t threshold);
// A private mapping of length bytes (a HugeAlignedLength) starting on a 2 MiB boundary, with
// transparent huge pages asked for; nullptr when the system has no room. Its bytes are unset:
// it may be one given back before (a few are kept, 96 MiB at most, for the next that fits).
uint8_t* MapHugeAligned(size_t length);
void UnmapHugeAligned(void* p, size_t length);
// Gives the kept mappings back to the system: at the end of a batch, so that a program left
// open holds no memory for nothing.
void GiveBackSpareMappings();
size_t SpareMappingBytes();  // what the kept mappings hold

// Frees what PixelStore allocated: unmaps a mapping, or delete[] (mappedBytes 0).
struct PixelMemoryRelease {
    size_t mappedBytes = 0;
    void operator()(uint8_t* p) const;
};

class PixelStore {
public:
    PixelStore() = default;
    explicit PixelStore(size_t size);
    PixelStore(const PixelStore& other);
    PixelStore& operator=(const PixelStore& other);
    PixelStore(PixelStore&& other) noexcept = default;
    PixelStore& operator=(PixelStore&& other) noexcept = default;

    uint8_t* data() { return data_.get(); }
    const uint8_t* data() const { return data_.get(); }
    size_t size() const { return data_ ? size_ : 0; }
    bool empty() const { return size() == 0; }
    // Keeps the first size bytes (at most size()). The pages of a large buffer beyond them go
    // back to the system; a small buffer keeps its memory.
    void Shrink(size_t size);

private:
    std::unique_ptr<uint8_t, PixelMemoryRelease> data_;
    size_t size_ = 0;
};
