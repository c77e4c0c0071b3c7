// The subject index built on several threads, in stretches, is the index
// built subject by subject: the same subjects, weights, holders and walks.
#include "holders.hpp"
#include "index.hpp"
#include "ingest.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>

using namespace quorvel::rule;
using namespace quorvel::rule::mining;

namespace {

// Histories with many repeats, so merging has work to do.
std::string randomTable(std::mt19937& rng) {
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    std::string table = "subject\ttime\titem\n";
    const int subjects = 1 + pick(200);
    for (int s = 0; s < subjects; ++s) {
        const int model = pick(3) == 0 ? s : pick(7); // a few shapes, copied often
        std::mt19937 shape(static_cast<unsigned>(model));
        const int rows = 1 + static_cast<int>(shape() % 6);
        const unsigned shift = pick(2) ? 0u : static_cast<unsigned>(pick(9));
        for (int r = 0; r < rows; ++r)
            table += "s" + std::to_string(s) + "\t" + std::to_string(r * 3 + shift + shape() % 2) +
                     "\ti" + std::to_string(shape() % 6) + "\n";
    }
    return table;
}

void expectSame(const SubjectIndex& a, const SubjectIndex& b, const std::string& table) {
    ASSERT_EQ(a.subjects(), b.subjects()) << table;
    ASSERT_EQ(a.items(), b.items());
    for (size_t s = 0; s < a.subjects(); ++s)
        ASSERT_EQ(a.weight(s), b.weight(s)) << "subject " << s << "\n" << table;
    const MaskedRules rules = MaskedRules::proposedFor(2);
    for (ItemId x = 0; x < a.items(); ++x) {
        ASSERT_EQ(a.holderList(x), b.holderList(x));
        ASSERT_EQ(a.holderWeight(x), b.holderWeight(x));
        for (ItemId y = x + 1; y < a.items(); ++y) {
            const ItemId set[] = {x, y};
            for (unsigned window : {0u, 2u}) {
                std::vector<uint64_t> oa(rules.size(), 0), ob(rules.size(), 0);
                for (size_t s = 0; s < a.subjects(); ++s) {
                    a.observeAll(s, set, 2, rules, window, oa.data());
                    b.observeAll(s, set, 2, rules, window, ob.data());
                }
                ASSERT_EQ(oa, ob) << table;
            }
        }
    }
}

} // namespace

TEST(SubjectIndex, BuiltInStretchesOnThreadsIsTheSameIndex) {
    std::mt19937 rng(7);
    for (int n = 0; n < 150; ++n) {
        const std::string table = randomTable(rng);
        const EventLog log = parseEventLog(table, "t", '\t', 1);
        IndexShape one;
        one.minCount = n % 3;
        one.merge = n % 4 != 0;
        one.byTime = n % 2 == 0;
        IndexShape many = one;
        many.threads = 1 + n % 3;
        many.stretch = 1 + n % 11;
        expectSame(SubjectIndex(log, one), SubjectIndex(log, many), table);
    }
}

// Holders in either form give the subjects of any range, ranges that start
// and end inside a word and follow one another as a level's blocks do.
TEST(Holders, EitherFormGivesTheSubjectsOfARange) {
    std::mt19937 rng(77);
    size_t dense = 0, sparse = 0;
    for (int trial = 0; trial < 300; ++trial) {
        const size_t subjects = 1 + rng() % 700;
        const unsigned share = 1 + rng() % 64; // one in `share` holds the set
        std::vector<uint32_t> list;
        for (uint32_t s = 0; s < subjects; ++s)
            if (rng() % share == 0)
                list.push_back(s);
        const mining::Holders holders = mining::Holders::of(list, subjects);
        ASSERT_EQ(holders.size(), list.size());
        (holders.dense() ? dense : sparse) += 1;
        const size_t step = 1 + rng() % 150;
        size_t at = 0;
        std::vector<uint32_t> got;
        for (size_t from = 0; from < subjects; from += step) {
            const size_t to = std::min(subjects, from + step);
            holders.forEachIn(from, to, at, [&](size_t s) {
                ASSERT_GE(s, from);
                ASSERT_LT(s, to);
                got.push_back(static_cast<uint32_t>(s));
            });
        }
        ASSERT_EQ(got, list) << subjects << " subjects, ranges of " << step;
    }
    EXPECT_GT(dense, 50u);
    EXPECT_GT(sparse, 50u);
}
