// Time cells in the forms exports write them, read as whole seconds (or the
// table's own whole numbers), and durations for the window.
#pragma once

#include "quorvel/rule.hpp"

#include <string>
#include <string_view>

namespace quorvel::rule::mining {

enum class TimeFormat {
    NUMBER,  // a whole number from 0 to 4294967295, in the table's own unit
    ISO8601, // 2024-01-05, 2024-01-05T13:45, 2024-01-05 13:45:10.5+01:00
    UNIX,    // seconds since 1970-01-01 UTC, fraction allowed
    UNIX_MS, // milliseconds since 1970-01-01 UTC
};

/// "number", "iso8601", "unix", "unix-ms"; false for any other word.
bool parseTimeFormat(const std::string& word, TimeFormat& out);

/// Whether times of this format are seconds, so a window may carry a unit.
inline bool isTimestamp(TimeFormat f) {
    return f != TimeFormat::NUMBER;
}

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

/// A window: a whole number (in the table's unit), or a whole number with
/// a unit s, m, h, d or w (in seconds). `hasUnit` tells which. False when
/// the text is neither or the seconds pass 4294967295.
bool parseDuration(const std::string& text, unsigned int& seconds, bool& hasUnit);

} // namespace quorvel::rule::mining
