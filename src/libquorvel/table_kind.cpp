#include "quorvel/table_kind.hpp"

#include <cstring>

namespace quorvel::rule {

namespace {

bool startsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

} // namespace

TableKind writtenTableKind(std::string_view line) {
    if (line == "Rule\tCount\tA union S\tSupport\tConfidence\tLift\tConviction\tProbability\t"
                "Certainty" ||
        line == "antecedent,subsequent,count,a_union_s,support,confidence,lift,conviction,"
                "probability,certainty")
        return TableKind::RULES;
    if (line == "Count\tItem Set" || line == "count,item_set")
        return TableKind::ITEM_SETS;
    // JSON Lines have no header: their first record tells.
    if (startsWith(line, "{\"antecedent\":[") && line.find(",\"subsequent\":[") != line.npos &&
        line.back() == '}')
        return TableKind::RULES;
    if (startsWith(line, "{\"count\":") && line.find(",\"items\":[") != line.npos &&
        line.back() == '}')
        return TableKind::ITEM_SETS;
    return TableKind::OTHER;
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

} // namespace quorvel::rule
