#include "index.hpp"
#include "parallel.hpp"

#include <algorithm>
#include <unordered_map>

namespace quorvel::rule::mining {

namespace {

// Hardware population count where the processor has it. ThreadSanitizer
// cannot run the resolver that picks the clone, which runs before it starts.
#if defined(__SANITIZE_THREAD__)
#define QUORVEL_POPCOUNT_CLONES
#else
#define QUORVEL_POPCOUNT_CLONES __attribute__((target_clones("popcnt", "default")))
#endif

QUORVEL_POPCOUNT_CLONES size_t popcount(const uint64_t* w, size_t n) {
    size_t c = 0;
    for (size_t k = 0; k < n; ++k)
        c += static_cast<size_t>(__builtin_popcountll(w[k]));
    return c;
}

QUORVEL_POPCOUNT_CLONES size_t andPopcount(const uint64_t* a, const uint64_t* b, size_t n) {
    size_t c = 0;
    for (size_t k = 0; k < n; ++k)
        c += static_cast<size_t>(__builtin_popcountll(a[k] & b[k]));
    return c;
}

} // namespace

size_t SubjectBits::count() const {
    return popcount(m_words.data(), m_words.size());
}

size_t SubjectBits::intersectCount(const SubjectBits& other) const {
    return andPopcount(m_words.data(), other.m_words.data(), m_words.size());
}

SubjectBits SubjectBits::intersect(const SubjectBits& other, size_t& count) const {
    SubjectBits out;
    out.m_words.resize(m_words.size());
    for (size_t k = 0; k < m_words.size(); ++k)
        out.m_words[k] = m_words[k] & other.m_words[k];
    count = out.count();
    return out;
}

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
        for (size_t id = 0; id < keep.size(); ++id)
            keep[id] = holders[id] >= shape.minCount;
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
        forEachChunk(shape.threads, stretches, [&](size_t k, unsigned) {
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
    buildPositionMasks();
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

void SubjectIndex::buildPositionMasks() {
    m_positionMasks.assign(m_subjectItems.size(), 0);
    for (const Subject& sub : m_subjects)
        if (sub.txnEnd - sub.txnBegin <= 64)
            for (uint32_t k = sub.itemBegin; k < sub.itemEnd; ++k)
                for (uint32_t p = m_subjectItems[k].begin; p < m_subjectItems[k].end; ++p)
                    m_positionMasks[k] |= uint64_t(1) << m_positions[p];
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
    }
    m_holders.resize(m_items.size());
    m_built.reset(new std::once_flag[m_items.size()]);
}

const SubjectBits& SubjectIndex::holders(ItemId id) const {
    std::call_once(m_built[id], [&] {
        SubjectBits bits(m_subjects.size());
        for (uint32_t k = m_holderBegin[id]; k < m_holderBegin[id + 1]; ++k)
            bits.set(m_holderList[k]);
        m_holders[id] = std::move(bits);
    });
    return m_holders[id];
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

ItemSet SubjectIndex::toItemSet(const IdSet& ids) const {
    return toItemSet(ids.data(), ids.size());
}

void SubjectIndex::gatherHolds(const Subject& sub, const ItemId* items, size_t n,
                               std::vector<TimedHolds>& out) const {
    // Short histories mark a table by position; long ones sort the hits.
    thread_local std::vector<uint64_t> holdsAt;
    thread_local std::vector<uint64_t> hits; // position << 6 | item index
    const uint32_t ntx = sub.txnEnd - sub.txnBegin;
    const bool byTable = ntx <= 256;
    if (byTable)
        holdsAt.assign(ntx, 0);
    else
        hits.clear();
    const SubjectItem* si = m_subjectItems.data() + sub.itemBegin;
    const SubjectItem* siEnd = m_subjectItems.data() + sub.itemEnd;
    for (size_t k = 0; k < n; ++k) {
        // Both lists ascend, so one forward walk finds every item.
        while (si != siEnd && si->item < items[k])
            ++si;
        if (si == siEnd)
            break;
        if (si->item != items[k])
            continue;
        for (uint32_t p = si->begin; p < si->end; ++p) {
            if (byTable)
                holdsAt[m_positions[p]] |= uint64_t(1) << k;
            else
                hits.push_back(uint64_t(m_positions[p]) << 6 | k);
        }
    }
    const History::Time* times = m_times.data() + sub.txnBegin;
    out.clear();
    if (byTable) {
        for (uint32_t position = 0; position < ntx; ++position)
            if (holdsAt[position])
                out.push_back({times[position], holdsAt[position]});
        return;
    }
    std::sort(hits.begin(), hits.end());
    for (size_t h = 0; h < hits.size();) {
        const uint64_t position = hits[h] >> 6;
        uint64_t holds = 0;
        for (; h < hits.size() && (hits[h] >> 6) == position; ++h)
            holds |= uint64_t(1) << (hits[h] & 63);
        out.push_back({times[position], holds});
    }
}

void SubjectIndex::observeAll(size_t s, const ItemId* items, size_t n, const MaskedRules& rules,
                              History::Time window, uint64_t* observed) const {
    thread_local std::vector<TimedHolds> steps;
    gatherHolds(m_subjects[s], items, n, steps);
    for (size_t first = 0; first < rules.size(); first += 64) {
        RuleWalk walk(rules, first, window, observed, weight(s));
        for (const TimedHolds& step : steps)
            if (!walk.step(step.holds, step.time))
                break;
    }
}

SubjectIndex::Cursor::Cursor(const SubjectIndex& index)
    : m_index(index), m_slot(index.items(), NONE), m_subject(0) {}

void SubjectIndex::Cursor::load(size_t s) {
    const Subject& old = m_index.m_subjects[m_subject];
    for (uint32_t k = old.itemBegin; k < old.itemEnd; ++k)
        m_slot[m_index.m_subjectItems[k].item] = NONE;
    m_subject = s;
    const Subject& sub = m_index.m_subjects[s];
    for (uint32_t k = sub.itemBegin; k < sub.itemEnd; ++k)
        m_slot[m_index.m_subjectItems[k].item] = k;
}

void SubjectIndex::Cursor::observe(const ItemId* items, size_t n, const MaskedRules& rules,
                                   History::Time window, uint64_t* observed) {
    const Subject& sub = m_index.m_subjects[m_subject];
    if (sub.txnEnd - sub.txnBegin > 64) {
        m_index.observeAll(m_subject, items, n, rules, window, observed);
        return;
    }
    uint64_t at[MAX_RULE_ITEMS];
    uint64_t any = 0;
    for (size_t k = 0; k < n; ++k) {
        const uint32_t e = m_slot[items[k]];
        at[k] = e == NONE ? 0 : m_index.m_positionMasks[e];
        any |= at[k];
    }
    // Nothing can follow anything within a single transaction.
    if ((any & (any - 1)) == 0)
        return;
    const History::Time* times = m_index.m_times.data() + sub.txnBegin;
    for (size_t first = 0; first < rules.size(); first += 64) {
        RuleWalk walk(rules, first, window, observed, m_index.weight(m_subject));
        for (uint64_t positions = any; positions; positions &= positions - 1) {
            const unsigned p = static_cast<unsigned>(__builtin_ctzll(positions));
            uint64_t holds = 0;
            for (size_t k = 0; k < n; ++k)
                holds |= (at[k] >> p & 1) << k;
            if (!walk.step(holds, times[p]))
                break;
        }
    }
}

} // namespace quorvel::rule::mining
