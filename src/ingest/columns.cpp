#include "columns.hpp"

#include "brenlo/exception.hpp"

#include <algorithm>

namespace quorvel::rule::mining {

namespace {

std::string listed(const std::vector<std::string_view>& header) {
    std::string out;
    for (std::string_view name : header)
        out += (out.empty() ? "\"" : ", \"") + std::string(name) + "\"";
    return out.empty() ? "no names" : out;
}

size_t find(const std::string& name, const std::vector<std::string_view>& header) {
    const auto first = std::find(header.begin(), header.end(), name);
    if (first == header.end())
        throw brenlo::IOException("No column is named \"" + name + "\"; the header has " +
                                  listed(header) + ".");
    if (std::find(first + 1, header.end(), name) != header.end())
        throw brenlo::IOException("The header names \"" + name +
                                  "\" more than once; which column is meant is unclear.");
    return static_cast<size_t>(first - header.begin());
}

} // namespace

size_t ColumnPlan::needed() const {
    size_t n = std::max(subject, time) + 1;
    for (size_t k : items)
        n = std::max(n, k + 1);
    return n;
}

ColumnPlan planColumns(const TableLayout& layout, const std::vector<std::string_view>& header) {
    ColumnPlan plan;
    if (!layout.named())
        return plan;
    for (std::string_view name : header)
        plan.header.emplace_back(name);
    if (!layout.subject.empty())
        plan.subject = find(layout.subject, header);
    if (!layout.time.empty())
        plan.time = find(layout.time, header);
    if (plan.subject == plan.time)
        throw brenlo::IOException("The subject and the time cannot be the same column (\"" +
                                  plan.header[plan.subject] + "\").");
    if (!layout.items.empty()) {
        plan.restAreItems = false;
        for (const std::string& name : layout.items) {
            const size_t k = find(name, header);
            if (k == plan.subject || k == plan.time)
                throw brenlo::IOException(
                    "The column \"" + name +
                    "\" cannot hold items: it holds the subject or the time.");
            plan.items.push_back(k);
        }
    }
    return plan;
}

std::string missingCell(const ColumnPlan& plan, size_t position, size_t cells) {
    if (plan.positional())
        return "Missing cell at position " + std::to_string(position) + ".";
    const std::string name = position < plan.header.size() ? plan.header[position] : "";
    return "Missing cell \"" + name + "\" (column " + std::to_string(position + 1) +
           "): the row has " + std::to_string(cells) + " cell(s).";
}

} // namespace quorvel::rule::mining
