// The grapher's picture options, run as a user runs them.
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

using testsupport::readFile;
using testsupport::runLinks;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

const std::string HEADER =
    "Rule\tCount\tA union S\tSupport\tConfidence\tLift\tConviction\tProbability\tCertainty\n";

// A rule row with the measures the picture options look at.
std::string row(const std::string& rule, double support, double confidence, double lift,
                double certainty = 0.5) {
    std::ostringstream s;
    s << rule << "\t10\t10\t" << support << '\t' << confidence << '\t' << lift << "\t2\t0.5\t"
      << certainty << '\n';
    return s.str();
}

const std::string TABLE = HEADER + row("a => b", 0.5, 0.9, 2) + row("a => c", 0.25, 0.8, 3) +
                          row("b => c", 0.125, 0.7, 2) + row("c => d", 0.0625, 0.95, 1.5, 4) +
                          row("{a,b} => c", 0.5, 0.9, 9);

testsupport::RunResult graph(const std::string& table, std::vector<std::string> options = {}) {
    TempDir dir;
    writeFile(dir.file("rules.tsv"), table);
    options.push_back("rules.tsv");
    return runLinks(options, "", dir.path());
}

// The edges of a DOT text, "from->to" each, in order.
std::vector<std::string> edges(const std::string& dot) {
    std::vector<std::string> out;
    std::istringstream lines(dot);
    for (std::string line; std::getline(lines, line);)
        if (line.find("->") != std::string::npos && line.find("legend") == std::string::npos)
            out.push_back(line.substr(0, line.find('[')));
    return out;
}

std::string lastLines(const std::string& err, int n) {
    size_t at = err.size();
    for (int k = 0; k <= n && at != std::string::npos && at > 0; ++k)
        at = err.rfind('\n', at - 1);
    return at == std::string::npos ? err : err.substr(at + 1);
}

} // namespace

