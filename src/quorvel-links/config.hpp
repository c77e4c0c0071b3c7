// The link grapher's settings, filled once from the command line.
#pragma once

#include <limits>
#include <string>

namespace quorvel::links {

struct Configuration {
    std::string inputFile = "-";
    std::string outputFile = "-";
    unsigned int minCount = 5;
    double minSupport = 0;
    double minConfidence = 0;
    double minLift = 0;
    double maxConviction = std::numeric_limits<double>::infinity();
    double minCertainty = 0;
    unsigned int maxOrder = 0;
    double gatewayCertainty = 1;
    bool verbose = false;
};

} // namespace quorvel::links
