// The columnar ingest against the rule model's table reader: the same
// histories, the same counts and the same errors, whatever the block size
// and the number of threads.
#include "ingest.hpp"
#include "strings.hpp"
#include "test_support.hpp"

#include "brenlo/exception.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>

using namespace quorvel::rule;
using namespace quorvel::rule::mining;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

// The histories as text, in an order that does not depend on how subjects
// were numbered.
std::string canonical(const EventLog& log) {
    std::vector<std::string> histories;
    for (size_t s = 0; s < log.subjects(); ++s) {
        std::ostringstream h;
        for (uint32_t t = log.subjectBegin[s]; t < log.subjectBegin[s + 1]; ++t) {
            h << log.txnTime[t] << '{';
            for (uint32_t k = log.txnBegin[t]; k < log.txnBegin[t + 1]; ++k)
                h << log.items[log.txnItems[k]] << '\x1f';
            h << '}';
        }
        histories.push_back(h.str());
    }
    std::sort(histories.begin(), histories.end());
    std::ostringstream out;
    out << log.items.size() << " items, " << log.transactions() << " transactions\n";
    for (const std::string& h : histories)
        out << h << '\n';
    return out.str();
}

// What the table reader makes of the file, or its error.
std::string expected(const std::string& path) {
    try {
        TransactionSet txns;
        txns.readInto(path, '\t');
        return canonical(eventLogOf(txns));
    } catch (const brenlo::IOException& e) {
        return std::string("error: ") + e.what();
    }
}

std::string ingested(const std::string& path, unsigned threads, const IngestSizes& sizes) {
    try {
        return canonical(readEventLog(path, '\t', threads, sizes));
    } catch (const brenlo::IOException& e) {
        return std::string("error: ") + e.what();
    }
}

// A table as users' files come: odd names, quotes, every kind of line end,
// blank lines, repeated times, and now and then a mistake.
std::string randomTable(std::mt19937& rng, bool quotes, bool mistakes) {
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    const char* ends[] = {"\n", "\r\n", "\r", "\n\r"};
    const char* plain[] = {"a", "b", "c d", "caf\xc3\xa9", "x=>y", "{z}", " lead", "e"};
    const char* quoted[] = {"\"q,1\"",   "\"say \"\"hi\"\"\"", "\"line\nbreak\"",
                            "\"cr\rx\"", "\"tab\tin\"",        "\"ab\"cd",
                            "\"\""};
    std::string table = pick(4) == 0 ? "h\r\n" : "subject\ttime\titem\n";
    const int rows = pick(40);
    for (int r = 0; r < rows; ++r) {
        if (pick(8) == 0) {
            table += ends[pick(4)]; // a blank line
            continue;
        }
        table +=
            quotes && pick(6) == 0 ? std::string(quoted[pick(7)]) : "s" + std::to_string(pick(9));
        if (mistakes && pick(40) == 0) {
            table += ends[pick(4)]; // no time
            continue;
        }
        table += '\t';
        const char* badTimes[] = {"12x", "", "-1", "4294967296", " 1"};
        table +=
            mistakes && pick(40) == 0
                ? std::string(badTimes[pick(5)])
                : std::string(pick(15) == 0 ? "0000000000" : "") + // leading zeros count
                      std::to_string(pick(3) == 0 ? 4294967295u - pick(2) : unsigned(pick(12)));
        for (int k = pick(4); k > 0; --k) {
            table += '\t';
            if (pick(5) == 0)
                continue; // an empty cell
            table += quotes && pick(4) == 0 ? quoted[pick(7)] : plain[pick(8)];
        }
        if (r + 1 < rows || pick(2))
            table += ends[pick(4)];
    }
    if (quotes && mistakes && pick(6) == 0)
        table += "s1\t3\t\"never closed\n\ts2\t4\n";
    return table;
}

} // namespace

