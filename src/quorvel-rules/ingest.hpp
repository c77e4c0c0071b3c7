// The columnar ingest: a transaction table read from its bytes straight into
// dense subject ids, times and item ids, and grouped into the per-subject
// histories the engine indexes, with no per-row allocation.
#pragma once

#include "columns.hpp"

#include "quorvel/rule.hpp"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::rule::mining {

typedef uint32_t ItemId;

/// Rows of an export left out: no subject to give them to, or no item.
struct SkippedRows {
    uint64_t noSubject = 0, noItem = 0;

    void add(const SkippedRows& o) {
        noSubject += o.noSubject;
        noItem += o.noItem;
    }
    /// "Skipped 12 row(s) without a subject and 3 without an item.", or
    /// "" when none were.
    std::string message() const;
};

/// The histories of a transaction table, in columns. Subjects are numbered
/// as first met (their names are not kept); items by the item order.
struct EventLog {
    std::vector<Item> items;            // item id -> text, ascending
    std::vector<uint32_t> subjectBegin; // subject -> its first transaction; one past the last
    std::vector<History::Time> txnTime; // ascending within a subject
    std::vector<uint32_t> txnBegin;     // transaction -> its first item; one past the last
    std::vector<ItemId> txnItems;       // ascending within a transaction
    SkippedRows skipped;                // rows read and left out

    size_t subjects() const { return subjectBegin.size() - 1; }
    size_t transactions() const { return txnTime.size(); }
};

/// How the ingest takes its bytes: blocks of `block` bytes; a block of more
/// than `splitAbove` bytes is cut among the threads; histories are built
/// `stretch` subjects at a time. Tests make them small.
struct IngestSizes {
    size_t block = size_t(32) << 20;
    size_t splitAbove = size_t(1) << 20;
    size_t stretch = size_t(1) << 16;
};

/// Reads the table at `path` ("-": standard input) laid out as `layout`,
/// on `threads` threads.
EventLog readEventLog(const std::string& path, const TableLayout& layout, unsigned threads,
                      const IngestSizes& sizes = IngestSizes());
/// The same from bytes in memory; errors name `source`.
EventLog parseEventLog(std::string_view bytes, const std::string& source, const TableLayout& layout,
                       unsigned threads, const IngestSizes& sizes = IngestSizes());

/// Reads the table at `path` ("-": standard input) as TransactionSet::readInto
/// reads it, with the same errors, on `threads` threads.
EventLog readEventLog(const std::string& path, char delim, unsigned threads,
                      const IngestSizes& sizes = IngestSizes());

/// The same from bytes in memory; errors name `source`.
EventLog parseEventLog(std::string_view bytes, const std::string& source, char delim,
                       unsigned threads, const IngestSizes& sizes = IngestSizes());

/// The same histories from a transaction set.
EventLog eventLogOf(const TransactionSet& txns);

/// The histories as text, the same however the subjects were numbered:
/// for comparing two ways of reading one table.
std::string describe(const EventLog& log);

/// The number of processors this process may run on.
unsigned availableThreads();

} // namespace quorvel::rule::mining
