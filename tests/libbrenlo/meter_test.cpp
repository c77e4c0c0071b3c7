// The progress line: what it says, and that it draws and erases itself.
#include "brenlo/meter.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

using brenlo::term::Meter;

namespace {

std::string drained(int fd) {
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;)
        out.append(buf, static_cast<size_t>(n));
    return out;
}

} // namespace

TEST(Meter, SaysHowFarAndHowFastAndHowLong) {
    Meter meter;
    EXPECT_FALSE(meter.on());
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
    meter.drawTo(fds[1]);
    meter.start("Reading x", 4000000, Meter::BYTES);
    EXPECT_EQ(drained(fds[0]), "\rReading x: 0 B of 4.0 MB (0%)\x1b[K");
    meter.advance(1000000);
    EXPECT_EQ(drained(fds[0]), ""); // not again within a fifth of a second
    EXPECT_EQ(meter.text(2.0), "Reading x: 1.0 MB of 4.0 MB, 500.0 KB/s (25%), about 6 s left");
    EXPECT_EQ(meter.text(0.1), "Reading x: 1.0 MB of 4.0 MB (25%)");
    meter.finish();
    EXPECT_EQ(drained(fds[0]), "\r\x1b[K");

    meter.start("Reading -", 0, Meter::BYTES); // size not known
    meter.advance(1536);
    EXPECT_EQ(meter.text(1.0), "Reading -: 1.5 KB, 1.5 KB/s");
    meter.start("Counting", 3000, Meter::SUBJECTS);
    meter.advance(100);
    EXPECT_EQ(meter.text(200.0), "Counting: 100 of 3000 subjects (3%), about 1 h 36 min left");
    meter.advance(1900);
    EXPECT_EQ(meter.text(200.0), "Counting: 2000 of 3000 subjects (66%), about 1 min 40 s left");
    meter.start("Joining", 10, Meter::SETS);
    meter.advance(10);
    EXPECT_EQ(meter.text(5.0), "Joining: 10 of 10 sets (100%)");
    meter.drawTo(-1);
    ::close(fds[0]);
    ::close(fds[1]);
}
