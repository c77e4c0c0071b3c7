// Work shared among threads: chunks handed out one at a time, so a slow
// chunk does not hold the others up. Callers merge per-chunk results in
// chunk order, which keeps every output the same for any thread count.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <thread>
#include <vector>

namespace brenlo {

/// The number of processors this process may run on.
unsigned availableThreads();

/// `threads` as a count of threads: 0 means one per processor.
inline unsigned threadCount(unsigned threads) {
    return threads ? threads : availableThreads();
}

/// Calls `work(chunk, worker)` once for each chunk in [0, chunks), on up to
/// `threads` threads (`worker` below `threads` tells which thread runs it).
/// The first exception thrown is raised again once all threads are done.
template <class F> void forEachChunk(unsigned threads, size_t chunks, F work) {
    const unsigned n =
        static_cast<unsigned>(std::max<size_t>(1, std::min<size_t>(threads, chunks)));
    if (n <= 1) {
        for (size_t c = 0; c < chunks; ++c)
            work(c, 0u);
        return;
    }
    std::atomic<size_t> next{0};
    std::exception_ptr failure;
    std::atomic<bool> failed{false};
    auto run = [&](unsigned worker) {
        try {
            for (size_t c; !failed && (c = next++) < chunks;)
                work(c, worker);
        } catch (...) {
            if (!failed.exchange(true))
                failure = std::current_exception();
        }
    };
    std::vector<std::thread> pool;
    for (unsigned w = 1; w < n; ++w)
        pool.emplace_back(run, w);
    run(0);
    for (auto& t : pool)
        t.join();
    if (failure)
        std::rethrow_exception(failure);
}

} // namespace brenlo
