// A progress line on a terminal: long stages redraw one line of standard
// error in place, a few times a second, and erase it when they end, so the
// regular lines read as they would without it. Off unless switched on,
// which a program does only when standard error is a terminal.
#pragma once

#include "brenlo/progress.hpp"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

namespace brenlo::term {

class Meter : public Progress {
public:
    /// The meter of the program's own terminal.
    static Meter& live();

    /// Draws to file descriptor `fd` from now on; -1 switches it off.
    void drawTo(int fd);
    bool on() const { return m_fd >= 0; }

    /// Begins a stage of `total` units (0: not known beforehand).
    void start(const std::string& label, uint64_t total, Unit unit) override;
    /// Counts `n` more units done; any thread may call it.
    void advance(uint64_t n) override;
    /// Ends the stage and erases its line.
    void finish() override;

    /// The line as it would be drawn after `seconds`, for tests.
    std::string text(double seconds) const;

private:
    void draw(bool force);

    int m_fd = -1;
    std::string m_label;
    uint64_t m_total = 0;
    Unit m_unit = BYTES;
    std::atomic<uint64_t> m_done{0};
    bool m_drawn = false;
    std::chrono::steady_clock::time_point m_start, m_last;
    std::mutex m_drawing;
};

} // namespace brenlo::term
