#include "quorvel/event_log.hpp"

#include <algorithm>

namespace quorvel::rule {

std::string SkippedRows::message() const {
    if (!noSubject && !noItem && !notComplete)
        return "";
    std::string text = "Skipped ";
    if (noSubject)
        text += std::to_string(noSubject) + " row(s) without a subject";
    if (noSubject && noItem)
        text += " and " + std::to_string(noItem) + " without an item";
    else if (noItem)
        text += std::to_string(noItem) + " row(s) without an item";
    if (notComplete)
        text += std::string(noSubject || noItem ? ", and " : "") + std::to_string(notComplete) +
                " event(s) of traces without a complete event";
    return text + ".";
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

} // namespace quorvel::rule
