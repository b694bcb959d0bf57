#include "graphics/warning_sink.h"

#include <mutex>
#include <utility>

namespace {
thread_local WarningCapture* activeCapture = nullptr;
std::mutex sinkMutex;
WarningSink& CurrentSink() {
    static WarningSink sink;
    return sink;
}
}  // namespace

WarningSink SetWarningSink(WarningSink sink) {
    std::lock_guard lock(sinkMutex);
    WarningSink previous = std::move(CurrentSink());
    CurrentSink() = std::move(sink);
    return previous;
}

WarningCapture::WarningCapture() : outer_(activeCapture) { activeCapture = this; }

WarningCapture::~WarningCapture() { activeCapture = outer_; }

std::vector<std::string> WarningCapture::Take() { return std::exchange(messages_, {}); }

void ShowWarning(const std::string& message) {
    if (activeCapture) {
        activeCapture->messages_.push_back(message);
        return;
    }
    WarningSink sink;
    {
        std::lock_guard lock(sinkMutex);
        sink = CurrentSink();
    }
    if (sink) sink(message);
}
