#include "dot.hpp"

#include "brenlo/color.hpp"
#include "brenlo/exception.hpp"
#include "brenlo/string.hpp"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <set>
#include <vector>

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
    // With colours by rank: the finite gateway certainties, ascending.
    std::vector<double> gatewayRanks;
};

Scale scaleOf(const Digraph& graph, const Configuration& config) {
    Scale scale;
    for (const auto& node : graph)
        for (const auto& edge : node.second) {
            const auto& s = edge.second;
            scale.maxSupport = std::max(scale.maxSupport, s.support);
            scale.minSupport = std::min(scale.minSupport, s.support);
            if (s.certainty > scale.maxCertainty && !std::isinf(s.certainty))
                scale.maxCertainty = s.certainty;
            if (config.shadeByRank && s.certainty > config.gatewayCertainty &&
                !std::isinf(s.certainty))
                scale.gatewayRanks.push_back(s.certainty);
        }
    std::sort(scale.gatewayRanks.begin(), scale.gatewayRanks.end());
    scale.gatewayRanks.erase(std::unique(scale.gatewayRanks.begin(), scale.gatewayRanks.end()),
                             scale.gatewayRanks.end());
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

// By rank instead: the distinct finite certainties evenly spread, so that a
// few outliers do not leave every other edge the same colour.
double rankShade(double certainty, const std::vector<double>& ranks) {
    if ((std::isinf(certainty) && certainty > 0) || ranks.size() < 2)
        return 1;
    const size_t k = static_cast<size_t>(std::lower_bound(ranks.begin(), ranks.end(), certainty) -
                                         ranks.begin());
    return static_cast<double>(k) / static_cast<double>(ranks.size() - 1);
}

struct EdgeStyle {
    std::string label; // "" for none
    double weight;     // pulls near-certain pairs together
    double penWidth;   // support, spread over 0.25 to 1.5
    bool gateway;      // certainty above the threshold: coloured
    std::string color;
};

EdgeStyle styleOf(const quorvel::rule::RuleSet::Stats& s, const Scale& scale,
                  const Configuration& config) {
    EdgeStyle style;
    if (config.labels)
        style.label = brenlo::string::strprintf("conf %.2g\\nlift %.2g", s.confidence, s.lift);
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
                .lerp(config.shadeByRank
                          ? rankShade(s.certainty, scale.gatewayRanks)
                          : gatewayShade(s.certainty, config.gatewayCertainty, scale.maxCertainty),
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

// Graphviz places edge labels itself only along some kinds of edges; the
// others take labels placed after the layout.
const char* labelAttribute(const Configuration& config) {
    const std::string& splines = splinesOf(config);
    return splines == "curved" || splines == "ortho" ? "xlabel" : "label";
}

void writeEdge(brenlo::io::TextWriter& out, const std::string& from, const std::string& to,
               const EdgeStyle& style, const Configuration& config) {
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
    if (!style.label.empty()) {
        out.writeString(",fontsize=9,");
        out.writeString(labelAttribute(config));
        out.writeString("=\"");
        out.write(style.label);
        out.writeString("\"");
    }
    out.writeLine("];");
}

// Every item the graph's links join, in name order.
std::set<std::string> itemsOf(const Digraph& graph) {
    std::set<std::string> items;
    for (const auto& node : graph) {
        items.insert(node.first);
        for (const auto& edge : node.second)
            items.insert(edge.first);
    }
    return items;
}

// A name no item of the graph starts with, for the legend's own nodes.
std::string legendPrefix(const Digraph& graph) {
    std::string prefix = "legend ";
    auto taken = [&](const std::string& name) {
        return name.compare(0, prefix.size(), prefix) == 0;
    };
    for (bool clash = true; clash;) {
        clash = false;
        for (const auto& node : graph) {
            clash = clash || taken(node.first);
            for (const auto& edge : node.second)
                clash = clash || taken(edge.first);
        }
        if (clash)
            prefix += '_';
    }
    return prefix;
}

// Pairs of blank nodes whose edges show what width and colour mean, each
// labelled; drawn with the same styles as the graph's own edges. The pairs
// share one rank, below every item (unseen edges from each item rank them),
// and their edges do not rank them: one row under the graph, not a column
// beside it.
void renderLegend(brenlo::io::TextWriter& out, const Digraph& graph, const Scale& scale,
                  const Configuration& config) {
    bool infinite = false;
    for (const auto& node : graph)
        for (const auto& edge : node.second)
            infinite = infinite || (std::isinf(edge.second.certainty) && edge.second.certainty > 0);
    const std::string prefix = legendPrefix(graph);
    struct Entry {
        std::string label, attributes;
    };
    std::vector<Entry> entries;
    if (scale.maxSupport >= scale.minSupport) {
        entries.push_back(
            {brenlo::string::strprintf("thin: support %.3g", scale.minSupport), "penwidth=0.25"});
        entries.push_back(
            {brenlo::string::strprintf("thick: support %.3g", scale.maxSupport), "penwidth=1.5"});
    }
    entries.push_back(
        {brenlo::string::strprintf("black: certainty at most %.2g", config.gatewayCertainty), ""});
    entries.push_back(
        {config.shadeByRank && !scale.gatewayRanks.empty()
             ? brenlo::string::strprintf("certainty %.3g (colours by rank)",
                                         scale.gatewayRanks.front())
             : brenlo::string::strprintf("certainty just above %.2g", config.gatewayCertainty),
         "color=\"" + GATEWAY_LOW.toHex6() + "\""});
    const bool finite = scale.maxCertainty > config.gatewayCertainty;
    const std::string top = brenlo::string::strprintf("certainty %.3g", scale.maxCertainty);
    entries.push_back({!infinite ? top
                       : finite  ? top + " or infinite"
                                 : "certainty infinite",
                       "color=\"" + GATEWAY_HIGH.toHex6() + "\""});
    out.writeLine("subgraph cluster_legend {");
    out.writeLine("label=\"Legend\"; fontsize=10; color=gray60;");
    out.writeLine("node [shape=point,width=0.05,color=gray60]; "
                  "edge [fontsize=9,arrowsize=0.6,constraint=false];");
    // Graphviz places the nodes of a rank right to left as they are named.
    out.writeString("{rank=same;");
    for (size_t k = 2 * entries.size(); k-- > 0;) {
        out.writeString(" ");
        out.write(dotId(prefix + std::to_string(k)));
        out.writeString(";");
    }
    out.writeLine("}");
    for (size_t k = 0; k < entries.size(); ++k) {
        out.write(dotId(prefix + std::to_string(2 * k)));
        out.writeString("->");
        out.write(dotId(prefix + std::to_string(2 * k + 1)));
        out.writeString("[");
        out.writeString(labelAttribute(config));
        out.writeString("=\"");
        out.write(entries[k].label);
        out.writeString("\"");
        if (!entries[k].attributes.empty()) {
            out.writeString(",");
            out.write(entries[k].attributes);
        }
        out.writeLine("];");
    }
    out.writeLine("}");
    for (const std::string& item : itemsOf(graph)) {
        out.write(dotId(item));
        out.writeString("->");
        out.write(dotId(prefix + "0"));
        // Graphviz ranks by no edge of weight 0.
        out.writeLine("[style=invis];");
    }
}

// Graphviz reads "&amp;" in a label as "&": an item whose name holds an
// "&" is labelled with it escaped, so the picture shows the name as written.
void labelAmpersands(brenlo::io::TextWriter& out, const Digraph& graph) {
    for (const std::string& name : itemsOf(graph)) {
        if (name.find('&') == std::string::npos)
            continue;
        out.write(dotId(name));
        out.writeString("[label=");
        std::string label;
        for (char c : name)
            label += c == '&' ? std::string("&amp;") : std::string(1, c);
        out.write(dotString(label));
        out.writeLine("];");
    }
}

void renderEdges(brenlo::io::TextWriter& out, const Digraph& graph, const Configuration& config) {
    const Scale scale = scaleOf(graph, config);
    labelAmpersands(out, graph);
    for (const auto& node : graph)
        for (const auto& edge : node.second)
            writeEdge(out, node.first, edge.first, styleOf(edge.second, scale, config), config);
    if (config.legend)
        renderLegend(out, graph, scale, config);
}

} // namespace

std::string dotId(const std::string& name) {
    return isBareId(name) ? name : dotString(name);
}

std::string dotString(const std::string& name) {
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

const std::string& splinesOf(const Configuration& config) {
    static const std::string curved = "curved";
    return config.splines.empty() ? curved : config.splines;
}

std::string defaultSplines(const Digraph& graph) {
    size_t links = 0;
    for (const auto& node : graph)
        links += node.second.size();
    if (links <= MOST_CURVED_LINKS)
        return "curved";
    std::cerr << "Drawing " << links << " links as splines=spline: Graphviz does not finish "
              << "curved edges on more than " << MOST_CURVED_LINKS
              << " links (--splines=curved keeps them)." << std::endl;
    return "spline";
}

void renderGraph(brenlo::io::TextWriter& out, const Digraph& graph, const Configuration& config) {
    out.writeLine("digraph G {");
    out.writeLine("splines=" + splinesOf(config) + "; concentrate=true; overlap=scale;");
    renderNodes(out, graph, config);
    renderEdges(out, graph, config);
    out.writeLine("}");
}

} // namespace quorvel::links
