#include "rule_bounds.hpp"

#include "rule_masks.hpp"

#include "brenlo/threads.hpp"

#include <algorithm>
#include <unordered_map>

namespace quorvel::rule::mining {

namespace {

constexpr uint32_t NONE = 0xFFFFFFFFu;

// For rule r of a set of n items and each position d, the rule of the set
// without its d-th item that bounds r: [r * n + d], NONE where dropping d
// leaves no proposed rule (a side emptied, or A broken in two).
std::vector<uint32_t> smallerRules(const MaskedRules& rules, size_t n) {
    const MaskedRules smaller = MaskedRules::proposedFor(n - 1);
    std::unordered_map<uint64_t, uint32_t> byAntecedent;
    for (size_t r = 0; r < smaller.size(); ++r)
        byAntecedent[smaller.antecedent[r]] = static_cast<uint32_t>(r);
    std::vector<uint32_t> out(rules.size() * n, NONE);
    for (size_t r = 0; r < rules.size(); ++r) {
        const uint64_t a = rules.antecedent[r], b = rules.subsequent[r];
        const size_t first = static_cast<size_t>(__builtin_ctzll(a));
        const size_t last = 63 - static_cast<size_t>(__builtin_clzll(a));
        for (size_t d = 0; d < n; ++d) {
            const bool inA = a >> d & 1;
            if (inA ? (first == last || (d != first && d != last)) : (b & (b - 1)) == 0)
                continue;
            const auto found = byAntecedent.find(dropBit(a, d));
            if (found != byAntecedent.end())
                out[r * n + d] = found->second;
        }
    }
    return out;
}

} // namespace

RuleBounds::RuleBounds(const Level& level, const MaskedRules& rules, const RuleBounds& prev,
                       unsigned threads)
    : m_size(level.size), m_rules(rules.size()), m_words((rules.size() + 63) / 64),
      m_ids(level.ids), m_sets(m_ids.data(), level.sets(), m_size),
      m_live(level.sets() * m_words, ~uint64_t(0)), m_any(level.sets(), 1) {
    const size_t n = m_size;
    if (prev.m_size + 1 != n || n < 3)
        return; // nothing known about smaller rules
    const std::vector<uint32_t> smaller = smallerRules(rules, n);
    // Each set's rules on their own, stretches of sets to the threads.
    const size_t stretch = 512;
    brenlo::forEachChunk(threads, (level.sets() + stretch - 1) / stretch, [&](size_t c, unsigned) {
        liveFrom(level, prev, smaller, c * stretch, std::min(level.sets(), (c + 1) * stretch));
    });
}

RuleBounds::RuleBounds(const Level& level, const MaskedRules& rules,
                       const std::vector<uint64_t>& live)
    : m_size(level.size), m_rules(rules.size()), m_words((rules.size() + 63) / 64),
      m_ids(level.ids), m_sets(m_ids.data(), level.sets(), m_size),
      m_live(level.sets() * m_words, 0), m_any(level.sets(), 0) {
    for (uint64_t i : live) {
        const size_t k = i / m_rules, r = i % m_rules;
        m_live[k * m_words + r / 64] |= uint64_t(1) << (r % 64);
        m_any[k] = 1;
    }
}

void RuleBounds::liveFrom(const Level& level, const RuleBounds& prev,
                          const std::vector<uint32_t>& smaller, size_t from, size_t to) {
    const size_t n = m_size;
    std::vector<ItemId> subset(n - 1);
    std::vector<size_t> at(n);
    for (size_t k = from; k < to; ++k) {
        const ItemId* x = level.set(k);
        for (size_t d = 0; d < n; ++d) {
            std::copy(x, x + d, subset.begin());
            std::copy(x + d + 1, x + n, subset.begin() + d);
            at[d] = prev.find(subset.data());
        }
        if (std::find(at.begin(), at.end(), NONE_SET) != at.end())
            continue; // a subset the level before lacks: assume nothing
        uint64_t* live = m_live.data() + k * m_words;
        bool any = false;
        for (size_t r = 0; r < m_rules; ++r) {
            bool ok = true;
            for (size_t d = 0; d < n && ok; ++d) {
                const uint32_t s = smaller[r * n + d];
                ok = s == NONE || prev.live(at[d], s);
            }
            if (!ok)
                live[r / 64] &= ~(uint64_t(1) << (r % 64));
            any = any || ok;
        }
        m_any[k] = any;
    }
}

void RuleBounds::keepReaching(const uint64_t* bound, uint64_t minCount) {
    for (size_t k = 0; k < m_any.size(); ++k) {
        bool any = false;
        for (size_t r = 0; r < m_rules; ++r) {
            if (bound[k * m_rules + r] < minCount)
                m_live[k * m_words + r / 64] &= ~(uint64_t(1) << (r % 64));
            any = any || live(k, r);
        }
        m_any[k] = any;
    }
}

size_t RuleBounds::find(const ItemId* x) const {
    const size_t k = m_sets.find(m_ids.data(), x);
    return k == SetIndex::NONE ? NONE_SET : k;
}

} // namespace quorvel::rule::mining
