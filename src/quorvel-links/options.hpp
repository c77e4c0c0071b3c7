// The link grapher's command-line options.
#pragma once

#include "brenlo/cmdline.hpp"

namespace quorvel::links {

/// The options that are told apart by serial rather than short key.
struct OptionSerials {
    brenlo::cmdline::CmdLine::Serial certainty = 0;
    brenlo::cmdline::CmdLine::Serial certaintyAlias = 0;
};

/// Registers the grapher's options, in the order of its usage text, plus
/// "--certainty", the name its help text has always shown.
OptionSerials addOptions(brenlo::cmdline::CmdLine& cmd);

} // namespace quorvel::links
