#include "dot.hpp"

#include "brenlo/color.hpp"
#include "brenlo/exception.hpp"
#include "brenlo/string.hpp"

#include <cmath>

namespace quorvel::links {

namespace {

bool isAsciiLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool isAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isKeyword(const std::string& name) {
    for (const char* k : {"node", "edge", "graph", "digraph", "subgraph", "strict"})
        if (brenlo::string::strcmpi(name.c_str(), k) == 0)
            return true;
    return false;
}

bool isBareId(const std::string& name) {
    if (name.empty())
        return false;
    bool digits = true, ident = isAsciiLetter(name[0]);
    for (char c : name) {
        digits = digits && isAsciiDigit(c);
        ident = ident && (isAsciiLetter(c) || isAsciiDigit(c));
    }
    return digits || (ident && !isKeyword(name));
}

// The node step gathers every name and draws nothing: all nodes appear
// through their edges.
void renderNodes(brenlo::io::TextWriter&, const Digraph& graph, const Configuration&) {
    quorvel::rule::ItemSet names;
    for (const auto& node : graph) {
        names.add(node.first);
        for (const auto& edge : node.second)
            names.add(edge.first);
    }
}

// Where a gateway edge's colour lies between the bottom colour (just above
// the threshold) and the top one (the graph's largest finite certainty). An
// infinite certainty, the subsequent never seen without the antecedent,
// is the strongest gateway there is: the top colour.
double gatewayShade(double certainty, double threshold, double maxFinite) {
    if (std::isinf(certainty) && certainty > 0)
        return 1;
    return (certainty - threshold) / (maxFinite - threshold);
}

// The longest name Graphviz's scanner takes, bare or between its quotes
// (its token buffer holds 16,384 bytes).
const size_t DOT_NAME_LIMIT = 16381;

std::string shortened(const std::string& name) {
    return name.size() <= 40 ? name : name.substr(0, 40) + "...";
}

void checkDrawable(const std::string& from, const std::string& to) {
    for (const std::string* name : {&from, &to}) {
        const std::string id = dotId(*name);
        const size_t written = id.size() - (id[0] == '"' ? 2 : 0);
        if (written > DOT_NAME_LIMIT)
            throw brenlo::IOException(brenlo::string::strprintf(
                "Cannot draw the rule \"%s => %s\": the name \"%s\" takes %lu bytes in DOT, "
                "more than the %lu that Graphviz reads.",
                shortened(from).c_str(), shortened(to).c_str(), shortened(*name).c_str(),
                static_cast<unsigned long>(written), static_cast<unsigned long>(DOT_NAME_LIMIT)));
    }
}

void renderEdges(brenlo::io::TextWriter& out, const Digraph& graph, const Configuration& config) {
    double minWeight = 1.0, maxWeight = 0.0, maxCertainty = 1.0;
    const brenlo::gfx::RGBAColor stop0(170, 170, 85, 255), stop1(85, 85, 170, 255);
    for (const auto& node : graph)
        for (const auto& edge : node.second) {
            const auto& s = edge.second;
            if (s.support > maxWeight)
                maxWeight = s.support;
            if (minWeight > s.support)
                minWeight = s.support;
            // An infinite certainty would flatten the scale of all the others.
            if (s.certainty > maxCertainty && !std::isinf(s.certainty))
                maxCertainty = s.certainty;
        }
    for (const auto& node : graph)
        for (const auto& edge : node.second) {
            const auto& s = edge.second;
            double thickness = (s.support - minWeight) * 1.5 / (maxWeight - minWeight);
            double weight = 1 / (1.001 - s.support);
            bool colored = !(s.certainty <= config.gatewayCertainty);
            double cweight = 0;
            if (colored)
                cweight = gatewayShade(s.certainty, config.gatewayCertainty, maxCertainty);
            checkDrawable(node.first, edge.first);
            if (std::isnan(thickness))
                thickness = 1.5;
            else if (thickness < 0.25)
                thickness = 0.25;
            out.write(dotId(node.first));
            out.writeString("->");
            out.write(dotId(edge.first));
            out.writeString("[weight=");
            out.writeFloat(weight);
            out.writeString(",penwidth=");
            out.writeFloat(thickness);
            if (colored) {
                out.writeString(",color=\"");
                out.write(stop0.lerp(cweight, stop1).toHex6());
                out.writeString("\"");
            }
            out.writeLine("];");
        }
}

} // namespace

std::string dotId(const std::string& name) {
    if (isBareId(name))
        return name;
    std::string quoted = "\"";
    for (char c : name) {
        // Graphviz ends a string at a NUL byte: it is written as \0.
        if (c == '\0') {
            quoted += "\\0";
            continue;
        }
        if (c == '"' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

void renderGraph(brenlo::io::TextWriter& out, const Digraph& graph, const Configuration& config) {
    out.writeLine("digraph G {");
    out.writeLine("splines=curved; concentrate=true; overlap=scale;");
    renderNodes(out, graph, config);
    renderEdges(out, graph, config);
    out.writeLine("}");
}

} // namespace quorvel::links
