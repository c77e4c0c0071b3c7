// An event log from a table's columns in memory, read by the rules a
// table's rows are read by: no subject, skipped; no time, an error; no
// item, skipped.
#include "grouping.hpp"

#include "brenlo/threads.hpp"
#include "quorvel/read.hpp"

#include <algorithm>
#include <numeric>
#include <stdexcept>

namespace quorvel::rule {

namespace {

std::invalid_argument rowError(size_t row, const std::string& what) {
    return std::invalid_argument("Row " + std::to_string(row + 1) + " " + what);
}

// Each code's item: the dictionary in item order, equal texts one item.
std::vector<uint32_t> rankItems(const std::vector<std::string>& dictionary,
                                std::vector<Item>& items) {
    std::vector<uint32_t> order(dictionary.size());
    std::iota(order.begin(), order.end(), 0u);
    std::sort(order.begin(), order.end(),
              [&](uint32_t a, uint32_t b) { return dictionary[a] < dictionary[b]; });
    std::vector<uint32_t> rank(dictionary.size());
    for (uint32_t code : order) {
        if (items.empty() || items.back() != dictionary[code])
            items.push_back(dictionary[code]);
        rank[code] = static_cast<uint32_t>(items.size() - 1);
    }
    return rank;
}

} // namespace

EventLog eventLogOf(const EventColumns& columns, unsigned threads) {
    threads = brenlo::threadCount(threads);
    const size_t rows = columns.rows;
    if (rows && (!columns.subject || !columns.time))
        throw std::invalid_argument("The columns need a subject and a time for every row.");
    for (const int64_t* column : columns.items)
        if (rows && !column)
            throw std::invalid_argument("An item column holds no rows.");
    const size_t codes = columns.dictionary.size();
    // Subjects numbered as first met, through a table by code.
    int64_t most = -1;
    for (size_t r = 0; r < rows; ++r)
        most = std::max(most, columns.subject[r]);
    if (most >= int64_t(0xFFFFFFFFu))
        throw std::invalid_argument("Subject codes must be below 4294967295.");
    std::vector<uint32_t> subjectOf(static_cast<size_t>(most + 1), mining::NO_ITEM);
    uint32_t subjects = 0;

    EventLog log;
    mining::Events events;
    events.reserve(rows * std::max<size_t>(1, columns.items.size()));
    for (size_t r = 0; r < rows; ++r) {
        const int64_t s = columns.subject[r];
        if (s < 0) {
            ++log.skipped.noSubject;
            continue;
        }
        const int64_t t = columns.time[r];
        if (t == EventColumns::NO_TIME)
            throw rowError(r, "has no time.");
        if (t < 0 || t > int64_t(0xFFFFFFFFu))
            throw rowError(r, "has the time " + std::to_string(t) +
                                  ", which is not from 0 to 4294967295 (before 1970 or after "
                                  "2106, as seconds).");
        // A subject is made by the rows that are read: it is numbered at its
        // first item, so one whose rows all lack an item is no history
        // record, and lowers no support.
        const uint32_t* id = nullptr;
        for (const int64_t* column : columns.items) {
            const int64_t code = column[r];
            if (code < 0)
                continue;
            if (static_cast<uint64_t>(code) >= codes)
                throw rowError(r, "has the item code " + std::to_string(code) +
                                      ", past the dictionary's " + std::to_string(codes) +
                                      " items.");
            if (!id) {
                uint32_t& named = subjectOf[static_cast<size_t>(s)];
                if (named == mining::NO_ITEM)
                    named = subjects++;
                id = &named;
            }
            events.push_back({*id, static_cast<History::Time>(t), static_cast<uint32_t>(code)});
        }
        if (!id)
            ++log.skipped.noItem;
    }
    std::vector<uint32_t> rank = rankItems(columns.dictionary, log.items);
    mining::Keys keys;
    std::vector<uint64_t> begin;
    mining::group(events, subjects, rank, keys, begin, threads);
    mining::buildLog(keys, begin, log, threads, 0);
    return log;
}

} // namespace quorvel::rule
