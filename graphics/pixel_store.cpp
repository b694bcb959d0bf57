#include "graphics/pixel_store.h"

#include <sys/mman.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <utility>

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

// Mappings given back, kept for the next buffer that fits: in a batch of pictures of about one
// size, only the first picture's buffers are fresh memory, which the kernel must clear page by
// page on first touch (7 % of the processor time of a batch of JPEGs). A few are kept, not
// more than kKeptBytes in all, and a buffer that none fits first gives back at least its own
// size of them: buffers in use and spares together never hold more than the buffers alone did.
class SpareMappings {
public:
    // A spare of at least length bytes (and not much more) cut to length, or nullptr.
    uint8_t* Take(size_t length) {
        std::lock_guard lock(mutex_);
        Spare* best = nullptr;
        for (Spare& s : spares_)
            if (s.p && s.length >= length && s.length - length <= kSlack && (!best || s.length < best->length))
                best = &s;
        if (!best) {
            for (size_t dropped = 0; dropped < length && keptBytes_ > 0;) dropped += DropOldest();
            return nullptr;
        }
        uint8_t* p = std::exchange(best->p, nullptr);
        keptBytes_ -= best->length;
        if (best->length > length) ::munmap(p + length, best->length - length);
        return p;
    }
    // Keeps the mapping, giving back the oldest spares to make room; false when it is not kept.
    bool Give(uint8_t* p, size_t length) {
        if (length > kKeptBytes || length % kHugePage != 0) return false;
        std::lock_guard lock(mutex_);
        while (keptBytes_ + length > kKeptBytes || Free() == nullptr) DropOldest();
        *Free() = Spare{p, length, ++clock_};
        keptBytes_ += length;
        return true;
    }
    void DropAll() {
        std::lock_guard lock(mutex_);
        while (keptBytes_ > 0) DropOldest();
    }
    size_t KeptBytes() {
        std::lock_guard lock(mutex_);
        return keptBytes_;
    }

private:
    static constexpr size_t kKeptBytes = size_t(96) << 20;
    static constexpr size_t kSlack = size_t(8) << 20;
    struct Spare {
        uint8_t* p = nullptr;
        size_t length = 0;
        uint64_t age = 0;
    };
    Spare* Free() {
        for (Spare& s : spares_)
            if (!s.p) return &s;
        return nullptr;
    }
    // Its length; called only with a spare kept.
    size_t DropOldest() {
        Spare* oldest = nullptr;
        for (Spare& s : spares_)
            if (s.p && (!oldest || s.age < oldest->age)) oldest = &s;
        ::munmap(oldest->p, oldest->length);
        keptBytes_ -= oldest->length;
        oldest->p = nullptr;
        return oldest->length;
    }
    std::mutex mutex_;
    std::array<Spare, 6> spares_{};
    size_t keptBytes_ = 0;
    uint64_t clock_ = 0;
};

SpareMappings& Spares() {
    static SpareMappings* spares = new SpareMappings;  // never destroyed: buffers may outlive statics
    return *spares;
}

}  // namespace

size_t HugeAlignedLength(size_t size, size_t threshold) {
    if (!kMapLargeBuffers || size < threshold || size > SIZE_MAX - 2 * kHugePage) return 0;
    return RoundUp(size, kHugePage);
}

uint8_t* MapHugeAligned(size_t length) {
    if (uint8_t* spare = Spares().Take(length)) return spare;
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

void UnmapHugeAligned(void* p, size_t length) {
    if (!Spares().Give(static_cast<uint8_t*>(p), length)) ::munmap(p, length);
}

void GiveBackSpareMappings() { Spares().DropAll(); }

size_t SpareMappingBytes() { return Spares().KeptBytes(); }

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
