#include "test_support.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

TempDir::TempDir() {
    char name[] = "/tmp/quorvel-test-XXXXXX";
    if (!::mkdtemp(name))
        throw std::runtime_error("mkdtemp failed");
    m_path = name;
}

TempDir::~TempDir() {
    std::string cmd = "rm -rf '" + m_path + "'";
    if (std::system(cmd.c_str()) != 0) {
        // Leftovers in /tmp are harmless.
    }
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool fileExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

RunResult run(const std::string& program, const std::vector<std::string>& args,
              const std::string& input, const std::string& cwd) {
    std::signal(SIGPIPE, SIG_IGN); // a program may stop reading early
    int in[2], out[2], err[2];
    if (::pipe(in) || ::pipe(out) || ::pipe(err))
        throw std::runtime_error("pipe failed");
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]})
            ::close(fd);
        if (!cwd.empty() && ::chdir(cwd.c_str()) != 0)
            ::_exit(126);
        std::vector<char*> argv;
        std::string name = program.substr(program.rfind('/') + 1);
        argv.push_back(const_cast<char*>(name.c_str()));
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    // Feed and drain together so that neither side blocks on a full pipe.
    RunResult result;
    size_t written = 0;
    int inFd = in[1];
    if (input.empty()) {
        ::close(inFd);
        inFd = -1;
    }
    bool outOpen = true, errOpen = true;
    char buf[65536];
    while (outOpen || errOpen) {
        struct pollfd fds[3];
        int n = 0;
        if (outOpen)
            fds[n++] = {out[0], POLLIN, 0};
        if (errOpen)
            fds[n++] = {err[0], POLLIN, 0};
        if (inFd >= 0)
            fds[n++] = {inFd, POLLOUT, 0};
        if (::poll(fds, static_cast<nfds_t>(n), -1) < 0 && errno != EINTR)
            break;
        for (int k = 0; k < n; ++k) {
            if (!fds[k].revents)
                continue;
            if (fds[k].fd == inFd) {
                ssize_t w = ::write(inFd, input.data() + written, input.size() - written);
                if (w > 0)
                    written += static_cast<size_t>(w);
                if (w < 0 || written == input.size()) {
                    ::close(inFd);
                    inFd = -1;
                }
                continue;
            }
            ssize_t r = ::read(fds[k].fd, buf, sizeof buf);
            if (r <= 0) {
                if (fds[k].fd == out[0])
                    outOpen = false;
                else
                    errOpen = false;
                continue;
            }
            (fds[k].fd == out[0] ? result.out : result.err).append(buf, static_cast<size_t>(r));
        }
    }
    if (inFd >= 0)
        ::close(inFd);
    ::close(out[0]);
    ::close(err[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

quorvel::rule::ItemSet set(std::initializer_list<const char*> items) {
    quorvel::rule::ItemSet s;
    for (const char* i : items)
        s.add(i);
    return s;
}

quorvel::rule::TransactionSet transactions(const std::string& table) {
    quorvel::rule::TransactionSet txns;
    std::istringstream in(table);
    txns.readInto(in, '\t');
    return txns;
}

std::string sharedDataDir() {
    std::string dir = std::string(QUORVEL_SOURCE_DIR) + "/../shared/data";
    return fileExists(dir + "/README.md") ? dir : std::string();
}

quorvel::rule::ItemSet jsonItems(const std::string& record, const std::string& key) {
    const size_t at = record.find("\"" + key + "\":[") + key.size() + 4;
    const std::string list = record.substr(at, record.find(']', at) - at);
    quorvel::rule::ItemSet set;
    std::istringstream in(list);
    for (std::string item; std::getline(in, item, ',');)
        set.add(item.substr(1, item.size() - 2));
    return set;
}

bool plainObserves(const quorvel::rule::History& h, const quorvel::rule::ItemSet& a,
                   const quorvel::rule::ItemSet& b, quorvel::rule::History::Time window,
                   uint64_t* delay) {
    using quorvel::rule::History;
    using quorvel::rule::Item;
    std::map<Item, History::Time> last;
    for (const auto& [now, txn] : h) {
        auto seen = [&](const Item& item) {
            auto it = last.find(item);
            return it != last.end() && (window == 0 || now - it->second <= window);
        };
        if (txn.contains(b) && std::none_of(b.begin(), b.end(), seen) &&
            std::all_of(a.begin(), a.end(), seen) && !txn.contains(a)) {
            if (delay) {
                History::Time latest = 0;
                for (const Item& item : a)
                    latest = std::max(latest, last[item]);
                *delay = now - latest;
            }
            return true;
        }
        for (const Item& item : txn)
            last[item] = now;
    }
    return false;
}

} // namespace testsupport
