#include "pairs.hpp"

#include "quorvel/budget.hpp"

#include "brenlo/threads.hpp"

#include <algorithm>

namespace quorvel::rule::mining {

namespace {

constexpr uint32_t NONE = 0xFFFFFFFFu;

// Where pair (a, b), a < b, of n lies in the triangular table.
size_t pairSlot(size_t a, size_t b, size_t n) {
    return a * (2 * n - a - 1) / 2 + (b - a - 1);
}

// Subject `s`'s frequent items, as their places among the frequent ones.
void ranksOf(const SubjectIndex& index, size_t s, const std::vector<uint32_t>& rank,
             std::vector<uint32_t>& out) {
    out.clear();
    index.forEachItemOf(s, [&](ItemId id) {
        if (rank[id] != NONE)
            out.push_back(rank[id]);
    });
}

} // namespace

bool pairLevel(const MiningParams& config, const SubjectIndex& index, const Level& items,
               Level& out, const Run& run) {
    const size_t n = items.sets();
    const uint64_t pairs = uint64_t(n) * (n > 0 ? n - 1 : 0) / 2;
    const unsigned threads = std::max(1u, config.threads);
    if (items.size != 1 || pairs * sizeof(uint64_t) * threads > config.pairTableBytes)
        return false;
    // Each frequent item's place among them.
    std::vector<uint32_t> rank(index.items(), NONE);
    for (size_t k = 0; k < n; ++k)
        rank[items.ids[k]] = static_cast<uint32_t>(k);

    // Counts per thread over stretches of subjects, then summed.
    const size_t subjects = index.subjects();
    const size_t stretch = std::max<size_t>(256, subjects / (4 * size_t(threads)) + 1);
    const size_t stretches = (subjects + stretch - 1) / stretch;
    std::vector<std::vector<uint64_t>> counts(
        std::min<size_t>(threads, std::max<size_t>(stretches, 1)));
    for (auto& c : counts)
        c.assign(pairs, 0);
    std::vector<uint64_t> walked(counts.size(), 0); // pairs met, per worker
    brenlo::forEachChunk(threads, stretches, [&](size_t chunk, unsigned worker) {
        std::vector<uint32_t> mine;
        uint64_t* table = counts[worker].data();
        for (size_t s = chunk * stretch; s < std::min(subjects, (chunk + 1) * stretch); ++s) {
            ranksOf(index, s, rank, mine);
            const uint32_t weight = index.weight(s);
            for (size_t i = 0; i < mine.size(); ++i)
                for (size_t j = i + 1; j < mine.size(); ++j)
                    table[pairSlot(mine[i], mine[j], n)] += weight;
            walked[worker] += mine.size() * (mine.size() - (mine.empty() ? 0 : 1)) / 2;
        }
        run.advance(std::min(subjects, (chunk + 1) * stretch) - chunk * stretch);
    });
    for (size_t w = 1; w < counts.size(); ++w)
        for (size_t k = 0; k < pairs; ++k)
            counts[0][k] += counts[w][k];
    std::vector<uint64_t> held =
        counts.empty() ? std::vector<uint64_t>(pairs, 0) : std::move(counts[0]);
    counts.clear();

    // The kept pairs, in item-set order, and then their holders.
    std::vector<uint32_t> kept(pairs, NONE);
    out = Level();
    out.size = 2;
    uint64_t holderEntries = 0;
    for (size_t a = 0; a < n; ++a)
        for (size_t b = a + 1; b < n; ++b) {
            const size_t slot = pairSlot(a, b, n);
            if (held[slot] < config.minCount)
                continue;
            kept[slot] = static_cast<uint32_t>(out.sets());
            out.ids.push_back(items.ids[a]);
            out.ids.push_back(items.ids[b]);
            out.counts.push_back(held[slot]);
            holderEntries += held[slot];
        }
    if (config.memoryBudget)
        checkLevelBudget(config.memoryBudget,
                         residentBytes() + holderEntries * 4 + uint64_t(out.sets()) * 64, 2, pairs);
    // Few kept pairs take their holders from ANDs of their items' bitsets,
    // cheaper then than meeting every pair of every subject again.
    const uint64_t words = (uint64_t(subjects) + 63) / 64;
    uint64_t walk = 0;
    for (uint64_t w : walked)
        walk += w;
    if (uint64_t(out.sets()) * words < walk) {
        out.holders.resize(out.sets());
        brenlo::forEachChunk(threads, out.sets(), [&](size_t k, unsigned) {
            std::vector<uint64_t> both(words);
            const size_t held = andInto(index.holders(out.ids[2 * k]).data(),
                                        index.holders(out.ids[2 * k + 1]).data(), both.data(),
                                        both.size());
            out.holders[k] = Holders::of(SubjectBits(std::move(both)), held);
        });
        return true;
    }
    std::vector<std::vector<uint32_t>> lists(out.sets());
    if (index.unweighted())
        for (size_t k = 0; k < out.sets(); ++k)
            lists[k].reserve(out.counts[k]);
    std::vector<uint32_t> mine;
    for (size_t s = 0; s < subjects; ++s) {
        ranksOf(index, s, rank, mine);
        for (size_t i = 0; i < mine.size(); ++i)
            for (size_t j = i + 1; j < mine.size(); ++j) {
                const uint32_t k = kept[pairSlot(mine[i], mine[j], n)];
                if (k != NONE)
                    lists[k].push_back(static_cast<uint32_t>(s));
            }
    }
    out.holders.reserve(out.sets());
    for (std::vector<uint32_t>& list : lists) {
        out.holders.push_back(Holders::of(std::move(list), subjects));
        list = std::vector<uint32_t>();
    }
    return true;
}

} // namespace quorvel::rule::mining
