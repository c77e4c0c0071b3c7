// Rules counted from masks against the walk through each subject's
// transactions, which states the rule test plainly: one word and several,
// no window and windows, sets whose rules fill one hit word and several,
// sets that share their start with the set before, and subjects too long
// for masks; and the bounds the masks give against their definition.
#include "first_appearances.hpp"
#include "index.hpp"
#include "window_masks.hpp"
#include "rule_bounds.hpp"
#include "rule_masks.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <numeric>
#include <random>
#include <string>

using namespace quorvel::rule;
using namespace quorvel::rule::mining;

namespace {

// Subjects of 1 to 200 transactions (one to four mask words) over `items`
// items, several items a transaction, with gaps and equal times; in some,
// half the items are first held past 64 transactions.
std::string randomTable(std::mt19937& rng, int items) {
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    std::string table = "subject\ttime\titem\n";
    const int subjects = 1 + pick(6);
    for (int s = 0; s < subjects; ++s) {
        const int lengths[] = {1 + pick(10), 60 + pick(10), 120 + pick(80)};
        const int rows = lengths[pick(3)];
        // Now and then half the items first appear past the first word.
        const bool late = pick(3) == 0;
        unsigned time = static_cast<unsigned>(pick(5));
        for (int r = 0; r < rows; ++r) {
            table += "s" + std::to_string(s) + "\t" + std::to_string(time);
            const int reach = late && r < 64 ? std::max(1, items / 2) : items;
            for (int k = 1 + pick(4); k > 0; --k)
                table += "\ti" + std::to_string(10 + pick(reach));
            table += "\n";
            time += static_cast<unsigned>(pick(6));
        }
    }
    return table;
}

// Sorted sets of the index's items, in item-set order, many sharing all but
// their last items with the one before, as a level's sets do.
std::vector<IdSet> randomSets(std::mt19937& rng, size_t items) {
    std::vector<IdSet> sets;
    for (int n = 0; n < 12; ++n) {
        const size_t size = 2 + rng() % std::min<size_t>(items - 1, 15);
        IdSet all(items);
        for (size_t k = 0; k < items; ++k)
            all[k] = static_cast<ItemId>(k);
        std::shuffle(all.begin(), all.end(), rng);
        IdSet base(all.begin(), all.begin() + static_cast<long>(size));
        std::sort(base.begin(), base.end());
        sets.push_back(base);
        for (ItemId last = base.back() + 1; last < items && rng() % 3; ++last) {
            IdSet next = base;
            next.back() = last;
            sets.push_back(next);
        }
    }
    std::sort(sets.begin(), sets.end());
    return sets;
}

// The bound of rule A => B (masks over `set`) in subject `s`, as defined:
// some transaction holds all of B, none of B was seen within the window
// before it, and all of A was.
bool boundMet(const EventLog& log, size_t s, const IdSet& set, uint64_t a, uint64_t b,
              History::Time window) {
    const uint32_t from = log.subjectBegin[s], to = log.subjectBegin[s + 1];
    auto holds = [&](uint32_t t, ItemId id) {
        return std::binary_search(log.txnItems.begin() + log.txnBegin[t],
                                  log.txnItems.begin() + log.txnBegin[t + 1], id);
    };
    auto seenBefore = [&](uint32_t t, ItemId id) {
        for (uint32_t e = from; e < t; ++e)
            if (holds(e, id) && (window == 0 || uint64_t(log.txnTime[e]) + window >= log.txnTime[t]))
                return true;
        return false;
    };
    for (uint32_t t = from; t < to; ++t) {
        bool met = true;
        for (size_t k = 0; k < set.size() && met; ++k) {
            if (b >> k & 1)
                met = holds(t, set[k]) && !seenBefore(t, set[k]);
            else if (a >> k & 1)
                met = seenBefore(t, set[k]);
        }
        if (met)
            return true;
    }
    return false;
}

// Whether some item of `set` is first held in subject `s` past its first 64
// transactions.
bool lateIn(const EventLog& log, size_t s, const IdSet& set) {
    const uint32_t from = log.subjectBegin[s], to = log.subjectBegin[s + 1];
    for (ItemId id : set)
        for (uint32_t t = from; t < to; ++t)
            if (std::binary_search(log.txnItems.begin() + log.txnBegin[t],
                                   log.txnItems.begin() + log.txnBegin[t + 1], id)) {
                if (t - from >= 64)
                    return true;
                break;
            }
    return false;
}

// The rules of `set` in subject `s` alone, from a table of the items
// (FirstAppearances, WindowMasks), which is given only the set's holders.
template <class Table>
void observeByTable(const Table& table, const SubjectIndex& index, size_t s, const IdSet& set,
                    uint64_t* count, uint64_t* bound) {
    size_t held = 0;
    index.forEachItemOf(s, [&](ItemId id) {
        held += std::binary_search(set.begin(), set.end(), id);
    });
    table.observe(
        index, set.data(), set.size(),
        [&](auto f) {
            if (held == set.size())
                f(s);
        },
        count, bound);
}

} // namespace

