#include "options.hpp"

#include <cstdio>
#include <cstdlib>

namespace quorvel::rule {

namespace {

// A sort by an optional column needs the option that adds it.
void refuseUnshownSort(const Configuration& config) {
    const Measure* by = config.selection.sortBy;
    if (!by || !by->columns)
        return;
    const unsigned shown =
        (config.delays ? unsigned(RuleSet::DELAYS) : 0u) | config.tests();
    if (shown & by->columns)
        return;
    const char* needs = by->columns == RuleSet::DELAYS       ? "--delays"
                        : by->columns == RuleSet::DEPENDENCE ? "--p-values=dependence"
                                                             : "--p-values=order";
    std::fprintf(stderr, "Option \"--sort=%s\" needs %s.\n", by->name, needs);
    std::exit(1);
}

} // namespace

// Options that ask for what another one rules out.
void refuseConflicts(const Configuration& c) {
    if (c.rules == RuleKind::BASKET && c.windowSize > 0) {
        std::fprintf(stderr, "Option \"--rules=basket\" finds rules in any order, which no "
                             "window (-w) applies to; give one or the other.\n");
        std::exit(1);
    }
    if (c.rules == RuleKind::BASKET && c.delays) {
        std::fprintf(stderr, "Option \"--delays\" times ordered rules; basket rules have no "
                             "order (--rules=basket).\n");
        std::exit(1);
    }
    if (c.rules == RuleKind::BASKET && (c.pValues & RuleSet::ORDER)) {
        std::fprintf(stderr, "Option \"--p-values=order\" tests ordered rules; basket rules "
                             "have no order (--rules=basket).\n");
        std::exit(1);
    }
    refuseUnshownSort(c);
    if (!c.bestBy.empty() && !c.best) {
        std::fprintf(stderr, "Option \"--by\" ranks the rules --best keeps; give --best too.\n");
        std::exit(1);
    }
}

} // namespace quorvel::rule
