#include "plain.hpp"

#include "index.hpp"

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace quorvel::rule::mining {

namespace {

size_t supportCount(const SubjectIndex& index, const IdSet& ids) {
    if (ids.empty())
        return index.subjects(); // every history holds the empty set
    if (ids.size() == 1)
        return index.holderCount(ids[0]);
    size_t n = 0;
    SubjectBits holders = index.holders(ids[0]).intersect(index.holders(ids[1]), n);
    for (size_t k = 2; k < ids.size(); ++k)
        holders = holders.intersect(index.holders(ids[k]), n);
    return n;
}

// The rules A => B over the union of A and B, as masks over its positions.
MaskedRules maskRule(const IdSet& all, const IdSet& a, const IdSet& b) {
    auto mask = [&](const IdSet& side) {
        uint64_t m = 0;
        for (ItemId id : side)
            m |= uint64_t(1) << (std::lower_bound(all.begin(), all.end(), id) - all.begin());
        return m;
    };
    MaskedRules rules;
    rules.antecedent.push_back(mask(a));
    rules.subsequent.push_back(mask(b));
    return rules;
}

} // namespace

void filterCandidates(const MiningParams& config, ItemSetSupports& ret) {
    std::set<ItemSet> below;
    for (const auto& entry : ret)
        if (entry.second < static_cast<uint64_t>(config.minCount))
            below.insert(entry.first);
    for (const ItemSet& is : below)
        ret.erase(is);
}

void oneSets(const MiningParams&, const History& seq, ItemSetSupports& ret) {
    for (const Item& item : seq.allItems()) {
        ItemSet one(item);
        auto it = ret.find(one);
        if (it == ret.end())
            ret[one] = 1;
        else
            ++it->second;
    }
}

ItemSetSupports oneSets(const MiningParams& config, const TransactionSet& txns) {
    ItemSetSupports ret;
    for (const auto& subject : txns)
        oneSets(config, subject.second, ret);
    filterCandidates(config, ret);
    return ret;
}

ItemSetSupports aprioriMerge(const MiningParams& config, const ItemSetSupports& src,
                             ItemSetSupports& all, const TransactionSet& txns, uint64_t n) {
    const SubjectIndex index(txns);
    ItemSetSupports ret;
    IdSet ids;
    for (auto i = src.begin(); i != src.end(); ++i) {
        auto j = i;
        for (++j; j != src.end(); ++j) {
            ItemSet dis = i->first.merge(j->first);
            if (dis.size() != n || ret.find(dis) != ret.end())
                continue;
            ret.add(dis, index.toIds(dis, ids) ? supportCount(index, ids) : 0);
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

void clearLastTimes(const MiningParams& config, LastTime& firstEvent, const ItemSet&,
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

void updateLastTimes(const MiningParams&, LastTime& firstEvent, const ItemSet& txn,
                     History::Time time) {
    for (const Item& item : txn)
        firstEvent[item] = time;
}

void mineRules(const MiningParams&, const LastTime& firstEvent, const ItemSet& txn,
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

void mineRules(const MiningParams& config, const LastTime& firstEvent, const ItemSet& txn,
               const RuleProposals& proposals, RuleHistogram& counts, RuleMapped& mapped) {
    for (const auto& entry : proposals)
        for (const ItemSet& subsequent : entry.second)
            mineRules(config, firstEvent, txn, entry.first, subsequent, counts, mapped);
}

void mineRules(const MiningParams& config, const History& seq, const RuleProposals& proposals,
               RuleHistogram& counts) {
    LastTime firstEvent;
    RuleMapped mapped;
    for (const auto& txn : seq) {
        clearLastTimes(config, firstEvent, txn.second, txn.first);
        mineRules(config, firstEvent, txn.second, proposals, counts, mapped);
        updateLastTimes(config, firstEvent, txn.second, txn.first);
    }
}

void mineRules(const MiningParams& config, const TransactionSet& txns,
               const RuleProposals& proposals, RuleHistogram& counts) {
    const SubjectIndex index(txns);
    IdSet a, b, all;
    for (const auto& entry : proposals) {
        // A rule with an unknown item, or an empty antecedent, is never observed.
        if (entry.first.empty() || !index.toIds(entry.first, a))
            continue;
        for (const ItemSet& subsequent : entry.second) {
            if (!index.toIds(subsequent, b))
                continue;
            all = a;
            all.insert(all.end(), b.begin(), b.end());
            std::sort(all.begin(), all.end());
            all.erase(std::unique(all.begin(), all.end()), all.end());
            if (all.size() > MAX_RULE_ITEMS)
                throw std::length_error("a rule of more than 64 items");
            const MaskedRules rule = maskRule(all, a, b);
            SubjectBits holders = index.holders(all[0]);
            size_t unused;
            for (size_t k = 1; k < all.size(); ++k)
                holders = holders.intersect(index.holders(all[k]), unused);
            uint64_t observed = 0;
            holders.forEach([&](size_t s) {
                index.observeAll(s, all.data(), all.size(), rule, config.windowSize, &observed);
            });
            if (observed)
                counts[Rule(entry.first, subsequent)] += observed;
        }
    }
}

} // namespace quorvel::rule::mining
