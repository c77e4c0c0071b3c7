// Building the subject index: the items kept, each subject's transactions
// and positions, equal histories merged, on all threads.
#include "brenlo/threads.hpp"
#include "history_table.hpp"
#include "index.hpp"
#include "quorvel/peers.hpp"

#include <algorithm>
#include <memory>

namespace quorvel::rule::mining {

SubjectIndex::SubjectIndex(const TransactionSet& txns)
    : SubjectIndex(eventLogOf(txns), IndexShape()) {}

SubjectIndex::SubjectIndex(const EventLog& log, const IndexShape& shape) : m_items(log.items) {
    // Subjects per item, to leave out the items too rare to matter.
    std::vector<bool> keep(m_items.size(), true);
    if (shape.minCount > 0) {
        std::vector<uint32_t> holders(m_items.size(), 0), last(m_items.size(), 0xFFFFFFFFu);
        for (uint32_t s = 0; s < log.subjects(); ++s)
            for (uint32_t k = log.txnBegin[log.subjectBegin[s]];
                 k < log.txnBegin[log.subjectBegin[s + 1]]; ++k)
                if (last[log.txnItems[k]] != s) {
                    last[log.txnItems[k]] = s;
                    ++holders[log.txnItems[k]];
                }
        // Across processes, an item is kept by its holders everywhere.
        std::vector<uint64_t> all(holders.begin(), holders.end());
        if (shape.peers)
            shape.peers->sum(all);
        for (size_t id = 0; id < keep.size(); ++id)
            keep[id] = all[id] >= shape.minCount;
    }
    // Stretches of subjects are indexed side by side, each with its equal
    // histories merged, then taken in in order, merging across stretches:
    // the same index as taking every subject in turn.
    const size_t STRETCH = std::max<size_t>(1, shape.stretch);
    const size_t stretches = (log.subjects() + STRETCH - 1) / STRETCH;
    HistoryTable seen;
    if (stretches <= 1 || shape.threads <= 1) {
        addSubjects(log, 0, log.subjects(), keep, shape, seen);
    } else {
        std::vector<std::unique_ptr<SubjectIndex>> pieces(stretches);
        brenlo::forEachChunk(shape.threads, stretches, [&](size_t k, unsigned) {
            HistoryTable own;
            pieces[k].reset(new SubjectIndex());
            pieces[k]->addSubjects(log, k * STRETCH, std::min(log.subjects(), (k + 1) * STRETCH),
                                   keep, shape, own);
        });
        for (auto& piece : pieces) {
            absorb(*piece, shape, seen);
            piece.reset();
        }
    }
    if (!shape.merge)
        m_weights.clear();
    m_hashes.clear();
    m_hashes.shrink_to_fit();
    buildHolderLists();
}

void SubjectIndex::addSubjects(const EventLog& log, size_t from, size_t to,
                               const std::vector<bool>& keep, const IndexShape& shape,
                               HistoryTable& seen) {
    const bool dropEmpty = shape.minCount > 0 || shape.merge;
    const bool keepAll = std::all_of(keep.begin(), keep.end(), [](bool k) { return k; });
    for (size_t s = from; s < to; ++s) {
        addSubject(log, s, keep, keepAll);
        const Subject& added = m_subjects.back();
        if (dropEmpty && added.itemBegin == added.itemEnd) {
            dropLast(); // holds nothing that can be frequent
            continue;
        }
        const uint64_t h = shape.merge ? hashOf(m_subjects.size() - 1, shape.byTime) : 0;
        if (shape.merge) {
            const uint32_t same = seen.find(h, [&](uint32_t r) {
                return sameHistory(*this, r, *this, m_subjects.size() - 1, shape.byTime);
            });
            if (same != HistoryTable::NONE) {
                ++m_weights[same];
                dropLast();
                continue;
            }
            seen.add(h, static_cast<uint32_t>(m_subjects.size() - 1));
        }
        m_weights.push_back(1);
        m_hashes.push_back(h);
    }
}

void SubjectIndex::absorb(const SubjectIndex& piece, const IndexShape& shape, HistoryTable& seen) {
    for (size_t r = 0; r < piece.m_subjects.size(); ++r) {
        const uint64_t h = piece.m_hashes[r];
        if (shape.merge) {
            const uint32_t same = seen.find(
                h, [&](uint32_t g) { return sameHistory(*this, g, piece, r, shape.byTime); });
            if (same != HistoryTable::NONE) {
                m_weights[same] += piece.m_weights[r];
                continue;
            }
            seen.add(h, static_cast<uint32_t>(m_subjects.size()));
        }
        const Subject& from = piece.m_subjects[r];
        Subject sub;
        sub.txnBegin = static_cast<uint32_t>(m_times.size());
        m_times.insert(m_times.end(), piece.m_times.begin() + from.txnBegin,
                       piece.m_times.begin() + from.txnEnd);
        sub.txnEnd = static_cast<uint32_t>(m_times.size());
        sub.itemBegin = static_cast<uint32_t>(m_subjectItems.size());
        for (uint32_t k = from.itemBegin; k < from.itemEnd; ++k) {
            SubjectItem si = piece.m_subjectItems[k];
            const uint32_t at = static_cast<uint32_t>(m_positions.size());
            m_positions.insert(m_positions.end(), piece.m_positions.begin() + si.begin,
                               piece.m_positions.begin() + si.end);
            si.end = at + (si.end - si.begin);
            si.begin = at;
            m_subjectItems.push_back(si);
        }
        sub.itemEnd = static_cast<uint32_t>(m_subjectItems.size());
        m_subjects.push_back(sub);
        m_weights.push_back(piece.m_weights[r]);
        m_hashes.push_back(h);
    }
}

// The subject's transactions that hold a kept item, and per kept item the
// positions holding it.
void SubjectIndex::addSubject(const EventLog& log, size_t s, const std::vector<bool>& keep,
                              bool all) {
    thread_local std::vector<std::pair<ItemId, uint32_t>> occ; // (item, position)
    Subject sub;
    sub.txnBegin = static_cast<uint32_t>(m_times.size());
    occ.clear();
    uint32_t position = 0;
    for (uint32_t t = log.subjectBegin[s]; t < log.subjectBegin[s + 1]; ++t) {
        const size_t before = occ.size();
        for (uint32_t k = log.txnBegin[t]; k < log.txnBegin[t + 1]; ++k)
            if (keep[log.txnItems[k]])
                occ.emplace_back(log.txnItems[k], position);
        if (occ.size() == before && !all)
            continue; // nothing kept: the walk would pass it by anyway
        m_times.push_back(log.txnTime[t]);
        ++position;
    }
    sub.txnEnd = static_cast<uint32_t>(m_times.size());
    // Items ascend within a transaction: one transaction is in order already.
    if (!std::is_sorted(occ.begin(), occ.end()))
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
    }
    sub.itemEnd = static_cast<uint32_t>(m_subjectItems.size());
    m_subjects.push_back(sub);
}

