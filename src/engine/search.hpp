// The level loop of the search and its progress lines, written once for
// every way of building levels: the level engine, and the plain reference
// the tests hold it against.
#pragma once

#include "quorvel/mine.hpp"

#include <cstddef>
#include <cstdint>
#include <iosfwd>

namespace quorvel::rule::mining {

/// Builds and counts the levels of frequent item sets; the loop drives it.
class LevelSearch {
public:
    virtual ~LevelSearch() = default;
    /// Makes the frequent single items the current level; their number.
    virtual size_t firstLevel() = 0;
    /// Joins the current level into the next, which becomes current; its
    /// number of sets.
    virtual size_t nextLevel() = 0;
    /// The rules proposed from the current level's sets.
    virtual uint64_t proposals() const = 0;
    /// Counts the current level's proposed rules.
    virtual void countRules() = 0;
};

/// Runs the levels up to the configured rule order, or until no frequent
/// sets are left, writing the progress lines to `progress`.
void searchLevels(const MiningParams& config, LevelSearch& search, std::ostream& progress);

} // namespace quorvel::rule::mining
