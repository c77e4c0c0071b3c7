// Mistakes real users make with real files: swapped operands, outputs left
// in the input folder, compressed and Excel exports, closed pipes, hopeless
// levels and half-typed options. Each ends soundly, and no file is lost.
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using testsupport::readFile;
using testsupport::run;
using testsupport::runRules;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

const std::string EVENTS = "subject\ttime\titem\n"
                           "s1\t1\ta\ns1\t2\tb\ns2\t1\ta\ns2\t2\tb\ns3\t1\tc\n";

std::string listing(const TempDir& dir) {
    return run("/bin/ls", {"-A", dir.path()}).out;
}

std::string gzip(const TempDir& dir, const std::string& name, const std::string& text) {
    writeFile(dir.file(name), text);
    EXPECT_EQ(run("/bin/gzip", {"-n", "-f", dir.file(name)}).status, 0);
    return dir.file(name + ".gz");
}

// Whether the gzip tool is there to make the compressed inputs.
bool haveGzip() {
    return run("/bin/sh", {"-c", "command -v gzip"}).status == 0;
}

#define SKIP_WITHOUT_GZIP()                                                                        \
    if (!haveGzip())                                                                               \
    GTEST_SKIP() << "gzip is absent: the compressed inputs are not made"

struct Ran {
    int status = -1;
    std::string out, err;
};

