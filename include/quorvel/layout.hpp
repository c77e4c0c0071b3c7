// Where a transaction table (or an XES log) holds the subject, the time and
// the items of its rows, and how its times read.
#pragma once

#include <string>
#include <vector>

namespace quorvel::rule {

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

/// How the rows of a transaction table are read.
struct TableLayout {
    char delimiter = '\t';
    TimeFormat timeFormat = TimeFormat::NUMBER;
    std::string subject, time;      // header names; "" keeps the position
    std::vector<std::string> items; // header names; none keeps the positions
    /// An XES log rather than a table: the names are then attribute keys.
    bool xes = false;
    /// XES: every event, not only those whose lifecycle is "complete".
    bool allLifecycles = false;
    /// Each item named by its column (or XES key): "resource=Mike".
    bool itemPrefix = false;

    bool named() const { return !subject.empty() || !time.empty() || !items.empty(); }
};

/// A window: a whole number (in the table's unit), or a whole number with
/// a unit s, m, h, d or w (in seconds). `hasUnit` tells which. False when
/// the text is neither or the seconds pass 4294967295.
bool parseDuration(const std::string& text, unsigned int& seconds, bool& hasUnit);

} // namespace quorvel::rule
