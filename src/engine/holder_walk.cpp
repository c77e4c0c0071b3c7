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

// The rules of one subsequent within a walk's list: tested only at a
// transaction holding all of it, and never again once, without a window,
// any of its items was seen.
struct SubsequentGroup {
    uint64_t b;
    size_t from, to, left;
};

struct WalkScratch {
    std::vector<SubsequentGroup> groups;
    std::vector<unsigned char> done;
};

// The rules of `rules` (sorted by subsequent) the transactions observe, as
// RuleWalk tests them, each at the first transaction where it is observed.
void observeAll(const std::vector<SubjectIndex::TimedHolds>& txns,
                const std::vector<MaskedRule>& rules, History::Time window,
                std::vector<Observed>& out, WalkScratch& scratch) {
    out.clear();
    std::vector<SubsequentGroup>& groups = scratch.groups;
    groups.clear();
    for (size_t k = 0, end; k < rules.size(); k = end) {
        for (end = k + 1; end < rules.size() && rules[end].b == rules[k].b;)
            ++end;
        groups.push_back({rules[k].b, k, end, end - k});
    }
    scratch.done.assign(rules.size(), 0);
    History::Time last[MAX_RULE_ITEMS];
    uint64_t everSeen = 0;
    for (size_t t = 0; t < txns.size() && !groups.empty(); ++t) {
        const History::Time now = txns[t].time;
        const uint64_t holds = txns[t].holds;
        const uint64_t seen = seenWithin(last, everSeen, now, window);
        for (size_t g = 0; g < groups.size();) {
            SubsequentGroup& group = groups[g];
            const bool fresh = (seen & group.b) == 0;
            if (fresh && (holds & group.b) == group.b) {
                for (size_t k = group.from; k < group.to; ++k) {
                    const MaskedRule& m = rules[k];
                    if (!scratch.done[k] && observes(holds, seen, m.a, m.b)) {
                        out.push_back({m.rule, now - latestOf(last, m.a)});
                        scratch.done[k] = 1;
                        --group.left;
                    }
                }
            }
            // Without a window what was seen stays seen.
            if (group.left == 0 || (!fresh && window == 0)) {
                group = groups.back();
                groups.pop_back();
            } else {
                ++g;
            }
        }
        for (uint64_t bits = holds; bits; bits &= bits - 1)
            last[__builtin_ctzll(bits)] = now;
        everSeen |= holds;
    }
}

// Where each subsequent's rules start in `rules` (sorted by subsequent),
// and where the last ends.
std::vector<size_t> subsequentStarts(const std::vector<MaskedRule>& rules) {
    std::vector<size_t> starts;
    for (size_t k = 0; k < rules.size(); ++k)
        if (k == 0 || rules[k].b != rules[k - 1].b)
            starts.push_back(k);
    starts.push_back(rules.size());
    return starts;
}

// observeAll without a window, where no walk is needed: a subsequent can
// only be observed at the first transaction holding any of its items, and
// the antecedent is then whatever was seen before it. Rules whose items the
// subject lacks fail the test by themselves.
void observeUnwindowed(const std::vector<SubjectIndex::TimedHolds>& txns,
                       const std::vector<MaskedRule>& rules, const std::vector<size_t>& starts,
                       std::vector<Observed>& out) {
    out.clear();
    size_t first[MAX_RULE_ITEMS];
    uint64_t everSeen = 0;
    for (size_t t = 0; t < txns.size(); ++t) {
        for (uint64_t bits = txns[t].holds & ~everSeen; bits; bits &= bits - 1)
            first[__builtin_ctzll(bits)] = t;
        everSeen |= txns[t].holds;
    }
    for (size_t g = 0; g + 1 < starts.size(); ++g) {
        const uint64_t b = rules[starts[g]].b;
        if ((everSeen & b) != b)
            continue;
        size_t t = txns.size();
        for (uint64_t bits = b; bits; bits &= bits - 1)
            t = std::min(t, first[__builtin_ctzll(bits)]);
        const uint64_t holds = txns[t].holds;
        if ((holds & b) != b)
            continue;
        uint64_t before = 0;
        for (size_t u = 0; u < t; ++u)
            before |= txns[u].holds;
        for (size_t r = starts[g]; r < starts[g + 1]; ++r) {
            const uint64_t a = rules[r].a;
            if ((before & a) != a || (holds & a) == a)
                continue;
            // The latest earlier transaction holding an item of A.
            size_t u = t;
            while ((txns[--u].holds & a) == 0) {
            }
            out.push_back({rules[r].rule, txns[t].time - txns[u].time});
        }
    }
}

