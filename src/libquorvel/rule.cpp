#include "quorvel/rule.hpp"
#include "quorvel/thresholds.hpp"

#include "brenlo/exception.hpp"
#include "brenlo/replace.hpp"
#include "brenlo/string.hpp"
#include "brenlo/table.hpp"
#include "table_rows.hpp"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <vector>

using brenlo::IOException;

namespace quorvel::rule {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

void writeQuoted(std::ostream& out, const std::string& text) {
    out << '"';
    for (char c : text) {
        if (c == '"')
            out << '"';
        out << c;
    }
    out << '"';
}

// One side of a rule: a single item bare, anything else as a set.
void ruleWriteTerm(std::ostream& out, const ItemSet& is) {
    if (is.size() == 1)
        writeItem(out, *is.begin());
    else
        is.writeInto(out);
}

// A table cell is quoted as a whole only when it would otherwise break the row.
void writeCell(std::ostream& out, const std::string& text) {
    bool quote = !text.empty() && text[0] == '"';
    for (char c : text)
        if (c == '\t' || c == '\r' || c == '\n')
            quote = true;
    if (quote)
        writeQuoted(out, text);
    else
        out << text;
}

bool allDigits(const std::string& s) {
    if (s.empty())
        return false;
    for (char c : s)
        if (c < '0' || c > '9')
            return false;
    return true;
}

// Whole unsigned decimal numbers only; false when the text is anything else
// or does not fit.
template <class T> bool parseWholeUnsigned(const std::string& s, T& out) {
    if (!allDigits(s))
        return false;
    T value = 0;
    for (char c : s) {
        T digit = static_cast<T>(c - '0');
        if (value > (std::numeric_limits<T>::max() - digit) / 10)
            return false;
        value = static_cast<T>(value * 10 + digit);
    }
    out = value;
    return true;
}

bool parseWholeReal(const std::string& s, double& out) {
    size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        ++i;
    std::string word = s.substr(i);
    const char* w = word.c_str();
    if (brenlo::string::strcmpi(w, "inf") == 0 || brenlo::string::strcmpi(w, "infinity") == 0 ||
        brenlo::string::strcmpi(w, "nan") == 0) {
        size_t pos = 0;
        out = brenlo::string::parse<double>(s.c_str(), pos);
        return true;
    }
    size_t intDigits = 0, fracDigits = 0;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
        ++i;
        ++intDigits;
    }
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
            ++i;
            ++fracDigits;
        }
    }
    if (intDigits + fracDigits == 0)
        return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-'))
            ++i;
        size_t expDigits = 0;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
            ++i;
            ++expDigits;
        }
        if (expDigits == 0)
            return false;
    }
    if (i != s.size())
        return false;
    out = std::strtod(s.c_str(), nullptr);
    return true;
}

const char* const RULE_COLUMNS[] = {"Rule", "Count",      "A union S",   "Support",  "Confidence",
                                    "Lift", "Conviction", "Probability", "Certainty"};

