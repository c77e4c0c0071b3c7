// quorvel-links run as a user runs it, and its DOT text fed to Graphviz.
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

using testsupport::readFile;
using testsupport::runLinks;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

const std::string HEADER =
    "Rule\tCount\tA union S\tSupport\tConfidence\tLift\tConviction\tProbability\tCertainty\n";
const std::string GRAPH_HEAD = "digraph G {\nsplines=curved; concentrate=true; overlap=scale;\n";

std::string row(const std::string& rule, double support, double certainty,
                const std::string& count = "10") {
    std::ostringstream s;
    s << rule << '\t' << count << "\t10\t" << support << "\t0.5\t1\t2\t0.5\t" << certainty << '\n';
    return s.str();
}

// Runs the grapher on `table` written to rules.tsv; DOT to standard output.
testsupport::RunResult graph(const std::string& table, std::vector<std::string> options = {}) {
    TempDir dir;
    writeFile(dir.file("rules.tsv"), table);
    options.push_back("rules.tsv");
    return runLinks(options, "", dir.path());
}

bool haveDot() {
    return std::system("command -v dot > /dev/null 2>&1") == 0;
}

} // namespace

TEST(LinksCli, EmptyGraph) {
    auto r = graph(HEADER);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, GRAPH_HEAD + "}\n");
    EXPECT_EQ(r.err, "rules.tsv\nRead in 0 rules.\n0\nMapped 0 links to graph.\n");
}

TEST(LinksCli, WeightsAndPenWidths) {
    auto one = graph(HEADER + row("a => b", 0.5, 0));
    EXPECT_EQ(one.out, GRAPH_HEAD + "a->b[weight=1.996008,penwidth=1.500000];\n}\n");
    EXPECT_EQ(one.err, "rules.tsv\nRead in 1 rules.\na => b: 0.5,0,0.5,1\n1\n"
                       "Mapped 1 links to graph.\n");
    auto two = graph(HEADER + row("a => b", 0.2, 0) + row("a => c", 0.6, 0));
    EXPECT_EQ(two.out, GRAPH_HEAD + "a->b[weight=1.248439,penwidth=0.250000];\n"
                                    "a->c[weight=2.493766,penwidth=1.500000];\n}\n");
}

TEST(LinksCli, GatewayColours) {
    auto half = graph(HEADER + row("a => b", 0.5, 0.5) + row("a => c", 0.5, 1), {"-T", "0.5"});
    EXPECT_NE(half.out.find("a->b[weight=1.996008,penwidth=1.500000];\n"), std::string::npos);
    EXPECT_NE(half.out.find("a->c[weight=1.996008,penwidth=1.500000,color=\"#5555AA\"];"),
              std::string::npos);
    auto grey = graph(HEADER + row("a => b", 0.5, 0.75) + row("a => c", 0.5, 1), {"-T0.5"});
    EXPECT_NE(grey.out.find("a->b[weight=1.996008,penwidth=1.500000,color=\"#7F7F7F\"];"),
              std::string::npos);
    // An infinite certainty is the strongest gateway: the top colour. The
    // finite ones keep their scale up to the largest finite certainty.
    const std::string infinite = "a => d\t10\t10\t0.5\t0.5\t1\t2\t0.5\tinf\n";
    auto inf = graph(HEADER + row("a => b", 0.5, 2) + row("a => c", 0.5, 3) + infinite);
    EXPECT_NE(inf.out.find("a->b[weight=1.996008,penwidth=1.500000,color=\"#7F7F7F\"];"),
              std::string::npos)
        << inf.out;
    EXPECT_NE(inf.out.find("a->c[weight=1.996008,penwidth=1.500000,color=\"#5555AA\"];"),
              std::string::npos);
    EXPECT_NE(inf.out.find("a->d[weight=1.996008,penwidth=1.500000,color=\"#5555AA\"];"),
              std::string::npos);
    auto alone = graph(HEADER + row("a => b", 0.5, 0.5) + infinite);
    EXPECT_NE(alone.out.find("a->b[weight=1.996008,penwidth=1.500000];"), std::string::npos);
    EXPECT_NE(alone.out.find("a->d[weight=1.996008,penwidth=1.500000,color=\"#5555AA\"];"),
              std::string::npos);
    // Without an infinite certainty nothing changes.
    auto finite = graph(HEADER + row("a => b", 0.5, 2) + row("a => c", 0.5, 3));
    EXPECT_EQ(finite.out, GRAPH_HEAD +
                              "a->b[weight=1.996008,penwidth=1.500000,color=\"#7F7F7F\"];\n"
                              "a->c[weight=1.996008,penwidth=1.500000,color=\"#5555AA\"];\n}\n");
}

