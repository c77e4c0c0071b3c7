#include "brenlo/exception.hpp"
#include "quorvel/driver.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <iostream>
#include <new>
#include <sstream>
#include <unistd.h>

using testsupport::TempDir;
using testsupport::writeFile;

namespace {

// The status and what went to standard error.
std::pair<int, std::string> reported(const std::function<void()>& work) {
    std::ostringstream err;
    std::streambuf* saved = std::cerr.rdbuf(err.rdbuf());
    int status = quorvel::runReportingFailures(
        work, "Out of memory: raise -c, or set -o to limit the rule order.");
    std::cerr.rdbuf(saved);
    return {status, err.str()};
}

std::string refusal(const std::vector<std::string>& in, const std::vector<std::string>& out) {
    try {
        quorvel::refuseSharedFiles(in, out);
    } catch (const brenlo::IOException& e) {
        return e.what();
    }
    return "(accepted)";
}

} // namespace

TEST(Driver, FailuresOfEveryKindBecomeAMessageAndStatusTwo) {
    EXPECT_EQ(reported([] {}), std::make_pair(0, std::string()));
    EXPECT_EQ(reported([] { throw brenlo::IOException("by value"); }),
              std::make_pair(2, std::string("by value\n")));
    EXPECT_EQ(reported([] { throw new brenlo::IOException("by pointer"); }),
              std::make_pair(2, std::string("by pointer\n")));
    EXPECT_EQ(reported([] { throw std::bad_alloc(); }),
              std::make_pair(2, std::string("Out of memory: raise -c, or set -o to limit the "
                                            "rule order.\n")));
    EXPECT_EQ(quorvel::runReportingFailures([] { throw std::bad_alloc(); }, "Out of memory."), 2);
}

TEST(Driver, SharedFilesAreFoundWhateverTheSpelling) {
    TempDir dir;
    writeFile(dir.file("log.tsv"), "x\n");
    const std::string log = dir.file("log.tsv");
    const std::string other = dir.path() + "/./log.tsv";
    EXPECT_EQ(refusal({log}, {other}), "Output \"" + other + "\" is the same file as input \"" +
                                           log + "\"; it would be overwritten.");
    ASSERT_EQ(::symlink(log.c_str(), dir.file("link.tsv").c_str()), 0);
    EXPECT_NE(refusal({dir.file("link.tsv")}, {log}), "(accepted)");
    EXPECT_EQ(refusal({log}, {dir.file("a.tsv"), dir.path() + "//a.tsv"}),
              "Outputs \"" + dir.file("a.tsv") + "\" and \"" + dir.path() +
                  "//a.tsv\" are the same file.");
    EXPECT_EQ(refusal({log}, {dir.file("a.tsv"), dir.file("b.tsv")}), "(accepted)");
    EXPECT_EQ(refusal({"-"}, {"-", "-"}), "(accepted)");
    EXPECT_EQ(refusal({log}, {"/dev/null", "/dev/null"}), "(accepted)");
}
