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

namespace {

// Subjects holding each item, counted on the threads in stretches of
// subjects and summed.
std::vector<uint64_t> holderCounts(const EventLog& log, unsigned threads) {
    const size_t items = log.items.size();
    const size_t stretch = size_t(1) << 14;
    const size_t stretches = (log.subjects() + stretch - 1) / stretch;
    std::vector<std::vector<uint32_t>> counts(std::max(1u, threads));
    brenlo::forEachChunk(threads, stretches, [&](size_t c, unsigned worker) {
        std::vector<uint32_t>& holders = counts[worker];
        holders.resize(items, 0);
        thread_local std::vector<uint32_t> last;
        last.assign(items, 0xFFFFFFFFu);
        for (uint32_t s = static_cast<uint32_t>(c * stretch);
             s < std::min(log.subjects(), (c + 1) * stretch); ++s)
            for (uint32_t k = log.txnBegin[log.subjectBegin[s]];
                 k < log.txnBegin[log.subjectBegin[s + 1]]; ++k)
                if (last[log.txnItems[k]] != s) {
                    last[log.txnItems[k]] = s;
                    ++holders[log.txnItems[k]];
                }
    });
    std::vector<uint64_t> all(items, 0);
    for (const auto& holders : counts)
        for (size_t id = 0; id < holders.size(); ++id)
            all[id] += holders[id];
    return all;
}

// Enough stretches for every thread to take a few, none so small that
// taking them in costs more than it saves.
size_t stretchOf(const IndexShape& shape, size_t subjects) {
    if (shape.stretch)
        return shape.stretch;
    const size_t share = 4 * std::max(1u, shape.threads);
    return std::max<size_t>(2048, (subjects + share - 1) / share);
}

} // namespace

SubjectIndex::SubjectIndex(const EventLog& log, const IndexShape& shape) : m_items(log.items) {
    // Subjects per item, to leave out the items too rare to matter.
    std::vector<bool> keep(m_items.size(), true);
    if (shape.minCount > 0) {
        std::vector<uint64_t> all = holderCounts(log, shape.threads);
        // Across processes, an item is kept by its holders everywhere.
        if (shape.peers)
            shape.peers->sum(all);
        for (size_t id = 0; id < keep.size(); ++id)
            keep[id] = all[id] >= shape.minCount;
    }
    // Stretches of subjects are indexed side by side, each with its equal
    // histories merged, then joined in order, merging across stretches:
    // the same index as taking every subject in turn.
    const size_t STRETCH = stretchOf(shape, log.subjects());
    const size_t stretches = (log.subjects() + STRETCH - 1) / STRETCH;
    if (stretches <= 1 || shape.threads <= 1) {
        HistoryTable seen;
        addSubjects(log, 0, log.subjects(), keep, shape, seen);
    } else {
        std::vector<std::unique_ptr<SubjectIndex>> pieces(stretches);
        brenlo::forEachChunk(shape.threads, stretches, [&](size_t k, unsigned) {
            HistoryTable own;
            pieces[k].reset(new SubjectIndex());
            pieces[k]->addSubjects(log, k * STRETCH, std::min(log.subjects(), (k + 1) * STRETCH),
                                   keep, shape, own);
        });
        join(pieces, shape);
    }
    if (!shape.merge)
        m_weights.clear();
    m_hashes.clear();
    m_hashes.shrink_to_fit();
    heavyFirst();
    buildHolderLists();
}

