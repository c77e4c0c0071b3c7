// Rows grouped into histories: the events of a table, in the order read,
// become each subject's transactions, in time order, on all threads.
#pragma once

#include "ingest.hpp"

#include "brenlo/unset.hpp"

#include <cstdint>
#include <vector>

namespace quorvel::rule::mining {

const uint32_t NO_ITEM = 0xFFFFFFFFu;

// One item cell of a row, or the row itself when it has none (it still
// makes a transaction).
struct Event {
    uint32_t subject;
    History::Time time;
    uint32_t item;
};

/// Events, and the keys made of them, as they are put in place on several
/// threads.
using Events = std::vector<Event, brenlo::Unset<Event>>;
using Keys = std::vector<uint64_t, brenlo::Unset<uint64_t>>;

/// The events of each subject in a stretch of its own, as (time, item) keys
/// with items ranked by `rank`; `begin` says where each subject's start.
/// Frees `events`.
void group(Events& events, size_t subjects, const std::vector<uint32_t>& rank, Keys& keys,
           std::vector<uint64_t>& begin, unsigned threads);

/// The transactions of every subject from its keys, `stretch` subjects at a
/// time on `threads` threads.
void buildLog(Keys& keys, const std::vector<uint64_t>& begin, EventLog& log,
              unsigned threads, size_t stretch);

} // namespace quorvel::rule::mining
