// With a window, the masks of every item in every subject (rule_masks.hpp):
// one word each for subjects of at most 64 transactions, laid out item by
// item, and for the few longer ones a word for every 64 transactions of
// each item they hold. The rules of a set are then counted over its
// holders, set after set, without loading each subject.
#pragma once

#include "index.hpp"
#include "rule_masks.hpp"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quorvel::rule::mining {

class WindowMasks {
public:
    /// Nothing; fits() tells whether an index's table is worth making.
    WindowMasks() = default;
    WindowMasks(const SubjectIndex& index, History::Time window, unsigned threads = 1);

    /// Whether the table of `index` takes at most `bytes`.
    static bool fits(const SubjectIndex& index, uint64_t bytes) {
        return uint64_t(index.subjects()) * index.items() * 2 * sizeof(uint64_t) <= bytes;
    }

    bool empty() const { return m_at.empty(); }

    /// For each subject holding the `n` items `x`, ascending, of which
    /// `forEachHolder(f)` calls f(subject), adds its weight to `count[r]`
    /// for every rule r of MaskedRules::proposedFor(n) it observes and to
    /// `bound[r]` for every rule whose bound it meets.
    template <class ForEachHolder>
    void observe(const SubjectIndex& index, const ItemId* x, size_t n, ForEachHolder forEachHolder,
                 uint64_t* count, uint64_t* bound) const;

    /// An item's masks in a subject holding it, `words` words each.
    struct Of {
        const uint64_t* at;
        const uint64_t* seen;
        size_t words;
    };
    Of of(const SubjectIndex& index, ItemId id, size_t s) const;

private:
    size_t at(ItemId id, size_t s) const { return id * m_subjects + s; }
    /// The same for one subject of more than 64 transactions.
    void observeLonger(const SubjectIndex& index, size_t s, const ItemId* x, size_t n,
                       uint64_t* count, uint64_t* bound) const;

    size_t m_subjects = 0;
    std::vector<uint64_t> m_at, m_seen;
    SubjectBits m_longer; // subjects of more than 64 transactions
    // Of each longer subject, in turn: its items, ascending, from
    // m_longerItems[m_longerBegin[k]], and from m_longerMasks[m_longerWords[k]]
    // each item's `at` words, then its `seen` words.
    std::vector<uint32_t> m_longerOf; // subject -> k, for longer subjects
    std::vector<size_t> m_longerBegin, m_longerWords;
    std::vector<ItemId> m_longerItems;
    std::vector<uint64_t> m_longerMasks;
};

template <class ForEachHolder>
void WindowMasks::observe(const SubjectIndex& index, const ItemId* x, size_t n,
                          ForEachHolder forEachHolder, uint64_t* count, uint64_t* bound) const {
    const uint64_t* atColumn[MAX_RULE_ITEMS];
    const uint64_t* seenColumn[MAX_RULE_ITEMS];
    for (size_t k = 0; k < n; ++k) {
        atColumn[k] = m_at.data() + at(x[k], 0);
        seenColumn[k] = m_seen.data() + at(x[k], 0);
    }
    uint64_t held[MAX_RULE_ITEMS], seen[MAX_RULE_ITEMS];
    uint64_t before[MAX_RULE_ITEMS + 1], after[MAX_RULE_ITEMS + 1];
    forEachHolder([&](size_t s) {
        if (m_longer.test(s)) {
            observeLonger(index, s, x, n, count, bound);
            return;
        }
        before[0] = after[n] = ~uint64_t(0);
        uint64_t any = 0;
        for (size_t k = 0; k < n; ++k) {
            held[k] = atColumn[k][s];
            seen[k] = seenColumn[k][s];
            before[k + 1] = before[k] & held[k] & ~seen[k];
            any |= held[k];
        }
        if ((any & (any - 1)) == 0)
            return; // all in one transaction
        for (size_t k = n; k-- > 0;)
            after[k] = after[k + 1] & held[k] & ~seen[k];
        const uint32_t weight = index.weight(s);
        forEachObserved(held, seen, before, after, n, [&](size_t r, bool met) {
            bound[r] += weight;
            count[r] += met ? weight : 0;
        });
    });
}

} // namespace quorvel::rule::mining
