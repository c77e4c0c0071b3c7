// Time cells in the forms exports write them, read as whole seconds (or the
// table's own whole numbers).
#pragma once

#include "quorvel/layout.hpp"
#include "quorvel/rule.hpp"

#include <string>
#include <string_view>

namespace quorvel::rule {

/// Reads one time cell. Timestamps become seconds since 1970-01-01 UTC,
/// fractions of a second dropped. False, with the reason as a whole
/// sentence naming the cell, when the cell is malformed or out of range.
bool parseTimeCell(std::string_view cell, TimeFormat format, History::Time& out, std::string& why);

/// The fast form for NUMBER: strictly a whole number from 0 to 4294967295.
inline bool parseWholeTime(std::string_view s, History::Time& out) {
    if (s.empty())
        return false;
    // Leading zeros are digits like any other: "0000000000012" is 12.
    uint64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
        if (v > 0xFFFFFFFFull)
            return false;
    }
    out = static_cast<History::Time>(v);
    return true;
}

} // namespace quorvel::rule
