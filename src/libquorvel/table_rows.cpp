#include "table_rows.hpp"

#include "brenlo/string.hpp"
#include "quorvel/table_kind.hpp"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <istream>
#include <memory>
#include <stdexcept>
#include <sys/stat.h>

namespace quorvel::rule {

namespace {

// Skips the header: everything up to the first line end of any kind. The
// first bytes of it are kept, enough to tell what table it heads.
void skipHeader(std::istream& src, std::string& header) {
    std::istream::sentry guard(src, true);
    if (!guard)
        return;
    std::streambuf* buf = src.rdbuf();
    const size_t KEEP = 1 << 16;
    for (;;) {
        int c = buf->sbumpc();
        if (c == std::char_traits<char>::eof()) {
            src.setstate(std::ios::eofbit);
            return;
        }
        if (c == '\n')
            return;
        if (c == '\r') {
            if (buf->sgetc() == '\n')
                buf->sbumpc();
            return;
        }
        if (header.size() < KEEP)
            header.push_back(static_cast<char>(c));
    }
}

// Messages of the row checks end in a line feed; the location goes in front.
std::string withoutLineEnd(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

} // namespace

TableRows::TableRows(std::istream& src, char delim, const std::string& source)
    : m_source(source), m_decoding(new brenlo::io::DecodingBuf(src.rdbuf())),
      m_decoded(new std::istream(m_decoding.get())),
      m_parser(
          brenlo::io::DelimitedRowParser::createRFC4180(decodedHeaderSkipped(), delim, nullptr)) {}

std::istream& TableRows::decodedHeaderSkipped() {
    // What the decoder cannot read is raised, not taken for the end.
    m_decoded->exceptions(std::ios::badbit);
    try {
        skipHeader(*m_decoded, m_header);
    } catch (const brenlo::io::DecodeError& e) {
        throw undecodable(e);
    }
    if (m_header.compare(0, BYTE_ORDER_MARK.size(), BYTE_ORDER_MARK) == 0)
        m_header.erase(0, BYTE_ORDER_MARK.size());
    if (looksBinary(m_header))
        refuseTable(notTextMessage(m_header));
    return *m_decoded;
}

TableRows::Located TableRows::undecodable(const brenlo::io::DecodeError& e) const {
    return Located(m_source.empty() ? e.what() : m_source + ": " + e.what());
}

void TableRows::refuseTable(const std::string& text) const {
    throw Located(where(1) + text);
}

bool TableRows::nextRow() {
    while (m_parser.hasRow()) {
        m_line = m_parser.row() + 2;
        // At a row's start hasCell() consumes nothing unless the line is blank.
        if (m_parser.hasCell())
            return true;
    }
    return false;
}

std::string TableRows::cell() {
    const size_t line = m_parser.row() + 2;
    try {
        return m_parser.nextCell();
    } catch (const brenlo::IOException&) {
        throw Located(where(line) + "A quoted cell is never closed: its quote opens here.");
    }
}

std::string TableRows::where(size_t line) const {
    if (m_source.empty())
        return brenlo::string::strprintf("line %lu: ", static_cast<unsigned long>(line));
    return brenlo::string::strprintf("%s:%lu: ", m_source.c_str(),
                                     static_cast<unsigned long>(line));
}

void TableRows::rethrowLocated() {
    try {
        throw;
    } catch (const Located&) {
        throw;
    } catch (brenlo::IOException* e) {
        std::unique_ptr<brenlo::IOException> owned(e);
        throw new brenlo::IOException(where(m_line) + withoutLineEnd(e->why()));
    } catch (const brenlo::IOException& e) {
        throw brenlo::IOException(where(m_line) + withoutLineEnd(e.why()));
    } catch (const std::ios_base::failure&) {
        int err = errno ? errno : EIO;
        throw brenlo::IOException(where(m_line) + "Cannot read: " + std::strerror(err));
    } catch (const brenlo::io::DecodeError& e) {
        throw undecodable(e);
    }
}

std::string decodedText(std::istream& src, const std::string& source) {
    brenlo::io::DecodingBuf buf(src.rdbuf());
    std::string text;
    try {
        char block[1 << 16];
        for (std::streamsize n; (n = buf.sgetn(block, sizeof block)) > 0;)
            text.append(block, static_cast<size_t>(n));
    } catch (const brenlo::io::DecodeError& e) {
        throw brenlo::IOException(source.empty() ? e.what() : source + ": " + e.what());
    }
    return text;
}

std::ifstream openTable(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        throw brenlo::IOException(brenlo::string::strprintf("Cannot open \"%s\": %s", path.c_str(),
                                                            std::strerror(EISDIR)));
    errno = 0;
    std::ifstream in(path, std::ios::in | std::ios::binary);
    if (!in.is_open())
        throw brenlo::IOException(brenlo::string::strprintf("Cannot open \"%s\": %s", path.c_str(),
                                                            std::strerror(errno ? errno : ENOENT)));
    return in;
}

} // namespace quorvel::rule
