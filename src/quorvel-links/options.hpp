// The link grapher's command line: its table of options, one row each.
#pragma once

#include "config.hpp"
#include "quorvel/options.hpp"

namespace quorvel::links {

/// The grapher's options, in the order of its usage text, and
/// "--certainty", the name its help text has always shown for -t.
const OptionTable<Configuration>& optionTable();

/// The settings of a command line; help and mistakes end the process.
Configuration configure(int argc, char** argv);

} // namespace quorvel::links
