#include "brenlo/cmdline.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace brenlo;
using namespace brenlo::cmdline;

namespace {

class Parser : public testing::Test {
protected:
    Parser() {
        count = cmd.add('c', "count", Domain::UINT, "count", 1, false);
        verbose = cmd.add('v', "verbose", Domain::ALIAS, "verbose", 0, false);
        ratio = cmd.add('r', "ratio", Domain::FLOAT, "ratio", 1, false);
        name = cmd.addRanged('n', "names", Domain::STRING, "names", 0, 2, false);
    }

    CmdLine::Result parse(std::vector<const char*> words) {
        words.insert(words.begin(), "prog");
        testing::internal::CaptureStderr();
        testing::internal::CaptureStdout();
        CmdLine::Result r = cmd.parse(static_cast<int>(words.size()), words.data());
        out = testing::internal::GetCapturedStdout();
        err = testing::internal::GetCapturedStderr();
        return r;
    }

    CmdLine cmd;
    CmdLine::Serial count, verbose, ratio, name;
    std::string out, err;
};

} // namespace

TEST_F(Parser, ValuesGluedSeparateOrAfterEquals) {
    for (auto words : std::vector<std::vector<const char*>>{
             {"--count=7"}, {"-c7"}, {"-c=7"}, {"--count", "7"}, {"-c", "7"}}) {
        CmdLine::Result r = parse(words);
        ASSERT_TRUE(r) << words[0];
        ASSERT_EQ(r.bindings.size(), 1u);
        EXPECT_EQ(r.bindings[0].source->serial(), count);
        EXPECT_EQ(r.bindings[0].values[0].data.ui, 7u);
        EXPECT_EQ(r.bindings[0].values[0].raw, "7");
        EXPECT_EQ(r.bindings[0].pos, 1u);
        EXPECT_EQ(err, "");
    }
    CmdLine::Result r = parse({"-c", "7", "in", "out"});
    ASSERT_TRUE(r);
    ASSERT_EQ(r.excess.size(), 2u);
    EXPECT_EQ(r.excess[0], "in");
    EXPECT_EQ(r.excess[1], "out");
}

TEST_F(Parser, AliasesAndRepeatedOptions) {
    CmdLine::Result r = parse({"-v", "-c", "3", "-c", "4"});
    ASSERT_TRUE(r);
    ASSERT_EQ(r.bindings.size(), 3u);
    EXPECT_EQ(r.bindings[0].values.size(), 0u);
    EXPECT_EQ(r.bindings[2].values[0].data.ui, 4u);
    EXPECT_EQ(r.bindings[2].pos, 4u);

    r = parse({"-vc"});
    EXPECT_FALSE(r);
    EXPECT_EQ(err, "Option \"-v\" doesn't take parameters.\n");
    r = parse({"--verbose=yes"});
    EXPECT_FALSE(r);
    EXPECT_EQ(err, "Option \"--verbose\" doesn't take parameters.\n");
}

TEST_F(Parser, MissingValuesKeepScanning) {
    CmdLine::Result r = parse({"-c"});
    EXPECT_FALSE(r);
    EXPECT_EQ(err, "Not enough arguments for option \"-c\": have 0, need 1.\n");
    r = parse({"-c", "-5", "-x"});
    EXPECT_FALSE(r);
    EXPECT_EQ(err, "Not enough arguments for option \"-c\": have 0, need 1.\n"
                   "Unknown short option: 5\n"
                   "Unknown short option: x\n");
    EXPECT_EQ(r.bindings.size(), 0u);
    EXPECT_EQ(r.excess.size(), 0u);
}

TEST_F(Parser, ConversionFailureStopsTheScan) {
    CmdLine::Result r = parse({"-c", "many", "--nope"});
    EXPECT_FALSE(r);
    EXPECT_EQ(err, "Couldn't parse \"many\".\n");
    r = parse({"-c=-1"});
    EXPECT_FALSE(r);
    EXPECT_EQ(err, "Couldn't parse \"-1\".\n");
    r = parse({"-r", "0.1"});
    ASSERT_TRUE(r);
    EXPECT_EQ(r.bindings[0].values[0].data.fl, 0.1f);
    EXPECT_EQ(r.bindings[0].values[0].raw, "0.1");
}

TEST_F(Parser, UnknownOptionsGoToStandardError) {
    CmdLine::Result r = parse({"--certainty=0.5", "-q", "file"});
    EXPECT_FALSE(r);
    EXPECT_EQ(err, "Unknown long option: certainty\nUnknown short option: q\n");
    EXPECT_EQ(out, "");
    r = parse({"--countx"});
    EXPECT_FALSE(r);
    EXPECT_EQ(err, "Unknown long option: countx\n");
}

TEST_F(Parser, PositionalWords) {
    CmdLine::Result r = parse({"--", "-", "-c", "2", "x"});
    ASSERT_TRUE(r);
    EXPECT_EQ(err, "Got --\n");
    ASSERT_EQ(r.excess.size(), 3u);
    EXPECT_EQ(r.excess[0], "--");
    EXPECT_EQ(r.excess[1], "-");
    EXPECT_EQ(r.excess[2], "x");
    EXPECT_EQ(r.bindings.size(), 1u);

    r = parse({"-n", "a", "b", "c"});
    ASSERT_TRUE(r);
    EXPECT_EQ(r.bindings[0].values.size(), 2u);
    EXPECT_EQ(r.excess.size(), 1u);
    r = parse({"-n"});
    EXPECT_TRUE(r);
}

TEST_F(Parser, RegistrationAndLookups) {
    EXPECT_TRUE(cmd.hasShort('c'));
    EXPECT_TRUE(cmd.hasLong("ratio"));
    EXPECT_FALSE(cmd.hasLong("x"));
    EXPECT_TRUE(cmd.hasSerial(count));
    EXPECT_EQ(cmd.forLong("verbose").serial(), verbose);
    EXPECT_EQ(cmd.forShort('r').longKey(), "ratio");
    EXPECT_THROW(cmd.forShort('z'), NotFoundException);
    EXPECT_THROW(cmd.forSerial(99), NotFoundException);
    try {
        cmd.add('c', "other", Domain::UINT, "dup", 1, false);
        FAIL() << "no exception";
    } catch (const AlreadyExistsException& e) {
        EXPECT_STREQ(e.what(), "Key \"c\" is already mapped.");
    }
    try {
        cmd.bindShort('q', ratio);
        FAIL() << "no exception";
    } catch (const AlreadyExistsException& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Serial already mapped to short key \"", 0), 0u);
    }
    EXPECT_THROW(cmd.bindShort('r', ratio), AlreadyExistsException);
    EXPECT_EQ(cmd.add(Option(Domain::BOOL, "flag", 1, false)), name + 2);
}
