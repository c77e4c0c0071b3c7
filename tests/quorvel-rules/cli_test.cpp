// quorvel-rules run as a user runs it: arguments, files, pipes, exit status.
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <unistd.h>

using testsupport::readFile;
using testsupport::runRules;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

const std::string RULE_HEADER =
    "Rule\tCount\tA union S\tSupport\tConfidence\tLift\tConviction\tProbability\tCertainty\n";

// Six subjects: a => b seen in three, {a,b} held by 3, {a} by 3, {b} by 4.
const std::string SIX = "subject\ttime\titem\n"
                        "s1\t1\ta\ns1\t2\tb\ns2\t1\ta\ns2\t2\tb\ns3\t1\ta\ns3\t5\tb\n"
                        "s4\t1\tb\ns5\t1\tc\ns6\t1\tc\n";

const std::string USAGE_TAIL =
    "\n"
    "OPTIONS:\n"
    "  -?, --help\t\tDisplay this message.\n"
    "  -h\t\t\tDisplay this message, as -? does.\n"
    "  -c, --count=i\t\tSet the minimum count necessary for inclusion (default: 5).\n"
    "  -C, --confidence=f\tSet the minimum confidence necessary for inclusion (default: 0).\n"
    "  -j, --threads=i\tSet the number of threads (default: one per processor).\n"
    "  -l, --lift=f\t\tSet the minimum lift necessary for inclusion (default: 0).\n"
    "  -M, --memory=SIZE\tSet the memory budget, e.g. 512M or 8G (default: three quarters of "
    "physical memory).\n"
    "  -o, --order=i\t\tSet the maximum rule order to mine (default: 0).\n"
    "  -s, --support=f\tSet the minimum support necessary for inclusion (default: 0).\n"
    "  -V, --conviction=f\tSet the maximum conviction neccessary for inclusion (default: "
    "infinity).\n"
    "  -v, --verbose\t\tPrint additional information.\n"
    "  -w, --window\t\tSet the size of the window (default: 0)\n"
    "      --rules=KIND\tMine ordered rules, B after A (default), or basket rules, A and b held "
    "together in any order.\n"
    "      --subsequent=ITEM\tKeep only rules whose subsequent holds nothing but these items "
    "(repeatable, or a,b,c).\n"
    "      --antecedent=ITEM\tKeep only rules whose antecedent holds all of these items "
    "(repeatable, or a,b,c).\n"
    "      --exclude=ITEM\tKeep only rules that hold none of these items (repeatable, or "
    "a,b,c).\n"
    "      --productive\tKeep only rules of lift above 1 whose confidence passes that of every "
    "rule with a smaller antecedent and the same subsequent.\n"
    "      --delays\t\tAdd each rule's delays from antecedent to subsequent: least, median, 90th "
    "percentile, greatest.\n"
    "      --p-values=TESTS\tAdd each rule's p-values, plain and adjusted: dependence, order, or "
    "both (dependence,order).\n"
    "      --max-p=P\t\tKeep only rules whose adjusted p-values (of --p-values; default: every "
    "test) are at most P.\n"
    "      --adjust=HOW\tAdjust p-values for the rules tested by holm (default: the chance of "
    "any false rule) or bh (the share of false rules).\n"
    "      --best=K\t\tKeep the K rules of highest count (ties kept), finding the count instead "
    "of -c, which it stays at or above.\n"
    "      --by=MEASURE\tRank --best by count (default) or support, its share of the subjects.\n"
    "      --delimiter=C\tSet the character between input cells (default: tab).\n"
    "      --csv\t\tRead a comma-separated input (--delimiter=,).\n"
    "      --xes\t\tRead an XES event log (told from its first bytes otherwise): traces "
    "are subjects; --subject, --time and --item name attribute keys.\n"
    "      --lifecycle=L\tRead XES events whose lifecycle:transition is complete (default) or "
    "all.\n"
    "      --inputs=LIST\tRead these tables (files, or folders of part files) instead of "
    "[input].\n"
    "      --subject=NAME\tRead the subject from the column so named in the header.\n"
    "      --time=NAME\tRead the time from the column so named in the header.\n"
    "      --item=NAME\tRead items from the columns so named (repeatable, or a,b,c).\n"
    "      --item-prefix\tName each item by its column, as resource=Mike, so columns named by "
    "--item stay apart.\n"
    "      --time-format=F\tRead times as number (default), iso8601, unix or unix-ms (then -w "
    "takes 90s, 30m, 12h, 7d or 2w).\n"
    "      --format=F\tWrite the tables as tsv (default), csv or jsonl.\n"
    "      --sort=MEASURE\tSort the rules by a measure, largest first (default: rule order).\n"
    "      --top=N\t\tWrite only the first N rules.\n"
    "      --version\t\tPrint the program's version and exit.\n"
    "\n";

