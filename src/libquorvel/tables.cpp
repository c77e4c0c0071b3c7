#include "quorvel/formats.hpp"
#include "quorvel/rule.hpp"
#include "quorvel/thresholds.hpp"

#include "brenlo/exception.hpp"
#include "brenlo/replace.hpp"
#include "brenlo/string.hpp"
#include "cells.hpp"
#include "quorvel/table_kind.hpp"
#include "rule_formats.hpp"
#include "table_rows.hpp"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string_view>

using brenlo::IOException;

namespace quorvel::rule {

namespace {

const char* const CSV_RULE_HEADER = "antecedent,subsequent,count,a_union_s,support,confidence,"
                                    "lift,conviction,probability,certainty";

// The cells of a header line split at `delim`, quotes taken as they are
// (the miner's headers hold none).
std::vector<std::string> splitCells(std::string_view line, char delim) {
    std::vector<std::string> out;
    for (size_t at; (at = line.find(delim)) != line.npos; line.remove_prefix(at + 1))
        out.emplace_back(line.substr(0, at));
    out.emplace_back(line);
    return out;
}

// Whether `line` is the miner's CSV rule header, and its optional columns.
bool isCsvRuleHeader(std::string_view line, unsigned& columns) {
    const std::string_view base = CSV_RULE_HEADER;
    if (line.substr(0, base.size()) != base)
        return false;
    line.remove_prefix(base.size());
    if (line.empty())
        return optionalColumnsNamed({}, false, columns);
    return line.front() == ',' &&
           optionalColumnsNamed(splitCells(line.substr(1), ','), false, columns);
}

// The optional columns the miner's TSV header names after the nine; none
// when what follows them is no group of them.
unsigned tsvOptionalColumns(const std::string& header, char delim) {
    std::vector<std::string> names = splitCells(header, delim);
    names.erase(names.begin(), names.begin() + std::min<size_t>(names.size(), 9));
    unsigned columns = 0;
    return optionalColumnsNamed(names, true, columns) ? columns : 0;
}

// The cells of `optional` after a TSV row's nine, into `stats`.
void readOptionalCells(TableRows& row, const std::vector<const Measure*>& optional,
                       RuleSet::Stats& stats) {
    for (size_t k = 0; k < optional.size(); ++k) {
        const Measure& m = *optional[k];
        const int column = static_cast<int>(10 + k);
        if (!row.hasCell())
            throw new IOException(
                brenlo::string::strprintf("\"%s\" at column %d is missing.", m.header, column));
        const std::string cell = row.cell();
        double v = 0;
        if (!parseWholeReal(cell, v) || (m.whole && (v < 0 || v != std::floor(v))))
            throw new IOException(brenlo::string::strprintf(
                "\"%s\" at column %d is not %s: \"%s\".", m.header, column,
                m.whole ? "a whole number" : "a number", cell.c_str()));
        m.set(stats, v);
    }
}

// A transaction table's second cell: a whole number, or a date (2024-01-19...).
bool looksLikeTime(const std::string& cell) {
    size_t digits = 0;
    while (digits < cell.size() && cell[digits] >= '0' && cell[digits] <= '9')
        ++digits;
    return digits > 0 && (digits == cell.size() || (digits == 4 && cell[4] == '-'));
}

} // namespace

size_t ItemSetHistogram::count(const ItemSet& is, size_t otherwise) const {
    auto it = m_data.find(is);
    return it == m_data.end() ? otherwise : it->second;
}

void ItemSetHistogram::readInto(std::istream& src, char delim, const std::string& source) {
    TableRows rows(src, delim, source);
    if (writtenTableKind(rows.header()) == TableKind::RULES)
        rows.refuseTable(wrongTableMessage(TableKind::RULES, "an item-set table"));
    m_data.clear();
    rows.forEachRow([&](TableRows& row) {
        std::string countText = row.cell();
        if (countText.empty())
            return;
        size_t count = 0;
        if (!parseWholeUnsigned(countText, count))
            throw new IOException("\"Count\" at column 1 is not a whole number: \"" + countText +
                                  "\".");
        if (!row.hasCell())
            throw new IOException("\"Item Set\" at column 2 is missing.");
        ItemSet is = brenlo::string::parse<ItemSet>(row.cell());
        if (row.hasCell())
            throw new IOException("Excess cells in row.");
        m_data[is] = count;
    });
}

void ItemSetHistogram::readInto(const std::string& path, char delim) {
    readTableFile(*this, path, delim);
}

void ItemSetHistogram::write(std::ostream& dest) const {
    writeItemSetTable(dest, *this, TableFormat::TSV);
}

void ItemSetHistogram::write(const std::string& path) const {
    brenlo::io::replaceFile(path, [this](std::ostream& out) { write(out); });
}

void RuleSet::filter(const Thresholds& limits) {
    for (auto it = m_data.begin(); it != m_data.end();) {
        auto current = it++;
        const Stats& s = current->second;
        if (!limits.admits(s)) {
            m_data.erase(current);
            continue;
        }
        std::cerr << current->first << ": " << s.support << ',' << limits.minSupport << ','
                  << s.confidence << ',' << s.lift << std::endl;
    }
}

void RuleSet::filter(size_t minCount, double minSupport, double minConfidence, double minLift,
                     double maxConviction) {
    Thresholds limits;
    limits.minCount = minCount;
    limits.minSupport = minSupport;
    limits.minConfidence = minConfidence;
    limits.minLift = minLift;
    limits.maxConviction = maxConviction;
    filter(limits);
}

void RuleSet::readInto(std::istream& src, char delim, const std::string& source) {
    // The format is told by the first line, so the table is read whole.
    const std::string text = decodedText(src, source);
    std::string_view firstLine(text);
    firstLine = firstLine.substr(0, firstLine.find_first_of("\r\n"));
    if (firstLine.substr(0, BYTE_ORDER_MARK.size()) == BYTE_ORDER_MARK)
        firstLine.remove_prefix(BYTE_ORDER_MARK.size());
    m_data.clear();
    m_readTsv = false;
    m_columns = 0;
    if (firstLine.substr(0, 15) == "{\"antecedent\":[") {
        readJsonLines(text, source);
        return;
    }
    const bool csv = isCsvRuleHeader(firstLine, m_columns);
    m_readTsv = !csv;
    std::istringstream in(text);
    TableRows rows(in, csv ? ',' : delim, source);
    const TableKind kind = writtenTableKind(rows.header());
    if (kind == TableKind::ITEM_SETS)
        rows.refuseTable(wrongTableMessage(kind, "a rule table"));
    if (!csv && kind == TableKind::RULES)
        m_columns = tsvOptionalColumns(rows.header(), delim);
    std::vector<const Measure*> optional = tableMeasures(m_columns);
    optional.erase(optional.begin(), optional.begin() + measures().size());
    bool first = kind != TableKind::RULES;
    rows.forEachRow([&](TableRows& row) {
        if (csv) {
            Rule rule;
            Stats stats;
            readCsvRule(row, rule, stats, m_columns);
            m_data[rule] = stats;
            return;
        }
        // A row of empty cells says nothing; the first non-empty one is the rule.
        std::string ruleText = row.cell();
        while (ruleText.empty() && row.hasCell())
            ruleText = row.cell();
        if (ruleText.empty())
            return;
        // The count cell, read ahead when the first row may be a log's.
        bool haveSecond = false;
        std::string second;
        if (first && ruleText.find("=>") == std::string::npos && row.hasCell()) {
            second = row.cell();
            haveSecond = true;
            if (looksLikeTime(second))
                rows.refuseTable("This is a transaction table, not a rule table.");
        }
        first = false;
        Rule rule = brenlo::string::parse<Rule>(ruleText);
        Stats stats;
        size_t* counts[] = {&stats.count, &stats.icount};
        double* reals[] = {&stats.support,    &stats.confidence,  &stats.lift,
                           &stats.conviction, &stats.probability, &stats.certainty};
        for (int column = 2; column <= 9; ++column) {
            const char* name = RULE_COLUMNS[column - 1];
            const bool ahead = column == 2 && haveSecond;
            if (!ahead && !row.hasCell())
                throw new IOException(
                    brenlo::string::strprintf("\"%s\" at column %d is missing.", name, column));
            std::string cell = ahead ? second : row.cell();
            bool ok = column <= 3 ? parseWholeUnsigned(cell, *counts[column - 2])
                                  : parseWholeReal(cell, *reals[column - 4]);
            if (!ok)
                throw new IOException(brenlo::string::strprintf(
                    "\"%s\" at column %d is not %s: \"%s\".", name, column,
                    column <= 3 ? "a whole number" : "a number", cell.c_str()));
        }
        readOptionalCells(row, optional, stats);
        if (row.hasCell())
            throw new IOException("Excess cells in row.");
        m_data[rule] = stats;
    });
}

void RuleSet::readJsonLines(const std::string& text, const std::string& source) {
    size_t line = 0;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        std::string record = text.substr(at, end - at);
        ++line;
        at = end + 1;
        if (line == 1 && record.compare(0, BYTE_ORDER_MARK.size(), BYTE_ORDER_MARK) == 0)
            record.erase(0, BYTE_ORDER_MARK.size());
        if (record.find_first_not_of(" \t\r") == std::string::npos)
            continue;
        Rule rule;
        Stats stats;
        try {
            unsigned columns = 0;
            readJsonRule(record, rule, stats, columns);
            // Every record has the first one's optional columns.
            if (m_data.empty())
                m_columns = columns;
            else if (columns != m_columns)
                throw IOException("Not a rule record (its fields are not the first record's).");
        } catch (const IOException& e) {
            throw IOException((source.empty() ? "line " + std::to_string(line)
                                              : source + ":" + std::to_string(line)) +
                              ": " + e.why());
        }
        m_data[rule] = stats;
    }
}

void RuleSet::readInto(const std::string& path, char delim) {
    readTableFile(*this, path, delim);
}

void RuleSet::write(std::ostream& dest) const {
    writeRuleTable(dest, *this, TableFormat::TSV);
}

void RuleSet::write(const std::string& path) const {
    brenlo::io::replaceFile(path, [this](std::ostream& out) { write(out); });
}

} // namespace quorvel::rule
