// The miner's settings, filled once from the command line.
#pragma once

#include "columns.hpp"

#include "quorvel/formats.hpp"
#include "quorvel/mine.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace quorvel::rule {

struct Configuration : MiningParams {
    std::string inputFile = "-";
    /// Tables (files or folders of part files) read instead of `inputFile`.
    std::vector<std::string> inputs;
    std::string outputFile = "-";
    std::string itemSetFile;
    /// The window was given with a unit (seconds, minutes, ...).
    bool windowHasUnit = false;
    /// What --best ranks by, as given ("" when --by was not).
    std::string bestBy;
    bool verbose = false;
    bool help = false;
    bool version = false;
    /// Where the subject, time and items are in the input, and how times read.
    TableLayout layout;
    /// How the tables are written (which rules, in what order: `selection`).
    TableFormat format = TableFormat::TSV;

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
