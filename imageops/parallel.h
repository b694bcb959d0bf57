#pragma once
// Spreading picture work over the processor's cores. Every caller splits its work into
// disjoint ranges, so the result never depends on how many threads ran.
#include <cstdint>
#include <functional>

namespace imageops {

// Threads to use: `requested` > 0 is taken as it is (at most one per chunk); 0 means every
// core when there are at least `minWorkPerThread` units of work per thread, else fewer.
int ChooseThreadCount(int requested, double work, double minWorkPerThread, int64_t chunks);

// Calls body(begin, end) over [0, count) in `threads` contiguous ranges whose bounds are
// multiples of `grain` (except the end). The calling thread takes the first range. An
// exception thrown by any range is rethrown here after every thread has finished; a thread
// that cannot be started has its range run by the caller instead.
void ParallelFor(int64_t count, int threads, int64_t grain, const std::function<void(int64_t, int64_t)>& body);

}  // namespace imageops
