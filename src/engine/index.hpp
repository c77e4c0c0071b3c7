// A compact, read-only index of a transaction set for fast mining.
//
// Items become dense ids in item order, so a sorted id vector is an item set
// in item order. Each item has a bitset of the subjects whose history holds
// it: the support count of a set is the population count of the AND of its
// items' bitsets. Each subject keeps, per item, the sorted positions of the
// transactions holding it, which is all the windowed rule test needs.
#pragma once

#include "brenlo/unset.hpp"
#include "observe.hpp"
#include "quorvel/event_log.hpp"
#include "quorvel/peers.hpp"
#include "quorvel/rule.hpp"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace quorvel::rule::mining {

typedef std::vector<ItemId> IdSet;

/// Sets the `words` words at `out` to those at `a` AND those at `b`; the
/// bits set.
size_t andInto(const uint64_t* a, const uint64_t* b, uint64_t* out, size_t words);
/// The bits set in the `words` words at `w`.
size_t popcount(const uint64_t* w, size_t words);

/// A set of subjects, one bit each.
class SubjectBits {
public:
    SubjectBits() {}
    explicit SubjectBits(size_t subjects) : m_words((subjects + 63) / 64, 0) {}
    /// The subjects of `words`, 64 a word.
    explicit SubjectBits(std::vector<uint64_t> words) : m_words(std::move(words)) {}

    void set(size_t s) { m_words[s / 64] |= uint64_t(1) << (s % 64); }
    void reset(size_t s) { m_words[s / 64] &= ~(uint64_t(1) << (s % 64)); }
    bool test(size_t s) const { return m_words[s / 64] >> (s % 64) & 1; }
    size_t count() const;
    /// The population count of this AND `other`, without making it.
    size_t intersectCount(const SubjectBits& other) const;
    /// This AND `other`, with its population count.
    SubjectBits intersect(const SubjectBits& other, size_t& count) const;
    /// Calls f(subject) for each subject in the set, ascending.
    template <class F> void forEach(F f) const { forEach(0, m_words.size(), f); }
    /// The same for the subjects 64 * wordBegin up to 64 * wordEnd.
    template <class F> void forEach(size_t wordBegin, size_t wordEnd, F f) const {
        for (size_t w = wordBegin; w < wordEnd && w < m_words.size(); ++w)
            for (uint64_t bits = m_words[w]; bits; bits &= bits - 1)
                f(w * 64 + static_cast<size_t>(__builtin_ctzll(bits)));
    }

    size_t words() const { return m_words.size(); }
    const uint64_t* data() const { return m_words.data(); }
    /// The words, leaving the set empty.
    std::vector<uint64_t> release() { return std::move(m_words); }

private:
    std::vector<uint64_t> m_words;
};

/// How an index is made from a log: items held by fewer than `minCount`
/// subjects left out (they take part in no frequent set), and, with
/// `merge`, subjects whose histories agree counted once with a weight. With
/// `byTime` the histories must agree in the time between transactions too,
/// as a window needs; without, only in their order.
struct IndexShape {
    size_t minCount = 0;
    bool merge = false;
    bool byTime = false;
    /// Threads to build it on, each taking `stretch` subjects at a time
    /// (0: a few stretches a thread).
    unsigned threads = 1;
    size_t stretch = 0;
    /// The processes whose subjects together decide which items are
    /// frequent; this one alone when null.
    const Peers* peers = nullptr;
};

class HistoryTable;

class SubjectIndex {
public:
    /// Every subject and item of `txns`, each subject counted once.
    explicit SubjectIndex(const TransactionSet& txns);
    SubjectIndex(const EventLog& log, const IndexShape& shape);

