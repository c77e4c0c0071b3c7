// Random logs with items that break naive exports, written as a CSV export
// (named columns, timestamps) and as the plain table of the same events.
#pragma once

#include "test_support.hpp"

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <random>
#include <string>
#include <vector>

namespace exportlog {

using testsupport::run;

// Items that break naive exports: separators, quotes, line ends, non-ASCII,
// and texts that the rule table itself must quote.
inline const std::vector<std::string> ITEMS = {
    "scan",      "x-ray",     "a,b",         "say \"hi\"",
    "tab\there", "line\nend", "caf\xc3\xa9", "\xe6\x97\xa5\xe6\x9c\xac",
    "{brace",    "=> arrow",  " padded ",    "cr\rhere"};

struct Event {
    int subject;
    uint32_t day;
    std::string item;
};

inline std::vector<Event> randomLog(std::mt19937& rng) {
    std::vector<Event> log;
    const int subjects = 8 + static_cast<int>(rng() % 30);
    for (int s = 0; s < subjects; ++s) {
        const int events = 1 + static_cast<int>(rng() % 8);
        for (int e = 0; e < events; ++e)
            log.push_back({s, static_cast<uint32_t>(rng() % 40), ITEMS[rng() % ITEMS.size()]});
    }
    std::shuffle(log.begin(), log.end(), rng); // exports are not sorted
    return log;
}

inline std::string quotedWhen(const std::string& cell, const char* specials) {
    if (cell.find_first_of(specials) == std::string::npos && (cell.empty() || cell[0] != '"'))
        return cell;
    std::string q = "\"";
    for (char c : cell)
        q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
}

// Seconds of a day's event: every event at 09:30 UTC.
inline uint64_t secondsOf(uint32_t day) {
    return 1704067200ull + day * 86400ull + 9 * 3600 + 30 * 60;
}

// The same instant as `format` writes it, in one of several zones.
inline std::string timeCell(uint32_t day, const std::string& format, std::mt19937& rng) {
    const uint64_t t = secondsOf(day);
    if (format == "unix")
        return std::to_string(t) + (rng() % 2 ? ".25" : "");
    if (format == "unix-ms")
        return std::to_string(t * 1000 + rng() % 1000);
    static const int ZONES[] = {0, 60, -300, 330, 540};
    const int zone = ZONES[rng() % 5];
    time_t local = static_cast<time_t>(t) + zone * 60;
    std::tm tm{};
    gmtime_r(&local, &tm);
    char text[48];
    std::strftime(text, sizeof text, rng() % 2 ? "%Y-%m-%dT%H:%M:%S" : "%Y-%m-%d %H:%M", &tm);
    std::string cell = text;
    if (zone == 0)
        return cell + (rng() % 2 ? "Z" : "");
    char offset[16];
    std::snprintf(offset, sizeof offset, "%c%02d:%02d", zone < 0 ? '-' : '+', std::abs(zone) / 60,
                  std::abs(zone) % 60);
    return cell + offset;
}

// An export: a header, columns the miner must pass over, one row per event.
inline std::string csvExport(const std::vector<Event>& log, const std::string& format,
                             std::mt19937& rng) {
    const char* eol = rng() % 2 ? "\r\n" : "\n";
    std::string out = std::string("event_id,activity,case id,recorded at,resource") + eol;
    int id = 0;
    for (const Event& e : log)
        out += "E" + std::to_string(++id) + "," + quotedWhen(e.item, ",\"\r\n") + ",patient " +
               std::to_string(e.subject) + "," + timeCell(e.day, format, rng) + ",\"Dr. X, MD\"" +
               eol;
    return out;
}

// The same events as the tab-separated table of whole seconds.
inline std::string tsvTable(const std::vector<Event>& log) {
    std::string out = "subject\ttime\titem\n";
    for (const Event& e : log)
        out += "patient " + std::to_string(e.subject) + "\t" + std::to_string(secondsOf(e.day)) +
               "\t" + quotedWhen(e.item, "\t\r\n") + "\n";
    return out;
}

inline bool havePython() {
    return run("/bin/sh", {"-c", "command -v python3"}).status == 0;
}

} // namespace exportlog