// Splits an item-set text into its elements. Blanks around an element are
// dropped; a quoted element keeps its inside exactly. Outside quotes the
// text ends at the first line break.
std::vector<std::string> splitItems(const std::string& text) {
    std::vector<std::string> items;
    size_t i = 0;
    const size_t n = text.size();
    for (;;) {
        while (i < n && (text[i] == ' ' || text[i] == '\t'))
            ++i;
        std::string item;
        bool done = false;
        if (i < n && text[i] == '"') {
            size_t start = i;
            ++i;
            bool closed = false;
            while (i < n) {
                if (text[i] == '"') {
                    if (i + 1 < n && text[i + 1] == '"') {
                        item += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    closed = true;
                    break;
                }
                item += text[i++];
            }
            size_t after = i;
            while (after < n && (text[after] == ' ' || text[after] == '\t'))
                ++after;
            if (closed && after < n && text[after] != ',' && text[after] != '\r' &&
                text[after] != '\n') {
                // Text after the closing quote: the element is kept as written.
                size_t end = after;
                while (end < n && text[end] != ',' && text[end] != '\r' && text[end] != '\n')
                    ++end;
                item = brenlo::string::trim(text.substr(start, end - start));
                after = end;
            }
            i = after;
        } else {
            size_t start = i;
            while (i < n && text[i] != ',' && text[i] != '\r' && text[i] != '\n')
                ++i;
            item = brenlo::string::trim(text.substr(start, i - start));
        }
        items.push_back(item);
        if (i >= n || text[i] != ',')
            done = true;
        else
            ++i;
        if (done)
            break;
    }
    return items;
}

// The first "=>" that is not inside a quoted element; npos when none.
size_t findOperator(const std::string& str) {
    bool elementStart = true;
    for (size_t i = 0; i < str.size(); ++i) {
        char c = str[i];
        if (elementStart && c == '"') {
            ++i;
            while (i < str.size()) {
                if (str[i] == '"') {
                    if (i + 1 < str.size() && str[i + 1] == '"') {
                        i += 2;
                        continue;
                    }
                    break;
                }
                ++i;
            }
            elementStart = false;
            continue;
        }
        if (c == '=' && i + 1 < str.size() && str[i + 1] == '>')
            return i;
        if (c == ',' || c == '{')
            elementStart = true;
        else if (!isBlank(c))
            elementStart = false;
    }
    return std::string::npos;
}

} // namespace

// ---- items, sets and rules ----

bool isPlainItem(const Item& item) {
    if (item.empty() || isBlank(item.front()) || isBlank(item.back()))
        return false;
    if (item[0] == '{' || item[0] == '"')
        return false;
    if (item.find_first_of(",\"\t\r\n") != std::string::npos)
        return false;
    return item.find("=>") == std::string::npos;
}

std::ostream& writeItem(std::ostream& out, const Item& item) {
    if (isPlainItem(item))
        out << item;
    else
        writeQuoted(out, item);
    return out;
}

bool ItemSet::contains(const ItemSet& subset) const {
    for (const Item& item : subset.m_data)
        if (!m_data.count(item))
            return false;
    return true;
}

Item ItemSet::least() const {
    if (m_data.empty())
        throw std::out_of_range("least() of an empty item set");
    return *m_data.begin();
}

int ItemSet::cmp(const ItemSet& rhs) const {
    auto a = m_data.begin(), b = rhs.m_data.begin();
    for (; a != m_data.end() && b != rhs.m_data.end(); ++a, ++b) {
        int c = a->compare(*b);
        if (c != 0)
            return c;
    }
    if (a != m_data.end())
        return -1;
    if (b != rhs.m_data.end())
        return 1;
    return 0;
}

ItemSet ItemSet::merge(const ItemSet& other) const {
    ItemSet out(*this);
    out.add(other);
    return out;
}

std::ostream& ItemSet::writeInto(std::ostream& out) const {
    out << '{';
    bool first = true;
    for (const Item& item : m_data) {
        if (!first)
            out << ',';
        first = false;
        writeItem(out, item);
    }
    return out << '}';
}

std::string ItemSet::toString() const {
    std::ostringstream out;
    writeInto(out);
    return out.str();
}

int Rule::cmp(const Rule& rhs) const {
    int c = m_antecedent.cmp(rhs.m_antecedent);
    return c != 0 ? c : m_subsequent.cmp(rhs.m_subsequent);
}

std::ostream& Rule::writeInto(std::ostream& out) const {
    ruleWriteTerm(out, m_antecedent);
    out << " => ";
    ruleWriteTerm(out, m_subsequent);
    return out;
}

std::string Rule::toString() const {
    std::ostringstream out;
    writeInto(out);
    return out.str();
}

// ---- histories ----

void History::m_missing(Time) {
    throw std::domain_error("Missing history entry.");
}

ItemSet& History::at(Time time) {
    auto it = m_data.find(time);
    if (it == m_data.end())
        m_missing(time);
    return it->second;
}

const ItemSet& History::at(Time time) const {
    auto it = m_data.find(time);
    if (it == m_data.end())
        m_missing(time);
    return it->second;
}

