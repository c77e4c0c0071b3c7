// Runs that would take the machine, mistakes that would silently empty a
// table, and interruptions: each stops soundly and leaves earlier files be.
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using testsupport::readFile;
using testsupport::runLinks;
using testsupport::runRules;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

const std::string EXAMPLE = std::string(QUORVEL_SOURCE_DIR) + "/examples/clinic-visits.tsv";

std::string firstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

std::string listing(const TempDir& dir) {
    return testsupport::run("/bin/ls", {"-A", dir.path()}).out;
}

} // namespace

TEST(Runaway, ACountOfZeroIsRefused) {
    for (const char* form : {"-c0", "--count=0"}) {
        auto r = runRules({form, EXAMPLE});
        EXPECT_EQ(r.status, 1) << form;
        EXPECT_EQ(firstLine(r.err), "Option \"-c, --count\" must be at least 1, not 0.");
        EXPECT_NE(r.err.find("usage: quorvel-rules"), std::string::npos);
        EXPECT_EQ(r.out, "");
    }
}

TEST(Runaway, TheMemoryBudgetStopsALevelBeforeItTakesTheMachine) {
    TempDir dir;
    auto r =
        runRules({"-c", "1", "--memory=48M", EXAMPLE, "rules.tsv", "sets.tsv"}, "", dir.path());
    EXPECT_EQ(r.status, 2) << r.err;
    const std::string last = r.err.substr(r.err.rfind('\n', r.err.size() - 2) + 1);
    EXPECT_EQ(last.substr(0, 6), "Level ") << r.err;
    EXPECT_NE(last.find(" candidate sets and would need about "), std::string::npos) << last;
    EXPECT_NE(last.find("more than the memory budget of 48 MB (-M): raise -c, or set -o to "
                        "limit the rule order.\n"),
              std::string::npos)
        << last;
    EXPECT_EQ(listing(dir), "");

    // One subject holding 20,000 items: level 2 alone has 2e8 candidates.
    std::string wide = "subject\ttime\titem\ns\t1";
    for (int k = 0; k < 20000; ++k)
        wide += "\ti" + std::to_string(k);
    auto w = runRules({"-c1", "-M", "96M"}, wide + "\n");
    EXPECT_EQ(w.status, 2);
    EXPECT_NE(w.err.find("Level 2 (item sets of 2 items) has 199990000 candidate sets"),
              std::string::npos)
        << w.err;
    EXPECT_EQ(w.out, "");

    // A budget that fits changes nothing.
    auto fits = runRules({"-c", "5", "-M", "4G", EXAMPLE});
    auto plain = runRules({"-c", "5", EXAMPLE});
    EXPECT_EQ(fits.status, 0);
    EXPECT_EQ(fits.out, plain.out);
    EXPECT_EQ(fits.err, plain.err);

    for (const char* bad : {"lots", "0", "12Q", "-5M", "1.5X"}) {
        auto b = runRules({std::string("--memory=") + bad, EXAMPLE});
        EXPECT_EQ(b.status, 1) << bad;
        EXPECT_EQ(firstLine(b.err), std::string("Option \"-M, --memory\" needs a size such as 512M "
                                                "or 8G, not \"") +
                                        bad + "\".");
    }
}

TEST(Runaway, ThresholdsThatAreNotNumbersAreRefused) {
    const std::pair<const char*, const char*> rules[] = {{"-C", "-C, --confidence"},
                                                         {"-s", "-s, --support"},
                                                         {"-l", "-l, --lift"},
                                                         {"-V", "-V, --conviction"}};
    for (const auto& [flag, name] : rules) {
        auto r = runRules({std::string(flag) + "=nan", EXAMPLE});
        EXPECT_EQ(r.status, 1) << flag;
        EXPECT_EQ(firstLine(r.err),
                  std::string("Option \"") + name + "\" needs a number, not \"nan\".");
        EXPECT_EQ(r.out, "");
    }
    TempDir dir;
    writeFile(dir.file("rules.tsv"), "Rule\tCount\tA union S\tSupport\tConfidence\tLift\t"
                                     "Conviction\tProbability\tCertainty\n");
    for (const char* flag : {"-C", "-s", "-l", "-V", "-t", "-T"}) {
        auto r = runLinks({flag, "NaN", "rules.tsv"}, "", dir.path());
        EXPECT_EQ(r.status, 1) << flag;
        EXPECT_NE(firstLine(r.err).find("\" needs a number, not \"NaN\"."), std::string::npos)
            << r.err;
    }
}

// The item-set output is a pipe nobody drains: the run is caught writing,
// with the rule table complete in its temporary file but not yet in place.
TEST(Runaway, ATerminatedRunKeepsTheOldOutputAndLeavesNoTemporaryFile) {
    TempDir dir;
    writeFile(dir.file("rules.tsv"), "old rules\n");
    const std::string fifo = dir.file("sets.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execl(QUORVEL_RULES_BIN, "quorvel-rules", "-c", "2", EXAMPLE.c_str(),
                dir.file("rules.tsv").c_str(), fifo.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    struct pollfd p = {reader, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 60000), 1) << "the miner never wrote its item sets";
    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ::close(reader);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGTERM);
    EXPECT_EQ(readFile(dir.file("rules.tsv")), "old rules\n");
    EXPECT_EQ(listing(dir), "rules.tsv\nsets.fifo\n");
}

// Threads change how fast, never what: every table and every progress line
// is the same for any -j, on a log large enough to be cut into parts.
TEST(Threads, OutputIsTheSameForAnyNumberOfThreads) {
    std::string log = "subject\ttime\titem\n";
    for (int s = 0; s < 30000; ++s)
        for (int r = 0; r < 1 + s % 5; ++r)
            log += "p" + std::to_string(s) + "\t" + std::to_string(r * 7 + s % 3) + "\tstep" +
                   std::to_string((s + r * r) % 9) + (r % 2 ? "\tnote" : "") + "\n";
    TempDir dir;
    writeFile(dir.file("log.tsv"), log);
    auto one =
        runRules({"-j", "1", "-c", "300", "-w", "10", "log.tsv", "r.tsv", "s.tsv"}, "", dir.path());
    ASSERT_EQ(one.status, 0) << one.err;
    const std::string rules = readFile(dir.file("r.tsv")), sets = readFile(dir.file("s.tsv"));
    ASSERT_NE(rules.find(" => "), std::string::npos);
    for (const char* threads : {"2", "3", "0"}) {
        auto many = runRules({"-j", threads, "-c", "300", "-w", "10", "log.tsv", "r.tsv", "s.tsv"},
                             "", dir.path());
        EXPECT_EQ(many.status, 0) << many.err;
        EXPECT_EQ(many.err, one.err) << threads;
        EXPECT_EQ(readFile(dir.file("r.tsv")), rules) << threads;
        EXPECT_EQ(readFile(dir.file("s.tsv")), sets) << threads;
    }
}
