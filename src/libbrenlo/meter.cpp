#include "brenlo/meter.hpp"

#include "brenlo/string.hpp"

#include <sys/ioctl.h>
#include <unistd.h>

namespace brenlo::term {

namespace {

const auto INTERVAL = std::chrono::milliseconds(200);

std::string bytes(double n) {
    const char* UNITS[] = {"B", "KB", "MB", "GB", "TB"};
    int u = 0;
    while (n >= 1000 && u < 4) {
        n /= 1000;
        ++u;
    }
    return string::strprintf(u ? "%.1f %s" : "%.0f %s", n, UNITS[u]);
}

std::string duration(double seconds) {
    const long s = static_cast<long>(seconds + 0.5);
    if (s < 60)
        return string::strprintf("%ld s", s);
    if (s < 3600)
        return string::strprintf("%ld min %02ld s", s / 60, s % 60);
    return string::strprintf("%ld h %02ld min", s / 3600, s / 60 % 60);
}

void writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0)
            return; // a meter that cannot draw must not stop the run
        done += static_cast<size_t>(n);
    }
}

} // namespace

Meter& Meter::live() {
    static Meter meter;
    return meter;
}

void Meter::drawTo(int fd) {
    m_fd = fd;
}

void Meter::start(const std::string& label, uint64_t total, Unit unit) {
    if (!on())
        return;
    std::lock_guard<std::mutex> lock(m_drawing);
    m_label = label;
    m_total = total;
    m_unit = unit;
    m_done = 0;
    m_start = m_last = std::chrono::steady_clock::now();
    draw(true);
}

void Meter::advance(uint64_t n) {
    if (!on())
        return;
    m_done += n;
    std::unique_lock<std::mutex> lock(m_drawing, std::try_to_lock);
    if (lock.owns_lock())
        draw(false);
}

void Meter::finish() {
    if (!on())
        return;
    std::lock_guard<std::mutex> lock(m_drawing);
    if (m_drawn)
        writeAll(m_fd, "\r\x1b[K");
    m_drawn = false;
}

std::string Meter::text(double seconds) const {
    const uint64_t done = m_done;
    const char* what = m_unit == SUBJECTS ? "subjects" : "sets";
    std::string line = m_label + ": ";
    if (m_unit == BYTES) {
        line += bytes(double(done));
        if (m_total)
            line += " of " + bytes(double(m_total));
        if (seconds >= 0.5)
            line += ", " + bytes(double(done) / seconds) + "/s";
    } else {
        line += string::strprintf("%llu", static_cast<unsigned long long>(done));
        if (m_total)
            line += string::strprintf(" of %llu", static_cast<unsigned long long>(m_total));
        line += std::string(" ") + what;
    }
    if (m_total) {
        line +=
            string::strprintf(" (%d%%)", static_cast<int>(100.0 * double(done) / double(m_total)));
        if (done > 0 && done < m_total && seconds >= 1)
            line +=
                ", about " + duration(seconds * double(m_total - done) / double(done)) + " left";
    }
    return line;
}

void Meter::draw(bool force) {
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - m_last < INTERVAL)
        return;
    m_last = now;
    const double seconds = std::chrono::duration<double>(now - m_start).count();
    std::string line = text(seconds);
    // A line wider than the terminal would wrap, and a carriage return
    // goes back only to the start of its last part.
    struct winsize size;
    if (::ioctl(m_fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 1 && line.size() >= size.ws_col)
        line.resize(size.ws_col - 1);
    writeAll(m_fd, "\r" + line + "\x1b[K");
    m_drawn = true;
}

} // namespace brenlo::term