TEST(LinksCli, NamesGraphvizCannotReadAreEscapedOrRefused) {
    auto nul = graph(HEADER + row(std::string("a\0b => c\\0", 10), 0.5, 0));
    ASSERT_EQ(nul.status, 0) << nul.err;
    EXPECT_NE(nul.out.find("\"a\\0b\"->\"c\\\\0\"["), std::string::npos) << nul.out;

    const std::string huge(16382, 'x');
    auto refused = graph(HEADER + row("a => " + huge, 0.5, 0));
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.out, "");
    const std::string cut = std::string(40, 'x') + "...";
    EXPECT_NE(refused.err.find("Cannot draw the rule \"a => " + cut + "\": the name \"" + cut +
                               "\" takes 16382 bytes in DOT, more than the 16381 that Graphviz "
                               "reads.\n"),
              std::string::npos)
        << refused.err.substr(0, 300);
    auto fits = graph(HEADER + row("a => " + huge.substr(1), 0.5, 0));
    EXPECT_EQ(fits.status, 0);
}

TEST(LinksCli, RoutingRules) {
    auto removed = graph(HEADER + row("a => b", 0.5, -0.25) + row("{a,b} => c", 0.5, 1));
    EXPECT_NE(removed.err.find("Removing a => b because -0.25 < 0\nMapped 0 links to graph.\n"),
              std::string::npos)
        << removed.err;
    EXPECT_EQ(removed.out, GRAPH_HEAD + "}\n");

    auto shared = graph(HEADER + row("{a,b} => b", 0.25, 0) + row("a => b", 0.5, 0));
    EXPECT_EQ(shared.out, GRAPH_HEAD + "a->b[weight=1.996008,penwidth=1.500000];\n}\n");
    EXPECT_NE(shared.err.find("Mapped 2 links to graph."), std::string::npos);

    auto emptySide = graph(HEADER + row("{} => {a,b}", 0.5, 1));
    EXPECT_EQ(emptySide.status, 0);
    EXPECT_NE(emptySide.err.find("Removing {} => {a,b} because one side is empty"),
              std::string::npos);

    auto filtered = graph(HEADER + row("a => b", 0.5, 1, "3") + row("b => a", 0.5, 1, "4"),
                          {"-c", "3", "-c", "4"});
    EXPECT_EQ(filtered.err, "rules.tsv\nRead in 2 rules.\nb => a: 0.5,0,0.5,1\n1\n"
                            "Mapped 1 links to graph.\n");
}

