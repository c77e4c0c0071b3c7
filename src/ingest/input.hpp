// The bytes of a transaction table, a block at a time: a file, standard
// input, or bytes already in memory.
#pragma once

#include "brenlo/compressed.hpp"
#include "brenlo/exception.hpp"
#include "brenlo/string.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvel::rule::mining {

// Bytes read and not yet used; grows without zero-filling.
class Buffer {
public:
    char* data() { return m_data.get(); }
    size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    void clear() { m_size = 0; }
    /// Room for `n` more bytes after the data.
    char* room(size_t n) {
        if (m_size + n > m_capacity) {
            m_capacity = std::max(m_size + n, m_capacity * 2);
            std::unique_ptr<char[]> bigger(new char[m_capacity]);
            if (m_size)
                std::memcpy(bigger.get(), m_data.get(), m_size);
            m_data.swap(bigger);
        }
        return m_data.get() + m_size;
    }
    void grow(size_t n) { m_size += n; }
    /// Drops the first `n` bytes.
    void consume(size_t n) {
        std::memmove(m_data.get(), m_data.get() + n, m_size - n);
        m_size -= n;
    }

private:
    std::unique_ptr<char[]> m_data;
    size_t m_size = 0, m_capacity = 0;
};

// Bytes taken from standard input ahead of its reader, to tell what it
// holds: the reader of "-" is given them first.
inline Buffer& standardInputAhead() {
    static Buffer ahead;
    return ahead;
}

// The table's bytes, a block at a time; gzip data is inflated as it comes.
class Input {
public:
    /// Bytes already in memory.
    Input(std::string_view bytes, const std::string& name) : m_name(name), m_bytes(bytes) {}

    Input(const std::string& path) : m_name(path == "-" ? "standard input" : path) {
        if (path == "-") {
            m_fd = STDIN_FILENO;
            return;
        }
        struct stat st;
        if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            cannotOpen(path, EISDIR);
        m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (m_fd < 0)
            cannotOpen(path, errno);
        m_owned = true;
        struct stat got;
        if (::fstat(m_fd, &got) == 0 && S_ISREG(got.st_mode))
            m_size = static_cast<uint64_t>(got.st_size);
    }
    /// The `length` bytes of the file at `path` from `offset` on.
    Input(const std::string& path, uint64_t offset, uint64_t length) : Input(path) {
        if (::lseek(m_fd, static_cast<off_t>(offset), SEEK_SET) < 0)
            cannotOpen(path, errno);
        m_size = m_left = length;
        // Only a whole file is compressed; a range inside one is its rows.
        m_sniffed = offset > 0;
    }
    Input(Input&& other) noexcept
        : m_name(std::move(other.m_name)), m_fd(other.m_fd), m_owned(other.m_owned),
          m_bytes(other.m_bytes), m_size(other.m_size), m_left(other.m_left),
          m_sniffed(other.m_sniffed), m_gzip(std::move(other.m_gzip)),
          m_raw(std::move(other.m_raw)) {
        other.m_owned = false;
    }
    ~Input() {
        if (m_owned)
            ::close(m_fd);
    }
    const std::string& name() const { return m_name; }
    /// The file's size when it is known before reading (not for gzip data).
    uint64_t size() {
        if (!m_sniffed)
            sniff(1);
        return m_size;
    }

    /// Appends up to `n` bytes to `buf`; false at the end of the data.
    bool fill(Buffer& buf, size_t n, uint64_t line) {
        if (!m_sniffed)
            sniff(line);
        if (!m_gzip) {
            // What the sniff read comes first.
            if (!m_raw.empty()) {
                const size_t take = std::min(n, m_raw.size());
                std::memcpy(buf.room(take), m_raw.data(), take);
                buf.grow(take);
                m_raw.consume(take);
                return true;
            }
            const size_t got = rawRead(buf.room(n), n, line);
            buf.grow(got);
            return got > 0;
        }
        for (;;) {
            if (m_raw.empty()) {
                const size_t BLOCK = 1 << 18;
                const size_t got = rawRead(m_raw.room(BLOCK), BLOCK, line);
                m_raw.grow(got);
                if (got == 0) {
                    if (!m_gzip->atMemberEnd())
                        undecodable([] { brenlo::io::GzipDecoder::cutShort(); });
                    return false;
                }
            }
            const char* in = m_raw.data();
            size_t left = m_raw.size();
            size_t made = 0;
            undecodable([&] { made = m_gzip->decode(in, left, buf.room(n), n); });
            m_raw.consume(m_raw.size() - left);
            buf.grow(made);
            if (made > 0)
                return true;
        }
    }

