// The miner's settings, filled once from the command line.
#pragma once

#include "quorvel/thresholds.hpp"

#include <cstdint>
#include <string>

namespace quorvel::rule {

struct Configuration : Thresholds {
    std::string inputFile = "-";
    std::string outputFile = "-";
    std::string itemSetFile;
    unsigned int maxOrder = 0;
    unsigned int windowSize = 0;
    bool verbose = false;
    bool help = false;
    /// Bytes the miner may hold; 0 for no limit.
    uint64_t memoryBudget = 0;
    /// Threads for reading and counting; 0 for one per processor.
    unsigned int threads = 0;
};

} // namespace quorvel::rule
