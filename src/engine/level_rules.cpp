// Counting the rules of a level: every subject holding a set tests the
// set's rules that may still reach the minimum count.
#include "levels.hpp"

#include "item_tables.hpp"
#include "order_splits.hpp"
#include "quorvel/budget.hpp"
#include "rule_bounds.hpp"

#include "brenlo/threads.hpp"
#include "quorvel/peers.hpp"

#include <algorithm>
#include <stdexcept>

namespace quorvel::rule::mining {

namespace {

// The meter counts subjects as the Read line does: a merged history for
// every subject it stands for.
uint64_t represented(const SubjectIndex& index, size_t from, size_t to) {
    uint64_t n = 0;
    for (size_t s = from; s < to; ++s)
        n += index.weight(s);
    return n;
}

// Every subject holding a set of the level walks the set's rules; subjects
// are taken in blocks, each loaded once and tested against every set of the
// level that it holds. Stretches of blocks go to the threads, each counting
// into its own array; the sums do not depend on who counted what. Returns
// each set's counts, then each set's bounds, in one array, to be summed
// across processes at once.
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
    brenlo::ProgressStage stage(
        run.progress(), "Counting rules of item sets of " + std::to_string(level.size) + " items",
        represented(index, 0, index.subjects()), brenlo::Progress::SUBJECTS);
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
            run.advance(represented(index, first, end));
        }
    });
    for (size_t w = 1; w < observed.size(); ++w)
        for (size_t k = 0; k < observed[0].size(); ++k)
            observed[0][k] += observed[w][k];
    return observed.empty() ? std::vector<uint64_t>(2 * half, 0) : std::move(observed[0]);
}

// The same from a table of the index's items: set after set over its
// holders, sets in stretches to the threads, each set counted by one of
// them. count(k, counts, bounds) counts the k-th set.
template <class Count>
std::vector<uint64_t> observeBySet(const MiningParams& config, const SubjectIndex& index,
                                   const Level& level, const MaskedRules& rules,
                                   const RuleBounds& bounds, const Run& run, Count count) {
    const unsigned threads = std::max(1u, config.threads);
    const size_t half = level.sets() * rules.size();
    std::vector<uint64_t> observed(2 * half, 0);
    const size_t STRETCH = std::max<size_t>(1, level.sets() / (32 * size_t(threads)));
    const size_t stretches = (level.sets() + STRETCH - 1) / STRETCH;
    // The meter counts subjects, as subject by subject: each stretch of sets
    // stands for its share of them, and the shares add up to all.
    const uint64_t subjects = represented(index, 0, index.subjects());
    auto share = [&](size_t k) { return subjects * k / std::max<size_t>(level.sets(), 1); };
    brenlo::ProgressStage stage(
        run.progress(), "Counting rules of item sets of " + std::to_string(level.size) + " items",
        subjects, brenlo::Progress::SUBJECTS);
    brenlo::forEachChunk(threads, stretches, [&](size_t chunk, unsigned) {
        const size_t from = chunk * STRETCH, to = std::min(level.sets(), from + STRETCH);
        for (size_t k = from; k < to; ++k)
            if (bounds.anyOf(k))
                count(k, observed.data() + k * rules.size(),
                      observed.data() + half + k * rules.size());
        run.advance(share(to) - share(from));
    });
    return observed;
}

std::vector<uint64_t> observeByTable(const MiningParams& config, const SubjectIndex& index,
                                     const Level& level, const MaskedRules& rules,
                                     const RuleBounds& bounds, const ItemTables& tables,
                                     const Run& run) {
    auto holdersOf = [&](size_t k) {
        return [&, k](auto f) {
            size_t at = 0;
            level.holders[k].forEachIn(0, index.subjects(), at, f);
        };
    };
    if (!tables.firsts.empty())
        return observeBySet(config, index, level, rules, bounds, run,
                            [&](size_t k, uint64_t* counts, uint64_t* bound) {
                                tables.firsts.observe(index, level.set(k), level.size, holdersOf(k),
                                                      counts, bound);
                            });
    return observeBySet(
        config, index, level, rules, bounds, run, [&](size_t k, uint64_t* counts, uint64_t* bound) {
            tables.masks.observe(index, level.set(k), level.size, holdersOf(k), counts, bound);
        });
}

// Rule r of the level's k-th set, as a rule of the model, into `counts`.
class RuleRecorder {
public:
    RuleRecorder(const SubjectIndex& index, const Level& level, const MaskedRules& rules,
                 RuleHistogram& counts)
        : m_index(index), m_level(level), m_rules(rules), m_counts(counts) {}

    void add(size_t k, size_t r, uint64_t count) {
        const ItemId* x = m_level.set(k);
        m_counts[Rule(sideOf(x, m_rules.antecedent[r]), sideOf(x, m_rules.subsequent[r]))] = count;
    }

private:
    ItemSet sideOf(const ItemId* x, uint64_t mask) {
        m_side.clear();
        for (size_t k = 0; k < m_level.size; ++k)
            if (mask >> k & 1)
                m_side.push_back(x[k]);
        return m_index.toItemSet(m_side);
    }

