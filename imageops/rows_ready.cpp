#include "imageops/rows_ready.h"

namespace {

// The side that waits is woken once this many rows have come (or been released) since it was
// last woken; before either side sleeps it wakes the other, so neither waits in vain for
// news the other has not told yet.
constexpr int kWakeRows = 32;

}  // namespace

void RowsReady::Advance(int rows) {
    if (rows <= ready_.load(std::memory_order_relaxed)) return;
    ready_.store(rows, std::memory_order_release);
    if (rows - toldReady_ < kWakeRows) return;
    toldReady_ = rows;
    std::lock_guard<std::mutex> lock(mutex_);
    if (waiting_ > 0) changed_.notify_all();
}

void RowsReady::Close() {
    closed_.store(true, std::memory_order_release);
    std::lock_guard<std::mutex> lock(mutex_);
    changed_.notify_all();
}

void RowsReady::WaitFor(int rows) const {
    // Most calls find their rows final already: no lock then.
    if (ready_.load(std::memory_order_acquire) >= rows) return;
    std::unique_lock<std::mutex> lock(mutex_);
    ++waiting_;
    changed_.notify_all();  // rows released but not told yet
    changed_.wait(lock, [&] {
        return ready_.load(std::memory_order_acquire) >= rows || closed_.load(std::memory_order_acquire);
    });
    --waiting_;
    if (ready_.load(std::memory_order_acquire) < rows) throw ERowsAbandoned();
}

void RowsReady::Release(int rows) {
    if (rows <= released_.load(std::memory_order_relaxed)) return;
    released_.store(rows, std::memory_order_release);
    if (rows - toldReleased_ < kWakeRows) return;
    toldReleased_ = rows;
    std::lock_guard<std::mutex> lock(mutex_);
    if (waiting_ > 0) changed_.notify_all();
}

void RowsReady::WaitReleased(int rows) const {
    if (released_.load(std::memory_order_acquire) >= rows) return;
    std::unique_lock<std::mutex> lock(mutex_);
    ++waiting_;
    changed_.notify_all();  // rows made but not told yet
    changed_.wait(lock, [&] { return released_.load(std::memory_order_acquire) >= rows; });
    --waiting_;
}

RowProducer::RowProducer(std::function<void(RowsReady&)> produce)
    : produce_(std::move(produce)), worker_([this] { Run(); }) {}

RowProducer::~RowProducer() { Join(); }

void RowProducer::Run() {
    ThreadWarningSink previous =
        SetThreadWarningSink([this](const std::string& message, WarningKind kind) { warnings_.emplace_back(message, kind); });
    try {
        produce_(rows_);
    } catch (...) {
        failure_ = std::current_exception();
    }
    // Also after a producer that stopped short without failing: nobody waits for ever.
    rows_.Close();
    SetThreadWarningSink(std::move(previous));
}

void RowProducer::Join() {
    if (worker_.joinable()) worker_.join();
}

void RowProducer::Finish() {
    Join();
    auto warnings = std::move(warnings_);
    warnings_.clear();
    for (const auto& [message, kind] : warnings) ShowWarning(message, kind);
    if (std::exception_ptr failure = std::exchange(failure_, nullptr)) std::rethrow_exception(failure);
}

void RowProducer::Discard() {
    Join();
    warnings_.clear();
    failure_ = nullptr;
}
