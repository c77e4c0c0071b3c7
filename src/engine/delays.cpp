#include "delays.hpp"

#include "brenlo/threads.hpp"
#include "quorvel/peers.hpp"

#include <algorithm>
#include <map>
#include <stdexcept>

namespace quorvel::rule::mining {

namespace {

// One rule as masks over the positions of its set's ids.
struct MaskedRule {
    size_t rule; // its place in the histogram
    uint64_t a, b;
};

// A delay and the subjects (a merged history's weight) that took it, in
// one word so that sorting them sorts plain numbers.
typedef uint64_t Taken;
Taken takenOf(uint64_t delay, uint32_t weight) {
    return delay << 32 | weight;
}
uint64_t delayOf(Taken t) {
    return t >> 32;
}
uint32_t weightOf(Taken t) {
    return static_cast<uint32_t>(t);
}

History::Time latestOf(const History::Time* last, uint64_t items) {
    History::Time latest = 0;
    for (uint64_t bits = items; bits; bits &= bits - 1)
        latest = std::max(latest, last[__builtin_ctzll(bits)]);
    return latest;
}

// The delay at which the subject observes the rule, walking its
// transactions as RuleWalk does; false when it does not observe it.
bool delayIn(const std::vector<SubjectIndex::TimedHolds>& txns, uint64_t a, uint64_t b,
             History::Time window, uint64_t& delay) {
    History::Time last[MAX_RULE_ITEMS];
    uint64_t everSeen = 0;
    for (const SubjectIndex::TimedHolds& t : txns) {
        if (observes(t.holds, seenWithin(last, everSeen, t.time, window), a, b)) {
            delay = t.time - latestOf(last, a);
            return true;
        }
        for (uint64_t bits = t.holds; bits; bits &= bits - 1)
            last[__builtin_ctzll(bits)] = t.time;
        everSeen |= t.holds;
    }
    return false;
}

// The rules of the histogram grouped by their item set.
std::map<IdSet, std::vector<MaskedRule>> bySet(const SubjectIndex& index,
                                               const RuleHistogram& counts) {
    std::map<IdSet, std::vector<MaskedRule>> sets;
    size_t r = 0;
    for (const auto& entry : counts) {
        IdSet a, b, ids;
        if (!index.toIds(entry.first.antecedent(), a) || !index.toIds(entry.first.subsequent(), b))
            throw std::logic_error("a counted rule holds an item the index lacks");
        std::merge(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(ids));
        MaskedRule m{r++, 0, 0};
        for (size_t k = 0; k < ids.size(); ++k) {
            const bool inA = std::binary_search(a.begin(), a.end(), ids[k]);
            (inA ? m.a : m.b) |= uint64_t(1) << k;
        }
        sets[ids].push_back(m);
    }
    return sets;
}

typedef std::map<IdSet, std::vector<MaskedRule>> RulesBySet;

// Set by set: each holder's transactions over the set's items, walked for
// each of the set's rules.
void setBySet(const MiningParams& params, const SubjectIndex& index, const RulesBySet& sets,
              std::vector<std::vector<Taken>>& taken, const Run& run) {
    std::vector<const RulesBySet::value_type*> list;
    for (const auto& entry : sets)
        list.push_back(&entry);
    const size_t words = (index.subjects() + 63) / 64;
    brenlo::forEachChunk(params.threads, list.size(), [&](size_t k, unsigned) {
        const IdSet& ids = list[k]->first;
        std::vector<uint64_t> holders(index.holders(ids[0]).data(),
                                      index.holders(ids[0]).data() + words);
        for (size_t i = 1; i < ids.size(); ++i)
            andInto(holders.data(), index.holders(ids[i]).data(), holders.data(), words);
        std::vector<SubjectIndex::TimedHolds> txns;
        for (size_t w = 0; w < words; ++w)
            for (uint64_t bits = holders[w]; bits; bits &= bits - 1) {
                const size_t s = w * 64 + static_cast<size_t>(__builtin_ctzll(bits));
                index.timedHolds(s, ids.data(), ids.size(), txns);
                for (const MaskedRule& m : list[k]->second) {
                    uint64_t delay = 0;
                    if (delayIn(txns, m.a, m.b, params.windowSize, delay))
                        taken[m.rule].push_back(takenOf(delay, index.weight(s)));
                }
            }
        run.advance(1);
    });
}

// Subject by subject, when the rules hold at most 64 items in all: one
// gathering of a subject's transactions serves every set it holds, the
// rules' masks taken over all the rules' items.
void subjectBySubject(const MiningParams& params, const SubjectIndex& index, const RulesBySet& sets,
                      const IdSet& all, std::vector<std::vector<Taken>>& taken, const Run& run) {
    struct Group {
        uint64_t items;
        std::vector<MaskedRule> rules;
    };
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
    const size_t stretch = 256;
    const size_t chunks = (index.subjects() + stretch - 1) / stretch;
    std::vector<std::vector<std::vector<Taken>>> parts(chunks);
    brenlo::forEachChunk(params.threads, chunks, [&](size_t c, unsigned) {
        std::vector<std::vector<Taken>> found(taken.size());
        std::vector<SubjectIndex::TimedHolds> txns;
        std::vector<MaskedRule> pending;
        for (size_t s = c * stretch; s < std::min(index.subjects(), (c + 1) * stretch); ++s) {
            index.timedHolds(s, all.data(), all.size(), txns);
            uint64_t held = 0;
            for (const SubjectIndex::TimedHolds& t : txns)
                held |= t.holds;
            pending.clear();
            for (const Group& g : groups)
                if ((held & g.items) == g.items)
                    pending.insert(pending.end(), g.rules.begin(), g.rules.end());
            // One walk for all of them: what was seen is the same for each.
            History::Time last[MAX_RULE_ITEMS];
            uint64_t everSeen = 0;
            for (size_t t = 0; t < txns.size() && !pending.empty(); ++t) {
                const History::Time now = txns[t].time;
                const uint64_t holds = txns[t].holds;
                const uint64_t seen = seenWithin(last, everSeen, now, params.windowSize);
                for (size_t k = 0; k < pending.size();) {
                    const MaskedRule& m = pending[k];
                    if (observes(holds, seen, m.a, m.b)) {
                        found[m.rule].push_back(
                            takenOf(now - latestOf(last, m.a), index.weight(s)));
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
        parts[c] = std::move(found);
        run.advance(0);
    });
    for (auto& part : parts)
        for (size_t r = 0; r < part.size(); ++r)
            taken[r].insert(taken[r].end(), part[r].begin(), part[r].end());
}

// Each rule's delays on this process, ascending.
std::vector<std::vector<Taken>> localDelays(const MiningParams& params, const SubjectIndex& index,
                                            const RuleHistogram& counts, const Run& run) {
    const RulesBySet sets = bySet(index, counts);
    IdSet all;
    for (const auto& entry : sets)
        all.insert(all.end(), entry.first.begin(), entry.first.end());
    std::sort(all.begin(), all.end());
    all.erase(std::unique(all.begin(), all.end()), all.end());
    std::vector<std::vector<Taken>> taken(counts.size());
    if (all.size() <= MAX_RULE_ITEMS)
        subjectBySubject(params, index, sets, all, taken, run);
    else
        setBySet(params, index, sets, taken, run);
    return taken;
}

// A rule's delays, ascending, with the weight up to each.
struct Timed {
    std::vector<uint64_t> delay, upTo;

    explicit Timed(const std::vector<Taken>& taken) {
        uint64_t n = 0;
        for (const Taken t : taken) {
            delay.push_back(delayOf(t));
            upTo.push_back(n += weightOf(t));
        }
    }
    uint64_t total() const { return upTo.empty() ? 0 : upTo.back(); }
    /// The weight of the delays of at most `v`.
    uint64_t atMost(uint64_t v) const {
        const size_t k = std::upper_bound(delay.begin(), delay.end(), v) - delay.begin();
        return k ? upTo[k - 1] : 0;
    }
    /// The delay of the given rank (from 1).
    uint64_t ofRank(uint64_t rank) const {
        return delay[std::lower_bound(upTo.begin(), upTo.end(), rank) - upTo.begin()];
    }
};

// The delays of the four ranks (ascending) among one rule's, which this
// process holds all of. Where every subject stands for itself, the ranks
// are selected without sorting.
void ranksOf(std::vector<Taken>& taken, const uint64_t* ranks, uint64_t* at) {
    if (std::all_of(taken.begin(), taken.end(), [](Taken t) { return weightOf(t) == 1; })) {
        const auto [least, most] = std::minmax_element(taken.begin(), taken.end());
        at[0] = delayOf(*least);
        at[3] = delayOf(*most);
        auto median = taken.begin() + static_cast<ptrdiff_t>(ranks[1] - 1);
        std::nth_element(taken.begin(), median, taken.end());
        at[1] = delayOf(*median);
        auto p90 = taken.begin() + static_cast<ptrdiff_t>(ranks[2] - 1);
        std::nth_element(median, p90, taken.end());
        at[2] = delayOf(*p90);
        return;
    }
    std::sort(taken.begin(), taken.end());
    const Timed timed(taken);
    for (int q = 0; q < 4; ++q)
        at[q] = timed.ofRank(ranks[q]);
}

// The delay of each rank, for every rule, across processes: the least v
// at which the delays of at most v reach the rank, found for all at once
// by halving [lo, hi].
std::vector<uint64_t> acrossProcesses(const std::vector<Timed>& timed,
                                      const std::vector<uint64_t>& ranks, const Run& run) {
    const size_t n = ranks.size();
    std::vector<uint64_t> lo(n, 0), hi(n, ~History::Time(0)), below(n);
    for (bool open = n > 0; open;) {
        for (size_t q = 0; q < n; ++q)
            below[q] = lo[q] < hi[q] ? timed[q / 4].atMost(lo[q] + (hi[q] - lo[q]) / 2) : 0;
        run.peers().sum(below);
        open = false;
        for (size_t q = 0; q < n; ++q) {
            if (lo[q] == hi[q])
                continue;
            const uint64_t mid = lo[q] + (hi[q] - lo[q]) / 2;
            if (below[q] >= ranks[q])
                hi[q] = mid;
            else
                lo[q] = mid + 1;
            open = open || lo[q] < hi[q];
        }
    }
    return lo;
}

} // namespace

std::vector<RuleDelays> delaysOf(const MiningParams& params, const SubjectIndex& index,
                                 const RuleHistogram& counts, const Run& run) {
    std::vector<std::vector<Taken>> taken;
    run.together([&] {
        brenlo::ProgressStage stage(run.progress(), "Timing the rules", counts.size(),
                                    brenlo::Progress::SETS);
        taken = localDelays(params, index, counts, run);
    });
    const size_t rules = counts.size();
    std::vector<uint64_t> n(rules), ranks(4 * rules);
    for (size_t r = 0; r < rules; ++r)
        for (const Taken t : taken[r])
            n[r] += weightOf(t);
    run.peers().sum(n);
    size_t r = 0;
    for (const auto& entry : counts) {
        if (n[r] != entry.second)
            throw std::logic_error("the subjects timing a rule are not its count");
        delayRanks(n[r], &ranks[4 * r]);
        ++r;
    }
    std::vector<uint64_t> at(4 * rules);
    if (run.peers().alone()) {
        brenlo::forEachChunk(params.threads, rules, [&](size_t k, unsigned) {
            ranksOf(taken[k], &ranks[4 * k], &at[4 * k]);
        });
    } else {
        std::vector<Timed> timed;
        for (std::vector<Taken>& t : taken) {
            std::sort(t.begin(), t.end());
            timed.emplace_back(t);
        }
        at = acrossProcesses(timed, ranks, run);
    }
    std::vector<RuleDelays> out(rules);
    for (size_t k = 0; k < rules; ++k)
        out[k] = {at[4 * k], at[4 * k + 1], at[4 * k + 2], at[4 * k + 3]};
    return out;
}

} // namespace quorvel::rule::mining
