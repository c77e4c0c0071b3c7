// The mining unit's own operations, declared here for its tests only.
#pragma once

#include "mine.hpp"

#include <cstdint>
#include <map>
#include <set>

namespace quorvel::rule::mining {

typedef ItemSetHistogram ItemSetSupports;
typedef std::map<ItemSet, std::set<ItemSet>> RuleProposals;
typedef std::map<Item, History::Time> LastTime;
typedef std::set<Rule> RuleMapped;

// Frequent item sets.
void filterCandidates(const Configuration& config, ItemSetSupports& ret);
void oneSets(const Configuration& config, const History& seq, ItemSetSupports& ret);
ItemSetSupports oneSets(const Configuration& config, const TransactionSet& txns);
ItemSetSupports aprioriMerge(const Configuration& config, const ItemSetSupports& src,
                             ItemSetSupports& all, const TransactionSet& txns, uint64_t n);

// Rule proposals and windowed counting.
void proposeRules(const ItemSet& items, RuleProposals& ret);
RuleProposals proposeRules(const ItemSetSupports& src);
uint64_t count(const RuleProposals& src);
void clearLastTimes(const Configuration& config, LastTime& firstEvent, const ItemSet& txn,
                    History::Time time);
void updateLastTimes(const Configuration& config, LastTime& firstEvent, const ItemSet& txn,
                     History::Time time);
void mineRules(const Configuration& config, const LastTime& firstEvent, const ItemSet& txn,
               const ItemSet& antecedent, const ItemSet& subsequent, RuleHistogram& counts,
               RuleMapped& mapped);
void mineRules(const Configuration& config, const LastTime& firstEvent, const ItemSet& txn,
               const RuleProposals& proposals, RuleHistogram& counts, RuleMapped& mapped);
void mineRules(const Configuration& config, const History& seq, const RuleProposals& proposals,
               RuleHistogram& counts);
void mineRules(const Configuration& config, const TransactionSet& txns,
               const RuleProposals& proposals, RuleHistogram& counts);
RuleHistogram apriori(const Configuration& config, const TransactionSet& txns,
                      ItemSetSupports& all);

/// Seconds spent in each stage of the last mining run, for benchmarks.
struct StageTimes {
    double index = 0;
    double itemSets = 0;
    double rules = 0;
    double statistics = 0;
};
StageTimes& lastStageTimes();

// Statistics.
bool filter(const Configuration& config, const RuleSet::Stats& stats);
void populateRuleSet(const Configuration& config, RuleSet& ret, const ItemSetSupports& supports,
                     const RuleHistogram& hist, size_t txnCount);

} // namespace quorvel::rule::mining
