#include "holder_walk.hpp"

#include "observe.hpp"

#include "brenlo/progress.hpp"
#include "brenlo/threads.hpp"

#include <algorithm>
#include <stdexcept>

namespace quorvel::rule::mining {

namespace {

History::Time latestOf(const History::Time* last, uint64_t items) {
    History::Time latest = 0;
    for (uint64_t bits = items; bits; bits &= bits - 1)
        latest = std::max(latest, last[__builtin_ctzll(bits)]);
    return latest;
}

// The rules of `pending` the transactions observe, as RuleWalk tests them,
// each at the first transaction where it is observed.
void observeAll(const std::vector<SubjectIndex::TimedHolds>& txns, std::vector<MaskedRule>& pending,
                History::Time window, std::vector<Observed>& out) {
    out.clear();
    History::Time last[MAX_RULE_ITEMS];
    uint64_t everSeen = 0;
    for (size_t t = 0; t < txns.size() && !pending.empty(); ++t) {
        const History::Time now = txns[t].time;
        const uint64_t holds = txns[t].holds;
        const uint64_t seen = seenWithin(last, everSeen, now, window);
        for (size_t k = 0; k < pending.size();) {
            const MaskedRule& m = pending[k];
            if (observes(holds, seen, m.a, m.b)) {
                out.push_back({m.rule, now - latestOf(last, m.a)});
                pending[k] = pending.back();
                pending.pop_back();
            } else {
                ++k;
            }
        }
        for (uint64_t bits = holds; bits; bits &= bits - 1)
            last[__builtin_ctzll(bits)] = now;
        everSeen |= holds;
    }
}

void setBySet(const MiningParams& params, const SubjectIndex& index, const RulesBySet& sets,
              const Visit& visit, const char* stage, const Run& run) {
    brenlo::ProgressStage shown(run.progress(), stage, sets.size(), brenlo::Progress::SETS);
    std::vector<const RulesBySet::value_type*> list;
    for (const auto& entry : sets)
        list.push_back(&entry);
    const size_t words = (index.subjects() + 63) / 64;
    brenlo::forEachChunk(params.threads, list.size(), [&](size_t k, unsigned worker) {
        const IdSet& ids = list[k]->first;
        std::vector<uint64_t> holders(index.holders(ids[0]).data(),
                                      index.holders(ids[0]).data() + words);
        for (size_t i = 1; i < ids.size(); ++i)
            andInto(holders.data(), index.holders(ids[i]).data(), holders.data(), words);
        std::vector<SubjectIndex::TimedHolds> txns;
        std::vector<MaskedRule> pending;
        std::vector<Observed> observed;
        for (size_t w = 0; w < words; ++w)
            for (uint64_t bits = holders[w]; bits; bits &= bits - 1) {
                const size_t s = w * 64 + static_cast<size_t>(__builtin_ctzll(bits));
                index.timedHolds(s, ids.data(), ids.size(), txns);
                pending = list[k]->second;
                observeAll(txns, pending, params.windowSize, observed);
                visit(worker, s, observed);
            }
        run.advance(1);
    });
}

// The masks of `sets` widened to positions in `all`, the union of their ids.
struct Group {
    uint64_t items;
    std::vector<MaskedRule> rules;
};
std::vector<Group> groupsOver(const RulesBySet& sets, const IdSet& all) {
    std::vector<Group> groups;
    for (const auto& [ids, rules] : sets) {
        // Position k of the set is position place[k] of `all`.
        std::vector<unsigned> place;
        for (ItemId id : ids)
            place.push_back(unsigned(std::lower_bound(all.begin(), all.end(), id) - all.begin()));
        auto widen = [&](uint64_t mask) {
            uint64_t out = 0;
            for (size_t k = 0; k < place.size(); ++k)
                out |= (mask >> k & 1) << place[k];
            return out;
        };
        Group g{widen(~uint64_t(0) >> (64 - ids.size())), {}};
        for (const MaskedRule& m : rules)
            g.rules.push_back({m.rule, widen(m.a), widen(m.b)});
        groups.push_back(std::move(g));
    }
    return groups;
}

void subjectBySubject(const MiningParams& params, const SubjectIndex& index,
                      const RulesBySet& sets, const IdSet& all, const Visit& visit,
                      const char* stage, const Run& run) {
    const std::vector<Group> groups = groupsOver(sets, all);
    const size_t stretch = 256;
    const size_t chunks = (index.subjects() + stretch - 1) / stretch;
    brenlo::ProgressStage shown(run.progress(), stage, index.subjects(),
                                brenlo::Progress::SUBJECTS);
    brenlo::forEachChunk(params.threads, chunks, [&](size_t c, unsigned worker) {
        std::vector<SubjectIndex::TimedHolds> txns;
        std::vector<MaskedRule> pending;
        std::vector<Observed> observed;
        const size_t end = std::min(index.subjects(), (c + 1) * stretch);
        for (size_t s = c * stretch; s < end; ++s) {
            index.timedHolds(s, all.data(), all.size(), txns);
            uint64_t held = 0;
            for (const SubjectIndex::TimedHolds& t : txns)
                held |= t.holds;
            pending.clear();
            for (const Group& g : groups)
                if ((held & g.items) == g.items)
                    pending.insert(pending.end(), g.rules.begin(), g.rules.end());
            if (pending.empty())
                continue;
            // One walk for all of them: what was seen is the same for each.
            observeAll(txns, pending, params.windowSize, observed);
            visit(worker, s, observed);
        }
        run.advance(end - c * stretch);
    });
}

} // namespace

RulesBySet rulesBySet(const SubjectIndex& index, const RuleHistogram& counts, bool reversed) {
    RulesBySet sets;
    size_t r = 0;
    for (const auto& entry : counts) {
        IdSet a, b, ids;
        if (!index.toIds(entry.first.antecedent(), a) || !index.toIds(entry.first.subsequent(), b))
            throw std::logic_error("a counted rule holds an item the index lacks");
        std::merge(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(ids));
        uint64_t maskA = 0, maskB = 0;
        for (size_t k = 0; k < ids.size(); ++k) {
            const bool inA = std::binary_search(a.begin(), a.end(), ids[k]);
            (inA ? maskA : maskB) |= uint64_t(1) << k;
        }
        std::vector<MaskedRule>& rules = sets[ids];
        if (reversed) {
            rules.push_back({2 * r, maskA, maskB});
            rules.push_back({2 * r + 1, maskB, maskA});
        } else {
            rules.push_back({r, maskA, maskB});
        }
        ++r;
    }
    return sets;
}

void walkHolders(const MiningParams& params, const SubjectIndex& index, const RulesBySet& sets,
                 const Visit& visit, const char* stage, const Run& run) {
    IdSet all;
    for (const auto& entry : sets)
        all.insert(all.end(), entry.first.begin(), entry.first.end());
    std::sort(all.begin(), all.end());
    all.erase(std::unique(all.begin(), all.end()), all.end());
    if (all.size() <= MAX_RULE_ITEMS)
        subjectBySubject(params, index, sets, all, visit, stage, run);
    else
        setBySet(params, index, sets, visit, stage, run);
}

} // namespace quorvel::rule::mining
