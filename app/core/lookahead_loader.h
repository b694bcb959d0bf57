#pragma once
// Reads and decodes the next file of a batch on a thread of its own while the current one is
// resampled, turned and written, so that decoding (one core's work) no longer leaves the other
// core idle between files. Only the loading runs beside the batch: every call to the host
// stays on the batch's thread, in the order of the sequential path.
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/core/working_bitmap.h"
#include "graphics/bitmap.h"
#include "graphics/warning_sink.h"

// Whether ProcessFiles loads one file ahead, and lets the resampler follow a JPEG's decoding
// within a file. On by default; IMBRIX_SEQUENTIAL=1 in the environment (read once) or
// SetLookAheadEnabled(false) gives the plain sequential path, which the regression tests
// compare against.
bool LookAheadEnabled();
void SetLookAheadEnabled(bool enabled);

class LookAheadLoader {
public:
    // load turns a path into the stored working bitmap; it runs on the loader's thread and
    // must not touch the host.
    using LoadFunction = std::function<StoredWorkingBitmap(const std::string& path)>;

    explicit LookAheadLoader(LoadFunction load);
    ~LookAheadLoader();  // waits for a load under way and drops it
    LookAheadLoader(const LookAheadLoader&) = delete;
    LookAheadLoader& operator=(const LookAheadLoader&) = delete;

    // Starts loading path; a look-ahead not taken yet is dropped first.
    void Start(const std::string& path);
    // Waits for the look-ahead of path and hands its bitmap over, showing (ShowWarning) the
    // warnings its load gave, now, on the calling thread. No bitmap when none was started
    // for this path or it failed: the caller then loads the file itself, so a failure is
    // reported at its own place in the batch, with its own message (and a file that appeared
    // only after the look-ahead began is found).
    StoredWorkingBitmap Take(const std::string& path);
    // Waits for a load under way and drops its result (cancel, stop, the end of a batch).
    void Abandon();
    bool Pending() const { return worker_.joinable(); }

private:
    void Join();
    LoadFunction load_;
    std::thread worker_;
    std::string path_;
    // Written by the worker only; read after the join, which orders the two.
    StoredWorkingBitmap result_;
    bool failed_ = false;
    std::vector<std::pair<std::string, WarningKind>> warnings_;
};
