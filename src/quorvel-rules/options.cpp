#include "options.hpp"

namespace quorvel::rule {

using brenlo::cmdline::Domain;

void addOptions(brenlo::cmdline::CmdLine& cmd) {
    cmd.add('?', "help", Domain::ALIAS, "Display this message.", 0, false);
    cmd.add('c', "count", Domain::UINT, "Set the minimum count necessary for inclusion.", 1, false);
    cmd.add('C', "confidence", Domain::FLOAT, "Set the minimum confidence necessary for inclusion.",
            1, false);
    cmd.add('l', "lift", Domain::FLOAT, "Set the minimum lift necessary for inclusion.", 1, false);
    cmd.add('M', "memory", Domain::STRING, "Set the memory budget.", 1, false);
    cmd.add('o', "order", Domain::UINT, "Set the maximum rule order to mine.", 1, false);
    cmd.add('s', "support", Domain::FLOAT, "Set the minimum support necessary for inclusion.", 1,
            false);
    cmd.add('V', "conviction", Domain::FLOAT, "Set the maximum conviction necessary for inclusion.",
            1, false);
    cmd.add('v', "verbose", Domain::ALIAS, "Print additional information.", 0, false);
    cmd.add('w', "window", Domain::UINT, "Set the window size", 1, false);
}

} // namespace quorvel::rule
