#include "digraph.hpp"

#include <iostream>

namespace quorvel::links {

using quorvel::rule::RuleSet;

void Digraph::link(const std::string& from, const std::string& to,
                   const quorvel::rule::RuleSet::Stats& stats) {
    m_data[from].m_support[to] = stats;
}

RuleSet readRules(const Configuration& config) {
    std::cerr << config.inputFile << std::endl;
    RuleSet rules;
    rules.readInto(config.inputFile, '\t');
    return rules;
}

Digraph route(const Configuration& config) {
    RuleSet rules = readRules(config);
    std::cerr << "Read in " << rules.size() << " rules." << std::endl;
    rules.filter(config);
    std::cerr << rules.size() << std::endl;
    Digraph graph;
    size_t links = 0;
    for (const auto& entry : rules) {
        const quorvel::rule::Rule& rule = entry.first;
        const RuleSet::Stats& stat = entry.second;
        if (rule.items().size() != 2)
            continue;
        if (stat.certainty < config.minCertainty) {
            std::cerr << "Removing " << rule << " because " << stat.certainty << " < "
                      << config.minCertainty << std::endl;
            continue;
        }
        if (rule.antecedent().empty() || rule.subsequent().empty()) {
            std::cerr << "Removing " << rule << " because one side is empty" << std::endl;
            continue;
        }
        graph.link(rule.antecedent().least(), rule.subsequent().least(), stat);
        ++links;
    }
    std::cerr << "Mapped " << links << " links to graph." << std::endl;
    return graph;
}

} // namespace quorvel::links
