#include "levels.hpp"

#include "budget.hpp"
#include "level_guard.hpp"
#include "pairs.hpp"
#include "rule_bounds.hpp"

#include "brenlo/threads.hpp"
#include "quorvel/peers.hpp"

#include <algorithm>
#include <atomic>
#include <stdexcept>

namespace quorvel::rule::mining {

namespace {

// Whether a set of the previous level is there. The level's sets ascend
// lexicographically, so a set is found by binary search.
class SubsetCheck {
public:
    explicit SubsetCheck(const Level& prev)
        : m_prev(prev), m_candidate(prev.size + 1), m_subset(prev.size) {}

    ItemId* candidate() { return m_candidate.data(); }

    /// Every subset of the candidate is frequent. Dropping either of the
    /// last two items gives the two joined sets, which are.
    bool allSubsetsKnown() {
        const size_t n = m_candidate.size();
        for (size_t drop = 0; drop + 2 < n; ++drop) {
            std::copy(m_candidate.begin(), m_candidate.begin() + drop, m_subset.begin());
            std::copy(m_candidate.begin() + drop + 1, m_candidate.end(), m_subset.begin() + drop);
            if (!known(m_subset.data()))
                return false;
        }
        return true;
    }

private:
    bool known(const ItemId* x) const {
        const size_t width = m_prev.size;
        size_t lo = 0, hi = m_prev.sets();
        while (lo < hi) {
            const size_t mid = lo + (hi - lo) / 2;
            if (std::lexicographical_compare(m_prev.set(mid), m_prev.set(mid) + width, x,
                                             x + width))
                lo = mid + 1;
            else
                hi = mid;
        }
        return lo < m_prev.sets() && std::equal(x, x + width, m_prev.set(lo));
    }

    const Level& m_prev;
    std::vector<ItemId> m_candidate, m_subset;
};

// Sets sharing all but their last item are neighbours: where each one's run
// of them ends.
std::vector<size_t> prefixRunEnds(const Level& prev) {
    const size_t prefix = prev.size - 1;
    std::vector<size_t> runEnd(prev.sets());
    for (size_t i = prev.sets(); i-- > 0;)
        runEnd[i] =
            i + 1 < prev.sets() && std::equal(prev.set(i), prev.set(i) + prefix, prev.set(i + 1))
                ? runEnd[i + 1]
                : i + 1;
    return runEnd;
}

// One join: each set with the sets after it in its run.
class Join {
public:
    Join(const MiningParams& config, const SubjectIndex& index, const Level& prev,
         const std::vector<size_t>& runEnd, LevelGuard& guard)
        : m_config(config), m_index(index), m_prev(prev), m_runEnd(runEnd), m_guard(guard),
          m_subsets(prev), m_scratch(index.subjects()), m_words((index.subjects() + 63) / 64) {
        m_next.size = prev.size + 1;
    }

    /// The sets made by joining the sets `from` to `to` of the previous level.
    Level run(size_t from, size_t to) {
        for (size_t i = from; i < to; ++i)
            joinFrom(i);
        if (m_guard.watching())
            m_guard.report(m_tried, m_next.sets() - m_reported);
        return std::move(m_next);
    }

private:
    void joinFrom(size_t i) {
        const ItemId* si = m_prev.set(i);
        const Holders& base = m_prev.holders[i];
        const std::vector<uint32_t>& list = base.list();
        // A long list is counted against each candidate item as a bitset, a
        // short one subject by subject.
        const bool dense = m_index.unweighted() && list.size() > m_words / 2;
        bool filled = false;
        m_kept.resize(std::max(m_kept.size(), list.size()));
        for (size_t j = i + 1; j < m_runEnd[i]; ++j) {
            ++m_tried;
            if (m_guard.watching() && m_next.sets() >= m_reported + LevelGuard::CHECK_EVERY) {
                m_guard.report(m_tried, m_next.sets() - m_reported);
                m_tried = 0;
                m_reported = m_next.sets();
            }
            const ItemId last = m_prev.set(j)[m_prev.size - 1];
            std::copy(si, si + m_prev.size, m_subsets.candidate());
            m_subsets.candidate()[m_prev.size] = last;
            if (!m_subsets.allSubsetsKnown())
                continue;
            size_t held = 0;
            if (base.dense()) {
                const size_t n = andHolders(base.bits(), last, held);
                if (held < m_config.minCount)
                    continue;
                m_next.holders.push_back(Holders::of(SubjectBits(m_and), n));
            } else {
                if (dense && !denseEnough(list, last, filled))
                    continue;
                const size_t n = keepHolders(list, last, held);
                if (held < m_config.minCount)
                    continue;
                m_next.holders.push_back(Holders::of(
                    std::vector<uint32_t>(m_kept.data(), m_kept.data() + n), m_index.subjects()));
            }
            m_next.ids.insert(m_next.ids.end(), si, si + m_prev.size);
            m_next.ids.push_back(last);
            m_next.counts.push_back(held);
        }
        if (filled)
            for (uint32_t s : list)
                m_scratch.reset(s);
    }

