// The event log: what reading a table gives and what mining takes. The
// histories of every subject in columns, subjects numbered as first met
// (their names are not kept) and items numbered in item order.
#pragma once

#include "quorvel/rule.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quorvel::rule {

typedef uint32_t ItemId;

/// Rows of an export left out: no subject to give them to, or no item.
struct SkippedRows {
    uint64_t noSubject = 0, noItem = 0;
    /// Events of XES traces none of whose events is complete (so no
    /// subject), left out by their lifecycle.
    uint64_t notComplete = 0;

    void add(const SkippedRows& o) {
        noSubject += o.noSubject;
        noItem += o.noItem;
        notComplete += o.notComplete;
    }
    /// "Skipped 12 row(s) without a subject and 3 without an item.", then
    /// any events of traces without a complete event; "" when none were.
    std::string message() const;
};

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

/// The same histories from a transaction set.
EventLog eventLogOf(const TransactionSet& txns);

/// The histories as text, the same however the subjects were numbered:
/// for comparing two ways of reading one table.
std::string describe(const EventLog& log);

} // namespace quorvel::rule
