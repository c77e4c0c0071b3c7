// The miner's search written as plainly as it is defined: every candidate
// counted by scanning every history, every transaction of every history
// tested against every proposal of the level. Slow on purpose; the fast
// engine must agree with it. The level loop and the small building blocks
// (proposals, the window bookkeeping, the per-transaction test, the
// statistics) are the product's own, which the unit tests check directly.
#include "reference_miner.hpp"

#include "search.hpp"

namespace quorvel::reference {

using namespace quorvel::rule;
using namespace quorvel::rule::mining;

namespace {

// Supports by scanning every history, not through an index.
ItemSetSupports merge(const MiningParams& config, const ItemSetSupports& src, ItemSetSupports& all,
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

class PlainSearch : public LevelSearch {
public:
    PlainSearch(const MiningParams& config, const TransactionSet& txns, ItemSetSupports& all,
                RuleHistogram& counts)
        : m_config(config), m_txns(txns), m_all(all), m_counts(counts) {}

    size_t firstLevel() override {
        m_all = oneSets(m_config, m_txns);
        m_level = m_all;
        m_size = 1;
        return m_all.size();
    }
    size_t nextLevel() override {
        m_level = merge(m_config, m_level, m_all, m_txns, ++m_size);
        m_proposed = proposeRules(m_level);
        return m_level.size();
    }
    uint64_t proposals() const override { return count(m_proposed); }
    void countRules() override {
        for (const auto& subject : m_txns)
            mineRules(m_config, subject.second, m_proposed, m_counts);
    }

private:
    const MiningParams& m_config;
    const TransactionSet& m_txns;
    ItemSetSupports& m_all;
    RuleHistogram& m_counts;
    ItemSetSupports m_level;
    RuleProposals m_proposed;
    uint64_t m_size = 0;
};

} // namespace

MiningResultData mine(const MiningParams& config, const TransactionSet& txns,
                      std::ostream& progress) {
    MiningResultData result;
    RuleHistogram counts;
    PlainSearch search(config, txns, result.itemSets, counts);
    searchLevels(config, search, progress);
    populateRuleSet(config, result.rules, result.itemSets, counts, txns.size(), progress);
    progress << "\t ... have " << result.rules.size() << " rules." << std::endl;
    return result;
}

} // namespace quorvel::reference
