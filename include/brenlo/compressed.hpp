// Compressed bytes told by their first bytes, and gzip decoded as it is read.
#pragma once

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <streambuf>
#include <string>

namespace brenlo::io {

enum class Compression { NONE, GZIP, ZSTD };

/// What the data starting with these `n` bytes is compressed with.
Compression compressionOf(const char* bytes, size_t n);

/// The message for data compressed in a way that is not read here, or ""
/// when it can be read.
std::string unreadableCompression(Compression c);

/// Compressed data that cannot be read: of a kind not read here, corrupt,
/// or cut short. The message is whole but for the file's name, and names
/// no line: the fault is in the compressed bytes, not in a row.
class DecodeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// Inflates gzip data, member after member (as `cat a.gz b.gz` and bgzip
/// write them). Corrupt data raises DecodeError.
class GzipDecoder {
public:
    GzipDecoder();
    ~GzipDecoder();
    GzipDecoder(const GzipDecoder&) = delete;
    GzipDecoder& operator=(const GzipDecoder&) = delete;

    /// Decodes from `in` (advancing it and lowering `inLeft`) into at most
    /// `outLen` bytes at `out`; the bytes written.
    size_t decode(const char*& in, size_t& inLeft, char* out, size_t outLen);
    /// False inside a member: data that stops here was cut short.
    bool atMemberEnd() const;
    /// Raises the DecodeError of data that ends inside a member.
    [[noreturn]] static void cutShort();

private:
    struct State;
    std::unique_ptr<State> m;
};

/// A stream buffer that reads `source` as it is, or inflated when it starts
/// as gzip does. Data compressed otherwise, corrupt or cut short raises
/// DecodeError when read.
class DecodingBuf : public std::streambuf {
public:
    explicit DecodingBuf(std::streambuf* source);
    ~DecodingBuf() override;

protected:
    int_type underflow() override;

private:
    std::streambuf* m_source;
    std::unique_ptr<GzipDecoder> m_gzip;
    bool m_sniffed = false;
    std::string m_raw; // bytes read from the source and not yet decoded
    size_t m_rawAt = 0;
    std::string m_out; // the get area
};

} // namespace brenlo::io
