// The fast miner against the plain reference: same tables, same messages.
#include "apriori.hpp"
#include "ingest.hpp"
#include "reference_miner.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>
#include <sstream>

using namespace quorvel::rule;

namespace {

struct Case {
    std::string table;
    MiningParams config;
};

// `longHistory`: the first subject has hundreds of rows, past one mask
// word's 64 transactions and the walk's 256. `crowd` 1: hundreds of
// subjects, so counting hands them out in several stretches; 2: thousands,
// past 2048, where a stretch need not start on a word boundary; 3: a few
// hundred, past one word of a bitset over the subjects.
Case randomCase(std::mt19937& rng, bool longHistory, int crowd = 0) {
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    Case c;
    c.config.minCount = static_cast<unsigned>(pick(5));
    // A zero threshold keeps every subset of the items: keep those cases small.
    const int items = c.config.minCount == 0 ? 2 + pick(5) : 2 + pick(11);
    const int subjects = crowd == 0   ? pick(61)
                         : crowd == 1 ? 700 + pick(600)
                         : crowd == 2 ? 2100 + pick(600)
                                      : 65 + pick(300);
    c.config.windowSize = static_cast<unsigned>(pick(6));
    c.config.maxOrder = static_cast<unsigned>(pick(4));
    const double supports[] = {0, 0, 0.05, 0.1, 0.25, 1.0 / 3};
    const double confidences[] = {0, 0, 0.5, 1};
    const double lifts[] = {0, 0, 1, 1.5};
    const double convictions[] = {std::numeric_limits<double>::infinity(),
                                  std::numeric_limits<double>::infinity(), 1, 2, 0};
    c.config.minSupport = supports[pick(6)];
    c.config.minConfidence = confidences[pick(4)];
    c.config.minLift = lifts[pick(4)];
    c.config.maxConviction = convictions[pick(5)];
    std::vector<std::string> lines;

    // Subjects are written out of order, some as copies of earlier ones
    // (shifted in time or not), now and then with a long history, quoted
    // names, and every kind of line end.
    std::vector<std::vector<std::string>> histories;
    const char* ends[] = {"\n", "\r\n", "\r"};
    for (int s = 0; s < subjects; ++s) {
        const std::string id =
            pick(7) == 0 ? "\"s " + std::to_string(s) + "\"" : "s" + std::to_string(s);
        std::vector<std::string> rows;
        if (!histories.empty() && pick(4) == 0) {
            const int shift = pick(2) ? 0 : pick(5);
            const std::vector<std::string>& model =
                histories[static_cast<size_t>(pick(static_cast<int>(histories.size())))];
            for (const std::string& row : model) {
                const size_t tab = row.find('\t');
                const unsigned time = static_cast<unsigned>(std::stoul(row.substr(0, tab))) +
                                      static_cast<unsigned>(shift);
                rows.push_back(std::to_string(time) +
                               (tab == std::string::npos ? std::string() : row.substr(tab)));
            }
        } else {
            const int n = s == 0 && longHistory ? 100 + pick(400) : 1 + pick(8);
            unsigned int time = static_cast<unsigned>(pick(3));
            for (int r = 0; r < n; ++r) {
                std::string row = std::to_string(time);
                const int cells = pick(4);
                for (int k = 0; k < cells; ++k)
                    row += pick(9) == 0 ? "\t\"i" + std::to_string(pick(items)) + "\""
                                        : "\ti" + std::to_string(pick(items));
                rows.push_back(row);
                time += static_cast<unsigned>(pick(4)); // repeats and gaps
            }
        }
        histories.push_back(rows);
        for (const std::string& row : rows)
            lines.push_back(id + "\t" + row + ends[pick(3)]);
    }
    std::shuffle(lines.begin(), lines.end(), rng);
    std::ostringstream t;
    t << "subject\ttime\titem\n";
    for (const std::string& line : lines)
        t << line;
    c.table = t.str();
    return c;
}

struct Output {
    std::string rules, itemSets, err;
};

template <class Rules, class ItemSets>
Output render(const Rules& rules, const ItemSets& itemSets, const std::string& err) {
    Output o;
    std::ostringstream r, i;
    rules.write(r);
    itemSets.write(i);
    o.rules = r.str();
    o.itemSets = i.str();
    o.err = err;
    return o;
}

} // namespace

