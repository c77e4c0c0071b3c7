// The miner used as a library: logs built from columns in memory, runs
// that share nothing, progress and cancellation through the context.
#include "ingest.hpp"
#include "test_support.hpp"

#include "quorvel/formats.hpp"
#include "quorvel/mine.hpp"
#include "quorvel/read.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

using namespace quorvel::rule;

namespace {

// A log of `subjects` histories over a few items, times 0..40.
std::string randomTable(unsigned seed, int subjects) {
    std::mt19937 rng(seed);
    std::string t = "subject\ttime\titem\n";
    for (int s = 0; s < subjects; ++s) {
        const int events = 1 + static_cast<int>(rng() % 12);
        for (int e = 0; e < events; ++e)
            t += "s" + std::to_string(s) + '\t' + std::to_string(rng() % 40) + "\ti" +
                 std::to_string(rng() % 9) + '\n';
    }
    return t;
}

std::string tables(const MiningResult& r) {
    std::ostringstream out;
    writeRuleTable(out, r.rules(), TableFormat::TSV);
    writeItemSetTable(out, r.itemSets(), TableFormat::TSV);
    return out.str();
}

MiningParams params(size_t count, unsigned window, unsigned threads) {
    MiningParams p;
    p.minCount = count;
    p.windowSize = window;
    p.threads = threads;
    return p;
}

// Columns as a caller holds them: codes for subjects and items, with
// texts for the items; -1 where a cell is missing.
struct Columns {
    std::vector<int64_t> subject, time, item;
    std::vector<std::string> dictionary;

    EventColumns view() const {
        EventColumns c;
        c.rows = subject.size();
        c.subject = subject.data();
        c.time = time.data();
        c.items = {item.data()};
        c.dictionary = dictionary;
        return c;
    }
};

} // namespace

TEST(Library, RunsSideBySideGiveWhatEachGivesAlone) {
    const EventLog log = mining::parseEventLog(randomTable(7, 300), "t", '\t', 1);
    const MiningParams a = params(20, 0, 1), b = params(8, 10, 2);
    std::ostringstream aloneSaidA, aloneSaidB;
    MiningContext quiet;
    quiet.messages = &aloneSaidA;
    const std::string aloneA = tables(mine(a, log, quiet));
    quiet.messages = &aloneSaidB;
    const std::string aloneB = tables(mine(b, log, quiet));
    ASSERT_NE(aloneA, aloneB) << "the two settings should find different rules";
    ASSERT_NE(mine(b, log).rules().size(), 0u);
    for (int round = 0; round < 3; ++round) {
        std::string gotA, gotB;
        std::ostringstream saidA, saidB;
        std::thread other([&] {
            MiningContext context;
            context.messages = &saidB;
            gotB = tables(mine(b, log, context));
        });
        MiningContext context;
        context.messages = &saidA;
        gotA = tables(mine(a, log, context));
        other.join();
        EXPECT_EQ(gotA, aloneA);
        EXPECT_EQ(gotB, aloneB);
        // Each run speaks to its own stream.
        EXPECT_EQ(saidA.str(), aloneSaidA.str());
        EXPECT_EQ(saidB.str(), aloneSaidB.str());
    }
    // No thread count means one per processor, with the same results.
    EXPECT_EQ(tables(mine(params(8, 10, 0), log)), aloneB);
}

