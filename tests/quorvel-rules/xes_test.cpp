// XES event logs as process-mining tools publish them: the same tables as
// the same events exported to CSV, gzipped or not, and errors with a place.
#include "test_support.hpp"

#include <gtest/gtest.h>

using testsupport::readFile;
using testsupport::run;
using testsupport::runRules;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

const std::string XES = std::string(QUORVEL_SOURCE_DIR) + "/tests/quorvel-rules/small.xes";

// The completed events of small.xes, as a CSV export would hold them.
const std::string CSV = "case,activity,time\n"
                        "c1,register,2024-01-01T10:00:00+01:00\n"
                        "c1,check & decide,2024-01-02T10:00:00Z\n"
                        "c2,register,2024-02-01T08:00:00Z\n"
                        "c2,check & decide,2024-02-03T08:00:00Z\n";

std::string readLine(const std::string& err) {
    return err.substr(0, err.find('\n'));
}

} // namespace

TEST(Xes, MinesAsTheSameEventsExportedToCsv) {
    TempDir dir;
    writeFile(dir.file("log.csv"), CSV);
    auto csv = runRules({"--csv", "--subject=case", "--item=activity", "--time=time",
                         "--time-format=iso8601", "-c", "1", "-w", "2d", "log.csv", "want.tsv",
                         "want-sets.tsv"},
                        "", dir.path());
    ASSERT_EQ(csv.status, 0) << csv.err;
    // Told from its first bytes, or said; and gzipped, on standard input too.
    writeFile(dir.file("log.xes"), readFile(XES));
    ASSERT_EQ(run("/bin/gzip", {"-k", "-n", dir.file("log.xes")}).status, 0);
    const std::vector<std::vector<std::string>> ways = {
        {"-c", "1", "-w", "2d", "log.xes", "got.tsv", "got-sets.tsv"},
        {"--xes", "-c", "1", "-w", "2d", "log.xes", "got.tsv", "got-sets.tsv"},
        {"-c", "1", "-w", "2d", "log.xes.gz", "got.tsv", "got-sets.tsv"},
        {"--xes", "-c", "1", "-w", "2d", "-", "got.tsv", "got-sets.tsv"},
    };
    for (const auto& args : ways) {
        auto r =
            runRules(args, args[0] == "--xes" && args[5] == "-" ? readFile(XES) : "", dir.path());
        ASSERT_EQ(r.status, 0) << args[4] << ": " << r.err;
        EXPECT_EQ(readFile(dir.file("got.tsv")), readFile(dir.file("want.tsv"))) << args[4];
        EXPECT_EQ(readFile(dir.file("got-sets.tsv")), readFile(dir.file("want-sets.tsv")));
        // The same lines but for the last, which names the item-set file.
        auto middle = [](const std::string& err) {
            const size_t from = err.find(" with ");
            return err.substr(from, err.rfind('\n', err.size() - 2) - from);
        };
        EXPECT_EQ(middle(r.err), middle(csv.err));
    }
    EXPECT_NE(readFile(dir.file("want.tsv")).find("register => check & decide\t2\t"),
              std::string::npos);
}

TEST(Xes, KeysLifecyclesAndSkippedEvents) {
    TempDir dir;
    // Every transition: the started register of c1 is one more transaction.
    auto all = runRules({"-c", "1", "--lifecycle=all", XES, "r.tsv"}, "", dir.path());
    EXPECT_EQ(readLine(all.err),
              "Read " + XES + " with 5 transaction(s) over 2 history record(s).");
    // Items from another key: only c1's completed register has a resource.
    auto who = runRules({"-c", "1", "--item=org:resource", XES, "r.tsv"}, "", dir.path());
    EXPECT_EQ(who.status, 0) << who.err;
    EXPECT_NE(who.err.find("\nSkipped 3 row(s) without an item.\n"), std::string::npos) << who.err;
    // A trace key the traces lack: every event is without a subject.
    auto none = runRules({"-c", "1", "--subject=case:id", XES, "r.tsv"}, "", dir.path());
    EXPECT_NE(none.err.find("\nSkipped 4 row(s) without a subject.\n"), std::string::npos)
        << none.err;
    auto bad = runRules({"--lifecycle=started", XES}, "", dir.path());
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(readLine(bad.err), "Option \"--lifecycle\" needs complete or all, not \"started\".");
}

TEST(Xes, MalformedLogsSayWhereAndWriteNothing) {
    TempDir dir;
    const std::string xes = readFile(XES);
    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string text = xes;
        text.replace(text.find(from), from.size(), to);
        return text;
    };
    const std::vector<std::pair<std::string, std::string>> cases = {
        {replaced("</trace>", "</trac>"), "log.xes:11: Malformed XML: mismatched tag."},
        {replaced("<date key=\"time:timestamp\" value=\"2024-02-01T08:00:00Z\"/>", ""),
         "log.xes:14: The event has no \"time:timestamp\" attribute."},
        {replaced("2024-02-01T08:00:00Z", "yesterday"),
         "log.xes:14: Invalid time \"yesterday\": a time is an ISO 8601 date or date-time, such "
         "as 2024-01-05, 2024-01-05T13:45:00Z or 2024-01-05 13:45+01:00."},
        {xes.substr(0, xes.size() / 2), "log.xes:"},
    };
    for (const auto& c : cases) {
        writeFile(dir.file("log.xes"), c.first);
        auto r = runRules({"-c", "1", "log.xes", "out.tsv"}, "", dir.path());
        EXPECT_EQ(r.status, 2) << c.second;
        EXPECT_EQ(r.err.substr(0, c.second.size()), c.second) << r.err;
        EXPECT_FALSE(testsupport::fileExists(dir.file("out.tsv")));
    }
    auto parts = runRules({"--xes", "--inputs=log.xes", "out.tsv"}, "", dir.path());
    EXPECT_EQ(parts.status, 2);
    EXPECT_EQ(readLine(parts.err), "An XES log is read from one file by one process; give it as "
                                   "the input, without --inputs or mpirun.");
}

