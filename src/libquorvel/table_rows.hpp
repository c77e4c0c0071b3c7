// The row loop every table reader shares: gzip inflated, the header skipped
// (a byte-order mark before it dropped, a binary file refused), blank lines
// passed over, RFC 4180 cells, and every error located as SOURCE:LINE.
#pragma once

#include "brenlo/compressed.hpp"
#include "brenlo/exception.hpp"
#include "brenlo/table.hpp"

#include <fstream>
#include <memory>
#include <string>

namespace quorvel::rule {

class TableRows {
public:
    /// Skips the header line of `src`. `source` names the input in errors
    /// (a path, or "standard input"); without one, errors say "line N".
    TableRows(std::istream& src, char delim, const std::string& source);

    /// Calls `readRow(*this)` for every row that is not blank. An error
    /// raised inside is raised again with SOURCE:LINE: in front of its
    /// message, thrown as it came (by value or as a pointer).
    template <class F> void forEachRow(F readRow);

    bool hasCell() { return m_parser.hasCell(); }
    /// The next cell; a quoted cell that is never closed raises an error
    /// naming the line where its quote opened.
    std::string cell();
    /// The line the current row starts on, counting the header as line 1.
    size_t line() const { return m_line; }
    /// The header line, without its line end or a byte-order mark.
    const std::string& header() const { return m_header; }
    /// Refuses the whole table: "SOURCE:1: TEXT".
    [[noreturn]] void refuseTable(const std::string& text) const;

private:
    // An error that already says where it happened.
    class Located : public brenlo::IOException {
    public:
        using IOException::IOException;
    };

    bool nextRow();
    /// Compressed data that cannot be read: "SOURCE: MESSAGE", no line.
    Located undecodable(const brenlo::io::DecodeError& e) const;
    std::string where(size_t line) const;
    [[noreturn]] void rethrowLocated();

    std::istream& decodedHeaderSkipped();

    std::string m_source;
    std::unique_ptr<brenlo::io::DecodingBuf> m_decoding;
    std::unique_ptr<std::istream> m_decoded;
    std::string m_header;
    brenlo::io::DelimitedRowParser m_parser;
    size_t m_line = 1;
};

template <class F> void TableRows::forEachRow(F readRow) {
    for (;;) {
        try {
            if (!nextRow())
                return;
            readRow(*this);
        } catch (...) {
            rethrowLocated();
        }
    }
}

/// Every byte of `src`, inflated when it is gzip data; data that cannot be
/// decoded raises brenlo::IOException naming `source`.
std::string decodedText(std::istream& src, const std::string& source);

/// Opens `path` for reading, raising brenlo::IOException with the system's
/// reason when it cannot be read (a folder included).
std::ifstream openTable(const std::string& path);

/// The file form of a table reader: `table` reads `path`, named in errors.
template <class Table> void readTableFile(Table& table, const std::string& path, char delim) {
    std::ifstream in = openTable(path);
    table.readInto(in, delim, path);
}

} // namespace quorvel::rule
