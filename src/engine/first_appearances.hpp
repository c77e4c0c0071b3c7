// Without a window an item is fresh in a subject only in the transaction
// that first holds it (rule_masks.hpp), so a rule's test there needs only
// where each item of its set first appears and whether the items of A are
// also held where B first appears. Laid out item by item, those let the
// rules of a set be counted over its holders, set after set, with nothing
// made per subject.
#pragma once

#include "index.hpp"
#include "rule_masks.hpp"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quorvel::rule::mining {

class FirstAppearances {
public:
    /// Nothing; fits() tells whether an index's table is worth making.
    FirstAppearances() = default;
    explicit FirstAppearances(const SubjectIndex& index, unsigned threads = 1);

    /// Whether the table of `index` takes at most `bytes`.
    static bool fits(const SubjectIndex& index, uint64_t bytes) {
        return uint64_t(index.subjects()) * index.items() * CELL_BYTES <= bytes;
    }

    bool empty() const { return m_first.empty(); }

    /// Adds the weight of each subject holding the `n` items `x`, ascending,
    /// of which `forEachHolder(f)` calls f(subject), to the count and the
    /// bound of the one rule of MaskedRules::proposedFor(n) the subject may
    /// observe (rule r at `count[r]` and `bound[r]`).
    template <class ForEachHolder>
    void observe(const SubjectIndex& index, const ItemId* x, size_t n, ForEachHolder forEachHolder,
                 uint64_t* count, uint64_t* bound) const;

    /// Where item `id` first appears in subject `s` (a place among its
    /// transactions), for a subject holding it.
    uint32_t first(ItemId id, size_t s) const { return m_first[at(id, s)]; }
    /// Whether the item is held at `position` of subject `s`, where it
    /// appears first before it.
    bool heldAt(const SubjectIndex& index, ItemId id, size_t s, uint32_t position) const {
        return position < 64 ? (m_held64[at(id, s)] >> position & 1)
                             : index.holdsAt(m_entry[at(id, s)], position);
    }

private:
    // Item by item, subject by subject, so that a set's items are read as
    // a few streams along its holders.
    static constexpr uint64_t CELL_BYTES = 16;
    size_t at(ItemId id, size_t s) const { return id * m_subjects + s; }

    size_t m_subjects = 0;
    std::vector<uint32_t> m_first;  // place of the first holding transaction
    std::vector<uint64_t> m_held64; // which of the first 64 transactions hold it
    std::vector<uint32_t> m_entry;  // its transactions (SubjectIndex::holdsAt)
};

template <class ForEachHolder>
void FirstAppearances::observe(const SubjectIndex& index, const ItemId* x, size_t n,
                               ForEachHolder forEachHolder, uint64_t* count,
                               uint64_t* bound) const {
    const uint32_t* columns[MAX_RULE_ITEMS];
    for (size_t k = 0; k < n; ++k)
        columns[k] = m_first.data() + at(x[k], 0);
    forEachHolder([&](size_t s) {
        WindowlessRule rule;
        if (!windowlessRule([&](size_t k) { return columns[k][s]; }, n, rule))
            return;
        const uint32_t weight = index.weight(s);
        bound[rule.rule] += weight;
        for (size_t k = rule.from; k <= rule.to; ++k)
            if (!heldAt(index, x[k], s, rule.at)) {
                count[rule.rule] += weight;
                return;
            }
    });
}

} // namespace quorvel::rule::mining
