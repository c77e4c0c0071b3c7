#include "first_appearances.hpp"

#include "brenlo/threads.hpp"

#include <algorithm>

namespace quorvel::rule::mining {

FirstAppearances::FirstAppearances(const SubjectIndex& index, unsigned threads)
    : m_subjects(index.subjects()), m_first(index.subjects() * index.items(), ~uint32_t(0)),
      m_held64(m_first.size(), 0), m_entry(m_first.size(), 0) {
    // Each subject writes its own cells: stretches of them on the threads.
    const size_t stretch = 256;
    brenlo::forEachChunk(threads, (m_subjects + stretch - 1) / stretch, [&](size_t c, unsigned) {
        for (size_t s = c * stretch; s < std::min(m_subjects, (c + 1) * stretch); ++s)
            index.forEachEntryOf(s, [&](ItemId id, uint32_t entry, uint32_t first) {
                m_first[at(id, s)] = first;
                m_held64[at(id, s)] = index.heldAmongFirst64(entry);
                m_entry[at(id, s)] = entry;
            });
    });
}

} // namespace quorvel::rule::mining
