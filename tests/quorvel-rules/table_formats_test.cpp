// The tables as analysts read them: CSV and JSON Lines read back by
// standard readers, JSON strings valid whatever the bytes, sorted and cut
// rule tables, the short help, and the progress line on a terminal.
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
#include <iostream>
#include <map>
#include <pty.h>
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

namespace {

// A log whose items need every kind of escaping in CSV and JSON.
const std::string ODD_TABLE = "s\tt\ti\ti\n"
                              "1\t1\t\"a,\"\"q\"\"\"\t\"tab\there\"\n"
                              "1\t2\t\"line\nend\"\tcaf\xc3\xa9\n"
                              "2\t1\t\"a,\"\"q\"\"\"\tcaf\xc3\xa9\n"
                              "2\t5\t\"line\nend\"\t\"tab\there\"\n"
                              "3\t1\t\"a,\"\"q\"\"\"\t\"line\nend\"\n"
                              "3\t2\tcaf\xc3\xa9\t\\back\n"
                              "4\t1\t\\back\tctl\x01x\n";

std::string hex(const std::string& s) {
    static const char* H = "0123456789abcdef";
    std::string out;
    for (unsigned char c : s)
        out += std::string(1, H[c >> 4]) + H[c & 15];
    return out;
}

std::string bits(double v) {
    uint64_t b;
    std::memcpy(&b, &v, 8);
    char text[20];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(b));
    return text;
}

std::string items(const quorvel::rule::ItemSet& set) {
    std::string out;
    for (const auto& item : set)
        out += (out.empty() ? "" : ",") + hex(item);
    return out;
}

// What the reader script prints for the rules and item sets of `result`.
std::string canonical(const quorvel::rule::MiningResult& result, const std::string& format,
                      bool rules) {
    std::string out;
    if (rules) {
        for (const auto& r : result.rules()) {
            out += format == "csv"
                       ? hex(r.first.antecedent().toString()) + "|" +
                             hex(r.first.subsequent().toString())
                       : items(r.first.antecedent()) + "|" + items(r.first.subsequent());
            for (const auto& m : quorvel::rule::measures())
                out += "|" + bits(m.of(r.second));
            out += "\n";
        }
    } else {
        for (const auto& s : result.itemSets())
            out += std::to_string(s.second) + "|" +
                   (format == "csv" ? hex(s.first.toString()) : items(s.first)) + "\n";
    }
    return out;
}

} // namespace

TEST(Exports, CsvAndJsonLinesReadBackThroughStandardReaders) {
    if (!havePython())
        GTEST_SKIP() << "python3 is absent: the standard-reader round trip is skipped";
    TempDir dir;
    writeFile(dir.file("odd.tsv"), ODD_TABLE);
    quorvel::rule::MiningParams config;
    config.minCount = 1;
    config.windowSize = 3;
    config.threads = 1;
    const auto result = quorvel::rule::mine(
        config, quorvel::rule::mining::parseEventLog(ODD_TABLE, "odd", '\t', 1));
    ASSERT_GT(result.rules().size(), 3u);
    bool infinite = false;
    for (const auto& r : result.rules())
        infinite = infinite || std::isinf(r.second.certainty) || std::isinf(r.second.conviction);
    ASSERT_TRUE(infinite) << "the table should have infinite measures";

    const bool haveJq = run("/bin/sh", {"-c", "command -v jq"}).status == 0;
    for (const std::string format : {"csv", "jsonl"}) {
        auto mined =
            runRules({"-c1", "-w3", "--format=" + format, "odd.tsv", "r." + format, "s." + format},
                     "", dir.path());
        ASSERT_EQ(mined.status, 0) << mined.err;
        const std::string script =
            std::string(QUORVEL_SOURCE_DIR) + "/tests/formats/read_tables.py";
        auto rules =
            run("/usr/bin/env", {"python3", script, format, "rules", dir.file("r." + format)});
        auto sets =
            run("/usr/bin/env", {"python3", script, format, "item-sets", dir.file("s." + format)});
        ASSERT_EQ(rules.status, 0) << rules.err;
        ASSERT_EQ(sets.status, 0) << sets.err;
        EXPECT_EQ(rules.out, canonical(result, format, true)) << format;
        EXPECT_EQ(sets.out, canonical(result, format, false)) << format;
        if (format == "jsonl" && haveJq) {
            for (const char* file : {"r.jsonl", "s.jsonl"})
                EXPECT_EQ(run("/usr/bin/env", {"jq", "-e", ".", dir.file(file)}).status, 0) << file;
        }
    }
    if (!haveJq)
        std::cout << "jq is absent: JSON Lines were read by Python only\n";
}

