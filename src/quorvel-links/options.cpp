#include "options.hpp"

namespace quorvel::links {

namespace {

OptionTable<Configuration> makeTable() {
    using C = Configuration;
    const ThresholdRows<C> t = thresholdRows<C>(0);
    const char* certainty = "Set the minimum certainty necessary for inclusion.";
    return {
        helpRow<C>(),
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