    // The holders of `list` that also hold `last`, counted with bitsets.
    bool denseEnough(const std::vector<uint32_t>& list, ItemId last, bool& filled) {
        if (!filled) {
            for (uint32_t s : list)
                m_scratch.set(s);
            filled = true;
        }
        return m_scratch.intersectCount(m_index.holders(last)) >= m_config.minCount;
    }

    // The subjects of `bits` that hold `last`, into m_and; their number,
    // and in `held` the subjects they stand for.
    size_t andHolders(const SubjectBits& bits, ItemId last, size_t& held) {
        const uint64_t* a = bits.data();
        const uint64_t* b = m_index.holders(last).data();
        m_and.resize(bits.words());
        size_t n = 0;
        for (size_t w = 0; w < m_and.size(); ++w) {
            m_and[w] = a[w] & b[w];
            n += static_cast<size_t>(__builtin_popcountll(m_and[w]));
        }
        held = m_index.unweighted() ? n : m_index.weightOf(m_and.data(), n);
        return n;
    }

    // Keeps the subjects of `list` that hold `last`, without a branch per
    // subject; their number, and in `held` the subjects they stand for.
    size_t keepHolders(const std::vector<uint32_t>& list, ItemId last, size_t& held) {
        const uint64_t* words = m_index.holders(last).data();
        uint32_t* out = m_kept.data();
        size_t n = 0;
        if (m_index.unweighted()) {
            for (uint32_t s : list) {
                out[n] = s;
                n += words[s / 64] >> (s % 64) & 1;
            }
            held = n;
            return n;
        }
        held = 0;
        for (uint32_t s : list) {
            out[n] = s;
            const size_t bit = words[s / 64] >> (s % 64) & 1;
            n += bit;
            held += bit * m_index.weight(s);
        }
        return n;
    }

