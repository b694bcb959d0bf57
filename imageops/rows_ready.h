#pragma once
// Rows of a picture that become final over time: a decoder on one thread fills a bitmap from
// the top while a consumer (the resampler) follows it on another, reading only rows already
// final. One mechanism for every reader whose rows come out in order.
#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "graphics/warning_sink.h"

// Thrown to a consumer waiting for rows that will not come because the producer failed. The
// producer's own error is reported by whoever joins it (RowProducer::Finish), so that it
// surfaces with its own message, at its own place.
class ERowsAbandoned : public std::exception {
public:
    const char* what() const noexcept override { return "The rows of the picture did not come"; }
};

class RowsReady {
public:
    RowsReady() = default;
    RowsReady(const RowsReady&) = delete;
    RowsReady& operator=(const RowsReady&) = delete;

    // Producer: rows 0..rows-1 are final (never fewer than said before). A waiting consumer is
    // woken a batch of rows at a time, when the producer waits itself, or at Close.
    void Advance(int rows);
    // Producer: no more rows will come (it failed, or it is done); a consumer waiting for
    // rows beyond the last final one gives up.
    void Close();
    // Consumer: returns once rows 0..rows-1 are final; ERowsAbandoned when the producer
    // closed before reaching them.
    void WaitFor(int rows) const;

    // For a producer that fills a ring of rows, reusing the room of rows no longer read.
    // Consumer: rows 0..rows-1 will not be read again (one consumer thread only; woken in
    // batches as Advance). A consumer that ends, however it ends,
    // releases every row, so that the producer never waits for it in vain.
    void Release(int rows);
    // Producer: returns once rows 0..rows-1 are released.
    void WaitReleased(int rows) const;
    bool Released(int rows) const { return released_.load(std::memory_order_acquire) >= rows; }

private:
    std::atomic<int> released_{0};
    std::atomic<int> ready_{0};
    std::atomic<bool> closed_{false};
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    mutable int waiting_ = 0;  // threads blocked in WaitFor or WaitReleased (under mutex_)
    int toldReady_ = 0;        // the producer's own: ready_ when waiting threads were last woken
    int toldReleased_ = 0;     // the consumer's own: released_ likewise
};

// Runs produce(rows) on a thread of its own. Its warnings are kept and shown by Finish on the
// joining thread, in order, where a load in turn would have shown them; its failure marks the
// rows failed, so that no consumer waits for rows that will not come. std::system_error
// when no thread can be had (the caller then does the work in turn: a producer that waits for
// room in a ring cannot run ahead of its consumer on the same thread).
class RowProducer {
public:
    explicit RowProducer(std::function<void(RowsReady&)> produce);
    ~RowProducer();  // waits for the producer
    RowProducer(const RowProducer&) = delete;
    RowProducer& operator=(const RowProducer&) = delete;

    RowsReady& Rows() { return rows_; }
    // Waits for the producer to end.
    void Join();
    // Joins, shows the producer's warnings on the calling thread, then rethrows its failure.
    void Finish();
    // Joins and forgets the producer's warnings and failure: its work is not used.
    void Discard();

private:
    void Run();
    std::function<void(RowsReady&)> produce_;
    RowsReady rows_;
    // Written by the producer only; read after the join, which orders the two.
    std::exception_ptr failure_;
    std::vector<std::pair<std::string, WarningKind>> warnings_;
    std::thread worker_;  // last: started once everything it touches is built
};
