// A run's constraints on its rules as the counting tests them, by item id.
// Which items a subsequent may hold and which no rule may hold are both
// kept by every smaller rule of a rule they admit (one item fewer on
// either side), so the counting may drop the rules they refuse without
// changing the bounds of those they admit. That an antecedent hold an
// item is not: it is tested on the rules found.
#pragma once

#include "index.hpp"
#include "levels.hpp"
#include "quorvel/mine.hpp"
#include "run.hpp"

#include <cstdint>
#include <iosfwd>
#include <vector>

namespace quorvel::rule::mining {

class RuleFilter {
public:
    /// Admits every rule.
    RuleFilter() = default;
    /// The constraints over the frequent items `items`; each name that is
    /// not among them is warned of on `messages`.
    RuleFilter(const RuleConstraints& constraints, const SubjectIndex& index, const Level& items,
               std::ostream& messages);

    /// Whether it refuses some rule the counting would count.
    bool active() const { return m_active; }
    /// Whether every kept rule's set must be joined by one of the subjects
    /// sets of `needs()` (the holders of the antecedent's items and of a
    /// subsequent item); a set whose union with none of them is frequent
    /// leads to no kept rule, and neither do its supersets.
    bool prunes() const { return !m_needs.empty(); }
    const std::vector<SubjectBits>& needs() const { return m_needs; }
    bool excluded(ItemId id) const { return id < m_excluded.size() && m_excluded[id]; }
    /// Whether the rule of the set `x` (`n` ids) whose subsequent is the
    /// items at the positions `b` may be kept.
    bool mayKeep(const ItemId* x, size_t n, uint64_t b) const {
        if (!m_active)
            return true;
        for (size_t k = 0; k < n; ++k) {
            if (excluded(x[k]))
                return false;
            if (m_limited && (b >> k & 1) && !(x[k] < m_subsequent.size() && m_subsequent[x[k]]))
                return false;
        }
        return true;
    }

private:
    bool m_active = false;
    bool m_limited = false;         // subsequents are limited to m_subsequent
    std::vector<bool> m_subsequent; // by id
    std::vector<bool> m_excluded;   // by id
    std::vector<SubjectBits> m_needs;
};

/// Keeps the sets of `level` that a kept rule may still need, by the
/// counts summed over every process; no set when no item a subsequent
/// may hold is frequent.
void keepNeeded(const MiningParams& config, const SubjectIndex& index, const RuleFilter& filter,
                const Run& run, Level& level);

} // namespace quorvel::rule::mining
