// The analyst's way in, run as a user runs it: CSV exports mined through
// named columns and timestamps, several tables as one, item prefixes.
#include "apriori.hpp"
#include "export_logs.hpp"
#include "ingest.hpp"
#include "test_support.hpp"

#include "quorvel/formats.hpp"
#include "quorvel/options.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <iostream>
#include <map>
#include <pty.h>
#include <random>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

using testsupport::readFile;
using testsupport::run;
using testsupport::runRules;
using testsupport::TempDir;
using testsupport::writeFile;

using namespace exportlog;

TEST(Exports, NamedColumnsAndTimestampsGiveTheRulesOfTheTable) {
    std::mt19937 rng(16);
    const char* FORMATS[] = {"iso8601", "unix", "unix-ms"};
    for (int round = 0; round < 24; ++round) {
        const std::vector<Event> log = randomLog(rng);
        const std::string format = FORMATS[round % 3];
        // The same file names in two folders, so even the messages match.
        TempDir table, csv;
        writeFile(csv.file("log"), csvExport(log, format, rng));
        writeFile(table.file("log"), tsvTable(log));
        const std::string count = std::to_string(1 + rng() % 3);
        const uint32_t days = rng() % 12;
        // The window in days, hours or seconds; all the same span.
        const std::string units[] = {std::to_string(days) + "d", std::to_string(days * 24) + "h",
                                     std::to_string(days * 86400) + "s"};
        auto plain = runRules({"-c", count, "-w", std::to_string(days * 86400), "log", "r", "s"},
                              "", table.path());
        auto named =
            runRules({"-c", count, "-w", units[round % 3], "--csv", "--subject=case id", "--time",
                      "recorded at", "--item=activity", "--time-format=" + format, "log", "r", "s"},
                     "", csv.path());
        ASSERT_EQ(plain.status, 0) << plain.err;
        ASSERT_EQ(named.status, 0) << named.err;
        EXPECT_EQ(readFile(table.file("r")), readFile(csv.file("r"))) << "round " << round;
        EXPECT_EQ(readFile(table.file("s")), readFile(csv.file("s"))) << "round " << round;
        EXPECT_EQ(plain.err, named.err);
    }
}

TEST(Exports, TheBundledExportMinesAsTheBundledTable) {
    TempDir dir;
    const std::string examples = std::string(QUORVEL_SOURCE_DIR) + "/examples/";
    auto table =
        runRules({"-c", "15", "-w", "60", examples + "clinic-visits.tsv", "r1"}, "", dir.path());
    auto csv =
        runRules({"-c", "15", "-w", "60d", "--csv", "--subject=patient_id", "--time=recorded_at",
                  "--item=activity", "--time-format=iso8601", examples + "clinic-export.csv", "r2"},
                 "", dir.path());
    ASSERT_EQ(csv.status, 0) << csv.err;
    std::string renamed = readFile(dir.file("r2"));
    for (size_t at; (at = renamed.find("\"follow-up visit, GP\"")) != std::string::npos;)
        renamed.replace(at, 21, "follow-up visit");
    EXPECT_EQ(renamed, readFile(dir.file("r1")));
}

