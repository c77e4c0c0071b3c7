#include "ingest.hpp"

#include "brenlo/threads.hpp"
#include "columns.hpp"
#include "grouping.hpp"
#include "input.hpp"
#include "pieces.hpp"
#include "read_budget.hpp"
#include "row_parts.hpp"
#include "scan.hpp"
#include "strings.hpp"

#include "brenlo/exception.hpp"
#include "brenlo/string.hpp"
#include "quorvel/table_kind.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace quorvel::rule::mining {

namespace {

// Rows as they come, with ids merged across parts, into `rows`.
class Reader {
public:
    Reader(Input&& input, const TableLayout& layout, const TablePiece& piece, unsigned threads,
           const IngestSizes& sizes, ReadRows& rows)
        : m_input(std::move(input)), m_layout(layout), m_piece(piece),
          m_threads(std::max(1u, threads)), m_sizes(sizes), events(rows.events), items(rows.items),
          m_subjects(rows.subjects), m_skipped(rows.skipped) {
        m_rules.delim = layout.delimiter;
        m_rules.timeFormat = layout.timeFormat;
        m_rules.plan = piece.plan;
        m_rules.skipEmpty = layout.named();
        m_rules.itemPrefix = layout.itemPrefix;
        m_line = piece.firstLine;
    }

    void run() {
        const size_t BLOCK = std::max<size_t>(1, m_sizes.block);
        // Room for the events a file of this size likely holds (a row takes
        // at least 6 bytes), so they are not copied as they grow; pages
        // not written are never taken from the machine.
        events.reserve(events.size() + static_cast<size_t>(m_input.size() / 6));
        brenlo::Progress quiet;
        brenlo::Progress& progress = m_sizes.progress ? *m_sizes.progress : quiet;
        brenlo::ProgressStage stage(progress, "Reading " + m_input.name(), m_input.size(),
                                    brenlo::Progress::BYTES);
        Buffer buf;
        bool more = true;
        if (m_piece.header)
            more = m_layout.named() ? readHeader(buf, BLOCK) : skipHeader(buf, BLOCK);
        m_headerBytes = m_read - buf.size();
        bool unended = false; // the bytes held end no row
        while (more || !buf.empty()) {
            const size_t before = buf.size();
            if (more)
                more = fill(buf, BLOCK, m_line);
            // A row that goes on is not scanned again from its start
            // until a line end comes.
            if (more && unended && !std::memchr(buf.data() + before, '\n', buf.size() - before) &&
                !std::memchr(buf.data() + before, '\r', buf.size() - before)) {
                m_budget.checkRow(m_line, buf.size());
                continue;
            }
            const size_t used = block(buf.data(), buf.size(), !more);
            buf.consume(used);
            progress.advance(used);
            unended = used == 0;
            m_budget.checkRow(m_line, buf.size());
            m_budget.check();
            if (!more && !buf.empty())
                throw std::logic_error("rows left unread at the end of the data");
        }
    }

    const ColumnPlan& plan() const { return m_rules.plan; }
    /// The line number the next row would have.
    uint64_t nextLine() const { return m_line; }
    /// The bytes of the header.
    uint64_t headerBytes() const { return m_headerBytes; }

    /// Reads only the header.
    void header() {
        Buffer buf;
        m_layout.named() ? readHeader(buf, 1 << 16) : skipHeader(buf, 1 << 16);
        m_headerBytes = m_read - buf.size();
    }

private:
    bool fill(Buffer& buf, size_t n, uint64_t line) {
        const size_t before = buf.size();
        const bool more = m_input.fill(buf, n, line);
        m_read += buf.size() - before;
        return more;
    }

    // Everything up to the first line end: LF, CR, or CR LF.
    bool skipHeader(Buffer& buf, size_t block) {
        for (;;) {
            const bool more = fill(buf, block, 1);
            if (!startChecked(buf, more))
                continue;
            const char* b = buf.data();
            for (size_t p = 0; p < buf.size(); ++p) {
                if (b[p] != '\n' && b[p] != '\r')
                    continue;
                if (b[p] == '\r' && p + 1 == buf.size() && more)
                    break; // is a line feed next?
                refuseWrittenTable(std::string_view(b, p));
                buf.consume(p + 1 + (b[p] == '\r' && p + 1 < buf.size() && b[p + 1] == '\n'));
                refuseWrittenRow(std::string_view(buf.data(), buf.size()), more);
                return true;
            }
            if (!more) {
                refuseWrittenTable(std::string_view(b, buf.size()));
                buf.clear();
                return false;
            }
            m_budget.checkRow(1, buf.size());
        }
    }

    // Once enough of the start is in: a byte-order mark is dropped, and a
    // binary file refused. False while more bytes are needed to tell.
    bool startChecked(Buffer& buf, bool more) {
        if (m_startChecked)
            return true;
        const std::string_view start(buf.data(), buf.size());
        if (more && start.size() < BINARY_SNIFF_BYTES + BYTE_ORDER_MARK.size() &&
            start.find_first_of("\r\n") == start.npos)
            return false;
        m_startChecked = true;
        if (start.substr(0, BYTE_ORDER_MARK.size()) == BYTE_ORDER_MARK)
            buf.consume(BYTE_ORDER_MARK.size());
        const std::string_view text(buf.data(), buf.size());
        // Told from the first line alone, as the table reader tells it.
        if (looksBinary(text))
            throw brenlo::IOException(m_input.name() + ":1: " +
                                      notTextMessage(text.substr(0, text.find_first_of("\r\n"))));
        return true;
    }

