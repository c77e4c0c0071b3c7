// The miner's search written as plainly as it is defined: every candidate
// counted by scanning every history, every transaction of every history
// tested against every proposal of the level. Slow on purpose; the fast
// engine must agree with it. The small building blocks (proposals, the
// window bookkeeping, the per-transaction test, the statistics) are the
// product's own, which the unit tests check directly.
#include "reference_miner.hpp"

#include <iostream>

namespace quorvel::reference {

using namespace quorvel::rule;
using namespace quorvel::rule::mining;

namespace {

ItemSetSupports merge(const Configuration& config, const ItemSetSupports& src, ItemSetSupports& all,
                      const TransactionSet& txns, uint64_t n) {
    ItemSetSupports ret;
    for (auto i = src.begin(); i != src.end(); ++i) {
        auto j = i;
        for (++j; j != src.end(); ++j) {
            ItemSet dis = i->first.merge(j->first);
            if (dis.size() == n)
                ret.add(dis, txns.count(dis));
        }
    }
    filterCandidates(config, ret);
    for (const auto& entry : ret)
        all[entry.first] = entry.second;
    return ret;
}

void countAll(const Configuration& config, const TransactionSet& txns,
              const RuleProposals& proposals, RuleHistogram& counts) {
    for (const auto& subject : txns)
        mineRules(config, subject.second, proposals, counts);
}

RuleHistogram levels(const Configuration& config, const TransactionSet& txns,
                     ItemSetSupports& all) {
    RuleHistogram counts;
    all = oneSets(config, txns);
    std::cerr << "\t ... calculated " << all.size() << " frequent item sets of size 1. "
              << std::endl;
    ItemSetSupports merged = merge(config, all, all, txns, 2);
    RuleProposals proposed = proposeRules(merged);
    std::cerr << "\t ... calculated " << merged.size() << " frequent item sets of size 2 with "
              << count(proposed) << " proposed rules." << std::endl;
    if (proposed.empty()) {
        std::cerr << "\t ... no rules of order 1 found." << std::endl;
        return counts;
    }
    std::cerr << "\t ... deducing rules of order 1." << std::endl;
    countAll(config, txns, proposed, counts);

    uint64_t iss = 3;
    unsigned int order = 2;
    auto levelStep = [&]() {
        merged = merge(config, merged, all, txns, iss);
        proposed = proposeRules(merged);
        std::cerr << "\t ... calculated " << merged.size() << " frequent item sets of size " << iss
                  << " with " << count(proposed) << " proposed rules." << std::endl;
        if (proposed.empty())
            return false;
        std::cerr << "\t ... deducing rules of order " << order << "." << std::endl;
        countAll(config, txns, proposed, counts);
        ++iss;
        ++order;
        return true;
    };
    if (config.maxOrder == 0) {
        std::cerr << "\t ... mining rules until there are no more frequent item sets." << std::endl;
        while (merged.size() > 2 && levelStep()) {
        }
    } else if (config.maxOrder > 1) {
        std::cerr << "\t ... rules up to order " << config.maxOrder << " will be mined."
                  << std::endl;
        while (order <= config.maxOrder && levelStep()) {
        }
    }
    return counts;
}

} // namespace

MiningResultData mine(const Configuration& config, const TransactionSet& txns) {
    MiningResultData result;
    RuleHistogram counts = levels(config, txns, result.itemSets);
    populateRuleSet(config, result.rules, result.itemSets, counts, txns.size());
    std::cerr << "\t ... have " << result.rules.size() << " rules." << std::endl;
    return result;
}

} // namespace quorvel::reference
