// Which of the counted rules are kept once they have their measures: the
// productive ones, the best K by count, and those whose p-values pass.
#include "apriori.hpp"

#include "significance.hpp"

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <vector>

namespace quorvel::rule::mining {

namespace {

// The best confidence of A' => B over the non-empty A' within `a`, each set
// met once however many rules share it.
class BestConfidence {
public:
    BestConfidence(const ItemSetSupports& supports, size_t txnCount)
        : m_supports(supports), m_txns(static_cast<unsigned int>(txnCount)) {}

    double of(const ItemSet& a, const ItemSet& b) {
        const auto key = std::make_pair(a, b);
        const auto found = m_best.find(key);
        if (found != m_best.end())
            return found->second;
        double best = confidenceOf(a, b);
        if (a.size() > 1)
            best = std::max(best, within(a, b));
        m_best.emplace(key, best);
        return best;
    }
    /// The same over the proper subsets of `a` alone.
    double within(const ItemSet& a, const ItemSet& b) {
        double best = -HUGE_VAL;
        for (const Item& drop : a) {
            ItemSet smaller;
            for (const Item& item : a)
                if (item != drop)
                    smaller.add(item);
            if (!smaller.empty())
                best = std::max(best, of(smaller, b));
        }
        return best;
    }

private:
    double confidenceOf(const ItemSet& a, const ItemSet& b) const {
        const double supportI =
            support(static_cast<unsigned int>(m_supports.at(a.merge(b))), m_txns);
        const double supportA = support(static_cast<unsigned int>(m_supports.at(a)), m_txns);
        return confidence(supportI, supportA);
    }

    const ItemSetSupports& m_supports;
    unsigned int m_txns;
    std::map<std::pair<ItemSet, ItemSet>, double> m_best;
};

} // namespace

void keepProductive(RuleSet& rules, const ItemSetSupports& supports, size_t txnCount) {
    BestConfidence best(supports, txnCount);
    for (auto it = rules.begin(); it != rules.end();) {
        const Rule& rule = it->first;
        const bool productive =
            it->second.lift > 1 &&
            (rule.antecedent().size() < 2 ||
             it->second.confidence > best.within(rule.antecedent(), rule.subsequent()));
        it = productive ? std::next(it) : rules.erase(it);
    }
}

void testRules(const MiningParams& config, RuleSet& rules, const ItemSetSupports& supports,
               size_t txnCount) {
    const unsigned tests = config.tests();
    if (!tests)
        return;
    rules.setColumns(rules.columns() | tests);
    std::vector<double> dependence, order;
    for (const auto& [rule, s] : rules) {
        if (tests & RuleSet::DEPENDENCE)
            dependence.push_back(hypergeometricUpper(txnCount, supports.at(rule.antecedent()),
                                                     supports.at(rule.subsequent()), s.icount));
        // Subjects observing both orders say nothing of which comes first.
        if (tests & RuleSet::ORDER)
            order.push_back(binomialHalfUpper(s.count - s.countBoth,
                                              s.count + s.countReverse - 2 * s.countBoth));
    }
    const std::vector<double> dependenceAdjusted = adjusted(dependence, config.adjust);
    const std::vector<double> orderAdjusted = adjusted(order, config.adjust);
    size_t r = 0;
    for (auto it = rules.begin(); it != rules.end(); ++r) {
        RuleSet::Stats& s = it->second;
        bool keep = true;
        if (tests & RuleSet::DEPENDENCE) {
            s.pDependence = dependence[r];
            s.pDependenceAdjusted = dependenceAdjusted[r];
            keep = keep && !(config.maxP >= 0 && s.pDependenceAdjusted > config.maxP);
        }
        if (tests & RuleSet::ORDER) {
            s.pOrder = order[r];
            s.pOrderAdjusted = orderAdjusted[r];
            keep = keep && !(config.maxP >= 0 && s.pOrderAdjusted > config.maxP);
        }
        it = keep ? std::next(it) : rules.erase(it);
    }
}

size_t keepBest(size_t best, RuleSet& rules, ItemSetHistogram& sets) {
    if (rules.size() < best || best == 0)
        return 0;
    std::vector<size_t> counts;
    for (const auto& entry : rules)
        counts.push_back(entry.second.count);
    std::nth_element(counts.begin(), counts.begin() + ptrdiff_t(best - 1), counts.end(),
                     std::greater<size_t>());
    const size_t least = counts[best - 1];
    for (auto it = rules.begin(); it != rules.end();)
        it = it->second.count < least ? rules.erase(it) : std::next(it);
    for (auto it = sets.begin(); it != sets.end();) {
        auto next = std::next(it);
        if (it->second < least)
            sets.erase(it);
        it = next;
    }
    return least;
}

} // namespace quorvel::rule::mining
