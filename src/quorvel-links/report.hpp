// The report: one HTML file to send to someone, with nothing fetched from
// the network. It holds the run's parameters, a key saying what the picture
// claims, the picture itself (SVG, when Graphviz can draw it) and the rules
// as a table that sorts by any measure and filters by item text.
#pragma once

#include "config.hpp"

#include "quorvel/rule.hpp"

#include <ostream>
#include <string>

namespace quorvel::links {

/// The page for `rules` (those that pass the thresholds are listed) and
/// the picture `svg` ("" leaves it out, saying `why`).
void writeReport(std::ostream& out, const Configuration& config,
                 const quorvel::rule::RuleSet& rules, const std::string& svg,
                 const std::string& why);

} // namespace quorvel::links
