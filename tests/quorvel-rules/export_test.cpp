// The analyst's way in and out, run as a user runs it: CSV exports mined
// through named columns and timestamps, and the tables written as CSV and
// JSON Lines, sorted and cut, read back by standard readers.
#include "apriori.hpp"
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

namespace {

// Items that break naive exports: separators, quotes, line ends, non-ASCII,
// and texts that the rule table itself must quote.
const std::vector<std::string> ITEMS = {
    "scan",      "x-ray",     "a,b",         "say \"hi\"",
    "tab\there", "line\nend", "caf\xc3\xa9", "\xe6\x97\xa5\xe6\x9c\xac",
    "{brace",    "=> arrow",  " padded ",    "cr\rhere"};

struct Event {
    int subject;
    uint32_t day;
    std::string item;
};

std::vector<Event> randomLog(std::mt19937& rng) {
    std::vector<Event> log;
    const int subjects = 8 + static_cast<int>(rng() % 30);
    for (int s = 0; s < subjects; ++s) {
        const int events = 1 + static_cast<int>(rng() % 8);
        for (int e = 0; e < events; ++e)
            log.push_back({s, static_cast<uint32_t>(rng() % 40), ITEMS[rng() % ITEMS.size()]});
    }
    std::shuffle(log.begin(), log.end(), rng); // exports are not sorted
    return log;
}

std::string quotedWhen(const std::string& cell, const char* specials) {
    if (cell.find_first_of(specials) == std::string::npos && (cell.empty() || cell[0] != '"'))
        return cell;
    std::string q = "\"";
    for (char c : cell)
        q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
}

// Seconds of a day's event: every event at 09:30 UTC.
uint64_t secondsOf(uint32_t day) {
    return 1704067200ull + day * 86400ull + 9 * 3600 + 30 * 60;
}

// The same instant as `format` writes it, in one of several zones.
std::string timeCell(uint32_t day, const std::string& format, std::mt19937& rng) {
    const uint64_t t = secondsOf(day);
    if (format == "unix")
        return std::to_string(t) + (rng() % 2 ? ".25" : "");
    if (format == "unix-ms")
        return std::to_string(t * 1000 + rng() % 1000);
    static const int ZONES[] = {0, 60, -300, 330, 540};
    const int zone = ZONES[rng() % 5];
    time_t local = static_cast<time_t>(t) + zone * 60;
    std::tm tm{};
    gmtime_r(&local, &tm);
    char text[48];
    std::strftime(text, sizeof text, rng() % 2 ? "%Y-%m-%dT%H:%M:%S" : "%Y-%m-%d %H:%M", &tm);
    std::string cell = text;
    if (zone == 0)
        return cell + (rng() % 2 ? "Z" : "");
    char offset[16];
    std::snprintf(offset, sizeof offset, "%c%02d:%02d", zone < 0 ? '-' : '+', std::abs(zone) / 60,
                  std::abs(zone) % 60);
    return cell + offset;
}

// An export: a header, columns the miner must pass over, one row per event.
std::string csvExport(const std::vector<Event>& log, const std::string& format, std::mt19937& rng) {
    const char* eol = rng() % 2 ? "\r\n" : "\n";
    std::string out = std::string("event_id,activity,case id,recorded at,resource") + eol;
    int id = 0;
    for (const Event& e : log)
        out += "E" + std::to_string(++id) + "," + quotedWhen(e.item, ",\"\r\n") + ",patient " +
               std::to_string(e.subject) + "," + timeCell(e.day, format, rng) + ",\"Dr. X, MD\"" +
               eol;
    return out;
}

// The same events as the tab-separated table of whole seconds.
std::string tsvTable(const std::vector<Event>& log) {
    std::string out = "subject\ttime\titem\n";
    for (const Event& e : log)
        out += "patient " + std::to_string(e.subject) + "\t" + std::to_string(secondsOf(e.day)) +
               "\t" + quotedWhen(e.item, "\t\r\n") + "\n";
    return out;
}

bool havePython() {
    return run("/bin/sh", {"-c", "command -v python3"}).status == 0;
}

} // namespace

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
