#include "brenlo/cleanup.hpp"

#include <atomic>
#include <climits>
#include <csignal>
#include <cstring>
#include <unistd.h>

namespace brenlo::io {

namespace {

// Fixed storage: the handler may only touch memory that never moves.
const int SLOTS = 32;
char s_paths[SLOTS][PATH_MAX];
// 0: free, 1: being filled, 2: a path the handler removes.
std::atomic<int> s_state[SLOTS];
std::atomic<bool> s_installed{false};
const int SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void removeTemporaries(int sig) {
    for (int k = 0; k < SLOTS; ++k)
        if (s_state[k].load() == 2)
            ::unlink(s_paths[k]);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

void install() {
    if (s_installed.exchange(true))
        return;
    for (int sig : SIGNALS) {
        struct sigaction old;
        if (::sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN)
            continue; // a run under nohup keeps ignoring hang-ups
        struct sigaction act;
        std::memset(&act, 0, sizeof act);
        act.sa_handler = removeTemporaries;
        sigemptyset(&act.sa_mask);
        for (int other : SIGNALS)
            sigaddset(&act.sa_mask, other);
        ::sigaction(sig, &act, nullptr);
    }
}

} // namespace

int registerTemporary(const std::string& path) {
    if (path.size() >= PATH_MAX)
        return -1;
    install();
    for (int k = 0; k < SLOTS; ++k) {
        int free = 0;
        if (!s_state[k].compare_exchange_strong(free, 1))
            continue;
        std::memcpy(s_paths[k], path.c_str(), path.size() + 1);
        s_state[k].store(2); // published only once the path is whole
        return k;
    }
    return -1;
}

void releaseTemporary(int slot) {
    if (slot >= 0 && slot < SLOTS)
        s_state[slot].store(0);
}

} // namespace brenlo::io
