// For each counted rule A => S, the subjects observing S => A and those
// observing both orders, over every process: what the order's sign test
// is computed from. S => A is walked for every rule, whether or not the
// search counted it.
#pragma once

#include "index.hpp"
#include "plain.hpp"
#include "quorvel/mine.hpp"
#include "run.hpp"

#include <cstdint>
#include <vector>

namespace quorvel::rule::mining {

struct OrderCounts {
    uint64_t reverse = 0; // subjects observing S => A
    uint64_t both = 0;    // subjects observing A => S and S => A
};

/// The order counts of every rule of `counts`, in its order; a rule's
/// subjects observing it must be its count.
std::vector<OrderCounts> orderCountsOf(const MiningParams& params, const SubjectIndex& index,
                                       const RuleHistogram& counts, const Run& run);

} // namespace quorvel::rule::mining
