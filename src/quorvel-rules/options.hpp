// The miner's command line: its table of options, one row each.
#pragma once

#include "config.hpp"
#include "quorvel/options.hpp"

namespace quorvel::rule {

/// The miner's options, in the order of its usage text.
const OptionTable<Configuration>& optionTable();

/// The settings of a command line; help and mistakes end the process.
Configuration configure(int argc, char** argv);

/// Exits with status 1, saying why, when one option asks for what another
/// rules out (basket rules with a window, a sort by a column not asked for).
void refuseConflicts(const Configuration& config);

} // namespace quorvel::rule
