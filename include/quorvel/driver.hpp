// What both programs' drivers share: reading option values, writing an
// output, and turning a failure into a message and exit status 2.
#pragma once

#include "brenlo/cmdline.hpp"

#include <functional>
#include <iosfwd>
#include <string>

namespace quorvel {

/// Runs `work` and returns 0; an exception, thrown by value or as a pointer,
/// is written to standard error (its message and a line end) and gives 2.
int runReportingFailures(const std::function<void()>& work);

/// A floating option's value in double precision, read from its text (the
/// parser has already checked the text as a number).
double realOption(const brenlo::cmdline::CmdLine::Value& value);

/// Writes an output through `write`: to standard output for "-", otherwise
/// to `path`, replaced only once complete. Raises brenlo::IOException when
/// it cannot be written.
void writeOutput(const std::string& path, const std::function<void(std::ostream&)>& write);

} // namespace quorvel
