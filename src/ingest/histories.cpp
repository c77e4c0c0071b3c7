// Histories from rows as read: items put in item order, rows grouped per
// subject.
#include "ingest.hpp"
#include "pieces.hpp"

#include <algorithm>

namespace quorvel::rule::mining {

EventLog logOf(ReadRows& rows, unsigned threads, const IngestSizes& sizes,
               const std::vector<Item>* allItems) {
    EventLog log;
    log.skipped = rows.skipped;
    std::vector<uint32_t> rank(rows.items.size());
    if (allItems) {
        // Every process's items, in item order: each of ours is found there.
        log.items = *allItems;
        for (uint32_t k = 0; k < rank.size(); ++k) {
            const std::string_view name = rows.items.view(k);
            rank[k] = static_cast<uint32_t>(
                std::lower_bound(log.items.begin(), log.items.end(), name,
                                 [](const Item& a, std::string_view b) { return a < b; }) -
                log.items.begin());
        }
    } else {
        // Item order is applied once, to the distinct items.
        std::vector<uint32_t> order(rows.items.size());
        for (uint32_t k = 0; k < order.size(); ++k)
            order[k] = k;
        std::sort(order.begin(), order.end(),
                  [&](uint32_t a, uint32_t b) { return rows.items.view(a) < rows.items.view(b); });
        log.items.reserve(order.size());
        for (uint32_t k = 0; k < order.size(); ++k) {
            rank[order[k]] = k;
            log.items.emplace_back(rows.items.view(order[k]));
        }
    }
    rows.items.clear();
    Keys keys;
    std::vector<uint64_t> begin;
    group(rows.events, rows.subjects.size(), rank, keys, begin, threads);
    buildLog(keys, begin, log, threads, sizes.stretch);
    return log;
}

} // namespace quorvel::rule::mining
