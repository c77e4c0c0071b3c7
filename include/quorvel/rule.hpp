// The rule model: items, item sets and rules with their order and texts;
// per-subject transaction histories; item-set and rule tables; the interest
// measures.
#pragma once

#include "brenlo/string.hpp"

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <limits>
#include <map>
#include <string>
#include <vector>

namespace quorvel::rule {

/// One item name: an arbitrary byte string, compared byte by byte.
typedef std::string Item;

/// An ordered set of items. Sets order lexicographically by their sorted
/// items, except that a set sorts before its own shorter prefixes and the
/// empty set sorts last: {a,b} < {a,d} < {a} < {b} < {}.
class ItemSet {
public:
    // The items lie ascending in one array: sets are made, compared and
    // kept by the hundred thousand, which a tree of nodes made slow and big.
    typedef std::vector<Item>::const_iterator Iterator;
    typedef std::vector<Item>::const_iterator ConstIterator;

    ItemSet() {}
    ItemSet(const Item& item) { m_data.push_back(item); }

    /// Items added in ascending order go in without a search.
    void add(Item item);
    void add(const ItemSet& items);
    void clear() { m_data.clear(); }
    bool contains(const Item& item) const;
    bool contains(const ItemSet& subset) const;
    size_t size() const { return m_data.size(); }
    bool empty() const { return m_data.empty(); }
    /// The smallest item; raises std::out_of_range for the empty set.
    Item least() const;

    ConstIterator begin() const { return m_data.begin(); }
    ConstIterator end() const { return m_data.end(); }

    int cmp(const ItemSet& rhs) const;
    bool operator<(const ItemSet& rhs) const { return cmp(rhs) < 0; }
    bool operator==(const ItemSet& rhs) const { return m_data == rhs.m_data; }
    bool operator!=(const ItemSet& rhs) const { return m_data != rhs.m_data; }

    ItemSet merge(const ItemSet& other) const;

    /// "{a,b}"; items that would not read back are written quoted.
    std::ostream& writeInto(std::ostream& out) const;
    std::string toString() const;
    operator std::string() const { return toString(); }

private:
    std::vector<Item> m_data;
};

/// Antecedent => subsequent, ordered by antecedent, then subsequent.
class Rule {
public:
    Rule() {}
    Rule(const ItemSet& antecedent, const Item& subsequent)
        : m_antecedent(antecedent), m_subsequent(subsequent) {}
    Rule(const ItemSet& antecedent, const ItemSet& subsequent)
        : m_antecedent(antecedent), m_subsequent(subsequent) {}

    ItemSet& antecedent() { return m_antecedent; }
    const ItemSet& antecedent() const { return m_antecedent; }
    const ItemSet& subsequent() const { return m_subsequent; }
    ItemSet items() const { return m_antecedent.merge(m_subsequent); }

    int cmp(const Rule& rhs) const;
    bool operator<(const Rule& rhs) const { return cmp(rhs) < 0; }
    bool operator==(const Rule& rhs) const {
        return m_antecedent == rhs.m_antecedent && m_subsequent == rhs.m_subsequent;
    }

    /// "a => b", "{a,b} => d": a one-item side is written bare.
    std::ostream& writeInto(std::ostream& out) const;
    std::string toString() const;
    operator std::string() const { return toString(); }

private:
    ItemSet m_antecedent;
    ItemSet m_subsequent;
};

/// Writes one item as it appears in item-set and rule texts: bare when it
/// reads back unchanged, else as an RFC 4180 quoted string.
std::ostream& writeItem(std::ostream& out, const Item& item);
/// Whether an item can be written bare.
bool isPlainItem(const Item& item);

/// One subject's transactions, one item set per time, in time order.
class History {
public:
    typedef unsigned int Time;
    typedef std::map<Time, ItemSet>::iterator Iterator;
    typedef std::map<Time, ItemSet>::const_iterator ConstIterator;

    ItemSet& at(Time time);
    const ItemSet& at(Time time) const;
    ItemSet& operator[](Time time) { return m_data[time]; }
    bool contains(Time time) const { return m_data.count(time) != 0; }
    size_t size() const { return m_data.size(); }
    /// Whether the union of all transactions holds every item of `items`.
    bool contains(const ItemSet& items) const;
    ItemSet allItems() const;