    size_t subjects() const { return m_subjects.size(); }
    /// How many subjects of the log subject `s` stands for.
    uint32_t weight(size_t s) const { return m_weights.empty() ? 1 : m_weights[s]; }
    /// Whether every subject stands for itself alone.
    bool unweighted() const { return m_weights.empty(); }
    /// The weight of the `count` subjects of `bits` (as many words as a
    /// SubjectBits of the index has).
    size_t weightOf(const uint64_t* bits, size_t count) const;
    /// The weight of the subjects holding the item.
    size_t holderWeight(ItemId id) const {
        return m_weights.empty() ? holderCount(id) : m_holderWeight[id];
    }
    size_t items() const { return m_items.size(); }
    const Item& item(ItemId id) const { return m_items[id]; }
    /// The number of subjects whose history holds the item.
    size_t holderCount(ItemId id) const { return m_holderBegin[id + 1] - m_holderBegin[id]; }
    /// Those subjects as a bitset, made on first use (most items of a large
    /// catalogue are never frequent and never need one); safe from threads.
    const SubjectBits& holders(ItemId id) const;
    /// The same subjects as an ascending list.
    std::vector<uint32_t> holderList(ItemId id) const {
        return std::vector<uint32_t>(m_holderList.begin() + m_holderBegin[id],
                                     m_holderList.begin() + m_holderBegin[id + 1]);
    }
    /// Whether some history has two transactions or more, so that a rule
    /// can be observed at all.
    bool anyLongerThanOne() const {
        for (const Subject& sub : m_subjects)
            if (sub.txnEnd - sub.txnBegin > 1)
                return true;
        return false;
    }
    /// Calls f(id) for every item of subject `s`'s history, ascending.
    template <class F> void forEachItemOf(size_t s, F f) const {
        for (uint32_t k = m_subjects[s].itemBegin; k < m_subjects[s].itemEnd; ++k)
            f(m_subjectItems[k].item);
    }
    /// Calls f(id, entry, first) for every item of subject `s`'s history,
    /// ascending: `entry` names the item's transactions there (holdsAt),
    /// and `first` is the place of the first of them among the subject's.
    template <class F> void forEachEntryOf(size_t s, F f) const {
        for (uint32_t k = m_subjects[s].itemBegin; k < m_subjects[s].itemEnd; ++k)
            f(m_subjectItems[k].item, k, m_positions[m_subjectItems[k].begin]);
    }
    /// The masks (rule_masks.hpp) of subject `s`'s `entry`, a word for
    /// every 64 of its transactions: those holding the item into `at`, and
    /// those in which it was seen within `window` before into `seen`, when
    /// given.
    void entryMasks(size_t s, uint32_t entry, History::Time window, uint64_t* at,
                    uint64_t* seen) const;
    /// How many transactions subject `s`'s history has.
    size_t transactionsOf(size_t s) const { return m_subjects[s].txnEnd - m_subjects[s].txnBegin; }
    /// Whether the subject's transaction at `position` holds the item of
    /// `entry`.
    bool holdsAt(uint32_t entry, uint32_t position) const {
        const uint32_t* p = m_positions.data();
        return std::binary_search(p + m_subjectItems[entry].begin, p + m_subjectItems[entry].end,
                                  position);
    }
    /// Which of the subject's first 64 transactions hold the item of
    /// `entry`, one bit each.
    uint64_t heldAmongFirst64(uint32_t entry) const {
        uint64_t held = 0;
        for (uint32_t k = m_subjectItems[entry].begin;
             k < m_subjectItems[entry].end && m_positions[k] < 64; ++k)
            held |= uint64_t(1) << m_positions[k];
        return held;
    }
    /// The id of `item`; false when no history holds it.
    bool find(const Item& item, ItemId& id) const;
    /// Ids of every item of `is`; false when some item is unknown.
    bool toIds(const ItemSet& is, IdSet& out) const;
    ItemSet toItemSet(const IdSet& ids) const;
    ItemSet toItemSet(const ItemId* ids, size_t n) const;

    /// One transaction of a subject as a walk takes it.
    struct TimedHolds {
        History::Time time;
        uint64_t holds; // which of the set's items it holds
    };
    /// Subject `s`'s transactions that hold any of the `n` items (at most
    /// 64, ascending), in time order.
    void timedHolds(size_t s, const ItemId* items, size_t n, std::vector<TimedHolds>& out) const;

    /// Adds the subject's weight to `observed[r]` for every rule r that subject `s` observes
    /// (see RuleWalk). `items` are the `n` ids of the rules' item set,
    /// ascending. The walk does not tell the rules' bounds (rule_masks.hpp)
    /// apart: given `bound`, it adds the weight to every rule's.
    void observeAll(size_t s, const ItemId* items, size_t n, const MaskedRules& rules,
                    History::Time window, uint64_t* observed, uint64_t* bound = nullptr) const;

    /// Tests many item sets against one subject at a time: the subject's
    /// items are looked up in a table, and each item's masks over the
    /// subject's transactions (see rule_masks.hpp) are made once, when a
    /// set first needs them, for every set of the subject.
    class Cursor {
    public:
        /// Counts with `window`. A subject whose masks would pass
        /// `maskWords` words in all is walked instead (observeAll).
        Cursor(const SubjectIndex& index, History::Time window,
               size_t maskWords = DEFAULT_MASK_WORDS);
        /// Makes `s` the current subject.
        void load(size_t s);
        /// observeAll for the current subject, with the cursor's window,
        /// adding the weight to `bound[r]` for every rule r whose bound the
        /// subject meets.
        void observe(const ItemId* items, size_t n, const MaskedRules& rules, uint64_t* observed,
                     uint64_t* bound);

