#include "rule_masks.hpp"

#include "observe.hpp"

#include <algorithm>
#include <cstring>

namespace quorvel::rule::mining {

namespace {

// Sets the bits from `from` up to, not including, `to`.
void setRange(uint64_t* words, size_t from, size_t to) {
    while (from < to) {
        const size_t w = from / 64, bit = from % 64;
        const size_t take = std::min<size_t>(64 - bit, to - from);
        words[w] |= (take == 64 ? ~uint64_t(0) : ((uint64_t(1) << take) - 1)) << bit;
        from += take;
    }
}

} // namespace

void heldMask(const uint32_t* positions, size_t count, size_t words, uint64_t* out) {
    std::memset(out, 0, words * sizeof(uint64_t));
    for (size_t k = 0; k < count; ++k)
        out[positions[k] / 64] |= uint64_t(1) << (positions[k] % 64);
}

void seenMask(const uint32_t* positions, size_t count, const History::Time* times,
              size_t transactions, History::Time window, uint64_t* out) {
    std::memset(out, 0, (transactions + 63) / 64 * sizeof(uint64_t));
    if (count == 0)
        return;
    if (window == 0) {
        setRange(out, positions[0] + size_t(1), transactions);
        return;
    }
    // Each holding transaction covers the later ones within the window, up
    // to the next holding one, which covers at least as far.
    for (size_t k = 0; k < count; ++k) {
        const size_t p = positions[k];
        const size_t stop = k + 1 < count ? positions[k + 1] + size_t(1) : transactions;
        const uint64_t reach = uint64_t(times[p]) + window;
        size_t end = p + 1;
        while (end < stop && uint64_t(times[end]) <= reach)
            ++end;
        setRange(out, p + 1, end);
    }
}

void addObservedRules(const uint64_t* const* at, const uint64_t* const* seen, size_t n,
                      size_t words, uint32_t weight, uint64_t* count, uint64_t* bound) {
    // A bit for each rule first, so that a rule met in several words is
    // counted once.
    constexpr size_t MAX_WORDS = (MAX_RULE_ITEMS * (MAX_RULE_ITEMS + 1) / 2 + 63) / 64;
    uint64_t hits[MAX_WORDS] = {}, bounds[MAX_WORDS] = {};
    uint64_t a[64], s[64], before[65], after[65];
    for (size_t w = 0; w < words; ++w) {
        before[0] = after[n] = ~uint64_t(0);
        for (size_t k = 0; k < n; ++k) {
            a[k] = at[k][w];
            s[k] = seen[k][w];
            before[k + 1] = before[k] & a[k] & ~s[k];
        }
        for (size_t k = n; k-- > 0;)
            after[k] = after[k + 1] & a[k] & ~s[k];
        forEachObserved(a, s, before, after, n, [&](size_t r, bool observed) {
            const uint64_t bit = uint64_t(1) << (r % 64);
            bounds[r / 64] |= bit;
            hits[r / 64] |= observed ? bit : 0;
        });
    }
    const size_t rules = n * (n + 1) / 2 - 1; // of MaskedRules::proposedFor(n)
    for (size_t w = 0; w < (rules + 63) / 64; ++w) {
        for (uint64_t b = hits[w]; b; b &= b - 1)
            count[w * 64 + static_cast<size_t>(__builtin_ctzll(b))] += weight;
        for (uint64_t b = bounds[w]; b; b &= b - 1)
            bound[w * 64 + static_cast<size_t>(__builtin_ctzll(b))] += weight;
    }
}

} // namespace quorvel::rule::mining
