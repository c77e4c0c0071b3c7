// Without a window a subject observes at most one rule of a set it holds:
// B is the set's items that appear first last, all in one transaction, A
// the rest (first_appearances.hpp). So the subjects whose items of a set
// split as A before B are those where every item of A appears first
// before B's lowest item b, and every other item of B appears first with
// b: an AND of relations between two items, one bitset over the subjects
// per pair. And the number of such subjects only shrinks as items are
// added to either side, so a split of a set is counted only when each
// split one item smaller reached the minimum count: a set's splits below
// it add up to at most its holders, so few are counted per set, whatever
// the number of its holders. A rule A => B, a split where the transaction
// of b does not hold all of A, is counted where its split reached the
// count.
#pragma once

#include "first_appearances.hpp"
#include "levels.hpp"
#include "rule_masks.hpp"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quorvel::rule::mining {

class FirstOrderSplits {
public:
    /// Not used: the rules are counted otherwise.
    FirstOrderSplits() = default;

    /// The relations of level 2's pairs, when this way suits every process
    /// of the run: no window, each has `firsts`, its relations take at most
    /// `config.pairRelationBytes`, and the minimum count is not so small
    /// against its subjects that many splits of each set reach it. Empty
    /// otherwise.
    static FirstOrderSplits of(const MiningParams& config, const SubjectIndex& index,
                               const Level& pairs, const FirstAppearances& firsts, const Run& run);

    bool empty() const { return !m_used; }

    /// Rule `rule` of `rules` of the level's set `set` in `count` subjects.
    struct Counted {
        uint32_t set;
        uint32_t rule;
        uint64_t count;
    };
    /// The counts of the rules `rules` proposes for the sets of `level` (the
    /// level after the one counted before), summed across processes, where
    /// they may reach the minimum count, in set order.
    std::vector<Counted> count(const MiningParams& config, const SubjectIndex& index,
                                const Level& level, const MaskedRules& rules, const Run& run);

    /// Subjects per bitset, against the minimum count, past which too many
    /// splits of a set may reach the count for this way to pay.
    static constexpr uint64_t MAX_SUBJECTS_PER_COUNT = 128;

private:
    /// Relations of a pair of items lo < hi, a bitset over the subjects
    /// holding both: which item appears first before the other, both in one
    /// transaction, and whether each is held where the other appears first.
    enum Relation { LO_FIRST, HI_FIRST, SAME_FIRST, LO_AT_HI, HI_AT_LO, RELATIONS };

    /// A split of a set to count: its B as a mask over the set's positions
    /// (all of them: every item appears first together, A is empty).
    struct Candidate {
        uint32_t set;
        uint64_t b;
    };

    /// Fills the relations of every pair over this process's subjects.
    void relate(const MiningParams& config, const SubjectIndex& index, const Level& pairs,
                const FirstAppearances& firsts);
    /// Counts `cands` here: their splits' counts, then their rules', in `sums`.
    void countHere(const MiningParams& config, const SubjectIndex& index, const Level& level,
                   const std::vector<Candidate>& cands, uint64_t* sums, const Run& run) const;

    const uint64_t* relation(ItemId x, ItemId y, Relation r) const;
    /// The subjects where item x appears first before y, or together with it.
    const uint64_t* before(ItemId x, ItemId y) const;
    const uint64_t* together(ItemId x, ItemId y) const;
    /// Where x is held at the transaction in which y appears first.
    const uint64_t* heldWhereFirst(ItemId x, ItemId y) const;

    /// The splits of each set of `level` whose smaller splits all reached
    /// the count.
    std::vector<Candidate> candidates(const Level& level) const;
    /// Of the level before: the index of the set `x` of `n` items without
    /// its item at `d`, or NONE.
    size_t findWithout(const ItemId* x, size_t n, size_t d) const;
    /// Of the level before: the index of a set of its size, or NONE.
    size_t find(const ItemId* x) const;
    /// Whether split `b` of the level before's set k reached the count.
    bool reached(size_t k, uint64_t b) const;

    /// Adds to `count` (the split) and `rule` (the rule it is, if proposed:
    /// those of its subjects whose transaction of B does not hold all of A)
    /// over this process's subjects; `buffer` holds a bitset's words.
    void countOne(const SubjectIndex& index, const ItemId* x, size_t n, uint64_t b, bool proposed,
                  uint64_t& count, uint64_t& rule, std::vector<uint64_t>& buffer) const;

    static constexpr size_t NONE = ~size_t(0);

    bool m_used = false;
    size_t m_subjects = 0;
    size_t m_words = 0;
    std::vector<ItemId> m_pairs;        // level 2's pairs, ascending
    std::vector<uint64_t> m_relations;  // [pair][relation][word]
    // The level counted last: its sets and, for each, the splits that
    // reached the count (B masks, ascending) from m_reachedBegin[k].
    size_t m_size = 0;
    std::vector<ItemId> m_ids;
    std::vector<uint32_t> m_reachedBegin;
    std::vector<uint64_t> m_reached;
};

} // namespace quorvel::rule::mining
