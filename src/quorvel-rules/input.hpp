// The bytes of a transaction table, a block at a time: a file, standard
// input, or bytes already in memory.
#pragma once

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

// The table's bytes, a block at a time.
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
    }
    Input(Input&& other) noexcept
        : m_name(std::move(other.m_name)), m_fd(other.m_fd), m_owned(other.m_owned),
          m_bytes(other.m_bytes), m_size(other.m_size), m_left(other.m_left) {
        other.m_owned = false;
    }
    ~Input() {
        if (m_owned)
            ::close(m_fd);
    }
    const std::string& name() const { return m_name; }
    /// The file's size when it is known before reading.
    uint64_t size() const { return m_size; }

    /// Appends up to `n` bytes to `buf`; false at the end of the data.
    bool fill(Buffer& buf, size_t n, uint64_t line) {
        if (m_fd < 0) {
            const size_t take = std::min(n, m_bytes.size());
            if (take == 0)
                return false;
            std::memcpy(buf.room(take), m_bytes.data(), take);
            buf.grow(take);
            m_bytes.remove_prefix(take);
            return take > 0;
        }
        n = static_cast<size_t>(std::min<uint64_t>(n, m_left));
        char* to = buf.room(n);
        size_t got = 0;
        while (got < n) {
            ssize_t r = ::read(m_fd, to + got, n - got);
            if (r < 0 && errno == EINTR)
                continue;
            if (r < 0)
                throw brenlo::IOException(brenlo::string::strprintf(
                    "%s:%llu: Cannot read: %s", m_name.c_str(),
                    static_cast<unsigned long long>(line), std::strerror(errno)));
            if (r == 0)
                break;
            got += static_cast<size_t>(r);
        }
        buf.grow(got);
        if (m_left != UINT64_MAX)
            m_left -= got;
        return got > 0;
    }

private:
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
};

} // namespace quorvel::rule::mining
