#include "index.hpp"

#include "rule_masks.hpp"

#include <algorithm>

namespace quorvel::rule::mining {

namespace {

// Hardware population count where the processor has it. ThreadSanitizer
// cannot run the resolver that picks the clone, which runs before it starts.
#if defined(__SANITIZE_THREAD__)
#define QUORVEL_POPCOUNT_CLONES
#else
#define QUORVEL_POPCOUNT_CLONES __attribute__((target_clones("popcnt", "default")))
#endif

QUORVEL_POPCOUNT_CLONES size_t andPopcount(const uint64_t* a, const uint64_t* b, size_t n) {
    size_t c = 0;
    for (size_t k = 0; k < n; ++k)
        c += static_cast<size_t>(__builtin_popcountll(a[k] & b[k]));
    return c;
}

} // namespace

QUORVEL_POPCOUNT_CLONES size_t popcount(const uint64_t* w, size_t n) {
    size_t c = 0;
    for (size_t k = 0; k < n; ++k)
        c += static_cast<size_t>(__builtin_popcountll(w[k]));
    return c;
}

QUORVEL_POPCOUNT_CLONES size_t andInto(const uint64_t* a, const uint64_t* b, uint64_t* out,
                                       size_t words) {
    size_t c = 0;
    for (size_t k = 0; k < words; ++k) {
        out[k] = a[k] & b[k];
        c += static_cast<size_t>(__builtin_popcountll(out[k]));
    }
    return c;
}

size_t SubjectBits::count() const {
    return popcount(m_words.data(), m_words.size());
}

size_t SubjectBits::intersectCount(const SubjectBits& other) const {
    return andPopcount(m_words.data(), other.m_words.data(), m_words.size());
}

SubjectBits SubjectBits::intersect(const SubjectBits& other, size_t& count) const {
    SubjectBits out;
    out.m_words.resize(m_words.size());
    count = andInto(m_words.data(), other.m_words.data(), out.m_words.data(), m_words.size());
    return out;
}

size_t SubjectIndex::weightOf(const uint64_t* bits, size_t count) const {
    if (m_weights.empty())
        return count;
    // Each subject counts once, and the few heavier ones, which come first,
    // their extra weight (a subject of weight 1 adds none).
    size_t extra = 0;
    for (size_t w = 0; w * 64 < m_heavy; ++w)
        for (uint64_t b = bits[w]; b; b &= b - 1)
            extra += m_weights[w * 64 + static_cast<size_t>(__builtin_ctzll(b))] - 1;
    return count + extra;
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

void SubjectIndex::timedHolds(size_t s, const ItemId* items, size_t n,
                              std::vector<TimedHolds>& out) const {
    gatherHolds(m_subjects[s], items, n, out);
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
                              History::Time window, uint64_t* observed, uint64_t* bound) const {
    if (bound)
        for (size_t r = 0; r < rules.size(); ++r)
            bound[r] += weight(s);
    thread_local std::vector<TimedHolds> steps;
    gatherHolds(m_subjects[s], items, n, steps);
    for (size_t first = 0; first < rules.size(); first += 64) {
        RuleWalk walk(rules, first, window, observed, weight(s));
        for (const TimedHolds& step : steps)
            if (!walk.step(step.holds, step.time))
                break;
    }
}

SubjectIndex::Cursor::Cursor(const SubjectIndex& index, History::Time window, size_t maskWords)
    : m_index(index), m_window(window), m_maskWords(maskWords), m_slot(index.items(), NONE),
      m_first(index.items()), m_subject(0) {}

void SubjectIndex::Cursor::load(size_t s) {
    const Subject& old = m_index.m_subjects[m_subject];
    for (uint32_t k = old.itemBegin; k < old.itemEnd; ++k)
        m_slot[m_index.m_subjectItems[k].item] = NONE;
    m_subject = s;
    const Subject& sub = m_index.m_subjects[s];
    for (uint32_t k = sub.itemBegin; k < sub.itemEnd; ++k) {
        const SubjectItem& si = m_index.m_subjectItems[k];
        m_slot[si.item] = k;
        m_first[si.item] = m_index.m_positions[si.begin];
    }
    m_words = (sub.txnEnd - sub.txnBegin + size_t(63)) / 64;
    m_lastN = 0;
    m_before[0] = ~uint64_t(0);
    m_any[0] = 0;
    const size_t entries = sub.itemEnd - sub.itemBegin;
    m_walk = 2 * m_words * entries > m_maskWords;
    if (m_walk)
        return;
    m_ready.assign(entries, 0);
    if (m_masks.size() < 2 * m_words * entries)
        m_masks.resize(2 * m_words * entries);
    if (m_zero.size() < 2 * m_words)
        m_zero.assign(2 * m_words, 0);
}

void SubjectIndex::entryMasks(size_t s, uint32_t entry, History::Time window, uint64_t* at,
                              uint64_t* seen) const {
    const Subject& sub = m_subjects[s];
    const SubjectItem& si = m_subjectItems[entry];
    const uint32_t* positions = m_positions.data() + si.begin;
    const size_t transactions = sub.txnEnd - sub.txnBegin;
    heldMask(positions, si.end - si.begin, (transactions + 63) / 64, at);
    if (seen)
        seenMask(positions, si.end - si.begin, m_times.data() + sub.txnBegin, transactions, window,
                 seen);
}

void SubjectIndex::Cursor::makeMasks(uint32_t e, size_t local) {
    uint64_t* masks = m_masks.data() + 2 * m_words * local;
    // Without a window the first positions tell all (observeFirsts).
    m_index.entryMasks(m_subject, e, m_window, masks, m_window != 0 ? masks + m_words : nullptr);
    m_ready[local] = 1;
}

void SubjectIndex::Cursor::observe(const ItemId* items, size_t n, const MaskedRules& rules,
                                   uint64_t* observed, uint64_t* bound) {
    const Subject& sub = m_index.m_subjects[m_subject];
    // Nothing can follow anything within a single transaction.
    if (n < 2 || sub.txnEnd - sub.txnBegin < 2)
        return;
    if (m_walk) {
        m_index.observeAll(m_subject, items, n, rules, m_window, observed, bound);
        return;
    }
    auto masksOf = [&](uint32_t e) -> const uint64_t* {
        if (e == NONE)
            return m_zero.data();
        const size_t local = e - sub.itemBegin;
        if (__builtin_expect(!m_ready[local], 0))
            makeMasks(e, local);
        return m_masks.data() + 2 * m_words * local;
    };
    const uint32_t weight = m_index.weight(m_subject);
    if (m_window == 0) {
        observeFirsts(items, n, observed, bound, masksOf, weight);
        return;
    }
    if (m_words == 1) {
        // Histories of up to 64 transactions, the common case. A subject's
        // sets come in item-set order, so most share all but their last
        // items with the set before: what those items gave is kept.
        size_t same = 0;
        while (same < m_lastN && same < n && m_last[same] == items[same])
            ++same;
        for (size_t k = same; k < n; ++k) {
            const uint64_t* masks = masksOf(m_slot[items[k]]);
            m_last[k] = items[k];
            m_at[k] = masks[0];
            m_seen[k] = masks[1];
            m_before[k + 1] = m_before[k] & m_at[k] & ~m_seen[k];
            m_any[k + 1] = m_any[k] | m_at[k];
        }
        m_lastN = n;
        if ((m_any[n] & (m_any[n] - 1)) == 0)
            return; // all in one transaction
        uint64_t after[MAX_RULE_ITEMS + 1];
        after[n] = ~uint64_t(0);
        for (size_t k = n; k-- > 0;)
            after[k] = after[k + 1] & m_at[k] & ~m_seen[k];
        // Few rules are observed in any one subject: counted as met.
        forEachObserved(m_at, m_seen, m_before, after, n, [&](size_t r, bool met) {
            bound[r] += weight;
            observed[r] += met ? weight : 0;
        });
        return;
    }
    const uint64_t* at[MAX_RULE_ITEMS];
    const uint64_t* seen[MAX_RULE_ITEMS];
    for (size_t k = 0; k < n; ++k) {
        const uint64_t* masks = masksOf(m_slot[items[k]]);
        at[k] = masks;
        seen[k] = masks + m_words;
    }
    addObservedRules(at, seen, n, m_words, weight, observed, bound);
}

template <class MasksOf>
void SubjectIndex::Cursor::observeFirsts(const ItemId* items, size_t n, uint64_t* observed,
                                         uint64_t* bound, MasksOf& masksOf, uint32_t weight) {
    uint32_t first[MAX_RULE_ITEMS];
    for (size_t k = 0; k < n; ++k) {
        if (m_slot[items[k]] == NONE)
            return; // a set the subject does not hold observes nothing
        first[k] = m_first[items[k]];
    }
    WindowlessRule rule;
    if (!windowlessRule([&](size_t k) { return first[k]; }, n, rule))
        return;
    bound[rule.rule] += weight;
    for (size_t k = rule.from; k <= rule.to; ++k)
        if (!(masksOf(m_slot[items[k]])[rule.at / 64] >> (rule.at % 64) & 1)) {
            observed[rule.rule] += weight;
            return;
        }
}

} // namespace quorvel::rule::mining