// The miner with standard output or standard error (or both) a pipe whose
// reader is already gone, and the signal left as a shell leaves it.
Ran withClosedReader(const std::vector<std::string>& args, bool closeOut, bool closeErr,
                     const std::string& cwd) {
    int gone[2], out[2], err[2];
    EXPECT_EQ(::pipe(gone), 0);
    EXPECT_EQ(::pipe(out), 0);
    EXPECT_EQ(::pipe(err), 0);
    ::close(gone[0]);
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::signal(SIGPIPE, SIG_DFL);
        ::dup2(closeOut ? gone[1] : out[1], 1);
        ::dup2(closeErr ? gone[1] : err[1], 2);
        if (::chdir(cwd.c_str()) != 0)
            ::_exit(127);
        std::vector<char*> argv{const_cast<char*>(QUORVEL_RULES_BIN)};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(QUORVEL_RULES_BIN, argv.data());
        ::_exit(127);
    }
    for (int fd : {gone[1], out[1], err[1]})
        ::close(fd);
    Ran r;
    char buf[4096];
    for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;)
        r.out.append(buf, static_cast<size_t>(n));
    for (ssize_t n; (n = ::read(err[0], buf, sizeof buf)) > 0;)
        r.err.append(buf, static_cast<size_t>(n));
    ::close(out[0]);
    ::close(err[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

} // namespace

TEST(NothingLost, SwappedOperandsNeverReplaceTheLog) {
    TempDir dir;
    writeFile(dir.file("events.tsv"), EVENTS);
    for (const char* format : {"tsv", "csv", "jsonl"}) {
        const std::string f = std::string("--format=") + format;
        ASSERT_EQ(
            runRules({"-c", "1", f, "events.tsv", "rules.tsv", "sets.tsv"}, "", dir.path()).status,
            0);
        // The exact mistake: the old rule table first, the log second.
        auto r = runRules({"-c", "15", "rules.tsv", "events.tsv"}, "", dir.path());
        EXPECT_EQ(r.status, 2) << format;
        EXPECT_EQ(r.err, "rules.tsv:1: This is a rule table, not a transaction table.\n") << format;
        r = runRules({"-c", "1", "sets.tsv", "events.tsv"}, "", dir.path());
        EXPECT_EQ(r.status, 2) << format;
        EXPECT_EQ(r.err, "sets.tsv:1: This is an item-set table, not a transaction table.\n")
            << format;
        // Named columns look at the first line before any name.
        r = runRules({"--csv", "--subject=s", "rules.tsv", "events.tsv"}, "", dir.path());
        EXPECT_EQ(r.err, "rules.tsv:1: This is a rule table, not a transaction table.\n") << format;
        // And on standard input.
        r = runRules({"-c", "1", "-", "events.tsv"}, readFile(dir.file("rules.tsv")), dir.path());
        EXPECT_EQ(r.err, "standard input:1: This is a rule table, not a transaction table.\n")
            << format;
        EXPECT_EQ(readFile(dir.file("events.tsv")), EVENTS) << format;
    }
    EXPECT_EQ(listing(dir), "events.tsv\nrules.tsv\nsets.tsv\n");
    // A header with a stray tab or quotes, or no header at all: the cells
    // and the rows tell, in every format the miner writes.
    for (const char* format : {"tsv", "csv"}) {
        const std::string f = std::string("--format=") + format;
        ASSERT_EQ(
            runRules({"-c", "1", f, "events.tsv", "rules.tsv", "sets.tsv"}, "", dir.path()).status,
            0);
        for (const char* file : {"rules.tsv", "sets.tsv"}) {
            const std::string table = readFile(dir.file(file));
            const size_t end = table.find('\n');
            const std::string header = table.substr(0, end), rows = table.substr(end + 1);
            const char delim = std::string(format) == "csv" ? ',' : '\t';
            std::string quoted = "\"";
            for (char c : header)
                quoted += c == delim ? std::string("\"") + delim + "\"" : std::string(1, c);
            quoted += "\"";
            const bool rules = std::string(file) == "rules.tsv";
            const std::vector<std::pair<std::string, std::string>> changed = {
                {header + delim + "\n" + rows, ":1: "}, {header + " \r\n" + rows, ":1: "},
                {quoted + "\n" + rows, ":1: "},         {rows, ":1: "},
                {"Some heading\n" + rows, ":2: "},
            };
            for (const auto& c : changed) {
                writeFile(dir.file("changed"), c.first);
                auto r = runRules({"-c", "1", "changed", "events.tsv"}, "", dir.path());
                EXPECT_EQ(r.status, 2) << format << " " << file << ": " << c.first;
                EXPECT_EQ(r.err, "changed" + c.second + "This is " +
                                     (rules ? "a rule table" : "an item-set table") +
                                     ", not a transaction table.\n")
                    << c.first;
                EXPECT_EQ(readFile(dir.file("events.tsv")), EVENTS) << c.first;
            }
        }
    }
    ::unlink(dir.file("changed").c_str());
    // A log whose header only resembles one is mined.
    writeFile(dir.file("near.tsv"), "Count\tItem Set\tMore\ns1\t1\ta\n");
    EXPECT_EQ(runRules({"-c", "1", "near.tsv", "o.tsv"}, "", dir.path()).status, 0);
    // And so is one whose items read like a rule.
    writeFile(dir.file("arrows.tsv"), "s\tt\ti\na => b\t1\t2\nc\t1\t{x}\n");
    EXPECT_EQ(runRules({"-c", "1", "arrows.tsv", "o.tsv"}, "", dir.path()).status, 0);
}

TEST(NothingLost, AFolderOfPartsNeverReadsItsOwnOutput) {
    TempDir dir;
    ::mkdir(dir.file("parts").c_str(), 0755);
    writeFile(dir.file("parts/a.tsv"), "subject\ttime\titem\ns1\t1\ta\ns1\t2\tb\n");
    writeFile(dir.file("parts/b.tsv"), "subject\ttime\titem\r\ns2\t1\ta\r\ns2\t2\tb\r\n");
    auto r = runRules({"--inputs=parts", "-c", "1", "parts/rules.tsv"}, "", dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string rules = readFile(dir.file("parts/rules.tsv"));
    EXPECT_NE(rules.find("a => b\t2\t2\t1\t"), std::string::npos) << rules;

    // The next day, the same command: refused as the input it now is.
    r = runRules({"--inputs=parts", "-c", "1", "parts/rules.tsv"}, "", dir.path());
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "Output \"parts/rules.tsv\" is the same file as input \"parts/rules.tsv\"; "
                     "it would be overwritten.\n");
    // Into another file: yesterday's table is not a part.
    r = runRules({"--inputs=parts", "-c", "1", "parts/today.tsv"}, "", dir.path());
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "parts/rules.tsv:1: This is a rule table, not a transaction table.\n");
    EXPECT_EQ(readFile(dir.file("parts/rules.tsv")), rules);

    // A part with another header names both files.
    ::unlink(dir.file("parts/rules.tsv").c_str());
    writeFile(dir.file("parts/c.tsv"), "case\ttime\titem\ns3\t1\ta\n");
    r = runRules({"--inputs=parts", "-c", "1", "out.tsv"}, "", dir.path());
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "parts/c.tsv:1: The header is not that of the first part, parts/a.tsv; the "
                     "parts of one table all start with the same header.\n");
    EXPECT_FALSE(testsupport::fileExists(dir.file("out.tsv")));
}

