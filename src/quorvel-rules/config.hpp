// The miner's settings, filled once from the command line.
#pragma once

#include "columns.hpp"

#include "quorvel/formats.hpp"
#include "quorvel/thresholds.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace quorvel::rule {

struct Configuration : Thresholds {
    std::string inputFile = "-";
    /// Tables (files or folders of part files) read instead of `inputFile`.
    std::vector<std::string> inputs;
    std::string outputFile = "-";
    std::string itemSetFile;
    unsigned int maxOrder = 0;
    unsigned int windowSize = 0;
    /// The window was given with a unit (seconds, minutes, ...).
    bool windowHasUnit = false;
    bool verbose = false;
    bool help = false;
    bool version = false;
    /// Where the subject, time and items are in the input, and how times read.
    mining::TableLayout layout;
    /// How the tables are written, and which rules in what order.
    TableFormat format = TableFormat::TSV;
    RuleSelection selection;
    /// Bytes the miner may hold; 0 for no limit.
    uint64_t memoryBudget = 0;
    /// Threads for reading and counting; 0 for one per processor.
    unsigned int threads = 0;
    /// Bytes level 2's table of pair counts may take (all threads); past
    /// it, pairs are joined as the other levels are. Tests make it 0.
    uint64_t pairTableBytes = uint64_t(64) << 20;

    /// What is read: the inputs, or else the input operand.
    std::vector<std::string> inputPaths() const {
        return inputs.empty() ? std::vector<std::string>{inputFile} : inputs;
    }
    /// How messages name it.
    std::string inputName() const {
        std::string name;
        for (const std::string& path : inputPaths())
            name += (name.empty() ? "" : ", ") + path;
        return name;
    }
};

} // namespace quorvel::rule
