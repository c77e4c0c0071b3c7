// Tables read in pieces: a file, a byte range of one, or several files,
// into one set of rows, which become histories once every piece is in.
// The shared read of a run of several processes is made of these.
#pragma once

#include "columns.hpp"
#include "grouping.hpp"
#include "input.hpp"
#include "strings.hpp"

#include "brenlo/exception.hpp"

#include <string>
#include <vector>

namespace quorvel::rule::mining {

/// Rows as read: names interned, events with the ids of this reading.
struct ReadRows {
    StringTable subjects, items;
    Events events;
    SkippedRows skipped;
};

/// Where a piece starts: at the table's start, header and all, or at a row
/// start inside it, whose line number is `firstLine` and whose columns are
/// `plan` (read from the header by whoever read it).
struct TablePiece {
    bool header = true;
    uint64_t firstLine = 2;
    ColumnPlan plan;
};

/// A malformed row: "SOURCE:LINE: TEXT".
class RowError : public brenlo::IOException {
public:
    RowError(const std::string& source, uint64_t line, const std::string& text);
    std::string source;
    uint64_t line;
    std::string text;
};

/// Adds the rows of `input` to `rows`; the line number a next row would have.
uint64_t readPiece(Input&& input, const TableLayout& layout, const TablePiece& piece,
                   unsigned threads, const IngestSizes& sizes, ReadRows& rows);

/// The piece of the file at `path` that follows its header, and in `bytes`
/// the header's length.
TablePiece headerOf(const std::string& path, const TableLayout& layout, uint64_t& bytes);

/// The histories of `rows` (which it empties), items in item order; with
/// `allItems`, numbered as in that list, which holds each of `rows`' items.
EventLog logOf(ReadRows& rows, unsigned threads, const IngestSizes& sizes,
               const std::vector<Item>* allItems = nullptr);

} // namespace quorvel::rule::mining