TEST(RuleMasks, CountAsTheWalkThroughTheTransactions) {
    std::mt19937 rng(20261209);
    size_t compared = 0, observedSome = 0, manyRules = 0, boundsMet = 0, boundsAbove = 0,
           lateRules = 0, longerByTable = 0;
    for (int trial = 0; trial < 250; ++trial) {
        const int items = 2 + static_cast<int>(rng() % 15);
        const std::string table = randomTable(rng, items);
        const TransactionSet txns = testsupport::transactions(table);
        const SubjectIndex index(txns);
        const EventLog log = eventLogOf(txns);
        ASSERT_EQ(log.items.size(), index.items());
        if (index.items() < 2)
            continue;
        const unsigned window = trial % 3 == 0 ? 0u : 1u + static_cast<unsigned>(rng() % 12);
        // Every fourth trial walks the long subjects instead of masking them.
        const size_t maskWords = trial % 4 == 3 ? 8 : SubjectIndex::Cursor::DEFAULT_MASK_WORDS;
        SubjectIndex::Cursor cursor(index, window, maskWords);
        const FirstAppearances firsts(index);
        const WindowMasks masks(index, window);
        const std::vector<IdSet> sets = randomSets(rng, index.items());
        // Subjects in turn, and back again, as stretches hand them out.
        for (size_t pass = 0; pass < 2; ++pass)
            for (size_t s = 0; s < index.subjects(); ++s) {
                cursor.load(s);
                for (const IdSet& set : sets) {
                    const MaskedRules rules = MaskedRules::proposedFor(set.size());
                    std::vector<uint64_t> got(rules.size(), 0), want(rules.size(), 0),
                        bound(rules.size(), 0), wantBound(rules.size(), 0);
                    cursor.observe(set.data(), set.size(), rules, got.data(), bound.data());
                    index.observeAll(s, set.data(), set.size(), rules, window, want.data());
                    ASSERT_EQ(got, want) << "subject " << s << ", window " << window << ", "
                                         << set.size() << " items\n"
                                         << table;
                    for (size_t r = 0; r < rules.size(); ++r) {
                        wantBound[r] = boundMet(log, s, set, rules.antecedent[r],
                                                rules.subsequent[r], window);
                        ASSERT_LE(got[r], wantBound[r]) << "a count above its bound";
                    }
                    if (pass == 0) {
                        std::vector<uint64_t> count(rules.size(), 0), bounds(rules.size(), 0);
                        if (window == 0)
                            observeByTable(firsts, index, s, set, count.data(), bounds.data());
                        else
                            observeByTable(masks, index, s, set, count.data(), bounds.data());
                        ASSERT_EQ(count, want) << "subject " << s << ", window " << window << ", "
                                               << set.size() << " items, by a table\n"
                                               << table;
                        ASSERT_EQ(bounds, wantBound) << "subject " << s << ", window " << window
                                                     << ", " << set.size()
                                                     << " items, by a table\n"
                                                     << table;
                        const bool some = count != std::vector<uint64_t>(rules.size(), 0);
                        lateRules += window == 0 && some && lateIn(log, s, set);
                        longerByTable += window != 0 && some && index.transactionsOf(s) > 64;
                    }
                    // A walked subject bounds every rule by its weight.
                    if (bound != wantBound) {
                        ASSERT_EQ(maskWords, 8u) << "subject " << s << ", window " << window
                                                 << ", " << set.size() << " items\n"
                                                 << table;
                        ASSERT_EQ(bound, std::vector<uint64_t>(rules.size(), 1));
                        ++boundsAbove;
                    }
                    boundsMet += std::count(bound.begin(), bound.end(), 1u);
                    ++compared;
                    observedSome += got != std::vector<uint64_t>(rules.size(), 0);
                    manyRules += rules.size() > 64;
                }
            }
    }
    // The cases that matter came up.
    EXPECT_GT(compared, 10000u);
    EXPECT_GT(observedSome, 1000u);
    EXPECT_GT(manyRules, 500u);
    EXPECT_GT(boundsMet, 10000u);
    EXPECT_GT(boundsAbove, 100u);
    EXPECT_GT(lateRules, 10u);
    EXPECT_GT(longerByTable, 500u);
}