    const MiningParams& m_config;
    const SubjectIndex& m_index;
    const Level& m_prev;
    const std::vector<size_t>& m_runEnd;
    LevelGuard& m_guard;
    uint64_t m_tried = 0;  // candidates tried since the last report
    size_t m_reported = 0; // kept sets already reported
    SubsetCheck m_subsets;
    SubjectBits m_scratch;
    std::vector<uint32_t> m_kept;
    std::vector<uint64_t> m_and;
    size_t m_words;
    Level m_next;
};

// Every subject holding a set of the level walks the set's rules; subjects
// are taken in blocks, each loaded once and tested against every set of the
// level that it holds. Stretches of blocks go to the threads, each counting
// into its own array; the sums do not depend on who counted what.
// Each set's counts, then each set's bounds, in one array: summed across
// processes at once.
std::vector<uint64_t> observeLevel(const MiningParams& config, const SubjectIndex& index,
                                   const Level& level, const MaskedRules& rules,
                                   const RuleBounds& bounds, const Run& run) {
    const unsigned threads = std::max(1u, config.threads);
    // Subjects handed out at once: enough stretches for every thread to
    // keep busy, few enough that finding each set's place in each is cheap.
    const size_t STRETCH = std::min<size_t>(
        16384, std::max<size_t>(256, index.subjects() / (8 * size_t(threads)) + 1));
    const size_t BLOCK = std::min<size_t>(2048, STRETCH); // subjects
    const size_t stretches = (index.subjects() + STRETCH - 1) / STRETCH;
    std::vector<std::vector<uint64_t>> observed(
        std::min<size_t>(threads, std::max<size_t>(stretches, 1)));
    const size_t half = level.sets() * rules.size();
    for (auto& o : observed)
        o.assign(2 * half, 0);
    std::vector<SubjectIndex::Cursor> cursors(observed.size(),
                                              SubjectIndex::Cursor(index, config.windowSize));
    // The meter counts subjects as the Read line does: a merged history for
    // every subject it stands for.
    auto represented = [&](size_t from, size_t to) {
        uint64_t n = 0;
        for (size_t s = from; s < to; ++s)
            n += index.weight(s);
        return n;
    };
    brenlo::ProgressStage stage(
        run.progress(), "Counting rules of item sets of " + std::to_string(level.size) + " items",
        represented(0, index.subjects()), brenlo::Progress::SUBJECTS);
    brenlo::forEachChunk(threads, stretches, [&](size_t chunk, unsigned worker) {
        const size_t from = chunk * STRETCH;
        const size_t to = std::min(index.subjects(), from + STRETCH);
        std::vector<std::vector<uint32_t>> setsOf(BLOCK);
        // Each set's place in its holder list, found once per stretch.
        std::vector<size_t> next(level.sets());
        for (size_t k = 0; k < level.sets(); ++k) {
            const std::vector<uint32_t>& list = level.holders[k].list();
            next[k] = static_cast<size_t>(
                std::lower_bound(list.begin(), list.end(), uint32_t(from)) - list.begin());
        }
        for (size_t first = from; first < to; first += BLOCK) {
            const size_t end = std::min(to, first + BLOCK);
            for (auto& sets : setsOf)
                sets.clear();
            for (size_t k = 0; k < level.sets(); ++k) {
                if (!bounds.anyOf(k))
                    continue;
                level.holders[k].forEachIn(first, end, next[k], [&](size_t s) {
                    setsOf[s - first].push_back(static_cast<uint32_t>(k));
                });
            }
            SubjectIndex::Cursor& cursor = cursors[worker];
            for (size_t i = 0; i < end - first; ++i) {
                if (setsOf[i].empty())
                    continue;
                cursor.load(first + i);
                uint64_t* mine = observed[worker].data();
                for (uint32_t k : setsOf[i])
                    cursor.observe(level.set(k), level.size, rules, mine + k * rules.size(),
                                   mine + half + k * rules.size());
            }
            run.advance(represented(first, end));
        }
    });
    for (size_t w = 1; w < observed.size(); ++w)
        for (size_t k = 0; k < observed[0].size(); ++k)
            observed[0][k] += observed[w][k];
    return observed.empty() ? std::vector<uint64_t>(2 * half, 0) : std::move(observed[0]);
}

// The rules observed in at least `minCount` subjects (the others are never
// reported), as rules of the model, into `counts`.
void recordObserved(const SubjectIndex& index, const Level& level, const MaskedRules& rules,
                    const std::vector<uint64_t>& observed, uint64_t minCount,
                    RuleHistogram& counts) {
    minCount = std::max<uint64_t>(minCount, 1);
    IdSet side;
    auto sideOf = [&](const ItemId* x, uint64_t mask) {
        side.clear();
        for (size_t k = 0; k < level.size; ++k)
            if (mask >> k & 1)
                side.push_back(x[k]);
        return index.toItemSet(side);
    };
    for (size_t k = 0; k < level.sets(); ++k) {
        const ItemId* x = level.set(k);
        for (size_t r = 0; r < rules.size(); ++r)
            if (observed[k * rules.size() + r] >= minCount)
                counts[Rule(sideOf(x, rules.antecedent[r]), sideOf(x, rules.subsequent[r]))] =
                    observed[k * rules.size() + r];
    }
}

} // namespace

uint64_t Level::proposals() const {
    const uint64_t m = size;
    return sets() * (m * (m + 1) / 2 - 1);
}

Level frequentItems(const MiningParams& config, const SubjectIndex& index, const Run& run) {
    std::vector<uint64_t> holders(index.items());
    for (ItemId id = 0; id < index.items(); ++id)
        holders[id] = index.holderWeight(id);
    run.peers().sum(holders);
    Level level;
    level.size = 1;
    for (ItemId id = 0; id < index.items(); ++id) {
        if (holders[id] >= config.minCount) {
            level.ids.push_back(id);
            level.holders.push_back(Holders::of(index.holderList(id), index.subjects()));
            level.counts.push_back(holders[id]);
        }
    }
    return level;
}

namespace {

// Across processes each keeps every candidate with its own holders; the
// sets frequent across all of them stay.
void keepFrequentEverywhere(const MiningParams& config, const Peers& peers, Level& level) {
    std::vector<uint64_t> counts(level.counts.begin(), level.counts.end());
    peers.sum(counts);
    Level kept;
    kept.size = level.size;
    for (size_t k = 0; k < level.sets(); ++k)
        if (counts[k] >= config.minCount) {
            kept.ids.insert(kept.ids.end(), level.set(k), level.set(k) + level.size);
            kept.holders.push_back(std::move(level.holders[k]));
            kept.counts.push_back(counts[k]);
        }
    level = std::move(kept);
}

} // namespace

Level nextLevel(const MiningParams& config, const SubjectIndex& index, const Level& prev,
                const Run& run) {
    MiningParams join = config;
    // Alone, a set is dropped as soon as it is counted; with other
    // processes, only once the counts of all are in.
    if (!run.peers().alone())
        join.minCount = 0;
    Level pairs;
    bool byPairs = false;
    if (prev.size == 1) {
        run.together([&] {
            brenlo::ProgressStage stage(run.progress(), "Counting pairs of items", index.subjects(),
                                        brenlo::Progress::SUBJECTS);
            byPairs = pairLevel(join, index, prev, pairs, run);
        });
    }
    if (byPairs) {
        if (!run.peers().alone())
            keepFrequentEverywhere(config, run.peers(), pairs);
        return pairs;
    }
    const std::vector<size_t> runEnd = prefixRunEnds(prev);
    // Stretches of the previous level go to the threads; their sets are put
    // together in stretch order, which is item-set order.
    const size_t stretch = std::max<size_t>(64, prev.sets() / (16 * std::max(1u, config.threads)));
    const size_t stretches = (prev.sets() + stretch - 1) / stretch;
    std::vector<Level> parts(stretches);
    LevelGuard guard(config, prev, runEnd);
    // A failure on one process (the budget, say) must stop all of them.
    run.together([&] {
        brenlo::ProgressStage stage(run.progress(),
                                    "Joining item sets of " + std::to_string(prev.size) + " items",
                                    prev.sets(), brenlo::Progress::SETS);
        brenlo::forEachChunk(config.threads, stretches, [&](size_t chunk, unsigned) {
            const size_t from = chunk * stretch, to = std::min(prev.sets(), (chunk + 1) * stretch);
            parts[chunk] = Join(join, index, prev, runEnd, guard).run(from, to);
            run.advance(to - from);
        });
    });
    Level next;
    next.size = prev.size + 1;
    for (Level& part : parts) {
        next.ids.insert(next.ids.end(), part.ids.begin(), part.ids.end());
        for (auto& holders : part.holders)
            next.holders.push_back(std::move(holders));
        next.counts.insert(next.counts.end(), part.counts.begin(), part.counts.end());
        part = Level();
    }
    if (!run.peers().alone())
        keepFrequentEverywhere(config, run.peers(), next);
    return next;
}

void record(const SubjectIndex& index, const Level& level, ItemSetSupports& all) {
    for (size_t k = 0; k < level.sets(); ++k)
        all[index.toItemSet(level.set(k), level.size)] = level.counts[k];
}

void countLevel(const MiningParams& config, const SubjectIndex& index, const Level& level,
                RuleBounds& bounds, RuleHistogram& counts, const Run& run) {
    const size_t m = level.size;
    if (m > MAX_RULE_ITEMS)
        throw std::length_error("an item set of more than 64 items");
    // The proposals are the same for every set of the level, as masks.
    MaskedRules rules = MaskedRules::proposedFor(m);
    rules.tabulate(m);
    bounds = RuleBounds(level, rules, bounds);
    const size_t half = level.sets() * rules.size();
    std::vector<uint64_t> observed;
    run.together([&] {
        if (config.memoryBudget)
            checkLevelBudget(config.memoryBudget, residentBytes() + uint64_t(half) * 16, m,
                             level.sets());
        // Baskets of one transaction each observe nothing.
        observed = index.anyLongerThanOne() ? observeLevel(config, index, level, rules, bounds, run)
                                            : std::vector<uint64_t>(2 * half, 0);
    });
    run.peers().sum(observed);
    bounds.keepReaching(std::vector<uint64_t>(observed.begin() + half, observed.end()),
                        config.minCount);
    observed.resize(half);
    recordObserved(index, level, rules, observed, config.minCount, counts);
}

} // namespace quorvel::rule::mining
