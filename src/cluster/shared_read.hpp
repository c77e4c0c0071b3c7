// The read of a run of several processes: each reads a share of the input
// (a byte range of one file, or whole files of several), the rows go to
// the process that owns their subject, and the items get the same ids
// everywhere. Errors name the file and the line a single process would.
#pragma once

#include "columns.hpp"
#include "ingest.hpp"

#include "quorvel/peers.hpp"

#include <string>
#include <vector>

namespace quorvel::rule::mining {

/// The histories of this process's subjects among all the rows of `paths`,
/// read on `threads` threads per process. Alone, the same as reading the
/// files one after the other.
EventLog readShared(const Peers& peers, const std::vector<std::string>& paths,
                    const TableLayout& layout, unsigned threads,
                    const IngestSizes& sizes = IngestSizes());

/// The files that `operands` name: files as they are, folders as the
/// regular files in them (not hidden), in name order.
std::vector<std::string> inputFiles(const std::vector<std::string>& operands);

/// Refuses parts that cannot be of one table: a rule or item-set table
/// among them, or a header unlike the first part's (a line end of any kind
/// and a byte-order mark aside). Standard input is not looked at.
void checkParts(const std::vector<std::string>& files);

} // namespace quorvel::rule::mining
