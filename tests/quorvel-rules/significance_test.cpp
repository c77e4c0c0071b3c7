// The p-values held to plain statements of their definitions: the tails in
// exact integer arithmetic (a Python script on big integers, and 128-bit
// sums on small logs), the order counts by walking each history as the
// rule test is written, and the adjustments by the procedures that define
// them.
#include "significance.hpp"
#include "test_support.hpp"

#include "quorvel/rule.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <random>
#include <sstream>

using quorvel::rule::Adjustment;
using quorvel::rule::History;
using quorvel::rule::Item;
using quorvel::rule::ItemSet;
using quorvel::rule::TransactionSet;
using quorvel::rule::mining::adjusted;
using quorvel::rule::mining::binomialHalfUpper;
using quorvel::rule::mining::hypergeometricUpper;
using testsupport::readFile;
using testsupport::run;
using testsupport::plainObserves;
using testsupport::runRules;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

// Relative agreement to 1e-12 for p of at least 1e-300; 0 below.
void expectTail(double got, double exact, const std::string& what) {
    const double least = quorvel::rule::mining::LEAST_P;
    if (std::fabs(exact - least) < least * 1e-9)
        return; // either side of the floor is right
    if (exact < least)
        EXPECT_EQ(got, 0) << what << ": exact " << exact;
    else
        EXPECT_LE(std::fabs(got - exact), 1e-12 * exact) << what << ": got " << got << ", exact "
                                                         << exact;
}

TEST(PValues, TailsAreTheExactSums) {
    std::mt19937_64 rng(36);
    auto below = [&](uint64_t n) { return n ? rng() % n : 0; };
    std::vector<std::vector<uint64_t>> hyper; // N K n k
    std::vector<std::vector<uint64_t>> coin;  // x n
    auto addHyper = [&](uint64_t N, uint64_t K, uint64_t n, uint64_t k) {
        hyper.push_back({N, K, n, k});
    };
    for (int c = 0; c < 400; ++c) {
        // Small and middling populations, every part anywhere in range.
        const uint64_t N = 1 + below(c < 200 ? 60 : 4000);
        const uint64_t K = below(N + 1), n = below(N + 1);
        const uint64_t lo = K + n > N ? K + n - N : 0, hi = std::min(K, n);
        const uint64_t mode = (n + 1) * (K + 1) / (N + 2);
        const uint64_t picks[] = {lo + below(hi - lo + 1), hi, lo + 1, mode, mode + 1};
        addHyper(N, K, n, std::min(picks[c % 5], hi + 1));
    }
    for (int c = 0; c < 60; ++c) {
        // Populations past 32 bits with few drawn: the far tails underflow.
        const uint64_t N = uint64_t(1) << (20 + c % 13);
        const uint64_t K = c % 3 ? below(N) : N - 1 - below(8);
        const uint64_t n = 1 + below(30);
        addHyper(N, K, n, below(n + 2));
    }
    // Large draws near the mode and deep in the tail.
    addHyper(60000, 30000, 30000, 15100);
    addHyper(60000, 30000, 30000, 15900);
    addHyper(100000, 3, 99998, 3);
    addHyper(100000, 99999, 50000, 50000);
    for (int c = 0; c < 300; ++c) {
        const uint64_t n = below(c < 250 ? 200 : 5000);
        coin.push_back({std::min(n + 1, n / 2 + below(n / 2 + 2)), n});
    }
    coin.push_back({1100, 1100});
    coin.push_back({1077, 1100});
    coin.push_back({0, 0});
    coin.push_back({1, 0});
    coin.push_back({20000, 30000});

    std::ostringstream cases;
    for (const auto& h : hyper)
        cases << "h " << h[0] << ' ' << h[1] << ' ' << h[2] << ' ' << h[3] << '\n';
    for (const auto& b : coin)
        cases << "b " << b[0] << ' ' << b[1] << '\n';
    const std::string script =
        std::string(QUORVEL_SOURCE_DIR) + "/tests/significance/exact_p.py";
    const auto exact = run("/usr/bin/env", {"python3", script}, cases.str());
    ASSERT_EQ(exact.status, 0) << exact.err;
    std::istringstream answers(exact.out);
    size_t underflows = 0, checked = 0;
    for (const auto& h : hyper) {
        double p = -1;
        ASSERT_TRUE(answers >> p);
        underflows += p < quorvel::rule::mining::LEAST_P;
        std::ostringstream what;
        what << "N " << h[0] << " K " << h[1] << " n " << h[2] << " k " << h[3];
        expectTail(hypergeometricUpper(h[0], h[1], h[2], h[3]), p, what.str());
        ++checked;
    }
    for (const auto& b : coin) {
        double p = -1;
        ASSERT_TRUE(answers >> p);
        expectTail(binomialHalfUpper(b[0], b[1]), p,
                   "x " + std::to_string(b[0]) + " n " + std::to_string(b[1]));
        ++checked;
    }
    EXPECT_EQ(checked, hyper.size() + coin.size());
    EXPECT_GT(underflows, 0u) << "no case reached the floor";
}

