#include "brenlo/io.hpp"
#include "brenlo/string.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <limits>
#include <sys/stat.h>

namespace brenlo {

static Endianness hostEndian() {
    const unsigned char bytes[4] = {3, 2, 1, 0};
    uint32_t v;
    std::memcpy(&v, bytes, 4);
    return static_cast<Endianness>(v);
}

Endianness HOST_ENDIAN = hostEndian();

} // namespace brenlo

namespace brenlo::io {

namespace {

std::ios_base::seekdir direction(SeekWhence whence) {
    switch (whence) {
    case WHENCE_CUR:
        return std::ios_base::cur;
    case WHENCE_END:
        return std::ios_base::end;
    default:
        return std::ios_base::beg;
    }
}

size_t streamRead(std::istream& peer, char* buf, size_t len) {
    if (peer.eof())
        return Device::FAILED;
    peer.read(buf, static_cast<std::streamsize>(len));
    // Reaching the end part-way is not a failure: the bytes are there.
    if (peer.bad() || (peer.fail() && !peer.eof()))
        return Device::FAILED;
    return static_cast<size_t>(peer.gcount());
}

size_t streamWrite(std::ostream& peer, const char* buf, size_t len) {
    std::streampos before = peer.tellp();
    peer.write(buf, static_cast<std::streamsize>(len));
    if (peer.fail() || peer.bad())
        return Device::FAILED;
    if (before != std::streampos(-1)) {
        std::streampos after = peer.tellp();
        if (after != std::streampos(-1))
            return static_cast<size_t>(after - before);
    }
    return len;
}

class StdioDevice : public Device {
public:
    StdioDevice(FILE* peer, int flags) : m_peer(peer), m_flags(flags) {}
    ~StdioDevice() override { std::fclose(m_peer); }
    bool canRead() const override { return m_flags & OPEN_READ; }
    bool canWrite() const override { return m_flags & OPEN_WRITE; }
    int seekCapability() const override { return 0; }
    size_t read(char* buf, size_t len) override { return std::fread(buf, 1, len, m_peer); }
    int read() override {
        int c = std::getc(m_peer);
        return c == EOF ? -1 : c;
    }
    size_t write(const char* buf, size_t len) override { return std::fwrite(buf, 1, len, m_peer); }
    bool write(char c) override { return std::fwrite(&c, 1, 1, m_peer) == 1; }
    void seekg(device_offset_t offset, SeekWhence whence) override { m_seek(offset, whence); }
    void seekp(device_offset_t offset, SeekWhence whence) override { m_seek(offset, whence); }
    device_position_t tellg() override { return std::ftell(m_peer); }
    device_position_t tellp() override { return std::ftell(m_peer); }

private:
    void m_seek(device_offset_t offset, SeekWhence whence) {
        int w = whence == WHENCE_CUR ? SEEK_CUR : whence == WHENCE_END ? SEEK_END : SEEK_SET;
        std::fseek(m_peer, static_cast<long>(offset), w);
    }

