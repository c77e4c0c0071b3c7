// quorvel-rules: mines a transaction table for sequential association rules.
#include "budget.hpp"
#include "config.hpp"
#include "mine.hpp"
#include "options.hpp"

#include "brenlo/cmdline.hpp"
#include "brenlo/exception.hpp"
#include "brenlo/string.hpp"
#include "quorvel/driver.hpp"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <limits>
#include <vector>

using namespace quorvel::rule;
using brenlo::cmdline::CmdLine;
using brenlo::cmdline::Domain;

namespace {

[[noreturn]] void usage(int ret, int, char** argv) {
    std::fprintf(stderr,
                 "usage: %s [input] [output] [item-sets]\n"
                 "\n"
                 "OPTIONS:\n"
                 "  -?, --help\t\tDisplay this message.\n"
                 "  -c, --count=i\t\tSet the minimum count necessary for inclusion (default: 5).\n"
                 "  -C, --confidence=f\tSet the minimum confidence necessary for inclusion "
                 "(default: 0).\n"
                 "  -l, --lift=f\t\tSet the minimum lift necessary for inclusion (default: 0).\n"
                 "  -M, --memory=SIZE\tSet the memory budget, e.g. 512M or 8G (default: three "
                 "quarters of physical memory).\n"
                 "  -o, --order=i\t\tSet the maximum rule order to mine (default: 0).\n"
                 "  -s, --support=f\tSet the minimum support necessary for inclusion (default: "
                 "0).\n"
                 "  -V, --conviction=f\tSet the maximum conviction neccessary for inclusion "
                 "(default: infinity).\n"
                 "  -v, --verbose\t\tPrint additional information.\n"
                 "  -w, --window\t\tSet the size of the window (default: 0)\n"
                 "\n",
                 argv[0]);
    std::exit(ret);
}

} // namespace

Configuration configure(int argc, char** argv) {
    Configuration config;
    double maxConviction = -1;
    bool help = false;

    CmdLine cmd;
    addOptions(cmd);

    CmdLine::Result result = cmd.parse(argc, argv);
    bool valid = true;
    for (size_t k = 0; k < result.bindings.size(); ++k) {
        const CmdLine::Binding& b = result.bindings[k];
        switch (b.source->shortKey()) {
        case '?':
            help = true;
            break;
        case 'c':
            config.minCount = b.values[0].data.ui;
            if (config.minCount == 0) {
                // Every candidate would be frequent: the search has no end.
                std::fprintf(stderr, "Option \"-c, --count\" must be at least 1, not 0.\n");
                valid = false;
            }
            break;
        case 'M':
            if (!parseMemorySize(b.values[0].raw, config.memoryBudget)) {
                std::fprintf(stderr,
                             "Option \"-M, --memory\" needs a size such as 512M or 8G, not "
                             "\"%s\".\n",
                             b.values[0].raw.c_str());
                valid = false;
            }
            break;
        case 'o':
            config.maxOrder = b.values[0].data.ui;
            break;
        case 'w':
            config.windowSize = b.values[0].data.ui;
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
            maxConviction = quorvel::thresholdOption(b, valid);
            break;
        case 'v':
            config.verbose = true;
            break;
        }
    }
    if (help || !result || !valid)
        usage(result && valid ? 0 : 1, argc, argv);
    if (config.memoryBudget == 0)
        config.memoryBudget = defaultMemoryBudget();

    if (result.excess.size() > 0)
        config.inputFile = result.excess[0];
    if (result.excess.size() > 1)
        config.outputFile = result.excess[1];
    if (result.excess.size() > 2)
        config.itemSetFile = result.excess[2];
    config.maxConviction =
        maxConviction < 0.0 ? std::numeric_limits<double>::infinity() : maxConviction;
    return config;
}

namespace {

TransactionSet readTxns(const Configuration&, const std::string& path) {
    TransactionSet txns;
    if (path == "-")
        txns.readInto(std::cin, '\t', "standard input");
    else
        txns.readInto(path, '\t');
    std::cerr << "Read " << path << " with " << txns.transactionCount() << " transaction(s) over "
              << txns.size() << " history record(s)." << std::endl;
    return txns;
}

void mine(const Configuration& config) {
    std::vector<std::string> outputs{config.outputFile};
    if (!config.itemSetFile.empty())
        outputs.push_back(config.itemSetFile);
    quorvel::refuseSharedFiles({config.inputFile}, outputs);
    // Every output is opened before the input is read, so a bad path fails
    // now rather than after the mining.
    quorvel::OutputSet out;
    std::ostream& rulesOut = out.add(config.outputFile);
    std::ostream* itemSetsOut = config.itemSetFile.empty() ? nullptr : &out.add(config.itemSetFile);

    TransactionSet txns = readTxns(config, config.inputFile);
    MiningResult result = quorvel::rule::mine(config, txns);
    result.rules().write(rulesOut);
    std::cerr << config.itemSetFile << std::endl;
    if (itemSetsOut)
        result.itemSets().write(*itemSetsOut);
    out.commit();
    // Everything is out. Ending here spares taking millions of tree nodes
    // apart one by one, which on a large log costs more than mining did.
    std::cerr.flush();
    std::_Exit(0);
}

} // namespace

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    return quorvel::runReportingFailures([&] {
        Configuration config = configure(argc, argv);
        capAddressSpace(config.memoryBudget);
        mine(config);
    });
}
