#include "dot.hpp"

#include "brenlo/color.hpp"
#include "brenlo/exception.hpp"
#include "brenlo/string.hpp"

#include <algorithm>
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

// ---- scaling: what the whole graph sets ----

// The ranges an edge's look is scaled within.
struct Scale {
    double minSupport = 1.0, maxSupport = 0.0;
    // The largest finite certainty, at least 1. An infinite one would
    // flatten the scale of all the others.
    double maxCertainty = 1.0;
};

Scale scaleOf(const Digraph& graph) {
    Scale scale;
    for (const auto& node : graph)
        for (const auto& edge : node.second) {
            const auto& s = edge.second;
            scale.maxSupport = std::max(scale.maxSupport, s.support);
            scale.minSupport = std::min(scale.minSupport, s.support);
            if (s.certainty > scale.maxCertainty && !std::isinf(s.certainty))
                scale.maxCertainty = s.certainty;
        }
    return scale;
}

// ---- styling: one edge ----

// Gateway colours run from olive just above the threshold to blue at the
// graph's largest finite certainty.
const brenlo::gfx::RGBAColor GATEWAY_LOW(170, 170, 85, 255), GATEWAY_HIGH(85, 85, 170, 255);

// Where a gateway edge's colour lies between the two. An infinite
// certainty, the subsequent never seen without the antecedent, is the
// strongest gateway there is: the top colour.
double gatewayShade(double certainty, double threshold, double maxFinite) {
    if (std::isinf(certainty) && certainty > 0)
        return 1;
    return (certainty - threshold) / (maxFinite - threshold);
}

struct EdgeStyle {
    double weight;   // pulls near-certain pairs together
    double penWidth; // support, spread over 0.25 to 1.5
    bool gateway;    // certainty above the threshold: coloured
    std::string color;
};

EdgeStyle styleOf(const quorvel::rule::RuleSet::Stats& s, const Scale& scale,
                  const Configuration& config) {
    EdgeStyle style;
    style.weight = 1 / (1.001 - s.support);
    style.penWidth = (s.support - scale.minSupport) * 1.5 / (scale.maxSupport - scale.minSupport);
    if (std::isnan(style.penWidth))
        style.penWidth = 1.5; // every edge of the same support
    else if (style.penWidth < 0.25)
        style.penWidth = 0.25;
    style.gateway = !(s.certainty <= config.gatewayCertainty);
    if (style.gateway)
        style.color =
            GATEWAY_LOW
                .lerp(gatewayShade(s.certainty, config.gatewayCertainty, scale.maxCertainty),
                      GATEWAY_HIGH)
                .toHex6();
    return style;
}

// ---- writing ----

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

void writeEdge(brenlo::io::TextWriter& out, const std::string& from, const std::string& to,
               const EdgeStyle& style) {
    checkDrawable(from, to);
    out.write(dotId(from));
    out.writeString("->");
    out.write(dotId(to));
    out.writeString("[weight=");
    out.writeFloat(style.weight);
    out.writeString(",penwidth=");
    out.writeFloat(style.penWidth);
    if (style.gateway) {
        out.writeString(",color=\"");
        out.write(style.color);
        out.writeString("\"");
    }
    out.writeLine("];");
}

void renderEdges(brenlo::io::TextWriter& out, const Digraph& graph, const Configuration& config) {
    const Scale scale = scaleOf(graph);
    for (const auto& node : graph)
        for (const auto& edge : node.second)
            writeEdge(out, node.first, edge.first, styleOf(edge.second, scale, config));
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
