// --productive run as a user runs it, held to brute force over the item-set
// table: A => B is kept when its lift passes 1 and its confidence passes
// that of A' => B for every proper non-empty subset A' of A.
#include "test_support.hpp"

#include "quorvel/rule.hpp"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <sstream>

using quorvel::rule::Item;
using quorvel::rule::ItemSet;
using quorvel::rule::ItemSetHistogram;
using quorvel::rule::RuleSet;
using testsupport::readFile;
using testsupport::runRules;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

double confidenceOf(const ItemSetHistogram& sets, const ItemSet& a, const ItemSet& b, double t) {
    return (double(sets.at(a.merge(b))) / t) / (double(sets.at(a)) / t);
}

bool productive(const ItemSetHistogram& sets, const ItemSet& a, const ItemSet& b, double t) {
    const double supportI = double(sets.at(a.merge(b))) / t;
    if (!(supportI / ((double(sets.at(a)) / t) * (double(sets.at(b)) / t)) > 1))
        return false;
    const std::vector<Item> items(a.begin(), a.end());
    const double mine = confidenceOf(sets, a, b, t);
    // Every proper non-empty subset, by its mask.
    for (uint64_t mask = 1; mask + 1 < (uint64_t(1) << items.size()); ++mask) {
        ItemSet smaller;
        for (size_t k = 0; k < items.size(); ++k)
            if (mask >> k & 1)
                smaller.add(items[k]);
        if (!(mine > confidenceOf(sets, smaller, b, t)))
            return false;
    }
    return true;
}

TEST(Productive, IsBruteForceOverTheItemSets) {
    std::mt19937 rng(4242);
    size_t kept = 0, dropped = 0;
    for (int round = 0; round < 16; ++round) {
        std::ostringstream table;
        table << "subject\ttime\titem\n";
        const int subjects = 40 + 20 * round, items = 4 + round % 4;
        for (int s = 0; s < subjects; ++s)
            for (int e = 0, n = 1 + int(rng() % 8); e < n; ++e)
                table << "s" << s << '\t' << rng() % 10 << "\ti" << rng() % items << '\n';
        TempDir dir;
        writeFile(dir.file("in.tsv"), table.str());
        const std::string count = std::to_string(2 + round % 3);
        std::vector<std::string> kind = {"-w", round % 2 ? "3" : "0"};
        if (round % 4 == 3)
            kind = {"--rules=basket"};
        std::vector<std::string> all = {"-c", count, "in.tsv", "all.tsv", "sets.tsv"};
        all.insert(all.begin(), kind.begin(), kind.end());
        ASSERT_EQ(runRules(all, "", dir.path()).status, 0);
        RuleSet every;
        every.readInto(dir.file("all.tsv"), '\t');
        ItemSetHistogram sets;
        sets.readInto(dir.file("sets.tsv"), '\t');
        std::set<std::string> want;
        for (const auto& entry : every) {
            // Every subject holds some item: the subjects are the table's.
            if (productive(sets, entry.first.antecedent(), entry.first.subsequent(), subjects))
                want.insert(entry.first.toString());
        }
        for (const char* threads : {"1", "3"}) {
            std::vector<std::string> args = {"-j",  threads,  "--productive", "-c",
                                             count, "in.tsv", "kept.tsv"};
            args.insert(args.begin(), kind.begin(), kind.end());
            auto run = runRules(args, "", dir.path());
            ASSERT_EQ(run.status, 0) << run.err;
            RuleSet got;
            got.readInto(dir.file("kept.tsv"), '\t');
            std::set<std::string> have;
            for (const auto& entry : got) {
                have.insert(entry.first.toString());
                EXPECT_EQ(every.at(entry.first).count, entry.second.count);
            }
            EXPECT_EQ(have, want) << "round " << round << ", -j " << threads;
        }
        kept += want.size();
        dropped += every.size() - want.size();
    }
    EXPECT_GT(kept, 50u);
    EXPECT_GT(dropped, 50u);
}

} // namespace
