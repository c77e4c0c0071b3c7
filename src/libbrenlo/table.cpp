#include "brenlo/table.hpp"

#include <istream>
#include <new>

namespace brenlo::io {

const char* const DelimitedRowFormat::DEFAULT_QUOTES = "\"";

DelimitedRowFormat::DelimitedRowFormat(const char* quotes)
    : m_quotes(quotes ? quotes : DEFAULT_QUOTES, false) {}

bool DelimitedRowFormat::isComment(int) const {
    return false;
}
bool DelimitedRowFormat::shouldQuote(const std::string&) const {
    return true;
}
bool DelimitedRowFormat::shouldEscape(const std::string&) const {
    return false;
}

bool DelimitedRowFormat::isQuote(int c) const {
    return c >= 0 && c <= 255 && m_quotes.match(static_cast<char>(c));
}

char DelimitedRowFormat::defaultQuote() const {
    return m_quotes.empty() ? '\0' : m_quotes[0];
}
char DelimitedRowFormat::ensureQuote(char q) const {
    return q ? q : defaultQuote();
}

bool DelimitedRowFormat::endRow(TextReader& r) const {
    int c = r.peek();
    return c == '\n' || c == '\r';
}

bool DelimitedRowFormat::endCell(TextReader& r) const {
    int c = r.peek();
    return c == -1 || isDelim(c) || endRow(r);
}

std::string DelimitedRowFormat::readCell(TextReader& r) const {
    int c = r.peek();
    if (c == -1)
        return std::string();
    return isQuote(c) ? s_consumeQuoted(*this, r) : s_consumeUnquoted(*this, r);
}

std::string DelimitedRowFormat::s_consumeUnquoted(const DelimitedRowFormat& format, TextReader& r) {
    std::string text;
    while (!format.endCell(r))
        text += static_cast<char>(r.read());
    return text;
}

std::string DelimitedRowFormat::s_consumeQuoted(const DelimitedRowFormat& format, TextReader& r) {
    const size_t opened = r.row();
    const char q = static_cast<char>(r.read());
    const int qc = static_cast<unsigned char>(q);
    std::string text;
    for (;;) {
        // Raw bytes: a line end inside quotes is kept exactly as written.
        int c = r.readRaw();
        if (c == -1)
            throw IOException(string::strprintf("A quoted cell opened on line %lu is never closed.",
                                                static_cast<unsigned long>(opened + 1)));
        if (c != qc) {
            text += static_cast<char>(c);
            continue;
        }
        if (r.peek() == qc) {
            r.readRaw();
            text += q;
            continue;
        }
        if (format.endCell(r))
            return text;
        std::string rest(1, q);
        rest += text;
        rest += q;
        while (!format.endCell(r))
            rest += static_cast<char>(r.read());
        return rest;
    }
}

std::string DelimitedRowFormat::quote(char q, const std::string& s) const {
    q = ensureQuote(q);
    if (q == '\0')
        return s;
    std::string out(1, q);
    for (char c : s) {
        out += c;
        if (c == q)
            out += c;
    }
    out += q;
    return out;
}

std::string DelimitedRowFormat::unquote(char q, const std::string& s) const {
    if (s.size() < 2)
        return s;
    if (q == '\0') {
        q = s[0];
        if (!m_quotes.match(q))
            return s;
    }
    if (s[s.size() - 1] != q)
        return s;
    std::string out;
    for (size_t k = 1; k + 1 < s.size(); ++k) {
        out += s[k];
        if (s[k] == q && k + 2 < s.size() && s[k + 1] == q)
            ++k;
    }
    return out;
}

size_t DelimitedRowFormat::escape(TextWriter& w, const std::string& s) const {
    return w.write(escape(s));
}

size_t DelimitedRowFormat::writeCell(TextWriter& w, const std::string& s, bool raw) const {
    if (raw)
        return w.write(s);
    if (shouldQuote(s))
        return w.write(quote(s));
    if (shouldEscape(s))
        return w.write(escape(s));
    return w.write(s);
}

CharDelimitedRowFormat::CharDelimitedRowFormat(char delim, const char* quotes)
    : DelimitedRowFormat(quotes), m_delim(delim) {}

bool CharDelimitedRowFormat::isDelim(int c) const {
    return c == static_cast<unsigned char>(m_delim);
}

size_t CharDelimitedRowFormat::writeDelim(TextWriter& w) const {
    return w.write(static_cast<int>(static_cast<unsigned char>(m_delim)));
}

RFC4180DelimitedRowFormat::RFC4180DelimitedRowFormat(char delim, const char* quotes)
    : CharDelimitedRowFormat(delim, quotes) {}

EscapedDelimitedRowFormat::EscapedDelimitedRowFormat(char delim, const char* quotes, char escape,
                                                     char comment)
    : CharDelimitedRowFormat(delim, quotes), m_escape(escape), m_comment(comment) {}

// ---- parser ----

DelimitedRowParser::DelimitedRowParser(const DelimitedRowFormat* format)
    : m_delim(','), m_quote(nullptr), m_escape('\0'), m_comment('\0'), m_format(format, nullptr),
      m_rowStart(true) {}

DelimitedRowParser::DelimitedRowParser(Device* device, char delim, const char* quote, char escape)
    : m_delim(delim ? delim : ','), m_quote(quote ? quote : DelimitedRowFormat::DEFAULT_QUOTES),
      m_escape(escape), m_comment('\0'),
      m_format(new RFC4180DelimitedRowFormat(m_delim, m_quote), nullptr), m_rowStart(true) {
    open(device);
}

DelimitedRowParser::DelimitedRowParser(Device& device, char delim, const char* quote, char escape)
    : DelimitedRowParser(device.makeProxy(), delim, quote, escape) {}

DelimitedRowParser DelimitedRowParser::createRFC4180(char delim, const char* quote) {
    return DelimitedRowParser(new RFC4180DelimitedRowFormat(delim, quote));
}

DelimitedRowParser DelimitedRowParser::createEscaped(char delim, const char* quote, char escape,
                                                     char comment) {
    auto* format = new (std::nothrow) EscapedDelimitedRowFormat(delim, quote, escape, comment);
    if (!format)
        throw new AllocationException(
            "Could not allocate the format object for an escaped row parser.");
    return DelimitedRowParser(format);
}

namespace {

// A parser opened on `src`: every source form of the factories.
template <class Source> DelimitedRowParser opened(DelimitedRowParser p, Source& src) {
    p.open(src);
    return p;
}

} // namespace

DelimitedRowParser DelimitedRowParser::createRFC4180(std::istream& src, char delim,
                                                     const char* quote) {
    return opened(createRFC4180(delim, quote), src);
}
DelimitedRowParser DelimitedRowParser::createRFC4180(TextReader& src, char delim,
                                                     const char* quote) {
    return opened(createRFC4180(delim, quote), src);
}
DelimitedRowParser DelimitedRowParser::createRFC4180(Device* src, char delim, const char* quote) {
    return opened(createRFC4180(delim, quote), src);
}
DelimitedRowParser DelimitedRowParser::createRFC4180(Device& src, char delim, const char* quote) {
    return opened(createRFC4180(delim, quote), src);
}
DelimitedRowParser DelimitedRowParser::createRFC4180(const std::string& path, char delim,
                                                     const char* quote) {
    return opened(createRFC4180(delim, quote), path);
}
DelimitedRowParser DelimitedRowParser::createEscaped(std::istream& src, char delim,
                                                     const char* quote, char escape, char comment) {
    return opened(createEscaped(delim, quote, escape, comment), src);
}
DelimitedRowParser DelimitedRowParser::createEscaped(TextReader& src, char delim, const char* quote,
                                                     char escape, char comment) {
    return opened(createEscaped(delim, quote, escape, comment), src);
}
DelimitedRowParser DelimitedRowParser::createEscaped(Device* src, char delim, const char* quote,
                                                     char escape, char comment) {
    return opened(createEscaped(delim, quote, escape, comment), src);
}
DelimitedRowParser DelimitedRowParser::createEscaped(Device& src, char delim, const char* quote,
                                                     char escape, char comment) {
    return opened(createEscaped(delim, quote, escape, comment), src);
}
DelimitedRowParser DelimitedRowParser::createEscaped(const std::string& path, char delim,
                                                     const char* quote, char escape, char comment) {
    return opened(createEscaped(delim, quote, escape, comment), path);
}

void DelimitedRowParser::m_reset(const TextReader& r) {
    m_src = r;
    m_rowStart = true;
}

void DelimitedRowParser::open(std::istream& src) {
    m_reset(TextReader(src, TextStream::NL_DEFAULT));
}
void DelimitedRowParser::open(TextReader& r) {
    m_reset(r);
}
void DelimitedRowParser::open(Device* d) {
    m_reset(TextReader(d, TextStream::NL_DEFAULT));
}
void DelimitedRowParser::open(Device& d) {
    m_reset(TextReader(d, TextStream::NL_DEFAULT));
}
void DelimitedRowParser::open(const std::string& path, int openFlags) {
    m_reset(TextReader(Device::fromFile(path, openFlags | OPEN_READ), TextStream::NL_DEFAULT));
}
void DelimitedRowParser::openFromString(const std::string& s) {
    m_reset(TextReader(Device::wrapString(s, 0, std::string::npos), TextStream::NL_DEFAULT));
}

bool DelimitedRowParser::hasRow() {
    return m_src.peek() != -1;
}

bool DelimitedRowParser::hasCell() {
    int c = m_src.peek();
    if (m_format->endRow(m_src)) {
        m_src.read();
        m_rowStart = true;
        return false;
    }
    if (c == -1)
        return false;
    // The delimiter in front of a row's first cell belongs to an empty cell.
    if (!m_rowStart && m_format->isDelim(c))
        m_src.read();
    return true;
}

std::string DelimitedRowParser::nextCell() {
    m_rowStart = false;
    int c = m_src.peek();
    if (c == -1 || m_format->endRow(m_src))
        return std::string();
    return m_format->readCell(m_src);
}

} // namespace brenlo::io
