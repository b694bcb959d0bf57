#include "app/core/lookahead_loader.h"

#include "graphics/warning_sink.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <utility>

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

LookAheadLoader::LookAheadLoader(LoadFunction load) : load_(std::move(load)) {}

LookAheadLoader::~LookAheadLoader() { Abandon(); }

void LookAheadLoader::Join() {
    if (worker_.joinable()) worker_.join();
}

void LookAheadLoader::Abandon() {
    Join();
    result_ = {};
    path_.clear();
    failed_ = false;
    warnings_.clear();
}

void LookAheadLoader::Start(const std::string& path) {
    Abandon();
    path_ = path;
    try {
        worker_ = std::thread([this, path] {
            SetThreadWarningSink(
                [this](const std::string& message, WarningKind kind) { warnings_.emplace_back(message, kind); });
            try {
                result_ = load_(path);
            } catch (...) {
                // Not reported from here: the batch loads the file again in its own turn.
                failed_ = true;
            }
        });
    } catch (const std::system_error&) {
        path_.clear();  // no thread to be had: the file is loaded in its turn
    }
}

StoredWorkingBitmap LookAheadLoader::Take(const std::string& path) {
    if (path_.empty() || path_ != path) {
        Abandon();
        return {};
    }
    Join();
    StoredWorkingBitmap loaded = failed_ ? StoredWorkingBitmap{} : std::move(result_);
    // A failed look-ahead's warnings come again when the file is loaded in its turn.
    const auto warnings = loaded.bitmap ? std::move(warnings_) : decltype(warnings_)();
    Abandon();
    for (const auto& [message, kind] : warnings) ShowWarning(message, kind);
    return loaded;
}
