// The graph of item-to-item rules: a node per source item, an edge per
// target, each edge carrying the statistics of the rule that links them.
#pragma once

#include "config.hpp"
#include "quorvel/rule.hpp"

#include <map>
#include <string>

namespace quorvel::links {

class Digraph {
public:
    class Node {
    public:
        typedef std::map<std::string, quorvel::rule::RuleSet::Stats>::iterator Iterator;
        typedef std::map<std::string, quorvel::rule::RuleSet::Stats>::const_iterator ConstIterator;

        Node() {}
        Node(const Node& other) = default;
        Node& operator=(const Node& other) = default;

        Iterator begin() { return m_support.begin(); }
        ConstIterator begin() const { return m_support.begin(); }
        Iterator end() { return m_support.end(); }
        ConstIterator end() const { return m_support.end(); }
        size_t size() const { return m_support.size(); }

    private:
        friend class Digraph;
        std::map<std::string, quorvel::rule::RuleSet::Stats> m_support;
    };

    typedef std::map<std::string, Node>::iterator Iterator;
    typedef std::map<std::string, Node>::const_iterator ConstIterator;

    Digraph() {}

    /// Adds the edge from `from` to `to`, or replaces its statistics.
    void link(const std::string& from, const std::string& to,
              const quorvel::rule::RuleSet::Stats& stats);
    void clear() { m_data.clear(); }
    /// Whether `name` is the source of some edge.
    bool contains(const std::string& name) const { return m_data.count(name) != 0; }
    /// The number of source nodes.
    size_t size() const { return m_data.size(); }

    Iterator begin() { return m_data.begin(); }
    ConstIterator begin() const { return m_data.begin(); }
    Iterator end() { return m_data.end(); }
    ConstIterator end() const { return m_data.end(); }

private:
    std::map<std::string, Node> m_data;
};

/// Reads the rule table named by `config.inputFile` ("-" is a file of that
/// name), writing the path to standard error first.
quorvel::rule::RuleSet readRules(const Configuration& config);

/// The graph of the table's rules between two single items that pass the
/// thresholds and the minimum certainty, with progress on standard error.
Digraph route(const Configuration& config);
/// The same from rules already read.
Digraph route(const Configuration& config, quorvel::rule::RuleSet rules);

/// The `top` links of `graph` that rank highest by `by`, ties kept in
/// graph order; says how many on standard error.
Digraph strongest(const Digraph& graph, size_t top, const quorvel::rule::Measure& by);

} // namespace quorvel::links