TEST(Exports, JsonStringsAreValidWhateverTheBytes) {
    auto json = [](const std::string& s) {
        std::ostringstream out;
        quorvel::rule::writeJsonString(out, s);
        return out.str();
    };
    EXPECT_EQ(json("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(json(std::string("n\nt\tr\r\x01\x7f\0", 9)), "\"n\\nt\\tr\\r\\u0001\\u007f\\u0000\"");
    EXPECT_EQ(json("caf\xc3\xa9 \xf0\x9f\x98\x80"), "\"caf\xc3\xa9 \xf0\x9f\x98\x80\"");
    // Bytes outside UTF-8 read as Latin-1: a stray continuation byte, a
    // cut sequence, an overlong form and a surrogate.
    EXPECT_EQ(json("\x80"), "\"\\u0080\"");
    EXPECT_EQ(json("\xc3"), "\"\\u00c3\"");
    EXPECT_EQ(json("\xc0\xaf"), "\"\\u00c0\\u00af\"");
    EXPECT_EQ(json("\xed\xa0\x80"), "\"\\u00ed\\u00a0\\u0080\"");
    EXPECT_EQ(json("\xf4\x90\x80\x80"), "\"\\u00f4\\u0090\\u0080\\u0080\"");
}

TEST(Exports, SortedAndCutRuleTables) {
    std::mt19937 rng(3);
    for (int round = 0; round < 6; ++round) {
        TempDir dir;
        writeFile(dir.file("t.tsv"), tsvTable(randomLog(rng)));
        auto all = runRules({"-c1", "--format=jsonl", "t.tsv", "all"}, "", dir.path());
        ASSERT_EQ(all.status, 0) << all.err;
        std::vector<std::string> rows;
        std::istringstream lines(readFile(dir.file("all")));
        for (std::string line; std::getline(lines, line);)
            rows.push_back(line);
        for (const auto& m : quorvel::rule::measures()) {
            const std::string name = m.name;
            auto sorted = runRules({"-c1", "--format=jsonl", "--sort=" + name, "t.tsv", "sorted"},
                                   "", dir.path());
            ASSERT_EQ(sorted.status, 0) << sorted.err;
            // The JSON value of `name` in a row, as a number.
            auto value = [&](const std::string& row) {
                const size_t at = row.find("\"" + name + "\":") + name.size() + 3;
                const std::string v = row.substr(at, row.find_first_of(",}", at) - at);
                return v == "\"inf\"" ? HUGE_VAL : std::stod(v);
            };
            std::vector<std::string> got;
            std::istringstream s(readFile(dir.file("sorted")));
            for (std::string line; std::getline(s, line);)
                got.push_back(line);
            ASSERT_EQ(got.size(), rows.size());
            // A permutation, largest first, ties in rule order.
            std::vector<size_t> at;
            for (const std::string& row : got)
                at.push_back(std::find(rows.begin(), rows.end(), row) - rows.begin());
            for (size_t k = 1; k < got.size(); ++k) {
                ASSERT_LT(at[k], rows.size());
                EXPECT_GE(value(got[k - 1]), value(got[k])) << name;
                if (value(got[k - 1]) == value(got[k])) {
                    EXPECT_LT(at[k - 1], at[k]) << name;
                }
            }
            const size_t top = 1 + rng() % 5;
            auto cut = runRules({"-c1", "--format=jsonl", "--sort", name, "--top",
                                 std::to_string(top), "t.tsv", "cut"},
                                "", dir.path());
            std::string expected;
            for (size_t k = 0; k < std::min(top, got.size()); ++k)
                expected += got[k] + "\n";
            EXPECT_EQ(readFile(dir.file("cut")), expected);
            // The rows written, then the empty item-set path.
            const std::string tail = "\n" + std::to_string(std::min(top, got.size())) + "\n\n";
            EXPECT_EQ(cut.err.substr(cut.err.size() - tail.size()), tail);
        }
    }
    // --top alone keeps rule order; 0 is refused.
    TempDir dir;
    writeFile(dir.file("t.tsv"), tsvTable(randomLog(rng)));
    // (JSON Lines: one rule a line, whatever the items hold.)
    runRules({"-c1", "--format=jsonl", "t.tsv", "all"}, "", dir.path());
    runRules({"-c1", "--format=jsonl", "--top=2", "t.tsv", "two"}, "", dir.path());
    const std::string all = readFile(dir.file("all"));
    const size_t second = all.find('\n', all.find('\n') + 1);
    ASSERT_NE(second, std::string::npos);
    EXPECT_EQ(readFile(dir.file("two")), all.substr(0, second + 1));
    EXPECT_EQ(runRules({"--top=0", "t.tsv"}, "", dir.path()).status, 1);
}

TEST(Exports, VersionAndShortHelp) {
    auto version = runRules({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "quorvel-rules " + std::string(quorvel::version()) + "\n");
    EXPECT_EQ(version.err, "");
    auto links = testsupport::runLinks({"--version"});
    EXPECT_EQ(links.out, "quorvel-links " + std::string(quorvel::version()) + "\n");
    auto h = runRules({"-h"});
    auto q = runRules({"-?"});
    EXPECT_EQ(h.status, 0);
    EXPECT_EQ(h.err, q.err);
    EXPECT_EQ(testsupport::runLinks({"-h"}).err, testsupport::runLinks({"-?"}).err);
}

namespace {

// Runs the miner with standard error on a pseudo-terminal; what it drew.
std::string onTerminal(const std::vector<std::string>& args, const std::string& cwd) {
    struct termios raw;
    cfmakeraw(&raw); // no translation of line ends
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, &raw, nullptr);
    if (pid == 0) {
        if (::chdir(cwd.c_str()) != 0)
            _exit(126);
        std::vector<char*> argv{const_cast<char*>(QUORVEL_RULES_BIN)};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(QUORVEL_RULES_BIN, argv.data());
        _exit(127);
    }
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;)
        out.append(buf, static_cast<size_t>(n));
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(master);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
    return out;
}

// The text with every progress drawing ("\r...ESC[K") taken out; an empty
// drawing erases. `unerased` counts line ends met while a drawing showed.
std::string withoutProgress(const std::string& text, std::vector<std::string>& drawn,
                            int& unerased) {
    std::string out;
    bool showing = false;
    for (size_t p = 0; p < text.size();) {
        const size_t end = text.find("\x1b[K", p);
        if (text[p] == '\r' && end != std::string::npos &&
            text.find_first_of("\r\n", p + 1) >= end) {
            drawn.push_back(text.substr(p + 1, end - p - 1));
            showing = !drawn.back().empty();
            p = end + 3;
        } else {
            unerased += text[p] == '\n' && showing;
            out += text[p++];
        }
    }
    return out;
}

} // namespace