// Rejections at level alpha by the procedures themselves: Holm steps down
// from the least p while p_(k) <= alpha / (m - k + 1); Benjamini and
// Hochberg reject every rank up to the greatest k with p_(k) <= k alpha / m.
std::vector<bool> holmRejects(const std::vector<double>& p, double alpha) {
    std::vector<double> sorted = p;
    std::sort(sorted.begin(), sorted.end());
    const size_t m = p.size();
    double bar = -1; // the p-values up to here are rejected
    for (size_t k = 0; k < m && sorted[k] <= alpha / double(m - k); ++k)
        bar = sorted[k];
    std::vector<bool> out;
    for (double v : p)
        out.push_back(v <= bar);
    return out;
}
std::vector<bool> bhRejects(const std::vector<double>& p, double alpha) {
    std::vector<double> sorted = p;
    std::sort(sorted.begin(), sorted.end());
    const size_t m = p.size();
    double bar = -1;
    for (size_t k = 1; k <= m; ++k)
        if (sorted[k - 1] <= double(k) * alpha / double(m))
            bar = sorted[k - 1];
    std::vector<bool> out;
    for (double v : p)
        out.push_back(v <= bar);
    return out;
}

TEST(PValues, AdjustedValuesRejectAsTheProceduresDo) {
    std::mt19937 rng(37);
    size_t rejected = 0;
    for (int round = 0; round < 300; ++round) {
        // Few distinct values make ties; some are 0 and some 1.
        const size_t m = 1 + rng() % 40;
        std::vector<double> p;
        for (size_t k = 0; k < m; ++k)
            p.push_back(round % 2 ? double(rng() % 6) / 5 * std::pow(0.1, rng() % 3)
                                  : std::ldexp(double(rng() % 1000), -int(rng() % 14)) / 1000);
        for (Adjustment how : {Adjustment::HOLM, Adjustment::BH}) {
            const std::vector<double> adj = adjusted(p, how);
            for (double alpha : {0.001, 0.01, 0.05, 0.2, 0.5}) {
                const std::vector<bool> want =
                    how == Adjustment::HOLM ? holmRejects(p, alpha) : bhRejects(p, alpha);
                for (size_t k = 0; k < m; ++k) {
                    // Holm's alpha / (m - k + 1) and the adjusted (m - k + 1) p
                    // may round apart exactly at the boundary.
                    if (std::fabs(adj[k] - alpha) < 1e-12)
                        continue;
                    EXPECT_EQ(adj[k] <= alpha, want[k])
                        << "round " << round << (how == Adjustment::HOLM ? " holm" : " bh")
                        << " alpha " << alpha << " p " << p[k] << " adjusted " << adj[k];
                    rejected += want[k];
                }
            }
            for (size_t k = 0; k < m; ++k) {
                EXPECT_GE(adj[k], p[k]);
                EXPECT_LE(adj[k], 1.0);
            }
        }
    }
    EXPECT_GT(rejected, 1000u);
}

// A rule's row as JSON Lines gives it.
struct Tested {
    ItemSet antecedent, subsequent;
    std::map<std::string, double> values;
};