void SubjectIndex::dropLast() {
    const Subject& last = m_subjects.back();
    m_times.resize(last.txnBegin);
    m_positions.resize(last.itemBegin == last.itemEnd ? m_positions.size()
                                                      : m_subjectItems[last.itemBegin].begin);
    m_subjectItems.resize(last.itemBegin);
    m_subjects.pop_back();
}

uint64_t SubjectIndex::hashOf(size_t r, bool byTime) const {
    const Subject& sub = m_subjects[r];
    uint64_t h = sub.txnEnd - sub.txnBegin;
    auto mix = [&](uint64_t v) { h = (h ^ v) * 0x9E3779B97F4A7C15ull; };
    for (uint32_t k = sub.itemBegin; k < sub.itemEnd; ++k) {
        mix(m_subjectItems[k].item);
        for (uint32_t p = m_subjectItems[k].begin; p < m_subjectItems[k].end; ++p)
            mix(m_positions[p]);
    }
    if (byTime)
        for (uint32_t t = sub.txnBegin; t < sub.txnEnd; ++t)
            mix(m_times[t] - m_times[sub.txnBegin]);
    return h ^ (h >> 31);
}

// Whether subject `ra` of `a` and `rb` of `b` have the same history: the
// same items at the same positions, and with `byTime` the same spacing.
bool SubjectIndex::sameHistory(const SubjectIndex& a, size_t ra, const SubjectIndex& b, size_t rb,
                               bool byTime) {
    const Subject& x = a.m_subjects[ra];
    const Subject& y = b.m_subjects[rb];
    if (x.txnEnd - x.txnBegin != y.txnEnd - y.txnBegin ||
        x.itemEnd - x.itemBegin != y.itemEnd - y.itemBegin)
        return false;
    for (uint32_t k = 0; k < x.itemEnd - x.itemBegin; ++k) {
        const SubjectItem& i = a.m_subjectItems[x.itemBegin + k];
        const SubjectItem& j = b.m_subjectItems[y.itemBegin + k];
        if (i.item != j.item || i.end - i.begin != j.end - j.begin ||
            !std::equal(a.m_positions.begin() + i.begin, a.m_positions.begin() + i.end,
                        b.m_positions.begin() + j.begin))
            return false;
    }
    if (byTime)
        for (uint32_t t = 0; t < x.txnEnd - x.txnBegin; ++t)
            if (a.m_times[x.txnBegin + t] - a.m_times[x.txnBegin] !=
                b.m_times[y.txnBegin + t] - b.m_times[y.txnBegin])
                return false;
    return true;
}

// Subjects per item, ascending, by counting.
void SubjectIndex::buildHolderLists() {
    m_holderBegin.assign(m_items.size() + 1, 0);
    for (const SubjectItem& si : m_subjectItems)
        ++m_holderBegin[si.item + 1];
    for (size_t k = 1; k < m_holderBegin.size(); ++k)
        m_holderBegin[k] += m_holderBegin[k - 1];
    m_holderList.resize(m_subjectItems.size());
    std::vector<uint32_t> fill(m_holderBegin.begin(), m_holderBegin.end() - 1);
    for (uint32_t s = 0; s < m_subjects.size(); ++s)
        for (uint32_t k = m_subjects[s].itemBegin; k < m_subjects[s].itemEnd; ++k)
            m_holderList[fill[m_subjectItems[k].item]++] = s;
    if (!m_weights.empty()) {
        m_holderWeight.assign(m_items.size(), 0);
        for (uint32_t s = 0; s < m_subjects.size(); ++s)
            for (uint32_t k = m_subjects[s].itemBegin; k < m_subjects[s].itemEnd; ++k)
                m_holderWeight[m_subjectItems[k].item] += m_weights[s];
        m_heavy = SubjectBits(m_subjects.size());
        for (uint32_t s = 0; s < m_subjects.size(); ++s)
            if (m_weights[s] > 1)
                m_heavy.set(s);
    }
    m_holders.resize(m_items.size());
    m_built.reset(new std::once_flag[m_items.size()]);
}

} // namespace quorvel::rule::mining