        static constexpr size_t DEFAULT_MASK_WORDS = size_t(1) << 22;

    private:
        static constexpr uint32_t NONE = 0xFFFFFFFFu;
        /// Makes the masks of the subject's entry `e`, its `local`-th:
        /// `at`, then `seen`.
        void makeMasks(uint32_t e, size_t local);
        /// observe without a window, from where the set's items first appear.
        template <class MasksOf>
        void observeFirsts(const ItemId* items, size_t n, uint64_t* observed, uint64_t* bound,
                           MasksOf& masksOf, uint32_t weight);

        const SubjectIndex& m_index;
        History::Time m_window;
        size_t m_maskWords;
        std::vector<uint32_t> m_slot;  // item -> entry of the current subject
        std::vector<uint32_t> m_first; // item -> its first transaction there
        size_t m_subject;
        size_t m_words = 0;            // per mask of the current subject
        bool m_walk = false;           // the subject is too long for masks
        std::vector<uint64_t> m_masks; // per entry of the subject, 2 * m_words
        std::vector<uint8_t> m_ready;  // per entry of the subject: masks made
        std::vector<uint64_t> m_zero;  // the masks of an item not held
        // One-word masks of the last set observed in the subject, its
        // fresh ANDs (`m_before`) and held ORs (`m_any`) from its start.
        ItemId m_last[MAX_RULE_ITEMS];
        size_t m_lastN = 0;
        uint64_t m_at[MAX_RULE_ITEMS], m_seen[MAX_RULE_ITEMS];
        uint64_t m_before[MAX_RULE_ITEMS + 1], m_any[MAX_RULE_ITEMS + 1];
    };

private:
    SubjectIndex() = default;
    /// Indexes the subjects `from` to `to` of `log`, merging equal histories
    /// through `seen`.
    void addSubjects(const EventLog& log, size_t from, size_t to, const std::vector<bool>& keep,
                     const IndexShape& shape, HistoryTable& seen);
    /// Puts the pieces' subjects here in order, copied on `threads`
    /// threads, merging histories equal across pieces.
    void join(std::vector<std::unique_ptr<SubjectIndex>>& pieces, const IndexShape& shape);
    /// Drops the subjects of `from` on whose history an earlier one agrees,
    /// adding their weight to its.
    void mergeAcross(const std::vector<uint32_t>& from, const IndexShape& shape);
    /// Puts the subjects of weight above 1 first, so that weightOf reads
    /// their words only.
    void heavyFirst();
    /// A subject's kept items as met, and room to group them by item.
    struct Occurrences {
        std::vector<std::pair<ItemId, uint32_t>> held; // (item, position)
        std::vector<uint32_t> count;                   // per item, 0 between subjects
        std::vector<ItemId> distinct;
    };
    void addSubject(const EventLog& log, size_t s, const std::vector<bool>& keep, bool all,
                    Occurrences& scratch);
    void groupByItem(Occurrences& scratch);
    uint64_t hashOf(size_t r, bool byTime) const;
    static bool sameHistory(const SubjectIndex& a, size_t ra, const SubjectIndex& b, size_t rb,
                            bool byTime);
    void dropLast();
    void buildHolderLists();

    struct Subject;
    /// The subject's transactions that hold any of the `n` items, in order.
    void gatherHolds(const Subject& sub, const ItemId* items, size_t n,
                     std::vector<TimedHolds>& out) const;

    struct SubjectItem {
        ItemId item;
        uint32_t begin;
        uint32_t end;
    };
    struct Subject {
        uint32_t txnBegin, txnEnd;   // into m_times
        uint32_t itemBegin, itemEnd; // into m_subjectItems
    };

    std::vector<Item> m_items;
    std::vector<uint32_t> m_weights;      // per subject; empty: all 1
    std::vector<uint64_t> m_hashes;       // per subject while building
    std::vector<uint64_t> m_holderWeight; // per item, with weights
    size_t m_heavy = 0;                   // subjects of weight above 1, first
    std::vector<uint32_t> m_holderBegin;  // item -> range of m_holderList
    std::vector<uint32_t> m_holderList;   // subjects, ascending, per item
    // Made on first use, by whichever thread asks first.
    mutable std::vector<SubjectBits> m_holders;
    mutable std::unique_ptr<std::once_flag[]> m_built;
    std::vector<Subject> m_subjects;
    std::vector<History::Time, brenlo::Unset<History::Time>> m_times;
    std::vector<SubjectItem, brenlo::Unset<SubjectItem>> m_subjectItems;
    std::vector<uint32_t, brenlo::Unset<uint32_t>> m_positions;
};

} // namespace quorvel::rule::mining
