#include "digraph.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <vector>

namespace quorvel::links {

using quorvel::rule::RuleSet;

void Digraph::link(const std::string& from, const std::string& to,
                   const quorvel::rule::RuleSet::Stats& stats) {
    m_data[from].m_support[to] = stats;
}

namespace {

// A measure as the miner's tab-separated table holds it (six significant
// digits), so that a graph drawn from the CSV or JSON Lines table, which
// keep every digit, is the graph drawn from the TSV. A TSV is read as
// written: one from elsewhere may hold more digits.
double asWritten(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return std::strtod(text, nullptr);
}

} // namespace

RuleSet readRules(const Configuration& config) {
    std::cerr << config.inputFile << std::endl;
    RuleSet rules;
    rules.readInto(config.inputFile, '\t');
    if (!rules.readTsv())
        for (auto& entry : rules)
            for (double* v :
                 {&entry.second.support, &entry.second.confidence, &entry.second.lift,
                  &entry.second.conviction, &entry.second.probability, &entry.second.certainty})
                *v = asWritten(*v);
    return rules;
}

Digraph route(const Configuration& config) {
    return route(config, readRules(config));
}

Digraph route(const Configuration& config, RuleSet rules) {
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
    if (config.top)
        graph = strongest(graph, config.top, *config.strongestBy);
    return graph;
}

Digraph strongest(const Digraph& graph, size_t top, const quorvel::rule::Measure& by) {
    struct Link {
        const std::string *from, *to;
        const RuleSet::Stats* stats;
    };
    std::vector<Link> links;
    for (const auto& node : graph)
        for (const auto& edge : node.second)
            links.push_back({&node.first, &edge.first, &edge.second});
    // Largest first, ties in graph order; NaN ranks last.
    auto key = [&](const Link& l) {
        const double v = by.of(*l.stats);
        return std::isnan(v) ? -HUGE_VAL : v;
    };
    std::stable_sort(links.begin(), links.end(),
                     [&](const Link& a, const Link& b) { return key(a) > key(b); });
    if (links.size() > top)
        links.resize(top);
    Digraph kept;
    for (const Link& l : links)
        kept.link(*l.from, *l.to, *l.stats);
    std::cerr << "Kept the " << links.size() << " strongest links by " << by.name << "."
              << std::endl;
    return kept;
}

} // namespace quorvel::links
