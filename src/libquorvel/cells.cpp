#include "cells.hpp"

#include "brenlo/string.hpp"

#include <cctype>
#include <cstdlib>
#include <ostream>

namespace quorvel::rule {

const char* const RULE_COLUMNS[9] = {"Rule", "Count",      "A union S",   "Support",  "Confidence",
                                     "Lift", "Conviction", "Probability", "Certainty"};

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

void writeQuoted(std::ostream& out, const std::string& text) {
    out << '"';
    for (char c : text) {
        if (c == '"')
            out << '"';
        out << c;
    }
    out << '"';
}

// A table cell is quoted as a whole only when it would otherwise break the row.
void writeCell(std::ostream& out, const std::string& text) {
    bool quote = !text.empty() && text[0] == '"';
    for (char c : text)
        if (c == '\t' || c == '\r' || c == '\n')
            quote = true;
    if (quote)
        writeQuoted(out, text);
    else
        out << text;
}

bool allDigits(const std::string& s) {
    if (s.empty())
        return false;
    for (char c : s)
        if (c < '0' || c > '9')
            return false;
    return true;
}

bool parseWholeReal(const std::string& s, double& out) {
    size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        ++i;
    std::string word = s.substr(i);
    const char* w = word.c_str();
    if (brenlo::string::strcmpi(w, "inf") == 0 || brenlo::string::strcmpi(w, "infinity") == 0 ||
        brenlo::string::strcmpi(w, "nan") == 0) {
        size_t pos = 0;
        out = brenlo::string::parse<double>(s.c_str(), pos);
        return true;
    }
    size_t intDigits = 0, fracDigits = 0;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
        ++i;
        ++intDigits;
    }
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
            ++i;
            ++fracDigits;
        }
    }
    if (intDigits + fracDigits == 0)
        return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-'))
            ++i;
        size_t expDigits = 0;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
            ++i;
            ++expDigits;
        }
        if (expDigits == 0)
            return false;
    }
    if (i != s.size())
        return false;
    out = std::strtod(s.c_str(), nullptr);
    return true;
}

} // namespace quorvel::rule
