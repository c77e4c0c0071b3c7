// A plain, slow miner that the fast one is checked against.
#pragma once

#include "apriori.hpp"

#include <iostream>

namespace quorvel::reference {

struct MiningResultData {
    quorvel::rule::RuleSet rules;
    quorvel::rule::ItemSetHistogram itemSets;
};

/// Mines as the product does, with the same messages on `progress`.
MiningResultData mine(const quorvel::rule::MiningParams& config,
                      const quorvel::rule::TransactionSet& txns,
                      std::ostream& progress = std::cerr);

} // namespace quorvel::reference
