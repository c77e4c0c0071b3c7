#include "ingest.hpp"

#include "grouping.hpp"
#include "input.hpp"
#include "parallel.hpp"
#include "scan.hpp"
#include "strings.hpp"

#include "brenlo/exception.hpp"
#include "brenlo/string.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sched.h>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace quorvel::rule::mining {

namespace {

// Strictly a whole number from 0 to 4294967295.
bool parseTime(std::string_view s, History::Time& out) {
    if (s.empty() || s.size() > 10)
        return false;
    uint64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v > 0xFFFFFFFFull)
        return false;
    out = static_cast<History::Time>(v);
    return true;
}

// What one stretch of rows gave, with ids of its own.
struct Part {
    StringTable subjects, items;
    uint32_t lastSubject = 0xFFFFFFFFu;
    std::vector<Event> events;
    uint64_t lines = 0;     // line ends passed by its complete rows
    size_t consumed = 0;    // bytes of its complete rows
    bool failed = false;    // stopped at an error:
    uint64_t errorLine = 0; // line ends before the error's place
    std::string error;
};

void fail(Part& part, uint64_t line, std::string message) {
    part.failed = true;
    part.errorLine = line;
    part.error = std::move(message);
}

// The first two cells of a row: false, with the error, when the row is
// not a row of the table.
bool subjectAndTime(const std::vector<std::string_view>& cells, uint64_t line, Part& part,
                    History::Time& time) {
    if (cells.size() < 2) {
        fail(part, line, "Missing cell at position 1.");
        return false;
    }
    if (!parseTime(cells[1], time)) {
        // As printf quotes it: up to a NUL byte.
        const std::string_view shown = cells[1].substr(0, cells[1].find('\0'));
        fail(part, line,
             "Invalid time \"" + std::string(shown) +
                 "\": a time is a whole number from 0 to 4294967295.");
        return false;
    }
    return true;
}

void addRow(const std::vector<std::string_view>& cells, History::Time time, Part& part) {
    // Logs mostly come a subject at a time: the last one is checked first.
    if (part.lastSubject == 0xFFFFFFFFu || part.subjects.view(part.lastSubject) != cells[0])
        part.lastSubject = part.subjects.intern(cells[0]);
    const uint32_t subject = part.lastSubject;
    bool any = false;
    for (size_t k = 2; k < cells.size(); ++k)
        if (!cells[k].empty()) {
            part.events.push_back({subject, time, part.items.intern(cells[k])});
            any = true;
        }
    if (!any)
        part.events.push_back({subject, time, NO_ITEM});
}

// Scans the complete rows of `data`; the rest is left for more bytes.
void scanPart(const char* data, size_t size, bool atEnd, char delim, Part& part) {
    RowScanner rows(data, size, atEnd, delim);
    for (;;) {
        const RowScanner::Result got = rows.next();
        if (got == RowScanner::BLANK)
            continue;
        if (got == RowScanner::ROW) {
            History::Time time = 0;
            if (!subjectAndTime(rows.cells(), rows.rowLines(), part, time))
                return;
            addRow(rows.cells(), time, part);
            continue;
        }
        if (got == RowScanner::UNCLOSED) {
            // Cells are read in order: a bad time before the open quote
            // is met first.
            History::Time time = 0;
            if (rows.cells().size() >= 2 &&
                !subjectAndTime(rows.cells(), rows.rowLines(), part, time))
                return;
            fail(part, rows.cellLines(), "A quoted cell is never closed: its quote opens here.");
            return;
        }
        part.lines = rows.lines();
        part.consumed = rows.consumed();
        return;
    }
}

// Where to cut `data` into `n` stretches of whole rows: after a line feed
// that no carriage return follows, so no line end is split.
std::vector<size_t> cuts(const char* data, size_t size, unsigned n) {
    std::vector<size_t> at{0};
    for (unsigned k = 1; k < n; ++k) {
        size_t p = std::max(at.back(), size / n * k);
        while (p < size && !(data[p] == '\n' && p + 1 < size && data[p + 1] != '\r'))
            ++p;
        if (p + 1 >= size)
            break;
        at.push_back(p + 1);
    }
    at.push_back(size);
    return at;
}

// Rows as they come, with ids merged across parts.
class Reader {
public:
    Reader(Input&& input, char delim, unsigned threads, const IngestSizes& sizes)
        : m_input(std::move(input)), m_delim(delim), m_threads(std::max(1u, threads)),
          m_sizes(sizes) {}

    void run() {
        const size_t BLOCK = std::max<size_t>(1, m_sizes.block);
        // Room for the events a file of this size likely holds (a row takes
        // at least 6 bytes), so they are not copied as they grow; pages
        // not written are never taken from the machine.
        events.reserve(static_cast<size_t>(m_input.size() / 6));
        Buffer buf;
        bool more = skipHeader(buf, BLOCK);
        while (more || !buf.empty()) {
            if (more)
                more = m_input.fill(buf, BLOCK, m_line);
            const size_t used = block(buf.data(), buf.size(), !more);
            buf.consume(used);
            if (!more && !buf.empty())
                throw std::logic_error("rows left unread at the end of the data");
        }
    }