const std::string USAGE = "usage: quorvel-rules [input] [output] [item-sets]\n" + USAGE_TAIL;

std::string lastLine(const std::string& text) {
    std::string t = text;
    if (!t.empty() && t.back() == '\n')
        t.pop_back();
    return t.substr(t.rfind('\n') + 1);
}

} // namespace

TEST(MinerCli, TheDocumentedExampleRow) {
    TempDir dir;
    writeFile(dir.file("in.tsv"), SIX);
    auto r = runRules({"-c", "1", "in.tsv", "rules.tsv", "sets.tsv"}, "", dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(dir.file("rules.tsv")),
              RULE_HEADER + "a => b\t3\t3\t0.5\t1\t1.5\tinf\t0.75\t3\n");
    EXPECT_EQ(readFile(dir.file("sets.tsv")),
              "Count\tItem Set\n3\t{a,b}\n3\t{a}\n4\t{b}\n2\t{c}\n");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Read in.tsv with 9 transaction(s) over 6 history record(s).\n"
                     "\t ... calculated 3 frequent item sets of size 1. \n"
                     "\t ... calculated 1 frequent item sets of size 2 with 2 proposed rules.\n"
                     "\t ... deducing rules of order 1.\n"
                     "\t ... mining rules until there are no more frequent item sets.\n"
                     "\t ... preparing rules for reporting.\n"
                     "\t ... have 1 rules.\n"
                     "1\n"
                     "sets.tsv\n");
}

TEST(MinerCli, StandardInputAndOutput) {
    auto r = runRules({"-c", "1"}, SIX);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, RULE_HEADER + "a => b\t3\t3\t0.5\t1\t1.5\tinf\t0.75\t3\n");
    EXPECT_EQ(r.err.substr(0, 5), "Read ");
    EXPECT_EQ(r.err.substr(r.err.size() - 4), "\n1\n\n"); // no item sets: an empty last line

    TempDir dir;
    writeFile(dir.file("in.tsv"), SIX);
    auto both = runRules({"--count=1", "in.tsv", "-", "-"}, "", dir.path());
    ASSERT_EQ(both.status, 0);
    EXPECT_EQ(both.out, RULE_HEADER + "a => b\t3\t3\t0.5\t1\t1.5\tinf\t0.75\t3\n" +
                            "Count\tItem Set\n3\t{a,b}\n3\t{a}\n4\t{b}\n2\t{c}\n");
    EXPECT_EQ(lastLine(both.err), "-");

    auto fourth = runRules({"-c1", "in.tsv", "-", "", "ignored"}, "", dir.path());
    EXPECT_EQ(fourth.status, 0);
    EXPECT_FALSE(testsupport::fileExists(dir.file("ignored")));
}

TEST(MinerCli, HelpAndCommandLineMistakes) {
    auto help = runRules({"-c", "3", "-?"}, "not a table");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.err, USAGE);
    EXPECT_EQ(help.out, "");

    auto unknown = runRules({"--bogus"});
    EXPECT_EQ(unknown.status, 1);
    EXPECT_EQ(unknown.err, "Unknown long option: bogus\n" + USAGE);

    auto negative = runRules({"-c=-1"});
    EXPECT_EQ(negative.status, 1);
    EXPECT_EQ(negative.err, "Couldn't parse \"-1\".\n" + USAGE);

    auto huge = runRules({"-c", "4294967296"});
    EXPECT_EQ(huge.status, 1);
}

TEST(MinerCli, ThresholdsAsTyped) {
    // Ten subjects, the rule a => b in exactly one of them: support 0.1.
    std::string table = "subject\ttime\titem\ns0\t1\ta\ns0\t2\tb\n";
    for (int k = 1; k < 10; ++k)
        table += "t" + std::to_string(k) + "\t1\tz\n";
    auto kept = runRules({"-c", "1", "-s", "0.1"}, table);
    ASSERT_EQ(kept.status, 0) << kept.err;
    EXPECT_NE(kept.out.find("a => b\t1\t1\t0.1\t"), std::string::npos) << kept.out;
    auto above = runRules({"-c", "1", "-s", "0.10001"}, table);
    EXPECT_EQ(above.out, RULE_HEADER);

    // Conviction: -V=-2 and no -V are unlimited; 0 keeps only conviction <= 0.
    auto unlimited = runRules({"-c", "1", "-V=-2"}, SIX);
    EXPECT_NE(unlimited.out.find("a => b"), std::string::npos);
    auto zero = runRules({"-c", "1", "-V", "0"}, SIX);
    EXPECT_EQ(zero.out, RULE_HEADER);

    auto verbose = runRules({"-c", "1", "-v"}, SIX);
    auto quiet = runRules({"-c", "1"}, SIX);
    EXPECT_EQ(verbose.out, quiet.out);
    EXPECT_EQ(verbose.err, quiet.err);
}