TEST(LinksCli, Options) {
    const std::string table = HEADER + row("a => b", 0.5, 0.25) + row("a => c", 0.5, 0.75);
    for (auto opts : std::vector<std::vector<std::string>>{
             {"-t0.5"}, {"--minCertainty=0.5"}, {"--certainty=0.5"}, {"--certainty", "0.5"}}) {
        auto r = graph(table, opts);
        EXPECT_EQ(r.status, 0) << opts[0] << r.err;
        EXPECT_NE(r.err.find("Removing a => b because 0.25 < 0.5"), std::string::npos) << opts[0];
        EXPECT_EQ(r.out.find("a->b"), std::string::npos);
    }
    auto conviction = graph(table, {"-V=-1"});
    EXPECT_NE(conviction.out.find("a->c"), std::string::npos);
    auto tight = graph(table, {"-V", "1"});
    EXPECT_EQ(tight.out, GRAPH_HEAD + "}\n");
    auto verbose = graph(table, {"-v"});
    EXPECT_EQ(verbose.out, graph(table).out);

    auto help = runLinks({"-?"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.err.substr(0, 37), "usage: quorvel-links [input] [output]");
    EXPECT_NE(help.err.find("  -v. --verbose\t\tPrint additional information.\n      --splines"),
              std::string::npos);
    EXPECT_NE(help.err.find("      --version\t\tPrint the program's version and exit.\n\n"),
              std::string::npos);
    auto bad = runLinks({"-x"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.err.substr(0, 22), "Unknown short option: ");
}

TEST(LinksCli, FailuresAreReported) {
    auto malformed = graph(HEADER + "a => b\n");
    EXPECT_EQ(malformed.status, 2);
    EXPECT_EQ(malformed.err, "rules.tsv\nrules.tsv:2: \"Count\" at column 2 is missing.\n");
    EXPECT_EQ(malformed.out, "");

    TempDir dir;
    auto missing = runLinks({}, "", dir.path());
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.err, "-\nCannot open \"-\": No such file or directory\n");

    writeFile(dir.file("-"), HEADER + row("a => b", 0.5, 0));
    auto dash = runLinks({}, "", dir.path());
    EXPECT_EQ(dash.status, 0);
    EXPECT_NE(dash.out.find("a->b"), std::string::npos);

    writeFile(dir.file("graph.dot"), "old graph\n");
    writeFile(dir.file("bad.tsv"), HEADER + "a => b\t1\n");
    auto kept = runLinks({"bad.tsv", "graph.dot"}, "", dir.path());
    EXPECT_EQ(kept.status, 2);
    EXPECT_EQ(readFile(dir.file("graph.dot")), "old graph\n");

    auto noDir = runLinks({"-", "no/dir/graph.dot"}, "", dir.path());
    EXPECT_EQ(noDir.status, 2);
    EXPECT_NE(noDir.err.find("Cannot write \"no/dir/graph.dot\""), std::string::npos);
    // The output is opened before the table is read.
    auto outputFirst = runLinks({"bad.tsv", "no/dir/graph.dot"}, "", dir.path());
    EXPECT_EQ(outputFirst.err, "Cannot write \"no/dir/graph.dot\": No such file or directory\n");

    auto written = runLinks({"-", "graph.dot"}, "", dir.path());
    EXPECT_EQ(written.status, 0);
    EXPECT_EQ(readFile(dir.file("graph.dot")),
              GRAPH_HEAD + "a->b[weight=1.996008,penwidth=1.500000];\n}\n");

    auto onItself = runLinks({"bad.tsv", "./bad.tsv"}, "", dir.path());
    EXPECT_EQ(onItself.status, 2);
    EXPECT_EQ(onItself.err, "Output \"./bad.tsv\" is the same file as input \"bad.tsv\"; it would "
                            "be overwritten.\n");
    EXPECT_EQ(readFile(dir.file("bad.tsv")), HEADER + "a => b\t1\n");

    auto folder = runLinks({"."}, "", dir.path());
    EXPECT_EQ(folder.status, 2);
    EXPECT_EQ(folder.err, ".\nCannot open \".\": Is a directory\n");

    auto full = runLinks({"-", "/dev/full"}, "", dir.path());
    EXPECT_EQ(full.status, 2);
    EXPECT_NE(full.err.find("Cannot write \"/dev/full\": No space left on device\n"),
              std::string::npos)
        << full.err;
    auto listing = testsupport::run("/bin/ls", {"-A", dir.path()});
    EXPECT_EQ(listing.out, "-\nbad.tsv\ngraph.dot\n");
}

TEST(LinksCli, NamesAreQuotedWhenDotNeedsIt) {
    auto r =
        graph(HEADER + row("\"milk powder\" => a-b", 0.5, 0) + row("node => 3a", 0.5, 0) +
              row("x_1 => 42", 0.5, 0) + row("\"\"\"q\"\"\"\"t\"\" => \"\"b\\s\"\"\"", 0.5, 0));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"milk powder\"->\"a-b\"["), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"node\"->\"3a\"["), std::string::npos);
    EXPECT_NE(r.out.find("x_1->42["), std::string::npos);
    EXPECT_NE(r.out.find("\"q\\\"t\"->\"b\\\\s\"["), std::string::npos);
}

