// The miner under mpirun: for any number of processes, the same tables, the
// same standard error and the same exit status as one process alone.
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <sys/stat.h>

using testsupport::readFile;
using testsupport::run;
using testsupport::runRules;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

bool haveMpi() {
#ifdef QUORVEL_MPI
    return run("/bin/sh", {"-c", "command -v mpirun"}).status == 0;
#else
    return false;
#endif
}

#define SKIP_WITHOUT_MPI()                                                                         \
    if (!haveMpi())                                                                                \
    GTEST_SKIP() << "MPI is absent (Debian: openmpi-bin libopenmpi-dev): the runs across "         \
                    "processes are skipped"

// The miner on `np` processes in `cwd`; mpirun's own notes kept out.
testsupport::RunResult onProcesses(int np, const std::vector<std::string>& args,
                                   const std::string& cwd) {
    std::vector<std::string> all = {"mpirun",          "-q",  "--allow-run-as-root",
                                    "--oversubscribe", "-np", std::to_string(np),
                                    QUORVEL_RULES_BIN};
    all.insert(all.end(), args.begin(), args.end());
    return run("/usr/bin/env", all, "", cwd);
}

// Runs alone and on 1 to 4 processes, each in a folder of its own holding
// the same files, and holds every run to the one alone.
void writeFiles(const TempDir& dir, const std::map<std::string, std::string>& files) {
    for (const auto& f : files) {
        if (f.first.find('/') != std::string::npos)
            ::mkdir(dir.file(f.first.substr(0, f.first.find('/'))).c_str(), 0755);
        writeFile(dir.file(f.first), f.second);
    }
}

void expectSameForAnyProcesses(const std::map<std::string, std::string>& files,
                               const std::vector<std::string>& args, const std::string& what) {
    TempDir alone;
    writeFiles(alone, files);
    const auto want = runRules(args, "", alone.path());
    for (int np = 1; np <= 4; ++np) {
        TempDir dir;
        writeFiles(dir, files);
        const auto got = onProcesses(np, args, dir.path());
        const std::string where = what + ", " + std::to_string(np) + " processes";
        EXPECT_EQ(got.status, want.status) << where << ": " << got.err;
        EXPECT_EQ(got.err.substr(0, 2000), want.err.substr(0, 2000)) << where;
        EXPECT_TRUE(got.err == want.err) << where;
        EXPECT_EQ(got.out, want.out) << where;
        for (const char* out : {"rules", "sets"})
            EXPECT_TRUE(readFile(dir.file(out)) == readFile(alone.file(out)))
                << where << ", " << out;
    }
}

// A log as users' come: odd names, now and then quoted cells (some with
// line ends), every kind of line end, blank lines, repeated times.
std::string randomLog(std::mt19937& rng, bool quotes, int rows) {
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    const char* ends[] = {"\n", "\r\n", "\r"};
    const char* plain[] = {"a", "b", "c d", "caf\xc3\xa9", "x=>y", "{z}", "e", "f"};
    const char* quoted[] = {"\"q,1\"", "\"say \"\"hi\"\"\"", "\"line\nbreak\"", "\"tab\tin\""};
    std::string log = "subject\ttime\titem\n";
    for (int r = 0; r < rows; ++r) {
        if (pick(30) == 0) {
            log += ends[pick(3)];
            continue;
        }
        log += "s" + std::to_string(pick(rows / 4 + 2)) + "\t" + std::to_string(pick(30));
        for (int k = 1 + pick(3); k > 0; --k)
            log += std::string("\t") + (quotes && pick(8) == 0 ? quoted[pick(4)] : plain[pick(8)]);
        log += ends[pick(3)];
    }
    return log;
}

} // namespace

TEST(Processes, RandomLogsGiveTheTablesOfOneProcess) {
    SKIP_WITHOUT_MPI();
    std::mt19937 rng(17);
    for (int round = 0; round < 8; ++round) {
        const bool quotes = round % 3 == 2; // read by the first process alone
        const std::string log = randomLog(rng, quotes, 200 + static_cast<int>(rng() % 1500));
        const std::string count = std::to_string(2 + rng() % 4);
        const std::string window = std::to_string(rng() % 2 ? 0 : rng() % 10);
        const std::string threads = std::to_string(1 + rng() % 2);
        expectSameForAnyProcesses(
            {{"log.tsv", log}},
            {"-c", count, "-w", window, "-j", threads, "log.tsv", "rules", "sets"},
            "round " + std::to_string(round));
    }
}

