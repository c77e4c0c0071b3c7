// Event logs in XES (IEEE 1849), the process-mining standard: traces become
// subjects, events rows. Read as a stream through expat, gzipped or not.
#pragma once

#include "columns.hpp"
#include "ingest.hpp"

#include <string>

namespace quorvel::rule::mining {

/// Where subject, time and items are in an XES log, by attribute key: the
/// trace's `subject` (default concept:name), the event's `time` (default
/// time:timestamp) and `items` (default concept:name). Events whose
/// lifecycle:transition is other than "complete" are left out unless
/// `allLifecycles`.
struct XesLayout {
    std::string subject = "concept:name", time = "time:timestamp";
    std::vector<std::string> items = {"concept:name"};
    bool allLifecycles = false;
    bool itemPrefix = false; // items as "KEY=VALUE"
};

/// The XES layout the table layout's names ask for (empty names keep the
/// defaults).
XesLayout xesLayoutOf(const TableLayout& layout);

/// Whether the file at `path` starts as XML does (after a byte-order mark
/// and blanks), gzipped or not. False for standard input and unreadable
/// files, which are then read as tables.
bool looksLikeXml(const std::string& path);

/// The histories of the XES log at `path` ("-": standard input). Malformed
/// XML, an event without a time and a time that does not read stop the
/// read with PATH:LINE. Traces without a subject and events without an
/// item are skipped and counted, as an export's rows are.
EventLog readXesLog(const std::string& path, const XesLayout& layout, unsigned threads,
                    const IngestSizes& sizes = IngestSizes());

/// The same from bytes in memory; errors name `source`.
EventLog parseXesLog(std::string_view bytes, const std::string& source, const XesLayout& layout,
                     unsigned threads, const IngestSizes& sizes = IngestSizes());

} // namespace quorvel::rule::mining
