// The tables of every item in every subject with which a level's rules are
// counted set by set rather than subject by subject: where items first
// appear without a window, their masks with one.
#pragma once

#include "first_appearances.hpp"
#include "window_masks.hpp"

namespace quorvel::rule::mining {

struct ItemTables {
    FirstAppearances firsts; // made without a window
    WindowMasks masks;       // made with one

    /// The table `window` asks for, when some history is longer than one
    /// transaction and it takes at most `bytes`; none otherwise. Made on
    /// `threads`.
    static ItemTables of(const SubjectIndex& index, History::Time window, uint64_t bytes,
                         unsigned threads) {
        ItemTables tables;
        if (!index.anyLongerThanOne())
            return tables;
        if (window == 0 && FirstAppearances::fits(index, bytes))
            tables.firsts = FirstAppearances(index, threads);
        if (window != 0 && WindowMasks::fits(index, bytes))
            tables.masks = WindowMasks(index, window, threads);
        return tables;
    }
};

} // namespace quorvel::rule::mining
