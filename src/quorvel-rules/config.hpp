// The miner's settings, filled once from the command line.
#pragma once

#include <cstdint>
#include <limits>
#include <string>

namespace quorvel::rule {

struct Configuration {
    std::string inputFile = "-";
    std::string outputFile = "-";
    std::string itemSetFile;
    unsigned int minCount = 5;
    double minSupport = 0;
    double minConfidence = 0;
    double minLift = 0;
    double maxConviction = std::numeric_limits<double>::infinity();
    unsigned int maxOrder = 0;
    unsigned int windowSize = 0;
    bool verbose = false;
    /// Bytes the miner may hold; 0 for no limit.
    uint64_t memoryBudget = 0;
};

} // namespace quorvel::rule
