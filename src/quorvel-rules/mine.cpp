#include "budget.hpp"
#include "index.hpp"
#include "mine_internal.hpp"

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <string>

#include <iostream>
#include <vector>

namespace quorvel::rule {

namespace mining {

namespace {

StageTimes s_times;

// Adds the time since construction to a stage when it goes out of scope.
class StageClock {
public:
    explicit StageClock(double& stage)
        : m_stage(stage), m_start(std::chrono::steady_clock::now()) {}
    ~StageClock() {
        m_stage +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    }

private:
    double& m_stage;
    std::chrono::steady_clock::time_point m_start;
};

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
SubjectIndex::MaskedRules maskRule(const IdSet& all, const IdSet& a, const IdSet& b) {
    auto mask = [&](const IdSet& side) {
        uint64_t m = 0;
        for (ItemId id : side)
            m |= uint64_t(1) << (std::lower_bound(all.begin(), all.end(), id) - all.begin());
        return m;
    };
    SubjectIndex::MaskedRules rules;
    rules.antecedent.push_back(mask(a));
    rules.subsequent.push_back(mask(b));
    return rules;
}

} // namespace

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

StageTimes& lastStageTimes() {
    return s_times;
}

ItemSetSupports aprioriMerge(const Configuration& config, const ItemSetSupports& src,
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
            if (all.size() > SubjectIndex::MAX_RULE_ITEMS)
                throw std::length_error("a rule of more than 64 items");
            const SubjectIndex::MaskedRules rule = maskRule(all, a, b);
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

namespace {

// One level of frequent item sets: `size` ids per set, sets in item-set
// order, each with the subjects holding it as an ascending list (far smaller
// than a bitset for all but the most common sets).
struct Level {
    size_t size = 0;
    std::vector<ItemId> ids;
    std::vector<std::vector<uint32_t>> holders;
    std::vector<size_t> counts;

    size_t sets() const { return counts.size(); }
    const ItemId* set(size_t k) const { return ids.data() + k * size; }
};

void record(const SubjectIndex& index, const Level& level, ItemSetSupports& all) {
    StageClock clock(s_times.itemSets);
    for (size_t k = 0; k < level.sets(); ++k)
        all[index.toItemSet(level.set(k), level.size)] = level.counts[k];
}

Level frequentItems(const Configuration& config, const SubjectIndex& index) {
    StageClock clock(s_times.itemSets);
    Level level;
    level.size = 1;
    for (ItemId id = 0; id < index.items(); ++id) {
        size_t n = index.holderCount(id);
        if (n >= config.minCount) {
            level.ids.push_back(id);
            level.holders.push_back(index.holderList(id));
            level.counts.push_back(n);
        }
    }
    return level;
}

// Watches a level's join against the memory budget. Most candidates of a
// join usually fail, so their number alone would refuse runs that fit; when
// even that bound fits nothing is watched, otherwise what the kept sets hold
// is measured as they come, and the run stops before it passes the budget.
class LevelGuard {
public:
    LevelGuard(const Configuration& config, const Level& prev, const std::vector<size_t>& runEnd)
        : m_budget(config.memoryBudget), m_level(prev.size + 1) {
        if (m_budget == 0)
            return;
        for (size_t i = 0; i < runEnd.size(); ++i)
            m_candidates += runEnd[i] - i - 1;
        uint64_t holders = 0;
        for (const auto& list : prev.holders)
            holders += list.size();
        const uint64_t k = m_level, rules = k * (k + 1) / 2 - 1;
        // ids, holder list, count, the item-set entry, the rule counters.
        // What each kept set costs once the level is recorded and counted: its
        // item-set entry and its rule counters...
        m_later = (96 + 80 * k) + 8 * rules;
        // ...on top of its ids, holder list and count, held from the join on.
        m_perSet = 4 * k + 24 + 4 * (holders / std::max<size_t>(prev.sets(), 1)) + 8 + m_later;
        const uint64_t bound = residentBytes() + m_candidates * m_perSet;
        m_watching = bound > m_budget;
    }

    /// Called for each candidate tried; `kept` sets so far.
    void tried(size_t kept) {
        ++m_tried;
        if (!m_watching || kept < m_nextCheck)
            return;
        m_nextCheck = kept + CHECK_EVERY;
        const uint64_t now = residentBytes() + kept * m_later;
        const double share = double(kept) / double(m_tried);
        const uint64_t rest =
            static_cast<uint64_t>(share * double(m_candidates - m_tried) * double(m_perSet));
        if (now + CHECK_EVERY * m_perSet > m_budget)
            checkLevelBudget(m_budget, std::max(now + rest, m_budget + 1), m_level, m_candidates);
    }

private:
    static const size_t CHECK_EVERY = 1024;
    uint64_t m_budget;
    size_t m_level;
    uint64_t m_candidates = 0;
    uint64_t m_perSet = 0;
    uint64_t m_later = 0;
    uint64_t m_tried = 0;
    size_t m_nextCheck = CHECK_EVERY;
    bool m_watching = false;
};

// Joins sets that share all but their last item. Every frequent set of the
// next size arises this way exactly once, because all its subsets are frequent.
Level nextLevel(const Configuration& config, const SubjectIndex& index, const Level& prev) {
    StageClock clock(s_times.itemSets);
    Level next;
    next.size = prev.size + 1;
    const size_t prefix = prev.size - 1;
    // Every subset of a frequent set is frequent: a candidate with a subset
    // missing from the previous level cannot be frequent and is not counted.
    // The level's sets ascend lexicographically, so a subset is found by
    // binary search.
    auto lessSet = [&](size_t k, const ItemId* x) {
        return std::lexicographical_compare(prev.set(k), prev.set(k) + prev.size, x, x + prev.size);
    };
    auto known = [&](const ItemId* x) {
        size_t lo = 0, hi = prev.sets();
        while (lo < hi) {
            const size_t mid = lo + (hi - lo) / 2;
            if (lessSet(mid, x))
                lo = mid + 1;
            else
                hi = mid;
        }
        return lo < prev.sets() && std::equal(x, x + prev.size, prev.set(lo));
    };
    std::vector<ItemId> candidate(next.size), subset(prev.size);
    auto allSubsetsKnown = [&]() {
        // Dropping either of the last two items gives the two joined sets.
        for (size_t drop = 0; drop + 2 < next.size; ++drop) {
            std::copy(candidate.begin(), candidate.begin() + drop, subset.begin());
            std::copy(candidate.begin() + drop + 1, candidate.end(), subset.begin() + drop);
            if (!known(subset.data()))
                return false;
        }
        return true;
    };
    // Sets sharing all but their last item are neighbours; find where each
    // run of them ends.
    std::vector<size_t> runEnd(prev.sets());
    for (size_t i = prev.sets(); i-- > 0;)
        runEnd[i] = i + 1 < prev.sets() && std::equal(prev.set(i), prev.set(i) + prefix,
                                                      prev.set(i + 1))
                        ? runEnd[i + 1]
                        : i + 1;
    LevelGuard guard(config, prev, runEnd);
    SubjectBits scratch(index.subjects());
    std::vector<uint32_t> kept;
    const size_t words = (index.subjects() + 63) / 64;
    for (size_t i = 0; i < prev.sets(); ++i) {
        const ItemId* si = prev.set(i);
        const std::vector<uint32_t>& list = prev.holders[i];
        // A long list is counted against each candidate item as a bitset, a
        // short one subject by subject.
        const bool dense = list.size() > words / 2;
        bool filled = false;
        kept.resize(std::max(kept.size(), list.size()));
        for (size_t j = i + 1; j < runEnd[i]; ++j) {
            const ItemId* sj = prev.set(j);
            guard.tried(next.sets());
            std::copy(si, si + prev.size, candidate.begin());
            candidate[prev.size] = sj[prefix];
            if (!allSubsetsKnown())
                continue;
            const SubjectBits& last = index.holders(sj[prefix]);
            if (dense) {
                if (!filled) {
                    for (uint32_t s : list)
                        scratch.set(s);
                    filled = true;
                }
                if (scratch.intersectCount(last) < config.minCount)
                    continue;
            }
            // Keep the subjects of `list` that hold the last item, without a
            // branch per subject.
            const uint64_t* words = last.data();
            uint32_t* out = kept.data();
            size_t n = 0;
            for (uint32_t s : list) {
                out[n] = s;
                n += words[s / 64] >> (s % 64) & 1;
            }
            if (n < config.minCount)
                continue;
            next.ids.insert(next.ids.end(), si, si + prev.size);
            next.ids.push_back(sj[prefix]);
            next.holders.emplace_back(out, out + n);
            next.counts.push_back(n);
        }
        if (filled)
            for (uint32_t s : list)
                scratch.reset(s);
    }
    return next;
}

uint64_t proposalCount(const Level& level) {
    const uint64_t m = level.size;
    return level.sets() * (m * (m + 1) / 2 - 1);
}

// Counts the rules proposed from every set of the level: the antecedents are
// the runs of consecutive items, the subsequent is the rest.
void countLevel(const Configuration& config, const SubjectIndex& index, const Level& level,
                RuleHistogram& counts) {
    StageClock clock(s_times.rules);
    const size_t m = level.size;
    if (m > SubjectIndex::MAX_RULE_ITEMS)
        throw std::length_error("an item set of more than 64 items");
    // The proposals are the same for every set of the level, as masks.
    SubjectIndex::MaskedRules rules;
    for (size_t p = 0; p < m; ++p)
        for (size_t j = p; j < m; ++j) {
            if (p == 0 && j == m - 1)
                break;
            uint64_t antecedent = 0;
            for (size_t k = p; k <= j; ++k)
                antecedent |= uint64_t(1) << k;
            const uint64_t all = m == 64 ? ~uint64_t(0) : (uint64_t(1) << m) - 1;
            rules.antecedent.push_back(antecedent);
            rules.subsequent.push_back(all & ~antecedent);
        }
    rules.tabulate(m);
    if (config.memoryBudget)
        checkLevelBudget(config.memoryBudget,
                         residentBytes() + uint64_t(level.sets()) * rules.size() * 8, m,
                         level.sets());
    std::vector<uint64_t> observed;
    IdSet side;
    auto sideOf = [&](const ItemId* x, uint64_t mask) {
        side.clear();
        for (size_t k = 0; k < m; ++k)
            if (mask >> k & 1)
                side.push_back(x[k]);
        return index.toItemSet(side);
    };
    // Subjects are taken in blocks; within a block each subject is loaded
    // once and tested against every set of the level that it holds.
    const size_t BLOCK = 2048; // subjects
    observed.assign(level.sets() * rules.size(), 0);
    SubjectIndex::Cursor cursor(index);
    std::vector<std::vector<uint32_t>> setsOf(BLOCK);
    std::vector<size_t> next(level.sets(), 0); // each set's place in its holder list
    for (size_t first = 0; first < index.subjects(); first += BLOCK) {
        const size_t end = first + BLOCK;
        for (auto& sets : setsOf)
            sets.clear();
        for (size_t k = 0; k < level.sets(); ++k) {
            const std::vector<uint32_t>& list = level.holders[k];
            size_t& p = next[k];
            for (; p < list.size() && list[p] < end; ++p)
                setsOf[list[p] - first].push_back(static_cast<uint32_t>(k));
        }
        for (size_t i = 0; i < setsOf.size(); ++i) {
            if (setsOf[i].empty())
                continue;
            cursor.load(first + i);
            for (uint32_t k : setsOf[i])
                cursor.observe(level.set(k), m, rules, config.windowSize,
                               observed.data() + k * rules.size());
        }
    }
    for (size_t k = 0; k < level.sets(); ++k) {
        const ItemId* x = level.set(k);
        for (size_t r = 0; r < rules.size(); ++r)
            if (observed[k * rules.size() + r])
                counts[Rule(sideOf(x, rules.antecedent[r]), sideOf(x, rules.subsequent[r]))] =
                    observed[k * rules.size() + r];
    }
}

} // namespace

RuleHistogram apriori(const Configuration& config, const TransactionSet& txns,
                      ItemSetSupports& all) {
    RuleHistogram counts;
    s_times = StageTimes();
    auto start = std::chrono::steady_clock::now();
    const SubjectIndex index(txns);
    s_times.index = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    all = ItemSetSupports();
    Level merged = frequentItems(config, index);
    record(index, merged, all);
    std::cerr << "\t ... calculated " << all.size() << " frequent item sets of size 1. "
              << std::endl;
    merged = nextLevel(config, index, merged);
    record(index, merged, all);
    std::cerr << "\t ... calculated " << merged.sets() << " frequent item sets of size 2 with "
              << proposalCount(merged) << " proposed rules." << std::endl;
    if (proposalCount(merged) == 0) {
        std::cerr << "\t ... no rules of order 1 found." << std::endl;
        return counts;
    }
    std::cerr << "\t ... deducing rules of order 1." << std::endl;
    countLevel(config, index, merged, counts);

    uint64_t iss = 3;
    unsigned int order = 2;
    auto levelStep = [&]() {
        merged = nextLevel(config, index, merged);
        record(index, merged, all);
        std::cerr << "\t ... calculated " << merged.sets() << " frequent item sets of size " << iss
                  << " with " << proposalCount(merged) << " proposed rules." << std::endl;
        if (proposalCount(merged) == 0)
            return false;
        std::cerr << "\t ... deducing rules of order " << order << "." << std::endl;
        countLevel(config, index, merged, counts);
        ++iss;
        ++order;
        return true;
    };
    if (config.maxOrder == 0) {
        std::cerr << "\t ... mining rules until there are no more frequent item sets." << std::endl;
        while (merged.sets() > 2)
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
    return config.admits(stats);
}

void populateRuleSet(const Configuration& config, RuleSet& ret, const ItemSetSupports& supports,
                     const RuleHistogram& hist, size_t txnCount) {
    std::cerr << "\t ... preparing rules for reporting." << std::endl;
    StageClock clock(s_times.statistics);
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

} // namespace mining

MiningResult MiningResult::mine(const Configuration& config, const TransactionSet& txns) {
    MiningResult result;
    RuleHistogram counts = mining::apriori(config, txns, result.m_is);
    mining::populateRuleSet(config, result.m_rules, result.m_is, counts, txns.size());
    std::cerr << "\t ... have " << result.m_rules.size() << " rules." << std::endl;
    return result;
}

MiningResult mine(const Configuration& config, const TransactionSet& txns) {
    return MiningResult::mine(config, txns);
}

} // namespace quorvel::rule
