#include "first_appearances.hpp"

namespace quorvel::rule::mining {

FirstAppearances::FirstAppearances(const SubjectIndex& index)
    : m_subjects(index.subjects()), m_first(index.subjects() * index.items(), ~uint32_t(0)),
      m_held64(m_first.size(), 0), m_entry(m_first.size(), 0) {
    for (size_t s = 0; s < index.subjects(); ++s)
        index.forEachEntryOf(s, [&](ItemId id, uint32_t entry, uint32_t first) {
            m_first[at(id, s)] = first;
            m_held64[at(id, s)] = index.heldAmongFirst64(entry);
            m_entry[at(id, s)] = entry;
        });
}

} // namespace quorvel::rule::mining
