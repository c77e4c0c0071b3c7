#include "set_index.hpp"

#include <stdexcept>

namespace quorvel::rule::mining {

SetIndex::SetIndex(const ItemId* ids, size_t sets, size_t width) : m_width(width) {
    if (sets == 0)
        return;
    if (sets >= EMPTY)
        throw std::length_error("a level of more than 2^32 - 1 item sets");
    // At most half the slots full keeps the probes short.
    size_t slots = 16;
    while (slots < 2 * sets)
        slots *= 2;
    m_mask = slots - 1;
    m_slots.assign(slots, EMPTY);
    for (size_t k = 0; k < sets; ++k) {
        size_t h = hash(ids + k * width) & m_mask;
        while (m_slots[h] != EMPTY)
            h = (h + 1) & m_mask;
        m_slots[h] = static_cast<uint32_t>(k);
    }
}

} // namespace quorvel::rule::mining