    // A rule or item-set table given where the log belongs (the operands
    // swapped) is refused before its output can replace the log.
    void refuseWrittenTable(std::string_view header) const {
        const TableKind kind = writtenTableKind(header);
        if (kind != TableKind::OTHER)
            throw brenlo::IOException(m_input.name() +
                                      ":1: " + wrongTableMessage(kind, "a transaction table"));
    }

    // A table whose header was changed is told by its first row, when the
    // bytes in hold it whole.
    void refuseWrittenRow(std::string_view rest, bool more) const {
        const size_t end = rest.find_first_of("\r\n");
        if (end == rest.npos && more)
            return;
        const TableKind kind = writtenRowKind(rest.substr(0, end));
        if (kind != TableKind::OTHER)
            throw brenlo::IOException(m_input.name() +
                                      ":2: " + wrongTableMessage(kind, "a transaction table"));
    }

    // The header as a row of names, which the columns are looked up in.
    bool readHeader(Buffer& buf, size_t block) {
        for (;;) {
            const bool more = fill(buf, block, 1);
            if (!startChecked(buf, more))
                continue;
            RowScanner rows(buf.data(), buf.size(), !more, m_layout.delimiter);
            const RowScanner::Result got = rows.next();
            if (got == RowScanner::MORE) {
                m_budget.checkRow(1, buf.size());
                continue;
            }
            const std::string_view text(buf.data(), buf.size());
            refuseWrittenTable(text.substr(0, text.find_first_of("\r\n")));
            if (got == RowScanner::UNCLOSED)
                throw brenlo::IOException(brenlo::string::strprintf(
                    "%s:%llu: A quoted cell is never closed: its quote opens here.",
                    m_input.name().c_str(), static_cast<unsigned long long>(1 + rows.cellLines())));
            try {
                m_rules.plan =
                    planColumns(m_layout, got == RowScanner::ROW ? rows.cells()
                                                                 : std::vector<std::string_view>());
            } catch (const brenlo::IOException& e) {
                throw brenlo::IOException(m_input.name() + ":1: " + e.what());
            }
            m_line = 1 + rows.lines();
            buf.consume(rows.consumed());
            return more;
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
        brenlo::forEachChunk(m_threads, n, [&](size_t k, unsigned) {
            scanPart(data + at[k], at[k + 1] - at[k], k + 1 < n || atEnd, m_rules, parts[k]);
        });
        for (size_t k = 0; k < n; ++k) {
            if (parts[k].failed)
                throw RowError(m_input.name(), m_line + parts[k].errorLine, parts[k].error);
            m_line += parts[k].lines;
            m_skipped.add(parts[k].skipped);
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
        brenlo::forEachChunk(m_threads, parts.size(), [&](size_t p, unsigned) {
            Event* out = events.data() + at[p];
            for (const Event& e : parts[p].events)
                *out++ = {subject[p][e.subject], e.time,
                          e.item == NO_ITEM ? NO_ITEM : item[p][e.item]};
            std::vector<Event>().swap(parts[p].events);
        });
    }

    Input m_input;
    TableLayout m_layout;
    TablePiece m_piece;
    RowRules m_rules;
    unsigned m_threads;
    IngestSizes m_sizes;
    ReadBudget m_budget{m_sizes.memoryBudget, m_input.name()};
    uint64_t m_line; // of the next row
    uint64_t m_read = 0, m_headerBytes = 0;
    bool m_startChecked = false;

public:
    Events& events;
    StringTable& items;

private:
    StringTable& m_subjects;
    SkippedRows& m_skipped;
};

} // namespace

RowError::RowError(const std::string& source, uint64_t line, const std::string& text)
    : brenlo::IOException(brenlo::string::strprintf(
          "%s:%llu: %s", source.c_str(), static_cast<unsigned long long>(line), text.c_str())),
      source(source), line(line), text(text) {}

uint64_t readPiece(Input&& input, const TableLayout& layout, const TablePiece& piece,
                   unsigned threads, const IngestSizes& sizes, ReadRows& rows) {
    Reader reader(std::move(input), layout, piece, threads, sizes, rows);
    reader.run();
    return reader.nextLine();
}

TablePiece headerOf(const std::string& path, const TableLayout& layout, uint64_t& bytes) {
    ReadRows none;
    Reader reader(Input(path), layout, TablePiece(), 1, IngestSizes(), none);
    reader.header();
    bytes = reader.headerBytes();
    TablePiece after;
    after.header = false;
    after.firstLine = reader.nextLine();
    after.plan = reader.plan();
    return after;
}

namespace {

EventLog readWhole(Input&& input, const TableLayout& layout, unsigned threads,
                   const IngestSizes& sizes) {
    ReadRows rows;
    readPiece(std::move(input), layout, TablePiece(), threads, sizes, rows);
    return logOf(rows, threads, sizes);
}

} // namespace

EventLog readEventLog(const std::string& path, const TableLayout& layout, unsigned threads,
                      const IngestSizes& sizes) {
    return readWhole(Input(path), layout, threads, sizes);
}

EventLog parseEventLog(std::string_view bytes, const std::string& source, const TableLayout& layout,
                       unsigned threads, const IngestSizes& sizes) {
    return readWhole(Input(bytes, source), layout, threads, sizes);
}

EventLog readEventLog(const std::string& path, char delim, unsigned threads,
                      const IngestSizes& sizes) {
    TableLayout layout;
    layout.delimiter = delim;
    return readEventLog(path, layout, threads, sizes);
}

EventLog parseEventLog(std::string_view bytes, const std::string& source, char delim,
                       unsigned threads, const IngestSizes& sizes) {
    TableLayout layout;
    layout.delimiter = delim;
    return parseEventLog(bytes, source, layout, threads, sizes);
}

} // namespace quorvel::rule::mining
