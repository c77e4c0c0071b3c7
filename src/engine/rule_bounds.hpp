// Which rules of a level can still reach the minimum count. A rule's count
// is at most its bound (rule_masks.hpp), and the bound of A => B is at most
// that of each rule one item smaller that a set of the level before
// proposes: A => B less one item of B, and A less its first or last item
// => B. So a rule is counted only while every such smaller rule's bound
// reached the count; the others could not be reported.
#pragma once

#include "levels.hpp"
#include "observe.hpp"
#include "set_index.hpp"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quorvel::rule::mining {

class RuleBounds {
public:
    /// Before any level: nothing is known, every rule may reach the count.
    RuleBounds() = default;

    /// The rules of each set of `level` (proposed as `rules`) whose smaller
    /// rules reached the count in `prev`, the level before.
    RuleBounds(const Level& level, const MaskedRules& rules, const RuleBounds& prev,
               unsigned threads = 1);

    /// Only the rules `live` lists of the sets of `level` (proposed as
    /// `rules`), each as set * rules.size() + rule, ascending.
    RuleBounds(const Level& level, const MaskedRules& rules, const std::vector<uint64_t>& live);

    /// Keeps the rules whose summed bound, `bound[k * rules + r]`, reaches
    /// `minCount`.
    void keepReaching(const uint64_t* bound, uint64_t minCount);

    /// Keeps only the rules r of each set k for which keep(k, r) holds.
    template <class Keep> void keepOnly(Keep keep) {
        for (size_t k = 0; k < m_any.size(); ++k) {
            bool any = false;
            for (size_t r = 0; r < m_rules; ++r) {
                if (live(k, r) && !keep(k, r))
                    m_live[k * m_words + r / 64] &= ~(uint64_t(1) << (r % 64));
                any = any || live(k, r);
            }
            m_any[k] = any;
        }
    }

    /// Whether some rule of the level's k-th set may reach the count.
    bool anyOf(size_t k) const { return m_any[k] != 0; }
    /// Whether its r-th rule may.
    bool live(size_t k, size_t r) const { return m_live[k * m_words + r / 64] >> (r % 64) & 1; }

private:
    /// Which rules of the sets `from` to `to` may reach the count, given
    /// for each rule and each item the smaller rule without it.
    void liveFrom(const Level& level, const RuleBounds& prev, const std::vector<uint32_t>& smaller,
                  size_t from, size_t to);
    /// The index of the set `x` of `m_size` ids in this level, or NONE_SET.
    size_t find(const ItemId* x) const;
    static constexpr size_t NONE_SET = ~size_t(0);

    size_t m_size = 0;  // items per set; 0: before any level
    size_t m_rules = 0; // per set
    size_t m_words = 0; // of m_live per set
    std::vector<ItemId> m_ids;
    SetIndex m_sets; // of m_ids
    std::vector<uint64_t> m_live;
    std::vector<uint8_t> m_any;
};

} // namespace quorvel::rule::mining
