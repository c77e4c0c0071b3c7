// The columnar ingest: a transaction table read from its bytes straight into
// dense subject ids, times and item ids, and grouped into the per-subject
// histories the engine indexes, with no per-row allocation.
#pragma once

#include "columns.hpp"

#include "brenlo/progress.hpp"
#include "quorvel/event_log.hpp"
#include "quorvel/rule.hpp"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::rule::mining {

/// How the ingest takes its bytes: blocks of `block` bytes; a block of more
/// than `splitAbove` bytes is cut among the threads; histories are built
/// `stretch` subjects at a time (0: a few stretches a thread). Tests make
/// them small.
struct IngestSizes {
    size_t block = size_t(32) << 20;
    size_t splitAbove = size_t(1) << 20;
    size_t stretch = 0;
    /// What the process may hold while it reads (0: no limit); past it the
    /// read stops, naming the input.
    uint64_t memoryBudget = 0;
    /// Where the read says how far it has got; nowhere when null.
    brenlo::Progress* progress = nullptr;
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

} // namespace quorvel::rule::mining
