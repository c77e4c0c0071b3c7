// Basket rules (--rules=basket) run as a user runs them: every frequent set
// split into one item and the rest, counted by the subjects holding the
// set in any order, and the same on every thread count.
#include "test_support.hpp"

#include "quorvel/rule.hpp"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <sstream>

using testsupport::readFile;
using testsupport::runRules;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

// Five subjects: a then b, b then a, both at once, a alone, b alone.
const std::string ORDERS = "subject\ttime\titem\n"
                           "s1\t1\ta\ns1\t2\tb\n"
                           "s2\t1\tb\ns2\t2\ta\n"
                           "s3\t1\ta\ns3\t1\tb\n"
                           "s4\t1\ta\ns5\t1\tb\n";

std::vector<std::string> cells(const std::string& line) {
    std::vector<std::string> out;
    std::istringstream in(line);
    for (std::string cell; std::getline(in, cell, '\t');)
        out.push_back(cell);
    return out;
}

// The rule table's rows by rule text, header left out.
std::map<std::string, std::vector<std::string>> rowsOf(const std::string& table) {
    std::map<std::string, std::vector<std::string>> rows;
    std::istringstream in(table);
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::vector<std::string> c = cells(line);
        rows[c[0]] = c;
    }
    return rows;
}

TEST(BasketRules, OrderDoesNotMatterAndTheSetCountIsTheCount) {
    auto basket = runRules({"-c", "1", "--rules=basket"}, ORDERS);
    ASSERT_EQ(basket.status, 0) << basket.err;
    auto rows = rowsOf(basket.out);
    ASSERT_EQ(rows.size(), 2u) << basket.out;
    // {a,b} held by 3 of 5 subjects, a by 4, b by 4.
    EXPECT_EQ(rows["a => b"], (std::vector<std::string>{"a => b", "3", "3", "0.6", "0.75",
                                                          "0.9375", "0.8", "0.75", "3"}));
    EXPECT_EQ(rows["b => a"][1], "3");
    EXPECT_NE(basket.err.find("making basket rules from the item sets"), std::string::npos);

    // Ordered, only s1 sees a then b, and only s2 b then a.
    auto ordered = runRules({"-c", "1"}, ORDERS);
    ASSERT_EQ(ordered.status, 0);
    EXPECT_EQ(rowsOf(ordered.out)["a => b"][1], "1");
    EXPECT_EQ(runRules({"-c", "1", "--rules=ordered"}, ORDERS).out, ordered.out);
}

TEST(BasketRules, MistakesAreRefused) {
    auto window = runRules({"--rules=basket", "-w", "5"}, ORDERS);
    EXPECT_EQ(window.status, 1);
    EXPECT_EQ(window.err, "Option \"--rules=basket\" finds rules in any order, which no window "
                          "(-w) applies to; give one or the other.\n");
    auto kind = runRules({"--rules=baskets"}, ORDERS);
    EXPECT_EQ(kind.status, 1);
    EXPECT_EQ(kind.err.substr(0, kind.err.find('\n')),
              "Option \"--rules\" needs ordered or basket, not \"baskets\".");
}

// Random baskets over several transactions each: the rules are exactly the
// splits of the written item sets that pass the thresholds, with the set
// table's counts, and every thread count writes the same bytes.
TEST(BasketRules, EqualTheSplitsOfTheItemSetTable) {
    std::mt19937 random(20261211);
    for (int round = 0; round < 6; ++round) {
        std::ostringstream table;
        table << "subject\ttime\titem\n";
        const int subjects = 30 + round * 20, items = 4 + round;
        for (int s = 0; s < subjects; ++s)
            for (int t = 0, n = 1 + random() % 4; t < n; ++t)
                for (int k = 0, m = 1 + random() % 4; k < m; ++k)
                    table << "s" << s << '\t' << t << "\ti" << random() % items << '\n';
        TempDir dir;
        writeFile(dir.file("in.tsv"), table.str());
        const std::string count = std::to_string(2 + round), minConfidence = "0.3";
        auto one = runRules({"-j", "1", "--rules=basket", "-c", count, "-C", minConfidence,
                             "in.tsv", "rules.tsv", "sets.tsv"},
                            "", dir.path());
        ASSERT_EQ(one.status, 0) << one.err;
        const std::string rules = readFile(dir.file("rules.tsv"));
        quorvel::rule::ItemSetHistogram sets;
        sets.readInto(dir.file("sets.tsv"), '\t');
        std::map<std::string, std::vector<std::string>> expected;
        for (const auto& entry : sets) {
            if (entry.first.size() < 2)
                continue;
            for (const auto& item : entry.first) {
                quorvel::rule::ItemSet antecedent;
                for (const auto& other : entry.first)
                    if (other != item)
                        antecedent.add(other);
                const double confidence =
                    double(entry.second) / double(sets.at(antecedent));
                if (confidence < 0.3)
                    continue;
                const std::string rule =
                    quorvel::rule::Rule(antecedent, quorvel::rule::ItemSet(item)).toString();
                expected[rule] = {std::to_string(entry.second), std::to_string(confidence)};
            }
        }
        auto got = rowsOf(rules);
        ASSERT_EQ(got.size(), expected.size()) << "round " << round << "\n" << rules;
        for (const auto& [rule, want] : expected) {
            ASSERT_EQ(got.count(rule), 1u) << rule;
            EXPECT_EQ(got[rule][1], want[0]) << rule;
            EXPECT_EQ(got[rule][2], want[0]) << rule;
            EXPECT_NEAR(std::stod(got[rule][4]), std::stod(want[1]), 1e-5) << rule;
        }
        for (const char* threads : {"2", "3"}) {
            auto again = runRules({"-j", threads, "--rules=basket", "-c", count, "-C",
                                   minConfidence, "in.tsv", "-"},
                                  "", dir.path());
            EXPECT_EQ(again.out, rules) << "-j " << threads;
        }
    }
}

} // namespace
