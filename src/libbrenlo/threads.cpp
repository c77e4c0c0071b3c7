#include "brenlo/threads.hpp"

#include <sched.h>

namespace brenlo {

unsigned availableThreads() {
    cpu_set_t set;
    if (::sched_getaffinity(0, sizeof set, &set) == 0)
        return static_cast<unsigned>(std::max(1, CPU_COUNT(&set)));
    return std::max(1u, std::thread::hardware_concurrency());
}

} // namespace brenlo
