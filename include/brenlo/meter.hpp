// A progress line on a terminal: long stages redraw one line of standard
// error in place, a few times a second, and erase it when they end, so the
// regular lines read as they would without it. Off unless switched on,
// which a program does only when standard error is a terminal.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

namespace brenlo::term {

class Meter {
public:
    enum Unit { BYTES, SUBJECTS, SETS };

    /// The process's meter.
    static Meter& live();

    /// Draws to file descriptor `fd` from now on; -1 switches it off.
    void drawTo(int fd);
    bool on() const { return m_fd >= 0; }

    /// Begins a stage of `total` units (0: not known beforehand).
    void start(const std::string& label, uint64_t total, Unit unit);
    /// Counts `n` more units done; any thread may call it.
    void advance(uint64_t n);
    /// Ends the stage and erases its line.
    void finish();

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

/// Draws the live meter's stage for as long as it lives, ending it even
/// when the stage throws.
class MeterStage {
public:
    MeterStage(const std::string& label, uint64_t total, Meter::Unit unit) {
        Meter::live().start(label, total, unit);
    }
    ~MeterStage() { Meter::live().finish(); }
    MeterStage(const MeterStage&) = delete;
    MeterStage& operator=(const MeterStage&) = delete;
};

} // namespace brenlo::term