TEST(Exports, AProgressLineOnATerminalOnly) {
    TempDir dir;
    std::mt19937 rng(5);
    std::string big;
    for (int k = 0; k < 12; ++k) {
        std::vector<Event> log = randomLog(rng);
        big += tsvTable(log).substr(k ? std::strlen("subject\ttime\titem\n") : 0);
    }
    writeFile(dir.file("t.tsv"), big);
    const std::vector<std::string> args = {"-c", "2", "-w", "864000", "t.tsv", "r"};
    const std::string plain = runRules(args, "", dir.path()).err;
    const std::string terminal = onTerminal(args, dir.path());
    std::vector<std::string> drawn;
    int unerased = 0;
    // Erased before every regular line: the rest is the plain text.
    EXPECT_EQ(withoutProgress(terminal, drawn, unerased), plain);
    EXPECT_EQ(unerased, 0);
    ASSERT_FALSE(drawn.empty());
    EXPECT_EQ(drawn.front().rfind("Reading t.tsv: 0 B of ", 0), 0u) << drawn.front();
    bool counting = false, pairs = false, joining = false;
    for (const std::string& d : drawn) {
        counting = counting || d.rfind("Counting rules of item sets of 2 items: 0 of ", 0) == 0;
        pairs = pairs || d.rfind("Counting pairs of items: 0 of ", 0) == 0;
        joining = joining || d.rfind("Joining item sets of 2 items: 0 of ", 0) == 0;
    }
    EXPECT_TRUE(counting && pairs && joining);
    EXPECT_NE(terminal.find("\x1b[K\r\x1b[K\t ... calculated"), std::string::npos);
}
