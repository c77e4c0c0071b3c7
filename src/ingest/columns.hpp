// Which cells of a row hold the subject, the time and the items. By
// default they are the first, the second and the rest, and the header line
// is passed over unread; naming any column reads the header and looks the
// names up in it.
#pragma once

#include "times.hpp"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::rule::mining {

/// The positions of a row's cells.
struct ColumnPlan {
    size_t subject = 0, time = 1;
    /// The item cells; when `restAreItems`, every cell from the third on
    /// that is not the subject or the time.
    std::vector<size_t> items;
    bool restAreItems = true;
    /// Header names, when the columns were named; for messages.
    std::vector<std::string> header;

    bool positional() const { return header.empty(); }
    /// The fewest cells a row must have.
    size_t needed() const;
};

/// The plan for `layout` with the header row `header`. Raises
/// brenlo::IOException naming the missing column and listing the header's
/// names, or a name the header holds twice.
ColumnPlan planColumns(const TableLayout& layout, const std::vector<std::string_view>& header);

/// The message for a row too short for `plan`, the missing cell being at
/// `position` (from 0).
std::string missingCell(const ColumnPlan& plan, size_t position, size_t cells);

} // namespace quorvel::rule::mining