// Names of every length up to past two hash words, each also with one byte
// changed at every place: each gets an id of its own and keeps it as the
// table grows.
TEST(Ingest, InterningTellsApartNamesThatDifferInOneByte) {
    std::vector<std::string> names;
    for (size_t n = 0; n <= 40; ++n) {
        const std::string base(n, 'a');
        names.push_back(base);
        for (size_t at = 0; at < n; ++at) {
            std::string other = base;
            other[at] = 'b';
            names.push_back(other);
            other[at] = '\0';
            names.push_back(other);
        }
    }
    StringTable table, colliding;
    for (size_t k = 0; k < names.size(); ++k) {
        ASSERT_EQ(table.intern(names[k]), k) << "name " << k << " taken for an earlier one";
        // All in one hash, as if every name collided: the bytes alone tell.
        ASSERT_EQ(colliding.intern(names[k], 7), k) << "name " << k << " among collisions";
    }
    // Longer names first, so that a shorter one meets its own extensions.
    StringTable reversed;
    for (size_t k = names.size(); k-- > 0;)
        ASSERT_EQ(reversed.intern(names[k], 7), names.size() - 1 - k) << "name " << k;
    ASSERT_EQ(table.size(), names.size());
    for (size_t k = 0; k < names.size(); ++k) {
        EXPECT_EQ(table.intern(names[k]), k);
        EXPECT_EQ(colliding.intern(names[k], 7), k);
        EXPECT_EQ(table.view(static_cast<uint32_t>(k)), names[k]);
    }
}

TEST(Ingest, ReadsWhatTheTableReaderReads) {
    std::mt19937 rng(20261208);
    TempDir dir;
    const std::string path = dir.file("t.tsv");
    const IngestSizes sizes[] = {
        {size_t(32) << 20, 0, 1 << 16}, {1, 0, 1}, {3, 0, 2}, {17, 0, 5}, {64, 0, 3}};
    for (int n = 0; n < 1200; ++n) {
        const std::string table = randomTable(rng, n % 3 != 0, n % 2 == 0);
        writeFile(path, table);
        const std::string want = expected(path);
        for (unsigned threads : {1u, 2u, 3u}) {
            const IngestSizes& s = sizes[(n + threads) % 5];
            ASSERT_EQ(ingested(path, threads, s), want)
                << "table " << n << ", " << threads << " threads, blocks of " << s.block << ":\n"
                << table;
        }
    }
}

TEST(Ingest, StandardInputAndLinesAfterFoldedLineEnds) {
    TempDir dir;
    // LF CR is one line end, as the reader has it; a CR inside quotes is none.
    writeFile(dir.file("t.tsv"), "h\ns1\t1\ta\n\rs2\t2\t\"x\ry\"\ns3\n");
    EXPECT_EQ(ingested(dir.file("t.tsv"), 1, IngestSizes()),
              "error: " + dir.file("t.tsv") + ":4: Missing cell at position 1.");
    EXPECT_EQ(expected(dir.file("t.tsv")),
              "error: " + dir.file("t.tsv") + ":4: Missing cell at position 1.");
    EXPECT_EQ(ingested(dir.path(), 1, IngestSizes()),
              "error: Cannot open \"" + dir.path() + "\": Is a directory");
    EXPECT_EQ(ingested(dir.file("none.tsv"), 1, IngestSizes()),
              "error: Cannot open \"" + dir.file("none.tsv") + "\": No such file or directory");
}

TEST(Ingest, CutsAmongThreadsFallOnRowsOnly) {
    // Long enough to be cut; every kind of line end next to the cuts.
    std::string table = "subject\ttime\titem\n";
    for (int r = 0; r < 3000; ++r)
        table += "s" + std::to_string(r % 97) + "\t" + std::to_string(r % 13) + "\ti" +
                 std::to_string(r % 31) +
                 (r % 4 == 0   ? "\r\n"
                  : r % 4 == 1 ? "\n\r"
                  : r % 4 == 2 ? "\r"
                               : "\n");
    TempDir dir;
    writeFile(dir.file("t.tsv"), table);
    // A mistake on the last line: its number counts every line end before.
    writeFile(dir.file("bad.tsv"), table + "s1\n");
    const std::string wantBad = expected(dir.file("bad.tsv"));
    ASSERT_EQ(wantBad.substr(0, 7), "error: ");
    const std::string want = expected(dir.file("t.tsv"));
    for (unsigned threads : {2u, 3u, 5u})
        for (size_t block : {size_t(100), size_t(4096), size_t(1) << 20})
            EXPECT_EQ(ingested(dir.file("bad.tsv"), threads, {block, 0, 7}), wantBad)
                << threads << " threads, blocks of " << block;
    for (unsigned threads : {2u, 3u, 5u})
        for (size_t block : {size_t(100), size_t(4096), size_t(1) << 20})
            EXPECT_EQ(ingested(dir.file("t.tsv"), threads, {block, 0, 7}), want)
                << threads << " threads, blocks of " << block;
}