// Each process holds some subjects' delays: the order statistics of all
// are found across them exactly.
TEST(Processes, DelaysAreThoseOfOneProcess) {
    SKIP_WITHOUT_MPI();
    std::mt19937 rng(23);
    for (int round = 0; round < 4; ++round) {
        const std::string log = randomLog(rng, false, 300 + static_cast<int>(rng() % 1200));
        const std::string window = std::to_string(round % 2 ? 0 : 3 + rng() % 10);
        expectSameForAnyProcesses(
            {{"log.tsv", log}},
            {"-c", "2", "-w", window, "--delays", "--format=jsonl", "log.tsv", "rules", "sets"},
            "delays, round " + std::to_string(round));
    }
}

// The reverse orders are walked on every process and summed; the family
// adjusted over is the same on each.
TEST(Processes, PValuesAreThoseOfOneProcess) {
    SKIP_WITHOUT_MPI();
    std::mt19937 rng(31);
    for (int round = 0; round < 3; ++round) {
        const std::string log = randomLog(rng, false, 300 + static_cast<int>(rng() % 1200));
        const std::string window = std::to_string(round % 2 ? 0 : 4 + rng() % 6);
        expectSameForAnyProcesses({{"log.tsv", log}},
                                  {"-c", "2", "-w", window, "--max-p=0.5",
                                   round == 2 ? "--adjust=bh" : "--adjust=holm",
                                   "--format=jsonl", "log.tsv", "rules"},
                                  "p-values, round " + std::to_string(round));
    }
}

// Each step of the search for the best rules' count is taken on every
// process alike.
TEST(Processes, BestRulesAreThoseOfOneProcess) {
    SKIP_WITHOUT_MPI();
    std::mt19937 rng(37);
    for (int round = 0; round < 2; ++round) {
        const std::string log = randomLog(rng, false, 300 + static_cast<int>(rng() % 1200));
        expectSameForAnyProcesses({{"log.tsv", log}},
                                  {"-c", "1", "-w", round ? "4" : "0", "--best=25", "log.tsv",
                                   "rules", "sets"},
                                  "best, round " + std::to_string(round));
    }
}

// The sets a constrained run skips are told by counts over every process.
TEST(Processes, ConstraintsAreThoseOfOneProcess) {
    SKIP_WITHOUT_MPI();
    std::mt19937 rng(29);
    const char* constraints[][2] = {{"--subsequent=b", "--antecedent=a"},
                                    {"--subsequent=a,e", "--exclude=f"}};
    for (int round = 0; round < 4; ++round) {
        const std::string log = randomLog(rng, false, 300 + static_cast<int>(rng() % 1200));
        const std::string window = std::to_string(round % 2 ? 0 : 5);
        expectSameForAnyProcesses({{"log.tsv", log}},
                                  {"-c", "2", "-w", window, constraints[round % 2][0],
                                   constraints[round % 2][1], "log.tsv", "rules"},
                                  "constraints, round " + std::to_string(round));
    }
}

TEST(Processes, PartFilesAndNamedColumns) {
    SKIP_WITHOUT_MPI();
    std::mt19937 rng(29);
    const std::string log = randomLog(rng, false, 1200);
    // The same log cut into three part files, each with its header.
    std::map<std::string, std::string> parts;
    size_t at = log.find('\n') + 1;
    const std::string header = log.substr(0, at);
    for (int p = 0; p < 3; ++p) {
        size_t end = p == 2 ? log.size() : log.find('\n', at + log.size() / 3) + 1;
        parts["parts/part-" + std::to_string(p) + ".tsv"] = header + log.substr(at, end - at);
        at = end;
    }
    expectSameForAnyProcesses(parts, {"-c", "3", "--inputs=parts", "rules", "sets"}, "a folder");
    parts["extra.tsv"] = header + "s1\t99\tz\ns2\t98\tz\ns3\t97\tz\n";
    expectSameForAnyProcesses(parts, {"-c", "3", "--inputs", "extra.tsv,parts", "rules", "sets"},
                              "a file and a folder");

    // A CSV export with the columns named: every process finds them.
    std::string csv = "who,extra,when,what\n";
    for (int r = 0; r < 900; ++r)
        csv += "p" + std::to_string(rng() % 150) + ",x," +
               std::to_string(1704067200 + rng() % 30 * 86400) + ",item" +
               std::to_string(rng() % 9) + "\n";
    expectSameForAnyProcesses({{"e.csv", csv}},
                              {"-c", "4", "-w", "5d", "--csv", "--subject=who", "--time=when",
                               "--item=what", "--time-format=unix", "e.csv", "rules", "sets"},
                              "named columns");
}

