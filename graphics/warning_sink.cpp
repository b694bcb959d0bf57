#include "graphics/warning_sink.h"

#include <mutex>

namespace {
std::mutex sinkMutex;
WarningSink& CurrentSink() {
    static WarningSink sink;
    return sink;
}
thread_local WarningSink threadSink;
}  // namespace

WarningSink SetThreadWarningSink(WarningSink sink) {
    WarningSink previous = std::move(threadSink);
    threadSink = std::move(sink);
    return previous;
}

WarningSink SetWarningSink(WarningSink sink) {
    std::lock_guard lock(sinkMutex);
    WarningSink previous = std::move(CurrentSink());
    CurrentSink() = std::move(sink);
    return previous;
}

void ShowWarning(const std::string& message) {
    if (threadSink) {
        threadSink(message);
        return;
    }
    WarningSink sink;
    {
        std::lock_guard lock(sinkMutex);
        sink = CurrentSink();
    }
    if (sink) sink(message);
}
