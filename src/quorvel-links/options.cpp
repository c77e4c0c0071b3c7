#include "options.hpp"

#include <cstdio>

namespace quorvel::links {

namespace {

typedef Configuration C;
using brenlo::cmdline::CmdLine;
using brenlo::cmdline::Domain;

bool refuse(const std::string& option, const std::string& needs, const std::string& value) {
    std::fprintf(stderr, "Option \"%s\" needs %s, not \"%s\".\n", option.c_str(), needs.c_str(),
                 value.c_str());
    return false;
}

// The values Graphviz's splines attribute takes; anything else could break
// the graph's header.
bool isSplines(const std::string& value) {
    for (const char* v :
         {"none", "line", "false", "polyline", "curved", "ortho", "spline", "true", "compound"})
        if (value == v)
            return true;
    return false;
}

std::vector<OptionRow<C>> pictureRows() {
    return {
        textRow<C>('\0', "splines", "Set how edges are drawn.",
                   "      --splines=S\tDraw edges as curved, spline, line, polyline, ortho or none "
                   "(default: curved up to 100 links, spline past them).\n",
                   [](C& c, const std::string& value, const std::string& option) {
                       c.splines = value;
                       return isSplines(value) ||
                              refuse(option, "a Graphviz splines value such as spline or line",
                                     value);
                   }),
        {'\0', "top", Domain::UINT, "Keep the strongest links only.",
         "      --top=N\t\tKeep only the N strongest links (see --by).\n",
         [](C& c, const CmdLine::Binding& b) {
             c.top = b.values[0].data.ui;
             return countAtLeast(c.top, 1, b);
         }},
        textRow<C>('\0', "by", "Set what makes a link strong.",
                   "      --by=MEASURE\tRank links for --top by a measure (default: lift).\n",
                   [](C& c, const std::string& value, const std::string& option) {
                       c.strongestBy = quorvel::rule::findMeasure(value);
                       return c.strongestBy ||
                              refuse(option, "one of " + quorvel::rule::measureNames(), value);
                   }),
        flagRow<C>('\0', "labels", "Label edges.",
                   "      --labels\t\tLabel each edge with its confidence and lift.\n", &C::labels),
        flagRow<C>('\0', "legend", "Draw a legend.",
                   "      --legend\t\tDraw a legend of pen widths and colours.\n", &C::legend),
        textRow<C>('\0', "shade", "Set how gateway colours are spread.",
                   "      --shade=S\t\tSpread gateway colours by certainty's value (default) or "
                   "rank.\n",
                   [](C& c, const std::string& value, const std::string& option) {
                       c.shadeByRank = value == "rank";
                       return value == "rank" || value == "value" ||
                              refuse(option, "value or rank", value);
                   }),
        textRow<C>('\0', "html", "Write an HTML report.",
                   "      --html=FILE\tAlso write a report to open in a browser: the rules as a "
                   "table to sort and filter, and the picture.\n",
                   [](C& c, const std::string& value, const std::string&) {
                       c.htmlFile = value;
                       return true;
                   }),
        {'\0', "layout-seconds", Domain::UINT, "Limit Graphviz's layout time.",
         "      --layout-seconds=S\tGive Graphviz S seconds to draw the report's picture "
         "(default: 120; 0: no limit).\n",
         [](C& c, const CmdLine::Binding& b) {
             c.layoutSeconds = b.values[0].data.ui;
             return true;
         }},
    };
}

OptionTable<Configuration> makeTable() {
    const ThresholdRows<C> t = thresholdRows<C>(0);
    const char* certainty = "Set the minimum certainty necessary for inclusion.";
    OptionTable<C> table = {
        helpRow<C>(),
        shortHelpRow<C>(),
        t.count,
        t.confidence,
        t.lift,
        t.support,
        realRow<C>('t', "minCertainty", certainty,
                   "  -t, --certainty=f\tSet the minimum certainty necessary for inclusion "
                   "(default: 0).\n",
                   &C::minCertainty),
        realRow<C>('T', "gateway",
                   "Set the minimum certainty necessary to classify a rule as a gateway rule.",
                   "  -T, --gateway=f\tSet the minimum certainty necessary to classify a rule as a "
                   "gateway rule (default: 1).\n",
                   &C::gatewayCertainty),
        t.conviction,
        verboseRow<C>("  -v. --verbose\t\tPrint additional information.\n"),
        // The usage text has always said --certainty; accept it too.
        realRow<C>('\0', "certainty", certainty, "", &C::minCertainty),
    };
    for (OptionRow<C>& row : pictureRows())
        table.push_back(row);
    table.push_back(versionRow<C>());
    return table;
}

} // namespace

const OptionTable<Configuration>& optionTable() {
    static const OptionTable<Configuration> table = makeTable();
    return table;
}

Configuration configure(int argc, char** argv) {
    Configuration config;
    parseCommandLine(config, optionTable(),
                     {{"input", &Configuration::inputFile}, {"output", &Configuration::outputFile}},
                     argc, argv);
    return config;
}

} // namespace quorvel::links