TEST(NothingLost, GzipIsReadWhereverATableIs) {
    SKIP_WITHOUT_GZIP();
    TempDir dir;
    writeFile(dir.file("plain.tsv"), EVENTS);
    ASSERT_EQ(
        runRules({"-c", "1", "plain.tsv", "want.tsv", "want-sets.tsv"}, "", dir.path()).status, 0);
    const std::string want = readFile(dir.file("want.tsv"));
    const std::string gz = gzip(dir, "events.tsv", EVENTS);
    for (unsigned j : {1u, 2u}) {
        auto r = runRules({"-j", std::to_string(j), "-c", "1", gz, "got.tsv"}, "", dir.path());
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(readFile(dir.file("got.tsv")), want);
    }
    // On standard input, and as a part holding no line feed at all.
    auto r = runRules({"-c", "1", "-", "got.tsv"}, readFile(gz), dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(dir.file("got.tsv")), want);
    ::mkdir(dir.file("parts").c_str(), 0755);
    writeFile(dir.file("parts/1.tsv"), "subject\ttime\titem\ns1\t1\ta\ns1\t2\tb\n");
    const std::string small = gzip(dir, "parts/2.tsv", "subject\ttime\titem\ns2\t1\ta\ns2\t2\tb\n");
    ASSERT_EQ(readFile(small).find('\n'), std::string::npos) << "pick another small part";
    r = runRules({"--inputs=parts", "-c", "1", "got.tsv"}, "", dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("with 4 transaction(s) over 2 history record(s)."), std::string::npos)
        << r.err;

    // Members one after another (cat a.gz b.gz) are one stream.
    const std::string head = gzip(dir, "h.tsv", "subject\ttime\titem\ns1\t1\ta\ns1\t2\tb\n");
    const std::string tail = gzip(dir, "t.tsv", "s2\t1\ta\ns2\t2\tb\ns3\t1\tc\n");
    writeFile(dir.file("joined.gz"), readFile(head) + readFile(tail));
    r = runRules({"-c", "1", "joined.gz", "got.tsv"}, "", dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("with 5 transaction(s) over 3 history record(s)."), std::string::npos);

    // Cut short or corrupt: an error, never fewer rows.
    const std::string bytes = readFile(gz);
    writeFile(dir.file("cut.gz"), bytes.substr(0, bytes.size() - 12));
    r = runRules({"-c", "1", "cut.gz", "got.tsv"}, "", dir.path());
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("cut.gz:"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("cut.gz: Cannot read: the gzip data ends early"), std::string::npos)
        << r.err;
    std::string bad = bytes;
    bad[bad.size() / 2] ^= 0x55;
    writeFile(dir.file("bad.gz"), bad);
    r = runRules({"-c", "1", "bad.gz", "got.tsv"}, "", dir.path());
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("bad.gz:"), std::string::npos) << r.err;
    EXPECT_EQ(readFile(dir.file("got.tsv")), want);

    // The grapher reads a gzipped rule table as it is.
    gzip(dir, "rules.tsv", want);
    auto plain = testsupport::runLinks({"-c", "1", dir.file("want.tsv")});
    auto packed = testsupport::runLinks({"-c", "1", dir.file("rules.tsv.gz")});
    EXPECT_EQ(packed.status, 0) << packed.err;
    EXPECT_EQ(packed.out, plain.out);
}

TEST(NothingLost, BinaryAndZstdInputsAreRefusedByName) {
    TempDir dir;
    writeFile(dir.file("sheet.xlsx"), std::string("PK\x03\x04\0\0\x08\0", 8) + "rest\n");
    auto r = runRules({"-c", "1", "sheet.xlsx", "o.tsv"}, "", dir.path());
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "sheet.xlsx:1: This is not a text table: its first line holds a NUL byte.\n");
    writeFile(dir.file("log.zst"), std::string("\x28\xb5\x2f\xfd", 4) + "xyz");
    r = runRules({"-c", "1", "log.zst", "o.tsv"}, "", dir.path());
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "log.zst: This file is compressed with zstd, which is not read here; unpack "
                     "it first (zstd -d) or compress it with gzip.\n");
    auto links = testsupport::runLinks({dir.file("sheet.xlsx")});
    EXPECT_EQ(links.status, 2);
    EXPECT_NE(links.err.find("sheet.xlsx:1: This is not a text table"), std::string::npos);
    EXPECT_FALSE(testsupport::fileExists(dir.file("o.tsv")));

    // UTF-16, as Windows tools save "Unicode text", with a mark or without,
    // either byte order: named, with how to convert it.
    const std::string utf16 = "This is UTF-16 text, which is not read: save it as UTF-8, or "
                              "convert it with \"iconv -f UTF-16 -t UTF-8 FILE > FILE.utf8\".";
    auto wide = [](const std::string& text, bool big) {
        std::string out;
        for (char c : text)
            out += big ? std::string(1, '\0') + c : std::string(1, c) + '\0';
        return out;
    };
    const std::string table = "case\ttime\tact\ns1\t1\ta\n";
    for (const std::string& bytes : {"\xFF\xFE" + wide(table, false), "\xFE\xFF" + wide(table, true),
                                     wide(table, false), wide(table, true)}) {
        writeFile(dir.file("u16.tsv"), bytes);
        r = runRules({"-c", "1", "u16.tsv", "o.tsv"}, "", dir.path());
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, "u16.tsv:1: " + utf16 + "\n");
        links = testsupport::runLinks({"u16.tsv"}, "", dir.path());
        EXPECT_EQ(links.status, 2);
        EXPECT_NE(links.err.find("u16.tsv:1: " + utf16), std::string::npos) << links.err;
    }
    EXPECT_FALSE(testsupport::fileExists(dir.file("o.tsv")));
}

