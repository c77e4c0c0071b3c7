#include "quorvel/rule.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <sstream>
#include <stdexcept>

using namespace quorvel::rule;
using testsupport::set;
using testsupport::transactions;

TEST(ItemSetOrder, SetsSortBeforeTheirPrefixesAndEmptyLast) {
    std::vector<ItemSet> ordered = {set({"a", "b"}), set({"a", "d"}), set({"a"}), set({"b"}),
                                    set({})};
    for (size_t i = 0; i < ordered.size(); ++i)
        for (size_t j = 0; j < ordered.size(); ++j) {
            EXPECT_EQ(ordered[i] < ordered[j], i < j) << i << " vs " << j;
            EXPECT_EQ(ordered[i].cmp(ordered[j]) == 0, i == j);
        }
    EXPECT_LT(set({"B"}), set({"a"}));
    EXPECT_LT(set({"a"}), set({"a1"}));
    // Bytes compare unsigned: a UTF-8 lead byte sorts after ASCII.
    EXPECT_LT(set({"z"}), set({"\xc3\xa9"}));
}

TEST(ItemSetOrder, IsAStrictTotalOrderOverGeneratedSets) {
    std::mt19937 rng(7);
    const char* pool[] = {"a", "b", "c", "d", "ab", "B"};
    auto random = [&] {
        ItemSet s;
        int n = static_cast<int>(rng() % 4);
        for (int k = 0; k < n; ++k)
            s.add(pool[rng() % 6]);
        return s;
    };
    for (int k = 0; k < 2000; ++k) {
        ItemSet x = random(), y = random(), z = random();
        int xy = x.cmp(y), yx = y.cmp(x);
        EXPECT_EQ(xy == 0, x == y);
        EXPECT_EQ(xy<0, yx> 0);
        EXPECT_FALSE(x < x);
        if (x < y && y < z) {
            EXPECT_LT(x, z);
        }
    }
}

TEST(RuleOrder, ByAntecedentThenSubsequent) {
    Rule longer(set({"a", "b"}), set({"z"}));
    Rule shorter(set({"a"}), set({"b"}));
    EXPECT_LT(longer, shorter);
    EXPECT_LT(Rule(set({"a"}), set({"b"})), Rule(set({"a"}), set({"c"})));
    EXPECT_LT(Rule(set({"a"}), set({"b", "c"})), Rule(set({"a"}), set({"b"})));
    EXPECT_EQ(Rule(set({"a"}), set({"b"})).cmp(Rule(set({"a"}), set({"b"}))), 0);
}

TEST(ItemSetOps, ContainsMergeLeast) {
    EXPECT_TRUE(set({"a", "b", "d"}).contains(set({"a", "d"})));
    EXPECT_TRUE(set({"a", "b"}).contains(set({})));
    EXPECT_FALSE(set({}).contains(set({"a"})));
    EXPECT_FALSE(set({"a", "b"}).contains(set({"a", "c"})));

    ItemSet left = set({"a", "b"}), right = set({"b", "d"});
    EXPECT_EQ(left.merge(right), set({"a", "b", "d"}));
    EXPECT_EQ(left, set({"a", "b"}));
    EXPECT_EQ(right, set({"b", "d"}));
    EXPECT_EQ(Rule(set({"a"}), set({"b", "d"})).items(), set({"a", "b", "d"}));

    EXPECT_EQ(set({"b", "a"}).least(), "a");
    EXPECT_THROW(set({}).least(), std::out_of_range);
}

// Items come in any order and more than once (a history's transactions, a
// parsed set); the set keeps each once, ascending.
TEST(ItemSetOps, AddKeepsOrderAndOneOfEach) {
    ItemSet s;
    for (const char* item : {"m", "c", "x", "c", "a", "m", "x", "b"})
        s.add(Item(item));
    EXPECT_EQ(s.size(), 5u);
    EXPECT_EQ(s.toString(), "{a,b,c,m,x}");
    EXPECT_TRUE(s.contains(Item("m")));
    EXPECT_FALSE(s.contains(Item("d")));
    s.add(set({"b", "d", "z"}));
    EXPECT_EQ(s.toString(), "{a,b,c,d,m,x,z}");
    s.add(set({"zz"}));
    s.add(set({}));
    EXPECT_EQ(s.toString(), "{a,b,c,d,m,x,z,zz}");
}

