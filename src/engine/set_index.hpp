// Where a set of a level lies, found by hashing its ids: the join's subset
// tests and the rule counting's look-ups happen millions of times a level
// at low support, where a binary search of compared sets dominated.
#pragma once

#include "quorvel/event_log.hpp"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quorvel::rule::mining {

class SetIndex {
public:
    static constexpr size_t NONE = ~size_t(0);

    SetIndex() = default;
    /// Indexes `sets` sets of `width` ids each lying one after another at
    /// `ids`; no two are equal.
    SetIndex(const ItemId* ids, size_t sets, size_t width);

    /// The index of the set `x` among those indexed, or NONE. `ids` is
    /// where they lie now (a vector moved keeps its storage, so an owner
    /// passes its own).
    size_t find(const ItemId* ids, const ItemId* x) const {
        if (m_slots.empty())
            return NONE;
        for (size_t h = hash(x) & m_mask;; h = (h + 1) & m_mask) {
            const uint32_t k = m_slots[h];
            if (k == EMPTY)
                return NONE;
            if (same(ids + size_t(k) * m_width, x))
                return k;
        }
    }

private:
    static constexpr uint32_t EMPTY = ~uint32_t(0);

    uint64_t hash(const ItemId* x) const {
        uint64_t h = 0x9E3779B97F4A7C15u;
        for (size_t k = 0; k < m_width; ++k)
            h = (h ^ x[k]) * 0xFF51AFD7ED558CCDu;
        return h ^ h >> 32;
    }
    bool same(const ItemId* a, const ItemId* b) const {
        for (size_t k = 0; k < m_width; ++k)
            if (a[k] != b[k])
                return false;
        return true;
    }

    size_t m_width = 0;
    size_t m_mask = 0;
    std::vector<uint32_t> m_slots; // set indices, EMPTY where none
};

} // namespace quorvel::rule::mining
