// The steps of a run: frequent item sets level by level with the subjects
// observing each proposed rule, and the measures of the rules that pass.
#pragma once

#include "plain.hpp"
#include "run.hpp"

#include "quorvel/mine.hpp"

#include <cstddef>
#include <iosfwd>

namespace quorvel::rule::mining {

/// The frequent item sets (into `all`) and the subjects observing each
/// proposed rule, with the stage times, when asked for, in `times`.
RuleHistogram apriori(const MiningParams& config, const EventLog& log, ItemSetSupports& all,
                      const Run& run = Run(), StageTimes* times = nullptr);
RuleHistogram apriori(const MiningParams& config, const TransactionSet& txns, ItemSetSupports& all,
                      const Run& run = Run(), StageTimes* times = nullptr);

/// The measures of every counted rule that passes the thresholds.
void populateRuleSet(const MiningParams& config, RuleSet& ret, const ItemSetSupports& supports,
                     const RuleHistogram& hist, size_t txnCount, std::ostream& progress);

} // namespace quorvel::rule::mining