TEST(Differential, FastMinerMatchesTheReferenceOnRandomTables) {
    std::mt19937 rng(20261208);
    testsupport::TempDir dir;
    const std::string path = dir.file("t.tsv");
    int withRules = 0, deep = 0, crowdsWithRules = 0;
    for (int n = 0; n < 1000; ++n) {
        // The largest crowds on one thread, whose stretches start inside a word.
        const int crowd = n % 300 == 57 ? 2 : n % 50 == 7 ? 1 : 0;
        Case c = randomCase(rng, n % 10 == 0, crowd);
        // Crowds are there to count rules over many subjects: no threshold
        // but the count hides them, and every other largest crowd has no window.
        if (crowd > 0) {
            c.config.minSupport = c.config.minConfidence = c.config.minLift = 0;
            c.config.maxConviction = std::numeric_limits<double>::infinity();
            if (crowd == 2 && n / 300 % 2 == 0)
                c.config.windowSize = 0;
        }
        testsupport::writeFile(path, c.table);
        TransactionSet txns;
        txns.readInto(path, '\t');
        std::ostringstream slowSaid, fastSaid;
        quorvel::reference::MiningResultData slow =
            quorvel::reference::mine(c.config, txns, slowSaid);
        const std::string slowErr = slowSaid.str();

        c.config.threads = 1 + static_cast<unsigned>(n % 3);
        // Level 2 by a table of pair counts, and now and then by the join.
        if (n % 4 == 1)
            c.config.pairTableBytes = 0;
        // Rules by a table of the items or subject by subject.
        if (n % 4 == 2)
            c.config.itemTableBytes = 0;
        const EventLog log = mining::readEventLog(path, '\t', c.config.threads, {61, 0});
        ASSERT_EQ(log.subjects(), txns.size());
        ASSERT_EQ(log.transactions(), txns.transactionCount());
        MiningContext context;
        context.messages = &fastSaid;
        MiningResult fast = mine(c.config, log, context);
        const std::string fastErr = fastSaid.str();

        testing::internal::CaptureStderr();
        Output a = render(fast.rules(), fast.itemSets(), fastErr);
        Output b = render(slow.rules, slow.itemSets, slowErr);
        testing::internal::GetCapturedStderr();

        ASSERT_EQ(a.err, b.err) << "case " << n << "\n" << c.table;
        ASSERT_EQ(a.itemSets, b.itemSets) << "case " << n << "\n" << c.table;
        ASSERT_EQ(a.rules, b.rules) << "case " << n << " window " << c.config.windowSize
                                    << " threads " << c.config.threads << "\n"
                                    << c.table;
        withRules += fast.rules().size() > 0;
        crowdsWithRules += crowd > 0 && fast.rules().size() > 0;
        deep += fastErr.find("order 2") != std::string::npos;
    }
    // The generator must exercise the interesting paths, not only empty results.
    EXPECT_GT(withRules, 200);
    EXPECT_EQ(crowdsWithRules, 20);
    EXPECT_GT(deep, 100);
}

