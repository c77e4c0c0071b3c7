#include "window_masks.hpp"

#include "brenlo/threads.hpp"

#include <algorithm>

namespace quorvel::rule::mining {

WindowMasks::WindowMasks(const SubjectIndex& index, History::Time window, unsigned threads)
    : m_subjects(index.subjects()), m_at(index.subjects() * index.items(), 0),
      m_seen(m_at.size(), 0), m_longer(index.subjects()) {
    // Subjects of one word on the threads, each writing its own cells.
    const size_t stretch = 256;
    brenlo::forEachChunk(threads, (m_subjects + stretch - 1) / stretch, [&](size_t c, unsigned) {
        for (size_t s = c * stretch; s < std::min(m_subjects, (c + 1) * stretch); ++s)
            if (index.transactionsOf(s) <= 64)
                index.forEachEntryOf(s, [&](ItemId id, uint32_t entry, uint32_t) {
                    index.entryMasks(s, entry, window, &m_at[at(id, s)], &m_seen[at(id, s)]);
                });
    });
    for (size_t s = 0; s < index.subjects(); ++s) {
        const size_t words = (index.transactionsOf(s) + 63) / 64;
        if (words <= 1)
            continue;
        m_longer.set(s);
        m_longerOf.resize(index.subjects());
        m_longerOf[s] = static_cast<uint32_t>(m_longerBegin.size());
        m_longerBegin.push_back(m_longerItems.size());
        m_longerWords.push_back(m_longerMasks.size());
        index.forEachEntryOf(s, [&](ItemId id, uint32_t entry, uint32_t) {
            m_longerItems.push_back(id);
            const size_t from = m_longerMasks.size();
            m_longerMasks.resize(from + 2 * words);
            index.entryMasks(s, entry, window, &m_longerMasks[from], &m_longerMasks[from + words]);
        });
    }
    m_longerBegin.push_back(m_longerItems.size());
}

WindowMasks::Of WindowMasks::of(const SubjectIndex& index, ItemId id, size_t s) const {
    if (!m_longer.test(s))
        return {&m_at[at(id, s)], &m_seen[at(id, s)], 1};
    const size_t k = m_longerOf[s];
    const ItemId* items = m_longerItems.data() + m_longerBegin[k];
    const ItemId* end = m_longerItems.data() + m_longerBegin[k + 1];
    const size_t words = (index.transactionsOf(s) + 63) / 64;
    const size_t local = static_cast<size_t>(std::lower_bound(items, end, id) - items);
    const uint64_t* held = m_longerMasks.data() + m_longerWords[k] + 2 * words * local;
    return {held, held + words, words};
}

void WindowMasks::observeLonger(const SubjectIndex& index, size_t s, const ItemId* x, size_t n,
                                uint64_t* count, uint64_t* bound) const {
    const size_t k = m_longerOf[s];
    const ItemId* items = m_longerItems.data() + m_longerBegin[k];
    const ItemId* end = m_longerItems.data() + m_longerBegin[k + 1];
    const size_t words = (index.transactionsOf(s) + 63) / 64;
    const uint64_t* masks = m_longerMasks.data() + m_longerWords[k];
    const uint64_t* held[MAX_RULE_ITEMS] = {};
    const uint64_t* seen[MAX_RULE_ITEMS] = {};
    for (size_t i = 0; i < n; ++i) {
        // Every item of a set the subject holds is there.
        const size_t local = static_cast<size_t>(std::lower_bound(items, end, x[i]) - items);
        held[i] = masks + 2 * words * local;
        seen[i] = held[i] + words;
    }
    addObservedRules(held, seen, n, words, index.weight(s), count, bound);
}

} // namespace quorvel::rule::mining