bool bySubsequent(const MaskedRule& x, const MaskedRule& y) {
    return x.b < y.b;
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
        std::vector<MaskedRule> rules = list[k]->second;
        std::stable_sort(rules.begin(), rules.end(), bySubsequent);
        const std::vector<size_t> starts = subsequentStarts(rules);
        std::vector<Observed> observed;
        WalkScratch scratch;
        for (size_t w = 0; w < words; ++w)
            for (uint64_t bits = holders[w]; bits; bits &= bits - 1) {
                const size_t s = w * 64 + static_cast<size_t>(__builtin_ctzll(bits));
                index.timedHolds(s, ids.data(), ids.size(), txns);
                if (params.windowSize == 0)
                    observeUnwindowed(txns, rules, starts, observed);
                else
                    observeAll(txns, rules, params.windowSize, observed, scratch);
                visit(worker, s, observed);
            }
        run.advance(1);
    });
}

// A rule with masks over `all`, the union of the sets' ids, and the items
// of its set.
struct WideRule {
    uint64_t items;
    MaskedRule rule;
};
// Every rule of `sets` so widened, sorted by subsequent.
std::vector<WideRule> widened(const RulesBySet& sets, const IdSet& all) {
    std::vector<WideRule> out;
    for (const auto& [ids, rules] : sets) {
        // Position k of the set is position place[k] of `all`.
        std::vector<unsigned> place;
        for (ItemId id : ids)
            place.push_back(unsigned(std::lower_bound(all.begin(), all.end(), id) - all.begin()));
        auto widen = [&](uint64_t mask) {
            uint64_t wide = 0;
            for (size_t k = 0; k < place.size(); ++k)
                wide |= (mask >> k & 1) << place[k];
            return wide;
        };
        const uint64_t items = widen(~uint64_t(0) >> (64 - ids.size()));
        for (const MaskedRule& m : rules)
            out.push_back({items, {m.rule, widen(m.a), widen(m.b)}});
    }
    std::stable_sort(out.begin(), out.end(), [](const WideRule& x, const WideRule& y) {
        return bySubsequent(x.rule, y.rule);
    });
    return out;
}

void subjectBySubject(const MiningParams& params, const SubjectIndex& index,
                      const RulesBySet& sets, const IdSet& all, const Visit& visit,
                      const char* stage, const Run& run) {
    const std::vector<WideRule> wide = widened(sets, all);
    std::vector<MaskedRule> rules;
    for (const WideRule& r : wide)
        rules.push_back(r.rule);
    // A subject not holding a subsequent skips all its rules.
    const std::vector<size_t> starts = subsequentStarts(rules);
    const size_t stretch = 256;
    const size_t chunks = (index.subjects() + stretch - 1) / stretch;
    brenlo::ProgressStage shown(run.progress(), stage, index.subjects(),
                                brenlo::Progress::SUBJECTS);
    brenlo::forEachChunk(params.threads, chunks, [&](size_t c, unsigned worker) {
        std::vector<SubjectIndex::TimedHolds> txns;
        std::vector<MaskedRule> pending;
        std::vector<Observed> observed;
        WalkScratch scratch;
        const size_t end = std::min(index.subjects(), (c + 1) * stretch);
        for (size_t s = c * stretch; s < end; ++s) {
            index.timedHolds(s, all.data(), all.size(), txns);
            if (params.windowSize == 0) {
                observeUnwindowed(txns, rules, starts, observed);
                visit(worker, s, observed);
                continue;
            }
            uint64_t held = 0;
            for (const SubjectIndex::TimedHolds& t : txns)
                held |= t.holds;
            pending.clear();
            for (size_t g = 0; g + 1 < starts.size(); ++g) {
                if ((held & rules[starts[g]].b) != rules[starts[g]].b)
                    continue;
                for (size_t k = starts[g]; k < starts[g + 1]; ++k)
                    if ((held & wide[k].items) == wide[k].items)
                        pending.push_back(wide[k].rule);
            }
            if (pending.empty())
                continue;
            // One walk for all of them: what was seen is the same for each.
            observeAll(txns, pending, params.windowSize, observed, scratch);
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
