#include "report.hpp"

#include "quorvel/formats.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace quorvel::links {

namespace {

using quorvel::rule::RuleSet;

std::string escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// A number as the rule table writes it, and as the page's sorting reads it.
std::string shown(double v) {
    std::ostringstream out;
    out << v;
    return out.str();
}

std::string sortKey(double v) {
    if (std::isnan(v))
        return "nan";
    if (std::isinf(v))
        return v > 0 ? "inf" : "-inf";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

std::string itemsCell(const quorvel::rule::ItemSet& set) {
    std::string out;
    for (const std::string& item : set)
        out += (out.empty() ? "" : ", ") + escaped(item);
    return out;
}

const char* STYLE = R"(body{font:14px/1.45 system-ui,sans-serif;margin:2em auto;max-width:72em;
padding:0 1em;color:#222}h1{font-size:1.5em}h2{font-size:1.15em;margin-top:1.6em}
table{border-collapse:collapse;width:100%}th,td{padding:.25em .5em;border-bottom:1px solid #ddd;
text-align:right}th{cursor:pointer;background:#f4f4f4;position:sticky;top:0;white-space:nowrap}
td.items,th.items{text-align:left}th[aria-sort=descending]::after{content:" \2193"}
th[aria-sort=ascending]::after{content:" \2191"}.picture svg{max-width:100%;height:auto}
dl{display:grid;grid-template-columns:max-content auto;gap:.2em 1em}dt{font-weight:600}
#filter{font-size:1em;padding:.3em;width:24em;margin:.5em 0})";

// Sorting by a header (largest first, then smallest first) and filtering
// by item text; plain DOM, nothing fetched.
const char* SCRIPT = R"((function () {
  var table = document.getElementById("rules"), body = table.tBodies[0];
  var heads = table.tHead.rows[0].cells, shown = document.getElementById("shown");
  function key(row, col) {
    var cell = row.cells[col], v = cell.getAttribute("data-v");
    if (v === null) return cell.textContent.toLowerCase();
    return v === "inf" ? Infinity : v === "-inf" ? -Infinity : v === "nan" ? NaN : parseFloat(v);
  }
  function sortBy(col) {
    var descending = heads[col].getAttribute("aria-sort") !== "descending";
    var rows = Array.prototype.slice.call(body.rows);
    rows.forEach(function (r, i) { r.order = i; });
    rows.sort(function (a, b) {
      var x = key(a, col), y = key(b, col);
      if (x !== x) return y !== y ? a.order - b.order : 1; // NaN last
      if (y !== y) return -1;
      var c = x < y ? -1 : x > y ? 1 : 0;
      return (descending ? -c : c) || a.order - b.order;
    });
    rows.forEach(function (r) { body.appendChild(r); });
    for (var i = 0; i < heads.length; ++i) heads[i].removeAttribute("aria-sort");
    heads[col].setAttribute("aria-sort", descending ? "descending" : "ascending");
  }
  Array.prototype.forEach.call(heads, function (h, col) {
    h.addEventListener("click", function () { sortBy(col); });
  });
  var filter = document.getElementById("filter");
  filter.addEventListener("input", function () {
    var words = filter.value.toLowerCase().split(/\s+/).filter(Boolean), n = 0;
    Array.prototype.forEach.call(body.rows, function (r) {
      var text = (r.cells[0].textContent + " " + r.cells[1].textContent).toLowerCase();
      r.hidden = !words.every(function (w) { return text.indexOf(w) >= 0; });
      if (!r.hidden) ++n;
    });
    shown.textContent = n;
  });
})();)";