TEST(NothingLost, AByteOrderMarkIsNotPartOfTheFirstName) {
    TempDir dir;
    const std::string csv = "case,activity,when\nc1,a,1\nc1,b,2\nc2,a,1\nc2,b,3\n";
    writeFile(dir.file("plain.csv"), csv);
    writeFile(dir.file("excel.csv"), "\xEF\xBB\xBF" + csv);
    const std::vector<std::string> named = {
        "--csv", "--subject=case", "--time=when", "--item=activity", "-c", "1"};
    for (const char* in : {"plain.csv", "excel.csv"}) {
        std::vector<std::string> args = named;
        args.push_back(in);
        args.push_back(std::string(in) + ".rules");
        auto r = runRules(args, "", dir.path());
        EXPECT_EQ(r.status, 0) << in << ": " << r.err;
    }
    EXPECT_EQ(readFile(dir.file("excel.csv.rules")), readFile(dir.file("plain.csv.rules")));
    // The default layout skips the header, mark and all, as before.
    writeFile(dir.file("excel.tsv"), "\xEF\xBB\xBF" + EVENTS);
    writeFile(dir.file("plain.tsv"), EVENTS);
    EXPECT_EQ(runRules({"-c", "1", "excel.tsv", "a"}, "", dir.path()).status, 0);
    EXPECT_EQ(runRules({"-c", "1", "plain.tsv", "b"}, "", dir.path()).status, 0);
    EXPECT_EQ(readFile(dir.file("a")), readFile(dir.file("b")));
    // A marked rule table is still told for one.
    ASSERT_EQ(runRules({"-c", "1", "plain.tsv", "rules.tsv"}, "", dir.path()).status, 0);
    writeFile(dir.file("marked.tsv"), "\xEF\xBB\xBF" + readFile(dir.file("rules.tsv")));
    auto r = runRules({"-c", "1", "marked.tsv", "plain.tsv"}, "", dir.path());
    EXPECT_EQ(r.err, "marked.tsv:1: This is a rule table, not a transaction table.\n");
    auto links = testsupport::runLinks({"-c", "1", dir.file("marked.tsv")});
    EXPECT_EQ(links.status, 0) << links.err;
    EXPECT_EQ(links.out, testsupport::runLinks({"-c", "1", dir.file("rules.tsv")}).out);
}

TEST(NothingLost, AReaderThatWentAwayLosesNoOutput) {
    TempDir dir;
    writeFile(dir.file("in.tsv"), EVENTS);
    ASSERT_EQ(runRules({"-c", "1", "in.tsv", "want.tsv", "want-sets.tsv"}, "", dir.path()).status,
              0);
    // `... 2>&1 | head -1` with files for outputs: the run ends as it would.
    Ran r =
        withClosedReader({"-c", "1", "in.tsv", "rules.tsv", "sets.tsv"}, false, true, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(readFile(dir.file("rules.tsv")), readFile(dir.file("want.tsv")));
    EXPECT_EQ(readFile(dir.file("sets.tsv")), readFile(dir.file("want-sets.tsv")));

    // The rule table itself to the closed pipe: a write error, the item
    // sets kept as they were, and no temporary file left behind.
    writeFile(dir.file("sets.tsv"), "old\n");
    r = withClosedReader({"-c", "1", "in.tsv", "-", "sets.tsv"}, true, false, dir.path());
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("Broken pipe"), std::string::npos) << r.err;
    EXPECT_EQ(readFile(dir.file("sets.tsv")), "old\n");
    r = withClosedReader({"-c", "1", "in.tsv", "-", "sets.tsv"}, true, true, dir.path());
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(readFile(dir.file("sets.tsv")), "old\n");
    EXPECT_EQ(listing(dir), "in.tsv\nrules.tsv\nsets.tsv\nwant-sets.tsv\nwant.tsv\n");
}

