#include "brenlo/io.hpp"
#include "brenlo/string.hpp"

#include <algorithm>
#include <cstring>
#include <iostream>
#include <string>

namespace brenlo::io {

TextStream::TextStream() : m_endian(ENDIAN_LITTLE), m_row(0), m_col(0) {}
TextStream::TextStream(Device* device)
    : m_device(device, nullptr), m_endian(ENDIAN_LITTLE), m_row(0), m_col(0) {}
TextStream::TextStream(Device& device) : TextStream(device.makeProxy()) {}

static int acceptAll(int accept) {
    return accept == TextStream::NL_DEFAULT
               ? (TextStream::NL_LF | TextStream::NL_CR | TextStream::NL_CRLF | TextStream::NL_LFCR)
               : accept;
}

TextReader::TextReader() : m_acceptNewlines(acceptAll(NL_DEFAULT)), m_last(-1) {}
TextReader::TextReader(Device* device, int acceptNewlines)
    : TextStream(device), m_acceptNewlines(acceptAll(acceptNewlines)), m_last(-1) {}
TextReader::TextReader(Device& device, int acceptNewlines)
    : TextStream(device), m_acceptNewlines(acceptAll(acceptNewlines)), m_last(-1) {}
TextReader::TextReader(std::istream& src, int acceptNewlines)
    : TextReader(Device::wrap(src), acceptNewlines) {}
TextReader::TextReader(std::iostream& src, int acceptNewlines)
    : TextReader(Device::wrap(src), acceptNewlines) {}

TextReader TextReader::fromFile(const std::string& path, int openFlags) {
    return TextReader(Device::fromFile(path, openFlags ? openFlags : OPEN_READ), NL_DEFAULT);
}

int TextReader::m_fetch() {
    ReadAhead& a = *m_ahead;
    if (a.pos < a.bytes.size())
        return static_cast<unsigned char>(a.bytes[a.pos++]);
    if (!m_device)
        return -1;
    const size_t BLOCK = 1 << 16;
    a.bytes.resize(BLOCK);
    size_t n = m_device->read(&a.bytes[0], BLOCK);
    if (n == Device::FAILED || n == 0) {
        a.bytes.clear();
        a.pos = 0;
        return -1;
    }
    a.bytes.resize(n);
    a.pos = 1;
    return static_cast<unsigned char>(a.bytes[0]);
}

int TextReader::peek() {
    if (m_last == -1)
        m_last = m_fetch();
    return m_last;
}

int TextReader::read() {
    int c = m_last != -1 ? m_last : m_fetch();
    m_last = -1;
    if (c == -1)
        return -1;
    bool lineEnd = false;
    if (c == '\n') {
        if ((m_acceptNewlines & NL_LFCR) && peek() == '\r') {
            m_last = -1;
            lineEnd = true;
        } else {
            lineEnd = m_acceptNewlines & NL_LF;
        }
    } else if (c == '\r') {
        if ((m_acceptNewlines & NL_CRLF) && peek() == '\n') {
            m_last = -1;
            lineEnd = true;
        } else {
            lineEnd = m_acceptNewlines & NL_CR;
        }
    }
    if (lineEnd) {
        ++m_row;
        m_col = 0;
        return '\n';
    }
    ++m_col;
    return c;
}

int TextReader::readRaw() {
    int c = m_last != -1 ? m_last : m_fetch();
    m_last = -1;
    if (c == '\n') {
        ++m_row;
        m_col = 0;
    } else if (c != -1) {
        ++m_col;
    }
    return c;
}

size_t TextReader::read(char* buf, size_t len) {
    // Bytes already read ahead come first.
    ReadAhead& a = *m_ahead;
    size_t n = std::min(len, a.bytes.size() - a.pos);
    std::memcpy(buf, a.bytes.data() + a.pos, n);
    a.pos += n;
    if (n < len && m_device) {
        size_t more = m_device->read(buf + n, len - n);
        if (more != Device::FAILED)
            n += more;
    }
    if (n == 0)
        return 0;
    size_t out = 0;
    for (size_t in = 0; in < n; ++in, ++out) {
        char c = buf[in];
        int after = in + 1 < n ? static_cast<unsigned char>(buf[in + 1]) : 0xFF;
        bool lineEnd = false;
        if ((c == '\n' && after == '\r' && (m_acceptNewlines & NL_LFCR)) ||
            (c == '\r' && after == '\n' && (m_acceptNewlines & NL_CRLF))) {
            lineEnd = true;
            ++in;
        } else if ((c == '\n' && (m_acceptNewlines & NL_LF)) ||
                   (c == '\r' && (m_acceptNewlines & NL_CR))) {
            lineEnd = true;
        }
        if (lineEnd) {
            buf[out] = '\n';
            ++m_row;
            m_col = 0;
        } else {
            buf[out] = c;
            ++m_col;
        }
    }
    return out;
}

std::string TextReader::readLine() {
    size_t row = m_row;
    std::string line;
    for (;;) {
        int c = read();
        if (c == -1 || m_row != row)
            break;
        line += static_cast<char>(c);
    }
    return line;
}

TextWriter::TextWriter() {}
TextWriter::TextWriter(Device* device) : TextStream(device) {}
TextWriter::TextWriter(Device& device) : TextStream(device) {}
TextWriter::TextWriter(std::ostream& dest) : TextStream(Device::wrap(dest)) {}
TextWriter::TextWriter(std::iostream& dest) : TextStream(Device::wrap(dest)) {}

TextWriter TextWriter::fromFile(const std::string& path, int openFlags) {
    return TextWriter(Device::fromFile(path, openFlags ? openFlags : OPEN_WRITE));
}

size_t TextWriter::write(int c) {
    if (c == '\n')
        return writeLine();
    bool ok = m_device && m_device->write(static_cast<char>(c));
    ++m_col;
    return ok ? 1 : 0;
}

size_t TextWriter::writeLine() {
    if (!m_device || !m_device->write('\n'))
        return 0;
    m_col = 0;
    ++m_row;
    return 1;
}

size_t TextWriter::write(const char* buf, size_t len) {
    size_t sum = 0;
    for (size_t k = 0; k < len; ++k)
        sum += write(static_cast<int>(static_cast<unsigned char>(buf[k])));
    return sum;
}

size_t TextWriter::write(const std::string& str) {
    return write(str, 0, Device::FAILED);
}
size_t TextWriter::write(const std::string& str, size_t i) {
    return write(str, i, Device::FAILED);
}
size_t TextWriter::write(const std::string& str, size_t i, size_t len) {
    if (i >= str.size())
        return 0;
    size_t end = (len == Device::FAILED || len > str.size() - i) ? str.size() : i + len;
    return write(str.data() + i, end - i);
}
size_t TextWriter::writeString(const char* str) {
    return write(str, std::strlen(str));
}
size_t TextWriter::writeString(const std::string& str) {
    return write(str);
}
size_t TextWriter::writeLine(const char* str) {
    size_t n = writeString(str);
    if (n == Device::FAILED)
        return n;
    return n + writeLine();
}
size_t TextWriter::writeLine(const std::string& str) {
    return writeLine(str.c_str());
}
size_t TextWriter::writeFloat(double d) {
    return write(string::strprintf("%f", d));
}
size_t TextWriter::writeBool(bool b) {
    return writeString(b ? "true" : "false");
}
size_t TextWriter::writeSInt(int v) {
    return write(std::to_string(v));
}
size_t TextWriter::writeSInt(long v) {
    return write(std::to_string(v));
}
size_t TextWriter::writeUInt(int v) {
    return write(std::to_string(static_cast<unsigned int>(v)));
}
size_t TextWriter::writeUInt(long v) {
    return write(std::to_string(static_cast<unsigned long>(v)));
}
size_t TextWriter::writeSizeT(size_t v) {
    return write(std::to_string(v));
}

} // namespace brenlo::io
