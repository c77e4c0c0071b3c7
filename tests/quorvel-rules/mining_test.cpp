#include "apriori.hpp"
#include "plain.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <sstream>

#include <cmath>

using namespace quorvel::rule;
using namespace quorvel::rule::mining;
using testsupport::set;
using testsupport::transactions;

namespace {

MiningParams withCount(unsigned int minCount) {
    MiningParams c;
    c.minCount = minCount;
    return c;
}

// A table from "subject time item item ..." lines separated by ';'.
TransactionSet table(const std::string& rows) {
    std::string text = "subject\ttime\titems\n";
    std::string line;
    for (char ch : rows + ";") {
        if (ch == ';') {
            if (!line.empty()) {
                for (char& c : line)
                    if (c == ' ')
                        c = '\t';
                text += line + "\n";
            }
            line.clear();
        } else {
            line += ch;
        }
    }
    return transactions(text);
}

uint64_t countOf(const RuleHistogram& h, const Rule& r) {
    auto it = h.find(r);
    return it == h.end() ? 0 : it->second;
}

RuleHistogram countRules(const MiningParams& config, const TransactionSet& txns, const ItemSet& a,
                         const ItemSet& b) {
    RuleProposals proposals;
    proposals[a].insert(b);
    RuleHistogram counts;
    mineRules(config, txns, proposals, counts);
    // The per-history walk must agree with the indexed count over all histories.
    RuleHistogram walked;
    for (const auto& subject : txns)
        mineRules(config, subject.second, proposals, walked);
    EXPECT_EQ(counts, walked);
    return counts;
}

} // namespace

TEST(FrequentItemSets, OneSetsCountEachSubjectOnce) {
    TransactionSet txns = table("s1 1 a a;s1 2 a b;s2 1 a;s3 1 c");
    ItemSetSupports ones = oneSets(withCount(1), txns);
    EXPECT_EQ(ones.at(set({"a"})), 2u);
    EXPECT_EQ(ones.at(set({"b"})), 1u);
    EXPECT_EQ(ones.size(), 3u);
    EXPECT_EQ(oneSets(withCount(2), txns).size(), 1u);
    EXPECT_EQ(oneSets(withCount(0), txns).size(), 3u);
    EXPECT_EQ(oneSets(withCount(3), txns).size(), 0u);
    EXPECT_EQ(oneSets(withCount(0), TransactionSet()).size(), 0u);
}

TEST(FrequentItemSets, FilterKeepsCountsAtTheThreshold) {
    ItemSetSupports h;
    h[set({"a"})] = 2;
    h[set({"b"})] = 1;
    h[set({"c"})] = 3;
    filterCandidates(withCount(2), h);
    EXPECT_EQ(h.size(), 2u);
    EXPECT_EQ(h.find(set({"b"})), h.end());
}

TEST(FrequentItemSets, MergeFormsUnionsOfTheRightSize) {
    // a and b occur in s1 only at different times: they still count together.
    TransactionSet txns = table("s1 1 a;s1 9 b;s2 1 a b;s3 1 a c;s3 2 b");
    MiningParams config = withCount(2);
    ItemSetSupports all = oneSets(config, txns);
    ItemSetSupports pairs = aprioriMerge(config, all, all, txns, 2);
    EXPECT_EQ(pairs.size(), 1u);
    EXPECT_EQ(pairs.at(set({"a", "b"})), 3u);
    EXPECT_EQ(all.at(set({"a", "b"})), 3u);
    EXPECT_EQ(all.size(), 3u);

    // Two sets whose union is too large give nothing, and so does a lone set.
    ItemSetSupports apart;
    apart[set({"a", "b"})] = 1;
    apart[set({"c", "d"})] = 1;
    ItemSetSupports sink;
    EXPECT_EQ(aprioriMerge(withCount(0), apart, sink, txns, 3).size(), 0u);
    ItemSetSupports lone;
    lone[set({"a", "b"})] = 1;
    EXPECT_EQ(aprioriMerge(withCount(0), lone, sink, txns, 3).size(), 0u);

    // With a zero threshold every union is kept, even one no subject holds.
    ItemSetSupports level;
    level[set({"a", "b"})] = 3;
    level[set({"b", "c"})] = 1;
    ItemSetSupports triples = aprioriMerge(withCount(0), level, sink, txns, 3);
    EXPECT_EQ(triples.at(set({"a", "b", "c"})), 1u);
    level[set({"b", "z"})] = 0;
    EXPECT_EQ(aprioriMerge(withCount(0), level, sink, txns, 3).at(set({"a", "b", "z"})), 0u);
}

