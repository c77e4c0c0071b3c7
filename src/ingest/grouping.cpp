#include "grouping.hpp"

#include "brenlo/threads.hpp"

#include <algorithm>
#include <stdexcept>

namespace quorvel::rule::mining {

namespace {

// Transactions of a stretch of subjects, numbered from 0.
struct LogPiece {
    std::vector<uint32_t> subjectBegin;
    std::vector<History::Time> txnTime;
    std::vector<uint32_t> txnBegin;
    std::vector<ItemId> txnItems;
};

// Transactions from each subject's keys: one per time, its items once each.
void buildPiece(Keys& keys, const std::vector<uint64_t>& begin, size_t from,
                size_t to, LogPiece& out) {
    for (size_t s = from; s < to; ++s) {
        std::sort(keys.begin() + static_cast<std::ptrdiff_t>(begin[s]),
                  keys.begin() + static_cast<std::ptrdiff_t>(begin[s + 1]));
        out.subjectBegin.push_back(static_cast<uint32_t>(out.txnTime.size()));
        for (uint64_t k = begin[s]; k < begin[s + 1]; ++k) {
            const History::Time time = static_cast<History::Time>(keys[k] >> 32);
            const uint32_t item = static_cast<uint32_t>(keys[k]);
            if (k == begin[s] || time != out.txnTime.back()) {
                out.txnTime.push_back(time);
                out.txnBegin.push_back(static_cast<uint32_t>(out.txnItems.size()));
            }
            if (item != NO_ITEM &&
                (out.txnItems.size() == out.txnBegin.back() || out.txnItems.back() != item))
                out.txnItems.push_back(item);
        }
    }
}

} // namespace

// The events of each subject in its own stretch, as (time, item) keys in
// item order, by counting. Each thread counts and places a slice of the
// events; slices keep their order, so the result does not depend on how
// many threads did it.
void group(Events& events, size_t subjects, const std::vector<uint32_t>& rank, Keys& keys,
           std::vector<uint64_t>& begin, unsigned threads) {
    const size_t slices = std::max(1u, std::min<unsigned>(threads, 8));
    const size_t slice = (events.size() + slices - 1) / slices;
    std::vector<std::vector<uint64_t>> at(slices, std::vector<uint64_t>(subjects, 0));
    auto range = [&](size_t k) {
        return std::make_pair(std::min(events.size(), k * slice),
                              std::min(events.size(), (k + 1) * slice));
    };
    brenlo::forEachChunk(threads, slices, [&](size_t k, unsigned) {
        for (size_t e = range(k).first; e < range(k).second; ++e)
            ++at[k][events[e].subject];
    });
    // Where each slice's events of each subject go.
    begin.assign(subjects + 1, 0);
    uint64_t next = 0;
    for (size_t s = 0; s < subjects; ++s) {
        begin[s] = next;
        for (size_t k = 0; k < slices; ++k) {
            const uint64_t n = at[k][s];
            at[k][s] = next;
            next += n;
        }
    }
    begin[subjects] = next;
    keys.resize(events.size());
    brenlo::forEachChunk(threads, slices, [&](size_t k, unsigned) {
        std::vector<uint64_t>& fill = at[k];
        for (size_t e = range(k).first; e < range(k).second; ++e) {
            const Event& ev = events[e];
            keys[fill[ev.subject]++] =
                uint64_t(ev.time) << 32 | (ev.item == NO_ITEM ? NO_ITEM : rank[ev.item]);
        }
    });
    Events().swap(events);
}

// The pieces of stretches of subjects, built side by side, put together.
void buildLog(Keys& keys, const std::vector<uint64_t>& begin, EventLog& log,
              unsigned threads, size_t stretch) {
    const size_t subjects = begin.size() - 1;
    const size_t share = 4 * size_t(std::max(1u, threads));
    const size_t STRETCH = stretch ? stretch : std::max<size_t>(4096, (subjects + share - 1) / share);
    const size_t stretches = std::max<size_t>(1, (subjects + STRETCH - 1) / STRETCH);
    std::vector<LogPiece> pieces(stretches);
    brenlo::forEachChunk(threads, stretches, [&](size_t k, unsigned) {
        buildPiece(keys, begin, std::min(subjects, k * STRETCH),
                   std::min(subjects, (k + 1) * STRETCH), pieces[k]);
    });
    uint64_t txns = 0, items = 0;
    for (const LogPiece& p : pieces) {
        txns += p.txnTime.size();
        items += p.txnItems.size();
    }
    if (txns >= NO_ITEM || items >= NO_ITEM)
        throw std::length_error("more than 4294967294 transactions or items in one log");
    log.subjectBegin.reserve(subjects + 1);
    log.txnTime.reserve(txns);
    log.txnBegin.reserve(txns + 1);
    log.txnItems.reserve(items);
    for (LogPiece& p : pieces) {
        const uint32_t t0 = static_cast<uint32_t>(log.txnTime.size());
        const uint32_t i0 = static_cast<uint32_t>(log.txnItems.size());
        for (uint32_t b : p.subjectBegin)
            log.subjectBegin.push_back(t0 + b);
        for (uint32_t b : p.txnBegin)
            log.txnBegin.push_back(i0 + b);
        log.txnTime.insert(log.txnTime.end(), p.txnTime.begin(), p.txnTime.end());
        log.txnItems.insert(log.txnItems.end(), p.txnItems.begin(), p.txnItems.end());
        p = LogPiece();
    }
    log.subjectBegin.push_back(static_cast<uint32_t>(log.txnTime.size()));
    log.txnBegin.push_back(static_cast<uint32_t>(log.txnItems.size()));
}

} // namespace quorvel::rule::mining