// With a count that many subjects must reach, rules are counted by how a
// set's items split by the order in which they turn up: over bitsets of one
// word and of many, subjects of weight one and more (copies merged), long
// histories, with and without a window, on one thread and on several, and
// with those bitsets not allowed, from the tables of the items instead.
TEST(Differential, SplitsByFirstAppearanceMatchTheReference) {
    std::mt19937 rng(20261210);
    testsupport::TempDir dir;
    const std::string path = dir.file("t.tsv");
    int withRules = 0, deep = 0;
    for (int n = 0; n < 90; ++n) {
        Case c = randomCase(rng, n % 5 == 0, n % 15 == 1 ? 1 : n % 3 == 2 ? 3 : 0);
        c.config.minSupport = c.config.minConfidence = c.config.minLift = 0;
        c.config.maxConviction = std::numeric_limits<double>::infinity();
        TransactionSet txns;
        testsupport::writeFile(path, c.table);
        txns.readInto(path, '\t');
        // Past this many subjects per count, the table is used instead.
        const unsigned least = static_cast<unsigned>(txns.size() / 128 + 1);
        c.config.minCount = least + static_cast<unsigned>(rng() % (n % 3 == 0 ? 3 : 12));
        // Every other case with a window, where the splits only bound the rules.
        c.config.windowSize = n % 2 ? 1 + static_cast<unsigned>(rng() % 5) : 0;
        c.config.threads = 1 + static_cast<unsigned>(n % 3);
        if (n % 7 == 3)
            c.config.pairRelationBytes = 0;
        std::ostringstream slowSaid, fastSaid;
        quorvel::reference::MiningResultData slow =
            quorvel::reference::mine(c.config, txns, slowSaid);
        const EventLog log = mining::readEventLog(path, '\t', c.config.threads, {61, 0});
        MiningContext context;
        context.messages = &fastSaid;
        MiningResult fast = mine(c.config, log, context);

        testing::internal::CaptureStderr();
        Output a = render(fast.rules(), fast.itemSets(), fastSaid.str());
        Output b = render(slow.rules, slow.itemSets, slowSaid.str());
        testing::internal::GetCapturedStderr();
        ASSERT_EQ(a.err, b.err) << "case " << n;
        ASSERT_EQ(a.itemSets, b.itemSets) << "case " << n;
        ASSERT_EQ(a.rules, b.rules) << "case " << n << " count " << c.config.minCount
                                    << " threads " << c.config.threads << "\n"
                                    << c.table;
        withRules += fast.rules().size() > 0;
        deep += fastSaid.str().find("order 3") != std::string::npos;
    }
    EXPECT_GT(withRules, 50);
    EXPECT_GT(deep, 20);
}

// The same for subjects of long histories in which half the items first
// appear past the 64th transaction, where whether an item is held at
// another's first appearance, or its masks with a window, are read from the
// whole history.
TEST(Differential, SplitsPastTheSixtyFourthTransaction) {
    std::mt19937 rng(64);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    testsupport::TempDir dir;
    const std::string path = dir.file("t.tsv");
    int late = 0;
    for (int n = 0; n < 12; ++n) {
        const int items = 3 + pick(4), subjects = 20 + pick(60);
        std::string table = "subject\ttime\titem\n";
        for (int s = 0; s < subjects; ++s) {
            const int rows = 66 + pick(40);
            for (int r = 0; r < rows; ++r) {
                table += "s" + std::to_string(s) + "\t" + std::to_string(r);
                const int reach = r < 64 ? items / 2 : items;
                for (int k = 1 + pick(2); k > 0; --k)
                    table += "\ti" + std::to_string(pick(reach));
                table += "\n";
            }
        }
        testsupport::writeFile(path, table);
        TransactionSet txns;
        txns.readInto(path, '\t');
        MiningParams config;
        config.minCount = 1 + static_cast<unsigned>(pick(subjects / 2));
        config.threads = 1 + static_cast<unsigned>(n % 2);
        config.windowSize = n % 3 == 2 ? 2 + static_cast<unsigned>(pick(30)) : 0;
        std::ostringstream slowSaid, fastSaid;
        quorvel::reference::MiningResultData slow = quorvel::reference::mine(config, txns, slowSaid);
        const EventLog log = mining::readEventLog(path, '\t', config.threads, {61, 0});
        MiningContext context;
        context.messages = &fastSaid;
        MiningResult fast = mine(config, log, context);
        testing::internal::CaptureStderr();
        Output a = render(fast.rules(), fast.itemSets(), fastSaid.str());
        Output b = render(slow.rules, slow.itemSets, slowSaid.str());
        testing::internal::GetCapturedStderr();
        ASSERT_EQ(a.rules, b.rules) << "case " << n << " count " << config.minCount;
        ASSERT_EQ(a.itemSets, b.itemSets) << "case " << n;
        // Rules whose subsequent holds an item only the later transactions have.
        for (const auto& r : fast.rules())
            for (const Item& i : r.first.subsequent())
                late += std::stoi(i.substr(1)) >= items / 2;
    }
    EXPECT_GT(late, 10);
}