TEST(NothingLost, RowsOfAnExportWithoutASubjectOrAnItemAreSkippedAndCounted) {
    TempDir dir;
    writeFile(dir.file("e.csv"), "case,act,when,who\n"
                                 "c1,a,1,x\nc1,b,2,x\n"
                                 ",a,3,x\n,,,\n" // no subject (one also no time)
                                 "c2,,4,y\n"     // no item: no empty transaction
                                 "c2,a,5,y\nc2,b,6,y\n");
    auto r = runRules(
        {"--csv", "--subject=case", "--item=act", "--time=when", "-c", "2", "e.csv", "rules.tsv"},
        "", dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Read e.csv with 4 transaction(s) over 2 history record(s).\n"
                         "Skipped 2 row(s) without a subject and 1 without an item.\n"),
              std::string::npos)
        << r.err;
    // Support 1: the item-less row adds no transaction to c2.
    EXPECT_NE(readFile(dir.file("rules.tsv")).find("a => b\t2\t2\t1\t1\t1\tinf\t1\tinf\n"),
              std::string::npos);
    writeFile(dir.file("i.csv"), "case,act,when\nc1,a,1\nc1,,2\n");
    r = runRules({"--csv", "--subject=case", "--item=act", "--time=when", "-c", "1", "i.csv", "o"},
                 "", dir.path());
    EXPECT_NE(r.err.find("\nSkipped 1 row(s) without an item.\n"), std::string::npos) << r.err;
    writeFile(dir.file("s.csv"), "case,act,when\nc1,a,1\n,b,2\n");
    r = runRules({"--csv", "--subject=case", "--item=act", "--time=when", "-c", "1", "s.csv", "o"},
                 "", dir.path());
    EXPECT_NE(r.err.find("\nSkipped 1 row(s) without a subject.\n"), std::string::npos) << r.err;
    // A subject whose only rows are skipped is no history record: it lowers
    // no support, on one thread or several.
    writeFile(dir.file("only.csv"), "case,time,act\ns1,1,a\ns1,2,b\ns2,1,\n,1,a\ns3,1,a\ns3,2,b\n");
    for (const char* threads : {"-j1", "-j3"}) {
        r = runRules({threads, "--csv", "--subject=case", "--time=time", "--item=act", "-c", "1",
                      "only.csv", "-"},
                     "", dir.path());
        EXPECT_EQ(r.out, "Rule\tCount\tA union S\tSupport\tConfidence\tLift\tConviction\t"
                         "Probability\tCertainty\na => b\t2\t2\t1\t1\t1\tinf\t1\tinf\n");
        EXPECT_NE(r.err.find("Read only.csv with 4 transaction(s) over 2 history record(s).\n"
                             "Skipped 1 row(s) without a subject and 1 without an item.\n"),
                  std::string::npos)
            << r.err;
    }
    // The plain table keeps its reading: no line, an empty subject is a subject.
    r = runRules({"-c", "1", "-", "o"}, "h\n\t1\ta\n\t2\tb\ns\t3\t\n", dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err.find("Skipped"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("with 3 transaction(s) over 2 history record(s)."), std::string::npos);
}

TEST(NothingLost, AHopelessLevelStopsWithinSeconds) {
    // 1,000 subjects of 1,000 items of their own at -c 1: level 2 has
    // 5e11 candidate pairs, of which 5e8 are kept. `timeout` ends a run
    // that waits for the budget to fill up (status 124); the limit leaves
    // room for a loaded machine, and make bench times the stop itself.
    TempDir dir;
    std::string table = "subject\ttime\titem\n";
    for (int s = 0; s < 1000; ++s)
        for (int k = 0; k < 1000; ++k)
            table += "s" + std::to_string(s) + "\t1\ti" + std::to_string(s) + "_" +
                     std::to_string(k) + "\n";
    writeFile(dir.file("wide.tsv"), table);
#ifdef QUORVEL_SLOW_BUILD
    const char* limit = "300"; // the sanitizers' own slowness
#else
    const char* limit = "120";
#endif
    for (const char* budget : {"", "-M4G"}) {
        std::vector<std::string> args = {limit, QUORVEL_RULES_BIN, "-c", "1", "wide.tsv", "o.tsv"};
        if (*budget)
            args.insert(args.begin() + 2, budget);
        auto r = run("/usr/bin/timeout", args, "", dir.path());
        EXPECT_EQ(r.status, 2) << budget << ": " << r.err;
        EXPECT_NE(r.err.find("Level 2 (item sets of 2 items) has 499999500000 candidate sets and "
                             "would need about "),
                  std::string::npos)
            << budget << ": " << r.err;
    }
    EXPECT_EQ(listing(dir), "wide.tsv\n");
}