bool History::contains(const ItemSet& items) const {
    const size_t expectedSize = items.size();
    ItemSet avail;
    for (const auto& txn : m_data) {
        avail.add(txn.second);
        if (avail.size() >= expectedSize && avail.contains(items))
            return true;
    }
    return false;
}

ItemSet History::allItems() const {
    ItemSet all;
    for (const auto& txn : m_data)
        all.add(txn.second);
    return all;
}

size_t TransactionSet::transactionCount() const {
    size_t n = 0;
    for (const auto& h : m_data)
        n += h.second.size();
    return n;
}

size_t TransactionSet::count(const ItemSet& items) const {
    size_t n = 0;
    for (const auto& h : m_data)
        if (h.second.contains(items))
            ++n;
    return n;
}

void TransactionSet::readInto(std::istream& src, char delim, const std::string& source) {
    TableRows rows(src, delim, source);
    rows.forEachRow([&](TableRows& row) {
        std::string cells[2];
        for (int position = 0; position < 2; ++position) {
            if (!row.hasCell())
                throw brenlo::exceptf<IOException>("Missing cell at position %d.\n", position);
            cells[position] = row.cell();
        }
        unsigned int time = 0;
        if (!parseWholeUnsigned(cells[1], time))
            throw IOException(brenlo::string::strprintf(
                "Invalid time \"%s\": a time is a whole number from 0 to 4294967295.",
                cells[1].c_str()));
        ItemSet& txn = m_data[cells[0]][time];
        while (row.hasCell()) {
            std::string item = row.cell();
            if (!item.empty())
                txn.add(std::move(item));
        }
    });
}

void TransactionSet::readInto(const std::string& path, char delim) {
    std::ifstream in = openTable(path);
    readInto(in, delim, path);
}

// ---- item-set histogram ----

size_t ItemSetHistogram::count(const ItemSet& is, size_t otherwise) const {
    auto it = m_data.find(is);
    return it == m_data.end() ? otherwise : it->second;
}

void ItemSetHistogram::readInto(std::istream& src, char delim, const std::string& source) {
    TableRows rows(src, delim, source);
    m_data.clear();
    rows.forEachRow([&](TableRows& row) {
        std::string countText = row.cell();
        if (countText.empty())
            return;
        size_t count = 0;
        if (!parseWholeUnsigned(countText, count))
            throw new IOException("\"Count\" at column 1 is not a whole number: \"" + countText +
                                  "\".");
        if (!row.hasCell())
            throw new IOException("\"Item Set\" at column 2 is missing.");
        ItemSet is = brenlo::string::parse<ItemSet>(row.cell());
        if (row.hasCell())
            throw new IOException("Excess cells in row.");
        m_data[is] = count;
    });
}

void ItemSetHistogram::readInto(const std::string& path, char delim) {
    std::ifstream in = openTable(path);
    readInto(in, delim, path);
}

void ItemSetHistogram::write(std::ostream& dest) const {
    dest << "Count\tItem Set\n";
    for (const auto& entry : m_data) {
        dest << entry.second << '\t';
        writeCell(dest, entry.first.toString());
        dest << '\n';
    }
    dest.flush();
}

void ItemSetHistogram::write(const std::string& path) const {
    brenlo::io::replaceFile(path, [this](std::ostream& out) { write(out); });
}

// ---- rule sets ----

void RuleSet::filter(const Thresholds& limits) {
    for (auto it = m_data.begin(); it != m_data.end();) {
        auto current = it++;
        const Stats& s = current->second;
        if (!limits.admits(s)) {
            m_data.erase(current);
            continue;
        }
        std::cerr << current->first << ": " << s.support << ',' << limits.minSupport << ','
                  << s.confidence << ',' << s.lift << std::endl;
    }
}

void RuleSet::filter(size_t minCount, double minSupport, double minConfidence, double minLift,
                     double maxConviction) {
    Thresholds limits;
    limits.minCount = minCount;
    limits.minSupport = minSupport;
    limits.minConfidence = minConfidence;
    limits.minLift = minLift;
    limits.maxConviction = maxConviction;
    filter(limits);
}

