// The memory budget, watched while a table is read: a compressed file may
// expand without end, and one line may never end. Either stops the read
// soon after it passes the budget, naming the input and the budget.
#pragma once

#include "quorvel/budget.hpp"

#include "brenlo/exception.hpp"
#include "brenlo/string.hpp"

#include <cstdint>
#include <string>

namespace quorvel::rule::mining {

class ReadBudget {
public:
    /// `budget` 0 watches nothing.
    ReadBudget(uint64_t budget, const std::string& input)
        : m_budget(budget), m_input(input), m_start(budget ? residentBytes() : 0) {}

    /// After some more bytes read: what the read has added to the process,
    /// against the budget (what was held before is the level guard's).
    void check() const {
        if (m_budget == 0)
            return;
        const uint64_t now = residentBytes();
        const uint64_t held = now > m_start ? now - m_start : 0;
        if (held > m_budget)
            throw brenlo::IOException(brenlo::string::strprintf(
                "%s: What is read of it holds %s, more than the memory budget of %s (-M): raise "
                "-M where the machine has the memory, or read a part of the log.",
                m_input.c_str(), formatMemorySize(held).c_str(),
                formatMemorySize(m_budget).c_str()));
    }

    /// A row begun at `line` and still not ended after `bytes`: past half
    /// the budget, no row that long could be mined.
    void checkRow(uint64_t line, uint64_t bytes) const {
        if (m_budget == 0 || bytes <= m_budget / 2)
            return;
        throw brenlo::IOException(brenlo::string::strprintf(
            "%s:%llu: A line runs on for more than %s, half the memory budget of %s (-M), "
            "without ending: this is not a table of rows.",
            m_input.c_str(), static_cast<unsigned long long>(line), formatMemorySize(bytes).c_str(),
            formatMemorySize(m_budget).c_str()));
    }

private:
    uint64_t m_budget;
    std::string m_input;
    uint64_t m_start; // resident when the read began
};

} // namespace quorvel::rule::mining
