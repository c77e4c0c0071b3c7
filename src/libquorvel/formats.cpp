#include "quorvel/formats.hpp"

#include "cells.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iostream>

namespace quorvel::rule {

namespace {

// The shortest text that reads back as the same double; standard readers
// take "inf" in CSV, and JSON has no infinity, so there it is a string.
void writeNumber(std::ostream& out, double v, TableFormat format) {
    if (std::isnan(v)) {
        out << (format == TableFormat::JSONL ? "null" : "nan");
        return;
    }
    if (std::isinf(v)) {
        const char* text = v > 0 ? "inf" : "-inf";
        if (format == TableFormat::JSONL)
            out << '"' << text << '"';
        else
            out << text;
        return;
    }
    char buf[64];
    const auto got = std::to_chars(buf, buf + sizeof buf, v);
    out.write(buf, got.ptr - buf);
}

// An RFC 4180 field: quoted when it holds a comma, a quote or a line end.
void writeCsvField(std::ostream& out, const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        out << text;
    else
        writeQuoted(out, text);
}

void writeJsonItems(std::ostream& out, const ItemSet& items) {
    out << '[';
    bool first = true;
    for (const Item& item : items) {
        if (!first)
            out << ',';
        first = false;
        writeJsonString(out, item);
    }
    out << ']';
}

// The length of the UTF-8 sequence at `p`, or 0 when it is not valid.
size_t utf8Length(const unsigned char* p, size_t left) {
    const unsigned char c = p[0];
    size_t n;
    uint32_t cp;
    if (c < 0x80)
        return 1;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (left < n)
        return 0;
    for (size_t k = 1; k < n; ++k) {
        if ((p[k] & 0xC0) != 0x80)
            return 0;
        cp = cp << 6 | (p[k] & 0x3F);
    }
    // Overlong forms, surrogates and code points past U+10FFFF.
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return n;
}

void writeHex4(std::ostream& out, unsigned v) {
    static const char HEX[] = "0123456789abcdef";
    out << "\\u" << HEX[v >> 12 & 15] << HEX[v >> 8 & 15] << HEX[v >> 4 & 15] << HEX[v & 15];
}

} // namespace

bool parseTableFormat(const std::string& word, TableFormat& out) {
    if (word == "tsv")
        out = TableFormat::TSV;
    else if (word == "csv")
        out = TableFormat::CSV;
    else if (word == "jsonl")
        out = TableFormat::JSONL;
    else
        return false;
    return true;
}

namespace {

// Every number column, the optional ones last, in table order.
const std::vector<Measure>& allMeasures() {
    using S = RuleSet::Stats;
    const unsigned D = RuleSet::DELAYS, P = RuleSet::DEPENDENCE, O = RuleSet::ORDER;
    static const std::vector<Measure> all = {
        {"count", "Count", 0, true, [](const S& s) { return double(s.count); },
         [](S& s, double v) { s.count = static_cast<size_t>(v); }},
        {"a_union_s", "A union S", 0, true, [](const S& s) { return double(s.icount); },
         [](S& s, double v) { s.icount = static_cast<size_t>(v); }},
        {"support", "Support", 0, false, [](const S& s) { return s.support; },
         [](S& s, double v) { s.support = v; }},
        {"confidence", "Confidence", 0, false, [](const S& s) { return s.confidence; },
         [](S& s, double v) { s.confidence = v; }},
        {"lift", "Lift", 0, false, [](const S& s) { return s.lift; },
         [](S& s, double v) { s.lift = v; }},
        {"conviction", "Conviction", 0, false, [](const S& s) { return s.conviction; },
         [](S& s, double v) { s.conviction = v; }},
        {"probability", "Probability", 0, false, [](const S& s) { return s.probability; },
         [](S& s, double v) { s.probability = v; }},
        {"certainty", "Certainty", 0, false, [](const S& s) { return s.certainty; },
         [](S& s, double v) { s.certainty = v; }},
        {"delay_min", "Delay Min", D, true, [](const S& s) { return double(s.delayMin); },
         [](S& s, double v) { s.delayMin = static_cast<uint64_t>(v); }},
        {"delay_median", "Delay Median", D, true, [](const S& s) { return double(s.delayMedian); },
         [](S& s, double v) { s.delayMedian = static_cast<uint64_t>(v); }},
        {"delay_p90", "Delay P90", D, true, [](const S& s) { return double(s.delayP90); },
         [](S& s, double v) { s.delayP90 = static_cast<uint64_t>(v); }},
        {"delay_max", "Delay Max", D, true, [](const S& s) { return double(s.delayMax); },
         [](S& s, double v) { s.delayMax = static_cast<uint64_t>(v); }},
        {"p_dependence", "P Dependence", P, false, [](const S& s) { return s.pDependence; },
         [](S& s, double v) { s.pDependence = v; }, true},
        {"p_dependence_adjusted", "P Dependence Adjusted", P, false,
         [](const S& s) { return s.pDependenceAdjusted; },
         [](S& s, double v) { s.pDependenceAdjusted = v; }, true},
        {"count_reverse", "Count Reverse", O, true, [](const S& s) { return double(s.countReverse); },
         [](S& s, double v) { s.countReverse = static_cast<size_t>(v); }},
        {"count_both", "Count Both", O, true, [](const S& s) { return double(s.countBoth); },
         [](S& s, double v) { s.countBoth = static_cast<size_t>(v); }},
        {"p_order", "P Order", O, false, [](const S& s) { return s.pOrder; },
         [](S& s, double v) { s.pOrder = v; }, true},
        {"p_order_adjusted", "P Order Adjusted", O, false,
         [](const S& s) { return s.pOrderAdjusted; },
         [](S& s, double v) { s.pOrderAdjusted = v; }, true},
    };
    return all;
}

} // namespace

const std::vector<Measure>& measures() {
    static const std::vector<Measure> always = [] {
        std::vector<Measure> out;
        for (const Measure& m : allMeasures())
            if (!m.columns)
                out.push_back(m);
        return out;
    }();
    return always;
}

std::vector<const Measure*> tableMeasures(unsigned columns) {
    std::vector<const Measure*> out;
    for (const Measure& m : allMeasures())
        if (!m.columns || (columns & m.columns))
            out.push_back(&m);
    return out;
}

const Measure* findMeasure(const std::string& name) {
    for (const Measure& m : allMeasures())
        if (name == m.name)
            return &m;
    return nullptr;
}

std::string measureNames() {
    std::string out;
    for (const Measure& m : measures())
        out += (out.empty() ? "" : ", ") + std::string(m.name);
    return out;
}

std::vector<RuleSet::ConstIterator> selectRules(const RuleSet& rules, const RuleSelection& pick) {
    std::vector<RuleSet::ConstIterator> rows;
    rows.reserve(rules.size());
    for (auto it = rules.begin(); it != rules.end(); ++it)
        rows.push_back(it);
    if (pick.sortBy) {
        // Largest first (smallest, negated); NaN, which no order places, last.
        const double sign = pick.sortBy->smallestFirst ? -1 : 1;
        auto key = [&](RuleSet::ConstIterator it) {
            const double v = pick.sortBy->of(it->second);
            return std::isnan(v) ? -HUGE_VAL : sign * v;
        };
        std::stable_sort(
            rows.begin(), rows.end(),
            [&](RuleSet::ConstIterator a, RuleSet::ConstIterator b) { return key(a) > key(b); });
    }
    if (pick.top && rows.size() > pick.top)
        rows.resize(pick.top);
    return rows;
}

void writeRuleTable(std::ostream& out, const RuleSet& rules, TableFormat format,
                    const RuleSelection& pick) {
    const std::vector<RuleSet::ConstIterator> rows = selectRules(rules, pick);
    writeRuleRows(out, rows, format, rules.columns());
    std::cerr << rows.size() << std::endl;
}

void writeRuleRows(std::ostream& out, const std::vector<RuleSet::ConstIterator>& rows,
                   TableFormat format, unsigned columns) {
    const std::vector<const Measure*> shown = tableMeasures(columns);
    const std::vector<const Measure*> extra(shown.begin() + measures().size(), shown.end());
    if (format == TableFormat::TSV) {
        out << "Rule\tCount\tA union S\tSupport\tConfidence\tLift\tConviction\tProbability\t"
               "Certainty";
        for (const Measure* m : extra)
            out << '\t' << m->header;
        out << '\n';
    }
    if (format == TableFormat::CSV) {
        out << "antecedent,subsequent";
        for (const Measure* m : shown)
            out << ',' << m->name;
        out << '\n';
    }
    for (RuleSet::ConstIterator it : rows) {
        const RuleSet::Stats& s = it->second;
        switch (format) {
        case TableFormat::TSV:
            writeCell(out, it->first.toString());
            out << '\t' << s.count << '\t' << s.icount << '\t' << s.support << '\t' << s.confidence
                << '\t' << s.lift << '\t' << s.conviction << '\t' << s.probability << '\t'
                << s.certainty;
            for (const Measure* m : extra) {
                out << '\t';
                if (m->whole)
                    out << static_cast<uint64_t>(m->of(s));
                else
                    out << m->of(s);
            }
            out << '\n';
            break;
        case TableFormat::CSV:
            writeCsvField(out, it->first.antecedent().toString());
            out << ',';
            writeCsvField(out, it->first.subsequent().toString());
            // Counts too go through doubles: exact below 2^53.
            for (const Measure* m : shown) {
                out << ',';
                writeNumber(out, m->of(s), format);
            }
            out << '\n';
            break;
        case TableFormat::JSONL:
            out << "{\"antecedent\":";
            writeJsonItems(out, it->first.antecedent());
            out << ",\"subsequent\":";
            writeJsonItems(out, it->first.subsequent());
            for (const Measure* m : shown) {
                out << ",\"" << m->name << "\":";
                writeNumber(out, m->of(s), format);
            }
            out << "}\n";
            break;
        }
    }
    out.flush();
}

void writeItemSetTable(std::ostream& out, const ItemSetHistogram& sets, TableFormat format) {
    if (format == TableFormat::TSV)
        out << "Count\tItem Set\n";
    if (format == TableFormat::CSV)
        out << "count,item_set\n";
    for (const auto& entry : sets) {
        switch (format) {
        case TableFormat::TSV:
            out << entry.second << '\t';
            writeCell(out, entry.first.toString());
            out << '\n';
            break;
        case TableFormat::CSV:
            out << entry.second << ',';
            writeCsvField(out, entry.first.toString());
            out << '\n';
            break;
        case TableFormat::JSONL:
            out << "{\"count\":" << entry.second << ",\"items\":";
            writeJsonItems(out, entry.first);
            out << "}\n";
            break;
        }
    }
    out.flush();
}

void writeJsonString(std::ostream& out, const std::string& text) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t size = text.size();
    out << '"';
    for (size_t k = 0; k < size;) {
        const unsigned char c = p[k];
        if (c == '"' || c == '\\') {
            out << '\\' << static_cast<char>(c);
            ++k;
        } else if (c == '\n') {
            out << "\\n";
            ++k;
        } else if (c == '\t') {
            out << "\\t";
            ++k;
        } else if (c == '\r') {
            out << "\\r";
            ++k;
        } else if (c < 0x20 || c == 0x7F) {
            writeHex4(out, c);
            ++k;
        } else if (const size_t n = utf8Length(p + k, size - k)) {
            out.write(text.data() + k, static_cast<std::streamsize>(n));
            k += n;
        } else {
            writeHex4(out, c);
            ++k;
        }
    }
    out << '"';
}

} // namespace quorvel::rule
