#include "quorvel/budget.hpp"

#include "brenlo/string.hpp"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <sys/resource.h>
#include <unistd.h>

namespace quorvel::rule {

uint64_t defaultMemoryBudget() {
    long pages = ::sysconf(_SC_PHYS_PAGES), pageSize = ::sysconf(_SC_PAGE_SIZE);
    uint64_t total =
        pages > 0 && pageSize > 0 ? uint64_t(pages) * uint64_t(pageSize) : uint64_t(4) << 30;
    std::ifstream cgroup("/sys/fs/cgroup/memory.max");
    uint64_t limit = 0;
    if (cgroup >> limit && limit > 0 && limit < total)
        total = limit;
    return total / 4 * 3;
}

bool parseMemorySize(const std::string& text, uint64_t& bytes) {
    size_t end = 0;
    while (end < text.size() &&
           (std::isdigit(static_cast<unsigned char>(text[end])) || text[end] == '.'))
        ++end;
    if (end == 0)
        return false;
    double value = 0;
    try {
        value = std::stod(text.substr(0, end));
    } catch (...) {
        return false;
    }
    std::string unit = text.substr(end);
    double scale = 1;
    if (!unit.empty()) {
        const char* units = "KMGT";
        const char* at = std::strchr(units, std::toupper(static_cast<unsigned char>(unit[0])));
        if (!at || *at == '\0')
            return false;
        scale = std::pow(1024.0, double(at - units + 1));
        std::string rest = unit.substr(1);
        if (!(rest.empty() || rest == "B" || rest == "b" || rest == "iB"))
            return false;
    }
    double total = value * scale;
    if (!(total >= 1) || total > 1.8e19)
        return false;
    bytes = static_cast<uint64_t>(total);
    return true;
}

std::string formatMemorySize(uint64_t bytes) {
    const char* units[] = {"bytes", "KB", "MB", "GB", "TB", "PB", "EB"};
    double value = double(bytes);
    int unit = 0;
    while (value >= 1024 && unit < 6) {
        value /= 1024;
        ++unit;
    }
    if (unit == 0)
        return brenlo::string::strprintf("%llu bytes", static_cast<unsigned long long>(bytes));
    return brenlo::string::strprintf(value < 10 ? "%.1f %s" : "%.0f %s", value, units[unit]);
}

uint64_t residentBytes() {
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    if (!f)
        return 0;
    unsigned long size = 0, resident = 0;
    int got = std::fscanf(f, "%lu %lu", &size, &resident);
    std::fclose(f);
    return got == 2 ? uint64_t(resident) * uint64_t(::sysconf(_SC_PAGE_SIZE)) : 0;
}

void capAddressSpace(uint64_t budget) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    (void)budget; // the sanitizers reserve terabytes of address space up front
#else
    // Address space runs ahead of what is resident (code, stacks, allocator
    // slack), hence the margin.
    const uint64_t cap = budget + budget / 4 + (uint64_t(1) << 30);
    struct rlimit limit;
    if (::getrlimit(RLIMIT_AS, &limit) != 0)
        return;
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < cap)
        return;
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur <= cap)
        return;
    limit.rlim_cur = cap;
    ::setrlimit(RLIMIT_AS, &limit);
#endif
}

void keepFreedMemory() {
#if defined(__GLIBC__)
    // Fixed thresholds: the adaptive ones start at 128 KB.
    ::mallopt(M_MMAP_THRESHOLD, 32 << 20);
    ::mallopt(M_TRIM_THRESHOLD, 64 << 20);
    // Heaps grow in large steps: each step stops the other threads' faults.
    ::mallopt(M_TOP_PAD, 16 << 20);
#endif
}

void checkLevelBudget(uint64_t budget, uint64_t need, size_t level, uint64_t candidates) {
    if (need <= budget)
        return;
    throw std::runtime_error(brenlo::string::strprintf(
        "Level %lu (item sets of %lu items) has %llu candidate sets and would need about %s, "
        "more than the memory budget of %s (-M): raise -c, or set -o to limit the rule order.",
        static_cast<unsigned long>(level), static_cast<unsigned long>(level),
        static_cast<unsigned long long>(candidates), formatMemorySize(need).c_str(),
        formatMemorySize(budget).c_str()));
}

} // namespace quorvel::rule
