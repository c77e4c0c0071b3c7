// The windowed rule test, apart from how a history is stored: the rules of
// one item set as bit masks over its items, and the walk that feeds a
// subject's transactions, in time order, through the test.
#pragma once

#include "quorvel/rule.hpp"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quorvel::rule::mining {

/// Rules over one item set of at most 64 items, as bit masks over the
/// set's positions: rule r is antecedent[r] => subsequent[r].
struct MaskedRules {
    std::vector<uint64_t> antecedent;
    std::vector<uint64_t> subsequent;
    size_t size() const { return antecedent.size(); }

    /// The rules proposed from a set of `items` items: every run of
    /// consecutive items as the antecedent, the rest as the subsequent.
    static MaskedRules proposedFor(size_t items);

    /// Tabulates, for sets of at most TABLE_ITEMS items, which rules every
    /// (held, seen) pair of item masks satisfies, so a transaction is
    /// tested against all rules with one lookup.
    void tabulate(size_t items);
    static constexpr size_t TABLE_ITEMS = 6;
    std::vector<uint64_t> table; // [held << tableBits | seen]; empty: none
    unsigned tableBits = 0;
};

static constexpr size_t MAX_RULE_ITEMS = 64;

/// The rule test of a transaction holding the items `holds` (masks over a
/// set's positions) after those `seen` within the window before it.
inline bool observes(uint64_t holds, uint64_t seen, uint64_t a, uint64_t b) {
    return (holds & b) == b && (seen & b) == 0 && (holds & a) != a && (seen & a) == a;
}

/// The items of `everSeen` last seen (`last`, by position) within `window`
/// before `now`; 0 is no window.
inline uint64_t seenWithin(const History::Time* last, uint64_t everSeen, History::Time now,
                           History::Time window) {
    if (window == 0)
        return everSeen;
    uint64_t seen = 0;
    for (uint64_t bits = everSeen; bits; bits &= bits - 1) {
        const unsigned x = static_cast<unsigned>(__builtin_ctzll(bits));
        if (static_cast<History::Time>(now - last[x]) <= window)
            seen |= uint64_t(1) << x;
    }
    return seen;
}

/// A subject observes A => B when some transaction holds all of B, none of
/// B's items was seen in an earlier transaction within the window, all of
/// A's were, and the transaction does not hold all of A. The walk takes the
/// transactions that hold any of the set's items, in time order, and adds
/// `weight` (the subjects the history stands for) to `observed[r]` the
/// first time rule r is observed; it works on up to 64 rules at a time,
/// starting at rule `first`.
class RuleWalk {
public:
    RuleWalk(const MaskedRules& rules, size_t first, History::Time window, uint64_t* observed,
             uint32_t weight = 1);

    /// One transaction at time `now` holding the items `holds` (a mask over
    /// the set's positions); false once every rule has been observed.
    bool step(uint64_t holds, History::Time now);

private:
    /// The set's items seen within the window before `now`.
    uint64_t seenBefore(History::Time now) const;

    const uint64_t* m_antecedent;
    const uint64_t* m_subsequent;
    const uint64_t* m_table; // null: test rule by rule
    unsigned m_tableBits;
    History::Time m_window;
    uint64_t* m_observed;
    uint32_t m_weight;
    uint64_t m_pending;
    History::Time m_last[MAX_RULE_ITEMS];
    uint64_t m_everSeen = 0;
};

} // namespace quorvel::rule::mining
