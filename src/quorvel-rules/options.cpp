#include "options.hpp"

#include "budget.hpp"
#include "ingest.hpp"

#include <cstdio>

namespace quorvel::rule {

using brenlo::cmdline::CmdLine;
using brenlo::cmdline::Domain;

namespace {

OptionRow<Configuration> memoryRow() {
    return {'M',
            "memory",
            Domain::STRING,
            "Set the memory budget.",
            "  -M, --memory=SIZE\tSet the memory budget, e.g. 512M or 8G (default: three quarters "
            "of physical memory).\n",
            [](Configuration& c, const CmdLine::Binding& b) {
                if (parseMemorySize(b.values[0].raw, c.memoryBudget))
                    return true;
                std::fprintf(stderr, "Option \"%s\" needs a size such as 512M or 8G, not \"%s\".\n",
                             optionName(*b.source).c_str(), b.values[0].raw.c_str());
                return false;
            }};
}

OptionTable<Configuration> makeTable() {
    using C = Configuration;
    // Mining needs every frequent set held by at least one subject.
    const ThresholdRows<C> t = thresholdRows<C>(1);
    return {
        helpRow<C>(),
        t.count,
        t.confidence,
        wholeRow<C>('j', "threads", "Set the number of threads.",
                    "  -j, --threads=i\tSet the number of threads (default: one per processor).\n",
                    &C::threads),
        t.lift,
        memoryRow(),
        wholeRow<C>('o', "order", "Set the maximum rule order to mine.",
                    "  -o, --order=i\t\tSet the maximum rule order to mine (default: 0).\n",
                    &C::maxOrder),
        t.support,
        t.conviction,
        verboseRow<C>("  -v, --verbose\t\tPrint additional information.\n"),
        wholeRow<C>('w', "window", "Set the window size",
                    "  -w, --window\t\tSet the size of the window (default: 0)\n", &C::windowSize),
    };
}

} // namespace

const OptionTable<Configuration>& optionTable() {
    static const OptionTable<Configuration> table = makeTable();
    return table;
}

Configuration configure(int argc, char** argv) {
    using C = Configuration;
    Configuration config;
    parseCommandLine(
        config, optionTable(),
        {{"input", &C::inputFile}, {"output", &C::outputFile}, {"item-sets", &C::itemSetFile}},
        argc, argv);
    if (config.memoryBudget == 0)
        config.memoryBudget = defaultMemoryBudget();
    if (config.threads == 0)
        config.threads = mining::availableThreads();
    return config;
}

} // namespace quorvel::rule
