// A subject observes A => B at a transaction holding all of B, none of it
// seen within the window before, where all of A was (rule_masks.hpp). So
// wherever a subject observes it, every item of A was seen before every
// item of B turned up fresh, and B's items turned up fresh together: for
// each pair of the set's items, a relation between the two, one bitset over
// the subjects per pair. The AND of a split's relations bounds the rule's
// count, and it only shrinks as items are added to either side, so a split
// of a set is tried only where every split one item smaller reached the
// minimum count.
//
// Without a window an item is fresh only where it first appears, so a
// subject splits each set it holds one way: B the items that appear first
// last, A the rest. The AND is then exact, needs only the relations of B's
// lowest item, and a set's splits that reach the count add up to at most
// its holders, so few are counted per set whatever the number of holders.
// The rule is counted where its split reached the count, from whether B's
// transaction holds each item of A. With a window the bound only tells
// which sets' rules are worth counting (rule_bounds.hpp).
#pragma once

#include "first_appearances.hpp"
#include "levels.hpp"
#include "rule_filter.hpp"
#include "rule_masks.hpp"
#include "set_index.hpp"
#include "window_masks.hpp"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quorvel::rule::mining {

class OrderSplits {
public:
    /// Not used: the rules are counted otherwise.
    OrderSplits() = default;

    /// The relations of level 2's pairs, when this way suits every process
    /// of the run: each has the table its window asks for (`firsts`
    /// without one, `masks` with one), the relations take at most
    /// `config.pairRelationBytes`, and the minimum count is not so small
    /// against the subjects that many splits of each set reach it. Empty
    /// otherwise.
    static OrderSplits of(const MiningParams& config, const SubjectIndex& index, const Level& pairs,
                          const FirstAppearances& firsts, const WindowMasks& masks, const Run& run);

    bool empty() const { return !m_used; }
    /// Whether the counts of a level of sets of `size` items are exact (no
    /// window, or pairs) or bounds.
    bool exactAt(size_t size) const { return m_exact || size == 2; }

    /// Rule `rule` of `rules` of the level's set `set` in `count` subjects.
    struct Counted {
        uint32_t set;
        uint32_t rule;
        uint64_t count;
    };
    /// For the sets of `level` (the level after the one counted before),
    /// the rules `rules` proposes that may reach the minimum count, in set
    /// order, with their counts (exactAt()) or their bounds, summed across
    /// processes. With a window, when a level has more splits to try than
    /// rules to count, nothing: this stops being used.
    /// Splits `filter` refuses are not tried.
    std::vector<Counted> count(const MiningParams& config, const SubjectIndex& index,
                               const Level& level, const MaskedRules& rules, const Run& run,
                               const RuleFilter& filter);

    /// Subjects per bitset, against the minimum count, past which too many
    /// splits of a set may reach the count for this way to pay.
    static constexpr uint64_t MAX_SUBJECTS_PER_COUNT = 128;

private:
    /// Relations of a pair of items lo < hi, a bitset over the subjects
    /// holding both: some transaction where one turns up fresh with the
    /// other seen before, or both fresh; without a window, whether each is
    /// held where the other first appears; with one, where lo => hi and
    /// hi => lo are observed, the rules of the pair.
    enum Relation {
        LO_BEFORE,
        HI_BEFORE,
        TOGETHER,
        LO_AT_HI,
        HI_AT_LO,
        RELATIONS,
        LO_RULE = LO_AT_HI,
        HI_RULE = HI_AT_LO
    };

    /// A split of a set to count: its B as a mask over the set's positions
    /// (all of them: every item turns up fresh together, A is empty).
    struct Candidate {
        uint32_t set;
        uint64_t b;
    };

    /// Fills the relations of every pair over this process's subjects.
    void relate(const MiningParams& config, const SubjectIndex& index, const Level& pairs,
                const FirstAppearances& firsts, const WindowMasks& masks);
    /// Counts `cands` here: their splits' counts, then their rules', in `sums`.
    void countHere(const MiningParams& config, const SubjectIndex& index, const Level& level,
                   const std::vector<Candidate>& cands, uint64_t* sums, const Run& run) const;

    const uint64_t* relation(ItemId x, ItemId y, Relation r) const;
    /// The subjects where x was seen before y turned up fresh.
    const uint64_t* before(ItemId x, ItemId y) const;
    const uint64_t* together(ItemId x, ItemId y) const;
    /// Where x is held at the transaction in which y appears first.
    const uint64_t* heldWhereFirst(ItemId x, ItemId y) const;

    /// The splits of each set of `level` whose smaller splits all reached
    /// the count.
    std::vector<Candidate> candidates(const Level& level, const RuleFilter& filter) const;
    /// Of the level before: the index of the set `x` of `n` items without
    /// its item at `d`, or NONE.
    size_t findWithout(const ItemId* x, size_t n, size_t d) const;
    /// Of the level before: the index of a set of its size, or NONE.
    size_t find(const ItemId* x) const;
    /// Whether split `b` of the level before's set k reached the count.
    bool reached(size_t k, uint64_t b) const;

    /// Adds to `count` the split's count or bound and, without a window,
    /// to `rule` that of the rule it is, if proposed (those of its subjects
    /// whose transaction of B does not hold all of A), over this process's
    /// subjects; `buffer` holds two bitsets' words.
    void countOne(const SubjectIndex& index, const ItemId* x, size_t n, uint64_t b, bool proposed,
                  uint64_t& count, uint64_t& rule, std::vector<uint64_t>& buffer) const;

    /// With a window: word operations of the bounds of `cands`, across all
    /// processes, and against them, of counting the level's rules holder
    /// by holder, HOLDER_WORDS for each item of each holder.
    uint64_t splitWork(const Level& level, const std::vector<Candidate>& cands) const;
    static uint64_t holderWork(const Level& level);
    static constexpr uint64_t HOLDER_WORDS = 4;

    static constexpr size_t NONE = ~size_t(0);

    bool m_used = false;
    bool m_exact = true;
    size_t m_subjects = 0;
    size_t m_words = 0;
    uint64_t m_allSubjects = 0;        // of every process
    std::vector<ItemId> m_pairs;       // level 2's pairs, ascending
    SetIndex m_pairSets;               // of m_pairs
    std::vector<uint64_t> m_relations; // [pair][relation][word]
    // The level counted last: its sets and, for each, the splits that
    // reached the count (B masks, ascending) from m_reachedBegin[k].
    size_t m_size = 0;
    std::vector<ItemId> m_ids;
    SetIndex m_sets; // of m_ids
    std::vector<uint32_t> m_reachedBegin;
    std::vector<uint64_t> m_reached;
};

} // namespace quorvel::rule::mining