TEST(Picture, SplinesGoIntoTheHeaderAndOnlyGraphvizValues) {
    auto line = graph(TABLE, {"--splines=line"});
    ASSERT_EQ(line.status, 0) << line.err;
    const std::string head = "digraph G {\nsplines=line; concentrate=true; overlap=scale;\na->b";
    EXPECT_EQ(line.out.substr(0, head.size()), head);
    // Without the option, the graph is as it always was.
    const std::string curved =
        "digraph G {\nsplines=curved; concentrate=true; overlap=scale;\na->b";
    EXPECT_EQ(graph(TABLE).out.substr(0, curved.size()), curved);
    auto bad = graph(TABLE, {"--splines=line; node [shape=box]"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.err.substr(0, bad.err.find('\n')),
              "Option \"--splines\" needs a Graphviz splines value such as spline or line, not "
              "\"line; node [shape=box]\".");
    EXPECT_EQ(bad.out, "");
}

TEST(Picture, TopKeepsTheStrongestLinks) {
    // By lift (the default): a->c (3), then a->b and b->c tie at 2 and
    // keep graph order.
    auto two = graph(TABLE, {"--top=2"});
    ASSERT_EQ(two.status, 0) << two.err;
    EXPECT_EQ(edges(two.out), (std::vector<std::string>{"a->b", "a->c"}));
    EXPECT_EQ(lastLines(two.err, 2), "Mapped 4 links to graph.\nKept the 2 strongest links by "
                                     "lift.\n");
    EXPECT_EQ(edges(graph(TABLE, {"--top", "1"}).out), (std::vector<std::string>{"a->c"}));
    auto confident = graph(TABLE, {"--top=2", "--by=confidence"});
    EXPECT_EQ(edges(confident.out), (std::vector<std::string>{"a->b", "c->d"}));
    auto supported = graph(TABLE, {"--by=support", "--top=3"});
    EXPECT_EQ(edges(supported.out), (std::vector<std::string>{"a->b", "a->c", "b->c"}));
    // The kept links set the pen-width scale among themselves.
    EXPECT_NE(supported.out.find("a->c[weight=1.331558,penwidth=0.500000]"), std::string::npos)
        << supported.out;
    EXPECT_EQ(edges(graph(TABLE, {"--top=99"}).out).size(), 4u);
    // --by alone changes nothing.
    EXPECT_EQ(graph(TABLE, {"--by=support"}).out, graph(TABLE).out);

    EXPECT_EQ(graph(TABLE, {"--top=0"}).status, 1);
    auto by = graph(TABLE, {"--by=strength"});
    EXPECT_EQ(by.status, 1);
    EXPECT_EQ(by.err.substr(0, by.err.find('\n')),
              "Option \"--by\" needs one of count, a_union_s, support, confidence, lift, "
              "conviction, probability, certainty, not \"strength\".");
}

TEST(Picture, LabelsAndLegend) {
    auto labelled = graph(TABLE, {"--labels"});
    ASSERT_EQ(labelled.status, 0);
    // Curved edges (the default) take labels placed after the layout.
    EXPECT_NE(labelled.out.find("a->c[weight=1.331558,penwidth=0.642857,fontsize=9,"
                                "xlabel=\"conf 0.8\\nlift 3\"];"),
              std::string::npos)
        << labelled.out;
    EXPECT_NE(labelled.out.find("c->d[weight=1.065530,penwidth=0.250000,color=\"#5555AA\","
                                "fontsize=9,xlabel=\"conf 0.95\\nlift 1.5\"];"),
              std::string::npos)
        << labelled.out;
    auto spline = graph(TABLE, {"--labels", "--splines=spline"});
    EXPECT_NE(spline.out.find(",fontsize=9,label=\"conf 0.8\\nlift 3\"];"), std::string::npos);

    auto legend = graph(TABLE, {"--legend"});
    ASSERT_EQ(legend.status, 0);
    const std::string& dot = legend.out;
    EXPECT_NE(dot.find("subgraph cluster_legend {"), std::string::npos);
    EXPECT_NE(dot.find("[xlabel=\"thin: support 0.0625\",penwidth=0.25];"), std::string::npos);
    EXPECT_NE(dot.find("[xlabel=\"thick: support 0.5\",penwidth=1.5];"), std::string::npos);
    EXPECT_NE(dot.find("[xlabel=\"black: certainty at most 1\"];"), std::string::npos);
    EXPECT_NE(dot.find("[xlabel=\"certainty just above 1\",color=\"#AAAA55\"];"),
              std::string::npos);
    EXPECT_NE(dot.find("[xlabel=\"certainty 4\",color=\"#5555AA\"];"), std::string::npos) << dot;
    // Every item ranks the legend below it by an unseen edge.
    const std::string tail = "}\na->\"legend 0\"[style=invis];\nb->\"legend 0\"[style=invis];\n"
                             "c->\"legend 0\"[style=invis];\nd->\"legend 0\"[style=invis];\n}\n";
    ASSERT_GT(dot.size(), tail.size());
    EXPECT_EQ(dot.substr(dot.size() - tail.size()), tail);
    // The edges before the legend are the graph's own, unchanged.
    EXPECT_EQ(dot.substr(0, dot.find("subgraph")),
              graph(TABLE).out.substr(0, dot.find("subgraph")));

    // Infinite certainties get the top colour and say so; an item named
    // like the legend's nodes does not merge with them.
    auto named = graph(HEADER + row("\"legend 0\" => b", 0.5, 0.9, 2, 1.0 / 0.0) +
                           row("b => c", 0.25, 0.9, 2, 3),
                       {"--legend"});
    ASSERT_EQ(named.status, 0) << named.err;
    EXPECT_NE(named.out.find("\"legend _0\"->\"legend _1\""), std::string::npos) << named.out;
    EXPECT_NE(named.out.find("certainty 3 or infinite"), std::string::npos);
}

TEST(Picture, GatewayColoursByValueOrByRank) {
    // Certainties 1.5, 2 and 101 above the gateway threshold 1, one infinite.
    const std::string table = HEADER + row("a => b", 0.5, 0.9, 2, 1.5) +
                              row("a => c", 0.5, 0.9, 2, 2) + row("b => c", 0.5, 0.9, 2, 101) +
                              row("c => d", 0.5, 0.9, 2, 1.0 / 0.0) + row("d => a", 0.5, 0.9, 2);
    auto colour = [](const std::string& dot, const std::string& edge) {
        const size_t at = dot.find(edge + "[");
        const size_t c = dot.find("color=\"", at);
        return at == std::string::npos || c > dot.find('\n', at) ? std::string("black")
                                                                 : dot.substr(c + 7, 7);
    };
    TempDir dir;
    writeFile(dir.file("rules.tsv"), table);
    auto draw = [&](std::vector<std::string> args) {
        args.insert(args.end(), {"rules.tsv", "g.dot"});
        const auto drawn = runLinks(args, "", dir.path());
        EXPECT_EQ(drawn.status, 0) << drawn.err;
        return readFile(dir.file("g.dot"));
    };
    const std::string byDefault = draw({}), byValue = draw({"--shade=value"}),
                      byRank = draw({"--shade=rank", "--legend"});
    EXPECT_EQ(byValue, byDefault);
    // By value the two small certainties are one colour...
    EXPECT_EQ(colour(byValue, "a->b"), "#A9A955");
    EXPECT_EQ(colour(byValue, "a->c"), "#A9A955");
    // ...by rank they are the first and the middle step.
    EXPECT_EQ(colour(byRank, "a->b"), "#AAAA55");
    EXPECT_EQ(colour(byRank, "a->c"), "#7F7F7F");
    EXPECT_EQ(colour(byRank, "b->c"), "#5555AA");
    EXPECT_EQ(colour(byRank, "c->d"), "#5555AA");
    EXPECT_EQ(colour(byRank, "d->a"), "black");
    EXPECT_NE(byRank.find("certainty 1.5 (colours by rank)"), std::string::npos);
    const auto wrong = runLinks({"--shade=log", "rules.tsv", "x.dot"}, "", dir.path());
    EXPECT_EQ(wrong.status, 1);
    EXPECT_EQ(wrong.err.substr(0, wrong.err.find('\n')),
              "Option \"--shade\" needs value or rank, not \"log\".");
}

TEST(Picture, GraphvizDrawsEveryOption) {
    if (std::system("command -v dot > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "Graphviz is not installed";
    const std::string table = TABLE + row("\"x \"\"y\"\"\" => a", 0.3, 0.6, 1.2, 1.0 / 0.0);
    const std::vector<std::vector<std::string>> options = {
        {"--splines=spline"},
        {"--splines=polyline"},
        {"--splines=ortho"},
        {"--splines=none"},
        {"--top=2"},
        {"--labels"},
        {"--legend"},
        {"--shade=rank", "--legend"},
        {"--legend", "--labels", "--top=3", "--by=confidence", "--splines=line"}};
    for (const auto& o : options) {
        TempDir dir;
        writeFile(dir.file("rules.tsv"), table);
        std::vector<std::string> args = o;
        args.insert(args.end(), {"rules.tsv", "g.dot"});
        auto drawn = runLinks(args, "", dir.path());
        ASSERT_EQ(drawn.status, 0) << drawn.err;
        auto dot = testsupport::run("/bin/sh", {"-c", "timeout 120 dot -Tsvg g.dot -o g.svg"}, "",
                                    dir.path());
        EXPECT_EQ(dot.status, 0) << o[0] << ": " << dot.err << readFile(dir.file("g.dot"));
        EXPECT_EQ(dot.err, "") << o[0];
    }
}

// Laid out by Graphviz, the legend is one row under the whole graph, and
// narrower than a column of its entries would be tall.
TEST(Picture, TheLegendIsARowUnderTheGraph) {
    if (std::system("command -v dot > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "Graphviz is not installed";
    for (const std::string splines : {"curved", "spline", "ortho"}) {
        TempDir dir;
        writeFile(dir.file("rules.tsv"), TABLE + row("d => e", 0.3, 0.6, 1.2, 1.0 / 0.0) +
                                             row("e => a", 0.3, 0.6, 1.2, 2));
        auto drawn = runLinks({"--legend", "--labels", "--splines=" + splines, "rules.tsv", "g.dot"},
                              "", dir.path());
        ASSERT_EQ(drawn.status, 0) << drawn.err;
        auto plain = testsupport::run(
            "/bin/sh", {"-c", "timeout 120 dot -Tplain g.dot"}, "", dir.path());
        ASSERT_EQ(plain.status, 0) << plain.err;
        // "node NAME X Y ...", Y upwards; the legend's names start with "legend.
        double lowestItem = 1e9, highestLegend = -1e9;
        std::vector<double> legendY;
        size_t items = 0;
        std::istringstream lines(plain.out);
        for (std::string line; std::getline(lines, line);) {
            if (line.compare(0, 5, "node ") != 0)
                continue;
            std::istringstream fields(line.substr(5));
            std::string name;
            double x, y;
            if (line[5] == '"') {
                std::getline(fields, name, '"');
                std::getline(fields, name, '"');
            } else {
                fields >> name;
            }
            fields >> x >> y;
            if (name.compare(0, 7, "legend ") == 0) {
                legendY.push_back(y);
                highestLegend = std::max(highestLegend, y);
            } else {
                lowestItem = std::min(lowestItem, y);
                ++items;
            }
        }
        EXPECT_EQ(items, 5u) << plain.out;
        ASSERT_EQ(legendY.size(), 10u) << plain.out;
        EXPECT_LT(highestLegend, lowestItem) << splines << "\n" << plain.out;
        for (double y : legendY)
            EXPECT_EQ(y, legendY.front()) << splines << ": not one row\n" << plain.out;
    }
}
