// Writing an output file so that a failure never leaves half a file behind.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>

namespace brenlo::io {

/// Writes `path` through `write`. A regular file (or a new one) is written
/// to a temporary file in the same folder and renamed into place only when
/// every byte is out; a device or pipe is written directly. Raises
/// brenlo::IOException naming the path and the system's reason on failure.
void replaceFile(const std::string& path, const std::function<void(std::ostream&)>& write);

} // namespace brenlo::io