    FILE* m_peer;
    int m_flags;
};

class ArrayDevice : public Device {
public:
    ArrayDevice(void* buf, size_t len, int flags)
        : m_buf(static_cast<char*>(buf)), m_len(len), m_i(0), m_flags(flags) {}
    bool canRead() const override { return m_flags & OPEN_READ; }
    bool canWrite() const override { return m_flags & OPEN_WRITE; }
    int seekCapability() const override { return 0; }
    size_t read(char* buf, size_t len) override {
        size_t n = mem::makeInBounds(m_i, len, m_len);
        std::memcpy(buf, m_buf + m_i, n);
        m_i += n;
        return n;
    }
    int read() override {
        if (m_i >= m_len)
            return -1;
        return static_cast<unsigned char>(m_buf[m_i++]);
    }
    size_t write(const char* buf, size_t len) override {
        size_t n = mem::makeInBounds(m_i, len, m_len);
        std::memcpy(m_buf + m_i, buf, n);
        m_i += n;
        return n;
    }
    bool write(char c) override {
        if (m_i >= m_len)
            return false;
        m_buf[m_i++] = c;
        return true;
    }
    void seekg(device_offset_t, SeekWhence) override {}
    void seekp(device_offset_t, SeekWhence) override {}
    device_position_t tellg() override { return static_cast<device_offset_t>(m_i); }
    device_position_t tellp() override { return static_cast<device_offset_t>(m_i); }

private:
    char* m_buf;
    size_t m_len;
    size_t m_i;
    int m_flags;
};

class StringDevice : public Device {
public:
    explicit StringDevice(const std::string& buf) : m_buf(buf), m_i(0) {}
    bool canRead() const override { return true; }
    bool canWrite() const override { return false; }
    int seekCapability() const override { return 0; }
    size_t read(char* buf, size_t len) override {
        if (m_i >= m_buf.size())
            return 0;
        size_t n = m_buf.copy(buf, len, m_i);
        m_i += n;
        return n;
    }
    int read() override {
        if (m_i >= m_buf.size())
            return -1;
        return static_cast<unsigned char>(m_buf[m_i++]);
    }
    size_t write(const char*, size_t) override { return 0; }
    bool write(char) override { return false; }
    void seekg(device_offset_t, SeekWhence) override {}
    void seekp(device_offset_t, SeekWhence) override {}
    device_position_t tellg() override { return static_cast<device_offset_t>(m_i); }
    device_position_t tellp() override { return static_cast<device_offset_t>(m_i); }

private:
    std::string m_buf;
    size_t m_i;
};

// The six stream wraps differ only in what they own and which sides they
// offer, so one template serves them all.
template <class S, bool OWNED, bool IN, bool OUT, int SEEK> class StreamWrap : public Device {
public:
    explicit StreamWrap(S& peer) : m_peer(&peer) {}
    ~StreamWrap() override {
        if (OWNED)
            delete m_peer;
    }
    bool canRead() const override { return IN; }
    bool canWrite() const override { return OUT; }
    int seekCapability() const override { return SEEK; }
    size_t read(char* buf, size_t len) override {
        if constexpr (IN)
            return streamRead(*m_peer, buf, len);
        (void)buf;
        (void)len;
        return Device::FAILED;
    }
    using Device::read;
    size_t write(const char* buf, size_t len) override {
        if constexpr (OUT)
            return streamWrite(*m_peer, buf, len);
        (void)buf;
        (void)len;
        return Device::FAILED;
    }
    using Device::write;
    void seekg(device_offset_t offset, SeekWhence whence) override {
        if constexpr (IN)
            m_peer->seekg(offset, direction(whence));
        else
            Device::seekg(offset, whence);
    }
    void seekp(device_offset_t offset, SeekWhence whence) override {
        if constexpr (OUT)
            m_peer->seekp(offset, direction(whence));
        else
            Device::seekp(offset, whence);
    }
    device_position_t tellg() override {
        if constexpr (IN)
            return m_peer->tellg();
        else
            return Device::tellg();
    }
    device_position_t tellp() override {
        if constexpr (OUT)
            return m_peer->tellp();
        else
            return Device::tellp();
    }

private:
    S* m_peer;
};

const char* modeText(int openFlags) {
    switch (openFlags & 3) {
    case OPEN_READ:
        return "r";
    case OPEN_WRITE:
        return "w";
    case OPEN_READ_WRITE:
        return "r+";
    default:
        return "";
    }
}

} // namespace

int Device::read() {
    char c;
    size_t n = read(&c, 1);
    return n == 1 ? static_cast<unsigned char>(c) : -1;
}

bool Device::write(char c) {
    return write(&c, 1) == 1;
}

void Device::seekg(device_offset_t, SeekWhence) {
    throw UnsupportedOperationException("Stream incapable of seekg");
}
void Device::seekp(device_offset_t, SeekWhence) {
    throw UnsupportedOperationException("Stream incapable of seekp");
}
device_position_t Device::tellg() {
    throw UnsupportedOperationException("Stream incapable of tellg");
}
device_position_t Device::tellp() {
    throw UnsupportedOperationException("Stream incapable of tellp");
}

Device* Device::wrap(std::istream& s) {
    return new StreamWrap<std::istream, false, true, false, 1>(s);
}
Device* Device::wrap(std::ostream& s) {
    return new StreamWrap<std::ostream, false, false, true, 0>(s);
}
Device* Device::wrap(std::iostream& s) {
    return new StreamWrap<std::iostream, false, true, true, 0>(s);
}
Device* Device::wrap(std::istream* s) {
    return new StreamWrap<std::istream, true, true, false, 0>(*s);
}
Device* Device::wrap(std::ostream* s) {
    return new StreamWrap<std::ostream, true, false, true, 0>(*s);
}
Device* Device::wrap(std::iostream* s) {
    return new StreamWrap<std::iostream, true, true, true, 0>(*s);
}

Device* Device::fromFile(const std::string& path, int openFlags) {
    FILE* f = std::fopen(path.c_str(), modeText(openFlags));
    int err = errno ? errno : EINVAL;
    // A folder opens for reading, then fails at the first read.
    struct stat st;
    if (f && ::fstat(::fileno(f), &st) == 0 && S_ISDIR(st.st_mode)) {
        std::fclose(f);
        f = nullptr;
        err = EISDIR;
    }
    if (!f)
        throw IOException(
            string::strprintf("Cannot open \"%s\": %s", path.c_str(), std::strerror(err)));
    return new StdioDevice(f, openFlags);
}

Device* Device::wrapArray(void* buf, size_t len, int openMode) {
    return new ArrayDevice(buf, len, openMode);
}

Device* Device::wrapString(const std::string& src, size_t off, size_t len) {
    return new StringDevice(src.substr(off, len));
}

} // namespace brenlo::io
