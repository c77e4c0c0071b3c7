#include "quorvel/rule.hpp"

#include "brenlo/exception.hpp"
#include "brenlo/string.hpp"
#include "cells.hpp"
#include "quorvel/table_kind.hpp"
#include "table_rows.hpp"

#include <fstream>

using brenlo::IOException;

namespace quorvel::rule {

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
    const TableKind kind = writtenTableKind(rows.header());
    if (kind != TableKind::OTHER)
        rows.refuseTable(wrongTableMessage(kind, "a transaction table"));
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
    readTableFile(*this, path, delim);
}

} // namespace quorvel::rule
