#include "options.hpp"

namespace quorvel::links {

namespace {

OptionTable<Configuration> makeTable() {
    using C = Configuration;
    const ThresholdRows<C> t = thresholdRows<C>(0);
    const char* certainty = "Set the minimum certainty necessary for inclusion.";
    return {
        flagRow<C>('?', "help", "Display this message.", "  -?, --help\t\tDisplay this message.\n",
                   &C::help),
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
        flagRow<C>('v', "verbose", "Print additional information.",
                   "  -v. --verbose\t\tPrint additional information.\n", &C::verbose),
        // The usage text has always said --certainty; accept it too.
        realRow<C>('\0', "certainty", certainty, "", &C::minCertainty),
    };
}

} // namespace

const OptionTable<Configuration>& optionTable() {
    static const OptionTable<Configuration> table = makeTable();
    return table;
}

void addOptions(brenlo::cmdline::CmdLine& cmd) {
    registerOptions(cmd, optionTable());
}

Configuration configure(int argc, char** argv) {
    Configuration config;
    Operands words = parseCommandLine(config, optionTable(), "[input] [output]", argc, argv);
    if (words.size() > 0)
        config.inputFile = words[0];
    if (words.size() > 1)
        config.outputFile = words[1];
    return config;
}

} // namespace quorvel::links