TEST(Library, ColumnsInMemoryReadAsTheirTableReads) {
    // Subjects as codes in any order, items as codes of a dictionary whose
    // texts repeat; missing cells follow the export's rules.
    Columns c;
    c.dictionary = {"b", "a", "c", "a"};
    const std::string table = "subject\ttime\titem\n"
                              "x\t5\tb\n"
                              "y\t1\ta\n"
                              "x\t5\ta\n"
                              "\t3\tc\n"
                              "y\t2\t\n"
                              "x\t9\tc\n"
                              "z\t4\t\n";
    c.subject = {10, 3, 10, -1, 3, 10, 0};
    c.time = {5, 1, 5, 3, 2, 9, 4};
    c.item = {0, 3, 1, 2, -1, 2, -1};
    TableLayout named;
    named.subject = "subject";
    named.time = "time";
    named.items = {"item"};
    const EventLog fromText = mining::parseEventLog(table, "t", named, 1);
    const EventLog fromColumns = eventLogOf(c.view(), 2);
    EXPECT_EQ(describe(fromColumns), describe(fromText));
    // z, met only without an item, is no subject, read either way.
    EXPECT_EQ(fromColumns.subjects(), 2u);
    EXPECT_EQ(fromText.subjects(), 2u);
    EXPECT_EQ(fromColumns.skipped.message(), fromText.skipped.message());
    EXPECT_EQ(fromColumns.skipped.message(),
              "Skipped 1 row(s) without a subject and 2 without an item.");

    // Several item columns: a row is skipped only when all are missing.
    Columns two = c;
    std::vector<int64_t> second = {-1, -1, -1, -1, 2, -1, -1};
    EventColumns both = two.view();
    both.items.push_back(second.data());
    EXPECT_EQ(eventLogOf(both).skipped.noItem, 1u);

    auto refused = [](Columns bad, const std::string& message) {
        try {
            eventLogOf(bad.view());
            ADD_FAILURE() << "accepted; wanted: " << message;
        } catch (const std::invalid_argument& e) {
            EXPECT_EQ(std::string(e.what()), message);
        }
    };
    Columns noTime = c;
    noTime.time[5] = EventColumns::NO_TIME;
    refused(noTime, "Row 6 has no time.");
    Columns early = c;
    early.time[1] = -1;
    refused(early, "Row 2 has the time -1, which is not from 0 to 4294967295 (before 1970 or "
                   "after 2106, as seconds).");
    Columns pastDictionary = c;
    pastDictionary.item[0] = 4;
    refused(pastDictionary, "Row 1 has the item code 4, past the dictionary's 4 items.");

    EXPECT_EQ(eventLogOf(EventColumns()).subjects(), 0u);
    EXPECT_EQ(mine(params(1, 0, 1), eventLogOf(EventColumns())).rules().size(), 0u);
}

namespace {

// Records the stages and stops the run at the first unit of `stopAt`.
class Watcher : public brenlo::Progress {
public:
    Watcher(std::atomic<bool>& cancel, std::string stopAt) : m_cancel(cancel), m_stopAt(stopAt) {}
    void start(const std::string& label, uint64_t total, Unit) override {
        stages += label + " of " + std::to_string(total) + "\n";
        m_current = label;
    }
    void advance(uint64_t n) override {
        done += n;
        if (!m_stopAt.empty() && m_current.find(m_stopAt) == 0)
            m_cancel = true;
    }
    std::string stages;
    std::atomic<uint64_t> done{0};

private:
    std::atomic<bool>& m_cancel;
    std::string m_stopAt, m_current;
};

} // namespace

TEST(Library, ProgressIsReportedAndCancellingStopsTheRun) {
    const EventLog log = mining::parseEventLog(randomTable(3, 400), "t", '\t', 1);
    for (unsigned threads : {1u, 2u}) {
        std::atomic<bool> cancel{false};
        Watcher all(cancel, "");
        MiningContext context;
        context.progress = &all;
        context.cancel = &cancel;
        const std::string whole = tables(mine(params(10, 5, threads), log, context));
        // Pairs count distinct histories; rules, every subject they stand for.
        EXPECT_EQ(all.stages.find("Counting pairs of items of "), 0u) << all.stages;
        EXPECT_NE(all.stages.find("Counting rules of item sets of 2 items of 400\n"),
                  std::string::npos)
            << all.stages;
        EXPECT_GT(all.done.load(), 400u);

        // Stopped in each stage that reports: no result, the Cancelled error.
        for (const char* stage : {"Counting pairs", "Counting rules", "Joining"}) {
            std::atomic<bool> stop{false};
            Watcher watcher(stop, stage);
            context.progress = &watcher;
            context.cancel = &stop;
            MiningParams p = params(10, 5, threads);
            if (std::string(stage) == "Joining")
                p.pairTableBytes = 0;
            EXPECT_THROW(mine(p, log, context), Cancelled) << stage << "\n" << watcher.stages;
        }
        // A flag left unset stops nothing.
        std::atomic<bool> unset{false};
        Watcher quiet(unset, "");
        context.progress = &quiet;
        context.cancel = &unset;
        EXPECT_EQ(tables(mine(params(10, 5, threads), log, context)), whole);
    }
}

TEST(Library, FilesReadThroughThePublicReader) {
    testsupport::TempDir dir;
    const std::string path = dir.file("log.tsv");
    const std::string table = randomTable(11, 50);
    testsupport::writeFile(path, table);
    EXPECT_EQ(describe(readLog(path, TableLayout())),
              describe(mining::parseEventLog(table, "t", '\t', 1)));
    try {
        readLog(dir.file("absent.tsv"), TableLayout());
        ADD_FAILURE() << "an absent file was read";
    } catch (const std::exception& e) {
        EXPECT_NE(std::string(e.what()).find("absent.tsv"), std::string::npos) << e.what();
    }
}
