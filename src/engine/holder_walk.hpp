// The walks that follow the search: for rules already counted, each
// subject holding a rule's items is walked once more through the rule
// test, and what it observes (and when) is handed to the caller. The
// delays and the order counts are both read off this walk.
#pragma once

#include "index.hpp"
#include "plain.hpp"
#include "quorvel/mine.hpp"
#include "run.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

namespace quorvel::rule::mining {

/// A rule as masks over the positions of its set's ids; `rule` is the
/// caller's number for it.
struct MaskedRule {
    size_t rule;
    uint64_t a, b;
};
typedef std::map<IdSet, std::vector<MaskedRule>> RulesBySet;

/// The rules of `counts` grouped by their item set, numbered in the
/// histogram's order; with `reversed`, rule r is A => S as 2r and S => A
/// as 2r + 1.
RulesBySet rulesBySet(const SubjectIndex& index, const RuleHistogram& counts, bool reversed);

/// A rule a subject observes, and the time from the antecedent's latest
/// item (within the window) to the subsequent.
struct Observed {
    size_t rule;
    uint64_t delay;
};

/// Called with the worker (below params.threads), the subject and what it
/// observes among the rules of one or more sets it holds; every rule of a
/// set comes in the same call.
typedef std::function<void(unsigned worker, size_t subject, const std::vector<Observed>&)> Visit;

/// Walks every subject holding the items of some set of `sets`: subject by
/// subject when the sets hold at most 64 items in all (one gathering of a
/// subject's transactions serves every set), set by set otherwise; shown
/// as the progress stage `stage`.
void walkHolders(const MiningParams& params, const SubjectIndex& index, const RulesBySet& sets,
                 const Visit& visit, const char* stage, const Run& run);

} // namespace quorvel::rule::mining
