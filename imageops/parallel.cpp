#include "imageops/parallel.h"

#include <algorithm>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace imageops {

namespace {
// More threads than this buys nothing for memory-bound passes and costs start-up time.
constexpr int kMaxThreads = 16;
}  // namespace

int ChooseThreadCount(int requested, double work, double minWorkPerThread, int64_t chunks) {
    if (chunks < 1) return 1;
    int threads = requested;
    if (threads <= 0) {
        const unsigned cores = std::thread::hardware_concurrency();
        threads = std::clamp(static_cast<int>(cores == 0 ? 1 : cores), 1, kMaxThreads);
        if (minWorkPerThread > 0) {
            const double byWork = work / minWorkPerThread;
            if (byWork < threads) threads = std::max(1, static_cast<int>(byWork));
        }
    }
    return static_cast<int>(std::clamp<int64_t>(threads, 1, std::min<int64_t>(chunks, 1024)));
}

void ParallelFor(int64_t count, int threads, int64_t grain, const std::function<void(int64_t, int64_t)>& body) {
    if (count <= 0) return;
    grain = std::max<int64_t>(grain, 1);
    const int64_t chunks = (count + grain - 1) / grain;
    threads = static_cast<int>(std::clamp<int64_t>(threads, 1, chunks));
    if (threads == 1) {
        body(0, count);
        return;
    }
    // Range k covers chunks [k*chunks/threads, (k+1)*chunks/threads).
    auto bound = [&](int k) { return std::min(count, (chunks * k / threads) * grain); };

    std::exception_ptr failure;
    std::mutex failureLock;
    auto run = [&](int64_t begin, int64_t end) {
        try {
            body(begin, end);
        } catch (...) {
            std::lock_guard<std::mutex> lock(failureLock);
            if (!failure) failure = std::current_exception();
        }
    };
    {
        std::vector<std::jthread> workers;
        workers.reserve(static_cast<size_t>(threads - 1));
        std::vector<int> unstarted;
        for (int k = 1; k < threads; ++k) {
            try {
                workers.emplace_back(run, bound(k), bound(k + 1));
            } catch (const std::system_error&) {
                unstarted.push_back(k);
            }
        }
        run(bound(0), bound(1));
        for (int k : unstarted) run(bound(k), bound(k + 1));
    }  // joins every worker
    if (failure) std::rethrow_exception(failure);
}

}  // namespace imageops
