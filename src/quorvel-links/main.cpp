// quorvel-links: draws the item-to-item rules of a rule table as a DOT graph.
#include "config.hpp"
#include "digraph.hpp"
#include "dot.hpp"
#include "options.hpp"

#include "brenlo/cmdline.hpp"
#include "brenlo/exception.hpp"
#include "brenlo/io.hpp"
#include "brenlo/string.hpp"
#include "quorvel/driver.hpp"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <limits>
#include <sstream>

using namespace quorvel::links;
using brenlo::cmdline::CmdLine;
using brenlo::cmdline::Domain;
using quorvel::rule::RuleSet;

namespace {

[[noreturn]] void usage(int ret, int, char** argv) {
    std::fprintf(stderr,
                 "usage: %s [input] [output]\n"
                 "\n"
                 "OPTIONS:\n"
                 "  -?, --help\t\tDisplay this message.\n"
                 "  -c, --count=i\t\tSet the minimum count necessary for inclusion (default: 5).\n"
                 "  -C, --confidence=f\tSet the minimum confidence necessary for inclusion "
                 "(default: 0).\n"
                 "  -l, --lift=f\t\tSet the minimum lift necessary for inclusion (default: 0).\n"
                 "  -s, --support=f\tSet the minimum support necessary for inclusion (default: "
                 "0).\n"
                 "  -t, --certainty=f\tSet the minimum certainty necessary for inclusion "
                 "(default: 0).\n"
                 "  -T, --gateway=f\tSet the minimum certainty necessary to classify a rule as a "
                 "gateway rule (default: 1).\n"
                 "  -V, --conviction=f\tSet the maximum conviction neccessary for inclusion "
                 "(default: infinity).\n"
                 "  -v. --verbose\t\tPrint additional information.\n"
                 "\n",
                 argv[0]);
    std::exit(ret);
}

RuleSet readRules(const Configuration& config) {
    std::cerr << config.inputFile << std::endl;
    RuleSet rules;
    rules.readInto(config.inputFile, '\t');
    return rules;
}

Digraph route(const Configuration& config) {
    RuleSet rules = readRules(config);
    std::cerr << "Read in " << rules.size() << " rules." << std::endl;
    rules.filter(config.minCount, config.minSupport, config.minConfidence, config.minLift,
                 config.maxConviction);
    std::cerr << rules.size() << std::endl;
    Digraph graph;
    size_t links = 0;
    for (const auto& entry : rules) {
        const quorvel::rule::Rule& rule = entry.first;
        const RuleSet::Stats& stat = entry.second;
        if (rule.items().size() != 2)
            continue;
        if (stat.certainty < config.minCertainty) {
            std::cerr << "Removing " << rule << " because " << stat.certainty << " < "
                      << config.minCertainty << std::endl;
            continue;
        }
        if (rule.antecedent().empty() || rule.subsequent().empty()) {
            std::cerr << "Removing " << rule << " because one side is empty" << std::endl;
            continue;
        }
        graph.link(rule.antecedent().least(), rule.subsequent().least(), stat);
        ++links;
    }
    std::cerr << "Mapped " << links << " links to graph." << std::endl;
    return graph;
}

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

void run(const Configuration& config) {
    quorvel::refuseSharedFiles({config.inputFile}, {config.outputFile});
    quorvel::OutputSet out;
    std::ostream& dest = out.add(config.outputFile);
    Digraph graph = route(config);
    render(config, graph, dest);
    out.commit();
}

} // namespace

Configuration configure(int argc, char** argv) {
    Configuration config;
    bool help = false;
    CmdLine cmd;
    const OptionSerials serials = addOptions(cmd);

    CmdLine::Result result = cmd.parse(argc, argv);
    bool valid = true;
    for (size_t k = 0; k < result.bindings.size(); ++k) {
        const CmdLine::Binding& b = result.bindings[k];
        const CmdLine::Serial serial = b.source->serial();
        if (serial == serials.certainty || serial == serials.certaintyAlias) {
            config.minCertainty = quorvel::thresholdOption(b, valid);
            continue;
        }
        switch (b.source->shortKey()) {
        case '?':
            help = true;
            break;
        case 'c':
            config.minCount = b.values[0].data.ui;
            break;
        case 'C':
            config.minConfidence = quorvel::thresholdOption(b, valid);
            break;
        case 'l':
            config.minLift = quorvel::thresholdOption(b, valid);
            break;
        case 's':
            config.minSupport = quorvel::thresholdOption(b, valid);
            break;
        case 'V':
            config.maxConviction = quorvel::thresholdOption(b, valid);
            break;
        case 'T':
            config.gatewayCertainty = quorvel::thresholdOption(b, valid);
            break;
        case 'v':
            config.verbose = true;
            break;
        }
    }
    if (help || !result || !valid)
        usage(result && valid ? 0 : 1, argc, argv);
    if (result.excess.size() > 0)
        config.inputFile = result.excess[0];
    if (result.excess.size() > 1)
        config.outputFile = result.excess[1];
    if (config.maxConviction < 0)
        config.maxConviction = std::numeric_limits<double>::infinity();
    return config;
}

int main(int argc, char** argv) {
    return quorvel::runReportingFailures([&] {
        run(configure(argc, argv));
    });
}
