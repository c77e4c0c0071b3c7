// The search's building blocks written as plainly as they are defined, over
// the rule model's own types: what the tests and the plain reference miner
// check the fast engine against. The program itself runs the level engine.
#pragma once

#include "quorvel/mine.hpp"
#include "quorvel/rule.hpp"

#include <cstdint>
#include <map>
#include <set>

namespace quorvel::rule {

/// Subjects in which each rule was observed.
typedef std::map<Rule, uint64_t> RuleHistogram;

} // namespace quorvel::rule

namespace quorvel::rule::mining {

typedef ItemSetHistogram ItemSetSupports;
typedef std::map<ItemSet, std::set<ItemSet>> RuleProposals;
typedef std::map<Item, History::Time> LastTime;
typedef std::set<Rule> RuleMapped;

// Frequent item sets.
void filterCandidates(const MiningParams& config, ItemSetSupports& ret);
void oneSets(const MiningParams& config, const History& seq, ItemSetSupports& ret);
ItemSetSupports oneSets(const MiningParams& config, const TransactionSet& txns);
ItemSetSupports aprioriMerge(const MiningParams& config, const ItemSetSupports& src,
                             ItemSetSupports& all, const TransactionSet& txns, uint64_t n);

// Rule proposals and windowed counting.
void proposeRules(const ItemSet& items, RuleProposals& ret);
RuleProposals proposeRules(const ItemSetSupports& src);
uint64_t count(const RuleProposals& src);
void clearLastTimes(const MiningParams& config, LastTime& firstEvent, const ItemSet& txn,
                    History::Time time);
void updateLastTimes(const MiningParams& config, LastTime& firstEvent, const ItemSet& txn,
                     History::Time time);
void mineRules(const MiningParams& config, const LastTime& firstEvent, const ItemSet& txn,
               const ItemSet& antecedent, const ItemSet& subsequent, RuleHistogram& counts,
               RuleMapped& mapped);
void mineRules(const MiningParams& config, const LastTime& firstEvent, const ItemSet& txn,
               const RuleProposals& proposals, RuleHistogram& counts, RuleMapped& mapped);
void mineRules(const MiningParams& config, const History& seq, const RuleProposals& proposals,
               RuleHistogram& counts);
void mineRules(const MiningParams& config, const TransactionSet& txns,
               const RuleProposals& proposals, RuleHistogram& counts);

} // namespace quorvel::rule::mining
