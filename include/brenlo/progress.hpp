// Where a long job says how far it has got: stages of a known (or unknown)
// number of units, advanced from any thread. A terminal meter draws it; a
// library caller may forward it; nobody listening costs nothing.
#pragma once

#include <cstdint>
#include <string>

namespace brenlo {

class Progress {
public:
    enum Unit { BYTES, SUBJECTS, SETS };

    virtual ~Progress() = default;

    /// Begins a stage of `total` units (0: not known beforehand).
    virtual void start(const std::string& /*label*/, uint64_t /*total*/, Unit /*unit*/) {}
    /// Counts `n` more units done; any thread may call it.
    virtual void advance(uint64_t /*n*/) {}
    /// Ends the stage.
    virtual void finish() {}
};

/// A stage of `progress` for as long as it lives, ended even when the
/// stage throws.
class ProgressStage {
public:
    ProgressStage(Progress& progress, const std::string& label, uint64_t total, Progress::Unit unit)
        : m_progress(progress) {
        m_progress.start(label, total, unit);
    }
    ~ProgressStage() { m_progress.finish(); }
    ProgressStage(const ProgressStage&) = delete;
    ProgressStage& operator=(const ProgressStage&) = delete;

private:
    Progress& m_progress;
};

} // namespace brenlo
