// What a second thread can give on this machine, whatever the miner does:
// the same work on one thread and on two, for work held in registers and
// for reads scattered over arrays of growing size. Mining reads tables of a
// few to tens of MB; where two threads share the cache and memory, their
// reads cannot go twice as fast, and no division of the work changes that.
//   quorvel-threads-limit   prints a Markdown table
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

// Each thread's result, so that its work is not optimised away.
volatile uint64_t g_sink[2];

uint64_t compute(uint64_t steps) {
    uint64_t x = 1;
    for (uint64_t i = 0; i < steps; ++i) {
        x = x * 6364136223846793005u + 1442695040888963407u;
        x ^= x >> 29;
    }
    return x;
}

// Independent reads at random places of `words` (a power of two).
uint64_t scatter(const std::vector<uint32_t>& words, uint64_t reads, uint64_t seed) {
    uint64_t x = seed, sum = 0;
    const uint64_t mask = words.size() - 1;
    for (uint64_t i = 0; i < reads; ++i) {
        x = x * 6364136223846793005u + 1442695040888963407u;
        sum += words[(x >> 20) & mask];
    }
    return sum;
}

// Reads of thread t's share of `words`, of n threads, in order, `passes` times.
uint64_t stream(const std::vector<uint32_t>& words, unsigned passes, unsigned t, unsigned n) {
    uint64_t sum = 0;
    const size_t from = words.size() * t / n, to = words.size() * (t + 1) / n;
    for (unsigned p = 0; p < passes; ++p)
        for (size_t k = from; k < to; ++k)
            sum += words[k];
    return sum;
}

// Seconds for `threads` threads (at most two), thread t doing
// work(t, threads): its share of a fixed whole.
template <class Work> double timed(unsigned threads, Work work) {
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads; ++t)
        pool.emplace_back([&, t] { g_sink[t] = work(t, threads); });
    g_sink[0] = work(0, threads);
    for (std::thread& th : pool)
        th.join();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// One thread's seconds over two threads', median of `runs` alternated.
template <class Work> double speedUp(Work work, int runs = 5) {
    std::vector<double> ratios;
    for (int r = 0; r < runs; ++r)
        ratios.push_back(timed(1, work) / timed(2, work));
    std::sort(ratios.begin(), ratios.end());
    return ratios[ratios.size() / 2];
}

} // namespace

int main() {
    std::printf("| work | two threads over one |\n|---|---|\n");
    const uint64_t steps = 200000000;
    std::printf("| arithmetic in registers | %.2f× |\n",
                speedUp([&](unsigned, unsigned n) { return compute(steps / n); }));
    for (size_t mb : {1, 4, 16, 64}) {
        std::vector<uint32_t> words(mb << 18);
        for (size_t k = 0; k < words.size(); ++k)
            words[k] = static_cast<uint32_t>(k * 2654435761u);
        const uint64_t reads = 20000000;
        std::printf("| random reads over %zu MB | %.2f× |\n", mb, speedUp([&](unsigned t, unsigned n) {
                        return scatter(words, reads / n, t + 1);
                    }));
        const unsigned passes = static_cast<unsigned>(2048 / mb);
        std::printf("| reads in order over %zu MB | %.2f× |\n", mb, speedUp([&](unsigned t, unsigned n) {
                        return stream(words, passes, t, n);
                    }));
    }
}
