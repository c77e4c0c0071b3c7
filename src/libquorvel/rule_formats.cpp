#include "rule_formats.hpp"

#include "brenlo/exception.hpp"
#include "brenlo/string.hpp"
#include "cells.hpp"
#include "quorvel/formats.hpp"

#include <cmath>
#include <cstdlib>

using brenlo::IOException;

namespace quorvel::rule {

namespace {

// A measure's value as read: counts must be whole.
void setMeasure(RuleSet::Stats& s, const Measure& m, double v) {
    if (m.whole && (!(v >= 0) || v != std::floor(v) || v > 1.8e19))
        throw IOException(brenlo::string::strprintf("\"%s\" is not a whole number.", m.name));
    m.set(s, v);
}

// A JSON record of the miner's: strings, arrays of strings, numbers and
// the strings "inf" and "-inf" for infinities.
class JsonRecord {
public:
    explicit JsonRecord(const std::string& text) : m_s(text) {}

    template <class Field> void fields(Field field) {
        blank();
        expect('{');
        blank();
        if (peek() == '}')
            return;
        for (;;) {
            blank();
            const std::string key = string();
            blank();
            expect(':');
            blank();
            field(key, *this);
            blank();
            if (peek() == ',') {
                ++m_at;
                continue;
            }
            expect('}');
            blank();
            if (m_at != m_s.size())
                fail("text after the record");
            return;
        }
    }

    ItemSet items() {
        ItemSet set;
        expect('[');
        blank();
        if (peek() == ']') {
            ++m_at;
            return set;
        }
        for (;;) {
            blank();
            set.add(string());
            blank();
            if (peek() == ',') {
                ++m_at;
                continue;
            }
            expect(']');
            return set;
        }
    }

    double number() {
        if (peek() == '"') {
            const std::string text = string();
            if (text == "inf")
                return HUGE_VAL;
            if (text == "-inf")
                return -HUGE_VAL;
            fail("a number is expected, not \"" + text + "\"");
        }
        if (m_s.compare(m_at, 4, "null") == 0) {
            m_at += 4;
            return std::nan("");
        }
        const char* begin = m_s.c_str() + m_at;
        char* end = nullptr;
        const double v = std::strtod(begin, &end);
        if (end == begin)
            fail("a number is expected");
        m_at += static_cast<size_t>(end - begin);
        return v;
    }

    [[noreturn]] void fail(const std::string& why) const {
        throw IOException("Not a rule record (" + why + ").");
    }

private:
    char peek() const { return m_at < m_s.size() ? m_s[m_at] : '\0'; }
    void blank() {
        while (m_at < m_s.size() && (m_s[m_at] == ' ' || m_s[m_at] == '\t' || m_s[m_at] == '\r'))
            ++m_at;
    }
    void expect(char c) {
        if (peek() != c)
            fail(std::string("'") + c + "' is expected");
        ++m_at;
    }
    unsigned hex4() {
        if (m_at + 4 > m_s.size())
            fail("a \\u escape is cut short");
        unsigned v = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = m_s[m_at++];
            v <<= 4;
            if (c >= '0' && c <= '9')
                v |= unsigned(c - '0');
            else if (c >= 'a' && c <= 'f')
                v |= unsigned(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                v |= unsigned(c - 'A' + 10);
            else
                fail("a \\u escape holds no hex digits");
        }
        return v;
    }
    static void utf8(std::string& out, unsigned cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | cp >> 6);
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | cp >> 12);
            out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | cp >> 18);
            out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    std::string string() {
        expect('"');
        std::string out;
        for (;;) {
            if (m_at >= m_s.size())
                fail("a string is never closed");
            const char c = m_s[m_at++];
            if (c == '"')
                return out;
            if (c != '\\') {
                out += c;
                continue;
            }
            const char e = peek();
            ++m_at;
            switch (e) {
            case '"':
                out += '"';
                break;
            case '\\':
                out += '\\';
                break;
            case '/':
                out += '/';
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u': {
                unsigned cp = hex4();
                if (cp >= 0xD800 && cp < 0xDC00 && m_s.compare(m_at, 2, "\\u") == 0) {
                    m_at += 2;
                    const unsigned low = hex4();
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                }
                utf8(out, cp);
                break;
            }
            default:
                fail("an unknown escape");
            }
        }
    }

    const std::string& m_s;
    size_t m_at = 0;
};

} // namespace