TEST(RuleMasks, SeenMasksFollowTheWindow) {
    // Transactions at 0, 5, 6, 20, 21; the item held at 0 and 20.
    const History::Time times[] = {0, 5, 6, 20, 21};
    const uint32_t at[] = {0, 3};
    uint64_t mask = 0;
    heldMask(at, 2, 1, &mask);
    EXPECT_EQ(mask, 0b01001u);
    seenMask(at, 2, times, 5, 0, &mask);
    EXPECT_EQ(mask, 0b11110u); // no window: every later transaction
    seenMask(at, 2, times, 5, 5, &mask);
    EXPECT_EQ(mask, 0b10010u); // 5 after 0, and 21 after 20
    seenMask(at, 2, times, 5, 6, &mask);
    EXPECT_EQ(mask, 0b10110u);
    seenMask(at, 2, times, 5, 20, &mask);
    EXPECT_EQ(mask, 0b11110u); // 20 is within 20 of 0, and 21 of 20
    // Past 64 transactions the range runs over words.
    std::vector<History::Time> many(150);
    for (size_t k = 0; k < many.size(); ++k)
        many[k] = static_cast<History::Time>(k);
    const uint32_t once[] = {60};
    uint64_t words[3];
    seenMask(once, 1, many.data(), many.size(), 70, words);
    EXPECT_EQ(words[0], ~uint64_t(0) << 61);
    EXPECT_EQ(words[1], ~uint64_t(0));
    EXPECT_EQ(words[2], (uint64_t(1) << (131 - 128)) - 1);
}

