#include "graphviz.hpp"

#include "brenlo/string.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quorvel::links {

namespace {

// dot on the pipes `in` and `out`; it dies with this process, so a
// signal that ends the grapher does not leave it laying out.
pid_t startDot(int in[2], int out[2]) {
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent)
        ::_exit(127);
    ::dup2(in[0], STDIN_FILENO);
    ::dup2(out[1], STDOUT_FILENO);
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0)
        ::dup2(null, STDERR_FILENO);
    for (int fd : {in[0], in[1], out[0], out[1]})
        ::close(fd);
    ::execlp("dot", "dot", "-Tsvg", static_cast<char*>(nullptr));
    ::_exit(127);
}

} // namespace

std::string drawSvg(const std::string& dot, unsigned seconds, std::string& why) {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0) {
        why = "Graphviz's dot could not be started, so the picture is left out";
        return "";
    }
    if (::pipe2(out, O_CLOEXEC) != 0) {
        ::close(in[0]);
        ::close(in[1]);
        why = "Graphviz's dot could not be started, so the picture is left out";
        return "";
    }
    // A reader gone early must not end the grapher.
    struct sigaction ignore {
    }, before{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &before);
    const pid_t pid = startDot(in, out);
    ::close(in[0]);
    ::close(out[1]);
    std::string svg;
    bool late = false;
    if (pid > 0) {
        ::fcntl(in[1], F_SETFL, O_NONBLOCK);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        size_t sent = 0;
        bool writing = true;
        for (;;) {
            if (writing && sent == dot.size()) {
                ::close(in[1]);
                writing = false;
            }
            pollfd fds[2] = {{out[0], POLLIN, 0}, {in[1], POLLOUT, 0}};
            int wait = -1;
            if (seconds) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now());
                if (left.count() <= 0) {
                    late = true;
                    break;
                }
                wait = static_cast<int>(left.count());
            }
            const int ready = ::poll(fds, writing ? 2 : 1, wait);
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready < 0)
                break;
            if (writing && fds[1].revents & (POLLOUT | POLLERR | POLLHUP)) {
                const ssize_t n = ::write(in[1], dot.data() + sent, dot.size() - sent);
                if (n > 0)
                    sent += static_cast<size_t>(n);
                else if (n < 0 && errno != EAGAIN && errno != EINTR)
                    sent = dot.size(); // dot stopped reading: its status tells
            }
            if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
                char buf[65536];
                const ssize_t n = ::read(out[0], buf, sizeof buf);
                if (n > 0)
                    svg.append(buf, static_cast<size_t>(n));
                else if (n == 0 || (errno != EAGAIN && errno != EINTR))
                    break;
            }
        }
        if (writing)
            ::close(in[1]);
    } else {
        ::close(in[1]);
    }
    ::close(out[0]);
    int status = -1;
    if (pid > 0) {
        if (late)
            ::kill(pid, SIGKILL);
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    ::sigaction(SIGPIPE, &before, nullptr);
    if (late) {
        why = brenlo::string::strprintf(
            "Graphviz's dot was still laying out the graph after %u s (--layout-seconds), so the "
            "picture is left out; --top=N draws only the N strongest links",
            seconds);
        return "";
    }
    if (status != 0 || svg.empty()) {
        why = WIFEXITED(status) && WEXITSTATUS(status) == 127
                  ? "Graphviz's dot was not found, so the picture is left out"
                  : "Graphviz's dot could not draw the graph, so the picture is left out";
        return "";
    }
    // The page holds the drawing itself, not an XML document around it.
    const size_t at = svg.find("<svg");
    return at == std::string::npos ? svg : svg.substr(at);
}

} // namespace quorvel::links
