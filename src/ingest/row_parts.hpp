// Rows scanned into parts: a stretch of a block's complete rows, read on a
// thread of its own into ids of its own, and where to cut a block into
// such stretches.
#pragma once

#include "columns.hpp"
#include "grouping.hpp"
#include "ingest.hpp"
#include "strings.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace quorvel::rule::mining {

// What one stretch of rows gave, with ids of its own.
struct Part {
    StringTable subjects, items;
    uint32_t lastSubject = 0xFFFFFFFFu;
    std::vector<Event> events;
    SkippedRows skipped;
    std::string named;      // room for a "COLUMN=CELL" item
    uint64_t lines = 0;     // line ends passed by its complete rows
    size_t consumed = 0;    // bytes of its complete rows
    bool failed = false;    // stopped at an error:
    uint64_t errorLine = 0; // line ends before the error's place
    std::string error;
};

// How each row is taken apart: where its cells are, how its time reads.
struct RowRules {
    ColumnPlan plan;
    TimeFormat timeFormat = TimeFormat::NUMBER;
    char delim = '\t';
    /// An export's rows without a subject or an item are left out (the
    /// plain table keeps them as they always were).
    bool skipEmpty = false;
    bool itemPrefix = false; // items named by their column
};

/// Scans the complete rows of `data`; the rest is left for more bytes.
void scanPart(const char* data, size_t size, bool atEnd, const RowRules& rules, Part& part);

/// Where to cut `data` into `n` stretches of whole rows: after a line feed
/// that no carriage return follows, so no line end is split.
std::vector<size_t> cuts(const char* data, size_t size, unsigned n);

} // namespace quorvel::rule::mining