void RuleSet::readInto(std::istream& src, char delim, const std::string& source) {
    TableRows rows(src, delim, source);
    m_data.clear();
    rows.forEachRow([&](TableRows& row) {
        // A row of empty cells says nothing; the first non-empty one is the rule.
        std::string ruleText = row.cell();
        while (ruleText.empty() && row.hasCell())
            ruleText = row.cell();
        if (ruleText.empty())
            return;
        Rule rule = brenlo::string::parse<Rule>(ruleText);
        Stats stats;
        size_t* counts[] = {&stats.count, &stats.icount};
        double* reals[] = {&stats.support,    &stats.confidence,  &stats.lift,
                           &stats.conviction, &stats.probability, &stats.certainty};
        for (int column = 2; column <= 9; ++column) {
            const char* name = RULE_COLUMNS[column - 1];
            if (!row.hasCell())
                throw new IOException(
                    brenlo::string::strprintf("\"%s\" at column %d is missing.", name, column));
            std::string cell = row.cell();
            bool ok = column <= 3 ? parseWholeUnsigned(cell, *counts[column - 2])
                                  : parseWholeReal(cell, *reals[column - 4]);
            if (!ok)
                throw new IOException(brenlo::string::strprintf(
                    "\"%s\" at column %d is not %s: \"%s\".", name, column,
                    column <= 3 ? "a whole number" : "a number", cell.c_str()));
        }
        if (row.hasCell())
            throw new IOException("Excess cells in row.");
        m_data[rule] = stats;
    });
}

void RuleSet::readInto(const std::string& path, char delim) {
    std::ifstream in = openTable(path);
    readInto(in, delim, path);
}

void RuleSet::write(std::ostream& dest) const {
    dest << "Rule\tCount\tA union S\tSupport\tConfidence\tLift\tConviction\tProbability\tCertainty"
         << '\n';
    size_t rows = 0;
    for (const auto& entry : m_data) {
        const Stats& s = entry.second;
        writeCell(dest, entry.first.toString());
        dest << '\t' << s.count << '\t' << s.icount << '\t' << s.support << '\t' << s.confidence
             << '\t' << s.lift << '\t' << s.conviction << '\t' << s.probability << '\t'
             << s.certainty << '\n';
        ++rows;
    }
    dest.flush();
    std::cerr << rows << std::endl;
}

void RuleSet::write(const std::string& path) const {
    brenlo::io::replaceFile(path, [this](std::ostream& out) { write(out); });
}

} // namespace quorvel::rule

std::ostream& operator<<(std::ostream& out, const quorvel::rule::ItemSet& is) {
    return is.writeInto(out);
}

std::ostream& operator<<(std::ostream& out, const quorvel::rule::Rule& rule) {
    return rule.writeInto(out);
}

namespace brenlo::string {

template <> quorvel::rule::ItemSet parse<quorvel::rule::ItemSet>(const std::string& str) {
    quorvel::rule::ItemSet result;
    if (str.empty())
        return result;
    std::string text = trim(str);
    if (!text.empty() && text[0] == '{') {
        if (text.back() != '}' || text.size() < 2)
            throw new IOException("Missing trailing brace ('{') in braced form.");
        text = trim(text.substr(1, text.size() - 2));
    }
    if (text.empty())
        return result;
    for (std::string& item : quorvel::rule::splitItems(text))
        result.add(std::move(item));
    return result;
}

template <> quorvel::rule::Rule parse<quorvel::rule::Rule>(const std::string& str) {
    size_t op = quorvel::rule::findOperator(str);
    if (op == std::string::npos)
        throw new IOException("Missing => operator for rule in \"" + str + "\".");
    return quorvel::rule::Rule(parse<quorvel::rule::ItemSet>(str.substr(0, op)),
                               parse<quorvel::rule::ItemSet>(str.substr(op + 2)));
}

} // namespace brenlo::string
