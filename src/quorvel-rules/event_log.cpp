// Histories from rows as read: items put in item order, rows grouped per
// subject; and the same histories from a transaction set, and as text.
#include "ingest.hpp"
#include "pieces.hpp"

#include <algorithm>

namespace quorvel::rule::mining {

std::string SkippedRows::message() const {
    if (!noSubject && !noItem)
        return "";
    std::string text = "Skipped ";
    if (noSubject)
        text += std::to_string(noSubject) + " row(s) without a subject";
    if (noSubject && noItem)
        text += " and " + std::to_string(noItem) + " without an item";
    else if (noItem)
        text += std::to_string(noItem) + " row(s) without an item";
    return text + ".";
}

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
    std::vector<uint64_t> keys, begin;
    group(rows.events, rows.subjects.size(), rank, keys, begin, threads);
    buildLog(keys, begin, log, threads, sizes.stretch);
    return log;
}

std::string describe(const EventLog& log) {
    std::vector<std::string> histories;
    for (size_t s = 0; s < log.subjects(); ++s) {
        std::string h;
        for (uint32_t t = log.subjectBegin[s]; t < log.subjectBegin[s + 1]; ++t) {
            h += std::to_string(log.txnTime[t]) + '{';
            for (uint32_t k = log.txnBegin[t]; k < log.txnBegin[t + 1]; ++k)
                h += log.items[log.txnItems[k]] + '\x1f';
            h += '}';
        }
        histories.push_back(h);
    }
    std::sort(histories.begin(), histories.end());
    std::string out = std::to_string(log.items.size()) + " items, " +
                      std::to_string(log.transactions()) + " transactions\n";
    for (const std::string& h : histories)
        out += h + '\n';
    return out;
}

EventLog eventLogOf(const TransactionSet& txns) {
    EventLog log;
    std::vector<Item> items;
    for (const auto& subject : txns)
        for (const auto& txn : subject.second)
            items.insert(items.end(), txn.second.begin(), txn.second.end());
    std::sort(items.begin(), items.end());
    items.erase(std::unique(items.begin(), items.end()), items.end());
    log.items = items;
    for (const auto& subject : txns) {
        log.subjectBegin.push_back(static_cast<uint32_t>(log.txnTime.size()));
        for (const auto& txn : subject.second) {
            log.txnTime.push_back(txn.first);
            log.txnBegin.push_back(static_cast<uint32_t>(log.txnItems.size()));
            for (const Item& item : txn.second)
                log.txnItems.push_back(static_cast<ItemId>(
                    std::lower_bound(items.begin(), items.end(), item) - items.begin()));
        }
    }
    log.subjectBegin.push_back(static_cast<uint32_t>(log.txnTime.size()));
    log.txnBegin.push_back(static_cast<uint32_t>(log.txnItems.size()));
    return log;
}

} // namespace quorvel::rule::mining
