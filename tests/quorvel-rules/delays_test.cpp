// --delays run as a user runs it, held to the definition written plainly
// over the table's rows: in a subject observing A => B, the delay is the
// time of the first transaction observing it minus the latest time before
// it, within the window, at which an item of A was seen.
#include "test_support.hpp"

#include "quorvel/rule.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <sstream>

using quorvel::rule::History;
using quorvel::rule::Item;
using quorvel::rule::ItemSet;
using quorvel::rule::TransactionSet;
using testsupport::readFile;
using testsupport::runRules;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

struct Timed {
    ItemSet antecedent, subsequent;
    uint64_t count = 0;
    uint64_t delays[4] = {0, 0, 0, 0}; // min, median, p90, max
};

uint64_t numberOf(const std::string& record, const std::string& key) {
    const size_t at = record.find("\"" + key + "\":");
    EXPECT_NE(at, std::string::npos) << key << " in " << record;
    return std::stoull(record.substr(at + key.size() + 3));
}

std::vector<Timed> rulesOf(const std::string& jsonLines) {
    std::vector<Timed> rules;
    std::istringstream in(jsonLines);
    const char* keys[] = {"delay_min", "delay_median", "delay_p90", "delay_max"};
    for (std::string line; std::getline(in, line);) {
        Timed t;
        t.antecedent = testsupport::jsonItems(line, "antecedent");
        t.subsequent = testsupport::jsonItems(line, "subsequent");
        t.count = numberOf(line, "count");
        for (int k = 0; k < 4; ++k)
            t.delays[k] = numberOf(line, keys[k]);
        rules.push_back(t);
    }
    return rules;
}

// The delay in one history, as defined; false when it does not observe the rule.
bool plainDelay(const History& h, const ItemSet& a, const ItemSet& b, History::Time window,
                uint64_t& delay) {
    return testsupport::plainObserves(h, a, b, window, &delay);
}

// Random histories with repeated times and items, over a few items so
// rules of several items form; each history `copies` times, shifted in
// time, so that equal histories stand for several subjects.
std::string randomTable(std::mt19937& rng, int subjects, int times, int copies = 1,
                        unsigned items = 5) {
    std::ostringstream table;
    table << "subject\ttime\titem\n";
    for (int s = 0; s < subjects; ++s) {
        std::vector<std::pair<unsigned, unsigned>> events;
        for (int e = 0, n = 1 + int(rng() % 9); e < n; ++e)
            events.emplace_back(rng() % times, rng() % items);
        for (int c = 0; c < copies; ++c)
            for (const auto& [time, item] : events)
                table << "s" << s << "c" << c << '\t' << time + 1000 * c << "\ti" << item << '\n';
    }
    return table.str();
}

TEST(Delays, AreTheDefinitionsOrderStatistics) {
    std::mt19937 rng(1211);
    size_t checked = 0;
    for (int round = 0; round < 14; ++round) {
        const History::Time window = round % 3 == 0 ? 0 : History::Time(1 + rng() % 20);
        // Few distinct times make ties; many make equal histories rare. The
        // last rounds' rules hold more than 64 items in all.
        const bool manyItems = round >= 12;
        const std::string table = randomTable(rng, 20 + round * 15, round % 2 ? 6 : 60,
                                              round % 4 == 1 ? 3 : 1, manyItems ? 90 : 5);
        const std::string count = std::to_string(manyItems ? 1 : 1 + round % 3);
        TempDir dir;
        writeFile(dir.file("in.tsv"), table);
        auto got = runRules({"-j", "1", "-c", count, "-w", std::to_string(window), "--delays",
                             "--format=jsonl", "in.tsv", "rules.jsonl"},
                            "", dir.path());
        ASSERT_EQ(got.status, 0) << got.err;
        const std::string jsonLines = readFile(dir.file("rules.jsonl"));
        const TransactionSet txns = testsupport::transactions(table);
        for (const Timed& rule : rulesOf(jsonLines)) {
            std::vector<uint64_t> delays;
            for (const auto& subject : txns) {
                uint64_t d = 0;
                if (plainDelay(subject.second, rule.antecedent, rule.subsequent, window, d))
                    delays.push_back(d);
            }
            std::sort(delays.begin(), delays.end());
            const std::string what =
                "round " + std::to_string(round) + ": " +
                quorvel::rule::Rule(rule.antecedent, rule.subsequent).toString();
            ASSERT_EQ(delays.size(), rule.count) << what;
            const size_t n = delays.size();
            // Lower median; nearest rank: the ceil(0.9 n)-th.
            const uint64_t want[4] = {delays[0], delays[(n + 1) / 2 - 1],
                                      delays[(9 * n + 9) / 10 - 1], delays[n - 1]};
            for (int k = 0; k < 4; ++k)
                EXPECT_EQ(rule.delays[k], want[k]) << what << ", statistic " << k;
            ++checked;
        }
        for (const char* threads : {"2", "3"}) {
            auto again = runRules({"-j", threads, "-c", count, "-w", std::to_string(window),
                                   "--delays", "--format=jsonl", "in.tsv", "-"},
                                  "", dir.path());
            EXPECT_EQ(again.out, jsonLines) << "-j " << threads;
        }
    }
    EXPECT_GT(checked, 200u);
}

