// Writing an output file so that a failure never leaves half a file behind.
#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>

namespace brenlo::io {

/// An output opened now and put in place later. A regular file (or a new
/// one) is written to a hidden temporary file in the same folder,
/// `.NAME.quorvel-tmp.XXXXXX`, flushed to disk and renamed over `path` by
/// commit(); a device or pipe is written directly. An output destroyed
/// before commit() removes its temporary file, as does SIGINT, SIGTERM or
/// SIGHUP. Write failures keep the system's reason and are raised as
/// brenlo::IOException naming the path.
class PendingOutput {
public:
    /// Opens `path`: creates the temporary file, or opens the device.
    explicit PendingOutput(const std::string& path);
    /// Writes to an open descriptor, which is not closed; errors name `name`.
    PendingOutput(int fd, const std::string& name);
    ~PendingOutput();
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;

    std::ostream& stream();
    const std::string& path() const;
    /// Flushes every byte to the device (and the disk); raises on failure.
    void finish();
    /// finish(), then renames the temporary file into place.
    void commit();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

/// Writes `path` through `write` with a PendingOutput and commits it.
void replaceFile(const std::string& path, const std::function<void(std::ostream&)>& write);

} // namespace brenlo::io
