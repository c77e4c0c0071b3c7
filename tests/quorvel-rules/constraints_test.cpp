// --subsequent, --antecedent and --exclude run as a user runs them: the
// rules of the run without them that they admit, whether or not the
// item-set table is asked for (which then holds every frequent set).
#include "test_support.hpp"

#include "quorvel/rule.hpp"

#include <gtest/gtest.h>

#include <random>
#include <sstream>

using quorvel::rule::Item;
using quorvel::rule::ItemSet;
using quorvel::rule::RuleSet;
using testsupport::readFile;
using testsupport::runRules;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

struct Asked {
    std::vector<Item> subsequent, antecedent, exclude;

    std::vector<std::string> options() const {
        std::vector<std::string> out;
        auto add = [&](const char* name, const std::vector<Item>& items) {
            // One item an option, or all in one list.
            if (items.size() > 1 && items.size() % 2 == 0) {
                std::string list;
                for (const Item& i : items)
                    list += (list.empty() ? "" : ",") + i;
                out.push_back(std::string(name) + list);
                return;
            }
            for (const Item& i : items)
                out.push_back(std::string(name) + i);
        };
        add("--subsequent=", subsequent);
        add("--antecedent=", antecedent);
        add("--exclude=", exclude);
        return out;
    }
    bool admits(const ItemSet& a, const ItemSet& b) const {
        for (const Item& x : exclude)
            if (a.contains(x) || b.contains(x))
                return false;
        for (const Item& x : antecedent)
            if (!a.contains(x))
                return false;
        for (const Item& x : b)
            if (!subsequent.empty() &&
                std::find(subsequent.begin(), subsequent.end(), x) == subsequent.end())
                return false;
        return true;
    }
};

// Random histories, some `copies` times over, so that equal ones stand
// for several subjects.
std::string randomTable(std::mt19937& rng, int subjects, int items, int copies) {
    std::ostringstream table;
    table << "subject\ttime\titem\n";
    for (int s = 0; s < subjects; ++s) {
        std::ostringstream rows;
        for (int e = 0, n = 1 + int(rng() % 10); e < n; ++e)
            rows << '\t' << rng() % 12 << "\ti" << rng() % items << '\n';
        for (int c = 0, n = rng() % 3 ? 1 : copies; c < n; ++c) {
            std::istringstream in(rows.str());
            for (std::string row; std::getline(in, row);)
                table << "s" << s << "c" << c << row << '\n';
        }
    }
    return table.str();
}

std::vector<Item> someItems(std::mt19937& rng, int items, int most) {
    std::vector<Item> out;
    for (int k = int(rng() % (most + 1)); k > 0; --k)
        out.push_back("i" + std::to_string(rng() % items));
    return out;
}

TEST(Constraints, AreTheUnconstrainedRulesTheyAdmit) {
    std::mt19937 rng(77);
    size_t kept = 0;
    for (int round = 0; round < 26; ++round) {
        // The last rounds' sets are held by few of many subjects, as lists.
        const bool sparse = round >= 24;
        const int items = sparse ? 40 : 4 + round % 5;
        TempDir dir;
        writeFile(dir.file("in.tsv"),
                  randomTable(rng, sparse ? 900 : 40 + 10 * round, items, 2 + round % 4));
        const std::string count = std::to_string(2 + round % 3);
        const std::string window = round % 3 ? "0" : "4";
        Asked asked{someItems(rng, items, sparse ? 12 : 2), someItems(rng, items, 1),
                    someItems(rng, items, 1)};
        if (round % 4 == 0)
            asked.antecedent.clear();
        if (round % 4 == 1)
            asked.subsequent.clear();
        ASSERT_EQ(runRules({"-c", count, "-w", window, "in.tsv", "all.tsv", "all-sets.tsv"}, "",
                           dir.path())
                      .status,
                  0);
        RuleSet all;
        all.readInto(dir.file("all.tsv"), '\t');
        std::ostringstream want;
        RuleSet admitted;
        for (const auto& entry : all)
            if (asked.admits(entry.first.antecedent(), entry.first.subsequent()))
                admitted[entry.first] = entry.second;
        admitted.write(want);
        const std::string what = "round " + std::to_string(round);
        for (const char* threads : {"1", "3"}) {
            std::vector<std::string> args = {"-j", threads, "-c", count, "-w", window};
            for (const std::string& o : asked.options())
                args.push_back(o);
            std::vector<std::string> withSets = args;
            for (const char* a : {"in.tsv", "rules.tsv", "sets.tsv"})
                withSets.push_back(a);
            auto run = runRules(withSets, "", dir.path());
            ASSERT_EQ(run.status, 0) << run.err;
            EXPECT_EQ(readFile(dir.file("rules.tsv")), want.str()) << what;
            EXPECT_EQ(readFile(dir.file("sets.tsv")), readFile(dir.file("all-sets.tsv"))) << what;
            // Without the item-set table the search may skip sets; the
            // rules stay.
            args.push_back("in.tsv");
            args.push_back("-");
            EXPECT_EQ(runRules(args, "", dir.path()).out, want.str()) << what << ", no sets";
        }
        kept += admitted.size();
    }
    EXPECT_GT(kept, 100u);
}

TEST(Constraints, ANameInNoFrequentSetIsWarnedOf) {
    const std::string table = "subject\ttime\titem\ns1\t1\ta\ns1\t2\tb\ns2\t1\ta\ns2\t2\tb\n";
    auto r = runRules({"-c", "2", "--subsequent=b,nope", "--exclude=c"}, table);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Warning: \"nope\", named by a constraint, is in no frequent item "
                         "set.\n"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("Warning: \"c\", named by a constraint"), std::string::npos);
    EXPECT_EQ(r.out.substr(r.out.find('\n') + 1, 8), "a => b\t2");
    auto none = runRules({"-c", "2", "--subsequent=nope"}, table);
    EXPECT_EQ(none.out.find('\n') + 1, none.out.size()) << none.out; // the header alone
}

} // namespace
