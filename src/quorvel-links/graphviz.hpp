// The picture: Graphviz's dot run on the DOT text, under a time limit, as
// a child whose input and output are pipes (no scratch file to leave).
#pragma once

#include <string>

namespace quorvel::links {

/// The SVG Graphviz's dot draws from `dot` within `seconds` (0: no limit),
/// or "" with the reason in `why` when it cannot be had: dot missing,
/// failing, or still laying out at the limit (then it is stopped).
std::string drawSvg(const std::string& dot, unsigned seconds, std::string& why);

} // namespace quorvel::links
