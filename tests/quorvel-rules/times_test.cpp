// Time cells and windows as exports write them, and columns found by name.
#include "columns.hpp"
#include "times.hpp"

#include "brenlo/exception.hpp"

#include <gtest/gtest.h>

#include <ctime>
#include <random>

using namespace quorvel::rule;
using namespace quorvel::rule::mining;

namespace {

// The seconds of `cell`, or -1 with the reason in `why`.
int64_t seconds(const std::string& cell, TimeFormat format, std::string* why = nullptr) {
    quorvel::rule::History::Time t = 0;
    std::string reason;
    if (!parseTimeCell(cell, format, t, reason)) {
        if (why)
            *why = reason;
        return -1;
    }
    return t;
}

int64_t iso(const std::string& cell) {
    return seconds(cell, TimeFormat::ISO8601);
}

} // namespace

TEST(TimeCells, IsoDatesAndDateTimesInEveryWrittenForm) {
    EXPECT_EQ(iso("2024-01-05"), 1704412800);
    EXPECT_EQ(iso("2024-01-05T13:45"), 1704412800 + 13 * 3600 + 45 * 60);
    EXPECT_EQ(iso("2024-01-05 13:45:10"), 1704412800 + 13 * 3600 + 45 * 60 + 10);
    EXPECT_EQ(iso("2024-01-05t13:45:10.999Z"), 1704412800 + 13 * 3600 + 45 * 60 + 10);
    EXPECT_EQ(iso("2024-01-05T13:45:10,5z"), 1704412800 + 13 * 3600 + 45 * 60 + 10);
    // Offsets east of UTC are earlier in UTC.
    EXPECT_EQ(iso("2024-01-05T13:45:10+01:00"), iso("2024-01-05T12:45:10Z"));
    EXPECT_EQ(iso("2024-01-05T13:45:10-0530"), iso("2024-01-05T19:15:10Z"));
    EXPECT_EQ(iso("2024-01-05T13:45+05"), iso("2024-01-05T08:45Z"));
    EXPECT_EQ(iso("2024-01-01T00:30+01:00"), iso("2023-12-31T23:30:00Z"));
    EXPECT_EQ(iso("2016-12-31T23:59:60Z"), iso("2017-01-01T00:00:00Z"));
    // Leap years.
    EXPECT_GE(iso("2024-02-29"), 0);
    EXPECT_GE(iso("2000-02-29"), 0);
    EXPECT_EQ(iso("2023-02-29"), -1);
    EXPECT_EQ(iso("2100-02-29"), -1);
    EXPECT_EQ(iso("2024-04-31"), -1);
}

TEST(TimeCells, IsoAgreesWithTheCLibraryOnRandomInstants) {
    std::mt19937 rng(7);
    for (int k = 0; k < 20000; ++k) {
        std::tm tm{};
        tm.tm_year = 70 + static_cast<int>(rng() % 136);
        tm.tm_mon = static_cast<int>(rng() % 12);
        tm.tm_mday = 1 + static_cast<int>(rng() % 28);
        tm.tm_hour = static_cast<int>(rng() % 24);
        tm.tm_min = static_cast<int>(rng() % 60);
        tm.tm_sec = static_cast<int>(rng() % 60);
        const int zone = (static_cast<int>(rng() % 27) - 12) * 3600 + (rng() % 2) * 1800;
        const int64_t expected = static_cast<int64_t>(timegm(&tm)) - zone;
        char text[64];
        std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d",
                      tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                      tm.tm_sec, zone < 0 ? '-' : '+', std::abs(zone) / 3600,
                      std::abs(zone) % 3600 / 60);
        const bool inRange = expected >= 0 && expected <= 0xFFFFFFFFll;
        EXPECT_EQ(iso(text), inRange ? expected : -1) << text;
    }
}

TEST(TimeCells, MalformedAndOutOfRangeCellsSayWhich) {
    for (const char* bad :
         {"", "2024-1-05", "2024-01-5", "24-01-05", "2024-01-05T", "2024-01-05T13",
          "2024-01-05T24:00", "2024-01-05T13:60", "2024-01-05T13:45:61", "2024-01-05T13:45:10.",
          "2024-01-05T13:45+1", "2024-01-05T13:45+24:00", "2024-01-05Z", "2024-01-05 ",
          "2024-00-05", "2024-13-05", "2024-01-00", "2024-01-05T13:45:10Zx", "1704412800"}) {
        std::string why;
        EXPECT_EQ(seconds(bad, TimeFormat::ISO8601, &why), -1) << bad;
        EXPECT_EQ(why.rfind("Invalid time \"" + std::string(bad) + "\": a time is an ISO 8601", 0),
                  0u)
            << why;
    }
    std::string why;
    EXPECT_EQ(iso("1970-01-01T00:00:00Z"), 0);
    EXPECT_EQ(iso("2106-02-07T06:28:15Z"), 4294967295ll);
    EXPECT_EQ(seconds("2106-02-07T06:28:16Z", TimeFormat::ISO8601, &why), -1);
    EXPECT_EQ(why, "Time \"2106-02-07T06:28:16Z\" is out of range: times run from "
                   "1970-01-01T00:00:00Z to 2106-02-07T06:28:15Z.");
    EXPECT_EQ(seconds("1970-01-01T00:30+01:00", TimeFormat::ISO8601, &why), -1);
    EXPECT_NE(why.find("out of range"), std::string::npos);
}