TEST(Xes, OnStandardInputItIsToldByItsFirstBytes) {
    TempDir dir;
    writeFile(dir.file("log.xes"), readFile(XES));
    auto want = runRules({"-c", "1", "-w", "7d", "log.xes", "want.tsv"}, "", dir.path());
    ASSERT_EQ(want.status, 0) << want.err;
    ASSERT_EQ(run("/bin/gzip", {"-k", "-n", dir.file("log.xes")}).status, 0);
    // Plain and gzipped, with a unit that only timestamps take.
    for (const char* file : {"log.xes", "log.xes.gz"}) {
        auto r = runRules({"-c", "1", "-w", "7d", "-", "got.tsv"}, readFile(dir.file(file)),
                          dir.path());
        ASSERT_EQ(r.status, 0) << file << ": " << r.err;
        EXPECT_EQ(readFile(dir.file("got.tsv")), readFile(dir.file("want.tsv"))) << file;
    }
    // A table on standard input is still a table, its first bytes given back.
    auto table = runRules({"-c", "1", "-", "-"}, "h\nc\t1\ta\nc\t2\tb\n", dir.path());
    EXPECT_EQ(table.status, 0) << table.err;
    EXPECT_NE(table.out.find("a => b\t1\t1\t1\t1\t1\tinf\t1\tinf\n"), std::string::npos)
        << table.out;
}

TEST(Xes, OtherXmlIsRefusedAndReplacesNothing) {
    TempDir dir;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"<!DOCTYPE html>\n<html><body><p>rules</p></body></html>\n",
         "page.xml:2: This is not an XES log: its root element is <html>."},
        {"<?xml version=\"1.0\"?>\n<bpmn:definitions xmlns:bpmn=\"x\"/>\n",
         "page.xml:2: This is not an XES log: its root element is <bpmn:definitions>."},
    };
    for (const auto& c : cases) {
        writeFile(dir.file("page.xml"), c.first);
        writeFile(dir.file("out.tsv"), "kept\n");
        auto r = runRules({"-c", "1", "page.xml", "out.tsv"}, "", dir.path());
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_EQ(readLine(r.err), c.second);
        EXPECT_EQ(readFile(dir.file("out.tsv")), "kept\n");
    }
    // A namespaced root is still a log.
    std::string xes = readFile(XES);
    xes.replace(xes.find("<log "), 5, "<xes:log ");
    xes.replace(xes.rfind("</log>"), 6, "</xes:log>");
    writeFile(dir.file("ns.xes"), xes);
    EXPECT_EQ(runRules({"-c", "1", "ns.xes", "out.tsv"}, "", dir.path()).status, 0);
}

TEST(Xes, ATraceWithNoEventReadIsNoSubject) {
    TempDir dir;
    // c3 has only a started event; c4 only an event without a name.
    std::string xes = readFile(XES);
    const std::string more =
        "<trace><string key=\"concept:name\" value=\"c3\"/>"
        "<event><string key=\"concept:name\" value=\"register\"/>"
        "<string key=\"lifecycle:transition\" value=\"start\"/>"
        "<date key=\"time:timestamp\" value=\"2024-03-01T08:00:00Z\"/></event></trace>\n"
        "<trace><string key=\"concept:name\" value=\"c4\"/>"
        "<event><date key=\"time:timestamp\" value=\"2024-03-01T08:00:00Z\"/></event></trace>\n";
    xes.insert(xes.rfind("</log>"), more);
    writeFile(dir.file("log.xes"), xes);
    auto r = runRules({"-c", "1", "log.xes", "-"}, "", dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readLine(r.err), "Read log.xes with 4 transaction(s) over 2 history record(s).");
    EXPECT_NE(r.err.find("\nSkipped 1 row(s) without an item, and 1 event(s) of traces without a "
                         "complete event.\n"),
              std::string::npos)
        << r.err;
    // Support 1: the two traces left out lower nothing.
    EXPECT_NE(r.out.find("register => check & decide\t2\t2\t1\t1\t1\tinf\t1\tinf\n"),
              std::string::npos)
        << r.out;
    // With every transition read, c3 is a subject.
    auto all = runRules({"-c", "1", "--lifecycle=all", "log.xes", "-"}, "", dir.path());
    EXPECT_EQ(readLine(all.err), "Read log.xes with 6 transaction(s) over 3 history record(s).");
}

TEST(Xes, AnEventNamingAKeyTwiceGivesItsFirstValue) {
    TempDir dir;
    std::string xes = readFile(XES);
    const std::string first = "<string key=\"concept:name\" value=\"register\"/>";
    const size_t at = xes.find(first, xes.find("value=\"c2\""));
    xes.insert(at + first.size(), "<string key=\"concept:name\" value=\"again\"/>");
    writeFile(dir.file("log.xes"), xes);
    auto r = runRules({"-c", "1", "log.xes", "-"}, "", dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find("again"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("register => check & decide\t2\t"), std::string::npos) << r.out;
}
