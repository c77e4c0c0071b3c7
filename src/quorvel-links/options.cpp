#include "options.hpp"

namespace quorvel::links {

using brenlo::cmdline::CmdLine;
using brenlo::cmdline::Domain;

OptionSerials addOptions(CmdLine& cmd) {
    cmd.add('?', "help", Domain::ALIAS, "Display this message.", 0, false);
    cmd.add('c', "count", Domain::UINT, "Set the minimum count necessary for inclusion.", 1, false);
    cmd.add('C', "confidence", Domain::FLOAT, "Set the minimum confidence necessary for inclusion.",
            1, false);
    cmd.add('l', "lift", Domain::FLOAT, "Set the minimum lift necessary for inclusion.", 1, false);
    cmd.add('s', "support", Domain::FLOAT, "Set the minimum support necessary for inclusion.", 1,
            false);
    cmd.add('V', "conviction", Domain::FLOAT, "Set the maximum conviction necessary for inclusion.",
            1, false);
    cmd.add('v', "verbose", Domain::ALIAS, "Print additional information.", 0, false);
    OptionSerials serials;
    serials.certainty = cmd.add('t', "minCertainty", Domain::FLOAT,
                                "Set the minimum certainty necessary for inclusion.", 1, false);
    cmd.add('T', "gateway", Domain::FLOAT,
            "Set the minimum certainty necessary to classify a rule as a gateway rule.", 1, false);
    // The help text has always said --certainty; accept it too.
    serials.certaintyAlias =
        cmd.add('\0', "certainty", Domain::FLOAT,
                "Set the minimum certainty necessary for inclusion.", 1, false);
    return serials;
}

} // namespace quorvel::links