    Iterator begin() { return m_data.begin(); }
    ConstIterator begin() const { return m_data.begin(); }
    Iterator end() { return m_data.end(); }
    ConstIterator end() const { return m_data.end(); }

private:
    static void m_missing(Time time);

    std::map<Time, ItemSet> m_data;
};

/// Every subject's history, by subject identifier.
class TransactionSet {
public:
    typedef std::map<std::string, History>::iterator Iterator;
    typedef std::map<std::string, History>::const_iterator ConstIterator;

    size_t size() const { return m_data.size(); }
    size_t transactionCount() const;
    /// The number of subjects whose history holds every item of `items`.
    size_t count(const ItemSet& items) const;

    Iterator begin() { return m_data.begin(); }
    ConstIterator begin() const { return m_data.begin(); }
    Iterator end() { return m_data.end(); }
    ConstIterator end() const { return m_data.end(); }

    /// Adds the rows of a transaction table (header line skipped; blank lines
    /// passed over). Errors begin with "SOURCE:LINE: ".
    void readInto(std::istream& src, char delim, const std::string& source = "");
    /// The same for a file; raises brenlo::IOException when it cannot be opened.
    void readInto(const std::string& path, char delim);

private:
    std::map<std::string, History> m_data;
};

/// Item sets with a count each, in item-set order.
class ItemSetHistogram {
public:
    typedef std::map<ItemSet, size_t>::iterator Iterator;
    typedef std::map<ItemSet, size_t>::const_iterator ConstIterator;

    ItemSetHistogram() {}

    size_t size() const { return m_data.size(); }
    size_t& operator[](const ItemSet& is) { return m_data[is]; }
    size_t& at(const ItemSet& is) { return m_data.at(is); }
    const size_t& at(const ItemSet& is) const { return m_data.at(is); }
    Iterator find(const ItemSet& is) { return m_data.find(is); }
    ConstIterator find(const ItemSet& is) const { return m_data.find(is); }
    /// Inserts `is` with `count` unless it is already present.
    void add(const ItemSet& is, size_t count) { m_data.emplace(is, count); }
    /// The same, looking first just before `hint`, so that sets added in
    /// ascending order, each before the hint its successor gives, are put
    /// in place without a search. Where `is` is.
    Iterator add(Iterator hint, ItemSet is, size_t count) {
        return m_data.emplace_hint(hint, std::move(is), count);
    }
    /// The count of `is`, or `otherwise` when it is absent.
    size_t count(const ItemSet& is, size_t otherwise) const;
    void erase(Iterator it) { m_data.erase(it); }
    void erase(const ItemSet& is) { m_data.erase(is); }

    Iterator begin() { return m_data.begin(); }
    ConstIterator begin() const { return m_data.begin(); }
    Iterator end() { return m_data.end(); }
    ConstIterator end() const { return m_data.end(); }

    /// Replaces the content by an item-set table ("Count\tItem Set"). Errors
    /// begin with "SOURCE:LINE: ".
    void readInto(std::istream& src, char delim, const std::string& source = "");
    void readInto(const std::string& path, char delim);
    void write(std::ostream& dest) const;
    /// Replaces `path` atomically; raises brenlo::IOException on failure.
    void write(const std::string& path) const;

private:
    std::map<ItemSet, size_t> m_data;
};

struct Thresholds;

/// Rules with their statistics, in rule order.
class RuleSet {
public:
    struct Stats {
        size_t count = 0;
        size_t icount = 0;
        double support = 0;
        double confidence = 0;
        double lift = 0;
        double conviction = 0;
        double probability = 0;
        double certainty = 0;
        /// With DELAYS: the time from antecedent to subsequent over the
        /// subjects observing the rule, in the log's time unit: least,
        /// lower median, 90th percentile (nearest rank), greatest.
        uint64_t delayMin = 0;
        uint64_t delayMedian = 0;
        uint64_t delayP90 = 0;
        uint64_t delayMax = 0;
        /// With DEPENDENCE: Fisher's one-sided exact test that A and S are
        /// held together more often than chance, and that p-value adjusted
        /// over the rules tested.
        double pDependence = 0;
        double pDependenceAdjusted = 0;
        /// With ORDER: the subjects observing S => A, those observing both
        /// orders, and the one-sided sign test that A => S is the more
        /// frequent order (among subjects observing one order only),
        /// alone and adjusted.
        size_t countReverse = 0;
        size_t countBoth = 0;
        double pOrder = 0;
        double pOrderAdjusted = 0;
    };
    /// Groups of columns a table shows besides the measures every table has.
    enum Columns : unsigned { DELAYS = 1, DEPENDENCE = 2, ORDER = 4 };
    typedef std::map<Rule, Stats> Map;
    typedef Map::iterator Iterator;
    typedef Map::const_iterator ConstIterator;

