// Level 2 in one pass over the subjects: every pair of a subject's frequent
// items counted in a triangular table, instead of a holder list checked
// against each candidate pair.
#pragma once

#include "index.hpp"
#include "levels.hpp"
#include "run.hpp"

#include "quorvel/mine.hpp"

namespace quorvel::rule::mining {

/// The level the join makes from the frequent items `items` (every pair
/// held by at least `config.minCount`; with 0, every pair), into `out`;
/// false, leaving the join to it, when the table would pass
/// `config.pairTableBytes`.
bool pairLevel(const MiningParams& config, const SubjectIndex& index, const Level& items,
               Level& out, const Run& run);

} // namespace quorvel::rule::mining
