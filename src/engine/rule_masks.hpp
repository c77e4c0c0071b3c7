// Counting the rules of an item set in one subject from bit masks over the
// subject's transactions, with no walk through them: per item, `at` marks
// the transactions holding it and `seen` those in which it was already seen
// within the window before. Rule A => B (as MaskedRules::proposedFor makes
// them: a run of consecutive items as A, the rest as B) is observed exactly
// when some transaction lies in
//     AND over b in B (at[b] & ~seen[b])  &  AND over a in A seen[a]  &  ~AND over a in A at[a]
// and running ANDs from each run start give every rule of a set of n items
// in O(n^2) word operations per 64 transactions, far fewer in practice:
// a run whose items were never all seen together ends its longer runs.
//
// Without its last term the same test bounds the rule from above, and that
// bound can only fall as items are added to A or B: a subject that meets it
// for A => B meets it for every rule of one item fewer on either side. The
// level engine skips the rules whose smaller rules fall short (rule_bounds).
#pragma once

#include "quorvel/rule.hpp"

#include <cstddef>
#include <cstdint>

namespace quorvel::rule::mining {

/// Sets the (transactions + 63) / 64 words at `out` to the transactions in
/// which an item held at `positions` (ascending, of `count`) was seen
/// before, within `window` of the transaction's time (0: at any earlier
/// time). `times` are the subject's `transactions` times, ascending.
void seenMask(const uint32_t* positions, size_t count, const History::Time* times,
              size_t transactions, History::Time window, uint64_t* out);

/// A mask over a set's items without item d: the bits above it one lower,
/// as the set without that item numbers them.
inline uint64_t dropBit(uint64_t mask, size_t d) {
    const uint64_t low = mask & ((uint64_t(1) << d) - 1);
    return low | (d == 63 ? 0 : (mask >> (d + 1)) << d);
}

/// Sets `words` words at `out` to the transactions at `positions`.
void heldMask(const uint32_t* positions, size_t count, size_t words, uint64_t* out);

/// One word of an item set's masks: `at[k]` and `seen[k]` of its k-th item,
/// and the ANDs of fresh (at & ~seen) masks over the items before k,
/// `before[k]` (before[0] all ones), and from k on, `after[k]` (after[n]
/// all ones). Calls hit(r, observed) for each rule r of
/// MaskedRules::proposedFor(n) whose bound these transactions meet, with
/// whether they also observe it.
template <class Hit>
inline void forEachObserved(const uint64_t* at, const uint64_t* seen, const uint64_t* before,
                            const uint64_t* after, size_t n, Hit hit) {
    size_t r = 0;
    for (size_t p = 0; p < n; ++p) {
        // The whole set is no rule's antecedent.
        const size_t last = p == 0 ? n - 1 : n;
        const uint64_t left = before[p];
        if (!left)
            return; // B's first run is fresh nowhere, for this p and every later one
        uint64_t allSeen = ~uint64_t(0), allHeld = ~uint64_t(0);
        size_t j = p;
        for (; j < last; ++j, ++r) {
            allSeen &= seen[j];
            allHeld &= at[j];
            const uint64_t live = left & allSeen;
            if (!live)
                break; // longer antecedents are seen in fewer transactions
            const uint64_t bound = live & after[j + 1];
            if (bound)
                hit(r, (bound & ~allHeld) != 0);
        }
        r += last - j;
    }
}

/// Without a window an item is fresh only where it first appears, so B's
/// items must all first appear in one transaction, `at`, and A's before it:
/// `at` is the latest first appearance of the set's `n` items (by
/// position, first(k) of the k-th), B the items that make it and A the rest, which must be a run
/// of items, `from` to `to`. The one rule of MaskedRules::proposedFor(n)
/// whose bound the subject may meet, in `rule`; false when there is none.
/// It is observed when some item of A is not held at `at`.
struct WindowlessRule {
    size_t rule, from, to;
    uint32_t at;
};
template <class First> inline bool windowlessRule(First first, size_t n, WindowlessRule& out) {
    uint32_t t = 0;
    for (size_t k = 0; k < n; ++k)
        t = first(k) > t ? first(k) : t;
    uint64_t a = 0;
    for (size_t k = 0; k < n; ++k)
        a |= uint64_t(first(k) < t) << k;
    if (a == 0)
        return false; // all first held together
    const size_t p = static_cast<size_t>(__builtin_ctzll(a));
    const size_t j = 63 - static_cast<size_t>(__builtin_clzll(a));
    if ((a >> p) & ((a >> p) + 1))
        return false; // A is no run
    // n - 1 rules have A from the first item, then n - q from each later q.
    out.rule = p == 0 ? j : (n - 1) + (p - 1) * n - (p - 1) * p / 2 + (j - p);
    out.from = p;
    out.to = j;
    out.at = t;
    return true;
}

/// Adds `weight` to count[r] for every rule r of MaskedRules::proposedFor(n)
/// a subject observes, and to bound[r] for every rule whose bound it meets,
/// once each however many of its words do; `at[k]` and `seen[k]` are the
/// `words`-word masks of the set's k-th item, 2 <= n <= 64.
void addObservedRules(const uint64_t* const* at, const uint64_t* const* seen, size_t n,
                      size_t words, uint32_t weight, uint64_t* count, uint64_t* bound);

} // namespace quorvel::rule::mining