TEST(Exports, MistakesInAnExportSayWhereAndWhat) {
    TempDir dir;
    writeFile(dir.file("e.csv"), "case,\"what\nhappened\",when\n"
                                 "p1,a,2024-01-05\n"
                                 "p1,\"b\nc\",2024-01-06\n"
                                 "p2,b,2024-13-01\n"
                                 "p3,b\n");
    const std::vector<std::string> named = {"--csv", "--subject=case", "--time=when",
                                            "--time-format=iso8601"};
    auto args = [&](std::vector<std::string> more) {
        std::vector<std::string> all = named;
        all.insert(all.end(), more.begin(), more.end());
        return all;
    };
    auto bad = runRules(args({"--item=activity", "e.csv"}), "", dir.path());
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.err, "e.csv:1: No column is named \"activity\"; the header has \"case\", "
                       "\"what\nhappened\", \"when\".\n");
    // Lines count the line ends inside quoted cells.
    auto month = runRules(args({"--item=what\nhappened", "e.csv"}), "", dir.path());
    EXPECT_EQ(month.status, 2);
    EXPECT_EQ(month.err, "e.csv:6: Invalid time \"2024-13-01\": a time is an ISO 8601 date or "
                         "date-time, such as 2024-01-05, 2024-01-05T13:45:00Z or 2024-01-05 "
                         "13:45+01:00.\n");
    writeFile(dir.file("short.csv"), "case,what,when\np1,a,2024-01-05\np3,b\n");
    auto shortRow = runRules(args({"short.csv"}), "", dir.path());
    EXPECT_EQ(shortRow.status, 2);
    EXPECT_EQ(shortRow.err,
              "short.csv:3: Missing cell \"when\" (column 3): the row has 2 cell(s).\n");
    // A file without the header the names need.
    auto empty = runRules(args({"-"}), "", dir.path());
    EXPECT_EQ(empty.status, 2);
    EXPECT_EQ(empty.err, "standard input:1: No column is named \"case\"; the header has no "
                         "names.\n");

    auto unitless = runRules({"-w", "7d", "short.csv"}, "", dir.path());
    EXPECT_EQ(unitless.status, 1);
    EXPECT_EQ(unitless.err, "Option \"-w, --window\" takes a duration with a unit only when times "
                            "are timestamps (--time-format=iso8601, unix or unix-ms).\n");
    auto format = runRules({"--time-format=iso", "short.csv"}, "", dir.path());
    EXPECT_EQ(format.status, 1);
    EXPECT_EQ(format.err.substr(0, format.err.find('\n')),
              "Option \"--time-format\" needs number, iso8601, unix or unix-ms, not \"iso\".");
    auto window = runRules({"-w", "7y", "short.csv"}, "", dir.path());
    EXPECT_EQ(window.status, 1);
    EXPECT_EQ(window.err.substr(0, window.err.find('\n')), "Couldn't parse \"7y\".");
    auto delimiter = runRules({"--delimiter=ab", "short.csv"}, "", dir.path());
    EXPECT_EQ(delimiter.status, 1);
    EXPECT_EQ(delimiter.err.substr(0, delimiter.err.find('\n')),
              "Option \"--delimiter\" needs one character (or \"tab\"), not \"ab\".");
}

TEST(Exports, AnyDelimiterAndTheDefaultColumns) {
    TempDir dir;
    writeFile(dir.file("t.tsv"), "s\tt\ti\ns1\t1\ta\ns1\t2\tb\ns2\t1\ta\ns2\t3\tb\n");
    writeFile(dir.file("t.psv"), "s|t|i\ns1|1|a\ns1|2|b\ns2|1|a\ns2|3|b\n");
    auto tab = runRules({"-c1", "t.tsv", "r1"}, "", dir.path());
    auto pipe = runRules({"-c1", "--delimiter=|", "t.psv", "r2"}, "", dir.path());
    auto named = runRules({"-c1", "--delimiter=tab", "--time=t", "t.tsv", "r3"}, "", dir.path());
    ASSERT_EQ(pipe.status, 0) << pipe.err;
    ASSERT_EQ(named.status, 0) << named.err;
    EXPECT_EQ(readFile(dir.file("r1")), readFile(dir.file("r2")));
    EXPECT_EQ(readFile(dir.file("r1")), readFile(dir.file("r3")));
}