TEST(LinksCli, GraphvizAcceptsWhatTheToolsWrite) {
    if (!haveDot())
        GTEST_SKIP() << "Graphviz is not installed";
    std::string table = "subject\ttime\titem\n";
    const char* names[] = {"milk powder", "a-b",  "3a",          "node", "Graph",
                           "caf\xc3\xa9", "x\"y", "back\\slash", "42",   "plain"};
    for (int s = 0; s < 12; ++s)
        for (int k = 0; k < 10; ++k) {
            std::string item = names[(k + s) % 10];
            std::string quoted = "\"";
            for (char c : item)
                quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
            table += "s" + std::to_string(s) + "\t" + std::to_string(k) + "\t" + quoted + "\"\n";
        }
    TempDir dir;
    writeFile(dir.file("in.tsv"), table);
    auto mined =
        testsupport::runRules({"-c", "2", "-o", "1", "in.tsv", "rules.tsv"}, "", dir.path());
    ASSERT_EQ(mined.status, 0) << mined.err;
    auto drawn = runLinks({"-c", "2", "rules.tsv", "graph.dot"}, "", dir.path());
    ASSERT_EQ(drawn.status, 0) << drawn.err;
    EXPECT_NE(readFile(dir.file("graph.dot")).find("->"), std::string::npos);
    auto dot = testsupport::run("/bin/sh", {"-c", "timeout 120 dot -Tsvg graph.dot -o graph.svg"},
                                "", dir.path());
    EXPECT_EQ(dot.status, 0) << dot.err << readFile(dir.file("graph.dot"));

    // A NUL byte is drawn; the longest names Graphviz reads, bare and
    // quoted, are read (too wide to lay out, so only parsed, by nop).
    writeFile(dir.file("nul.tsv"), HEADER + row(std::string("a\0b => c", 8), 0.5, 0));
    auto nul = runLinks({"nul.tsv", "nul.dot"}, "", dir.path());
    ASSERT_EQ(nul.status, 0) << nul.err;
    auto nulDot = testsupport::run("/bin/sh", {"-c", "timeout 120 dot -Tsvg nul.dot -o nul.svg"},
                                   "", dir.path());
    EXPECT_EQ(nulDot.status, 0) << nulDot.err;
    writeFile(dir.file("long.tsv"), HEADER + row("c => " + std::string(16381, 'y'), 0.5, 0) +
                                        row("c => " + std::string(16379, 'z') + "\\", 0.5, 0));
    auto longNames = runLinks({"long.tsv", "long.dot"}, "", dir.path());
    ASSERT_EQ(longNames.status, 0);
    auto parsed = testsupport::run("/bin/sh", {"-c", "nop long.dot > /dev/null"}, "", dir.path());
    EXPECT_EQ(parsed.status, 0) << parsed.err;

    std::string example = std::string(QUORVEL_SOURCE_DIR) + "/examples/clinic-visits.tsv";
    if (testsupport::fileExists(example)) {
        auto rules =
            testsupport::runRules({"-c", "15", "-w", "60", example, "ex.tsv"}, "", dir.path());
        ASSERT_EQ(rules.status, 0) << rules.err;
        auto g = runLinks({"-c", "15", "ex.tsv", "ex.dot"}, "", dir.path());
        ASSERT_EQ(g.status, 0);
        auto rendered = testsupport::run(
            "/bin/sh", {"-c", "timeout 120 dot -Tsvg ex.dot -o ex.svg"}, "", dir.path());
        EXPECT_EQ(rendered.status, 0) << rendered.err;
    }
}

