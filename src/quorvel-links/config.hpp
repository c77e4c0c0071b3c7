// The link grapher's settings, filled once from the command line.
#pragma once

#include "quorvel/formats.hpp"
#include "quorvel/thresholds.hpp"

#include <string>

namespace quorvel::links {

struct Configuration : quorvel::rule::Thresholds {
    std::string inputFile = "-";
    std::string outputFile = "-";
    double minCertainty = 0;
    unsigned int maxOrder = 0;
    double gatewayCertainty = 1;
    bool verbose = false;
    bool help = false;
    bool version = false;
    /// Graphviz's edge routing, written into the graph's header; "" until
    /// chosen for the graph (see defaultSplines).
    std::string splines;
    /// Keep only the `top` strongest links by `strongestBy`; 0 keeps all.
    size_t top = 0;
    const quorvel::rule::Measure* strongestBy = quorvel::rule::findMeasure("lift");
    /// Each edge labelled with its confidence and lift.
    bool labels = false;
    /// A cluster explaining pen width and colour.
    bool legend = false;
    /// Gateway colours spread by the rank of their certainty, not its value.
    bool shadeByRank = false;
    /// Where the HTML report goes; "" for none.
    std::string htmlFile;
    /// How long Graphviz may lay out the report's picture; 0 for no limit.
    unsigned layoutSeconds = 120;
};

} // namespace quorvel::links
