#include "brenlo/exception.hpp"
#include "brenlo/replace.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <ostream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using brenlo::io::PendingOutput;
using brenlo::io::replaceFile;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

std::string listing(const TempDir& dir) {
    return testsupport::run("/bin/ls", {"-A", dir.path()}).out;
}

} // namespace

TEST(ReplaceFile, AWriterThatThrowsKeepsTheOldFile) {
    TempDir dir;
    writeFile(dir.file("out.tsv"), "old\n");
    // Enough text to pass through the buffer before the throw.
    auto failing = [](std::ostream& out) {
        for (int k = 0; k < 100000; ++k)
            out << "row " << k << '\n';
        throw std::runtime_error("writer failed");
    };
    EXPECT_THROW(replaceFile(dir.file("out.tsv"), failing), std::runtime_error);
    EXPECT_EQ(readFile(dir.file("out.tsv")), "old\n");
    EXPECT_EQ(listing(dir), "out.tsv\n");
    EXPECT_THROW(replaceFile(dir.file("new.tsv"), failing), std::runtime_error);
    EXPECT_EQ(listing(dir), "out.tsv\n");
}

TEST(ReplaceFile, WritesInPlaceKeepingPermissions) {
    TempDir dir;
    writeFile(dir.file("out.tsv"), "old\n");
    ASSERT_EQ(::chmod(dir.file("out.tsv").c_str(), 0640), 0);
    replaceFile(dir.file("out.tsv"), [](std::ostream& out) { out << "new\n"; });
    EXPECT_EQ(readFile(dir.file("out.tsv")), "new\n");
    struct stat st;
    ASSERT_EQ(::stat(dir.file("out.tsv").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    mode_t mask = ::umask(022);
    replaceFile(dir.file("fresh.tsv"), [](std::ostream& out) { out << "x"; });
    ::umask(mask);
    ASSERT_EQ(::stat(dir.file("fresh.tsv").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    EXPECT_EQ(listing(dir), "fresh.tsv\nout.tsv\n");
}

TEST(ReplaceFile, TheSystemsReasonIsKept) {
    try {
        replaceFile("/dev/full", [](std::ostream& out) { out << "x\n"; });
        FAIL() << "no error";
    } catch (const brenlo::IOException& e) {
        EXPECT_EQ(e.why(), "Cannot write \"/dev/full\": No space left on device");
    }
    TempDir dir;
    try {
        replaceFile(dir.file("no/such/out.tsv"), [](std::ostream&) {});
        FAIL() << "no error";
    } catch (const brenlo::IOException& e) {
        EXPECT_EQ(e.why(), "Cannot write \"" + dir.file("no/such/out.tsv") +
                               "\": No such file or directory");
    }
}

TEST(PendingOutput, NothingIsInPlaceBeforeCommit) {
    TempDir dir;
    writeFile(dir.file("out.tsv"), "old\n");
    {
        PendingOutput out(dir.file("out.tsv"));
        out.stream() << "new\n";
        out.finish();
        // Hidden, recognisable, beside its target.
        std::string names = listing(dir);
        EXPECT_EQ(names.substr(0, 21), ".out.tsv.quorvel-tmp.") << names;
        EXPECT_EQ(readFile(dir.file("out.tsv")), "old\n");
    }
    EXPECT_EQ(listing(dir), "out.tsv\n");
    EXPECT_EQ(readFile(dir.file("out.tsv")), "old\n");
}

TEST(PendingOutput, ATerminatingSignalRemovesTheTemporaryFile) {
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        TempDir dir;
        writeFile(dir.file("out.tsv"), "old\n");
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            PendingOutput out(dir.file("out.tsv"));
            out.stream() << "partial";
            out.finish();
            std::raise(sig);
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status)) << sig;
        EXPECT_EQ(WTERMSIG(status), sig);
        EXPECT_EQ(listing(dir), "out.tsv\n") << sig;
        EXPECT_EQ(readFile(dir.file("out.tsv")), "old\n");
    }
}
