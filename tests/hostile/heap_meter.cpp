// Counts this program's heap through operator new, so each bad-input case can be checked
// against the allocation limits (zlib and libjpeg allocate with malloc and are not counted).
#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "tests/support/hostile_input.h"

namespace {

std::atomic<size_t> live{0}, peak{0}, largest{0};

void* Allocate(size_t size) {
    void* p = std::malloc(size ? size : 1);
    if (!p) throw std::bad_alloc();
    const size_t now = live.fetch_add(malloc_usable_size(p)) + malloc_usable_size(p);
    size_t high = peak.load();
    while (now > high && !peak.compare_exchange_weak(high, now)) {}
    size_t big = largest.load();
    while (size > big && !largest.compare_exchange_weak(big, size)) {}
    return p;
}

void Release(void* p) {
    if (!p) return;
    live.fetch_sub(malloc_usable_size(p));
    std::free(p);
}

const bool registered = [] {
    hostile::HeapMeter meter;
    meter.live = [] { return live.load(); };
    meter.peak = [] { return peak.load(); };
    meter.largest = [] { return largest.load(); };
    meter.reset = [] {
        peak = live.load();
        largest = 0;
    };
    hostile::SetHeapMeter(meter);
    return true;
}();

}  // namespace

void* operator new(size_t size) { return Allocate(size); }
void* operator new[](size_t size) { return Allocate(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    try {
        return Allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, size_t) noexcept { Release(p); }
void operator delete[](void* p, size_t) noexcept { Release(p); }