    StringTable items;
    std::vector<Event> events;
    size_t subjects() const { return m_subjects.size(); }

private:
    // Everything up to the first line end: LF, CR, or CR LF.
    bool skipHeader(Buffer& buf, size_t block) {
        for (;;) {
            const bool more = m_input.fill(buf, block, 1);
            const char* b = buf.data();
            for (size_t p = 0; p < buf.size(); ++p) {
                if (b[p] != '\n' && b[p] != '\r')
                    continue;
                if (b[p] == '\r' && p + 1 == buf.size() && more)
                    break; // is a line feed next?
                buf.consume(p + 1 + (b[p] == '\r' && p + 1 < buf.size() && b[p + 1] == '\n'));
                return true;
            }
            if (!more) {
                buf.clear();
                return false;
            }
        }
    }

    // Scans a block in parts, one thread each when it holds no quote (a
    // quoted line end could fall on a cut); the bytes used.
    size_t block(const char* data, size_t size, bool atEnd) {
        const bool split =
            m_threads > 1 && size > m_sizes.splitAbove && std::memchr(data, '"', size) == nullptr;
        const std::vector<size_t> at =
            split ? cuts(data, size, m_threads) : std::vector<size_t>{0, size};
        const size_t n = at.size() - 1;
        std::vector<Part> parts(n);
        forEachChunk(m_threads, n, [&](size_t k, unsigned) {
            scanPart(data + at[k], at[k + 1] - at[k], k + 1 < n || atEnd, m_delim, parts[k]);
        });
        for (size_t k = 0; k < n; ++k) {
            if (parts[k].failed)
                throw brenlo::IOException(brenlo::string::strprintf(
                    "%s:%llu: %s", m_input.name().c_str(),
                    static_cast<unsigned long long>(m_line + parts[k].errorLine),
                    parts[k].error.c_str()));
            m_line += parts[k].lines;
            if (k + 1 < n && parts[k].consumed != at[k + 1] - at[k])
                throw std::logic_error("a part ended inside a row");
        }
        merge(parts);
        return at[n - 1] + parts[n - 1].consumed;
    }

    // The parts' ids made the reader's: names are looked up in part order,
    // then each part's events are renamed on its own thread and appended.
    void merge(std::vector<Part>& parts) {
        std::vector<std::vector<uint32_t>> subject(parts.size()), item(parts.size());
        size_t total = events.size();
        for (size_t p = 0; p < parts.size(); ++p) {
            const Part& part = parts[p];
            subject[p].resize(part.subjects.size());
            for (uint32_t k = 0; k < subject[p].size(); ++k)
                subject[p][k] = m_subjects.intern(part.subjects.view(k), part.subjects.hash(k));
            item[p].resize(part.items.size());
            for (uint32_t k = 0; k < item[p].size(); ++k)
                item[p][k] = items.intern(part.items.view(k), part.items.hash(k));
            total += part.events.size();
        }
        std::vector<size_t> at(parts.size());
        for (size_t p = 0, next = events.size(); p < parts.size(); next += parts[p++].events.size())
            at[p] = next;
        events.resize(total);
        forEachChunk(m_threads, parts.size(), [&](size_t p, unsigned) {
            Event* out = events.data() + at[p];
            for (const Event& e : parts[p].events)
                *out++ = {subject[p][e.subject], e.time,
                          e.item == NO_ITEM ? NO_ITEM : item[p][e.item]};
            std::vector<Event>().swap(parts[p].events);
        });
    }

    Input m_input;
    char m_delim;
    unsigned m_threads;
    IngestSizes m_sizes;
    uint64_t m_line = 2; // the first line after the header
    StringTable m_subjects;
};

EventLog logOf(Reader& reader, unsigned threads, const IngestSizes& sizes) {
    reader.run();
    EventLog log;
    // Item order is applied once, to the distinct items.
    std::vector<uint32_t> order(reader.items.size());
    for (uint32_t k = 0; k < order.size(); ++k)
        order[k] = k;
    std::sort(order.begin(), order.end(),
              [&](uint32_t a, uint32_t b) { return reader.items.view(a) < reader.items.view(b); });
    std::vector<uint32_t> rank(order.size());
    log.items.reserve(order.size());
    for (uint32_t k = 0; k < order.size(); ++k) {
        rank[order[k]] = k;
        log.items.emplace_back(reader.items.view(order[k]));
    }
    reader.items.clear();
    std::vector<uint64_t> keys, begin;
    group(reader.events, reader.subjects(), rank, keys, begin, threads);
    buildLog(keys, begin, log, threads, sizes.stretch);
    return log;
}

} // namespace

unsigned availableThreads() {
    cpu_set_t set;
    if (::sched_getaffinity(0, sizeof set, &set) == 0)
        return std::max(1, CPU_COUNT(&set));
    return std::max(1u, std::thread::hardware_concurrency());
}

EventLog readEventLog(const std::string& path, char delim, unsigned threads,
                      const IngestSizes& sizes) {
    Reader reader(Input(path), delim, threads, sizes);
    return logOf(reader, threads, sizes);
}

EventLog parseEventLog(std::string_view bytes, const std::string& source, char delim,
                       unsigned threads, const IngestSizes& sizes) {
    Reader reader(Input(bytes, source), delim, threads, sizes);
    return logOf(reader, threads, sizes);
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
