#include "graphics/warning_sink.h"

#include <mutex>

namespace {
std::mutex sinkMutex;
WarningSink& CurrentSink() {
    static WarningSink sink;
    return sink;
}
thread_local ThreadWarningSink threadSink;
}  // namespace

ThreadWarningSink SetThreadWarningSink(ThreadWarningSink sink) {
    ThreadWarningSink previous = std::move(threadSink);
    threadSink = std::move(sink);
    return previous;
}

WarningSink SetWarningSink(WarningSink sink) {
    std::lock_guard lock(sinkMutex);
    WarningSink previous = std::move(CurrentSink());
    CurrentSink() = std::move(sink);
    return previous;
}

void ShowWarning(const std::string& message, WarningKind kind) {
    if (threadSink) {
        threadSink(message, kind);
        return;
    }
    ShowProcessWarning(message);
}

void ShowProcessWarning(const std::string& message) {
    WarningSink sink;
    {
        std::lock_guard lock(sinkMutex);
        sink = CurrentSink();
    }
    if (sink) sink(message);
}
