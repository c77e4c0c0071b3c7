#include "quorvel/table_kind.hpp"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <vector>

namespace quorvel::rule {

namespace {

bool startsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

std::string_view trimmed(std::string_view s) {
    const size_t from = s.find_first_not_of(" \t\r");
    if (from == s.npos)
        return {};
    return s.substr(from, s.find_last_not_of(" \t\r") - from + 1);
}

// A cell without the blanks and the quotes around it.
std::string_view unquoted(std::string_view cell) {
    cell = trimmed(cell);
    if (cell.size() >= 2 && cell.front() == '"' && cell.back() == '"')
        cell = cell.substr(1, cell.size() - 2);
    return cell;
}

// The cells of a line split at `delim`, as they stand.
std::vector<std::string_view> split(std::string_view line, char delim) {
    std::vector<std::string_view> cells;
    for (size_t from = 0;;) {
        const size_t at = line.find(delim, from);
        cells.push_back(line.substr(from, at == line.npos ? line.npos : at - from));
        if (at == line.npos)
            return cells;
        from = at + 1;
    }
}

// Whether a header's cells are `names`: blanks and quotes around a cell,
// and empty cells at the end, as a spreadsheet or an editor may leave them.
bool headerIs(std::string_view line, char delim, std::initializer_list<std::string_view> names) {
    std::vector<std::string_view> cells = split(line, delim);
    for (std::string_view& cell : cells)
        cell = unquoted(cell);
    while (!cells.empty() && cells.back().empty())
        cells.pop_back();
    return std::equal(cells.begin(), cells.end(), names.begin(), names.end());
}

// The same for the rule tables, whose optional columns may follow.
bool ruleHeaderIs(std::string_view line, char delim,
                  std::initializer_list<std::string_view> names) {
    std::vector<std::string_view> cells = split(line, delim);
    if (cells.size() < names.size())
        return false;
    for (std::string_view& cell : cells)
        cell = unquoted(cell);
    return std::equal(names.begin(), names.end(), cells.begin());
}

// A measure as the tables write it: a number, "inf" or "-inf".
bool isMeasure(std::string_view cell) {
    cell = trimmed(cell);
    if (cell.empty() || cell.size() > 40)
        return false;
    const std::string text(cell);
    char* end = nullptr;
    std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size();
}

bool isWhole(std::string_view cell) {
    cell = trimmed(cell);
    return !cell.empty() && cell.find_first_not_of("0123456789") == cell.npos;
}

bool isBraced(std::string_view cell) {
    cell = unquoted(cell);
    return cell.size() >= 2 && cell.front() == '{' && cell.back() == '}';
}

// Whether cells from `from` on are the eight measures of a rule row.
bool measuresFrom(const std::vector<std::string_view>& cells, size_t from) {
    if (cells.size() != from + 8)
        return false;
    for (size_t k = from; k < cells.size(); ++k)
        if (!isMeasure(cells[k]))
            return false;
    return true;
}

} // namespace

TableKind writtenRowKind(std::string_view line) {
    const std::vector<std::string_view> tabs = split(line, '\t');
    if (tabs.size() == 9 && tabs[0].find(" => ") != tabs[0].npos && measuresFrom(tabs, 1))
        return TableKind::RULES;
    if (tabs.size() == 2 && isWhole(tabs[0]) && isBraced(tabs[1]))
        return TableKind::ITEM_SETS;
    // CSV: two braced sides (their commas quoted), then the eight measures.
    const std::vector<std::string_view> commas = split(line, ',');
    if (commas.size() >= 10 && (startsWith(line, "{") || startsWith(line, "\"{")) &&
        line.find("},") != line.npos &&
        measuresFrom(std::vector<std::string_view>(commas.end() - 8, commas.end()), 0))
        return TableKind::RULES;
    const size_t comma = line.find(',');
    if (comma != line.npos && isWhole(line.substr(0, comma)) && isBraced(line.substr(comma + 1)))
        return TableKind::ITEM_SETS;
    return TableKind::OTHER;
}

TableKind writtenTableKind(std::string_view line) {
    if (ruleHeaderIs(line, '\t',
                     {"Rule", "Count", "A union S", "Support", "Confidence", "Lift", "Conviction",
                      "Probability", "Certainty"}) ||
        ruleHeaderIs(line, ',',
                     {"antecedent", "subsequent", "count", "a_union_s", "support", "confidence",
                      "lift", "conviction", "probability", "certainty"}))
        return TableKind::RULES;
    if (headerIs(line, '\t', {"Count", "Item Set"}) || headerIs(line, ',', {"count", "item_set"}))
        return TableKind::ITEM_SETS;
    // JSON Lines have no header: their first record tells.
    const std::string_view record = trimmed(line);
    if (startsWith(record, "{\"antecedent\":[") &&
        record.find(",\"subsequent\":[") != record.npos && record.back() == '}')
        return TableKind::RULES;
    if (startsWith(record, "{\"count\":") && record.find(",\"items\":[") != record.npos &&
        record.back() == '}')
        return TableKind::ITEM_SETS;
    // A table whose header was dropped: its first row tells.
    return writtenRowKind(line);
}

const char* tableKindName(TableKind kind) {
    return kind == TableKind::RULES ? "rule table" : "item-set table";
}

std::string wrongTableMessage(TableKind found, const char* expected) {
    return std::string("This is ") + (found == TableKind::RULES ? "a " : "an ") +
           tableKindName(found) + ", not " + expected + ".";
}

bool looksBinary(std::string_view start) {
    start = start.substr(0, BINARY_SNIFF_BYTES);
    for (char c : start) {
        if (c == '\n' || c == '\r')
            return false;
        if (c == '\0')
            return true;
    }
    return false;
}

const char* const NOT_TEXT_MESSAGE = "This is not a text table: its first line holds a NUL byte.";

std::string notTextMessage(std::string_view start) {
    const auto byte = [&](size_t k) { return k < start.size() ? uint8_t(start[k]) : 0xFFu; };
    const bool marked =
        (byte(0) == 0xFF && byte(1) == 0xFE) || (byte(0) == 0xFE && byte(1) == 0xFF);
    // ASCII text in UTF-16 without a mark: a NUL beside every character.
    const bool little = byte(0) && !byte(1) && byte(2) && !byte(3);
    const bool big = !byte(0) && byte(1) && !byte(2) && byte(3);
    if (marked || little || big)
        return "This is UTF-16 text, which is not read: save it as UTF-8, or convert it with "
               "\"iconv -f UTF-16 -t UTF-8 FILE > FILE.utf8\".";
    return NOT_TEXT_MESSAGE;
}

} // namespace quorvel::rule