TEST(Proposals, RunsOfConsecutiveItemsAsAntecedents) {
    RuleProposals two;
    proposeRules(set({"a", "b"}), two);
    EXPECT_EQ(count(two), 2u);
    EXPECT_EQ(two.at(set({"a"})), std::set<ItemSet>{set({"b"})});
    EXPECT_EQ(two.at(set({"b"})), std::set<ItemSet>{set({"a"})});

    RuleProposals three;
    proposeRules(set({"a", "b", "c"}), three);
    EXPECT_EQ(count(three), 5u);
    EXPECT_TRUE(three.at(set({"a"})).count(set({"b", "c"})));
    EXPECT_TRUE(three.at(set({"a", "b"})).count(set({"c"})));
    EXPECT_TRUE(three.at(set({"b"})).count(set({"a", "c"})));
    EXPECT_TRUE(three.at(set({"b", "c"})).count(set({"a"})));
    EXPECT_TRUE(three.at(set({"c"})).count(set({"a", "b"})));
    EXPECT_EQ(three.count(set({"a", "c"})), 0u);

    for (size_t m = 1; m <= 6; ++m) {
        ItemSet s;
        for (size_t k = 0; k < m; ++k)
            s.add(std::string(1, static_cast<char>('a' + k)));
        RuleProposals p;
        proposeRules(s, p);
        EXPECT_EQ(count(p), m * (m + 1) / 2 - 1);
    }
}

TEST(WindowedCounting, AntecedentMustPrecedeAndSubsequentBeNew) {
    MiningParams config = withCount(0);
    const Rule ab(set({"a"}), set({"b"}));
    EXPECT_EQ(countOf(countRules(config, table("s 1 a;s 2 b"), set({"a"}), set({"b"})), ab), 1u);
    // One transaction only: nothing was seen before it.
    EXPECT_EQ(countOf(countRules(config, table("s 1 a b"), set({"a"}), set({"b"})), ab), 0u);
    // A transaction holding all of A and B never counts, even after an earlier A.
    EXPECT_EQ(countOf(countRules(config, table("s 1 a;s 2 a b"), set({"a"}), set({"b"})), ab), 0u);
    // B seen earlier blocks without a window.
    EXPECT_EQ(countOf(countRules(config, table("s 1 b;s 2 a;s 3 b"), set({"a"}), set({"b"})), ab),
              0u);
    // The pattern recurring in one subject counts once; subjects add up.
    EXPECT_EQ(countOf(countRules(config, table("s 1 a;s 2 b;s 3 a;s 9 b;t 1 a;t 2 b"), set({"a"}),
                                 set({"b"})),
                      ab),
              2u);
}

TEST(WindowedCounting, SpreadAntecedentAndPartialOverlap) {
    MiningParams config = withCount(0);
    const Rule r(set({"a", "b"}), set({"c"}));
    // A's items may come from different earlier transactions.
    EXPECT_EQ(
        countOf(countRules(config, table("s 1 a;s 2 b;s 3 c"), set({"a", "b"}), set({"c"})), r),
        1u);
    // T holds part of A and all of B: counts, A was fully seen before.
    EXPECT_EQ(
        countOf(countRules(config, table("s 1 a;s 2 b;s 3 a c"), set({"a", "b"}), set({"c"})), r),
        1u);
    // Part of A only in T: not seen before.
    EXPECT_EQ(countOf(countRules(config, table("s 1 a;s 3 b c"), set({"a", "b"}), set({"c"})), r),
              0u);
}