TEST(Texts, ItemSetsAndRules) {
    EXPECT_EQ(set({}).toString(), "{}");
    EXPECT_EQ(set({"b", "a"}).toString(), "{a,b}");
    EXPECT_EQ(set({"x"}).toString(), "{x}");
    EXPECT_EQ(Rule(set({"x"}), set({"y"})).toString(), "x => y");
    EXPECT_EQ(Rule(set({"a", "b"}), set({"d"})).toString(), "{a,b} => d");
    EXPECT_EQ(Rule(set({"x"}), set({"y", "z"})).toString(), "x => {y,z}");
    EXPECT_EQ(Rule(set({}), set({"d"})).toString(), "{} => d");
    std::ostringstream out;
    out << set({"p"}) << ' ' << Rule(set({"p"}), Item("q"));
    EXPECT_EQ(out.str(), "{p} p => q");
    EXPECT_EQ(std::string(set({"m", "n"})), "{m,n}");
}

TEST(Texts, ItemsThatWouldNotReadBackAreQuoted) {
    EXPECT_EQ(set({"milk powder", "a-b"}).toString(), "{a-b,milk powder}");
    EXPECT_EQ(set({"a,b"}).toString(), "{\"a,b\"}");
    EXPECT_EQ(set({"say \"hi\""}).toString(), "{\"say \"\"hi\"\"\"}");
    EXPECT_EQ(Rule(set({"x=>y"}), set({" pad"})).toString(), "\"x=>y\" => \" pad\"");
    EXPECT_EQ(Rule(set({""}), set({"{b}"})).toString(), "\"\" => \"{b}\"");
    EXPECT_EQ(set({"tab\there"}).toString(), "{\"tab\there\"}");
    EXPECT_TRUE(isPlainItem("x{y}"));
    EXPECT_FALSE(isPlainItem("cream cheese "));
}

TEST(History, ContainsLooksAtTheUnionOfAllTransactions) {
    TransactionSet txns = transactions("h\ns\t1\ta\ns\t5\tb\n");
    const History& h = txns.begin()->second;
    EXPECT_TRUE(h.contains(set({"a", "b"})));
    EXPECT_TRUE(h.contains(set({"a"})));
    EXPECT_TRUE(h.contains(set({})));
    EXPECT_FALSE(h.contains(set({"a", "d"})));
    EXPECT_EQ(h.allItems(), set({"a", "b"}));
    EXPECT_TRUE(h.contains(5u));
    EXPECT_FALSE(h.contains(4u));
    EXPECT_EQ(h.at(1), set({"a"}));
    EXPECT_THROW(h.at(2), std::domain_error);
    try {
        h.at(2);
    } catch (const std::domain_error& e) {
        EXPECT_STREQ(e.what(), "Missing history entry.");
    }
}

TEST(History, EmptyTransactionsAndSharedTimes) {
    History h;
    EXPECT_FALSE(h.contains(set({})));
    h[7];
    EXPECT_EQ(h.size(), 1u);
    EXPECT_TRUE(h.contains(set({})));
    EXPECT_EQ(h.allItems().size(), 0u);
    h[7].add("a");
    h[7].add("b");
    EXPECT_EQ(h.size(), 1u);
    EXPECT_EQ(h.at(7), set({"a", "b"}));
}

TEST(TransactionSet, CountsSubjectsNotRows) {
    TransactionSet txns = transactions("subject\ttime\titem\n"
                                       "s1\t1\ta\ns1\t2\ta\ns1\t3\ta\tb\n"
                                       "s2\t1\tb\n"
                                       "s3\t4\n");
    EXPECT_EQ(txns.size(), 3u);
    EXPECT_EQ(txns.transactionCount(), 5u);
    EXPECT_EQ(txns.count(set({"a"})), 1u);
    EXPECT_EQ(txns.count(set({"b"})), 2u);
    EXPECT_EQ(txns.count(set({"a", "b"})), 1u);
    EXPECT_EQ(txns.count(set({})), 3u);
}

