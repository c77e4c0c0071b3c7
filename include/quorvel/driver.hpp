// What both programs' drivers share: checking and writing outputs, and
// turning a failure into a message and exit status 2.
#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace brenlo::io {
class PendingOutput;
}

namespace quorvel {

/// Runs `work` and returns 0; an exception, thrown by value or as a pointer,
/// is written to standard error (its message and a line end) and gives 2.
/// Running out of memory is reported as `outOfMemory`, which says what the
/// program's user can do about it.
int runReportingFailures(const std::function<void()>& work,
                         const std::string& outOfMemory = "Out of memory.");

/// Raises brenlo::IOException when an output is the same file as an input
/// or as another output, whatever the spelling of the paths. "-" is skipped.
void refuseSharedFiles(const std::vector<std::string>& inputs,
                       const std::vector<std::string>& outputs);

/// The outputs of one run: each is opened (its temporary file created) when
/// added, before any input is read, and all are put in place together by
/// commit(), so a failure anywhere keeps every earlier file as it was.
class OutputSet {
public:
    OutputSet();
    ~OutputSet();

    /// Opens `path`, or standard output for "-"; returns its stream.
    std::ostream& add(const std::string& path);
    /// Flushes every output to its device, then renames each into place.
    void commit();

private:
    std::vector<std::unique_ptr<brenlo::io::PendingOutput>> m_outputs;
    brenlo::io::PendingOutput* m_stdout = nullptr;
};

} // namespace quorvel
