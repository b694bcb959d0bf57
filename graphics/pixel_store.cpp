#include "graphics/pixel_store.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "graphics/errors.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMapLargeBuffers = false;  // keep every buffer visible to AddressSanitizer
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kMapLargeBuffers = false;
#else
constexpr bool kMapLargeBuffers = true;
#endif
#else
constexpr bool kMapLargeBuffers = true;
#endif

constexpr size_t kHugePage = size_t(2) << 20;
constexpr size_t kMapThreshold = size_t(8) << 20;

size_t RoundUp(size_t n, size_t to) { return (n + to - 1) / to * to; }

}  // namespace

size_t HugeAlignedLength(size_t size, size_t threshold) {
    if (!kMapLargeBuffers || size < threshold || size > SIZE_MAX - 2 * kHugePage) return 0;
    return RoundUp(size, kHugePage);
}

uint8_t* MapHugeAligned(size_t length) {
    const size_t padded = length + kHugePage;
    void* raw = ::mmap(nullptr, padded, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    const auto start = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = RoundUp(start, kHugePage);
    if (aligned > start) ::munmap(raw, aligned - start);
    const uintptr_t end = start + padded;
    if (end > aligned + length) ::munmap(reinterpret_cast<void*>(aligned + length), end - (aligned + length));
    auto* p = reinterpret_cast<uint8_t*>(aligned);
    (void)::madvise(p, length, MADV_HUGEPAGE);
    return p;
}

void UnmapHugeAligned(void* p, size_t length) { ::munmap(p, length); }

void PixelMemoryRelease::operator()(uint8_t* p) const {
    if (mappedBytes)
        UnmapHugeAligned(p, mappedBytes);
    else
        delete[] p;
}

PixelStore::PixelStore(size_t size) : size_(size) {
    if (size == 0) return;
    if (const size_t mapped = HugeAlignedLength(size, kMapThreshold)) {
        uint8_t* p = MapHugeAligned(mapped);
        if (!p) throw EOutOfResources("Not enough memory for this picture");
        data_ = std::unique_ptr<uint8_t, PixelMemoryRelease>(p, PixelMemoryRelease{mapped});
    } else {
        data_ = std::unique_ptr<uint8_t, PixelMemoryRelease>(new uint8_t[size], PixelMemoryRelease{0});
    }
}

PixelStore::PixelStore(const PixelStore& other) : PixelStore(other.size()) {
    if (size_) std::memcpy(data_.get(), other.data_.get(), size_);
}

PixelStore& PixelStore::operator=(const PixelStore& other) {
    if (this != &other) *this = PixelStore(other);
    return *this;
}

void PixelStore::Shrink(size_t size) {
    if (!data_ || size >= size_) return;
    size_ = size;
    size_t& mapped = data_.get_deleter().mappedBytes;
    if (mapped == 0) return;
    const size_t keep = std::max(RoundUp(size, size_t(4096)), size_t(4096));
    if (keep >= mapped) return;
    ::munmap(data_.get() + keep, mapped - keep);
    mapped = keep;
}
