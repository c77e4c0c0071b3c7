// Temporary files that must not outlive an interrupted run: SIGINT, SIGTERM
// and SIGHUP remove every registered path, then end the process with the
// same signal.
#pragma once

#include <string>

namespace brenlo::io {

/// Records `path` for removal if a terminating signal arrives; returns a
/// slot for release(), or -1 when every slot is taken (the file is then
/// only removed by its owner). Installs the handlers on first use.
int registerTemporary(const std::string& path);

/// Forgets the slot: the file was renamed into place or removed.
void releaseTemporary(int slot);

} // namespace brenlo::io
