// The rule table in the formats the miner writes besides TSV, read back:
// CSV (sides as item-set texts) and JSON Lines (sides as arrays).
#pragma once

#include "quorvel/rule.hpp"
#include "table_rows.hpp"

#include <string>
#include <vector>

namespace quorvel::rule {

/// The optional columns (RuleSet::Columns) that `names`, the cells after
/// the eight measures, are: whole groups in table order, by their names
/// (`byHeader`: by their tab-separated headers). False when they are not.
bool optionalColumnsNamed(const std::vector<std::string>& names, bool byHeader, unsigned& columns);

/// The rule of a CSV row: antecedent, subsequent and the measures of a
/// table with the optional `columns`, in the order the miner writes them.
void readCsvRule(TableRows& row, Rule& rule, RuleSet::Stats& stats, unsigned columns = 0);

/// The rule of one JSON Lines record, and in `columns` the optional ones it
/// holds; raises brenlo::IOException (without a place, which the caller
/// adds) when the line is not one.
void readJsonRule(const std::string& line, Rule& rule, RuleSet::Stats& stats, unsigned& columns);

} // namespace quorvel::rule