    const SubjectIndex& m_index;
    const Level& m_level;
    const MaskedRules& m_rules;
    RuleHistogram& m_counts;
    IdSet m_side;
};

// The rules observed in at least `minCount` subjects (the others are never
// reported), into `counts`.
void recordObserved(const SubjectIndex& index, const Level& level, const MaskedRules& rules,
                    const std::vector<uint64_t>& observed, uint64_t minCount,
                    RuleHistogram& counts) {
    minCount = std::max<uint64_t>(minCount, 1);
    RuleRecorder recorder(index, level, rules, counts);
    for (size_t k = 0; k < level.sets(); ++k)
        for (size_t r = 0; r < rules.size(); ++r)
            if (observed[k * rules.size() + r] >= minCount)
                recorder.add(k, r, observed[k * rules.size() + r]);
}

// Each set's counts, then each set's bounds, summed across processes.
std::vector<uint64_t> observeSets(const MiningParams& config, const SubjectIndex& index,
                                  const Level& level, const MaskedRules& rules,
                                  const RuleBounds& bounds, const Run& run,
                                  const ItemTables* tables) {
    const size_t half = level.sets() * rules.size();
    std::vector<uint64_t> observed;
    run.together([&] {
        if (config.memoryBudget)
            checkLevelBudget(config.memoryBudget, residentBytes() + uint64_t(half) * 16, level.size,
                             level.sets());
        // Baskets of one transaction each observe nothing.
        if (!index.anyLongerThanOne())
            observed.assign(2 * half, 0);
        else if (tables && (!tables->firsts.empty() || !tables->masks.empty()))
            observed = observeByTable(config, index, level, rules, bounds, *tables, run);
        else
            observed = observeLevel(config, index, level, rules, bounds, run);
    });
    run.peers().sum(observed);
    return observed;
}

// The sets of `level` of which `bounds` leaves some rule.
Level withRulesLeft(const Level& level, const RuleBounds& bounds) {
    Level left;
    left.size = level.size;
    for (size_t k = 0; k < level.sets(); ++k)
        if (bounds.anyOf(k)) {
            left.ids.insert(left.ids.end(), level.set(k), level.set(k) + level.size);
            left.holders.push_back(level.holders[k]);
            left.counts.push_back(level.counts[k]);
        }
    return left;
}

} // namespace

void countLevel(const MiningParams& config, const SubjectIndex& index, const Level& level,
                RuleBounds& bounds, RuleHistogram& counts, const Run& run, const ItemTables* tables,
                OrderSplits* splits, const RuleFilter* filter) {
    static const RuleFilter ANY;
    const RuleFilter& only = filter ? *filter : ANY;
    const size_t m = level.size;
    if (m > MAX_RULE_ITEMS)
        throw std::length_error("an item set of more than 64 items");
    // The proposals are the same for every set of the level, as masks.
    MaskedRules rules = MaskedRules::proposedFor(m);
    static const FirstAppearances NO_FIRSTS;
    static const WindowMasks NO_MASKS;
    if (splits && m == 2)
        *splits = OrderSplits::of(config, index, level, tables ? tables->firsts : NO_FIRSTS,
                                  tables ? tables->masks : NO_MASKS, run);
    std::vector<OrderSplits::Counted> bySplits;
    if (splits && !splits->empty())
        bySplits = splits->count(config, index, level, rules, run, only);
    if (splits && !splits->empty() && splits->exactAt(m)) {
        RuleRecorder recorder(index, level, rules, counts);
        for (const OrderSplits::Counted& c : bySplits)
            if (c.count >= std::max<uint64_t>(config.minCount, 1))
                recorder.add(c.set, c.rule, c.count);
        return;
    }
    rules.tabulate(m);
    if (splits && !splits->empty()) {
        // Only the sets with a rule whose split's bound reached the count
        // are counted, on their own.
        std::vector<uint64_t> live, liveLeft;
        for (const OrderSplits::Counted& c : bySplits)
            live.push_back(uint64_t(c.set) * rules.size() + c.rule);
        bounds = RuleBounds(level, rules, live);
        const Level left = withRulesLeft(level, bounds);
        size_t at = 0;
        for (size_t i = 0; i < bySplits.size(); ++i) {
            at += i > 0 && bySplits[i].set != bySplits[i - 1].set;
            liveLeft.push_back(uint64_t(at) * rules.size() + bySplits[i].rule);
        }
        const std::vector<uint64_t> observed =
            observeSets(config, index, left, rules, RuleBounds(left, rules, liveLeft), run, tables);
        recordObserved(index, left, rules, observed, config.minCount, counts);
        return;
    }
    bounds = RuleBounds(level, rules, bounds, config.threads);
    if (only.active())
        bounds.keepOnly(
            [&](size_t k, size_t r) { return only.mayKeep(level.set(k), m, rules.subsequent[r]); });
    std::vector<uint64_t> observed = observeSets(config, index, level, rules, bounds, run, tables);
    const size_t half = level.sets() * rules.size();
    bounds.keepReaching(observed.data() + half, config.minCount);
    observed.resize(half);
    recordObserved(index, level, rules, observed, config.minCount, counts);
}

} // namespace quorvel::rule::mining