TEST(RuleMasks, RulesPastTheFirstSixtyFour) {
    // Of twelve items, a..e held first and f..l later: the rule
    // {h,...,l} => {a,...,g} is rule 66 of the set's 77, past one hit word.
    for (int filler : {0, 70, 130}) {
        std::string table = "subject\ttime\titem\n";
        for (int t = 0; t < filler; ++t)
            table += "s\t" + std::to_string(t) + "\tz\n";
        table += "s\t1000\th\ti\tj\tk\tl\n";
        table += "s\t1001\ta\tb\tc\td\te\tf\tg\n";
        const TransactionSet txns = testsupport::transactions(table);
        const SubjectIndex index(txns);
        IdSet set;
        ASSERT_TRUE(index.toIds(
            testsupport::set({"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l"}), set));
        const MaskedRules rules = MaskedRules::proposedFor(set.size());
        ASSERT_EQ(rules.size(), 77u);
        ASSERT_EQ(rules.antecedent[66], uint64_t(0b111110000000)) << "rule order changed";
        for (unsigned window : {0u, 1u}) {
            SubjectIndex::Cursor cursor(index, window);
            cursor.load(0);
            std::vector<uint64_t> got(rules.size(), 0), want(rules.size(), 0),
                bound(rules.size(), 0);
            cursor.observe(set.data(), set.size(), rules, got.data(), bound.data());
            index.observeAll(0, set.data(), set.size(), rules, window, want.data());
            EXPECT_EQ(got, want) << filler << " filler transactions";
            EXPECT_EQ(got[66], 1u) << filler << " filler transactions";
            EXPECT_EQ(bound[66], 1u) << filler << " filler transactions";
            if (window != 0) {
                std::vector<uint64_t> byTable(rules.size(), 0), tableBound(rules.size(), 0);
                observeByTable(WindowMasks(index, window), index, 0, set, byTable.data(),
                               tableBound.data());
                EXPECT_EQ(byTable, want) << filler << " filler transactions, by masks";
                EXPECT_EQ(tableBound[66], 1u) << filler << " filler transactions, by masks";
            }
        }
        std::vector<uint64_t> count(rules.size(), 0), bound(rules.size(), 0);
        observeByTable(FirstAppearances(index), index, 0, set, count.data(), bound.data());
        EXPECT_EQ(count[66], 1u) << filler << " filler transactions, by first appearances";
        EXPECT_EQ(std::accumulate(count.begin(), count.end(), uint64_t(0)), 1u);
        EXPECT_EQ(bound, count);
    }
}

namespace {

// The sets of `n` of the ids 0 .. items - 1, in item-set order.
Level everySet(size_t items, size_t n) {
    Level level;
    level.size = n;
    std::vector<bool> pick(items, false);
    std::fill(pick.begin(), pick.begin() + static_cast<long>(n), true);
    do {
        for (size_t k = 0; k < items; ++k)
            if (pick[k])
                level.ids.push_back(static_cast<ItemId>(k));
        level.counts.push_back(0);
    } while (std::prev_permutation(pick.begin(), pick.end()));
    return level;
}

typedef std::pair<IdSet, IdSet> SidedRule;

SidedRule sidesOf(const IdSet& set, uint64_t a, uint64_t b) {
    SidedRule rule;
    for (size_t k = 0; k < set.size(); ++k) {
        if (a >> k & 1)
            rule.first.push_back(set[k]);
        if (b >> k & 1)
            rule.second.push_back(set[k]);
    }
    return rule;
}

// The rules one item smaller that bound A => B: B less one item, and A
// less its first or last, where a side is left.
std::vector<SidedRule> smallerRules(const SidedRule& rule) {
    std::vector<SidedRule> out;
    const IdSet& a = rule.first;
    const IdSet& b = rule.second;
    if (b.size() > 1)
        for (size_t k = 0; k < b.size(); ++k) {
            IdSet less = b;
            less.erase(less.begin() + static_cast<long>(k));
            out.push_back({a, less});
        }
    if (a.size() > 1) {
        out.push_back({IdSet(a.begin() + 1, a.end()), b});
        out.push_back({IdSet(a.begin(), a.end() - 1), b});
    }
    return out;
}

} // namespace