TEST(ItemSetHistogram, AddKeepsAnExistingCount) {
    ItemSetHistogram h;
    h.add(set({"a"}), 3);
    h.add(set({"a"}), 5);
    EXPECT_EQ(h.at(set({"a"})), 3u);
    h[set({"a"})] = 5;
    EXPECT_EQ(h.at(set({"a"})), 5u);
    EXPECT_EQ(h[set({"b"})], 0u);
    EXPECT_EQ(h.size(), 2u);
    EXPECT_THROW(h.at(set({"c"})), std::out_of_range);
    EXPECT_EQ(h.size(), 2u);
    EXPECT_EQ(h.count(set({"a"}), 9), 5u);
    EXPECT_EQ(h.count(set({"c"}), 9), 9u);

    ItemSetHistogram order;
    order.add(set({"a"}), 1);
    order.add(set({"b"}), 1);
    order.add(set({"a", "b"}), 1);
    std::vector<ItemSet> seen;
    for (const auto& entry : order)
        seen.push_back(entry.first);
    EXPECT_EQ(seen, (std::vector<ItemSet>{set({"a", "b"}), set({"a"}), set({"b"})}));
    order.erase(set({"a"}));
    order.erase(order.begin());
    EXPECT_EQ(order.size(), 1u);
}

TEST(InterestMeasures, ExamplesAndGuards) {
    EXPECT_EQ(support(1, 3), 1.0 / 3.0);
    EXPECT_EQ(confidence(0.5, 0.5), 1.0);
    EXPECT_EQ(confidence(0.5, 0), 0.0);
    EXPECT_EQ(lift(0.5, 0.5, 0.5), 2.0);
    EXPECT_EQ(lift(0.5, 0, 0.5), 0.0);
    EXPECT_TRUE(std::isinf(conviction(0.5, 1.0)));
    EXPECT_EQ(conviction(0.5, 0.75), 2.0);
    EXPECT_EQ(probability(0.5, 0.5), 1.0);
    EXPECT_EQ(probability(0.5, 0), 0.0);
    EXPECT_TRUE(std::isinf(certainty(0.5, 0.5)));
    EXPECT_EQ(certainty(0.25, 0.5), 1.0);
}

namespace {

RuleSet::Stats stats(size_t count, double support, double confidence, double lift,
                     double conviction) {
    RuleSet::Stats s;
    s.count = count;
    s.support = support;
    s.confidence = confidence;
    s.lift = lift;
    s.conviction = conviction;
    return s;
}

} // namespace

TEST(RuleSetFilter, ThresholdsAreInclusiveAndNaNFails) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    RuleSet rules;
    rules[Rule(set({"a"}), set({"b"}))] = stats(3, 0.5, 1, 2, inf);
    rules[Rule(set({"a"}), set({"c"}))] = stats(2, 0.5, 1, 2, 1);
    rules[Rule(set({"b"}), set({"a"}))] = stats(3, nan, 1, 2, 1);
    rules[Rule(set({"c"}), set({"a"}))] = stats(3, 0.1, 0.5, 1, 2);
    rules[Rule(set({"d"}), set({"a"}))] = stats(3, 0.1, 0.5, 1, nan);

    testing::internal::CaptureStderr();
    rules.filter(3, 0.1, 0.5, 1, inf);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "a => b: 0.5,0.1,1,2\nc => a: 0.1,0.1,0.5,1\n");
    EXPECT_EQ(rules.size(), 2u);

    testing::internal::CaptureStderr();
    rules.filter(0, 0, 0, 0, 2);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "c => a: 0.1,0,0.5,1\n");

    testing::internal::CaptureStderr();
    rules.filter(0, 0, 0, 0, nan);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(rules.size(), 0u);
}

TEST(RuleSetFilter, NumbersUseTheDefaultStreamFormat) {
    RuleSet rules;
    rules[Rule(set({"a"}), set({"b"}))] =
        stats(1, 1.0 / 3, 1e-5, std::numeric_limits<double>::infinity(), 0);
    testing::internal::CaptureStderr();
    rules.filter(0, 0, 0, 0, 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "a => b: 0.333333,0,1e-05,inf\n");
    RuleSet::Stats& fresh = rules[Rule(set({"x"}), set({"y"}))];
    EXPECT_EQ(fresh.count, 0u);
    EXPECT_EQ(fresh.certainty, 0.0);
    EXPECT_EQ(rules.size(), 2u);
    EXPECT_THROW(rules.at(Rule(set({"q"}), set({"r"}))), std::out_of_range);
}
