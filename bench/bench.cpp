// Mines each data set in a child process of its own and reports the time of
// every stage, the peak memory, and the speed-up over the plain reference.
//
//   quorvel-bench CAP_SECONDS NAME=PATH:MINCOUNT:WINDOW[:THREADS] ...
#include "apriori.hpp"
#include "quorvel/budget.hpp"
#include "plain.hpp"
#include "reference_miner.hpp"

#include "quorvel/read.hpp"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace quorvel::rule;
typedef std::chrono::steady_clock Clock;

namespace {

struct Report {
    double read = 0, index = 0, itemSets = 0, rules = 0, statistics = 0, write = 0, total = 0;
    size_t rows = 0, subjects = 0, sets = 0, rulesKept = 0;
    uint64_t digest = 0;
};

struct ReferenceReport {
    double mining = 0;
    uint64_t digest = 0;
};

// FNV-1a of both written tables, so the two miners' outputs can be compared
// without shipping megabytes between processes.
uint64_t fnv1a(const std::string& text) {
    uint64_t h = 14695981039346656037ull;
    for (unsigned char c : text)
        h = (h ^ c) * 1099511628211ull;
    return h;
}

double since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

TransactionSet readTable(const std::string& path, double& seconds, size_t& rows) {
    auto t = Clock::now();
    TransactionSet txns;
    txns.readInto(path, '\t');
    seconds = since(t);
    std::ifstream in(path);
    rows = 0;
    for (std::string line; std::getline(in, line);)
        ++rows;
    rows = rows ? rows - 1 : 0;
    return txns;
}

size_t countRows(const std::string& path) {
    std::ifstream in(path);
    size_t rows = 0;
    for (std::string line; std::getline(in, line);)
        ++rows;
    return rows ? rows - 1 : 0;
}

void runFast(const std::string& path, const MiningParams& config, int fd) {
    Report r;
    auto start = Clock::now();
    const EventLog log = readLog(path, TableLayout(), config.threads);
    r.read = since(start);
    r.subjects = log.subjects();
    MiningResult result = mine(config, log);
    const StageTimes& times = result.times();
    r.index = times.index;
    r.itemSets = times.itemSets;
    r.rules = times.rules;
    r.statistics = times.statistics;
    auto t = Clock::now();
    std::ostringstream sink;
    result.rules().write(sink);
    result.itemSets().write(sink);
    r.write = since(t);
    r.digest = fnv1a(sink.str());
    r.total = since(start);
    r.rows = countRows(path);
    r.sets = result.itemSets().size();
    r.rulesKept = result.rules().size();
    if (::write(fd, &r, sizeof r) != static_cast<ssize_t>(sizeof r))
        std::_Exit(3);
}

void runReference(const std::string& path, const MiningParams& config, int fd) {
    double read;
    size_t rows;
    TransactionSet txns = readTable(path, read, rows);
    auto t = Clock::now();
    quorvel::reference::MiningResultData result = quorvel::reference::mine(config, txns);
    ReferenceReport report;
    report.mining = since(t);
    std::ostringstream sink;
    result.rules.write(sink);
    result.itemSets.write(sink);
    report.digest = fnv1a(sink.str());
    if (::write(fd, &report, sizeof report) != static_cast<ssize_t>(sizeof report))
        std::_Exit(3);
}

// Runs `body` in a child with standard error silenced; false when it did not
// finish within `cap` seconds.
template <class T, class F> bool inChild(F body, T& out, unsigned cap, long& maxRssKb) {
    int fds[2];
    if (::pipe(fds) != 0)
        return false;
    pid_t pid = ::fork();
    if (pid == 0) {
        std::freopen("/dev/null", "w", stderr);
        ::close(fds[0]);
        if (cap)
            ::alarm(cap);
        body(fds[1]);
        std::_Exit(0);
    }
    ::close(fds[1]);
    bool ok = ::read(fds[0], &out, sizeof out) == static_cast<ssize_t>(sizeof out);
    ::close(fds[0]);
    int status = 0;
    struct rusage usage;
    ::wait4(pid, &status, 0, &usage);
    maxRssKb = usage.ru_maxrss;
    return ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

// Runs a command `runs` times after one run not counted, its output thrown
// away; prints the median wall seconds and the largest peak RSS in KB.
int timeCommand(int runs, char** command) {
    std::vector<double> walls;
    long peak = 0;
    for (int r = -1; r < runs; ++r) {
        auto t = Clock::now();
        pid_t pid = ::fork();
        if (pid == 0) {
            std::freopen("/dev/null", "w", stdout);
            std::freopen("/dev/null", "w", stderr);
            ::execvp(command[0], command);
            std::_Exit(127);
        }
        int status = 0;
        struct rusage usage;
        ::wait4(pid, &status, 0, &usage);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::printf("failed\n");
            return 1;
        }
        if (r >= 0) {
            walls.push_back(since(t));
            peak = std::max(peak, usage.ru_maxrss);
        }
    }
    std::sort(walls.begin(), walls.end());
    std::printf("%.3f %ld\n", walls[walls.size() / 2], peak);
    return 0;
}

int main(int argc, char** argv) {
    if (argc > 3 && std::string(argv[1]) == "--time")
        return timeCommand(std::max(1, std::atoi(argv[2])), argv + 3);
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: %s CAP_SECONDS NAME=PATH:MINCOUNT:WINDOW[:THREADS] ...\n"
                     "       %s --time RUNS COMMAND [ARG...]\n",
                     argv[0], argv[0]);
        return 1;
    }
    // The stages as the miner runs them, its allocator kept as it keeps it.
    quorvel::rule::keepFreedMemory();
    // A cap of "-" runs no reference (for logs it would take hours on).
    const bool reference = std::string(argv[1]) != "-";
    const unsigned cap = reference ? static_cast<unsigned>(std::atoi(argv[1])) : 0;
    std::printf("| data set | rows | subjects | minCount | window | item sets | rules | read s | "
                "index s | item sets s | rule counting s | statistics s | write s | total s | "
                "peak RSS MB | reference mining s | speed-up | output vs reference |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    // Children inherit the stdio buffer; flush so the header is printed once.
    std::fflush(stdout);
    for (int k = 2; k < argc; ++k) {
        std::string arg = argv[k];
        std::string name = arg.substr(0, arg.find('='));
        std::string rest = arg.substr(arg.find('=') + 1);
        std::string path = rest.substr(0, rest.find(':'));
        rest = rest.substr(rest.find(':') + 1);
        MiningParams config;
        config.minCount = static_cast<unsigned>(std::atoi(rest.substr(0, rest.find(':')).c_str()));
        rest = rest.substr(rest.find(':') + 1);
        config.windowSize =
            static_cast<unsigned>(std::atoi(rest.substr(0, rest.find(':')).c_str()));
        config.threads =
            rest.find(':') == std::string::npos
                ? 1
                : static_cast<unsigned>(std::atoi(rest.substr(rest.find(':') + 1).c_str()));

        Report r;
        long rss = 0;
        if (!inChild([&](int fd) { runFast(path, config, fd); }, r, 0, rss)) {
            std::printf("| %s | failed |\n", name.c_str());
            continue;
        }
        ReferenceReport referenceReport;
        long refRss = 0;
        bool finished = reference && inChild([&](int fd) { runReference(path, config, fd); },
                                             referenceReport, cap, refRss);
        const double mining = r.index + r.itemSets + r.rules + r.statistics;
        char refText[64], speedText[64];
        const char* same = "not compared";
        if (finished) {
            std::snprintf(refText, sizeof refText, "%.3f", referenceReport.mining);
            std::snprintf(speedText, sizeof speedText, "%.0f×",
                          referenceReport.mining / std::max(mining, 1e-6));
            same = referenceReport.digest == r.digest ? "identical" : "DIFFERENT";
        } else if (!reference) {
            std::snprintf(refText, sizeof refText, "not run");
            std::snprintf(speedText, sizeof speedText, "-");
        } else {
            std::snprintf(refText, sizeof refText, "> %u (cap)", cap);
            std::snprintf(speedText, sizeof speedText, "> %.0f×", cap / std::max(mining, 1e-6));
        }
        std::printf("| %s | %zu | %zu | %zu | %u | %zu | %zu | %.3f | %.3f | %.3f | %.3f | %.3f | "
                    "%.3f | %.3f | %.1f | %s | %s | %s |\n",
                    name.c_str(), r.rows, r.subjects, config.minCount, config.windowSize, r.sets,
                    r.rulesKept, r.read, r.index, r.itemSets, r.rules, r.statistics, r.write,
                    r.total, rss / 1024.0, refText, speedText, same);
        std::fflush(stdout);
    }
    return 0;
}
