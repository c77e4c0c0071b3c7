// The level engine: frequent item sets one size at a time over the subject
// index (prefix join, subset pruning, support by holder lists), and the
// counting of every rule a level proposes.
#pragma once

#include "holders.hpp"
#include "index.hpp"
#include "plain.hpp"
#include "quorvel/mine.hpp"
#include "run.hpp"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace quorvel::rule::mining {

struct ItemTables;
class RuleBounds;
class OrderSplits;
class RuleFilter;

/// One level of frequent item sets: `size` ids per set, sets in item-set
/// order, each with the subjects holding it.
struct Level {
    size_t size = 0;
    std::vector<ItemId> ids;
    std::vector<Holders> holders;
    std::vector<size_t> counts;

    size_t sets() const { return counts.size(); }
    const ItemId* set(size_t k) const { return ids.data() + k * size; }
    /// The rules proposed from its sets.
    uint64_t proposals() const;
    /// Keeps the sets k for which keep(k) holds, in order, with their
    /// holders and counts.
    template <class Keep> void keepIf(Keep keep) {
        size_t at = 0;
        for (size_t k = 0; k < sets(); ++k) {
            if (!keep(k))
                continue;
            if (at != k) {
                std::copy(set(k), set(k) + size, ids.begin() + at * size);
                holders[at] = std::move(holders[k]);
                counts[at] = counts[k];
            }
            ++at;
        }
        ids.resize(at * size);
        holders.resize(at);
        counts.resize(at);
    }
};

/// The frequent single items.
Level frequentItems(const MiningParams& config, const SubjectIndex& index, const Run& run);

/// The next level: sets sharing all but their last item are joined, and a
/// candidate is kept when every subset is in `prev` and enough subjects
/// hold it. A set's holders in `prev` are released once it is joined, so
/// the new level's take their memory. Stops with an error before passing
/// the memory budget.
Level nextLevel(const MiningParams& config, const SubjectIndex& index, Level& prev, const Run& run);

/// The level's sets as item sets of the rule model, made on the threads.
std::vector<ItemSet> itemSetsOf(const SubjectIndex& index, const Level& level,
                                unsigned threads = 1);

/// Adds the sets of every level with their counts to an empty `all`;
/// `sets[l]` are those of `levels[l]` as item sets, moved from.
void record(const std::vector<Level>& levels, std::vector<std::vector<ItemSet>>& sets,
            ItemSetSupports& all);

/// Counts, over every subject, the rules proposed from each set of the
/// level that may reach the minimum count, adding those that reach it to
/// `counts`. `bounds` holds what the level before left and is given what
/// this one leaves (rule_bounds.hpp). Given `tables` that are not empty,
/// counts set by set from them (item_tables.hpp). Given `splits`, made at
/// level 2 and kept from level to level, counts by them where they suit
/// (order_splits.hpp).
/// The rules `filter` refuses are not counted.
void countLevel(const MiningParams& config, const SubjectIndex& index, const Level& level,
                RuleBounds& bounds, RuleHistogram& counts, const Run& run,
                const ItemTables* tables = nullptr, OrderSplits* splits = nullptr,
                const RuleFilter* filter = nullptr);

} // namespace quorvel::rule::mining
