#include "brenlo/replace.hpp"
#include "brenlo/exception.hpp"
#include "brenlo/string.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace brenlo::io {

namespace {

[[noreturn]] void fail(const std::string& path, int err) {
    throw IOException(
        string::strprintf("Cannot write \"%s\": %s", path.c_str(), std::strerror(err ? err : EIO)));
}

void writeStream(const std::string& target, const std::string& reportAs,
                 const std::function<void(std::ostream&)>& write, std::ios::openmode mode) {
    std::ofstream out;
    std::vector<char> buffer(1 << 16);
    out.rdbuf()->pubsetbuf(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    errno = 0;
    out.open(target, mode);
    if (!out.is_open())
        fail(reportAs, errno);
    write(out);
    errno = 0;
    out.flush();
    if (!out)
        fail(reportAs, errno);
    out.close();
    if (out.fail())
        fail(reportAs, errno);
}

} // namespace

void replaceFile(const std::string& path, const std::function<void(std::ostream&)>& write) {
    struct stat st;
    bool exists = ::stat(path.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
        writeStream(path, path, write, std::ios::out | std::ios::binary);
        return;
    }
    std::string tmp = path + ".XXXXXX";
    std::vector<char> name(tmp.begin(), tmp.end());
    name.push_back('\0');
    int fd = ::mkstemp(name.data());
    if (fd < 0)
        fail(path, errno);
    ::close(fd);
    std::string tmpPath(name.data());
    try {
        writeStream(tmpPath, path, write, std::ios::out | std::ios::trunc | std::ios::binary);
        // Keep the permissions of the file being replaced, or the usual ones.
        mode_t mode;
        if (exists) {
            mode = st.st_mode & 07777;
        } else {
            mode_t mask = ::umask(0);
            ::umask(mask);
            mode = 0666 & ~mask;
        }
        ::chmod(tmpPath.c_str(), mode);
        if (::rename(tmpPath.c_str(), path.c_str()) != 0)
            fail(path, errno);
    } catch (...) {
        ::unlink(tmpPath.c_str());
        throw;
    }
}

} // namespace brenlo::io
