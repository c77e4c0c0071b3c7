// The rule table in the formats the miner writes besides TSV, read back:
// CSV (sides as item-set texts) and JSON Lines (sides as arrays).
#pragma once

#include "quorvel/rule.hpp"
#include "table_rows.hpp"

#include <string>

namespace quorvel::rule {

/// The rule of a CSV row: antecedent, subsequent and the eight measures in
/// the order the miner writes them.
void readCsvRule(TableRows& row, Rule& rule, RuleSet::Stats& stats);

/// The rule of one JSON Lines record; raises brenlo::IOException (without
/// a place, which the caller adds) when the line is not one.
void readJsonRule(const std::string& line, Rule& rule, RuleSet::Stats& stats);

} // namespace quorvel::rule