TEST(WindowedCounting, WindowBounds) {
    MiningParams config = withCount(0);
    config.windowSize = 3;
    const Rule ab(set({"a"}), set({"b"}));
    EXPECT_EQ(countOf(countRules(config, table("s 10 a;s 13 b"), set({"a"}), set({"b"})), ab), 1u);
    EXPECT_EQ(countOf(countRules(config, table("s 10 a;s 14 b"), set({"a"}), set({"b"})), ab), 0u);
    // A B item seen within the window blocks; outside it no longer does.
    EXPECT_EQ(
        countOf(countRules(config, table("s 10 b;s 12 a;s 13 b"), set({"a"}), set({"b"})), ab), 0u);
    EXPECT_EQ(countOf(countRules(config, table("s 5 b;s 12 a;s 13 b"), set({"a"}), set({"b"})), ab),
              1u);
    // Items forgotten at one transaction come back when they recur.
    EXPECT_EQ(
        countOf(countRules(config, table("s 1 a;s 20 x;s 21 a;s 22 b"), set({"a"}), set({"b"})),
                ab),
        1u);
    config.windowSize = 0;
    EXPECT_EQ(countOf(countRules(config, table("s 5 b;s 12 a;s 13 b"), set({"a"}), set({"b"})), ab),
              0u);
    EXPECT_EQ(
        countOf(countRules(config, table("s 0 a;s 4294967295 b"), set({"a"}), set({"b"})), ab), 1u);
}

TEST(WindowedCounting, LastTimeBookkeeping) {
    MiningParams config = withCount(0);
    config.windowSize = 2;
    LastTime last;
    updateLastTimes(config, last, set({"a", "b"}), 1);
    updateLastTimes(config, last, set({"b"}), 2);
    clearLastTimes(config, last, set({}), 3);
    EXPECT_EQ(last.size(), 2u);
    clearLastTimes(config, last, set({}), 4);
    EXPECT_EQ(last.size(), 1u);
    EXPECT_EQ(last.at("b"), 2u);
    config.windowSize = 0;
    clearLastTimes(config, last, set({}), 1000);
    EXPECT_EQ(last.size(), 1u);
}

namespace {

// The level lines a run says, into `said`.
RuleHistogram aprioriSaying(const MiningParams& config, const TransactionSet& txns,
                            ItemSetSupports& all, std::string& said) {
    std::ostringstream out;
    MiningContext context;
    context.messages = &out;
    RuleHistogram counts = apriori(config, txns, all, Run(context));
    said = out.str();
    return counts;
}

} // namespace

TEST(LevelLoop, MessagesForEveryMaxOrder) {
    TransactionSet txns = table("s1 1 a;s1 2 b;s1 3 c;s2 1 a;s2 2 b;s2 3 c;s3 1 a c;s3 2 b");
    const std::string head = "\t ... calculated 3 frequent item sets of size 1. \n"
                             "\t ... calculated 3 frequent item sets of size 2 with 6 proposed "
                             "rules.\n"
                             "\t ... deducing rules of order 1.\n";
    for (unsigned int order : {0u, 1u, 3u}) {
        MiningParams config = withCount(2);
        config.maxOrder = order;
        ItemSetSupports all;
        std::string err;
        RuleHistogram counts = aprioriSaying(config, txns, all, err);
        if (order == 1) {
            EXPECT_EQ(err, head);
            EXPECT_EQ(all.size(), 6u);
        } else if (order == 0) {
            EXPECT_EQ(err, head +
                               "\t ... mining rules until there are no more frequent item sets.\n"
                               "\t ... calculated 1 frequent item sets of size 3 with 5 proposed "
                               "rules.\n"
                               "\t ... deducing rules of order 2.\n");
            EXPECT_EQ(all.size(), 7u);
        } else {
            EXPECT_EQ(err, head +
                               "\t ... rules up to order 3 will be mined.\n"
                               "\t ... calculated 1 frequent item sets of size 3 with 5 proposed "
                               "rules.\n"
                               "\t ... deducing rules of order 2.\n"
                               "\t ... calculated 0 frequent item sets of size 4 with 0 proposed "
                               "rules.\n");
        }
        EXPECT_EQ(countOf(counts, Rule(set({"a"}), set({"b"}))), 3u);
    }
}