    RuleSet() {}

    size_t size() const { return m_data.size(); }
    Stats& operator[](const Rule& rule) { return m_data[rule]; }
    /// Inserts `rule` unless it is present, looking first just before
    /// `hint`: rules added in rule order at end() go in without a search.
    Iterator add(Iterator hint, const Rule& rule, const Stats& stats) {
        return m_data.emplace_hint(hint, rule, stats);
    }
    /// Removes the rule at `it`; the one after it.
    Iterator erase(Iterator it) { return m_data.erase(it); }
    /// Raises std::out_of_range for an absent rule.
    Stats& at(const Rule& rule) { return m_data.at(rule); }
    const Stats& at(const Rule& rule) const { return m_data.at(rule); }
    /// Keeps the rules that `limits` admits and writes one line per kept
    /// rule to standard error.
    void filter(const Thresholds& limits);
    void filter(size_t minCount, double minSupport, double minConfidence, double minLift,
                double maxConviction);

    Iterator begin() { return m_data.begin(); }
    ConstIterator begin() const { return m_data.begin(); }
    Iterator end() { return m_data.end(); }
    ConstIterator end() const { return m_data.end(); }

    /// Replaces the content by the rules of a rule table in any format
    /// the miner writes, told by its first line: TSV (header line skipped;
    /// `delim` between cells), CSV or JSON Lines. Gzip data is inflated.
    /// Errors begin with "SOURCE:LINE: ".
    void readInto(std::istream& src, char delim, const std::string& source = "");
    /// The same for a file; raises brenlo::IOException when it cannot be opened.
    void readInto(const std::string& path, char delim);
    /// Whether the last table read was TSV, whose measures hold the digits
    /// they were written with (the miner's CSV and JSON Lines keep all).
    bool readTsv() const { return m_readTsv; }
    /// The groups of optional columns (Columns) the rules carry.
    unsigned columns() const { return m_columns; }
    void setColumns(unsigned columns) { m_columns = columns; }
    /// Writes the rule table, then the number of rows on standard error.
    void write(std::ostream& dest) const;
    /// Replaces `path` atomically; raises brenlo::IOException on failure.
    void write(const std::string& path) const;

private:
    /// The records of a JSON Lines table, one a line.
    void readJsonLines(const std::string& text, const std::string& source);
    Map m_data;
    bool m_readTsv = false;
    unsigned m_columns = 0;
};

// ---- interest measures ----

inline double support(unsigned int n, unsigned int t) {
    return static_cast<double>(n) / static_cast<double>(t);
}
inline double confidence(double xuy, double x) {
    return x == 0 ? 0 : xuy / x;
}
inline double lift(double xuy, double x, double y) {
    return confidence(xuy, x * y);
}
inline double conviction(double sy, double cxy) {
    return cxy == 1 ? std::numeric_limits<double>::infinity() : (1 - sy) / (1 - cxy);
}
inline double probability(double xuy, double y) {
    return confidence(xuy, y);
}
inline double certainty(double xuy, double y) {
    return xuy == y ? std::numeric_limits<double>::infinity() : xuy / (y - xuy);
}

} // namespace quorvel::rule

std::ostream& operator<<(std::ostream& out, const quorvel::rule::ItemSet& is);
std::ostream& operator<<(std::ostream& out, const quorvel::rule::Rule& rule);

namespace brenlo::string {
/// Reads "a, b", "{a,b}" or '{"x,y",z}'; raises brenlo::IOException* on a
/// missing closing brace.
template <> quorvel::rule::ItemSet parse<quorvel::rule::ItemSet>(const std::string& str);
/// Reads "A => B"; raises brenlo::IOException* when there is no operator.
template <> quorvel::rule::Rule parse<quorvel::rule::Rule>(const std::string& str);
} // namespace brenlo::string