TEST(Processes, AFailureAnywhereIsReportedOnceWithItsTrueLine) {
    SKIP_WITHOUT_MPI();
    std::mt19937 rng(41);
    std::string log = randomLog(rng, false, 3000);
    // A bad row late in the file falls in a later process's share.
    size_t at = log.size() * 9 / 10;
    at = log.find('\n', at) + 1;
    const std::string bad = log.substr(0, at) + "s1\tsoon\ta\n" + log.substr(at);
    expectSameForAnyProcesses({{"bad.tsv", bad}}, {"-c", "2", "bad.tsv", "rules", "sets"},
                              "a bad time");
    expectSameForAnyProcesses({{"short.tsv", log.substr(0, at) + "lonely\n" + log.substr(at)}},
                              {"-c", "2", "short.tsv", "rules", "sets"}, "a short row");
    // An output that cannot be made stops every process before reading.
    expectSameForAnyProcesses({{"log.tsv", log}}, {"-c", "2", "log.tsv", "no/such/folder/rules"},
                              "a bad output");
    expectSameForAnyProcesses({{"log.tsv", log}}, {"-c", "2", "missing.tsv", "rules"},
                              "a missing input");
    // The memory budget holds for each process, which measures its own
    // memory: the estimate in the message is that process's.
    TempDir dir;
    writeFile(dir.file("log.tsv"), log);
    const auto alone = runRules({"-c", "1", "-M", "1M", "log.tsv", "rules"}, "", dir.path());
    const std::string stop = "Level 2 (item sets of 2 items) has 28 candidate sets and would need "
                             "about ";
    ASSERT_NE(alone.err.find("\n" + stop), std::string::npos) << alone.err;
    for (int np = 2; np <= 4; np += 2) {
        const auto got = onProcesses(np, {"-c", "1", "-M", "1M", "log.tsv", "rules"}, dir.path());
        EXPECT_EQ(got.status, 2);
        EXPECT_EQ(got.err.substr(0, got.err.find(stop) + stop.size()),
                  alone.err.substr(0, alone.err.find(stop) + stop.size()));
        EXPECT_EQ(std::count(got.err.begin(), got.err.end(), '\n'),
                  std::count(alone.err.begin(), alone.err.end(), '\n'));
        EXPECT_FALSE(testsupport::fileExists(dir.file("rules")));
    }
}

TEST(Processes, TheRealLogs) {
    SKIP_WITHOUT_MPI();
    const std::string data = testsupport::sharedDataDir();
    if (data.empty())
        GTEST_SKIP() << "../shared/data is absent: the real logs are not run across processes";
    const struct {
        const char* name;
        std::vector<std::string> args;
    } logs[] = {{"receipt", {"-c", "50", "-w", "86400"}},
                {"groceries", {"-c", "40"}},
                {"retail", {"-c", "400", "-j", "2"}}};
    for (const auto& log : logs) {
        const std::string gz = data + "/" + log.name + ".tsv.gz";
        if (!testsupport::fileExists(gz))
            continue;
        const auto unzipped = run("/bin/sh", {"-c", "gzip -dc '" + gz + "'"});
        ASSERT_EQ(unzipped.status, 0);
        std::vector<std::string> args = log.args;
        args.insert(args.end(), {"log.tsv", "rules", "sets"});
        expectSameForAnyProcesses({{"log.tsv", unzipped.out}}, args, log.name);
    }
}

TEST(Processes, WhatIsSaidBeforeReadingIsSaidOnce) {
    SKIP_WITHOUT_MPI();
    TempDir dir;
    writeFile(dir.file("in.tsv"), "h\ns1\t1\ta\n");
    writeFile(dir.file("gone.tsv"), "Rule\tCount\tA union S\tSupport\tConfidence\tLift\t"
                                    "Conviction\tProbability\tCertainty\n");
    // mpirun starts the program by its path, which the usage line shows.
    auto named = [](std::string text) {
        const std::string path = QUORVEL_RULES_BIN;
        for (size_t at; (at = text.find(path)) != std::string::npos;)
            text.replace(at, path.size(), "quorvel-rules");
        return text;
    };
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--version"},
             {"-h"},
             {"-?"},
             {"--bogus", "in.tsv"},
             {"-c", "0", "in.tsv"},
             {"-s", "nan", "in.tsv"},
             {"-w", "5x", "-c", "y", "in.tsv"},
             {"--subject=", "in.tsv", "rules"},
             {"-c", "1", "gone.tsv", "rules"},
         }) {
        const auto want = runRules(args, "", dir.path());
        for (int np = 2; np <= 3; ++np) {
            const auto got = onProcesses(np, args, dir.path());
            EXPECT_EQ(got.status, want.status) << args[0] << ", " << np;
            EXPECT_EQ(named(got.err), want.err) << args[0] << ", " << np;
            EXPECT_EQ(got.out, want.out) << args[0] << ", " << np;
        }
    }
}