bool optionalColumnsNamed(const std::vector<std::string>& names, bool byHeader, unsigned& columns) {
    columns = 0;
    const std::vector<const Measure*> all = tableMeasures(~0u);
    const size_t base = measures().size();
    size_t k = 0;
    while (k < names.size()) {
        // The next group starts here, whole, or the names are no table's.
        size_t at = base;
        while (at < all.size() && names[k] != (byHeader ? all[at]->header : all[at]->name))
            ++at;
        if (at == all.size() || (columns & all[at]->columns) ||
            (at > base && all[at - 1]->columns == all[at]->columns))
            return false;
        const unsigned group = all[at]->columns;
        for (; at < all.size() && all[at]->columns == group; ++at, ++k)
            if (k == names.size() || names[k] != (byHeader ? all[at]->header : all[at]->name))
                return false;
        columns |= group;
    }
    return true;
}

void readCsvRule(TableRows& row, Rule& rule, RuleSet::Stats& stats, unsigned columns) {
    const char* sides[] = {"antecedent", "subsequent"};
    ItemSet set[2];
    for (int k = 0; k < 2; ++k) {
        if (!row.hasCell())
            throw IOException(
                brenlo::string::strprintf("\"%s\" at column %d is missing.", sides[k], k + 1));
        set[k] = brenlo::string::parse<ItemSet>(row.cell());
    }
    rule = Rule(set[0], set[1]);
    const std::vector<const Measure*> shown = tableMeasures(columns);
    for (size_t k = 0; k < shown.size(); ++k) {
        const int column = static_cast<int>(k) + 3;
        if (!row.hasCell())
            throw IOException(brenlo::string::strprintf("\"%s\" at column %d is missing.",
                                                        shown[k]->name, column));
        const std::string cell = row.cell();
        double v = 0;
        if (!parseWholeReal(cell, v))
            throw IOException(
                brenlo::string::strprintf("\"%s\" at column %d is not a number: \"%s\".",
                                          shown[k]->name, column, cell.c_str()));
        setMeasure(stats, *shown[k], v);
    }
    if (row.hasCell())
        throw IOException("Excess cells in row.");
}

void readJsonRule(const std::string& line, Rule& rule, RuleSet::Stats& stats, unsigned& columns) {
    JsonRecord record(line);
    ItemSet set[2];
    int sides = 0;
    const std::vector<const Measure*> all = tableMeasures(~0u);
    std::vector<bool> found(all.size());
    record.fields([&](const std::string& key, JsonRecord& r) {
        if (key == "antecedent" || key == "subsequent") {
            set[key == "subsequent"] = r.items();
            sides |= key == "subsequent" ? 2 : 1;
            return;
        }
        for (size_t k = 0; k < all.size(); ++k)
            if (key == all[k]->name) {
                setMeasure(stats, *all[k], r.number());
                found[k] = true;
                return;
            }
        r.fail("no field is named \"" + key + "\"");
    });
    if (sides != 3)
        record.fail("a side is missing");
    columns = 0;
    for (size_t k = 0; k < all.size(); ++k)
        if (found[k])
            columns |= all[k]->columns;
    // Every measure, and every column of each optional group it has.
    for (size_t k = 0; k < all.size(); ++k)
        if (!found[k] && (!all[k]->columns || (columns & all[k]->columns)))
            record.fail(std::string("\"") + all[k]->name + "\" is missing");
    rule = Rule(set[0], set[1]);
}

} // namespace quorvel::rule
