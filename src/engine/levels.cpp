#include "levels.hpp"

#include "level_guard.hpp"
#include "pairs.hpp"
#include "quorvel/budget.hpp"
#include "set_index.hpp"

#include "brenlo/threads.hpp"
#include "quorvel/peers.hpp"

#include <algorithm>
#include <atomic>

namespace quorvel::rule::mining {

namespace {

// Whether a set of the previous level is there.
class SubsetCheck {
public:
    SubsetCheck(const Level& prev, const SetIndex& sets)
        : m_prev(prev), m_sets(sets), m_candidate(prev.size + 1), m_subset(prev.size) {}

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
        return m_sets.find(m_prev.ids.data(), x) != SetIndex::NONE;
    }

    const Level& m_prev;
    const SetIndex& m_sets;
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
    Join(const MiningParams& config, const SubjectIndex& index, Level& prev,
         const SetIndex& prevSets, const std::vector<size_t>& runEnd, LevelGuard& guard,
         BitsPool& pool, unsigned worker)
        : m_config(config), m_index(index), m_prev(prev), m_runEnd(runEnd), m_guard(guard),
          m_pool(pool), m_worker(worker), m_subsets(prev, prevSets), m_scratch(index.subjects()),
          m_words((index.subjects() + 63) / 64) {
        m_next.size = prev.size + 1;
    }

