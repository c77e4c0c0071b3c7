// Rows on their way to the process that owns their subject (by a hash of
// its name), and the items every process numbers alike.
#pragma once

#include "pieces.hpp"

#include "quorvel/peers.hpp"

#include <string>
#include <vector>

namespace quorvel::rule::mining {

/// Each process's share of `rows` (which it empties) as one message each:
/// the names it uses once, then three words a row.
std::vector<std::string> messagesOf(ReadRows& rows, int processes);

/// The rows of the messages received, as this process's own; frees them.
ReadRows rowsOf(std::vector<std::string>& messages);

/// Every process's items, in item order.
std::vector<Item> allItems(const Peers& peers, const ReadRows& rows);

} // namespace quorvel::rule::mining
