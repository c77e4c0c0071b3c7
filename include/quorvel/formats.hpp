// The rule and item-set tables in the formats analysts load: the
// tab-separated tables (the default), CSV with each side of a rule in a
// column of its own, and JSON Lines with each side an array of items. The
// measures by their snake_case names, for sorting and for field names.
#pragma once

#include "quorvel/rule.hpp"

#include <cstddef>
#include <iosfwd>
#include <string>
#include <vector>

namespace quorvel::rule {

enum class TableFormat { TSV, CSV, JSONL };

/// "tsv", "csv" or "jsonl"; false for any other word.
bool parseTableFormat(const std::string& word, TableFormat& out);

/// A column of the rule table with a number in it.
struct Measure {
    const char* name;   // snake_case: count, a_union_s, support, ...
    const char* header; // in the tab-separated table: Count, A union S, ...
    unsigned columns;   // the group of optional columns (RuleSet::Columns); 0: always there
    bool whole;         // a whole number
    double (*of)(const RuleSet::Stats&);
    void (*set)(RuleSet::Stats&, double);
    bool smallestFirst = false; // sorted ascending (p-values), not largest first
};

/// The eight number columns every table has, in table order.
const std::vector<Measure>& measures();
/// Those of a table of rules carrying `columns` (RuleSet::columns()): the
/// eight, then the optional ones asked for.
std::vector<const Measure*> tableMeasures(unsigned columns);
/// The measure named `name`, optional ones too, or nullptr.
const Measure* findMeasure(const std::string& name);
/// "count, a_union_s, support, ...", for messages.
std::string measureNames();

/// Which rules a table shows, in what order: all in rule order by default;
/// sorted by a measure, largest first (smallest for p-values), ties in rule
/// order; the first `top`
/// only when `top` is not 0.
struct RuleSelection {
    const Measure* sortBy = nullptr;
    size_t top = 0;
};

std::vector<RuleSet::ConstIterator> selectRules(const RuleSet& rules, const RuleSelection& pick);

/// Writes the rule table, then the number of rows written on standard error.
void writeRuleTable(std::ostream& out, const RuleSet& rules, TableFormat format,
                    const RuleSelection& pick = RuleSelection());
/// The header and `rows`, in that order, as writeRuleTable writes them,
/// with the optional `columns` (RuleSet::Columns).
void writeRuleRows(std::ostream& out, const std::vector<RuleSet::ConstIterator>& rows,
                   TableFormat format, unsigned columns = 0);
void writeItemSetTable(std::ostream& out, const ItemSetHistogram& sets, TableFormat format);

/// A JSON string holding `text`: UTF-8 kept, control characters escaped,
/// and each byte that is not part of valid UTF-8 written as the code
/// point of the same number (as Latin-1 would read it).
void writeJsonString(std::ostream& out, const std::string& text);

} // namespace quorvel::rule
