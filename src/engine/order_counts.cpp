#include "order_counts.hpp"

#include "holder_walk.hpp"

#include "quorvel/peers.hpp"

#include <stdexcept>

namespace quorvel::rule::mining {

std::vector<OrderCounts> orderCountsOf(const MiningParams& params, const SubjectIndex& index,
                                       const RuleHistogram& counts, const Run& run) {
    const size_t rules = counts.size();
    // Per worker: [3r] A => S, [3r + 1] S => A, [3r + 2] both, weighted.
    std::vector<std::vector<uint64_t>> byWorker(params.threads, std::vector<uint64_t>(3 * rules));
    std::vector<std::vector<unsigned char>> seen(params.threads, std::vector<unsigned char>(rules));
    run.together([&] {
        walkHolders(
            params, index, rulesBySet(index, counts, true),
            [&](unsigned worker, size_t s, const std::vector<Observed>& observed) {
                std::vector<uint64_t>& n = byWorker[worker];
                std::vector<unsigned char>& which = seen[worker];
                for (const Observed& o : observed)
                    which[o.rule / 2] |= static_cast<unsigned char>(1u << (o.rule % 2));
                const uint64_t w = index.weight(s);
                for (const Observed& o : observed) {
                    const size_t r = o.rule / 2;
                    if (!which[r])
                        continue; // the other order of a rule already taken
                    if (which[r] & 1)
                        n[3 * r] += w;
                    if (which[r] & 2)
                        n[3 * r + 1] += w;
                    if (which[r] == 3)
                        n[3 * r + 2] += w;
                    which[r] = 0;
                }
            },
            "Testing the rules' order", run);
    });
    std::vector<uint64_t> n(3 * rules);
    for (const std::vector<uint64_t>& part : byWorker)
        for (size_t k = 0; k < n.size(); ++k)
            n[k] += part[k];
    run.peers().sum(n);
    std::vector<OrderCounts> out(rules);
    size_t r = 0;
    for (const auto& entry : counts) {
        if (n[3 * r] != entry.second)
            throw std::logic_error("the subjects observing a rule again are not its count");
        out[r] = {n[3 * r + 1], n[3 * r + 2]};
        ++r;
    }
    return out;
}

} // namespace quorvel::rule::mining
