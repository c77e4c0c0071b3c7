// How long each counted rule takes from antecedent to subsequent: for the
// rules the search left, each subject holding the rule's items is walked
// once more through the rule test, and at the transaction where it
// observes the rule the delay is read off the same last-seen times the
// window test uses. The order statistics are exact across processes:
// each is found by halving the range of times over summed counts.
#pragma once

#include "index.hpp"
#include "plain.hpp"
#include "quorvel/mine.hpp"
#include "run.hpp"

#include <cstdint>
#include <vector>

namespace quorvel::rule::mining {

struct RuleDelays {
    uint64_t min = 0, median = 0, p90 = 0, max = 0;
};

/// The delays of every rule of `counts`, in its order, over the subjects of
/// every process; a rule's observing subjects must be its count.
std::vector<RuleDelays> delaysOf(const MiningParams& params, const SubjectIndex& index,
                                 const RuleHistogram& counts, const Run& run);

/// The rank (from 1) of each order statistic among `n` values: the least,
/// the lower median, the 90th percentile by nearest rank, the greatest.
inline void delayRanks(uint64_t n, uint64_t ranks[4]) {
    ranks[0] = 1;
    ranks[1] = (n + 1) / 2;
    ranks[2] = (9 * n + 9) / 10;
    ranks[3] = n;
}

} // namespace quorvel::rule::mining