TEST(TimeCells, EpochNumbersAndTheTablesOwnNumbers) {
    EXPECT_EQ(seconds("1700000000", TimeFormat::UNIX), 1700000000);
    EXPECT_EQ(seconds("1700000000.75", TimeFormat::UNIX), 1700000000);
    EXPECT_EQ(seconds("1700000000999", TimeFormat::UNIX_MS), 1700000000);
    EXPECT_EQ(seconds("999", TimeFormat::UNIX_MS), 0);
    EXPECT_EQ(seconds("4294967295", TimeFormat::UNIX), 4294967295ll);
    EXPECT_EQ(seconds("4294967295999", TimeFormat::UNIX_MS), 4294967295ll);
    std::string why;
    EXPECT_EQ(seconds("4294967296", TimeFormat::UNIX, &why), -1);
    EXPECT_NE(why.find("out of range"), std::string::npos);
    EXPECT_EQ(seconds("4294967296000", TimeFormat::UNIX_MS), -1);
    EXPECT_EQ(seconds("9999999999999999999999", TimeFormat::UNIX, &why), -1);
    for (const char* bad : {"", "-5", "+5", "1.", ".5", "1e9", "12 ", "0x10"})
        EXPECT_EQ(seconds(bad, TimeFormat::UNIX), -1) << bad;
    EXPECT_EQ(seconds("1.5", TimeFormat::UNIX_MS, &why), -1);
    EXPECT_EQ(why, "Invalid time \"1.5\": a time is a whole number of milliseconds since "
                   "1970-01-01 UTC.");
    // The table's own numbers keep their message; leading zeros are
    // digits like any other, as the table reader has them.
    EXPECT_EQ(seconds("4294967295", TimeFormat::NUMBER), 4294967295ll);
    EXPECT_EQ(seconds("00898410268", TimeFormat::NUMBER), 898410268);
    EXPECT_EQ(seconds("0000000000000004294967295", TimeFormat::NUMBER), 4294967295ll);
    EXPECT_EQ(seconds("0000000000000004294967296", TimeFormat::NUMBER), -1);
    EXPECT_EQ(seconds("00000000000000000000001700000000", TimeFormat::UNIX), 1700000000);
    EXPECT_EQ(seconds("1.5", TimeFormat::NUMBER, &why), -1);
    EXPECT_EQ(why, "Invalid time \"1.5\": a time is a whole number from 0 to 4294967295.");

    TimeFormat f;
    EXPECT_TRUE(parseTimeFormat("unix-ms", f));
    EXPECT_EQ(f, TimeFormat::UNIX_MS);
    EXPECT_FALSE(parseTimeFormat("ISO8601", f));
}

TEST(TimeCells, WindowsWithAndWithoutUnits) {
    struct Case {
        const char* text;
        unsigned seconds;
        bool unit;
    } ok[] = {{"0", 0, false},
              {"15", 15, false},
              {"90s", 90, true},
              {"30m", 1800, true},
              {"12h", 43200, true},
              {"7d", 604800, true},
              {"2w", 1209600, true},
              {"4294967295", 4294967295u, false},
              {"7101w", 4294684800u, true}};
    for (const Case& c : ok) {
        unsigned s = 1;
        bool unit = !c.unit;
        EXPECT_TRUE(parseDuration(c.text, s, unit)) << c.text;
        EXPECT_EQ(s, c.seconds) << c.text;
        EXPECT_EQ(unit, c.unit) << c.text;
    }
    for (const char* bad : {"", "d", "7x", "7dd", "1.5h", "-1d", "7 d", "7102w", "4294967296",
                            "49711d", "0123456789012"}) {
        unsigned s = 0;
        bool unit = false;
        EXPECT_FALSE(parseDuration(bad, s, unit)) << bad;
    }
}

TEST(ColumnPlans, NamesAreLookedUpInTheHeader) {
    const std::vector<std::string_view> header{"id", "case", "activity", "when", "cost"};
    TableLayout layout;
    EXPECT_TRUE(planColumns(layout, header).positional());

    layout.subject = "case";
    layout.time = "when";
    layout.items = {"activity", "cost"};
    ColumnPlan plan = planColumns(layout, header);
    EXPECT_EQ(plan.subject, 1u);
    EXPECT_EQ(plan.time, 3u);
    EXPECT_EQ(plan.items, (std::vector<size_t>{2, 4}));
    EXPECT_FALSE(plan.restAreItems);
    EXPECT_EQ(plan.needed(), 5u);
    EXPECT_EQ(missingCell(plan, 3, 3), "Missing cell \"when\" (column 4): the row has 3 cell(s).");

    // Unnamed roles keep their places; named subject and time leave the items.
    TableLayout some;
    some.subject = "cost";
    plan = planColumns(some, header);
    EXPECT_EQ(plan.subject, 4u);
    EXPECT_EQ(plan.time, 1u);
    EXPECT_TRUE(plan.restAreItems);

    auto refused = [&](TableLayout l) {
        try {
            planColumns(l, header);
        } catch (const brenlo::IOException& e) {
            return std::string(e.what());
        }
        return std::string("accepted");
    };
    TableLayout missing = layout;
    missing.items = {"activity", "Activity"};
    EXPECT_EQ(refused(missing), "No column is named \"Activity\"; the header has \"id\", \"case\", "
                                "\"activity\", \"when\", \"cost\".");
    TableLayout same = layout;
    same.time = "case";
    EXPECT_NE(refused(same).find("cannot be the same column"), std::string::npos);
    TableLayout itemIsTime = layout;
    itemIsTime.items = {"when"};
    EXPECT_NE(refused(itemIsTime).find("cannot hold items"), std::string::npos);
    const std::vector<std::string_view> twice{"case", "when", "case"};
    TableLayout l2;
    l2.subject = "case";
    try {
        planColumns(l2, twice);
        ADD_FAILURE() << "a name held twice was accepted";
    } catch (const brenlo::IOException& e) {
        EXPECT_NE(std::string(e.what()).find("more than once"), std::string::npos);
    }
}