namespace {

// A table's rows with the columns named, moved about and padded with
// columns nobody reads; times as epoch seconds with a fraction now and then.
struct Exported {
    std::string plain, named;
};

Exported exportedTable(std::mt19937& rng, bool mistake) {
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    const char* items[] = {"a",           "b",         "c", "d", "\"x,y\"", "\"two\nlines\"",
                           "caf\xc3\xa9", "\"q\"\"q\""};
    const char* ends[] = {"\n", "\r\n"};
    Exported t;
    t.plain = "subject\ttime\titem\titem\n";
    // A header name holding a line end moves every line number down one.
    t.named = std::string("note,\"first\nitem\",when,who,second item") + ends[pick(2)];
    const int rows = pick(60);
    for (int r = 0; r < rows; ++r) {
        const std::string who = "s" + std::to_string(pick(7));
        const unsigned when = static_cast<unsigned>(pick(20));
        std::string a = items[pick(8)], b = pick(3) ? items[pick(pick(3) ? 4 : 8)] : "";
        // The quoted items read the same in either table.
        t.plain += who + "\t" + std::to_string(when) + "\t" + a + "\t" + b + "\n";
        std::string time = std::to_string(when) + (pick(3) ? "" : ".75");
        if (mistake && r == rows / 2)
            time = "soon";
        // Mostly without quotes, so that blocks are cut among threads.
        const std::string note =
            pick(4) ? "n" + std::to_string(r) : "\"n, " + std::to_string(r) + "\"";
        t.named += note + "," + a + "," + time + "," + who + "," + b + ends[pick(2)];
    }
    return t;
}

std::string ingestedAs(const std::string& bytes, const TableLayout& layout, unsigned threads,
                       const IngestSizes& sizes) {
    try {
        return canonical(parseEventLog(bytes, "t", layout, threads, sizes));
    } catch (const brenlo::IOException& e) {
        return std::string("error: ") + e.what();
    }
}

} // namespace

TEST(Ingest, NamedColumnsReadWhatTheirPlainTableHolds) {
    std::mt19937 rng(1616);
    TableLayout named;
    named.delimiter = ',';
    named.subject = "who";
    named.time = "when";
    named.items = {"first\nitem", "second item"};
    named.timeFormat = TimeFormat::UNIX;
    const IngestSizes sizes[] = {{size_t(32) << 20, 0, 1 << 16}, {1, 0, 1}, {7, 0, 2}, {64, 0, 3}};
    for (int n = 0; n < 150; ++n) {
        const bool mistake = n % 5 == 0;
        const Exported t = exportedTable(rng, mistake);
        const std::string first = ingestedAs(t.named, named, 1, sizes[0]);
        if (mistake && first.rfind("error: ", 0) == 0) {
            EXPECT_NE(first.find(": Invalid time \"soon\": a time is a whole number of seconds"),
                      std::string::npos)
                << first;
        } else {
            ASSERT_EQ(first, canonical(parseEventLog(t.plain, "p", '\t', 1))) << t.named;
        }
        for (unsigned threads : {1u, 2u, 3u})
            for (const IngestSizes& s : sizes)
                ASSERT_EQ(ingestedAs(t.named, named, threads, s), first)
                    << threads << " threads, blocks of " << s.block << ":\n"
                    << t.named;
    }
    // Line numbers count the header's own line end.
    const std::string bad = "who,\"wh\nen\",i\ns1,1,a\ns1,x,b\n";
    TableLayout l;
    l.delimiter = ',';
    l.time = "wh\nen";
    EXPECT_EQ(ingestedAs(bad, l, 2, {5, 0, 1}),
              "error: t:4: Invalid time \"x\": a time is a whole number from 0 to 4294967295.");
}
