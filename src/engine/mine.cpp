#include "apriori.hpp"

#include "delays.hpp"
#include "index.hpp"
#include "item_tables.hpp"
#include "levels.hpp"
#include "order_splits.hpp"
#include "quorvel/budget.hpp"
#include "quorvel/peers.hpp"
#include "rule_bounds.hpp"
#include "rule_filter.hpp"
#include "search.hpp"

#include "brenlo/threads.hpp"

#include <algorithm>
#include <chrono>
#include <functional>
#include <cmath>
#include <map>
#include <ostream>
#include <stdexcept>

namespace quorvel::rule {

namespace mining {

namespace {

// Adds the time since construction to a stage when it goes out of scope.
class StageClock {
public:
    explicit StageClock(double& stage)
        : m_stage(stage), m_start(std::chrono::steady_clock::now()) {}
    ~StageClock() {
        m_stage +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    }

private:
    double& m_stage;
    std::chrono::steady_clock::time_point m_start;
};

// The level engine over the subject index.
class IndexedSearch : public LevelSearch {
public:
    IndexedSearch(MiningParams& config, const SubjectIndex& index, const Run& run,
                  ItemSetSupports& all, RuleHistogram& counts, StageTimes& times)
        : m_config(config), m_threshold(config), m_index(index), m_run(run), m_all(all),
          m_counts(counts), m_times(times) {}

    size_t firstLevel() override {
        StageClock clock(m_times.itemSets);
        m_level = frequentItems(m_config, m_index, m_run);
        if (m_config.constraints.any()) {
            m_filter = RuleFilter(m_config.constraints, m_index, m_level, m_run.messages());
            if (!m_config.allItemSets)
                dropUnneeded(m_level);
        }
        return m_level.sets();
    }
    size_t nextLevel() override {
        StageClock clock(m_times.itemSets);
        Level next = mining::nextLevel(m_config, m_index, m_level, m_run);
        if (!m_config.allItemSets && m_filter.prunes())
            keepNeeded(m_config, m_index, m_filter, m_run, next);
        keep(std::move(m_level));
        m_level = std::move(next);
        return m_level.sets();
    }
    /// Puts every level's sets into the item-set table, in one ordered pass.
    void finish() {
        StageClock clock(m_times.itemSets);
        keep(std::move(m_level));
        record(m_found, m_sets, m_all);
        m_found.clear();
        m_sets.clear();
    }
    uint64_t proposals() const override { return m_level.proposals(); }
    void countRules() override {
        // Basket rules are made from the item sets alone.
        if (m_config.rules == RuleKind::BASKET)
            return;
        StageClock clock(m_times.rules);
        if (!m_tablesTried)
            m_tables = ItemTables::of(m_index, m_config.windowSize, tableBytes(), m_config.threads);
        m_tablesTried = true;
        countLevel(m_config, m_index, m_level, m_bounds, m_counts, m_run, &m_tables, &m_splits,
                   &m_filter);
        raiseForBest();
    }

private:
    // Looking for the best rules, the count of the best-th so far bounds
    // the final one from below, so the levels to come may be held to it.
    // Only where that count alone decides what is kept: thresholds that
    // need the item-set counts, and the productive test, leave it be.
    void raiseForBest() {
        const MiningParams& p = m_config;
        if (!p.best || p.productive || p.minConfidence > 0 || p.minLift > 0 ||
            p.maxConviction < HUGE_VAL || p.rules != RuleKind::ORDERED)
            return;
        std::vector<uint64_t> counts;
        for (const auto& [rule, count] : m_counts)
            if (count >= p.minCount && p.constraints.admits(rule))
                counts.push_back(count);
        if (counts.size() < p.best)
            return;
        std::nth_element(counts.begin(), counts.begin() + ptrdiff_t(p.best - 1), counts.end(),
                         std::greater<uint64_t>());
        m_threshold.minCount = std::max<size_t>(p.minCount, counts[p.best - 1]);
    }

    // No set holding an excluded item can lead to a kept rule, nor one that
    // the constraints' subjects do not join (rule_filter.hpp).
    void dropUnneeded(Level& items) const {
        dropExcluded(items);
        if (m_filter.prunes())
            keepNeeded(m_config, m_index, m_filter, m_run, items);
    }
    void dropExcluded(Level& items) const {
        items.keepIf([&](size_t k) { return !m_filter.excluded(items.set(k)[0]); });
    }

    // A level's sets and counts are kept for the table, its item sets made
    // now (so the budget sees them); its holders are done.
    void keep(Level level) {
        level.holders = std::vector<Holders>();
        m_sets.push_back(itemSetsOf(m_index, level, m_config.threads));
        m_found.push_back(std::move(level));
    }

