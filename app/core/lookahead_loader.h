#pragma once
// Loads a file of a batch on a thread of its own, ahead of its turn, so that a JPEG's decoding
// (one core's work that cannot be split) no longer leaves the other core idle: the batch keeps
// two such loads going, the file in its turn and the next one. Only the loading runs beside
// the batch: every call to the host stays on the batch's thread, in the order of the
// sequential path.
#include <functional>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "graphics/warning_sink.h"

// Whether ProcessFiles loads files ahead, and lets the resampler follow a picture's decoding
// within a file. On by default; IMBRIX_SEQUENTIAL=1 in the environment (read once) or
// SetLookAheadEnabled(false) gives the plain sequential path, which the regression tests
// compare against.
bool LookAheadEnabled();
void SetLookAheadEnabled(bool enabled);

// One load at a time; Result is what the load made of the file.
template <class Result>
class LookAheadLoader {
public:
    // Runs on the loader's thread and must not touch the host.
    using Job = std::function<Result()>;

    LookAheadLoader() = default;
    ~LookAheadLoader() { Abandon(); }  // waits for a load under way and drops it
    LookAheadLoader(const LookAheadLoader&) = delete;
    LookAheadLoader& operator=(const LookAheadLoader&) = delete;

    // Starts loading path with job; a load not taken yet is dropped first.
    void Start(const std::string& path, Job job) {
        Abandon();
        path_ = path;
        try {
            worker_ = std::thread([this, job = std::move(job)] {
                SetThreadWarningSink(
                    [this](const std::string& message, WarningKind kind) { warnings_.emplace_back(message, kind); });
                try {
                    result_.emplace(job());
                } catch (...) {
                    // Not reported from here: the batch loads the file again in its own turn.
                    result_.reset();
                }
            });
        } catch (const std::system_error&) {
            path_.clear();  // no thread to be had: the file is loaded in its turn
        }
    }

    // Waits for the load of path and hands its result over when usable accepts it (none
    // given: always), showing (ShowWarning) the warnings the load gave, now, on the calling
    // thread. nullopt when none was started for this path, it failed or was not accepted: the
    // caller then loads the file itself, so a failure is reported at its own place in the
    // batch, with its own message and warnings (and a file that appeared only after the load
    // began is found).
    std::optional<Result> Take(const std::string& path, const std::function<bool(const Result&)>& usable = {}) {
        if (path_.empty() || path_ != path) {
            Abandon();
            return std::nullopt;
        }
        Join();
        std::optional<Result> taken;
        if (result_ && (!usable || usable(*result_))) taken = std::move(result_);
        const auto warnings = taken ? std::move(warnings_) : decltype(warnings_)();
        Abandon();
        for (const auto& [message, kind] : warnings) ShowWarning(message, kind);
        return taken;
    }

    // Waits for a load under way and drops its result (cancel, stop, the end of a batch).
    void Abandon() {
        Join();
        result_.reset();
        path_.clear();
        warnings_.clear();
    }
    bool Pending() const { return worker_.joinable(); }

private:
    void Join() {
        if (worker_.joinable()) worker_.join();
    }
    std::thread worker_;
    std::string path_;
    // Written by the worker only; read after the join, which orders the two.
    std::optional<Result> result_;
    std::vector<std::pair<std::string, WarningKind>> warnings_;
};
