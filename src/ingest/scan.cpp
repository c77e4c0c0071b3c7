#include "scan.hpp"

#include <cstring>

namespace quorvel::rule::mining {

namespace {

// Where the unquoted cell starting at `p` ends: the first delimiter, line
// feed or carriage return, or `end`. Eight bytes at a time: a byte equal to
// one of the three shows as a zero byte of the word XORed with it.
const char* cellEnd(const char* p, const char* end, char delim) {
    const uint64_t ONES = 0x0101010101010101ull, HIGHS = 0x8080808080808080ull;
    const uint64_t d = ONES * static_cast<unsigned char>(delim), lf = ONES * '\n', cr = ONES * '\r';
    auto zeroByte = [&](uint64_t v) { return (v - ONES) & ~v & HIGHS; };
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    while (end - p >= 8) {
        uint64_t w;
        std::memcpy(&w, p, 8);
        const uint64_t hit = zeroByte(w ^ d) | zeroByte(w ^ lf) | zeroByte(w ^ cr);
        if (hit)
            return p + (__builtin_ctzll(hit) >> 3);
        p += 8;
    }
#endif
    while (p < end && *p != delim && *p != '\n' && *p != '\r')
        ++p;
    return p;
}

} // namespace

// Consumes the line end at `p`: LF or CR, with a following CR or LF folded
// into it. `more` when the folding byte is not here yet.
bool RowScanner::lineEnd(size_t& p, bool& more) const {
    const char c = m_data[p];
    if (c != '\n' && c != '\r')
        return false;
    if (p + 1 >= m_size && !m_atEnd) {
        more = true;
        return true;
    }
    const char pair = c == '\n' ? '\r' : '\n';
    p += p + 1 < m_size && m_data[p + 1] == pair ? 2 : 1;
    return true;
}

bool RowScanner::endsCell(size_t p) const {
    if (p >= m_size)
        return m_atEnd;
    const char c = m_data[p];
    return c == m_delim || c == '\n' || c == '\r';
}

// A quoted cell from its opening quote at `p`. Inside, every byte is data
// and a doubled quote is one; a closing quote followed by more text keeps
// the whole cell as written, quotes included.
RowScanner::Cell RowScanner::quoted(size_t& p, uint64_t& lines, std::string& text) {
    text.clear();
    size_t i = p + 1;
    for (;;) {
        if (i >= m_size)
            return m_atEnd ? CELL_UNCLOSED : CELL_MORE;
        const char c = m_data[i++];
        if (c != '"') {
            lines += c == '\n';
            text += c;
            continue;
        }
        if (i >= m_size && !m_atEnd)
            return CELL_MORE;
        if (i < m_size && m_data[i] == '"') {
            text += '"';
            ++i;
            continue;
        }
        if (endsCell(i)) {
            p = i;
            return CELL;
        }
        text = '"' + text + '"';
        while (i < m_size && !endsCell(i))
            text += m_data[i++];
        if (i >= m_size && !m_atEnd)
            return CELL_MORE;
        p = i;
        return CELL;
    }
}

RowScanner::Result RowScanner::next() {
    if (m_pos >= m_size)
        return m_atEnd ? END : MORE;
    size_t p = m_pos;
    uint64_t lines = m_lines;
    bool more = false;
    m_rowLines = lines;
    if (lineEnd(p, more)) {
        if (more)
            return MORE;
        m_pos = p;
        m_lines = lines + 1;
        return BLANK;
    }
    m_cells.clear();
    size_t quotedCells = 0;
    for (;;) {
        m_cellLines = lines;
        if (p < m_size && m_data[p] == '"') {
            if (m_quoted.size() <= quotedCells)
                m_quoted.emplace_back();
            std::string& text = m_quoted[quotedCells++];
            const Cell got = quoted(p, lines, text);
            if (got == CELL_MORE)
                return MORE;
            if (got == CELL_UNCLOSED)
                return UNCLOSED;
            m_cells.emplace_back(text);
        } else {
            const size_t start = p;
            p = static_cast<size_t>(cellEnd(m_data + p, m_data + m_size, m_delim) - m_data);
            if (p >= m_size && !m_atEnd)
                return MORE;
            m_cells.emplace_back(m_data + start, p - start);
        }
        if (p >= m_size)
            break; // the data ends the row
        if (m_data[p] == m_delim) {
            ++p;
            if (p >= m_size && !m_atEnd)
                return MORE;
            continue;
        }
        lineEnd(p, more);
        if (more)
            return MORE;
        ++lines;
        break;
    }
    m_pos = p;
    m_lines = lines;
    return ROW;
}

} // namespace quorvel::rule::mining
