#include "times.hpp"

#include <cstdint>

namespace quorvel::rule {

namespace {

const uint64_t LAST_SECOND = 0xFFFFFFFFull; // 2106-02-07T06:28:15Z

// Days from 1970-01-01 to y-m-d in the proleptic Gregorian calendar.
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

unsigned daysInMonth(int64_t y, unsigned m) {
    static const unsigned DAYS[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return m == 2 && leap ? 29 : DAYS[m - 1];
}

// Reads exactly `n` digits at `p`.
bool digits(std::string_view s, size_t& p, size_t n, unsigned& out) {
    if (p + n > s.size())
        return false;
    out = 0;
    for (size_t k = 0; k < n; ++k) {
        const char c = s[p + k];
        if (c < '0' || c > '9')
            return false;
        out = out * 10 + static_cast<unsigned>(c - '0');
    }
    p += n;
    return true;
}

// Seconds east of UTC from "Z", "+hh:mm", "+hhmm" or "+hh"; the whole rest.
bool offset(std::string_view s, size_t p, int64_t& seconds) {
    seconds = 0;
    if (p == s.size())
        return true; // no zone: taken as UTC
    if ((s[p] == 'Z' || s[p] == 'z') && p + 1 == s.size())
        return true;
    if (s[p] != '+' && s[p] != '-')
        return false;
    const int sign = s[p++] == '-' ? -1 : 1;
    unsigned hh = 0, mm = 0;
    if (!digits(s, p, 2, hh) || hh > 23)
        return false;
    if (p < s.size() && s[p] == ':')
        ++p;
    if (p < s.size() && (!digits(s, p, 2, mm) || mm > 59))
        return false;
    seconds = sign * int64_t(hh * 3600 + mm * 60);
    return p == s.size();
}

bool iso8601(std::string_view s, int64_t& seconds) {
    size_t p = 0;
    unsigned y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0;
    if (!digits(s, p, 4, y) || p >= s.size() || s[p++] != '-' || !digits(s, p, 2, mo) ||
        p >= s.size() || s[p++] != '-' || !digits(s, p, 2, d))
        return false;
    if (mo < 1 || mo > 12 || d < 1 || d > daysInMonth(y, mo))
        return false;
    int64_t zone = 0;
    if (p < s.size() && (s[p] == 'T' || s[p] == 't' || s[p] == ' ')) {
        ++p;
        if (!digits(s, p, 2, h) || h > 23 || p >= s.size() || s[p++] != ':' ||
            !digits(s, p, 2, mi) || mi > 59)
            return false;
        if (p < s.size() && s[p] == ':') {
            ++p;
            // 60 is a leap second, as ISO 8601 allows.
            if (!digits(s, p, 2, sec) || sec > 60)
                return false;
            if (p < s.size() && (s[p] == '.' || s[p] == ',')) {
                const size_t first = ++p;
                while (p < s.size() && s[p] >= '0' && s[p] <= '9')
                    ++p;
                if (p == first)
                    return false;
            }
        }
        if (!offset(s, p, zone))
            return false;
    } else if (p != s.size()) {
        return false;
    }
    seconds = daysFromCivil(y, mo, d) * 86400 + h * 3600 + mi * 60 + sec - zone;
    return true;
}

// A whole number (far past any time's range is refused as it grows), then,
// when `fraction`, an optional fraction that is dropped.
bool epoch(std::string_view s, bool fraction, int64_t& value) {
    size_t p = 0;
    value = 0;
    while (p < s.size() && s[p] >= '0' && s[p] <= '9') {
        value = value * 10 + (s[p++] - '0');
        if (value > 100000000000000000ll)
            return false;
    }
    if (p == 0)
        return false;
    if (fraction && p < s.size() && s[p] == '.') {
        const size_t first = ++p;
        while (p < s.size() && s[p] >= '0' && s[p] <= '9')
            ++p;
        if (p == first)
            return false;
    }
    return p == s.size();
}

std::string quoted(std::string_view cell) {
    // As printf quotes it: up to a NUL byte.
    return "\"" + std::string(cell.substr(0, cell.find('\0'))) + "\"";
}

} // namespace

bool parseTimeFormat(const std::string& word, TimeFormat& out) {
    static const struct {
        const char* name;
        TimeFormat format;
    } NAMES[] = {{"number", TimeFormat::NUMBER},
                 {"iso8601", TimeFormat::ISO8601},
                 {"unix", TimeFormat::UNIX},
                 {"unix-ms", TimeFormat::UNIX_MS}};
    for (const auto& n : NAMES)
        if (word == n.name) {
            out = n.format;
            return true;
        }
    return false;
}

bool parseTimeCell(std::string_view cell, TimeFormat format, History::Time& out, std::string& why) {
    int64_t seconds = 0;
    switch (format) {
    case TimeFormat::NUMBER:
        if (parseWholeTime(cell, out))
            return true;
        why = "Invalid time " + quoted(cell) + ": a time is a whole number from 0 to 4294967295.";
        return false;
    case TimeFormat::ISO8601:
        if (iso8601(cell, seconds))
            break;
        why = "Invalid time " + quoted(cell) +
              ": a time is an ISO 8601 date or date-time, such as 2024-01-05, "
              "2024-01-05T13:45:00Z or 2024-01-05 13:45+01:00.";
        return false;
    case TimeFormat::UNIX:
        if (epoch(cell, true, seconds))
            break;
        why = "Invalid time " + quoted(cell) +
              ": a time is a whole number of seconds since 1970-01-01 UTC.";
        return false;
    case TimeFormat::UNIX_MS:
        if (epoch(cell, false, seconds)) {
            seconds /= 1000;
            break;
        }
        why = "Invalid time " + quoted(cell) +
              ": a time is a whole number of milliseconds since 1970-01-01 UTC.";
        return false;
    }
    if (seconds < 0 || uint64_t(seconds) > LAST_SECOND) {
        why = "Time " + quoted(cell) +
              " is out of range: times run from 1970-01-01T00:00:00Z to 2106-02-07T06:28:15Z.";
        return false;
    }
    out = static_cast<History::Time>(seconds);
    return true;
}

bool parseDuration(const std::string& text, unsigned int& seconds, bool& hasUnit) {
    static const struct {
        char unit;
        uint64_t seconds;
    } UNITS[] = {{'s', 1}, {'m', 60}, {'h', 3600}, {'d', 86400}, {'w', 604800}};
    size_t p = 0;
    uint64_t value = 0;
    while (p < text.size() && text[p] >= '0' && text[p] <= '9' && p < 12)
        value = value * 10 + static_cast<uint64_t>(text[p++] - '0');
    if (p == 0 || text.size() - p > 1 || (p < text.size() && text[p] >= '0' && text[p] <= '9'))
        return false;
    hasUnit = p < text.size();
    uint64_t scale = hasUnit ? 0 : 1;
    for (const auto& u : UNITS)
        if (hasUnit && text[p] == u.unit)
            scale = u.seconds;
    if (scale == 0 || value * scale > LAST_SECOND)
        return false;
    seconds = static_cast<unsigned int>(value * scale);
    return true;
}

} // namespace quorvel::rule