    /// Whether the join would keep the candidate of sets `i` and `j`, by its
    /// own tests; nothing is kept.
    bool wouldKeep(size_t i, size_t j) {
        const Holders& base = m_prev.holders[i];
        const ItemId last = m_prev.set(j)[m_prev.size - 1];
        if (!subsetsAdmit(i, last))
            return false;
        size_t held = 0;
        if (base.dense()) {
            andHolders(base.bits(), last, held);
        } else {
            m_kept.resize(std::max(m_kept.size(), base.list().size()));
            keepHolders(base.list(), last, held);
        }
        return held >= m_config.minCount;
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
    // Makes the candidate of set `i` and `last`; false when its subsets
    // already rule it out. A set lacking a frequent subset is held by too
    // few subjects anyway, so where the count is final and an AND of
    // bitsets is cheaper than finding the subsets, the count alone decides.
    bool subsetsAdmit(size_t i, ItemId last) {
        std::copy(m_prev.set(i), m_prev.set(i) + m_prev.size, m_subsets.candidate());
        m_subsets.candidate()[m_prev.size] = last;
        const bool countFirst = m_prev.holders[i].dense() && m_config.minCount > 0;
        return countFirst || m_subsets.allSubsetsKnown();
    }

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
            if (!subsetsAdmit(i, last))
                continue;
            size_t held = 0;
            if (base.dense()) {
                const size_t n = andHolders(base.bits(), last, held);
                if (held < m_config.minCount)
                    continue;
                m_next.holders.push_back(keepAnd(n));
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
        // Only this set's own join reads its holders. A bitset goes to the
        // pool, for this thread's next sets; alone, a thread's next sets
        // take the blocks it frees, but across threads a list freed into
        // another's heap costs more than it saves.
        if (base.dense())
            m_pool.give(m_worker, m_prev.holders[i].releaseBits());
        else if (m_config.threads == 1)
            m_prev.holders[i] = Holders();
    }

    // The holders in m_and, `n` of them: a bitset keeps m_and's words, and
    // m_and takes a pooled one for the next AND.
    Holders keepAnd(size_t n) {
        if (!Holders::denser(n, m_and.size() * 64))
            return Holders::of(SubjectBits(m_and), n);
        std::vector<uint64_t> bits = m_pool.take(m_worker, m_and.size());
        bits.swap(m_and);
        return Holders::of(SubjectBits(std::move(bits)), n);
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
        const size_t n = andInto(a, b, m_and.data(), m_and.size());
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
    Level& m_prev;
    const std::vector<size_t>& m_runEnd;
    LevelGuard& m_guard;
    BitsPool& m_pool;
    unsigned m_worker;
    uint64_t m_tried = 0;  // candidates tried since the last report
    size_t m_reported = 0; // kept sets already reported
    SubsetCheck m_subsets;
    SubjectBits m_scratch;
    std::vector<uint32_t> m_kept;
    std::vector<uint64_t> m_and;
    size_t m_words;
    Level m_next;
};

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
    std::copy(counts.begin(), counts.end(), level.counts.begin());
    level.keepIf([&](size_t k) { return level.counts[k] >= config.minCount; });
}

} // namespace

Level nextLevel(const MiningParams& config, const SubjectIndex& index, Level& prev,
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
    const SetIndex prevSets(prev.ids.data(), prev.sets(), prev.size);
    // Stretches of the previous level go to the threads; their sets are put
    // together in stretch order, which is item-set order.
    const size_t stretch = std::max<size_t>(64, prev.sets() / (16 * std::max(1u, config.threads)));
    const size_t stretches = (prev.sets() + stretch - 1) / stretch;
    std::vector<Level> parts(stretches);
    LevelGuard guard(config, prev, runEnd);
    BitsPool pool(config.threads);
    // A failure on one process (the budget, say) must stop all of them.
    if (guard.watching())
        run.together([&] {
            Join probe(join, index, prev, prevSets, runEnd, guard, pool, 0);
            guard.sample(runEnd, index.subjects(),
                         [&](size_t i, size_t j) { return probe.wouldKeep(i, j); });
        });
    run.together([&] {
        brenlo::ProgressStage stage(run.progress(),
                                    "Joining item sets of " + std::to_string(prev.size) + " items",
                                    prev.sets(), brenlo::Progress::SETS);
        brenlo::forEachChunk(config.threads, stretches, [&](size_t chunk, unsigned worker) {
            const size_t from = chunk * stretch, to = std::min(prev.sets(), (chunk + 1) * stretch);
            parts[chunk] =
                Join(join, index, prev, prevSets, runEnd, guard, pool, worker).run(from, to);
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

namespace {

// Item-set order over ids, which ascend as their items do: a set sorts
// before its own prefixes.
bool beforeInItemSetOrder(const ItemId* a, size_t m, const ItemId* b, size_t n) {
    const size_t common = std::min(m, n);
    const auto differ = std::mismatch(a, a + common, b);
    if (differ.first != a + common)
        return *differ.first < *differ.second;
    return m > n;
}

} // namespace

std::vector<ItemSet> itemSetsOf(const SubjectIndex& index, const Level& level, unsigned threads) {
    std::vector<ItemSet> sets(level.sets());
    const size_t stretch = 1024;
    brenlo::forEachChunk(threads, (level.sets() + stretch - 1) / stretch, [&](size_t c, unsigned) {
        for (size_t k = c * stretch; k < std::min(level.sets(), (c + 1) * stretch); ++k)
            sets[k] = index.toItemSet(level.set(k), level.size);
    });
    return sets;
}

void record(const std::vector<Level>& levels, std::vector<std::vector<ItemSet>>& sets,
            ItemSetSupports& all) {
    // Each level ascends, so merging them gives every set in item-set order,
    // and each goes in at the end of `all` without a search.
    struct Head {
        size_t level, k;
    };
    const auto after = [&](const Head& x, const Head& y) {
        const Level& a = levels[y.level];
        const Level& b = levels[x.level];
        return beforeInItemSetOrder(a.set(y.k), a.size, b.set(x.k), b.size);
    };
    std::vector<Head> heads;
    for (size_t l = 0; l < levels.size(); ++l)
        if (levels[l].sets())
            heads.push_back({l, 0});
    std::make_heap(heads.begin(), heads.end(), after);
    while (!heads.empty()) {
        std::pop_heap(heads.begin(), heads.end(), after);
        Head& h = heads.back();
        all.add(all.end(), std::move(sets[h.level][h.k]), levels[h.level].counts[h.k]);
        if (++h.k < levels[h.level].sets())
            std::push_heap(heads.begin(), heads.end(), after);
        else
            heads.pop_back();
    }
}

} // namespace quorvel::rule::mining