TEST(LinksCli, OtherTablesGivenAsTheRuleTableAreToldApart) {
    TempDir dir;
    writeFile(dir.file("log.tsv"), "subject\ttime\titem\ns1\t1\ta\ns1\t2\tb\n");
    writeFile(dir.file("export.tsv"), "case\twhen\tactivity\nc1\t2024-01-19T10:00\ta\n");
    writeFile(dir.file("out.dot"), "old\n");
    auto r = runLinks({"log.tsv", "out.dot"}, "", dir.path());
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.substr(r.err.find('\n') + 1),
              "log.tsv:1: This is a transaction table, not a rule table.\n");
    r = runLinks({"export.tsv", "out.dot"}, "", dir.path());
    EXPECT_EQ(r.err.substr(r.err.find('\n') + 1),
              "export.tsv:1: This is a transaction table, not a rule table.\n");
    for (const char* sets : {"Count\tItem Set\n3\t{a,b}\n", "count,item_set\n3,\"{a,b}\"\n",
                             "{\"count\":3,\"items\":[\"a\",\"b\"]}\n"}) {
        writeFile(dir.file("sets.tsv"), sets);
        r = runLinks({"sets.tsv", "out.dot"}, "", dir.path());
        EXPECT_EQ(r.status, 2) << sets;
        EXPECT_EQ(r.err.substr(r.err.find('\n') + 1),
                  "sets.tsv:1: This is an item-set table, not a rule table.\n")
            << sets;
    }
    EXPECT_EQ(readFile(dir.file("out.dot")), "old\n");
    // A rule table whose first rule is malformed keeps its own message.
    r = graph(HEADER + "a -> b\t1\t1\t1\t1\t1\t1\t1\t1\n");
    EXPECT_NE(r.err.find("rules.tsv:2: Missing => operator"), std::string::npos) << r.err;
}

TEST(LinksCli, EveryTableFormatTheMinerWritesDrawsTheSameGraph) {
    TempDir dir;
    const std::string example = std::string(QUORVEL_SOURCE_DIR) + "/examples/clinic-visits.tsv";
    for (const char* format : {"tsv", "csv", "jsonl"}) {
        auto mined =
            testsupport::runRules({"-c", "15", "-w", "60", std::string("--format=") + format,
                                   example, dir.file(std::string("rules.") + format)});
        ASSERT_EQ(mined.status, 0) << mined.err;
    }
    const std::string gz = dir.file("rules.jsonl");
    ASSERT_EQ(testsupport::run("/bin/gzip", {"-k", "-n", gz}).status, 0);
    for (const std::vector<std::string>& options :
         std::vector<std::vector<std::string>>{{"-c", "15"},
                                               {"-c", "15", "--legend", "--labels"},
                                               {"-c", "20", "-T", "2", "--top=5", "--by=lift"}}) {
        std::vector<std::string> args = options;
        args.push_back(dir.file("rules.tsv"));
        const auto want = runLinks(args);
        ASSERT_EQ(want.status, 0) << want.err;
        ASSERT_NE(want.out.find("->"), std::string::npos);
        for (const char* other : {"rules.csv", "rules.jsonl", "rules.jsonl.gz"}) {
            args.back() = dir.file(other);
            const auto got = runLinks(args);
            EXPECT_EQ(got.status, 0) << other << ": " << got.err;
            EXPECT_EQ(got.out, want.out) << other;
            // The same rules were read and kept.
            EXPECT_EQ(got.err.substr(got.err.find('\n')), want.err.substr(want.err.find('\n')))
                << other;
        }
    }
    // A record that is not one says where.
    writeFile(dir.file("bad.jsonl"),
              "{\"antecedent\":[\"a\"],\"subsequent\":[\"b\"],\"count\":3,\"a_union_s\":3,"
              "\"support\":0.5,\"confidence\":1,\"lift\":1,\"conviction\":\"inf\","
              "\"probability\":1,\"certainty\":\"inf\"}\n"
              "{\"antecedent\":[\"a\"],\"subsequent\":[\"c\"],\"count\":3}\n");
    auto bad = runLinks({dir.file("bad.jsonl")});
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("bad.jsonl:2: Not a rule record (\"a_union_s\" is missing)."),
              std::string::npos)
        << bad.err;
    writeFile(dir.file("bad.csv"), "antecedent,subsequent,count,a_union_s,support,confidence,"
                                   "lift,conviction,probability,certainty\n"
                                   "{a},{b},3,3,0.5,1,1,inf,1,x\n");
    bad = runLinks({dir.file("bad.csv")});
    EXPECT_NE(bad.err.find("bad.csv:2: \"certainty\" at column 10 is not a number: \"x\"."),
              std::string::npos)
        << bad.err;
}

