// What the table readers and writers share: cells quoted so they read
// back, strict number cells, the rule table's column names.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <limits>
#include <string>

namespace quorvel::rule {

extern const char* const RULE_COLUMNS[9];

/// A blank as item texts and cells see it.
bool isBlank(char c);

/// `text` between double quotes, inner quotes doubled.
void writeQuoted(std::ostream& out, const std::string& text);

/// A table cell, quoted as a whole only when it would otherwise break the row.
void writeCell(std::ostream& out, const std::string& text);

/// Whether every character is a decimal digit (and there is one).
bool allDigits(const std::string& s);

// Whole unsigned decimal numbers only; false when the text is anything else
// or does not fit.
template <class T> inline bool parseWholeUnsigned(const std::string& s, T& out) {
    if (!allDigits(s))
        return false;
    T value = 0;
    for (char c : s) {
        T digit = static_cast<T>(c - '0');
        if (value > (std::numeric_limits<T>::max() - digit) / 10)
            return false;
        value = static_cast<T>(value * 10 + digit);
    }
    out = value;
    return true;
}

/// A number cell: decimal notation, or inf, infinity or nan; false for any
/// other text.
bool parseWholeReal(const std::string& s, double& out);

} // namespace quorvel::rule
