// The five thresholds a rule must meet to be reported or drawn, and the one
// test that applies them.
#pragma once

#include "quorvel/rule.hpp"

#include <cstddef>
#include <limits>

namespace quorvel::rule {

struct Thresholds {
    size_t minCount = 5;
    double minSupport = 0;
    double minConfidence = 0;
    double minLift = 0;
    /// Infinity for none.
    double maxConviction = std::numeric_limits<double>::infinity();

    /// All five met, inclusive; a NaN measure fails.
    bool admits(const RuleSet::Stats& s) const {
        return s.count >= minCount && s.support >= minSupport && s.confidence >= minConfidence &&
               s.lift >= minLift && s.conviction <= maxConviction;
    }
};

} // namespace quorvel::rule
