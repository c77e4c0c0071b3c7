// Distinct histories found by hash while the subject index is built.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace quorvel::rule::mining {

// Distinct histories by hash: open addressing over (hash, subject).
class HistoryTable {
public:
    static constexpr uint32_t NONE = 0xFFFFFFFFu;

    /// The first subject of hash `h` that `same` accepts, or NONE.
    template <class Same> uint32_t find(uint64_t h, Same same) const {
        if (m_slots.empty())
            return NONE;
        const size_t mask = m_slots.size() - 1;
        for (size_t i = h & mask; m_slots[i].subject != NONE; i = (i + 1) & mask)
            if (m_slots[i].hash == h && same(m_slots[i].subject))
                return m_slots[i].subject;
        return NONE;
    }

    void add(uint64_t h, uint32_t subject) {
        if ((m_size + 1) * 2 > m_slots.size())
            grow();
        put(h, subject);
        ++m_size;
    }

private:
    struct Slot {
        uint64_t hash = 0;
        uint32_t subject = NONE;
    };

    void put(uint64_t h, uint32_t subject) {
        const size_t mask = m_slots.size() - 1;
        size_t i = h & mask;
        while (m_slots[i].subject != NONE)
            i = (i + 1) & mask;
        m_slots[i] = {h, subject};
    }

    void grow() {
        std::vector<Slot> old(std::max<size_t>(64, m_slots.size() * 2));
        old.swap(m_slots);
        for (const Slot& slot : old)
            if (slot.subject != NONE)
                put(slot.hash, slot.subject);
    }

    std::vector<Slot> m_slots;
    size_t m_size = 0;
};

} // namespace quorvel::rule::mining
