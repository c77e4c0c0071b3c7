#include "search.hpp"

#include <ostream>

namespace quorvel::rule::mining {

namespace {

// Builds the next level and counts its rules; false when it proposes none.
bool levelStep(LevelSearch& search, size_t& sets, uint64_t size, unsigned int order,
               std::ostream& progress) {
    sets = search.nextLevel();
    const uint64_t proposals = search.proposals();
    progress << "\t ... calculated " << sets << " frequent item sets of size " << size << " with "
             << proposals << " proposed rules." << std::endl;
    if (proposals == 0)
        return false;
    progress << "\t ... deducing rules of order " << order << "." << std::endl;
    search.countRules();
    return true;
}

} // namespace

void searchLevels(const MiningParams& config, LevelSearch& search, std::ostream& progress) {
    progress << "\t ... calculated " << search.firstLevel() << " frequent item sets of size 1. "
             << std::endl;
    size_t sets = search.nextLevel();
    progress << "\t ... calculated " << sets << " frequent item sets of size 2 with "
             << search.proposals() << " proposed rules." << std::endl;
    if (search.proposals() == 0) {
        progress << "\t ... no rules of order 1 found." << std::endl;
        return;
    }
    progress << "\t ... deducing rules of order 1." << std::endl;
    search.countRules();

    uint64_t size = 3;
    unsigned int order = 2;
    if (config.maxOrder == 0) {
        progress << "\t ... mining rules until there are no more frequent item sets." << std::endl;
        while (sets > 2 && levelStep(search, sets, size++, order++, progress)) {
        }
    } else if (config.maxOrder > 1) {
        progress << "\t ... rules up to order " << config.maxOrder << " will be mined."
                 << std::endl;
        while (order <= config.maxOrder && levelStep(search, sets, size++, order++, progress)) {
        }
    }
}

} // namespace quorvel::rule::mining