TEST(Exports, SeveralTablesAsOne) {
    TempDir dir;
    ::mkdir(dir.file("parts").c_str(), 0755);
    ::mkdir(dir.file("empty").c_str(), 0755);
    writeFile(dir.file("whole.tsv"), "s\tt\ti\ns1\t1\ta\ns1\t2\tb\ns2\t1\ta\ns2\t3\tb\ns3\t1\tb\n");
    writeFile(dir.file("parts/1.tsv"), "s\tt\ti\ns1\t1\ta\ns2\t1\ta\n");
    writeFile(dir.file("parts/2.tsv"), "s\tt\ti\r\ns1\t2\tb\r\ns2\t3\tb\r\n");
    writeFile(dir.file("parts/.hidden"), "not\ta\ttable\nat all\n");
    writeFile(dir.file("s3.tsv"), "s\tt\ti\ns3\t1\tb\n");
    auto whole = runRules({"-c1", "whole.tsv", "r1", "i1"}, "", dir.path());
    auto parts = runRules({"-c1", "--inputs=parts,s3.tsv", "r2", "i2"}, "", dir.path());
    ASSERT_EQ(parts.status, 0) << parts.err;
    EXPECT_EQ(readFile(dir.file("r1")), readFile(dir.file("r2")));
    EXPECT_EQ(readFile(dir.file("i1")), readFile(dir.file("i2")));
    EXPECT_EQ(parts.err.substr(0, parts.err.find('\n')),
              "Read parts, s3.tsv with 5 transaction(s) over 3 history record(s).");
    // Lines are the failing file's own.
    writeFile(dir.file("parts/3.tsv"), "s\tt\ti\ns1\t9\tc\ns4\n");
    auto bad = runRules({"-c1", "--inputs", "s3.tsv", "--inputs", "parts", "r3"}, "", dir.path());
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.err, "parts/3.tsv:3: Missing cell at position 1.\n");
    EXPECT_FALSE(testsupport::fileExists(dir.file("r3")));
    auto empty = runRules({"--inputs=empty", "r4"}, "", dir.path());
    EXPECT_EQ(empty.status, 2);
    EXPECT_EQ(empty.err, "The folder \"empty\" holds no files to read.\n");
    // An output among the inputs is refused.
    auto same = runRules({"--inputs=s3.tsv,parts", "parts/1.tsv"}, "", dir.path());
    EXPECT_EQ(same.status, 2);
    EXPECT_EQ(same.err, "Output \"parts/1.tsv\" is the same file as input \"parts/1.tsv\"; it "
                        "would be overwritten.\n");
}

TEST(Exports, ItemPrefixKeepsColumnsApart) {
    TempDir dir;
    // A resource named like an activity: "b" both did and was done.
    writeFile(dir.file("p.csv"), "case,act,who,t\nc1,a,b,1\nc1,b,x,2\nc2,a,b,1\nc2,b,y,3\n");
    const std::vector<std::string> named = {
        "--csv", "--subject=case", "--item=act,who", "--time=t", "-c",
        "2",     "p.csv",          "r.tsv",          "s.tsv"};
    ASSERT_EQ(runRules(named, "", dir.path()).status, 0);
    EXPECT_EQ(readFile(dir.file("s.tsv")), "Count\tItem Set\n2\t{a,b}\n2\t{a}\n2\t{b}\n");
    std::vector<std::string> prefixed = named;
    prefixed.insert(prefixed.begin(), "--item-prefix");
    auto r = runRules(prefixed, "", dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(readFile(dir.file("s.tsv")).find("2\t{act=a,act=b,who=b}\n"), std::string::npos)
        << readFile(dir.file("s.tsv"));
    EXPECT_NE(readFile(dir.file("r.tsv")).find("act=a => act=b\t2\t"), std::string::npos);
    // XES keys name items the same way.
    auto x = runRules({"--item-prefix", "-c", "2",
                       std::string(QUORVEL_SOURCE_DIR) + "/tests/quorvel-rules/small.xes", "x.tsv"},
                      "", dir.path());
    EXPECT_NE(readFile(dir.file("x.tsv")).find("concept:name=register => concept:name=check"),
              std::string::npos)
        << x.err;
    // A table whose header is skipped unread has no names to give.
    auto bare = runRules({"--item-prefix", "p.csv"}, "", dir.path());
    EXPECT_EQ(bare.status, 1);
    EXPECT_EQ(bare.err, "Option \"--item-prefix\" needs --item to name the item columns.\n");
}