std::vector<Tested> rowsOf(const std::string& jsonLines) {
    std::vector<Tested> rows;
    std::istringstream in(jsonLines);
    for (std::string line; std::getline(in, line);) {
        Tested t;
        t.antecedent = testsupport::jsonItems(line, "antecedent");
        t.subsequent = testsupport::jsonItems(line, "subsequent");
        for (const char* key : {"count", "a_union_s", "count_reverse", "count_both",
                                "p_dependence", "p_dependence_adjusted", "p_order",
                                "p_order_adjusted"}) {
            const size_t at = line.find(std::string("\"") + key + "\":");
            if (at != std::string::npos)
                t.values[key] = std::stod(line.substr(at + std::strlen(key) + 3));
        }
        rows.push_back(t);
    }
    return rows;
}

bool holds(const History& h, const ItemSet& items) {
    return std::all_of(items.begin(), items.end(), [&](const Item& item) {
        return std::any_of(h.begin(), h.end(),
                           [&](const auto& t) { return t.second.contains(ItemSet(item)); });
    });
}

// Exact sums of binomial coefficients for logs of at most 120 subjects.
__extension__ typedef unsigned __int128 Wide;

// n choose k, exactly, for the small logs here.
Wide choose(unsigned n, unsigned k) {
    if (k > n)
        return 0;
    Wide c = 1;
    for (unsigned i = 1; i <= k; ++i)
        c = c * (n - k + i) / i;
    return c;
}
double ratio(Wide a, Wide b) {
    return static_cast<double>(static_cast<long double>(a) / static_cast<long double>(b));
}

// Random histories; with `planted`, a third of them also hold p0, then p1
// a little later, so that some rules depend and have an order.
std::string randomTable(std::mt19937& rng, int subjects, int times, unsigned items,
                        bool planted = false) {
    std::ostringstream table;
    table << "subject\ttime\titem\n";
    for (int s = 0; s < subjects; ++s) {
        for (int e = 0, n = 1 + int(rng() % 9); e < n; ++e)
            table << "s" << s << '\t' << rng() % times << "\ti" << rng() % items << '\n';
        if (planted && s % 3 == 0) {
            const unsigned at = rng() % times;
            table << "s" << s << '\t' << at << "\tp0\ns" << s << '\t' << at + 1 + rng() % 3
                  << "\tp1\n";
        }
    }
    return table.str();
}

TEST(PValues, OrderCountsAndTailsAreThoseOfEachHistory) {
    std::mt19937 rng(38);
    size_t checked = 0, reversed = 0;
    for (int round = 0; round < 13; ++round) {
        const History::Time window = round % 3 == 0 ? 0 : History::Time(1 + rng() % 20);
        // The last rounds' rules hold more than 64 items in all (round 12
        // without a window).
        const bool manyItems = round >= 10;
        const int subjects = 20 + round * 8;
        const std::string table =
            randomTable(rng, subjects, round % 2 ? 6 : 60, manyItems ? 90 : 5);
        TempDir dir;
        writeFile(dir.file("in.tsv"), table);
        const std::vector<std::string> args = {
            "-c", manyItems ? "1" : "2", "-w", std::to_string(window),
            "--p-values=dependence,order", "--format=jsonl", "in.tsv"};
        std::vector<std::string> first = args;
        first.insert(first.begin(), {"-j", "1"});
        first.push_back("rules.jsonl");
        auto got = runRules(first, "", dir.path());
        ASSERT_EQ(got.status, 0) << got.err;
        const std::string jsonLines = readFile(dir.file("rules.jsonl"));
        const TransactionSet txns = testsupport::transactions(table);
        for (const Tested& rule : rowsOf(jsonLines)) {
            const std::string what =
                "round " + std::to_string(round) + ": " +
                quorvel::rule::Rule(rule.antecedent, rule.subsequent).toString();
            unsigned forward = 0, backward = 0, both = 0, heldA = 0, heldS = 0, heldI = 0;
            for (const auto& subject : txns) {
                const History& h = subject.second;
                const bool ab = plainObserves(h, rule.antecedent, rule.subsequent, window);
                const bool ba = plainObserves(h, rule.subsequent, rule.antecedent, window);
                forward += ab;
                backward += ba;
                both += ab && ba;
                heldA += holds(h, rule.antecedent);
                heldS += holds(h, rule.subsequent);
                heldI += holds(h, rule.antecedent) && holds(h, rule.subsequent);
            }
            ASSERT_EQ(rule.values.at("count"), forward) << what;
            EXPECT_EQ(rule.values.at("count_reverse"), backward) << what;
            EXPECT_EQ(rule.values.at("count_both"), both) << what;
            reversed += backward > 0;
            // Fisher's one-sided test, summed over the tables as extreme.
            const unsigned N = static_cast<unsigned>(txns.size());
            Wide tail = 0;
            for (unsigned i = heldI; i <= std::min(heldA, heldS); ++i)
                tail += choose(heldA, i) * choose(N - heldA, heldS - i);
            const double fisher = ratio(tail, choose(N, heldS));
            EXPECT_NEAR(rule.values.at("p_dependence"), fisher, 1e-12 * fisher + 1e-300) << what;
            // The sign test over the subjects observing one order only.
            const unsigned x = forward - both, n = forward + backward - 2 * both;
            Wide heads = 0;
            for (unsigned i = x; i <= n; ++i)
                heads += choose(n, i);
            const double sign = ratio(heads, static_cast<Wide>(1) << n);
            // The printed value is the shortest that reads back: exact.
            EXPECT_NEAR(rule.values.at("p_order"), sign, 1e-12 * sign) << what;
            ++checked;
        }
        for (const char* threads : {"2", "3"}) {
            std::vector<std::string> again = args;
            again.insert(again.begin(), {"-j", threads});
            again.push_back("-");
            EXPECT_EQ(runRules(again, "", dir.path()).out, jsonLines) << "-j " << threads;
        }
    }
    EXPECT_GT(checked, 300u);
    EXPECT_GT(reversed, 50u) << "too few rules seen in both orders";
}

