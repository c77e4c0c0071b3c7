#include "digraph.hpp"

namespace quorvel::links {

void Digraph::link(const std::string& from, const std::string& to,
                   const quorvel::rule::RuleSet::Stats& stats) {
    m_data[from].m_support[to] = stats;
}

} // namespace quorvel::links
