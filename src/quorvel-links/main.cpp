// quorvel-links: draws the item-to-item rules of a rule table as a DOT graph.
#include "config.hpp"
#include "digraph.hpp"
#include "dot.hpp"
#include "graphviz.hpp"
#include "options.hpp"
#include "report.hpp"

#include "brenlo/io.hpp"
#include "quorvel/driver.hpp"

#include <ostream>
#include <sstream>
#include <string>
#include <vector>

using namespace quorvel::links;

namespace {

// The DOT text is made in memory first, so that an error found while
// rendering never reaches the output.
void render(const Configuration& config, const Digraph& graph, std::ostream& dest) {
    std::ostringstream text;
    {
        brenlo::io::TextWriter out(text);
        renderGraph(out, graph, config);
    }
    dest << text.str();
}

void run(Configuration config) {
    std::vector<std::string> outputs{config.outputFile};
    if (!config.htmlFile.empty())
        outputs.push_back(config.htmlFile);
    quorvel::refuseSharedFiles({config.inputFile}, outputs);
    quorvel::OutputSet out;
    std::ostream& dest = out.add(config.outputFile);
    std::ostream* html = config.htmlFile.empty() ? nullptr : &out.add(config.htmlFile);
    const quorvel::rule::RuleSet rules = readRules(config);
    Digraph graph = route(config, rules);
    if (config.splines.empty())
        config.splines = defaultSplines(graph);
    std::ostringstream dot;
    render(config, graph, dot);
    dest << dot.str();
    if (html) {
        std::string why;
        const std::string svg = drawSvg(dot.str(), config.layoutSeconds, why);
        writeReport(*html, config, rules, svg, why);
    }
    out.commit();
}

} // namespace

int main(int argc, char** argv) {
    return quorvel::runReportingFailures([&] { run(configure(argc, argv)); });
}