// The tables keep their columns unless --delays asks for more, and every
// reader of the tables reads them back.
TEST(Delays, ColumnsOnlyWhenAskedAndReadBack) {
    const std::string table = "subject\ttime\titem\n"
                              "s1\t1\ta\ns1\t5\tb\ns2\t2\ta\ns2\t3\ta\ns2\t10\tb\n"
                              "s3\t0\ta\ns3\t100\tb\ns4\t1\ta\ns4\t1\tb\n";
    TempDir dir;
    writeFile(dir.file("in.tsv"), table);
    auto plain = runRules({"-c", "1", "in.tsv", "-"}, "", dir.path());
    auto timed = runRules({"-c", "1", "--delays", "in.tsv", "-"}, "", dir.path());
    ASSERT_EQ(timed.status, 0) << timed.err;
    EXPECT_EQ(timed.out, "Rule\tCount\tA union S\tSupport\tConfidence\tLift\tConviction\t"
                         "Probability\tCertainty\tDelay Min\tDelay Median\tDelay P90\tDelay Max\n"
                         "a => b\t3\t4\t0.75\t1\t1\tinf\t1\tinf\t4\t7\t100\t100\n");
    EXPECT_EQ(plain.out.find("Delay"), std::string::npos);
    // The measures as they are, the delays after them.
    const std::string row = plain.out.substr(plain.out.find('\n') + 1);
    EXPECT_EQ(timed.out.substr(timed.out.find('\n') + 1),
              row.substr(0, row.size() - 1) + "\t4\t7\t100\t100\n");
    auto csv = runRules({"-c", "1", "-w", "10", "--delays", "--format=csv", "in.tsv", "-"}, "",
                        dir.path());
    EXPECT_EQ(csv.out, "antecedent,subsequent,count,a_union_s,support,confidence,lift,"
                       "conviction,probability,certainty,delay_min,delay_median,delay_p90,"
                       "delay_max\n{a},{b},2,4,0.5,1,1,inf,1,inf,4,4,7,7\n");
    // Sorted by a delay, longest first.
    auto sorted =
        runRules({"-c", "1", "--delays", "--sort=delay_max", "in.tsv", "-"}, "", dir.path());
    EXPECT_EQ(sorted.out, timed.out);

    for (const char* format : {"tsv", "csv", "jsonl"}) {
        const std::string rules = dir.file(std::string("rules.") + format);
        ASSERT_EQ(
            runRules({"-c", "1", "--delays", std::string("--format=") + format, "in.tsv", rules},
                     "", dir.path())
                .status,
            0);
        quorvel::rule::RuleSet read;
        read.readInto(rules, '\t');
        ASSERT_EQ(read.size(), 1u) << format;
        EXPECT_EQ(read.columns(), quorvel::rule::RuleSet::DELAYS) << format;
        const auto& stats = read.begin()->second;
        EXPECT_EQ(stats.delayMin, 4u) << format;
        EXPECT_EQ(stats.delayMedian, 7u) << format;
        EXPECT_EQ(stats.delayP90, 100u) << format;
        EXPECT_EQ(stats.delayMax, 100u) << format;
        auto graph = testsupport::runLinks({rules, "-"}, "", dir.path());
        EXPECT_EQ(graph.status, 0) << format << ": " << graph.err;
    }
}

// A delay cell that is no whole number is told by its place.
TEST(Delays, ABadDelayCellSaysWhereItIs) {
    TempDir dir;
    writeFile(dir.file("bad.tsv"),
              "Rule\tCount\tA union S\tSupport\tConfidence\tLift\tConviction\tProbability\t"
              "Certainty\tDelay Min\tDelay Median\tDelay P90\tDelay Max\n"
              "a => b\t3\t4\t0.75\t1\t1\tinf\t1\tinf\t4\t7\t100\t100\n"
              "b => c\t3\t4\t0.75\t1\t1\tinf\t1\tinf\t4.5\t7\t100\t100\n");
    auto bad = testsupport::runLinks({"bad.tsv", "g.dot"}, "", dir.path());
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("bad.tsv:3: \"Delay Min\" at column 10 is not a whole number: "
                           "\"4.5\"."),
              std::string::npos)
        << bad.err;
    writeFile(dir.file("short.tsv"),
              "Rule\tCount\tA union S\tSupport\tConfidence\tLift\tConviction\tProbability\t"
              "Certainty\tDelay Min\tDelay Median\tDelay P90\tDelay Max\n"
              "a => b\t3\t4\t0.75\t1\t1\tinf\t1\tinf\t4\t7\n");
    auto cut = testsupport::runLinks({"short.tsv", "g.dot"}, "", dir.path());
    EXPECT_EQ(cut.status, 2);
    EXPECT_NE(cut.err.find("short.tsv:2: \"Delay P90\" at column 12 is missing."),
              std::string::npos)
        << cut.err;
}

TEST(Delays, MistakesAreRefused) {
    auto basket = runRules({"--delays", "--rules=basket"}, "subject\ttime\titem\n");
    EXPECT_EQ(basket.status, 1);
    EXPECT_EQ(basket.err, "Option \"--delays\" times ordered rules; basket rules have no order "
                          "(--rules=basket).\n");
    auto sort = runRules({"--sort=delay_median"}, "subject\ttime\titem\n");
    EXPECT_EQ(sort.status, 1);
    EXPECT_EQ(sort.err, "Option \"--sort=delay_median\" needs --delays.\n");
}

} // namespace