TEST(LinksCli, LargeGraphsAreDrawnWithSplinesGraphvizFinishes) {
    // Graphviz routes curved edges of a graph past about a hundred links for
    // minutes or without end; such graphs default to spline.
    auto table = [](int links) {
        std::string t = HEADER;
        for (int k = 0; k < links; ++k)
            t += row("a" + std::to_string(k % 12) + " => b" + std::to_string(k), 0.1, 0.5);
        return t;
    };
    auto small = graph(table(100));
    EXPECT_EQ(small.out.substr(0, GRAPH_HEAD.size()), GRAPH_HEAD);
    EXPECT_EQ(small.err.find("Drawing "), std::string::npos);
    auto large = graph(table(101));
    EXPECT_EQ(large.status, 0) << large.err;
    EXPECT_EQ(large.out.substr(0, 39), "digraph G {\nsplines=spline; concentrate");
    EXPECT_NE(large.err.find("\nDrawing 101 links as splines=spline: Graphviz does not finish "
                             "curved edges on more than 100 links (--splines=curved keeps "
                             "them).\n"),
              std::string::npos)
        << large.err;
    auto asked = graph(table(101), {"--splines=curved"});
    EXPECT_EQ(asked.out.substr(0, GRAPH_HEAD.size()), GRAPH_HEAD);
    EXPECT_EQ(asked.err.find("Drawing "), std::string::npos);
    if (!haveDot())
        GTEST_SKIP() << "Graphviz is absent: the large graph is not drawn";
    TempDir dir;
    writeFile(dir.file("g.dot"), graph(table(400)).out);
    auto drawn = testsupport::run(
        "/usr/bin/timeout", {"120", "dot", "-Tsvg", dir.file("g.dot"), "-o", dir.file("g.svg")});
    EXPECT_EQ(drawn.status, 0) << drawn.err;
}

TEST(LinksCli, ATsvIsReadWithTheDigitsItHolds) {
    // Just above the threshold only in the seventh digit: still a gateway.
    const std::string table = HEADER + "a => b\t10\t10\t0.5\t0.5\t1\t2\t0.5\t2.00000049\n" +
                              "a => c\t10\t10\t0.5\t0.5\t1\t2\t0.5\t3\n";
    auto r = graph(table, {"-c", "1", "-T", "2.0000004"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("a->b[weight=1.996008,penwidth=1.500000,color=\"#"), std::string::npos)
        << r.out;
    // Weights follow supports past the sixth digit.
    auto fine = graph(HEADER + "a => b\t10\t10\t0.2000004\t0.5\t1\t2\t0.5\t0\n" +
                      "a => c\t10\t10\t0.2\t0.5\t1\t2\t0.5\t0\n" + row("a => d", 0.6, 0));
    const size_t b = fine.out.find("a->b[weight="), c = fine.out.find("a->c[weight=");
    ASSERT_NE(b, std::string::npos);
    ASSERT_NE(c, std::string::npos);
    EXPECT_NE(fine.out.substr(b + 4, 20), fine.out.substr(c + 4, 20)) << fine.out;
}

TEST(LinksCli, AnAmpersandIsDrawnAsWritten) {
    auto r = graph(HEADER + row("a&amp;b => \"c & d\"", 0.5, 0) + row("x => y", 0.5, 0));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"a&amp;b\"[label=\"a&amp;amp;b\"];\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"c & d\"[label=\"c &amp; d\"];\n"), std::string::npos);
    EXPECT_NE(r.out.find("\"a&amp;b\"->\"c & d\"["), std::string::npos);
    EXPECT_EQ(r.out.find("x[label"), std::string::npos);
    if (!haveDot())
        GTEST_SKIP() << "Graphviz is not installed: the picture is not checked";
    TempDir dir;
    writeFile(dir.file("g.dot"), r.out);
    auto svg = testsupport::run("/bin/sh", {"-c", "timeout 120 dot -Tsvg g.dot"}, "", dir.path());
    ASSERT_EQ(svg.status, 0) << svg.err;
    // The SVG escapes the text it shows once: "a&amp;b" is shown.
    EXPECT_NE(svg.out.find(">a&amp;amp;b</text>"), std::string::npos) << svg.out;
    EXPECT_NE(svg.out.find(">c &amp; d</text>"), std::string::npos) << svg.out;
}