void parameters(std::ostream& out, const Configuration& config) {
    auto row = [&](const std::string& name, const std::string& value) {
        out << "<dt>" << escaped(name) << "</dt><dd>" << escaped(value) << "</dd>\n";
    };
    out << "<dl>\n";
    row("Rule table", config.inputFile == "-" ? "standard input" : config.inputFile);
    row("Minimum count", std::to_string(config.minCount));
    row("Minimum support", shown(config.minSupport));
    row("Minimum confidence", shown(config.minConfidence));
    row("Minimum lift", shown(config.minLift));
    row("Maximum conviction", shown(config.maxConviction));
    row("Minimum certainty (links)", shown(config.minCertainty));
    row("Gateway certainty", shown(config.gatewayCertainty));
    if (config.top)
        row("Links kept",
            "the " + std::to_string(config.top) + " strongest by " + config.strongestBy->name);
    out << "</dl>\n";
}

void key(std::ostream& out, const Configuration& config) {
    out << "<h2>How to read it</h2>\n<ul>\n"
           "<li>A rule <i>A &rArr; B</i> says: in subjects where A happened, B happened "
           "afterwards, within the miner's window. <b>Count</b> is the number of subjects in "
           "which it was seen; <b>A union S</b> the number holding all its items.</li>\n"
           "<li>An arrow from <i>a</i> to <i>b</i> in the picture is the rule "
           "<i>a &rArr; b</i> between two single items.</li>\n"
           "<li>The thicker the arrow, the larger the rule's support, from the thinnest link "
           "of the picture to the thickest.</li>\n"
           "<li>Black arrows are rules of certainty up to "
        << escaped(shown(config.gatewayCertainty)) << "; coloured ones, <i>gateways</i>, pass it: "
        << (config.shadeByRank
                ? "olive for the lowest certainty among them, blue for the highest, the "
                  "others spread evenly by their rank between the two"
                : "olive just above it, blue at the picture's largest finite certainty")
        << ", and blue for infinite ones (b never seen without a before it).</li>\n"
           "<li><b>Lift</b> above 1: b follows a more often than b's own frequency would "
           "have it. <b>Confidence</b>: the share of subjects with a in which b followed.</li>\n"
           "</ul>\n";
}

} // namespace

void writeReport(std::ostream& out, const Configuration& config, const RuleSet& rules,
                 const std::string& svg, const std::string& why) {
    size_t kept = 0;
    for (const auto& entry : rules)
        kept += config.admits(entry.second);
    out << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
           "<title>Rules of "
        << escaped(config.inputFile) << "</title>\n<style>" << STYLE
        << "</style>\n</head>\n<body>\n<h1>Rules of " << escaped(config.inputFile) << "</h1>\n";
    parameters(out, config);
    key(out, config);
    out << "<h2>Picture</h2>\n<div class=\"picture\">\n";
    if (svg.empty())
        out << "<p>" << escaped(why) << ".</p>\n";
    else
        out << svg << "\n";
    out << "</div>\n<h2>Rules</h2>\n<p><span id=\"shown\">" << kept << "</span> of " << kept
        << " rules shown; click a heading to sort, type to filter by items.</p>\n"
           "<input id=\"filter\" type=\"search\" placeholder=\"Filter by item\" "
           "aria-label=\"Filter by item\">\n<table id=\"rules\">\n<thead><tr>"
           "<th class=\"items\">Antecedent</th><th class=\"items\">Subsequent</th>";
    // The measures, and the optional columns the table carries.
    const std::vector<const quorvel::rule::Measure*> all =
        quorvel::rule::tableMeasures(rules.columns());
    for (const quorvel::rule::Measure* m : all)
        out << "<th data-measure=\"" << m->name << "\">" << m->header << "</th>";
    out << "</tr></thead>\n<tbody>\n";
    for (const auto& entry : rules) {
        if (!config.admits(entry.second))
            continue;
        out << "<tr><td class=\"items\">" << itemsCell(entry.first.antecedent())
            << "</td><td class=\"items\">" << itemsCell(entry.first.subsequent()) << "</td>";
        for (const quorvel::rule::Measure* m : all) {
            const double v = m->of(entry.second);
            out << "<td data-v=\"" << sortKey(v) << "\">" << shown(v) << "</td>";
        }
        out << "</tr>\n";
    }
    out << "</tbody>\n</table>\n<script>" << SCRIPT << "</script>\n</body>\n</html>\n";
}

} // namespace quorvel::links