TEST(NothingLost, AReadThatPassesTheBudgetStopsNamingTheInput) {
    SKIP_WITHOUT_GZIP();
    TempDir dir;
    // One line that never ends, and rows that never stop, each from a
    // small gzip: stopped by the read, not by an allocation that fails.
    const std::vector<std::pair<std::string, std::string>> bombs = {
        {"(echo h; head -c 200000000 /dev/zero | tr '\\0' x) | gzip -1 > long.gz",
         "long.gz:2: A line runs on for more than "},
        {"awk 'BEGIN { print \"h\"; for (i = 0; i < 4000000; ++i) printf \"subject%d\\t%d\\ti%d\\n\", "
         "i, i, i % 1000 }' | gzip -1 > rows.gz",
         "rows.gz: What is read of it holds "},
    };
    for (const auto& bomb : bombs) {
        ASSERT_EQ(run("/bin/sh", {"-c", bomb.first}, "", dir.path()).status, 0);
        const std::string file = bomb.second.substr(0, bomb.second.find(':'));
        auto r = runRules({"-M", "48M", "-c", "1", file, "o.tsv"}, "", dir.path());
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_EQ(r.err.substr(0, bomb.second.size()), bomb.second) << r.err;
        EXPECT_NE(r.err.find("the memory budget of 48 MB (-M)"), std::string::npos) << r.err;
        EXPECT_FALSE(testsupport::fileExists(dir.file("o.tsv")));
    }
}

TEST(NothingLost, AFolderGivenAsTheInputIsAFolderEmptyOrNot) {
    TempDir dir;
    ::mkdir(dir.file("d").c_str(), 0755);
    auto r = runRules({"-c", "1", "d", "o.tsv"}, "", dir.path());
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "Cannot open \"d\": Is a directory\n");
    writeFile(dir.file("d/a.tsv"), EVENTS);
    r = runRules({"-c", "1", "d", "o.tsv"}, "", dir.path());
    EXPECT_EQ(r.err, "Cannot open \"d\": Is a directory\n");
    ::unlink(dir.file("d/a.tsv").c_str());
    r = runRules({"--inputs=d", "-c", "1", "o.tsv"}, "", dir.path());
    EXPECT_EQ(r.err, "The folder \"d\" holds no files to read.\n");
}

TEST(NothingLost, TheSharedLogsAreReadAsTheyAreGzipped) {
    const std::string data = testsupport::sharedDataDir();
    if (data.empty())
        GTEST_SKIP() << "../shared/data is absent: the real logs are not read";
    TempDir dir;
    const std::vector<std::pair<const char*, const char*>> logs = {
        {"receipt.tsv.gz", "20"}, {"groceries.tsv.gz", "50"}, {"retail.tsv.gz", "1000"}};
    for (const auto& log : logs) {
        const std::string path = data + "/" + log.first;
        auto packed = runRules({"-c", log.second, path, "rules.tsv", "sets.tsv"}, "", dir.path());
        EXPECT_EQ(packed.status, 0) << log.first << ": " << packed.err;
        const std::string rules = readFile(dir.file("rules.tsv"));
        const std::string sets = readFile(dir.file("sets.tsv"));
        const std::string plain = run("/bin/gzip", {"-dc", path}).out;
        auto unpacked =
            runRules({"-c", log.second, "-", "rules.tsv", "sets.tsv"}, plain, dir.path());
        EXPECT_TRUE(readFile(dir.file("rules.tsv")) == rules) << log.first;
        EXPECT_TRUE(readFile(dir.file("sets.tsv")) == sets) << log.first;
        EXPECT_EQ(packed.err.substr(packed.err.find(" with ")),
                  unpacked.err.substr(unpacked.err.find(" with ")));
    }
}
