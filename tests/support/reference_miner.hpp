// A plain, slow miner that the fast one is checked against.
#pragma once

#include "mine_internal.hpp"

namespace quorvel::reference {

struct MiningResultData {
    quorvel::rule::RuleSet rules;
    quorvel::rule::ItemSetHistogram itemSets;
};

/// Mines as the product does, with the same messages on standard error.
MiningResultData mine(const quorvel::rule::Configuration& config,
                      const quorvel::rule::TransactionSet& txns);

} // namespace quorvel::reference
