// Mining a transaction set: frequent item sets level by level, windowed
// rule counts per subject, and the statistics of the rules that pass.
#pragma once

#include "config.hpp"
#include "ingest.hpp"
#include "plain.hpp"
#include "quorvel/rule.hpp"

#include <cstdint>
#include <iosfwd>
#include <iostream>

namespace quorvel::rule {

namespace mining {

/// Seconds spent in each stage of a mining run.
struct StageTimes {
    double index = 0;
    double itemSets = 0;
    double rules = 0;
    double statistics = 0;
};

/// The frequent item sets (into `all`) and the subjects observing each
/// proposed rule, with the level messages on `progress` and the stage
/// times, when asked for, in `times`.
RuleHistogram apriori(const Configuration& config, const TransactionSet& txns, ItemSetSupports& all,
                      std::ostream& progress = std::cerr, StageTimes* times = nullptr);
RuleHistogram apriori(const Configuration& config, const EventLog& log, ItemSetSupports& all,
                      std::ostream& progress = std::cerr, StageTimes* times = nullptr);

/// Whether a rule's statistics pass the configured thresholds.
bool filter(const Configuration& config, const RuleSet::Stats& stats);

/// The statistics of every counted rule that passes the thresholds.
void populateRuleSet(const Configuration& config, RuleSet& ret, const ItemSetSupports& supports,
                     const RuleHistogram& hist, size_t txnCount,
                     std::ostream& progress = std::cerr);

} // namespace mining

class MiningResult {
public:
    typedef ItemSetHistogram ItemSets;

    MiningResult() {}

    const RuleSet& rules() const { return m_rules; }
    ItemSets itemSets() const { return m_is; }
    const mining::StageTimes& times() const { return m_times; }

    /// Mines `txns`, writing progress to `progress`.
    static MiningResult mine(const Configuration& config, const TransactionSet& txns,
                             std::ostream& progress = std::cerr);
    static MiningResult mine(const Configuration& config, const mining::EventLog& log,
                             std::ostream& progress = std::cerr);

private:
    RuleSet m_rules;
    ItemSets m_is;
    mining::StageTimes m_times;
};

MiningResult mine(const Configuration& config, const TransactionSet& txns,
                  std::ostream& progress = std::cerr);
MiningResult mine(const Configuration& config, const mining::EventLog& log,
                  std::ostream& progress = std::cerr);

} // namespace quorvel::rule
