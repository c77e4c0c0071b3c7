// The memory guard's look at a level before its join: random candidates,
// a share kept, and a low bound on it against the budget. A level that
// fits is never refused, even near the budget; one that does not is
// refused before any candidate is joined.
#include "level_guard.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

using namespace quorvel::rule;
using namespace quorvel::rule::mining;

namespace {

// A level of `n` single items, none holding anyone: the guard's estimate
// then rests on the share kept alone.
Level items(size_t n) {
    Level level;
    level.size = 1;
    for (size_t k = 0; k < n; ++k) {
        level.ids.push_back(static_cast<ItemId>(k));
        level.holders.emplace_back();
        level.counts.push_back(1);
    }
    return level;
}

// Every pair of single items is a candidate: each run ends at the last set.
std::vector<size_t> oneRun(size_t n) {
    return std::vector<size_t>(n, n);
}

// Whether the sample refuses a level of which `share` of the candidates
// would be kept, when keeping all of them would need `overshoot` times the
// budget above what the process holds now. Keeping is a fixed hash of the
// candidate, so the share is that on any sample.
bool refused(double share, double overshoot, std::string* message = nullptr) {
    const size_t n = 20000;
    const Level prev = items(n);
    const std::vector<size_t> runEnd = oneRun(n);
    MiningParams config;
    // Per set: ids, holders and count from the join, then its entry and rules.
    const double perSet = (4 * 2 + 24 + 8) + (96 + 80 * 2) + 8 * 2;
    const double all = double(n) * double(n - 1) / 2 * perSet;
    config.memoryBudget = residentBytes() + static_cast<uint64_t>(all * share / overshoot);
    LevelGuard guard(config, prev, runEnd);
    EXPECT_TRUE(guard.watching());
    const uint64_t threshold = static_cast<uint64_t>(share * double(uint64_t(1) << 32));
    try {
        guard.sample(runEnd, 1000, [&](size_t i, size_t j) {
            uint64_t h = (uint64_t(i) << 32 | j) * 0x9E3779B97F4A7C15ull;
            h ^= h >> 29;
            h *= 0xBF58476D1CE4E5B9ull;
            return (h >> 32) < threshold;
        });
    } catch (const std::runtime_error& e) {
        if (message)
            *message = e.what();
        return true;
    }
    return false;
}

} // namespace

TEST(MemoryGuard, TheSampleRefusesOnlyALevelThatCannotFit) {
    std::string message;
    // Far past the budget, at any share: refused before the join.
    EXPECT_TRUE(refused(0.1, 6, &message));
    EXPECT_EQ(message.substr(0, 60), "Level 2 (item sets of 2 items) has 199990000 candidate sets ");
    EXPECT_NE(message.find(" (-M): raise -c, or set -o to limit the rule order."),
              std::string::npos)
        << message;
    EXPECT_TRUE(refused(0.001, 6));
    // Half again past it: the low bound is still past it.
    EXPECT_TRUE(refused(0.02, 1.5));
    // Within it, however near: left to the join, which measures.
    EXPECT_FALSE(refused(0.02, 0.8));
    EXPECT_FALSE(refused(0.001, 0.5));
    // So few kept (about 10 of the sample) that it cannot tell, though the
    // level passes the budget (by a margin above what the sample itself
    // takes): left to the join.
    EXPECT_FALSE(refused(0.00004, 4));
}