TEST(LevelLoop, EmptyTransactionSet) {
    ItemSetSupports all;
    std::string err;
    RuleHistogram counts = aprioriSaying(withCount(5), TransactionSet(), all, err);
    EXPECT_EQ(err, "\t ... calculated 0 frequent item sets of size 1. \n"
                   "\t ... calculated 0 frequent item sets of size 2 with 0 proposed rules.\n"
                   "\t ... no rules of order 1 found.\n");
    EXPECT_TRUE(counts.empty());
    EXPECT_EQ(all.size(), 0u);
}

TEST(MiningResult, StatisticsOfAWholeRun) {
    // Six subjects; a => b observed in three, {a,b} held by 3, {a} by 3, {b} by 4.
    TransactionSet txns = table("s1 1 a;s1 2 b;s2 1 a;s2 2 b;s3 1 a;s3 5 b;s4 1 b;s5 1 c;s6 1 c");
    std::ostringstream said;
    MiningContext context;
    context.messages = &said;
    MiningResult result = mine(withCount(1), txns, context);
    const std::string err = said.str();
    EXPECT_EQ(err, "\t ... calculated 3 frequent item sets of size 1. \n"
                   "\t ... calculated 1 frequent item sets of size 2 with 2 proposed rules.\n"
                   "\t ... deducing rules of order 1.\n"
                   "\t ... mining rules until there are no more frequent item sets.\n"
                   "\t ... preparing rules for reporting.\n"
                   "\t ... have 1 rules.\n");
    ASSERT_EQ(result.rules().size(), 1u);
    const RuleSet::Stats& s = result.rules().at(Rule(set({"a"}), set({"b"})));
    EXPECT_EQ(s.count, 3u);
    EXPECT_EQ(s.icount, 3u);
    EXPECT_EQ(s.support, 0.5);
    EXPECT_EQ(s.confidence, 1.0);
    EXPECT_EQ(s.lift, 1.5);
    EXPECT_TRUE(std::isinf(s.conviction));
    EXPECT_EQ(s.probability, 0.75);
    EXPECT_DOUBLE_EQ(s.certainty, 3.0);
    EXPECT_EQ(result.itemSets().size(), 4u);
}

TEST(MiningResult, FilterDropsRulesBelowThresholds) {
    ItemSetSupports supports;
    supports[set({"a"})] = 1;
    supports[set({"b"})] = 1;
    supports[set({"a", "b"})] = 1;
    RuleHistogram hist;
    hist[Rule(set({"a"}), set({"b"}))] = 1;
    MiningParams config = withCount(1);
    RuleSet kept;
    std::ostringstream said;
    populateRuleSet(config, kept, supports, hist, 3, said);
    EXPECT_EQ(said.str(), "\t ... preparing rules for reporting.\n");
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept.begin()->second.support, 1.0 / 3.0);
    EXPECT_EQ(kept.begin()->second.lift, 3.0);
    EXPECT_TRUE(std::isinf(kept.begin()->second.certainty));

    config.maxConviction = 1e300; // finite: confidence 1 means infinite conviction
    RuleSet none;
    populateRuleSet(config, none, supports, hist, 3, said);
    EXPECT_EQ(none.size(), 0u);

    config = withCount(2);
    populateRuleSet(config, none, supports, hist, 3, said);
    EXPECT_EQ(none.size(), 0u);

    RuleSet::Stats s;
    s.count = 2;
    s.support = 0.5;
    s.confidence = 0.5;
    s.lift = 1;
    s.conviction = 2;
    MiningParams exact = withCount(2);
    exact.minSupport = 0.5;
    exact.minConfidence = 0.5;
    exact.minLift = 1;
    exact.maxConviction = 2;
    EXPECT_TRUE(exact.admits(s));
    s.lift = std::nan("");
    EXPECT_FALSE(exact.admits(s));
}
