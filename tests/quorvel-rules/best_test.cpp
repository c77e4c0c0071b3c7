// --best=K run as a user runs it, held to brute force: from every rule the
// other options keep at a count of 1, the K-th highest count c; --best
// must write what a run at -c c writes, both tables, byte for byte.
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <sstream>

using testsupport::readFile;
using testsupport::runRules;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

// Histories over a few items, some with a planted pair so counts spread.
std::string randomTable(std::mt19937& rng, int subjects, unsigned items) {
    std::ostringstream table;
    table << "subject\ttime\titem\n";
    for (int s = 0; s < subjects; ++s) {
        for (int e = 0, n = 1 + int(rng() % 7); e < n; ++e)
            table << "s" << s << '\t' << rng() % 30 << "\ti" << rng() % items << '\n';
        if (rng() % 3 == 0)
            table << "s" << s << "\t40\tp0\ns" << s << "\t41\tp1\n";
    }
    return table.str();
}

// The counts of a rule table's rows, highest first.
std::vector<size_t> countsOf(const std::string& tsv) {
    std::vector<size_t> counts;
    std::istringstream in(tsv);
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        const size_t tab = line.find('\t');
        counts.push_back(std::stoul(line.substr(tab + 1)));
    }
    std::sort(counts.begin(), counts.end(), std::greater<size_t>());
    return counts;
}

TEST(Best, IsTheRunAtTheBestRulesCount) {
    std::mt19937 rng(40);
    const std::vector<std::vector<std::string>> options = {
        {},
        {"-w", "5"},
        {"-C", "0.4"},
        {"--productive", "-w", "8"},
        {"--rules=basket"},
        {"--subsequent=p1,i0", "-w", "3"},
        {"-o", "1", "--delays"},
    };
    size_t tied = 0, short_ = 0;
    for (size_t round = 0; round < 2 * options.size(); ++round) {
        const std::vector<std::string>& extra = options[round % options.size()];
        TempDir dir;
        writeFile(dir.file("in.tsv"), randomTable(rng, 40 + int(rng() % 200), 4 + rng() % 4));
        auto mineWith = [&](std::vector<std::string> args, const std::string& out) {
            args.insert(args.end(), extra.begin(), extra.end());
            args.insert(args.end(), {"in.tsv", out + ".tsv", out + "-sets.tsv"});
            auto got = runRules(args, "", dir.path());
            EXPECT_EQ(got.status, 0) << got.err;
            return readFile(dir.file(out + ".tsv")) + "\n--\n" +
                   readFile(dir.file(out + "-sets.tsv"));
        };
        mineWith({"-c", "1"}, "all");
        const std::vector<size_t> counts = countsOf(readFile(dir.file("all.tsv")));
        ASSERT_GT(counts.size(), 5u) << "round " << round;
        for (size_t k : {size_t(1), size_t(3), counts.size() / 2, counts.size(),
                         counts.size() + 4}) {
            const std::string what = "round " + std::to_string(round) + ", --best=" +
                                     std::to_string(k);
            // Fewer rules than asked: all of them, as at the floor -c 1.
            const size_t least = k <= counts.size() ? counts[k - 1] : 1;
            const std::string want = mineWith({"-c", std::to_string(least)}, "want");
            for (const char* threads : {"1", "3"})
                EXPECT_EQ(mineWith({"-j", threads, "-c", "1", "--best=" + std::to_string(k)},
                                   "best"),
                          want)
                    << what << " -j " << threads;
            const std::vector<size_t> kept = countsOf(readFile(dir.file("best.tsv")));
            EXPECT_EQ(kept.size(), std::min(k, counts.size()) +
                                       (k <= counts.size()
                                            ? size_t(std::count(counts.begin() + ptrdiff_t(k),
                                                                counts.end(), least))
                                            : 0))
                << what;
            tied += k <= counts.size() && kept.size() > k;
            short_ += k > counts.size();
        }
        // -c is the floor the search stays at or above.
        const size_t floor = counts[counts.size() / 2] + 1;
        EXPECT_EQ(mineWith({"-c", std::to_string(floor), "--best=" + std::to_string(counts.size())},
                           "floor"),
                  mineWith({"-c", std::to_string(floor)}, "want"))
            << "round " << round << ", floor " << floor;
    }
    EXPECT_GT(tied, 3u) << "no ties at the last count were seen";
    EXPECT_GT(short_, 3u);
}

TEST(Best, PValuesAreAdjustedOverTheRulesKept) {
    std::mt19937 rng(41);
    TempDir dir;
    writeFile(dir.file("in.tsv"), randomTable(rng, 300, 5));
    auto all = runRules({"-c", "1", "in.tsv", "-"}, "", dir.path());
    const std::vector<size_t> counts = countsOf(all.out);
    ASSERT_GT(counts.size(), 20u);
    const std::string least = std::to_string(counts[9]);
    auto best = runRules({"--best=10", "--max-p=0.5", "--format=csv", "in.tsv", "-"}, "",
                         dir.path());
    auto atLeast =
        runRules({"-c", least, "--max-p=0.5", "--format=csv", "in.tsv", "-"}, "", dir.path());
    ASSERT_EQ(best.status, 0) << best.err;
    EXPECT_EQ(best.out, atLeast.out);
    EXPECT_NE(best.err.find("Looking for the best 10 rules among those of count 300 or more."),
              std::string::npos)
        << best.err;
    EXPECT_NE(best.err.find("the best have a count of " + least + " or more."), std::string::npos)
        << best.err;

    for (const auto& [args, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"--best=0"}, "Option \"--best\" must be at least 1, not 0.\n"},
             {{"--by=lift", "--best=3"}, "Option \"--by\" needs count or support, not \"lift\".\n"},
             {{"--by=support"}, "Option \"--by\" ranks the rules --best keeps; give --best too.\n"},
         }) {
        std::vector<std::string> full = args;
        full.insert(full.end(), {"in.tsv", "-"});
        auto got = runRules(full, "", dir.path());
        EXPECT_EQ(got.status, 1) << args[0];
        EXPECT_NE(got.err.find(message), std::string::npos) << args[0] << ": " << got.err;
    }
}

} // namespace
