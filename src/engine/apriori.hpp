// The steps of a run: frequent item sets level by level with the subjects
// observing each proposed rule, and the measures of the rules that pass.
#pragma once

#include "delays.hpp"
#include "order_counts.hpp"
#include "plain.hpp"
#include "run.hpp"

#include "quorvel/mine.hpp"

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <vector>

namespace quorvel::rule::mining {

/// What the walks after the search find for each rule, in the order of
/// the histogram: with `delays`, its delays; with ORDER p-values, its
/// order counts.
struct RuleWalks {
    std::vector<RuleDelays> delays;
    std::vector<OrderCounts> orders;
};

/// The frequent item sets (into `all`) and the subjects observing each
/// proposed rule, with the stage times, when asked for, in `times`. Given
/// `walks`, the rules the walks need (delays, order p-values) are walked;
/// then only the rules passing the thresholds are returned.
RuleHistogram apriori(const MiningParams& config, const EventLog& log, ItemSetSupports& all,
                      const Run& run = Run(), StageTimes* times = nullptr,
                      RuleWalks* walks = nullptr);
RuleHistogram apriori(const MiningParams& config, const TransactionSet& txns, ItemSetSupports& all,
                      const Run& run = Run(), StageTimes* times = nullptr);

/// A rule's measures from the subjects observing it (`countR`) and those
/// holding its items, its antecedent and its subsequent, of `txnCount`.
RuleSet::Stats measuresOf(uint64_t countR, uint64_t countI, uint64_t countA, uint64_t countS,
                          size_t txnCount);

/// The measures of every counted rule that passes the thresholds, into an
/// empty `ret`, with what `walks` found for them.
void populateRuleSet(const MiningParams& config, RuleSet& ret, const ItemSetSupports& supports,
                     const RuleHistogram& hist, size_t txnCount, std::ostream& progress,
                     const RuleWalks* walks = nullptr);

/// Keeps the productive rules of `rules` (MiningParams::productive).
void keepProductive(RuleSet& rules, const ItemSetSupports& supports, size_t txnCount);

/// The p-values `config` asks for, adjusted over all of `rules`, and then,
/// with `config.maxP`, only the rules whose adjusted values pass it.
void testRules(const MiningParams& config, RuleSet& rules, const ItemSetSupports& supports,
               size_t txnCount);

/// Keeps the `best` rules of highest count, ties at the last count kept,
/// and the item sets of at least that count, which it returns; keeps all
/// (and returns 0) when there are fewer.
size_t keepBest(size_t best, RuleSet& rules, ItemSetHistogram& sets);

/// The basket rules of the frequent sets that pass the thresholds: each
/// set of two items or more split into each of its items and the rest,
/// counted by the subjects holding the set.
void basketRules(const MiningParams& config, RuleSet& ret, const ItemSetSupports& supports,
                 size_t txnCount, std::ostream& progress);

} // namespace quorvel::rule::mining