// Only the sets with a rule left are counted, as the level engine does; the
// rules left after counting are exactly those whose bound reaches the
// count, and the bound of every rule is at most that of its smaller rules.
TEST(RuleBounds, ARuleIsLeftExactlyWhenItsBoundReachesTheCount) {
    std::mt19937 rng(912);
    size_t kept = 0, skipped = 0;
    for (int trial = 0; trial < 60; ++trial) {
        const int items = 3 + static_cast<int>(rng() % 4);
        const std::string table = randomTable(rng, items);
        const TransactionSet txns = testsupport::transactions(table);
        const SubjectIndex index(txns);
        const EventLog log = eventLogOf(txns);
        if (index.items() < 3)
            continue;
        const unsigned window = trial % 2 ? 0u : 1u + static_cast<unsigned>(rng() % 12);
        const uint64_t minCount = 1 + rng() % index.subjects();
        std::map<SidedRule, uint64_t> before; // each rule's bound, summed
        RuleBounds bounds;
        for (size_t n = 2; n <= index.items(); ++n) {
            const Level level = everySet(index.items(), n);
            const MaskedRules rules = MaskedRules::proposedFor(n);
            bounds = RuleBounds(level, rules, bounds);
            std::vector<uint64_t> sums(level.sets() * rules.size(), 0), given = sums;
            std::map<SidedRule, uint64_t> now;
            for (size_t k = 0; k < level.sets(); ++k) {
                const IdSet set(level.set(k), level.set(k) + n);
                for (size_t r = 0; r < rules.size(); ++r) {
                    uint64_t& sum = sums[k * rules.size() + r];
                    for (size_t s = 0; s < index.subjects(); ++s)
                        sum += boundMet(log, s, set, rules.antecedent[r], rules.subsequent[r],
                                        window);
                    const SidedRule rule = sidesOf(set, rules.antecedent[r], rules.subsequent[r]);
                    // Before counting, a rule is left while its smaller ones reached it.
                    bool left = true;
                    for (const SidedRule& smaller : smallerRules(rule)) {
                        ASSERT_LE(sum, before.at(smaller)) << table;
                        left = left && before.at(smaller) >= minCount;
                    }
                    ASSERT_EQ(bounds.live(k, r), left) << n << " items, rule " << r;
                    now[rule] = sum;
                    given[k * rules.size() + r] = bounds.anyOf(k) ? sum : 0;
                }
                skipped += !bounds.anyOf(k);
            }
            bounds.keepReaching(given.data(), minCount);
            for (size_t k = 0; k < level.sets(); ++k) {
                bool any = false;
                for (size_t r = 0; r < rules.size(); ++r) {
                    const bool reaches = sums[k * rules.size() + r] >= minCount;
                    ASSERT_EQ(bounds.live(k, r), reaches)
                        << n << " items, rule " << r << ", at least " << minCount << "\n"
                        << table;
                    any = any || reaches;
                    kept += reaches;
                }
                ASSERT_EQ(bounds.anyOf(k), any);
            }
            before = std::move(now);
        }
    }
    EXPECT_GT(kept, 100u);
    EXPECT_GT(skipped, 100u);
}

// Bounds given as a list of the rules left (as the splits with a window
// give them) leave exactly those, and the level after leaves a rule only
// while each of its smaller rules was listed.
TEST(RuleBounds, ListedRulesAreTheOnesLeft) {
    std::mt19937 rng(1210);
    for (int trial = 0; trial < 20; ++trial) {
        const Level level = everySet(6, 3), next = everySet(6, 4);
        const MaskedRules rules = MaskedRules::proposedFor(3), after = MaskedRules::proposedFor(4);
        std::vector<uint64_t> live;
        std::set<SidedRule> listed;
        for (size_t k = 0; k < level.sets(); ++k)
            for (size_t r = 0; r < rules.size(); ++r)
                if (rng() % 4 != 0) {
                    live.push_back(k * rules.size() + r);
                    listed.insert(sidesOf(IdSet(level.set(k), level.set(k) + 3),
                                          rules.antecedent[r], rules.subsequent[r]));
                }
        const RuleBounds bounds(level, rules, live);
        for (size_t k = 0; k < level.sets(); ++k) {
            bool any = false;
            for (size_t r = 0; r < rules.size(); ++r) {
                const bool want = std::binary_search(live.begin(), live.end(),
                                                     uint64_t(k * rules.size() + r));
                ASSERT_EQ(bounds.live(k, r), want) << k << ", rule " << r;
                any = any || want;
            }
            ASSERT_EQ(bounds.anyOf(k), any);
        }
        const RuleBounds then(next, after, bounds);
        for (size_t k = 0; k < next.sets(); ++k)
            for (size_t r = 0; r < after.size(); ++r) {
                bool left = true;
                for (const SidedRule& smaller :
                     smallerRules(sidesOf(IdSet(next.set(k), next.set(k) + 4),
                                          after.antecedent[r], after.subsequent[r])))
                    left = left && listed.count(smaller);
                ASSERT_EQ(then.live(k, r), left) << k << ", rule " << r;
            }
    }
}
