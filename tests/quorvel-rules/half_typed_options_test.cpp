// Half-typed options: nothing after an equals sign, a value that does not
// convert. The run stops with the usage text and writes nothing.
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using testsupport::runRules;
using testsupport::TempDir;
using testsupport::writeFile;

TEST(NothingLost, OptionsWithNothingAfterTheirEqualsSign) {
    TempDir dir;
    writeFile(dir.file("in.csv"), "case,act,when\nc1,a,1\n");
    for (const char* option : {"subject", "sort", "delimiter", "item", "time", "format", "memory",
                               "inputs", "time-format", "count", "window", "top"}) {
        const std::string word = std::string("--") + option + "=";
        auto r = runRules({word, "in.csv", "out.tsv"}, "", dir.path());
        EXPECT_EQ(r.status, 1) << word;
        EXPECT_EQ(r.err.substr(0, r.err.find('\n')),
                  "Option \"--" + std::string(option) + "\" needs a value after \"=\".")
            << word;
        EXPECT_FALSE(testsupport::fileExists(dir.file("out.tsv"))) << word;
    }
    // Short options too: "-c= 5" does not take the next word.
    for (const char* option : {"c", "w", "M", "j", "o"}) {
        const std::string word = std::string("-") + option + "=";
        auto r = runRules({word, "in.csv", "out.tsv"}, "", dir.path());
        EXPECT_EQ(r.status, 1) << word;
        EXPECT_EQ(r.err.substr(0, r.err.find('\n')),
                  "Option \"-" + std::string(option) + "\" needs a value after \"=\".")
            << word;
        EXPECT_FALSE(testsupport::fileExists(dir.file("out.tsv"))) << word;
    }
    // A flag given a value, even an empty one, is refused.
    for (const char* word : {"--xes=", "--xes=yes", "-v=", "--item-prefix="}) {
        auto r = runRules({word, "in.csv", "out.tsv"}, "", dir.path());
        EXPECT_EQ(r.status, 1) << word;
        EXPECT_NE(r.err.substr(0, r.err.find('\n')).find("\" doesn't take parameters."),
                  std::string::npos)
            << word << ": " << r.err;
        EXPECT_FALSE(testsupport::fileExists(dir.file("out.tsv"))) << word;
    }
    auto r = runRules({"-M", "512K", "in.csv"}, "", dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.substr(0, r.err.find('\n')),
              "Option \"-M, --memory\" needs at least 1M, not \"512K\".");
}

TEST(NothingLost, AValueThatDoesNotConvertEndsTheParse) {
    TempDir dir;
    writeFile(dir.file("in.tsv"), "h\ns1\t1\ta\n");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"-w", "x", "--bogus", "in.tsv"}, "Couldn't parse \"x\".\n"},
        {{"-w", "5x", "-c", "y", "in.tsv"}, "Couldn't parse \"5x\".\n"},
        {{"-x", "-w=-1", "-c", "y", "in.tsv"}, "Unknown short option: x\nCouldn't parse \"-1\".\n"},
    };
    for (const auto& c : cases) {
        auto r = runRules(c.first, "", dir.path());
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err.substr(0, c.second.size()), c.second);
        EXPECT_EQ(r.err.substr(c.second.size(), 21), "usage: quorvel-rules ") << r.err;
    }
    // A duration still reads as one.
    auto r = runRules({"--time-format=unix", "-w", "2d", "-c", "1", "in.tsv", "o"}, "", dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
}
