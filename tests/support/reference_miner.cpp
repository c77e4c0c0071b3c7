// The miner's algorithms written as plainly as they are defined: every
// candidate counted by scanning every history, every transaction tested
// against every proposal. Slow on purpose; the product must agree with it.
#include "reference_miner.hpp"

#include <iostream>
#include <vector>

namespace quorvel::reference {

using namespace quorvel::rule;
using quorvel::rule::mining::ItemSetSupports;
using quorvel::rule::mining::RuleProposals;
using quorvel::rule::mining::LastTime;
using quorvel::rule::mining::RuleMapped;

namespace {

void filterCandidates(const Configuration& config, ItemSetSupports& ret) {
    std::set<ItemSet> below;
    for (const auto& entry : ret)
        if (entry.second < static_cast<uint64_t>(config.minCount))
            below.insert(entry.first);
    for (const ItemSet& is : below)
        ret.erase(is);
}

void oneSets(const Configuration&, const History& seq, ItemSetSupports& ret) {
    for (const Item& item : seq.allItems()) {
        ItemSet one(item);
        auto it = ret.find(one);
        if (it == ret.end())
            ret[one] = 1;
        else
            ++it->second;
    }
}

ItemSetSupports oneSets(const Configuration& config, const TransactionSet& txns) {
    ItemSetSupports ret;
    for (const auto& subject : txns)
        oneSets(config, subject.second, ret);
    filterCandidates(config, ret);
    return ret;
}

ItemSetSupports aprioriMerge(const Configuration& config, const ItemSetSupports& src,
                             ItemSetSupports& all, const TransactionSet& txns, uint64_t n) {
    ItemSetSupports ret;
    for (auto i = src.begin(); i != src.end(); ++i) {
        auto j = i;
        for (++j; j != src.end(); ++j) {
            ItemSet dis = i->first.merge(j->first);
            if (dis.size() != n)
                continue;
            ret.add(dis, txns.count(dis));
        }
    }
    filterCandidates(config, ret);
    for (const auto& entry : ret)
        all[entry.first] = entry.second;
    return ret;
}

void proposeRules(const ItemSet& items, RuleProposals& ret) {
    std::vector<Item> x(items.begin(), items.end());
    const size_t m = x.size();
    ItemSet prev;
    for (size_t p = 0; p < m; ++p) {
        ItemSet antecedent;
        for (size_t j = p; j < m; ++j) {
            ItemSet subsequent = prev;
            for (size_t k = j + 1; k < m; ++k)
                subsequent.add(x[k]);
            if (subsequent.size() == 0)
                break;
            antecedent.add(x[j]);
            ret[antecedent].insert(subsequent);
        }
        prev.add(x[p]);
    }
}

RuleProposals proposeRules(const ItemSetSupports& src) {
    RuleProposals ret;
    for (const auto& entry : src)
        proposeRules(entry.first, ret);
    return ret;
}

uint64_t count(const RuleProposals& src) {
    uint64_t n = 0;
    for (const auto& entry : src)
        n += entry.second.size();
    return n;
}

void clearLastTimes(const Configuration& config, LastTime& firstEvent, const ItemSet&,
                    History::Time time) {
    if (config.windowSize == 0)
        return;
    for (auto it = firstEvent.begin(); it != firstEvent.end();) {
        if (static_cast<History::Time>(time - it->second) > config.windowSize)
            it = firstEvent.erase(it);
        else
            ++it;
    }
}

void updateLastTimes(const Configuration&, LastTime& firstEvent, const ItemSet& txn,
                     History::Time time) {
    for (const Item& item : txn)
        firstEvent[item] = time;
}

void mineRules(const Configuration&, const LastTime& firstEvent, const ItemSet& txn,
               const ItemSet& antecedent, const ItemSet& subsequent, RuleHistogram& counts,
               RuleMapped& mapped) {
    if (!txn.contains(subsequent))
        return;
    Rule rule(antecedent, subsequent);
    if (mapped.count(rule))
        return;
    if (txn.contains(antecedent))
        return;
    for (const Item& a : antecedent)
        if (!firstEvent.count(a))
            return;
    for (const Item& b : subsequent)
        if (firstEvent.count(b))
            return;
    ++counts[rule];
    mapped.insert(rule);
}

void mineRules(const Configuration& config, const LastTime& firstEvent, const ItemSet& txn,
               const RuleProposals& proposals, RuleHistogram& counts, RuleMapped& mapped) {
    for (const auto& entry : proposals)
        for (const ItemSet& subsequent : entry.second)
            mineRules(config, firstEvent, txn, entry.first, subsequent, counts, mapped);
}

void mineRules(const Configuration& config, const History& seq, const RuleProposals& proposals,
               RuleHistogram& counts) {
    LastTime firstEvent;
    RuleMapped mapped;
    for (const auto& txn : seq) {
        clearLastTimes(config, firstEvent, txn.second, txn.first);
        mineRules(config, firstEvent, txn.second, proposals, counts, mapped);
        updateLastTimes(config, firstEvent, txn.second, txn.first);
    }
}

void mineRules(const Configuration& config, const TransactionSet& txns,
               const RuleProposals& proposals, RuleHistogram& counts) {
    for (const auto& subject : txns)
        mineRules(config, subject.second, proposals, counts);
}

RuleHistogram apriori(const Configuration& config, const TransactionSet& txns,
                      ItemSetSupports& all) {
    RuleHistogram counts;
    all = oneSets(config, txns);
    std::cerr << "\t ... calculated " << all.size() << " frequent item sets of size 1. "
              << std::endl;
    ItemSetSupports merged = aprioriMerge(config, all, all, txns, 2);
    RuleProposals proposed = proposeRules(merged);
    std::cerr << "\t ... calculated " << merged.size() << " frequent item sets of size 2 with "
              << count(proposed) << " proposed rules." << std::endl;
    if (proposed.empty()) {
        std::cerr << "\t ... no rules of order 1 found." << std::endl;
        return counts;
    }
    std::cerr << "\t ... deducing rules of order 1." << std::endl;
    mineRules(config, txns, proposed, counts);

    uint64_t iss = 3;
    unsigned int order = 2;
    auto levelStep = [&]() {
        merged = aprioriMerge(config, merged, all, txns, iss);
        proposed = proposeRules(merged);
        std::cerr << "\t ... calculated " << merged.size() << " frequent item sets of size "
                  << iss << " with " << count(proposed) << " proposed rules." << std::endl;
        if (proposed.empty())
            return false;
        std::cerr << "\t ... deducing rules of order " << order << "." << std::endl;
        mineRules(config, txns, proposed, counts);
        ++iss;
        ++order;
        return true;
    };
    if (config.maxOrder == 0) {
        std::cerr << "\t ... mining rules until there are no more frequent item sets."
                  << std::endl;
        while (merged.size() > 2)
            if (!levelStep())
                break;
    } else if (config.maxOrder == 1) {
        return counts;
    } else {
        std::cerr << "\t ... rules up to order " << config.maxOrder << " will be mined."
                  << std::endl;
        while (order <= config.maxOrder)
            if (!levelStep())
                break;
    }
    return counts;
}

bool filter(const Configuration& config, const RuleSet::Stats& stats) {
    return stats.count >= static_cast<uint64_t>(config.minCount) &&
           stats.support >= config.minSupport && stats.confidence >= config.minConfidence &&
           stats.lift >= config.minLift && stats.conviction <= config.maxConviction;
}

void populateRuleSet(const Configuration& config, RuleSet& ret, const ItemSetSupports& supports,
                     const RuleHistogram& hist, size_t txnCount) {
    std::cerr << "\t ... preparing rules for reporting." << std::endl;
    const unsigned int t = static_cast<unsigned int>(txnCount);
    for (const auto& entry : hist) {
        const Rule& rule = entry.first;
        const uint64_t countR = entry.second;
        const uint64_t countI = supports.at(rule.items());
        const uint64_t countA = supports.at(rule.antecedent());
        const uint64_t countS = supports.at(rule.subsequent());
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
        if (filter(config, stats))
            ret[rule] = stats;
    }
}

} // namespace

MiningResultData mine(const Configuration& config, const TransactionSet& txns) {
    MiningResultData result;
    RuleHistogram counts = apriori(config, txns, result.itemSets);
    populateRuleSet(config, result.rules, result.itemSets, counts, txns.size());
    std::cerr << "\t ... have " << result.rules.size() << " rules." << std::endl;
    return result;
}

} // namespace quorvel::reference
