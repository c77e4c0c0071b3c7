// Reading an event log: a transaction table (TSV or CSV, gzipped or not,
// an export with named columns) or an XES log from a file, or the columns
// of a table already in memory.
#pragma once

#include "brenlo/progress.hpp"
#include "quorvel/event_log.hpp"
#include "quorvel/layout.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quorvel::rule {

/// The event log in the file at `path` ("-": standard input) laid out as
/// `layout`, read on `threads` threads (0: one per processor). A file that
/// starts as XML is read as an XES log. Errors are brenlo::IOException,
/// with the file and line where there is one.
EventLog readLog(const std::string& path, const TableLayout& layout, unsigned threads = 0,
                 brenlo::Progress* progress = nullptr);

/// A table's columns in memory, `rows` long: a subject code, a time and,
/// in each item column, an item code. Codes are any numbers from 0; a
/// negative one is a missing cell.
struct EventColumns {
    size_t rows = 0;
    const int64_t* subject = nullptr;
    /// In the log's time unit, from 0 to 4294967295 (seconds, for windows
    /// given in seconds); NO_TIME where a row has none.
    const int64_t* time = nullptr;
    std::vector<const int64_t*> items;
    /// The text of each item code; codes of one text are one item.
    std::vector<std::string> dictionary;

    static constexpr int64_t NO_TIME = INT64_MIN;
};

/// The event log of `columns`. Rows without a subject, or without any item,
/// are left out and counted in `skipped`, as an export's rows are; a
/// subject all of whose rows are left out is no subject. A row
/// without a time or with one out of range, and an item code past the
/// dictionary, are a std::invalid_argument naming the row (from 1).
EventLog eventLogOf(const EventColumns& columns, unsigned threads = 0);

} // namespace quorvel::rule
