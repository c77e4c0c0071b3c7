#include "brenlo/replace.hpp"
#include "brenlo/cleanup.hpp"
#include "brenlo/exception.hpp"
#include "brenlo/string.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <ostream>
#include <streambuf>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace brenlo::io {

namespace {

// A stream buffer over a descriptor that keeps the errno of the first failed
// write, which a std::ofstream would turn into a bare failbit.
class DescriptorBuffer : public std::streambuf {
public:
    explicit DescriptorBuffer(int fd) : m_fd(fd), m_space(1 << 16) {
        setp(m_space.data(), m_space.data() + m_space.size());
    }
    int error() const { return m_error; }
    bool drain() {
        const char* p = pbase();
        size_t left = static_cast<size_t>(pptr() - pbase());
        while (left > 0 && m_error == 0) {
            ssize_t n = ::write(m_fd, p, left);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                m_error = n < 0 ? errno : EIO;
                break;
            }
            p += n;
            left -= static_cast<size_t>(n);
        }
        setp(m_space.data(), m_space.data() + m_space.size());
        return m_error == 0;
    }

protected:
    int_type overflow(int_type c) override {
        if (!drain())
            return traits_type::eof();
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }
    int sync() override { return drain() ? 0 : -1; }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        std::streamsize done = 0;
        while (done < n) {
            std::streamsize room = epptr() - pptr();
            if (room == 0) {
                if (!drain())
                    return done;
                continue;
            }
            std::streamsize take = std::min(room, n - done);
            std::memcpy(pptr(), s + done, static_cast<size_t>(take));
            pbump(static_cast<int>(take));
            done += take;
        }
        return done;
    }

private:
    int m_fd;
    int m_error = 0;
    std::vector<char> m_space;
};

[[noreturn]] void fail(const std::string& path, int err) {
    throw IOException(
        string::strprintf("Cannot write \"%s\": %s", path.c_str(), std::strerror(err ? err : EIO)));
}

std::string folderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string baseOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

struct PendingOutput::State {
    std::string path;    // as the user named it
    std::string tmpPath; // empty when written directly
    int fd = -1;
    bool ownsFd = true;
    bool committed = false;
    int slot = -1;
    bool isFile = true; // named by a path, not an open descriptor
    mode_t mode = 0;
    // The buffer is declared before the stream so that it outlives it.
    std::unique_ptr<DescriptorBuffer> buffer;
    std::unique_ptr<std::ostream> stream;

    void attach() {
        buffer.reset(new DescriptorBuffer(fd));
        stream.reset(new std::ostream(buffer.get()));
    }
    [[noreturn]] void fail(int err) const {
        if (isFile)
            io::fail(path, err);
        throw IOException(string::strprintf("Cannot write to %s: %s.", path.c_str(),
                                            std::strerror(err ? err : EIO)));
    }
};

PendingOutput::PendingOutput(const std::string& path) : m_state(new State) {
    State& s = *m_state;
    s.path = path;
    struct stat st;
    const bool exists = ::stat(path.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
        s.fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        if (s.fd < 0)
            s.fail(errno);
        s.attach();
        return;
    }
    if (exists) {
        s.mode = st.st_mode & 07777;
    } else {
        mode_t mask = ::umask(0);
        ::umask(mask);
        s.mode = 0666 & ~mask;
    }
    std::string tmp = folderOf(path) + "." + baseOf(path) + ".quorvel-tmp.XXXXXX";
    std::vector<char> name(tmp.begin(), tmp.end());
    name.push_back('\0');
    s.fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (s.fd < 0)
        s.fail(errno);
    s.tmpPath = name.data();
    s.slot = registerTemporary(s.tmpPath);
    s.attach();
}

PendingOutput::PendingOutput(int fd, const std::string& name) : m_state(new State) {
    m_state->path = name;
    m_state->fd = fd;
    m_state->ownsFd = false;
    m_state->isFile = false;
    m_state->attach();
}

PendingOutput::~PendingOutput() {
    State& s = *m_state;
    s.stream.reset();
    s.buffer.reset();
    if (s.ownsFd && s.fd >= 0)
        ::close(s.fd);
    if (!s.committed && !s.tmpPath.empty())
        ::unlink(s.tmpPath.c_str());
    releaseTemporary(s.slot);
}

std::ostream& PendingOutput::stream() {
    return *m_state->stream;
}

const std::string& PendingOutput::path() const {
    return m_state->path;
}

void PendingOutput::finish() {
    State& s = *m_state;
    s.stream->flush();
    if (s.buffer->error())
        s.fail(s.buffer->error());
    if (!*s.stream)
        s.fail(EIO);
    // The data must reach the disk before the rename makes it the file.
    if (!s.tmpPath.empty() && ::fsync(s.fd) != 0)
        s.fail(errno);
}

void PendingOutput::commit() {
    State& s = *m_state;
    finish();
    if (s.tmpPath.empty() || s.committed)
        return;
    if (::fchmod(s.fd, s.mode) != 0)
        s.fail(errno);
    if (::close(s.fd) != 0) {
        s.fd = -1;
        s.fail(errno);
    }
    s.fd = -1;
    if (::rename(s.tmpPath.c_str(), s.path.c_str()) != 0)
        s.fail(errno);
    s.committed = true;
    releaseTemporary(s.slot);
    s.slot = -1;
}

void replaceFile(const std::string& path, const std::function<void(std::ostream&)>& write) {
    PendingOutput out(path);
    write(out.stream());
    out.commit();
}

} // namespace brenlo::io
