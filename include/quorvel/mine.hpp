// Mining an event log for sequential rules: the settings of a run, what a
// run is given besides them (where its messages and progress go, how to
// stop it, the processes sharing it), and what it finds. A run touches no
// process-wide state: runs with different settings may go side by side.
#pragma once

#include "brenlo/progress.hpp"
#include "quorvel/event_log.hpp"
#include "quorvel/formats.hpp"
#include "quorvel/peers.hpp"
#include "quorvel/rule.hpp"
#include "quorvel/thresholds.hpp"

#include <atomic>
#include <cstdint>
#include <iosfwd>
#include <stdexcept>
#include <vector>

namespace quorvel::rule {

/// Which rules a run finds.
enum class RuleKind {
    /// A => B where B follows A in a subject's history (within the window).
    ORDERED,
    /// A => b between the items a subject holds, in any order: every
    /// frequent set split into a one-item subsequent and the rest, counted
    /// by the subjects holding the whole set. No window applies.
    BASKET,
};

/// Which rules a run keeps, by their items' names; an empty list asks
/// nothing.
struct RuleConstraints {
    /// Every item of a kept rule's subsequent is one of these.
    std::vector<Item> subsequent;
    /// A kept rule's antecedent holds every one of these.
    std::vector<Item> antecedent;
    /// No kept rule holds any of these.
    std::vector<Item> exclude;

    bool any() const { return !subsequent.empty() || !antecedent.empty() || !exclude.empty(); }
    bool admits(const Rule& rule) const;
};

/// How p-values are adjusted for the number of rules tested.
enum class Adjustment {
    /// Holm's step-down correction: bounds the chance of any false rule.
    HOLM,
    /// Benjamini and Hochberg's step-up correction: bounds the expected
    /// share of false rules among those kept.
    BH,
};

struct MiningParams : Thresholds {
    RuleKind rules = RuleKind::ORDERED;
    /// The rules kept; the counting skips the rules these leave out.
    RuleConstraints constraints;
    /// Whether only productive rules are kept: a rule A => B whose lift
    /// passes 1 and whose confidence passes that of every rule A' => B
    /// with A' a proper subset of A (from the item-set counts, whether or
    /// not A' => B passes the thresholds).
    bool productive = false;
    /// Whether the item-set table must hold every frequent set. When not,
    /// a run whose constraints exclude items leaves out the sets holding
    /// them.
    bool allItemSets = true;
    /// The highest rule order: rules (and item sets) of at most maxOrder + 1
    /// items, antecedent and subsequent together; 0 for no limit.
    unsigned int maxOrder = 0;
    /// How long before the subsequent's transaction an antecedent item may
    /// have been last seen, in the log's time units (an item seen exactly
    /// this long before still counts); 0 is no window: any earlier
    /// occurrence counts, and any earlier occurrence of a subsequent item
    /// blocks the rule.
    unsigned int windowSize = 0;
    /// Whether each rule's delays are found (RuleSet::DELAYS): in each
    /// subject observing A => B at a transaction T, T's time minus the
    /// latest time before it, within the window, at which an item of A was
    /// seen. Ordered rules only.
    bool delays = false;
    /// The p-values found for each rule, as RuleSet::Columns: DEPENDENCE
    /// (from the item-set counts) and ORDER (ordered rules only: each
    /// subject holding a rule's items is walked once more for S => A).
    unsigned pValues = 0;
    /// When not negative, only rules whose adjusted p-values (of pValues)
    /// are at most maxP are kept. The family adjusted over is every rule
    /// the other settings keep.
    double maxP = -1;
    Adjustment adjust = Adjustment::HOLM;
    /// The p-values found: those of pValues, or with maxP alone every test
    /// the kind of rule has.
    unsigned tests() const {
        if (pValues || maxP < 0)
            return pValues;
        return rules == RuleKind::ORDERED ? RuleSet::DEPENDENCE | RuleSet::ORDER
                                          : RuleSet::DEPENDENCE;
    }
    /// When not 0, the `best` rules of highest count that the other settings
    /// keep, ties at the last count kept: the run searches for the count
    /// threshold (from the subjects down, a third at a time, never below minCount;
    /// within a run raised to the best-th count so far) and
    /// gives what a run at the count of the best-th rule gives, item sets
    /// too. The p-values are then adjusted over the rules kept.
    size_t best = 0;
    /// Threads for counting; 0 for one per processor.
    unsigned int threads = 0;
    /// Bytes the process may hold while mining; 0 for no limit. A level
    /// that would pass it stops the run with an error saying so.
    uint64_t memoryBudget = 0;
    /// Which rules a table of them shows, in what order.
    RuleSelection selection;
    /// Bytes level 2's table of pair counts may take (all threads); past
    /// it, pairs are joined as the other levels are. Tests make it 0.
    uint64_t pairTableBytes = uint64_t(64) << 20;
    /// Bytes a table of each item in each subject may take (where it first
    /// appears without a window, its masks with one), with which rules are
    /// counted set by set; past it, or a quarter of what the memory budget
    /// leaves, subject by subject. Tests make it 0.
    uint64_t itemTableBytes = uint64_t(128) << 20;
    /// Bytes the relations between the two items of each frequent pair may
    /// take (which appears first, and whether one is held where the other
    /// first appears), with which rules are counted without a window; past
    /// it, from the table above. Tests make it 0.
    uint64_t pairRelationBytes = uint64_t(64) << 20;
};

/// What a run is given besides its settings; every part may be left out.
struct MiningContext {
    /// Where the level lines go ("Mining item sets of 2 items", ...).
    std::ostream* messages = nullptr;
    /// Where the long stages say how far they have got.
    brenlo::Progress* progress = nullptr;
    /// Set from any thread to stop the run: it then throws Cancelled.
    const std::atomic<bool>* cancel = nullptr;
    /// The processes that share the run, each with its own subjects; the
    /// results are those of all subjects. This process alone when null.
    const Peers* peers = nullptr;
};

/// A run stopped through its context's `cancel`.
class Cancelled : public std::runtime_error {
public:
    Cancelled() : std::runtime_error("Cancelled.") {}
};

/// Seconds spent in each stage of a run.
struct StageTimes {
    double index = 0;
    double itemSets = 0;
    double rules = 0;
    double statistics = 0;
};

class MiningResult {
public:
    /// Every rule that met the thresholds, with its measures.
    const RuleSet& rules() const { return m_rules; }
    /// Every frequent item set with the number of subjects holding it.
    const ItemSetHistogram& itemSets() const { return m_itemSets; }
    const StageTimes& times() const { return m_times; }

private:
    friend MiningResult mine(const MiningParams&, const EventLog&, const MiningContext&);
    RuleSet m_rules;
    ItemSetHistogram m_itemSets;
    StageTimes m_times;
};

/// The frequent item sets of `log` and the rules among them that meet
/// `params`' thresholds. Errors (the memory budget, say) are exceptions.
MiningResult mine(const MiningParams& params, const EventLog& log,
                  const MiningContext& context = MiningContext());
MiningResult mine(const MiningParams& params, const TransactionSet& txns,
                  const MiningContext& context = MiningContext());

} // namespace quorvel::rule
