// A compact, read-only index of a transaction set for fast mining.
//
// Items become dense ids in item order, so a sorted id vector is an item set
// in item order. Each item has a bitset of the subjects whose history holds
// it: the support count of a set is the population count of the AND of its
// items' bitsets. Each subject keeps, per item, the sorted positions of the
// transactions holding it, which is all the windowed rule test needs.
#pragma once

#include "quorvel/rule.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace quorvel::rule::mining {

typedef uint32_t ItemId;
typedef std::vector<ItemId> IdSet;

/// A set of subjects, one bit each.
class SubjectBits {
public:
    SubjectBits() {}
    explicit SubjectBits(size_t subjects) : m_words((subjects + 63) / 64, 0) {}

    void set(size_t s) { m_words[s / 64] |= uint64_t(1) << (s % 64); }
    size_t count() const;
    /// This AND `other`, with its population count.
    SubjectBits intersect(const SubjectBits& other, size_t& count) const;
    template <class F> void forEach(F f) const {
        for (size_t w = 0; w < m_words.size(); ++w)
            for (uint64_t bits = m_words[w]; bits; bits &= bits - 1)
                f(w * 64 + static_cast<size_t>(__builtin_ctzll(bits)));
    }

private:
    std::vector<uint64_t> m_words;
};

class SubjectIndex {
public:
    explicit SubjectIndex(const TransactionSet& txns);

    size_t subjects() const { return m_subjects.size(); }
    size_t items() const { return m_items.size(); }
    const Item& item(ItemId id) const { return m_items[id]; }
    const SubjectBits& holders(ItemId id) const { return m_holders[id]; }
    /// The id of `item`; false when no history holds it.
    bool find(const Item& item, ItemId& id) const;
    /// Ids of every item of `is`; false when some item is unknown.
    bool toIds(const ItemSet& is, IdSet& out) const;
    ItemSet toItemSet(const IdSet& ids) const;
    ItemSet toItemSet(const ItemId* ids, size_t n) const;

    /// Whether subject `s` observes the rule A => B: some transaction holds
    /// all of B, none of B's items was seen in an earlier transaction within
    /// the window, all of A's were, and it does not hold all of A.
    bool observes(size_t s, const ItemId* a, size_t na, const ItemId* b, size_t nb,
                  History::Time window) const;

private:
    struct Span {
        const uint32_t* begin;
        const uint32_t* end;
    };
    struct SubjectItem {
        ItemId item;
        uint32_t begin;
        uint32_t end;
    };
    struct Subject {
        uint32_t txnBegin, txnEnd;   // into m_times
        uint32_t itemBegin, itemEnd; // into m_subjectItems
    };

    Span m_occurrences(size_t s, ItemId id) const;

    std::vector<Item> m_items;
    std::vector<SubjectBits> m_holders;
    std::vector<Subject> m_subjects;
    std::vector<History::Time> m_times;
    std::vector<SubjectItem> m_subjectItems;
    std::vector<uint32_t> m_positions;
};

} // namespace quorvel::rule::mining
