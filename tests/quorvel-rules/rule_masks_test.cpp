// Rules counted from masks against the walk through each subject's
// transactions, which states the rule test plainly: one word and several,
// no window and windows, sets whose rules fill one hit word and several,
// sets that share their start with the set before, and subjects too long
// for masks.
#include "index.hpp"
#include "rule_masks.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

using namespace quorvel::rule;
using namespace quorvel::rule::mining;

namespace {

// Subjects of 1 to 200 transactions (one to four mask words) over `items`
// items, several items a transaction, with gaps and equal times.
std::string randomTable(std::mt19937& rng, int items) {
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    std::string table = "subject\ttime\titem\n";
    const int subjects = 1 + pick(6);
    for (int s = 0; s < subjects; ++s) {
        const int lengths[] = {1 + pick(10), 60 + pick(10), 120 + pick(80)};
        const int rows = lengths[pick(3)];
        unsigned time = static_cast<unsigned>(pick(5));
        for (int r = 0; r < rows; ++r) {
            table += "s" + std::to_string(s) + "\t" + std::to_string(time);
            for (int k = 1 + pick(4); k > 0; --k)
                table += "\ti" + std::to_string(10 + pick(items));
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

} // namespace

TEST(RuleMasks, CountAsTheWalkThroughTheTransactions) {
    std::mt19937 rng(20261209);
    size_t compared = 0, observedSome = 0, manyRules = 0;
    for (int trial = 0; trial < 250; ++trial) {
        const int items = 2 + static_cast<int>(rng() % 15);
        const std::string table = randomTable(rng, items);
        const TransactionSet txns = testsupport::transactions(table);
        const SubjectIndex index(txns);
        if (index.items() < 2)
            continue;
        const unsigned window = trial % 3 == 0 ? 0u : 1u + static_cast<unsigned>(rng() % 12);
        // Every fourth trial walks the long subjects instead of masking them.
        const size_t maskWords = trial % 4 == 3 ? 8 : SubjectIndex::Cursor::DEFAULT_MASK_WORDS;
        SubjectIndex::Cursor cursor(index, window, maskWords);
        const std::vector<IdSet> sets = randomSets(rng, index.items());
        // Subjects in turn, and back again, as stretches hand them out.
        for (size_t pass = 0; pass < 2; ++pass)
            for (size_t s = 0; s < index.subjects(); ++s) {
                cursor.load(s);
                for (const IdSet& set : sets) {
                    const MaskedRules rules = MaskedRules::proposedFor(set.size());
                    std::vector<uint64_t> got(rules.size(), 0), want(rules.size(), 0);
                    cursor.observe(set.data(), set.size(), rules, got.data());
                    index.observeAll(s, set.data(), set.size(), rules, window, want.data());
                    ASSERT_EQ(got, want) << "subject " << s << ", window " << window << ", "
                                         << set.size() << " items\n"
                                         << table;
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
            std::vector<uint64_t> got(rules.size(), 0), want(rules.size(), 0);
            cursor.observe(set.data(), set.size(), rules, got.data());
            index.observeAll(0, set.data(), set.size(), rules, window, want.data());
            EXPECT_EQ(got, want) << filler << " filler transactions";
            EXPECT_EQ(got[66], 1u) << filler << " filler transactions";
        }
    }
}
