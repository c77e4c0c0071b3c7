// The link grapher's settings, filled once from the command line.
#pragma once

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
};

} // namespace quorvel::links