TEST(MinerCli, WindowsLineEndsAreReadRowByRow) {
    std::string crlf;
    for (char c : SIX) {
        if (c == '\n')
            crlf += '\r';
        crlf += c;
    }
    auto r = runRules({"-c", "1"}, crlf);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, RULE_HEADER + "a => b\t3\t3\t0.5\t1\t1.5\tinf\t0.75\t3\n");
}

TEST(MinerCli, FailuresSayWhatAndWhereAndLeaveNoOutput) {
    TempDir dir;
    auto missing = runRules({"nope.tsv", "rules.tsv"}, "", dir.path());
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.err, "Cannot open \"nope.tsv\": No such file or directory\n");
    EXPECT_FALSE(testsupport::fileExists(dir.file("rules.tsv")));

    writeFile(dir.file("bad.tsv"), "h\ns1\t2024-01-05\ta\n");
    writeFile(dir.file("rules.tsv"), "previous content\n");
    auto bad = runRules({"bad.tsv", "rules.tsv", "sets.tsv"}, "", dir.path());
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.err, "bad.tsv:2: Invalid time \"2024-01-05\": a time is a whole number from 0 "
                       "to 4294967295.\n");
    EXPECT_EQ(readFile(dir.file("rules.tsv")), "previous content\n");
    EXPECT_FALSE(testsupport::fileExists(dir.file("sets.tsv")));

    // A blank line (a trailing one, as many exporters write) is no row; a
    // row without its time still fails, naming standard input and the line.
    auto blank = runRules({"-c1"}, SIX + "\n");
    EXPECT_EQ(blank.status, 0) << blank.err;
    EXPECT_EQ(blank.out, runRules({"-c1"}, SIX).out);
    auto noTime = runRules({}, "h\ns1\t1\ta\n\ns2\n");
    EXPECT_EQ(noTime.status, 2);
    EXPECT_EQ(noTime.err, "standard input:4: Missing cell at position 1.\n");
    EXPECT_EQ(noTime.out, "");

    // One stray quote stops the run at its line instead of eating the file.
    auto stray = runRules({"-c1"}, "h\ns1\t1\ta\ns2\t1\t\"b\ns3\t1\tc\ns4\t1\td\n");
    EXPECT_EQ(stray.status, 2);
    EXPECT_EQ(stray.err,
              "standard input:3: A quoted cell is never closed: its quote opens here.\n");

    writeFile(dir.file("in.tsv"), SIX);
    auto folder = runRules({"."}, "", dir.path());
    EXPECT_EQ(folder.status, 2);
    EXPECT_EQ(folder.err, "Cannot open \".\": Is a directory\n");

    // A bad output path fails before anything is read.
    auto noDir = runRules({"-c1", "in.tsv", "no/such/dir/rules.tsv"}, "", dir.path());
    EXPECT_EQ(noDir.status, 2);
    EXPECT_EQ(noDir.err, "Cannot write \"no/such/dir/rules.tsv\": No such file or directory\n");
    auto outputFirst = runRules({"-", "no/dir/rules.tsv"}, "h\ns1\n", dir.path());
    EXPECT_EQ(outputFirst.err, "Cannot write \"no/dir/rules.tsv\": No such file or directory\n");

    // The outputs of a run are put in place together: when the item-set
    // file fails, the old rule table stands too.
    auto setsFail = runRules({"-c1", "in.tsv", "rules.tsv", "no/dir/sets.tsv"}, "", dir.path());
    EXPECT_EQ(setsFail.status, 2);
    EXPECT_EQ(setsFail.err, "Cannot write \"no/dir/sets.tsv\": No such file or directory\n");
    EXPECT_EQ(readFile(dir.file("rules.tsv")), "previous content\n");
    auto setsFull = runRules({"-c1", "in.tsv", "rules.tsv", "/dev/full"}, "", dir.path());
    EXPECT_EQ(setsFull.status, 2);
    EXPECT_NE(setsFull.err.find("Cannot write \"/dev/full\": No space left on device\n"),
              std::string::npos)
        << setsFull.err;
    EXPECT_EQ(readFile(dir.file("rules.tsv")), "previous content\n");

    // The system's own reason, for files and for standard output.
    auto full = runRules({"-c1", "in.tsv", "/dev/full"}, "", dir.path());
    EXPECT_EQ(full.status, 2);
    EXPECT_NE(full.err.find("Cannot write \"/dev/full\": No space left on device\n"),
              std::string::npos)
        << full.err;
    auto stdoutFull = testsupport::run(
        "/bin/sh", {"-c", std::string("exec '") + QUORVEL_RULES_BIN + "' -c1 in.tsv > /dev/full"},
        "", dir.path());
    EXPECT_EQ(stdoutFull.status, 2);
    EXPECT_NE(stdoutFull.err.find("Cannot write to standard output: No space left on device.\n"),
              std::string::npos)
        << stdoutFull.err;

    // No temporary files are left behind.
    auto listing = testsupport::run("/bin/ls", {"-A", dir.path()});
    EXPECT_EQ(listing.out, "bad.tsv\nin.tsv\nrules.tsv\n");
}

