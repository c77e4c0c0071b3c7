#include "index.hpp"

#include <algorithm>
#include <unordered_map>

namespace quorvel::rule::mining {

size_t SubjectBits::count() const {
    size_t n = 0;
    for (uint64_t w : m_words)
        n += static_cast<size_t>(__builtin_popcountll(w));
    return n;
}

SubjectBits SubjectBits::intersect(const SubjectBits& other, size_t& count) const {
    SubjectBits out;
    out.m_words.resize(m_words.size());
    count = 0;
    for (size_t k = 0; k < m_words.size(); ++k) {
        uint64_t w = m_words[k] & other.m_words[k];
        out.m_words[k] = w;
        count += static_cast<size_t>(__builtin_popcountll(w));
    }
    return out;
}

SubjectIndex::SubjectIndex(const TransactionSet& txns) {
    std::unordered_map<std::string, ItemId> ids;
    for (const auto& subject : txns)
        for (const auto& txn : subject.second)
            for (const Item& item : txn.second)
                ids.emplace(item, 0);
    m_items.reserve(ids.size());
    for (const auto& kv : ids)
        m_items.push_back(kv.first);
    std::sort(m_items.begin(), m_items.end());
    for (ItemId k = 0; k < m_items.size(); ++k)
        ids[m_items[k]] = k;

    m_holders.assign(m_items.size(), SubjectBits(txns.size()));
    m_subjects.reserve(txns.size());
    std::vector<std::pair<ItemId, uint32_t>> occ; // (item, transaction position)
    for (const auto& subject : txns) {
        const size_t s = m_subjects.size();
        Subject sub;
        sub.txnBegin = static_cast<uint32_t>(m_times.size());
        occ.clear();
        uint32_t position = 0;
        for (const auto& txn : subject.second) {
            m_times.push_back(txn.first);
            for (const Item& item : txn.second)
                occ.emplace_back(ids.find(item)->second, position);
            ++position;
        }
        sub.txnEnd = static_cast<uint32_t>(m_times.size());
        std::sort(occ.begin(), occ.end());
        sub.itemBegin = static_cast<uint32_t>(m_subjectItems.size());
        for (size_t k = 0; k < occ.size();) {
            SubjectItem si;
            si.item = occ[k].first;
            si.begin = static_cast<uint32_t>(m_positions.size());
            for (; k < occ.size() && occ[k].first == si.item; ++k)
                m_positions.push_back(occ[k].second);
            si.end = static_cast<uint32_t>(m_positions.size());
            m_subjectItems.push_back(si);
            m_holders[si.item].set(s);
        }
        sub.itemEnd = static_cast<uint32_t>(m_subjectItems.size());
        m_subjects.push_back(sub);
    }
}

bool SubjectIndex::find(const Item& item, ItemId& id) const {
    auto it = std::lower_bound(m_items.begin(), m_items.end(), item);
    if (it == m_items.end() || *it != item)
        return false;
    id = static_cast<ItemId>(it - m_items.begin());
    return true;
}

bool SubjectIndex::toIds(const ItemSet& is, IdSet& out) const {
    out.clear();
    for (const Item& item : is) {
        ItemId id;
        if (!find(item, id))
            return false;
        out.push_back(id);
    }
    return true;
}

ItemSet SubjectIndex::toItemSet(const ItemId* ids, size_t n) const {
    ItemSet out;
    for (size_t k = 0; k < n; ++k)
        out.add(m_items[ids[k]]);
    return out;
}

ItemSet SubjectIndex::toItemSet(const IdSet& ids) const { return toItemSet(ids.data(), ids.size()); }

SubjectIndex::Span SubjectIndex::m_occurrences(size_t s, ItemId id) const {
    const Subject& sub = m_subjects[s];
    const SubjectItem* first = m_subjectItems.data() + sub.itemBegin;
    const SubjectItem* last = m_subjectItems.data() + sub.itemEnd;
    const SubjectItem* it = std::lower_bound(
        first, last, id, [](const SubjectItem& si, ItemId v) { return si.item < v; });
    if (it == last || it->item != id)
        return Span{nullptr, nullptr};
    return Span{m_positions.data() + it->begin, m_positions.data() + it->end};
}

bool SubjectIndex::observes(size_t s, const ItemId* a, size_t na, const ItemId* b, size_t nb,
                            History::Time window) const {
    if (na == 0)
        return false; // every transaction holds all of an empty antecedent
    const History::Time* times = m_times.data() + m_subjects[s].txnBegin;
    const uint32_t ntx = m_subjects[s].txnEnd - m_subjects[s].txnBegin;

    Span spans[64];
    std::vector<Span> heap;
    Span* occA = spans;
    if (na + nb > 64) {
        heap.resize(na + nb);
        occA = heap.data();
    }
    Span* occB = occA + na;
    for (size_t k = 0; k < na; ++k) {
        occA[k] = m_occurrences(s, a[k]);
        if (occA[k].begin == occA[k].end)
            return false;
    }
    size_t driver = 0;
    for (size_t k = 0; k < nb; ++k) {
        occB[k] = m_occurrences(s, b[k]);
        if (occB[k].begin == occB[k].end)
            return false;
        if (occB[k].end - occB[k].begin < occB[driver].end - occB[driver].begin)
            driver = k;
    }
    auto withinWindow = [&](History::Time now, History::Time then) {
        return window == 0 || static_cast<History::Time>(now - then) <= window;
    };

    const uint32_t candidates = nb ? static_cast<uint32_t>(occB[driver].end - occB[driver].begin)
                                   : ntx;
    for (uint32_t c = 0; c < candidates; ++c) {
        const uint32_t t = nb ? occB[driver].begin[c] : c;
        const History::Time now = times[t];
        // The transaction must hold all of B, each item new within the window.
        bool candidate = true;
        for (size_t k = 0; k < nb && candidate; ++k) {
            const uint32_t* it = std::lower_bound(occB[k].begin, occB[k].end, t);
            if (it == occB[k].end || *it != t) {
                candidate = false;
            } else if (it != occB[k].begin && withinWindow(now, times[it[-1]])) {
                // Without a window an earlier occurrence blocks every later one too.
                if (window == 0)
                    return false;
                candidate = false;
            }
        }
        if (!candidate)
            continue;
        bool holdsAllOfA = true, sawAllOfA = true;
        for (size_t k = 0; k < na; ++k) {
            const uint32_t* it = std::lower_bound(occA[k].begin, occA[k].end, t);
            if (it == occA[k].end || *it != t)
                holdsAllOfA = false;
            if (it == occA[k].begin || !withinWindow(now, times[it[-1]]))
                sawAllOfA = false;
        }
        if (!holdsAllOfA && sawAllOfA)
            return true;
    }
    return false;
}

} // namespace quorvel::rule::mining
