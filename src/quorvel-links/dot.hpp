// Writing the rule graph in the Graphviz DOT language.
#pragma once

#include "config.hpp"
#include "digraph.hpp"

#include "brenlo/io.hpp"

#include <string>

namespace quorvel::links {

/// A node name as DOT reads it: bare when it is a plain identifier (not a
/// keyword) or a number of digits, else a quoted string (a NUL byte, which
/// Graphviz cannot hold, written as \0).
std::string dotId(const std::string& name);
/// `text` as a quoted DOT string, escaped as dotId escapes it.
std::string dotString(const std::string& text);

/// The whole DOT text of `graph`.
/// Curved edges, unless the graph has more links than Graphviz can route
/// curved in reasonable time (beyond about a hundred it takes minutes or
/// never ends), when it is spline, and a line on standard error says why.
std::string defaultSplines(const Digraph& graph);
/// The splines a configuration draws with: its own, or curved.
const std::string& splinesOf(const Configuration& config);
static constexpr size_t MOST_CURVED_LINKS = 100;

void renderGraph(brenlo::io::TextWriter& out, const Digraph& graph, const Configuration& config);

} // namespace quorvel::links