void SubjectIndex::addSubjects(const EventLog& log, size_t from, size_t to,
                               const std::vector<bool>& keep, const IndexShape& shape,
                               HistoryTable& seen) {
    const bool dropEmpty = shape.minCount > 0 || shape.merge;
    const bool keepAll = std::all_of(keep.begin(), keep.end(), [](bool k) { return k; });
    Occurrences occ;
    occ.count.assign(log.items.size(), 0);
    for (size_t s = from; s < to; ++s) {
        addSubject(log, s, keep, keepAll, occ);
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

void SubjectIndex::join(std::vector<std::unique_ptr<SubjectIndex>>& pieces,
                        const IndexShape& shape) {
    // Where each piece's subjects and arrays start here.
    struct Start {
        size_t subjects = 0, times = 0, items = 0, positions = 0;
    };
    std::vector<Start> at(pieces.size() + 1);
    for (size_t k = 0; k < pieces.size(); ++k) {
        const SubjectIndex& p = *pieces[k];
        at[k + 1].subjects = at[k].subjects + p.m_subjects.size();
        at[k + 1].times = at[k].times + p.m_times.size();
        at[k + 1].items = at[k].items + p.m_subjectItems.size();
        at[k + 1].positions = at[k].positions + p.m_positions.size();
    }
    const Start& all = at.back();
    m_subjects.resize(all.subjects);
    m_weights.resize(all.subjects);
    m_hashes.resize(all.subjects);
    m_times.resize(all.times);
    m_subjectItems.resize(all.items);
    m_positions.resize(all.positions);
    brenlo::forEachChunk(shape.threads, pieces.size(), [&](size_t k, unsigned) {
        std::unique_ptr<SubjectIndex> piece = std::move(pieces[k]);
        const Start& to = at[k];
        std::copy(piece->m_times.begin(), piece->m_times.end(), m_times.begin() + to.times);
        std::copy(piece->m_positions.begin(), piece->m_positions.end(),
                  m_positions.begin() + to.positions);
        for (size_t i = 0; i < piece->m_subjectItems.size(); ++i) {
            SubjectItem si = piece->m_subjectItems[i];
            si.begin += static_cast<uint32_t>(to.positions);
            si.end += static_cast<uint32_t>(to.positions);
            m_subjectItems[to.items + i] = si;
        }
        for (size_t r = 0; r < piece->m_subjects.size(); ++r) {
            Subject sub = piece->m_subjects[r];
            sub.txnBegin += static_cast<uint32_t>(to.times);
            sub.txnEnd += static_cast<uint32_t>(to.times);
            sub.itemBegin += static_cast<uint32_t>(to.items);
            sub.itemEnd += static_cast<uint32_t>(to.items);
            m_subjects[to.subjects + r] = sub;
        }
        std::copy(piece->m_weights.begin(), piece->m_weights.end(),
                  m_weights.begin() + to.subjects);
        std::copy(piece->m_hashes.begin(), piece->m_hashes.end(),
                  m_hashes.begin() + to.subjects);
    });
    if (shape.merge) {
        std::vector<uint32_t> from(pieces.size());
        for (size_t k = 0; k < pieces.size(); ++k)
            from[k] = static_cast<uint32_t>(at[k].subjects);
        mergeAcross(from, shape);
    }
}

void SubjectIndex::mergeAcross(const std::vector<uint32_t>& from, const IndexShape& shape) {
    // Within a piece the histories differ already: only earlier pieces'
    // subjects can match. A dropped subject's arrays stay, unused.
    HistoryTable seen;
    std::vector<bool> dropped(m_subjects.size(), false);
    size_t piece = 0;
    for (uint32_t r = 0; r < m_subjects.size(); ++r) {
        while (piece + 1 < from.size() && from[piece + 1] <= r)
            ++piece;
        if (piece > 0) {
            const uint32_t same = seen.find(m_hashes[r], [&](uint32_t g) {
                return g < from[piece] && sameHistory(*this, g, *this, r, shape.byTime);
            });
            if (same != HistoryTable::NONE) {
                m_weights[same] += m_weights[r];
                dropped[r] = true;
                continue;
            }
        }
        seen.add(m_hashes[r], r);
    }
    size_t n = 0;
    for (size_t r = 0; r < m_subjects.size(); ++r)
        if (!dropped[r]) {
            m_subjects[n] = m_subjects[r];
            m_weights[n] = m_weights[r];
            m_hashes[n] = m_hashes[r];
            ++n;
        }
    m_subjects.resize(n);
    m_weights.resize(n);
    m_hashes.resize(n);
}

void SubjectIndex::heavyFirst() {
    if (m_weights.empty())
        return;
    std::vector<Subject> subjects;
    std::vector<uint32_t> weights;
    subjects.reserve(m_subjects.size());
    weights.reserve(m_subjects.size());
    for (bool heavy : {true, false})
        for (size_t s = 0; s < m_subjects.size(); ++s)
            if ((m_weights[s] > 1) == heavy) {
                subjects.push_back(m_subjects[s]);
                weights.push_back(m_weights[s]);
            }
    m_heavy = static_cast<size_t>(
        std::count_if(m_weights.begin(), m_weights.end(), [](uint32_t w) { return w > 1; }));
    m_subjects = std::move(subjects);
    m_weights = std::move(weights);
}

// The subject's transactions that hold a kept item, and per kept item the
// positions holding it.
void SubjectIndex::addSubject(const EventLog& log, size_t s, const std::vector<bool>& keep,
                              bool all, Occurrences& scratch) {
    std::vector<std::pair<ItemId, uint32_t>>& occ = scratch.held;
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
    sub.itemBegin = static_cast<uint32_t>(m_subjectItems.size());
    // Items ascend within a transaction: one transaction is in order already.
    if (!std::is_sorted(occ.begin(), occ.end())) {
        groupByItem(scratch);
        sub.itemEnd = static_cast<uint32_t>(m_subjectItems.size());
        m_subjects.push_back(sub);
        return;
    }
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

// The positions of each item, by counting: they stay ascending, as they
// were met, and only the subject's few distinct items are sorted.
void SubjectIndex::groupByItem(Occurrences& scratch) {
    std::vector<uint32_t>& count = scratch.count;
    std::vector<ItemId>& distinct = scratch.distinct;
    distinct.clear();
    for (const auto& o : scratch.held)
        if (count[o.first]++ == 0)
            distinct.push_back(o.first);
    std::sort(distinct.begin(), distinct.end());
    uint32_t at = static_cast<uint32_t>(m_positions.size());
    m_positions.resize(m_positions.size() + scratch.held.size());
    for (ItemId item : distinct) {
        SubjectItem si;
        si.item = item;
        si.begin = at;
        at += count[item];
        si.end = at;
        count[item] = si.begin; // where its next position goes
        m_subjectItems.push_back(si);
    }
    for (const auto& o : scratch.held)
        m_positions[count[o.first]++] = o.second;
    for (ItemId item : distinct)
        count[item] = 0;
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
    // By the subjects: the arrays may hold entries of subjects merged away.
    m_holderBegin.assign(m_items.size() + 1, 0);
    for (const Subject& sub : m_subjects)
        for (uint32_t k = sub.itemBegin; k < sub.itemEnd; ++k)
            ++m_holderBegin[m_subjectItems[k].item + 1];
    for (size_t k = 1; k < m_holderBegin.size(); ++k)
        m_holderBegin[k] += m_holderBegin[k - 1];
    m_holderList.resize(m_holderBegin.back());
    std::vector<uint32_t> fill(m_holderBegin.begin(), m_holderBegin.end() - 1);
    for (uint32_t s = 0; s < m_subjects.size(); ++s)
        for (uint32_t k = m_subjects[s].itemBegin; k < m_subjects[s].itemEnd; ++k)
            m_holderList[fill[m_subjectItems[k].item]++] = s;
    if (!m_weights.empty()) {
        m_holderWeight.assign(m_items.size(), 0);
        for (uint32_t s = 0; s < m_subjects.size(); ++s)
            for (uint32_t k = m_subjects[s].itemBegin; k < m_subjects[s].itemEnd; ++k)
                m_holderWeight[m_subjectItems[k].item] += m_weights[s];
    }
    m_holders.resize(m_items.size());
    m_built.reset(new std::once_flag[m_items.size()]);
}

} // namespace quorvel::rule::mining
