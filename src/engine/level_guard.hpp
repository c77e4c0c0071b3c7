// The memory budget, watched while a level is joined.
#pragma once

#include "levels.hpp"
#include "quorvel/budget.hpp"
#include "quorvel/mine.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <vector>

namespace quorvel::rule::mining {

// Watches a level's join against the memory budget. Most candidates of a
// join usually fail, so their number alone would refuse runs that fit; when
// even that bound fits nothing is watched, otherwise what the kept sets hold
// is measured as they come, and the run stops before it passes the budget.
// The join's threads report to it now and then.
class LevelGuard {
public:
    LevelGuard(const MiningParams& config, const Level& prev, const std::vector<size_t>& runEnd)
        : m_budget(config.memoryBudget), m_level(prev.size + 1) {
        if (m_budget == 0)
            return;
        for (size_t i = 0; i < runEnd.size(); ++i)
            m_candidates += runEnd[i] - i - 1;
        uint64_t holders = 0; // bytes
        for (const Holders& h : prev.holders)
            holders += h.bytes();
        const uint64_t k = m_level, rules = k * (k + 1) / 2 - 1;
        // What each kept set costs once the level is recorded and counted: its
        // item-set entry and its rule counters...
        m_later = (96 + 80 * k) + 8 * rules;
        // ...on top of its ids, holder list and count, held from the join on.
        m_perSet = 4 * k + 24 + holders / std::max<size_t>(prev.sets(), 1) + 8 + m_later;
        const uint64_t bound = residentBytes() + m_candidates * m_perSet;
        m_watching = bound > m_budget;
    }

    bool watching() const { return m_watching; }

    /// Before the join: tries candidates drawn at random (the same ones on
    /// every run) with `keeps(i, j)`, and stops the run when even a low
    /// bound on the share kept passes the budget. The join's own sample
    /// comes in item order and may be unlike the rest; this one is not, so
    /// a hopeless level stops after this little work, not a second of it.
    template <class Keeps>
    void sample(const std::vector<size_t>& runEnd, size_t subjects, Keeps keeps) {
        // A dense AND reads every subject's word: fewer tries where they are long.
        const uint64_t words = (subjects + 63) / 64 + 1;
        const uint64_t tries = std::min<uint64_t>(MAX_PROBES, PROBE_WORDS / words);
        if (m_candidates == 0 || tries < MIN_PROBES)
            return;
        // The candidates before each set's own, to draw one uniformly.
        std::vector<uint64_t> before(runEnd.size() + 1, 0);
        for (size_t i = 0; i < runEnd.size(); ++i)
            before[i + 1] = before[i] + (runEnd[i] - i - 1);
        uint64_t kept = 0, state = 0x9E3779B97F4A7C15ull;
        for (uint64_t t = 0; t < tries; ++t) {
            const uint64_t at = nextRandom(state) % m_candidates;
            const size_t i = static_cast<size_t>(
                std::upper_bound(before.begin(), before.end(), at) - before.begin() - 1);
            kept += keeps(i, i + 1 + static_cast<size_t>(at - before[i]));
        }
        checkSample(tries, kept);
    }

    /// Stops the run when `kept` of `tried` random candidates, at the low
    /// end of what they could mean, already pass the budget.
    void checkSample(uint64_t tried, uint64_t kept) const {
        const double share = double(kept) / double(tried);
        // Five standard deviations below, and nothing below 16 kept.
        const double low = kept < 16 ? 0 : (double(kept) - 5 * std::sqrt(double(kept))) / tried;
        const double resident = double(residentBytes());
        const double per = double(m_candidates) * double(m_perSet);
        if (resident + low * per > double(m_budget))
            checkLevelBudget(
                m_budget,
                std::max<uint64_t>(static_cast<uint64_t>(resident + share * per), m_budget + 1),
                m_level, m_candidates);
    }

    /// `tried` more candidates were tried and `kept` more kept.
    void report(uint64_t tried, uint64_t kept) {
        const uint64_t allTried = m_tried += tried;
        const uint64_t allKept = m_kept += kept;
        if (m_checking.exchange(true))
            return; // another thread is measuring
        const uint64_t now = residentBytes() + allKept * m_later;
        const double share = double(allKept) / double(std::max<uint64_t>(allTried, 1));
        const uint64_t rest = static_cast<uint64_t>(
            share * double(m_candidates - std::min(allTried, m_candidates)) * double(m_perSet));
        m_checking = false;
        if (now + CHECK_EVERY * m_perSet > m_budget || hopeless(allTried, now + rest))
            checkLevelBudget(m_budget, std::max(now + rest, m_budget + 1), m_level, m_candidates);
    }

    /// Whether the sets kept so far, carried over the whole join, pass the
    /// budget by more than the sample's smallness could explain: the join's
    /// start need not be like the rest (sets are joined in item order, and
    /// a common item may come first), so a small sample must overshoot by
    /// more. It spares waiting minutes to learn what the first second shows.
    bool hopeless(uint64_t tried, uint64_t projected) const {
        if (tried < MIN_SAMPLE || m_candidates == 0)
            return false;
        const double done = std::min(1.0, double(tried) / double(m_candidates));
        return double(projected) > double(m_budget) * (1 + 0.1 / std::sqrt(done));
    }

    static constexpr uint64_t MIN_PROBES = 256, MAX_PROBES = 1 << 18; // random candidates tried
    static constexpr uint64_t PROBE_WORDS = uint64_t(1) << 26;        // words ANDed, at most
    static const size_t CHECK_EVERY = 1024;                           // kept sets between reports
    static const uint64_t MIN_SAMPLE = uint64_t(1) << 20; // candidates tried before projecting

private:
    static uint64_t nextRandom(uint64_t& state) { // splitmix64
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    uint64_t m_budget;
    size_t m_level;
    uint64_t m_candidates = 0;
    uint64_t m_perSet = 0;
    uint64_t m_later = 0;
    std::atomic<uint64_t> m_tried{0}, m_kept{0};
    std::atomic<bool> m_checking{false};
    bool m_watching = false;
};

} // namespace quorvel::rule::mining
