// The miner's command-line options.
#pragma once

#include "brenlo/cmdline.hpp"

namespace quorvel::rule {

/// Registers the miner's nine options, in the order of its usage text.
void addOptions(brenlo::cmdline::CmdLine& cmd);

} // namespace quorvel::rule
