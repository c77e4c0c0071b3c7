#include "row_parts.hpp"

#include "scan.hpp"
#include "times.hpp"

#include <algorithm>

namespace quorvel::rule::mining {

namespace {

void fail(Part& part, uint64_t line, std::string message) {
    part.failed = true;
    part.errorLine = line;
    part.error = std::move(message);
}

bool timeOf(std::string_view cell, uint64_t line, Part& part, const RowRules& rules,
            History::Time& time) {
    if (rules.timeFormat == TimeFormat::NUMBER && parseWholeTime(cell, time))
        return true;
    std::string why;
    if (parseTimeCell(cell, rules.timeFormat, time, why))
        return true;
    fail(part, line, why);
    return false;
}

// The subject and time cells of a row: false, with the error, when the row
// is not a row of the table.
bool subjectAndTime(const std::vector<std::string_view>& cells, uint64_t line, Part& part,
                    const RowRules& rules, History::Time& time) {
    const size_t needed = rules.plan.positional() ? 2 : rules.plan.needed();
    if (cells.size() < needed) {
        fail(part, line, missingCell(rules.plan, cells.size(), cells.size()));
        return false;
    }
    return timeOf(cells[rules.plan.time], line, part, rules, time);
}

// An item cell; with a `column`, the item is "COLUMN=CELL".
void addItem(std::string_view cell, uint32_t subject, History::Time time, Part& part, bool& any,
             const std::string* column = nullptr) {
    if (cell.empty())
        return;
    uint32_t id;
    if (column) {
        part.named.assign(*column).append(1, '=').append(cell);
        id = part.items.intern(part.named);
    } else {
        id = part.items.intern(cell);
    }
    part.events.push_back({subject, time, id});
    any = true;
}

// Whether a row has an item cell that is not empty.
bool hasItem(const std::vector<std::string_view>& cells, const ColumnPlan& plan) {
    if (plan.restAreItems) {
        for (size_t k = 2; k < cells.size(); ++k)
            if (k != plan.subject && k != plan.time && !cells[k].empty())
                return true;
        return false;
    }
    for (size_t k : plan.items)
        if (!cells[k].empty())
            return true;
    return false;
}

void addRow(const std::vector<std::string_view>& cells, const RowRules& rules, History::Time time,
            Part& part) {
    const ColumnPlan& plan = rules.plan;
    // A subject is made by the rows that are read: one whose rows are all
    // left out is no history record, and lowers no support.
    if (rules.skipEmpty && !hasItem(cells, plan)) {
        ++part.skipped.noItem;
        return;
    }
    const std::string_view name = cells[plan.subject];
    // Logs mostly come a subject at a time: the last one is checked first.
    if (part.lastSubject == 0xFFFFFFFFu || part.subjects.view(part.lastSubject) != name)
        part.lastSubject = part.subjects.intern(name);
    const uint32_t subject = part.lastSubject;
    bool any = false;
    if (plan.restAreItems) {
        for (size_t k = 2; k < cells.size(); ++k)
            if (k != plan.subject && k != plan.time)
                addItem(cells[k], subject, time, part, any);
    } else {
        for (size_t k : plan.items)
            addItem(cells[k], subject, time, part, any,
                    rules.itemPrefix ? &plan.header[k] : nullptr);
    }
    if (!any)
        part.events.push_back({subject, time, NO_ITEM});
}

} // namespace

void scanPart(const char* data, size_t size, bool atEnd, const RowRules& rules, Part& part) {
    // Room for the most events the bytes can hold (a row takes at least 6),
    // so they are not copied as they grow; pages not written are not taken.
    part.events.reserve(part.events.size() + size / 6 + 1);
    RowScanner rows(data, size, atEnd, rules.delim);
    for (;;) {
        const RowScanner::Result got = rows.next();
        if (got == RowScanner::BLANK)
            continue;
        if (got == RowScanner::ROW) {
            const std::vector<std::string_view>& cells = rows.cells();
            if (rules.skipEmpty && cells.size() > rules.plan.subject &&
                cells[rules.plan.subject].empty()) {
                ++part.skipped.noSubject;
                continue;
            }
            History::Time time = 0;
            if (!subjectAndTime(cells, rows.rowLines(), part, rules, time))
                return;
            addRow(cells, rules, time, part);
            continue;
        }
        if (got == RowScanner::UNCLOSED) {
            // Cells are read in order: a bad time before the open quote
            // is met first.
            History::Time time = 0;
            if (rows.cells().size() > rules.plan.time &&
                !timeOf(rows.cells()[rules.plan.time], rows.rowLines(), part, rules, time))
                return;
            fail(part, rows.cellLines(), "A quoted cell is never closed: its quote opens here.");
            return;
        }
        part.lines = rows.lines();
        part.consumed = rows.consumed();
        return;
    }
}

std::vector<size_t> cuts(const char* data, size_t size, unsigned n) {
    std::vector<size_t> at{0};
    for (unsigned k = 1; k < n; ++k) {
        size_t p = std::max(at.back(), size / n * k);
        while (p < size && !(data[p] == '\n' && p + 1 < size && data[p + 1] != '\r'))
            ++p;
        if (p + 1 >= size)
            break;
        at.push_back(p + 1);
    }
    at.push_back(size);
    return at;
}

} // namespace quorvel::rule::mining
