// Delimited rows: the formats that say what a delimiter, a quote and a row
// end are, and the pull parser that walks rows and cells.
#pragma once

#include "brenlo/io.hpp"
#include "brenlo/pointer.hpp"
#include "brenlo/string.hpp"

#include <iosfwd>
#include <string>

namespace brenlo::io {

class DelimitedRowFormat {
public:
    static const char* const DEFAULT_QUOTES;

    explicit DelimitedRowFormat(const char* quotes);

    virtual bool isDelim(int c) const = 0;
    virtual bool isComment(int c) const;
    virtual bool shouldQuote(const std::string& s) const;
    virtual bool shouldEscape(const std::string& s) const;
    virtual std::string unescape(const std::string& s) const = 0;
    virtual std::string unquote(char q, const std::string& s) const;
    /// A row ends at a line feed or a carriage return (alone or before a line feed).
    virtual bool endRow(TextReader& r) const;
    virtual std::string readCell(TextReader& r) const;
    virtual std::string quote(char q, const std::string& s) const;
    virtual std::string escape(const std::string& s) const = 0;
    virtual size_t escape(TextWriter& w, const std::string& s) const;
    virtual size_t writeDelim(TextWriter& w) const = 0;
    virtual size_t writeCell(TextWriter& w, const std::string& s, bool raw) const;

    bool isQuote(int c) const;
    char defaultQuote() const;
    char ensureQuote(char q) const;
    bool endCell(TextReader& r) const;
    std::string quote(const std::string& s) const { return quote('\0', s); }
    std::string unquote(const std::string& s) const { return unquote('\0', s); }

    static std::string s_consumeQuoted(const DelimitedRowFormat& format, TextReader& r);
    static std::string s_consumeUnquoted(const DelimitedRowFormat& format, TextReader& r);

    virtual ~DelimitedRowFormat() {}

protected:
    string::Alphabet m_quotes;
};

class CharDelimitedRowFormat : public DelimitedRowFormat {
public:
    CharDelimitedRowFormat(char delim, const char* quotes);
    char delim() const { return m_delim; }
    bool isDelim(int c) const override;
    size_t writeDelim(TextWriter& w) const override;

protected:
    char m_delim;
};

class RFC4180DelimitedRowFormat : public CharDelimitedRowFormat {
public:
    RFC4180DelimitedRowFormat(char delim, const char* quotes);
    std::string escape(const std::string& s) const override { return s; }
    using DelimitedRowFormat::escape;
    std::string unescape(const std::string& s) const override { return s; }
};

/// Stores an escape and a comment character; reads like the RFC 4180 format.
class EscapedDelimitedRowFormat : public CharDelimitedRowFormat {
public:
    EscapedDelimitedRowFormat(char delim, const char* quotes, char escape, char comment);
    std::string escape(const std::string& s) const override { return s; }
    using DelimitedRowFormat::escape;
    std::string unescape(const std::string& s) const override { return s; }
    char escapeChar() const { return m_escape; }
    char commentChar() const { return m_comment; }

private:
    char m_escape;
    char m_comment;
};

/// Protocol: while hasRow(), call hasCell() and, each time it is true,
/// nextCell(); a false hasCell() has consumed the row end.
class DelimitedRowParser {
public:
    explicit DelimitedRowParser(const DelimitedRowFormat* format);
    DelimitedRowParser(Device* device, char delim, const char* quote, char escape);
    DelimitedRowParser(Device& device, char delim, const char* quote, char escape);
    virtual ~DelimitedRowParser() {}

    static DelimitedRowParser createRFC4180(char delim, const char* quote);
    static DelimitedRowParser createRFC4180(std::istream& src, char delim, const char* quote);
    static DelimitedRowParser createRFC4180(TextReader& src, char delim, const char* quote);
    static DelimitedRowParser createRFC4180(Device* src, char delim, const char* quote);
    static DelimitedRowParser createRFC4180(Device& src, char delim, const char* quote);
    static DelimitedRowParser createRFC4180(const std::string& path, char delim, const char* quote);
    static DelimitedRowParser createEscaped(char delim, const char* quote, char escape,
                                            char comment);
    static DelimitedRowParser createEscaped(std::istream& src, char delim, const char* quote,
                                            char escape, char comment);
    static DelimitedRowParser createEscaped(TextReader& src, char delim, const char* quote,
                                            char escape, char comment);
    static DelimitedRowParser createEscaped(Device* src, char delim, const char* quote, char escape,
                                            char comment);
    static DelimitedRowParser createEscaped(Device& src, char delim, const char* quote, char escape,
                                            char comment);
    static DelimitedRowParser createEscaped(const std::string& path, char delim, const char* quote,
                                            char escape, char comment);

    void open(std::istream& src);
    void open(TextReader& r);
    void open(Device* d);
    void open(Device& d);
    void open(const std::string& path, int openFlags = OPEN_READ);
    void openFromString(const std::string& s);

    bool hasRow();
    bool hasCell();
    std::string nextCell();

    char delim() const { return m_delim; }
    char escapeChar() const { return m_escape; }
    char commentChar() const { return m_comment; }
    size_t row() const { return m_src.row(); }
    size_t col() const { return m_src.col(); }
    const DelimitedRowFormat& format() const { return *m_format; }

private:
    void m_reset(const TextReader& r);

    TextReader m_src;
    char m_delim;
    const char* m_quote;
    char m_escape;
    char m_comment;
    mem::Pointer<DelimitedRowFormat> m_format;
    bool m_rowStart;
};

} // namespace brenlo::io
