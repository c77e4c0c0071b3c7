// quorvel-links: draws the item-to-item rules of a rule table as a DOT graph.
#include "config.hpp"
#include "digraph.hpp"
#include "dot.hpp"
#include "options.hpp"

#include "brenlo/io.hpp"
#include "quorvel/driver.hpp"

#include <ostream>
#include <sstream>

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
    quorvel::refuseSharedFiles({config.inputFile}, {config.outputFile});
    quorvel::OutputSet out;
    std::ostream& dest = out.add(config.outputFile);
    Digraph graph = route(config);
    if (config.splines.empty())
        config.splines = defaultSplines(graph);
    render(config, graph, dest);
    out.commit();
}

} // namespace

int main(int argc, char** argv) {
    return quorvel::runReportingFailures([&] { run(configure(argc, argv)); });
}