    // A table of the items may take a quarter of what the budget leaves.
    uint64_t tableBytes() const {
        if (!m_config.memoryBudget)
            return m_config.itemTableBytes;
        const uint64_t used = residentBytes();
        const uint64_t left = m_config.memoryBudget > used ? m_config.memoryBudget - used : 0;
        return std::min(m_config.itemTableBytes, left / 4);
    }

    const MiningParams& m_config;
    MiningParams& m_threshold; // the same, whose count --best raises
    const SubjectIndex& m_index;
    const Run& m_run;
    ItemSetSupports& m_all;
    RuleHistogram& m_counts;
    StageTimes& m_times;
    Level m_level;
    std::vector<Level> m_found;               // the levels before m_level
    std::vector<std::vector<ItemSet>> m_sets; // theirs as item sets
    RuleBounds m_bounds;
    ItemTables m_tables;
    OrderSplits m_splits;
    RuleFilter m_filter;
    bool m_tablesTried = false;
};

} // namespace

RuleHistogram apriori(const MiningParams& config, const TransactionSet& txns, ItemSetSupports& all,
                      const Run& run, StageTimes* times) {
    return apriori(config, eventLogOf(txns), all, run, times);
}

namespace {

// The counted rules that pass the thresholds and the constraints, with
// their measures from the item-set counts.
template <class Keep>
void forEachPassing(const MiningParams& config, const ItemSetSupports& supports,
                    const RuleHistogram& hist, size_t txnCount, Keep keep) {
    // Rules come in rule order, so one antecedent's rules follow each other.
    const ItemSet* antecedent = nullptr;
    uint64_t countA = 0;
    for (const auto& entry : hist) {
        const Rule& rule = entry.first;
        const uint64_t countI = supports.at(rule.items());
        if (!antecedent || *antecedent != rule.antecedent()) {
            antecedent = &rule.antecedent();
            countA = supports.at(*antecedent);
        }
        const RuleSet::Stats stats =
            measuresOf(entry.second, countI, countA, supports.at(rule.subsequent()), txnCount);
        if (config.admits(stats) && config.constraints.admits(rule))
            keep(entry, stats);
    }
}

} // namespace

RuleHistogram apriori(const MiningParams& params, const EventLog& log, ItemSetSupports& all,
                      const Run& run, StageTimes* times, RuleWalks* walks) {
    MiningParams config = params;
    config.threads = brenlo::threadCount(params.threads);
    StageTimes local;
    StageTimes& t = times ? *times : local;
    RuleHistogram counts;
    all = ItemSetSupports();
    auto start = std::chrono::steady_clock::now();
    IndexShape shape;
    shape.minCount = config.minCount;
    shape.merge = true;
    // Delays are read off the times, so histories merge only when equally spaced.
    const bool ordered = config.rules == RuleKind::ORDERED;
    const bool timed = walks && ordered && config.delays;
    const bool sided = walks && ordered && (config.tests() & RuleSet::ORDER);
    shape.byTime = config.windowSize > 0 || timed;
    shape.threads = config.threads;
    shape.peers = &run.peers();
    const SubjectIndex index(log, shape);
    t.index = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    IndexedSearch search(config, index, run, all, counts, t);
    searchLevels(config, search, run.messages());
    search.finish();
    if (timed || sided) {
        StageClock clock(t.rules);
        // Only the rules reported are walked.
        RuleHistogram passing;
        forEachPassing(config, all, counts, run.peers().total(log.subjects()),
                       [&](const RuleHistogram::value_type& entry, const RuleSet::Stats&) {
                           passing.emplace_hint(passing.end(), entry);
                       });
        counts = std::move(passing);
        if (timed)
            walks->delays = delaysOf(config, index, counts, run);
        if (sided)
            walks->orders = orderCountsOf(config, index, counts, run);
    }
    return counts;
}

RuleSet::Stats measuresOf(uint64_t countR, uint64_t countI, uint64_t countA, uint64_t countS,
                          size_t txnCount) {
    const unsigned int t = static_cast<unsigned int>(txnCount);
    const double supportI = support(static_cast<unsigned int>(countI), t);
    const double supportA = support(static_cast<unsigned int>(countA), t);
    const double supportS = support(static_cast<unsigned int>(countS), t);
    RuleSet::Stats stats;
    stats.count = countR;
    stats.icount = countI;
    stats.support = support(static_cast<unsigned int>(countR), t);
    stats.confidence = confidence(supportI, supportA);
    stats.lift = lift(supportI, supportA, supportS);
    stats.conviction = conviction(supportS, stats.confidence);
    stats.probability = probability(supportI, supportS);
    stats.certainty = certainty(supportI, supportS);
    return stats;
}

void populateRuleSet(const MiningParams& config, RuleSet& ret, const ItemSetSupports& supports,
                     const RuleHistogram& hist, size_t txnCount, std::ostream& progress,
                     const RuleWalks* walks) {
    progress << "\t ... preparing rules for reporting." << std::endl;
    const bool ordered = config.rules == RuleKind::ORDERED;
    const bool timed = walks && ordered && config.delays;
    const bool sided = walks && ordered && (config.tests() & RuleSet::ORDER);
    if (timed)
        ret.setColumns(ret.columns() | RuleSet::DELAYS);
    // With walks, `hist` holds only rules that pass, each walked in turn.
    size_t r = 0;
    forEachPassing(config, supports, hist, txnCount,
                   [&](const RuleHistogram::value_type& entry, RuleSet::Stats stats) {
                       if (timed) {
                           const RuleDelays& d = walks->delays[r];
                           stats.delayMin = d.min;
                           stats.delayMedian = d.median;
                           stats.delayP90 = d.p90;
                           stats.delayMax = d.max;
                       }
                       if (sided) {
                           stats.countReverse = walks->orders[r].reverse;
                           stats.countBoth = walks->orders[r].both;
                       }
                       ++r;
                       ret.add(ret.end(), entry.first, stats);
                   });
}

void basketRules(const MiningParams& config, RuleSet& ret, const ItemSetSupports& supports,
                 size_t txnCount, std::ostream& progress) {
    progress << "\t ... making basket rules from the item sets." << std::endl;
    std::vector<Item> items;
    for (const auto& entry : supports) {
        if (entry.first.size() < 2)
            continue;
        items.assign(entry.first.begin(), entry.first.end());
        for (size_t b = 0; b < items.size(); ++b) {
            ItemSet antecedent;
            for (size_t k = 0; k < items.size(); ++k)
                if (k != b)
                    antecedent.add(items[k]);
            const ItemSet subsequent(items[b]);
            // Every subset of a frequent set is frequent, so both are there.
            const RuleSet::Stats stats =
                measuresOf(entry.second, entry.second, supports.at(antecedent),
                           supports.at(subsequent), txnCount);
            const Rule rule(antecedent, subsequent);
            if (config.admits(stats) && config.constraints.admits(rule))
                ret[rule] = stats;
        }
    }
}

} // namespace mining

MiningResult mine(const MiningParams& params, const EventLog& log, const MiningContext& context) {
    if (params.rules == RuleKind::BASKET && (params.pValues & RuleSet::ORDER))
        throw std::invalid_argument("Basket rules have no order to test.");
    const mining::Run run(context);
    const size_t subjects = run.peers().total(log.subjects());
    MiningResult result;
    // Everything but the tests, which are over the rules finally kept.
    auto search = [&](const MiningParams& p) {
        result = MiningResult();
        mining::RuleWalks walks;
        RuleHistogram counts =
            mining::apriori(p, log, result.m_itemSets, run, &result.m_times, &walks);
        mining::StageClock clock(result.m_times.statistics);
        if (p.rules == RuleKind::BASKET)
            mining::basketRules(p, result.m_rules, result.m_itemSets, subjects, run.messages());
        else
            mining::populateRuleSet(p, result.m_rules, result.m_itemSets, counts, subjects,
                                    run.messages(), &walks);
        if (p.productive)
            mining::keepProductive(result.m_rules, result.m_itemSets, subjects);
    };
    if (!params.best) {
        search(params);
    } else {
        // Down from the subjects, a third at a time: the runs above the
        // answer are small, and the one below it is soon raised.
        MiningParams p = params;
        const size_t floor = std::max<size_t>(1, params.minCount);
        p.minCount = std::max(floor, subjects);
        for (;;) {
            run.messages() << "Looking for the best " << params.best
                           << " rules among those of count " << p.minCount << " or more."
                           << std::endl;
            search(p);
            if (result.m_rules.size() >= params.best || p.minCount == floor)
                break;
            p.minCount = std::max(floor, p.minCount / 3);
        }
        const size_t least = mining::keepBest(params.best, result.m_rules, result.m_itemSets);
        if (least)
            run.messages() << "\t ... the best have a count of " << least << " or more."
                           << std::endl;
        else
            run.messages() << "\t ... fewer than " << params.best << " rules have a count of "
                           << floor << " or more." << std::endl;
    }
    {
        mining::StageClock clock(result.m_times.statistics);
        mining::testRules(params, result.m_rules, result.m_itemSets, subjects);
    }
    run.messages() << "\t ... have " << result.m_rules.size() << " rules." << std::endl;
    return result;
}

MiningResult mine(const MiningParams& params, const TransactionSet& txns,
                  const MiningContext& context) {
    return mine(params, eventLogOf(txns), context);
}

} // namespace quorvel::rule
