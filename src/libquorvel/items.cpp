#include "quorvel/rule.hpp"

#include "cells.hpp"

#include <algorithm>
#include <iterator>
#include <ostream>
#include <sstream>
#include <stdexcept>

namespace quorvel::rule {

namespace {

// One side of a rule: a single item bare, anything else as a set.
void ruleWriteTerm(std::ostream& out, const ItemSet& is) {
    if (is.size() == 1)
        writeItem(out, *is.begin());
    else
        is.writeInto(out);
}

} // namespace

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

void ItemSet::add(Item item) {
    if (m_data.empty() || m_data.back() < item) {
        m_data.push_back(std::move(item));
        return;
    }
    const auto at = std::lower_bound(m_data.begin(), m_data.end(), item);
    if (*at != item)
        m_data.insert(at, std::move(item));
}

void ItemSet::add(const ItemSet& items) {
    if (items.m_data.empty())
        return;
    if (m_data.empty() || m_data.back() < items.m_data.front()) {
        m_data.insert(m_data.end(), items.m_data.begin(), items.m_data.end());
        return;
    }
    std::vector<Item> both;
    both.reserve(m_data.size() + items.m_data.size());
    std::set_union(m_data.begin(), m_data.end(), items.m_data.begin(), items.m_data.end(),
                   std::back_inserter(both));
    m_data = std::move(both);
}

bool ItemSet::contains(const Item& item) const {
    return std::binary_search(m_data.begin(), m_data.end(), item);
}

bool ItemSet::contains(const ItemSet& subset) const {
    return std::includes(m_data.begin(), m_data.end(), subset.m_data.begin(),
                         subset.m_data.end());
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
    // Plain items are written as they are, without a stream: a table of
    // item sets writes one string a row.
    if (std::all_of(m_data.begin(), m_data.end(), isPlainItem)) {
        std::string text = "{";
        for (const Item& item : m_data) {
            if (text.size() > 1)
                text += ',';
            text += item;
        }
        return text + '}';
    }
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

} // namespace quorvel::rule

std::ostream& operator<<(std::ostream& out, const quorvel::rule::ItemSet& is) {
    return is.writeInto(out);
}

std::ostream& operator<<(std::ostream& out, const quorvel::rule::Rule& rule) {
    return rule.writeInto(out);
}
