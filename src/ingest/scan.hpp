// Rows of a transaction table straight from its bytes, exactly as the rule
// model's table reader takes them: RFC 4180 quotes (a line end inside quotes
// is data), LF, CR, CR LF and LF CR as one line end each, blank lines
// passed over, and every line counted for error messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::rule::mining {

class RowScanner {
public:
    enum Result {
        ROW,      // a row: cells()
        BLANK,    // a line with no characters
        MORE,     // the row goes on past the bytes given
        END,      // no more rows
        UNCLOSED, // a quoted cell reaches the end of the data: cells() up to it
    };

    /// Scans `data`, which starts at a row start; `atEnd` when nothing
    /// follows the bytes given.
    RowScanner(const char* data, size_t size, bool atEnd, char delim)
        : m_data(data), m_size(size), m_atEnd(atEnd), m_delim(delim) {}

    Result next();

    /// The cells of the last row (views into the data, or into the
    /// scanner's own storage for quoted cells).
    const std::vector<std::string_view>& cells() const { return m_cells; }
    /// Line ends passed before the last row started / before its unclosed
    /// cell started.
    uint64_t rowLines() const { return m_rowLines; }
    uint64_t cellLines() const { return m_cellLines; }
    /// Line ends passed and bytes consumed by the complete rows so far.
    uint64_t lines() const { return m_lines; }
    size_t consumed() const { return m_pos; }

private:
    enum Cell { CELL, CELL_MORE, CELL_UNCLOSED };
    Cell quoted(size_t& p, uint64_t& lines, std::string& text);
    bool lineEnd(size_t& p, bool& more) const;
    bool endsCell(size_t p) const;

    const char* m_data;
    size_t m_size;
    bool m_atEnd;
    char m_delim;
    size_t m_pos = 0;
    uint64_t m_lines = 0, m_rowLines = 0, m_cellLines = 0;
    std::vector<std::string_view> m_cells;
    std::deque<std::string> m_quoted; // storage of the row's quoted cells; never moves
};

} // namespace quorvel::rule::mining
