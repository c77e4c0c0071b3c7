// The other processes of a run. Subjects are shared out among processes;
// each counts the same candidate sets and rules over its own subjects, and
// the counts are summed across all of them, so every process keeps the
// same frequent sets and the result is that of one process. A process
// alone sums nothing and exchanges nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

namespace quorvel::rule {

class Peers {
public:
    virtual ~Peers() = default;

    virtual int rank() const { return 0; }
    virtual int size() const { return 1; }
    bool alone() const { return size() == 1; }
    /// The process that writes the tables and standard error.
    bool leads() const { return rank() == 0; }

    /// Sums each value across the processes, in place.
    virtual void sum(uint64_t* values, size_t n) const;
    void sum(std::vector<uint64_t>& values) const { sum(values.data(), values.size()); }
    uint64_t total(uint64_t value) const {
        sum(&value, 1);
        return value;
    }

    /// Sends `out[p]` to process p; what each process sent this one.
    virtual std::vector<std::string> exchange(std::vector<std::string> out) const;
    /// Every process's `mine`, in process order.
    virtual std::vector<std::string> gather(const std::string& mine) const;

    /// Whether every process got through a step. When one failed, the
    /// failure of the lowest such process is raised on all of them: its
    /// message, or std::bad_alloc. `failure` is this process's ("" for
    /// none; "\x01" for out of memory).
    virtual void agree(const std::string& failure) const;
};

/// Runs `step` here, then agrees with the other processes that each got
/// through its own: a failure anywhere is raised everywhere. Alone, the
/// step's exception passes straight through.
template <class F> void together(const Peers& peers, F step);

// ---- implementation ----

std::string failureOf(std::exception_ptr e);

template <class F> void together(const Peers& peers, F step) {
    if (peers.alone()) {
        step();
        return;
    }
    std::string failure;
    try {
        step();
    } catch (...) {
        failure = failureOf(std::current_exception());
    }
    peers.agree(failure);
}

} // namespace quorvel::rule