TEST(MinerCli, AnOutputThatIsAnInputIsRefused) {
    TempDir dir;
    writeFile(dir.file("log.tsv"), SIX);
    auto same = runRules({"log.tsv", "./log.tsv"}, "", dir.path());
    EXPECT_EQ(same.status, 2);
    EXPECT_EQ(same.err, "Output \"./log.tsv\" is the same file as input \"log.tsv\"; it would be "
                        "overwritten.\n");
    EXPECT_EQ(readFile(dir.file("log.tsv")), SIX);

    ASSERT_EQ(::link(dir.file("log.tsv").c_str(), dir.file("hard.tsv").c_str()), 0);
    auto hard = runRules({"log.tsv", "out.tsv", "hard.tsv"}, "", dir.path());
    EXPECT_EQ(hard.status, 2);
    EXPECT_NE(hard.err.find("\"hard.tsv\" is the same file as input \"log.tsv\""),
              std::string::npos);
    EXPECT_FALSE(testsupport::fileExists(dir.file("out.tsv")));

    // Two outputs naming one file, whether it is there yet or not.
    auto twice = runRules({"log.tsv", "out.tsv", "./out.tsv"}, "", dir.path());
    EXPECT_EQ(twice.status, 2);
    EXPECT_EQ(twice.err, "Outputs \"out.tsv\" and \"./out.tsv\" are the same file.\n");
    EXPECT_FALSE(testsupport::fileExists(dir.file("out.tsv")));

    // Devices may be named twice.
    auto null = runRules({"-c1", "log.tsv", "/dev/null", "/dev/null"}, "", dir.path());
    EXPECT_EQ(null.status, 0) << null.err;
    EXPECT_EQ(readFile(dir.file("log.tsv")), SIX);
}

TEST(MinerCli, OddItemNamesRoundTripThroughTheTables) {
    std::string table = "subject\ttime\titem\n";
    for (int s = 0; s < 4; ++s) {
        std::string id = "s" + std::to_string(s);
        table += id + "\t1\t\"milk, whole\"\t\"say \"\"hi\"\"\"\n";
        table += id + "\t2\tcream cheese \t\"x => y\"\n";
    }
    auto r = runRules({"-c", "2"}, table);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"\"\"milk, whole\"\" => \"\"cream cheese \"\"\"\t4\t"),
              std::string::npos)
        << r.out;
    TempDir dir;
    writeFile(dir.file("rules.tsv"), r.out);
    auto links = testsupport::runLinks({"-c", "2", "rules.tsv"}, "", dir.path());
    EXPECT_EQ(links.status, 0) << links.err;
    EXPECT_NE(links.out.find("\"milk, whole\"->\"cream cheese \""), std::string::npos) << links.out;
}

TEST(MinerCli, RealDataSets) {
    std::string data = testsupport::sharedDataDir();
    if (data.empty())
        GTEST_SKIP() << "../shared/data is absent: the real-data test is skipped";
    struct {
        const char* file;
        const char* count;
        size_t itemSets;
    } sets[] = {{"receipt.tsv.gz", "20", 2111},
                {"groceries.tsv.gz", "50", 1948},
                {"retail.tsv.gz", "1000", 135}};
    for (const auto& s : sets) {
        auto unpacked = testsupport::run("/bin/gzip", {"-dc", data + "/" + s.file});
        ASSERT_EQ(unpacked.status, 0);
        TempDir dir;
        auto r = runRules({"-c", s.count, "-", "rules.tsv", "sets.tsv"}, unpacked.out, dir.path());
        ASSERT_EQ(r.status, 0) << s.file << r.err;
        std::string sets = readFile(dir.file("sets.tsv"));
        EXPECT_EQ(static_cast<size_t>(std::count(sets.begin(), sets.end(), '\n')), s.itemSets + 1)
            << s.file;
        auto links =
            testsupport::runLinks({"-c", s.count, "rules.tsv", "graph.dot"}, "", dir.path());
        EXPECT_EQ(links.status, 0) << links.err;
    }
}
