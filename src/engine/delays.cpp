#include "delays.hpp"

#include "holder_walk.hpp"

#include "brenlo/threads.hpp"
#include "quorvel/peers.hpp"

#include <algorithm>
#include <stdexcept>

namespace quorvel::rule::mining {

namespace {

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

// Each rule's delays on this process, in no order.
std::vector<std::vector<Taken>> localDelays(const MiningParams& params, const SubjectIndex& index,
                                            const RuleHistogram& counts, const Run& run) {
    std::vector<std::vector<std::vector<Taken>>> byWorker(
        params.threads, std::vector<std::vector<Taken>>(counts.size()));
    walkHolders(
        params, index, rulesBySet(index, counts, false),
        [&](unsigned worker, size_t s, const std::vector<Observed>& observed) {
            for (const Observed& o : observed)
                byWorker[worker][o.rule].push_back(takenOf(o.delay, index.weight(s)));
        },
        "Timing the rules", run);
    std::vector<std::vector<Taken>> taken = std::move(byWorker[0]);
    for (size_t w = 1; w < byWorker.size(); ++w)
        for (size_t r = 0; r < taken.size(); ++r)
            taken[r].insert(taken[r].end(), byWorker[w][r].begin(), byWorker[w][r].end());
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
    run.together([&] { taken = localDelays(params, index, counts, run); });
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