    /// True when the bytes are inflated gzip data.
    bool compressed() {
        if (!m_sniffed)
            sniff(1);
        return m_gzip != nullptr;
    }

private:
    // Up to `n` bytes as stored.
    size_t rawRead(char* to, size_t n, uint64_t line) {
        if (m_fd < 0) {
            const size_t take = std::min(n, m_bytes.size());
            std::memcpy(to, m_bytes.data(), take);
            m_bytes.remove_prefix(take);
            return take;
        }
        n = static_cast<size_t>(std::min<uint64_t>(n, m_left));
        size_t got = 0;
        if (m_fd == STDIN_FILENO && !standardInputAhead().empty()) {
            Buffer& ahead = standardInputAhead();
            got = std::min(n, ahead.size());
            std::memcpy(to, ahead.data(), got);
            ahead.consume(got);
        }
        while (got < n) {
            ssize_t r = ::read(m_fd, to + got, n - got);
            if (r < 0 && errno == EINTR)
                continue;
            if (r < 0)
                fail(line, std::strerror(errno));
            if (r == 0)
                break;
            got += static_cast<size_t>(r);
        }
        if (m_left != UINT64_MAX)
            m_left -= got;
        return got;
    }

    // The first bytes tell whether the data is compressed.
    void sniff(uint64_t line) {
        m_sniffed = true;
        size_t got = 0;
        const size_t MAGIC = 4;
        while (got < MAGIC) {
            const size_t r = rawRead(m_raw.room(MAGIC - got), MAGIC - got, line);
            if (r == 0)
                break;
            m_raw.grow(r);
            got += r;
        }
        const brenlo::io::Compression c = brenlo::io::compressionOf(m_raw.data(), m_raw.size());
        const std::string refused = brenlo::io::unreadableCompression(c);
        if (!refused.empty())
            throw brenlo::IOException(m_name + ": " + refused);
        if (c == brenlo::io::Compression::GZIP) {
            undecodable([&] { m_gzip.reset(new brenlo::io::GzipDecoder); });
            m_size = 0; // what it inflates to is not known
        }
    }

    // Runs `decode`; its DecodeError becomes "NAME: MESSAGE", with no line.
    template <class F> void undecodable(F decode) const {
        try {
            decode();
        } catch (const brenlo::io::DecodeError& e) {
            throw brenlo::IOException(m_name + ": " + e.what());
        }
    }

    [[noreturn]] void fail(uint64_t line, const std::string& why) const {
        throw brenlo::IOException(
            brenlo::string::strprintf("%s:%llu: Cannot read: %s", m_name.c_str(),
                                      static_cast<unsigned long long>(line), why.c_str()));
    }

    [[noreturn]] static void cannotOpen(const std::string& path, int err) {
        throw brenlo::IOException(brenlo::string::strprintf("Cannot open \"%s\": %s", path.c_str(),
                                                            std::strerror(err ? err : ENOENT)));
    }

    std::string m_name;
    int m_fd = -1;
    bool m_owned = false;
    std::string_view m_bytes; // when there is no descriptor
    uint64_t m_size = 0;
    uint64_t m_left = UINT64_MAX; // bytes still to read, for a range
    bool m_sniffed = false;
    std::unique_ptr<brenlo::io::GzipDecoder> m_gzip;
    Buffer m_raw; // bytes read and not yet passed on
};

} // namespace quorvel::rule::mining
