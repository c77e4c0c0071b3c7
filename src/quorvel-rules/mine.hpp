// Mining a transaction set: frequent item sets level by level, windowed
// rule counts per subject, and the statistics of the rules that pass.
#pragma once

#include "config.hpp"
#include "quorvel/rule.hpp"

#include <cstdint>
#include <map>

namespace quorvel::rule {

/// Subjects in which each rule was observed.
typedef std::map<Rule, uint64_t> RuleHistogram;

class MiningResult {
public:
    typedef ItemSetHistogram ItemSets;

    MiningResult() {}

    const RuleSet& rules() const { return m_rules; }
    ItemSets itemSets() const { return m_is; }

    /// Mines `txns`, writing progress to standard error.
    static MiningResult mine(const Configuration& config, const TransactionSet& txns);

private:
    RuleSet m_rules;
    ItemSets m_is;
};

MiningResult mine(const Configuration& config, const TransactionSet& txns);

} // namespace quorvel::rule
