#include "index.hpp"

#include <algorithm>
#include <unordered_map>

namespace quorvel::rule::mining {

namespace {

// Hardware population count where the processor has it.
__attribute__((target_clones("popcnt", "default"))) size_t popcount(const uint64_t* w, size_t n) {
    size_t c = 0;
    for (size_t k = 0; k < n; ++k)
        c += static_cast<size_t>(__builtin_popcountll(w[k]));
    return c;
}

__attribute__((target_clones("popcnt", "default"))) size_t
andPopcount(const uint64_t* a, const uint64_t* b, size_t n) {
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

SubjectIndex::SubjectIndex(const TransactionSet& txns) {
    std::unordered_map<std::string, ItemId> ids;
    for (const auto& subject : txns)
        for (const auto& txn : subject.second)
            for (const Item& item : txn.second)
                ids.try_emplace(item, 0); // no key copy when already present
    m_items.reserve(ids.size());
    for (const auto& kv : ids)
        m_items.push_back(kv.first);
    std::sort(m_items.begin(), m_items.end());
    for (ItemId k = 0; k < m_items.size(); ++k)
        ids[m_items[k]] = k;

    m_subjects.reserve(txns.size());
    std::vector<std::pair<ItemId, uint32_t>> occ; // (item, transaction position)
    for (const auto& subject : txns) {
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
        }
        sub.itemEnd = static_cast<uint32_t>(m_subjectItems.size());
        m_subjects.push_back(sub);
    }

    m_positionMasks.assign(m_subjectItems.size(), 0);
    for (const Subject& sub : m_subjects)
        if (sub.txnEnd - sub.txnBegin <= 64)
            for (uint32_t k = sub.itemBegin; k < sub.itemEnd; ++k)
                for (uint32_t p = m_subjectItems[k].begin; p < m_subjectItems[k].end; ++p)
                    m_positionMasks[k] |= uint64_t(1) << m_positions[p];

    // Subjects per item, ascending, by counting.
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
    m_holders.resize(m_items.size());
    m_built.assign(m_items.size(), false);
}

const SubjectBits& SubjectIndex::holders(ItemId id) const {
    if (!m_built[id]) {
        SubjectBits bits(m_subjects.size());
        for (uint32_t k = m_holderBegin[id]; k < m_holderBegin[id + 1]; ++k)
            bits.set(m_holderList[k]);
        m_holders[id] = std::move(bits);
        m_built[id] = true;
    }
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

void SubjectIndex::MaskedRules::tabulate(size_t items) {
    table.clear();
    tableBits = 0;
    if (items > TABLE_ITEMS || size() > 64)
        return;
    tableBits = static_cast<unsigned>(items);
    const uint64_t masks = uint64_t(1) << items;
    table.assign(masks * masks, 0);
    for (uint64_t held = 0; held < masks; ++held)
        for (uint64_t seen = 0; seen < masks; ++seen) {
            uint64_t satisfied = 0;
            for (size_t r = 0; r < size(); ++r) {
                const uint64_t a = antecedent[r], b = subsequent[r];
                if ((held & b) == b && (seen & b) == 0 && (held & a) != a && (seen & a) == a)
                    satisfied |= uint64_t(1) << r;
            }
            table[held << items | seen] = satisfied;
        }
}

namespace {

// The window test and the rule test of one transaction, shared by both ways
// of walking a history. Works on up to 64 rules at a time.
struct RuleWalk {
    const uint64_t* antecedent;
    const uint64_t* subsequent;
    const uint64_t* table; // null: test rule by rule
    unsigned tableBits;
    History::Time window;
    uint64_t* observed;
    uint64_t pending;
    History::Time last[SubjectIndex::MAX_RULE_ITEMS];
    uint64_t everSeen = 0;

    RuleWalk(const SubjectIndex::MaskedRules& rules, size_t first, History::Time w, uint64_t* o)
        : antecedent(rules.antecedent.data() + first), subsequent(rules.subsequent.data() + first),
          table(rules.table.empty() ? nullptr : rules.table.data()), tableBits(rules.tableBits),
          window(w), observed(o + first) {
        const size_t n = std::min<size_t>(64, rules.size() - first);
        pending = n == 64 ? ~uint64_t(0) : (uint64_t(1) << n) - 1;
    }

    // One transaction at time `now` holding the items `holds`; false once
    // every rule has been observed.
    bool step(uint64_t holds, History::Time now) {
        uint64_t seen = window == 0 ? everSeen : 0;
        for (uint64_t bits = window == 0 ? 0 : everSeen; bits; bits &= bits - 1) {
            const unsigned x = static_cast<unsigned>(__builtin_ctzll(bits));
            if (static_cast<History::Time>(now - last[x]) <= window)
                seen |= uint64_t(1) << x;
        }
        if (seen && table) {
            const uint64_t hit = table[holds << tableBits | seen] & pending;
            for (uint64_t bits = hit; bits; bits &= bits - 1)
                ++observed[__builtin_ctzll(bits)];
            pending &= ~hit;
        } else if (seen)
            for (uint64_t bits = pending; bits; bits &= bits - 1) {
                const unsigned r = static_cast<unsigned>(__builtin_ctzll(bits));
                const uint64_t a = antecedent[r], b = subsequent[r];
                if ((holds & b) == b && (seen & b) == 0 && (holds & a) != a && (seen & a) == a) {
                    pending &= ~(uint64_t(1) << r);
                    ++observed[r];
                }
            }
        for (uint64_t bits = holds; bits; bits &= bits - 1)
            last[__builtin_ctzll(bits)] = now;
        everSeen |= holds;
        return pending != 0;
    }
};

} // namespace

void SubjectIndex::observeAll(size_t s, const ItemId* items, size_t n, const MaskedRules& rules,
                              History::Time window, uint64_t* observed) const {
    const Subject& sub = m_subjects[s];
    const History::Time* times = m_times.data() + sub.txnBegin;
    const uint32_t ntx = sub.txnEnd - sub.txnBegin;

    // For each of the subject's transactions, which of the items it holds.
    // Short histories use a table by position; long ones sort the hits.
    thread_local std::vector<uint64_t> holdsAt;
    thread_local std::vector<uint64_t> hits; // position << 6 | item index
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
    if (!byTable)
        std::sort(hits.begin(), hits.end());

    for (size_t first = 0; first < rules.size(); first += 64) {
        RuleWalk walk(rules, first, window, observed);
        size_t h = 0;
        for (uint32_t position = 0;;) {
            uint64_t holds = 0;
            if (byTable) {
                while (position < ntx && holdsAt[position] == 0)
                    ++position;
                if (position >= ntx)
                    break;
                holds = holdsAt[position++];
            } else {
                if (h >= hits.size())
                    break;
                position = static_cast<uint32_t>(hits[h] >> 6);
                for (; h < hits.size() && (hits[h] >> 6) == position; ++h)
                    holds |= uint64_t(1) << (hits[h] & 63);
            }
            if (!walk.step(holds, times[byTable ? position - 1 : position]))
                break;
        }
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
        RuleWalk walk(rules, first, window, observed);
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
