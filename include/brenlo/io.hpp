// Byte devices (files, memory, strings, standard streams) and the text
// streams on top of them.
#pragma once

#include "brenlo/exception.hpp"
#include "brenlo/pointer.hpp"

#include <cstddef>
#include <ios>
#include <iosfwd>
#include <memory>
#include <string>

namespace brenlo {

/// Byte order of binary data, named by how the bytes 0..3 of a number lie.
enum Endianness { ENDIAN_LITTLE = 66051, ENDIAN_BIG = 50462976 };
extern Endianness HOST_ENDIAN;

} // namespace brenlo

namespace brenlo::io {

enum OpenMode { OPEN_READ = 1, OPEN_WRITE = 2, OPEN_READ_WRITE = 3 };
enum SeekWhence { WHENCE_SET = 1, WHENCE_CUR = 2, WHENCE_END = 4 };

typedef std::streamoff device_offset_t;
typedef std::streampos device_position_t;

/// A source or sink of bytes.
class Device {
public:
    /// What a block read or write returns when it fails.
    static constexpr size_t FAILED = static_cast<size_t>(-1);

    virtual ~Device() {}
    virtual bool canRead() const = 0;
    virtual bool canWrite() const = 0;
    virtual int seekCapability() const = 0;
    /// Up to `len` bytes; the count, or the largest size_t on failure.
    virtual size_t read(char* buf, size_t len) = 0;
    /// One byte as 0..255, or -1 at the end of the data.
    virtual int read();
    virtual size_t write(const char* buf, size_t len) = 0;
    virtual bool write(char c);
    virtual void seekg(device_offset_t offset, SeekWhence whence);
    virtual void seekp(device_offset_t offset, SeekWhence whence);
    virtual device_position_t tellg();
    virtual device_position_t tellp();
    /// What a stream built from a Device& holds.
    virtual Device* makeProxy() { return this; }

    static Device* wrap(std::istream& s);
    static Device* wrap(std::ostream& s);
    static Device* wrap(std::iostream& s);
    static Device* wrap(std::istream* s);
    static Device* wrap(std::ostream* s);
    static Device* wrap(std::iostream* s);
    /// Opens `path`; raises IOException naming the path and the reason on failure.
    static Device* fromFile(const std::string& path, int openFlags);
    static Device* wrapArray(void* buf, size_t len, int openMode);
    static Device* wrapString(const std::string& src, size_t off, size_t len);
};

class TextStream {
public:
    enum Newline { NL_DEFAULT = 0, NL_LF = 1, NL_CR = 2, NL_CRLF = 4, NL_LFCR = 8 };

    TextStream();
    explicit TextStream(Device* device);
    explicit TextStream(Device& device);
    virtual ~TextStream() {}

    mem::Pointer<Device> handle() const { return m_device; }
    size_t row() const { return m_row; }
    size_t col() const { return m_col; }

protected:
    mem::Pointer<Device> m_device;
    Endianness m_endian;
    size_t m_row;
    size_t m_col;
};

/// Reads characters with one character of look-ahead, folding every accepted
/// kind of line end into a line feed. Bytes are taken from the device a
/// block at a time; copies of a reader share that block, as they share the
/// device, so each byte is read once whichever copy reads it. The look-ahead
/// character is each reader's own.
class TextReader : public TextStream {
public:
    TextReader();
    TextReader(Device* device, int acceptNewlines);
    TextReader(Device& device, int acceptNewlines);
    TextReader(std::istream& src, int acceptNewlines);
    TextReader(std::iostream& src, int acceptNewlines);

    static TextReader fromFile(const std::string& path, int openFlags);

    int peek();
    int read();
    /// The next byte exactly as stored: no line-end folding (a line feed
    /// still counts as a row).
    int readRaw();
    size_t read(char* buf, size_t len);
    std::string readLine();

private:
    /// The next byte from the read-ahead buffer, refilled from the device a
    /// block at a time; -1 at the end.
    int m_fetch();

    struct ReadAhead {
        std::string bytes;
        size_t pos = 0;
    };

    int m_acceptNewlines;
    int m_last;
    std::shared_ptr<ReadAhead> m_ahead = std::make_shared<ReadAhead>();
};

/// Writes characters, strings and numbers; a line end is one line feed.
class TextWriter : public TextStream {
public:
    TextWriter();
    explicit TextWriter(Device* device);
    explicit TextWriter(Device& device);
    explicit TextWriter(std::ostream& dest);
    explicit TextWriter(std::iostream& dest);

    static TextWriter fromFile(const std::string& path, int openFlags);

    size_t write(int c);
    size_t writeLine();
    size_t write(const char* buf, size_t len);
    size_t write(const std::string& str);
    size_t write(const std::string& str, size_t i);
    size_t write(const std::string& str, size_t i, size_t len);
    size_t writeString(const char* str);
    size_t writeString(const std::string& str);
    size_t writeLine(const char* str);
    size_t writeLine(const std::string& str);
    size_t writeFloat(double d);
    size_t writeBool(bool b);
    size_t writeSInt(int v);
    size_t writeSInt(long v);
    size_t writeUInt(int v);
    size_t writeUInt(long v);
    size_t writeSizeT(size_t v);
};

} // namespace brenlo::io
