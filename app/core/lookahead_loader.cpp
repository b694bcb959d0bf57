#include "app/core/lookahead_loader.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {

bool EnabledFromEnvironment() {
    const char* value = std::getenv("IMBRIX_SEQUENTIAL");
    return value == nullptr || *value == '\0' || std::strcmp(value, "0") == 0;
}

std::atomic<bool>& EnabledFlag() {
    static std::atomic<bool> flag{EnabledFromEnvironment()};
    return flag;
}

}  // namespace

bool LookAheadEnabled() { return EnabledFlag().load(std::memory_order_relaxed); }
void SetLookAheadEnabled(bool enabled) { EnabledFlag().store(enabled, std::memory_order_relaxed); }