// --max-p keeps, of the table the other settings give, the rules whose
// adjusted p-values pass; the family is that table, whatever --top shows.
TEST(PValues, MaxPKeepsTheRulesThatHoldUp) {
    std::mt19937 rng(39);
    TempDir dir;
    writeFile(dir.file("in.tsv"), randomTable(rng, 300, 40, 6, true));
    auto all = runRules({"-c", "4", "-w", "9", "--p-values=dependence,order", "--format=jsonl",
                         "in.tsv", "-"},
                        "", dir.path());
    ASSERT_EQ(all.status, 0) << all.err;
    const std::vector<Tested> family = rowsOf(all.out);
    ASSERT_GT(family.size(), 30u);
    struct Case {
        std::vector<std::string> args;
        bool dependence, order;
    };
    const Case cases[] = {
        {{"--max-p=0.05"}, true, true},
        {{"--max-p=0.2", "--adjust=bh"}, true, true},
        {{"--max-p=0.01", "--p-values=dependence"}, true, false},
        {{"--max-p=0.3", "--p-values=order", "--adjust=holm"}, false, true},
    };
    size_t dropped = 0;
    for (const Case& c : cases) {
        const bool bh = std::find(c.args.begin(), c.args.end(), "--adjust=bh") != c.args.end();
        const double maxP = std::stod(c.args[0].substr(8));
        std::vector<std::string> args = {"-c", "4", "-w", "9", "--format=jsonl"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.insert(args.end(), {"in.tsv", "-"});
        auto kept = runRules(args, "", dir.path());
        ASSERT_EQ(kept.status, 0) << kept.err;
        std::vector<double> pd, po;
        for (const Tested& t : family) {
            pd.push_back(t.values.at("p_dependence"));
            po.push_back(t.values.at("p_order"));
        }
        const Adjustment how = bh ? Adjustment::BH : Adjustment::HOLM;
        const std::vector<double> ad = adjusted(pd, how), ao = adjusted(po, how);
        std::vector<std::string> want;
        for (size_t k = 0; k < family.size(); ++k)
            if ((!c.dependence || ad[k] <= maxP) && (!c.order || ao[k] <= maxP))
                want.push_back(
                    quorvel::rule::Rule(family[k].antecedent, family[k].subsequent).toString());
        std::vector<std::string> got;
        for (const Tested& t : rowsOf(kept.out)) {
            got.push_back(quorvel::rule::Rule(t.antecedent, t.subsequent).toString());
            EXPECT_EQ(t.values.count("p_dependence_adjusted"), c.dependence ? 1u : 0u);
            EXPECT_EQ(t.values.count("p_order_adjusted"), c.order ? 1u : 0u);
        }
        EXPECT_EQ(got, want) << c.args[0];
        EXPECT_FALSE(got.empty()) << c.args[0];
        dropped += family.size() - got.size();
        // --top cuts what is shown, not the family.
        args.insert(args.end() - 2,
                    {c.dependence ? "--sort=p_dependence" : "--sort=p_order", "--top=3"});
        auto top = runRules(args, "", dir.path());
        ASSERT_EQ(top.status, 0) << top.err;
        EXPECT_EQ(rowsOf(top.out).size(), std::min<size_t>(3, want.size()));
    }
    EXPECT_GT(dropped, 0u) << "no case dropped a rule";

    // The tab-separated table gains the columns only when asked, sorted
    // smallest p first.
    auto plain = runRules({"-c", "4", "-w", "9", "in.tsv", "-"}, "", dir.path());
    EXPECT_EQ(plain.out.substr(0, plain.out.find('\n')),
              "Rule\tCount\tA union S\tSupport\tConfidence\tLift\tConviction\tProbability\t"
              "Certainty");
    auto sorted = runRules({"-c", "4", "-w", "9", "--p-values=order", "--sort=p_order",
                            "--format=jsonl", "in.tsv", "-"},
                           "", dir.path());
    std::vector<double> order;
    for (const Tested& t : rowsOf(sorted.out))
        order.push_back(t.values.at("p_order"));
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
    EXPECT_EQ(order.size(), family.size());
}

TEST(PValues, MistakesAreRefused) {
    TempDir dir;
    writeFile(dir.file("in.tsv"), "subject\ttime\titem\ns\t1\ta\ns\t2\tb\n");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--max-p=1.5"}, "Option \"--max-p\" needs a number from 0 to 1, not \"1.5\".\n"},
        {{"--max-p=nan"}, "Option \"--max-p\" needs a number from 0 to 1, not \"nan\".\n"},
        {{"--max-p=-0.1"}, "Option \"--max-p\" needs a number from 0 to 1, not \"-0.1\".\n"},
        {{"--p-values=sign"},
         "Option \"--p-values\" needs dependence, order or both, not \"sign\".\n"},
        {{"--adjust=bonferroni"}, "Option \"--adjust\" needs holm or bh, not \"bonferroni\".\n"},
        {{"--rules=basket", "--p-values=order"},
         "Option \"--p-values=order\" tests ordered rules; basket rules have no order "
         "(--rules=basket).\n"},
        {{"--sort=p_order", "--p-values=dependence"},
         "Option \"--sort=p_order\" needs --p-values=order.\n"},
        {{"--sort=p_dependence_adjusted"},
         "Option \"--sort=p_dependence_adjusted\" needs --p-values=dependence.\n"},
    };
    for (const auto& [options, message] : cases) {
        std::vector<std::string> args = {"-c", "1"};
        args.insert(args.end(), options.begin(), options.end());
        args.insert(args.end(), {"in.tsv", "-"});
        auto got = runRules(args, "", dir.path());
        EXPECT_EQ(got.status, 1) << options[0];
        EXPECT_NE(got.err.find(message), std::string::npos) << options[0] << ": " << got.err;
        EXPECT_EQ(got.out, "") << options[0];
    }
    // --max-p alone tests what the rules have: basket rules, dependence only.
    auto basket = runRules({"-c", "1", "--rules=basket", "--max-p=1", "--format=csv", "in.tsv", "-"},
                           "", dir.path());
    ASSERT_EQ(basket.status, 0) << basket.err;
    EXPECT_EQ(basket.out.substr(0, basket.out.find('\n')),
              "antecedent,subsequent,count,a_union_s,support,confidence,lift,conviction,"
              "probability,certainty,p_dependence,p_dependence_adjusted");
}

} // namespace
