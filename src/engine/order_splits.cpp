#include "order_splits.hpp"

#include "quorvel/budget.hpp"

#include "brenlo/progress.hpp"
#include "brenlo/threads.hpp"
#include "quorvel/peers.hpp"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <unordered_map>

namespace quorvel::rule::mining {

namespace {

uint64_t allOf(size_t n) {
    return n == 64 ? ~uint64_t(0) : (uint64_t(1) << n) - 1;
}

bool single(uint64_t mask) {
    return mask != 0 && (mask & (mask - 1)) == 0;
}

// Whether the positions of `a` are consecutive: a proposed antecedent.
bool consecutive(uint64_t a) {
    if (a == 0)
        return false;
    const uint64_t shifted = a >> __builtin_ctzll(a);
    return (shifted & (shifted + 1)) == 0;
}

} // namespace

OrderSplits OrderSplits::of(const MiningParams& config, const SubjectIndex& index,
                            const Level& pairs, const FirstAppearances& firsts,
                            const WindowMasks& masks, const Run& run) {
    OrderSplits splits;
    const size_t words = (index.subjects() + 63) / 64;
    const uint64_t bytes = uint64_t(pairs.sets()) * RELATIONS * words * 8;
    uint64_t limit = config.pairRelationBytes;
    if (config.memoryBudget) {
        const uint64_t used = residentBytes();
        limit = std::min(limit, config.memoryBudget > used ? (config.memoryBudget - used) / 4 : 0);
    }
    const bool windowed = config.windowSize != 0;
    const bool suits = pairs.size == 2 && config.minCount > 0 &&
                       !(windowed ? masks.empty() : firsts.empty()) && bytes <= limit &&
                       index.subjects() <= MAX_SUBJECTS_PER_COUNT * config.minCount;
    // Every process counts the same candidates, or none does.
    if (run.peers().total(suits ? 1 : 0) != uint64_t(run.peers().size()))
        return splits;
    splits.m_used = true;
    splits.m_exact = !windowed;
    splits.m_allSubjects = run.peers().total(index.subjects());
    run.together([&] { splits.relate(config, index, pairs, firsts, masks); });
    return splits;
}

void OrderSplits::relate(const MiningParams& config, const SubjectIndex& index, const Level& pairs,
                         const FirstAppearances& firsts, const WindowMasks& masks) {
    const size_t words = (index.subjects() + 63) / 64;
    m_subjects = index.subjects();
    m_words = words;
    m_pairs = pairs.ids;
    m_pairSets = SetIndex(m_pairs.data(), pairs.sets(), 2);
    m_relations.assign(pairs.sets() * RELATIONS * words, 0);
    const size_t stretch = 16;
    brenlo::forEachChunk(
        std::max(1u, config.threads), (pairs.sets() + stretch - 1) / stretch,
        [&](size_t c, unsigned) {
            for (size_t p = c * stretch; p < std::min(pairs.sets(), (c + 1) * stretch); ++p) {
                const ItemId lo = pairs.set(p)[0], hi = pairs.set(p)[1];
                uint64_t* rows = m_relations.data() + p * RELATIONS * words;
                auto mark = [&](Relation r, size_t s) {
                    rows[r * words + s / 64] |= uint64_t(1) << (s % 64);
                };
                size_t at = 0;
                pairs.holders[p].forEachIn(0, index.subjects(), at, [&](size_t s) {
                    if (!m_exact) {
                        const WindowMasks::Of l = masks.of(index, lo, s),
                                              h = masks.of(index, hi, s);
                        uint64_t loBefore = 0, hiBefore = 0, both = 0, loRule = 0, hiRule = 0;
                        for (size_t w = 0; w < l.words; ++w) {
                            const uint64_t freshLo = l.at[w] & ~l.seen[w];
                            const uint64_t freshHi = h.at[w] & ~h.seen[w];
                            loBefore |= freshHi & l.seen[w];
                            hiBefore |= freshLo & h.seen[w];
                            both |= freshLo & freshHi;
                            loRule |= freshHi & l.seen[w] & ~l.at[w];
                            hiRule |= freshLo & h.seen[w] & ~h.at[w];
                        }
                        // Without branches: which relations hold is data.
                        const size_t w = s / 64, bit = s % 64;
                        rows[LO_BEFORE * words + w] |= uint64_t(loBefore != 0) << bit;
                        rows[HI_BEFORE * words + w] |= uint64_t(hiBefore != 0) << bit;
                        rows[TOGETHER * words + w] |= uint64_t(both != 0) << bit;
                        rows[LO_RULE * words + w] |= uint64_t(loRule != 0) << bit;
                        rows[HI_RULE * words + w] |= uint64_t(hiRule != 0) << bit;
                        return;
                    }
                    const uint32_t l = firsts.first(lo, s), h = firsts.first(hi, s);
                    if (l == h) {
                        mark(TOGETHER, s);
                        mark(LO_AT_HI, s);
                        mark(HI_AT_LO, s);
                    } else if (l < h) {
                        mark(LO_BEFORE, s);
                        if (firsts.heldAt(index, lo, s, h))
                            mark(LO_AT_HI, s);
                    } else {
                        mark(HI_BEFORE, s);
                        if (firsts.heldAt(index, hi, s, l))
                            mark(HI_AT_LO, s);
                    }
                });
            }
        });
}

const uint64_t* OrderSplits::relation(ItemId x, ItemId y, Relation r) const {
    const ItemId pair[2] = {std::min(x, y), std::max(x, y)};
    const size_t p = m_pairSets.find(m_pairs.data(), pair);
    if (p == SetIndex::NONE)
        throw std::logic_error("a pair of a frequent set is not frequent");
    return m_relations.data() + (p * RELATIONS + r) * m_words;
}

const uint64_t* OrderSplits::before(ItemId x, ItemId y) const {
    return relation(x, y, x < y ? LO_BEFORE : HI_BEFORE);
}

const uint64_t* OrderSplits::together(ItemId x, ItemId y) const {
    return relation(x, y, TOGETHER);
}

const uint64_t* OrderSplits::heldWhereFirst(ItemId x, ItemId y) const {
    return relation(x, y, x < y ? LO_AT_HI : HI_AT_LO);
}

size_t OrderSplits::find(const ItemId* x) const {
    const size_t k = m_sets.find(m_ids.data(), x);
    return k == SetIndex::NONE ? NONE : k;
}

bool OrderSplits::reached(size_t k, uint64_t b) const {
    const uint64_t* begin = m_reached.data() + m_reachedBegin[k];
    const uint64_t* end = m_reached.data() + m_reachedBegin[k + 1];
    return std::binary_search(begin, end, b);
}

size_t OrderSplits::findWithout(const ItemId* x, size_t n, size_t d) const {
    ItemId subset[MAX_RULE_ITEMS];
    std::copy(x, x + d, subset);
    std::copy(x + d + 1, x + n, subset + d);
    return find(subset);
}

std::vector<OrderSplits::Candidate> OrderSplits::candidates(const Level& level,
                                                            const RuleFilter& filter) const {
    const size_t n = level.size;
    std::vector<Candidate> out;
    if (n == 2) {
        // x0 => x1, x1 => x0, and both first together.
        for (size_t k = 0; k < level.sets(); ++k)
            for (uint64_t b : {uint64_t(2), uint64_t(1), uint64_t(3)})
                if (filter.mayKeep(level.set(k), n, b))
                    out.push_back({static_cast<uint32_t>(k), b});
        return out;
    }
    std::vector<uint64_t> mine;
    size_t without[MAX_RULE_ITEMS]; // the set without its item at d, found once
    for (size_t k = 0; k < level.sets(); ++k) {
        const ItemId* x = level.set(k);
        mine.clear();
        // A split reaches the count only where the set without its last
        // item split as it does, the last item added to A or B; when B is
        // the last item alone, where the set without the item before did.
        without[n - 1] = find(x);
        if (without[n - 1] == NONE)
            continue;
        const size_t p = without[n - 1];
        for (uint32_t i = m_reachedBegin[p]; i < m_reachedBegin[p + 1]; ++i) {
            mine.push_back(m_reached[i]);
            mine.push_back(m_reached[i] | uint64_t(1) << (n - 1));
        }
        without[n - 2] = findWithout(x, n, n - 2);
        const uint64_t lastAlone = uint64_t(1) << (n - 1);
        if (without[n - 2] != NONE && reached(without[n - 2], dropBit(lastAlone, n - 2)))
            mine.push_back(lastAlone);
        for (size_t d = 0; d + 2 < n && !mine.empty(); ++d)
            without[d] = findWithout(x, n, d);
        for (uint64_t b : mine) {
            // Every other split one item smaller must have reached it too.
            bool ok = true;
            for (size_t d = 0; d + 1 < n && ok; ++d) {
                if ((b >> d & 1) && single(b))
                    continue; // B would be empty
                ok = without[d] != NONE && reached(without[d], dropBit(b, d));
            }
            if (ok && filter.mayKeep(x, n, b))
                out.push_back({static_cast<uint32_t>(k), b});
        }
    }
    return out;
}

uint64_t OrderSplits::splitWork(const Level& level, const std::vector<Candidate>& cands) const {
    uint64_t rows = 0;
    for (const Candidate& c : cands) {
        const uint64_t b = __builtin_popcountll(c.b), a = level.size - b;
        rows += a * b + b * (b - 1) / 2;
    }
    return rows * ((m_allSubjects + 63) / 64);
}

uint64_t OrderSplits::holderWork(const Level& level) {
    // Each holder's masks, a word or so for each item, and its rules.
    uint64_t holders = 0;
    for (size_t count : level.counts)
        holders += count;
    return holders * HOLDER_WORDS * level.size;
}

void OrderSplits::countOne(const SubjectIndex& index, const ItemId* x, size_t n, uint64_t b,
                           bool proposed, uint64_t& count, uint64_t& rule,
                           std::vector<uint64_t>& buffer) const {
    const size_t b0 = static_cast<size_t>(__builtin_ctzll(b));
    const ItemId y = x[b0];
    uint64_t* bits = buffer.data();
    bool first = true;
    auto andWith = [&](const uint64_t* row) {
        if (first)
            std::copy(row, row + m_words, bits);
        else
            for (size_t w = 0; w < m_words; ++w)
                bits[w] &= row[w];
        first = false;
    };
    if (m_exact) {
        // One transaction where B's items all first appear: B's lowest
        // tells all.
        for (size_t k = 0; k < n; ++k)
            if (k != b0)
                andWith((b >> k & 1) ? together(y, x[k]) : before(x[k], y));
    } else {
        for (size_t j = 0; j < n; ++j) {
            if (!(b >> j & 1))
                continue;
            for (size_t k = 0; k < n; ++k) {
                if (!(b >> k & 1))
                    andWith(before(x[k], x[j]));
                else if (k > j)
                    andWith(together(x[j], x[k]));
            }
        }
    }
    count += index.weightOf(bits, popcount(bits, m_words));
    if (!proposed || !exactAt(n))
        return;
    if (!m_exact) {
        // A rule of two items, observed as its relation says.
        const size_t a = b0 == 0 ? 1 : 0;
        const uint64_t* observed = relation(x[a], y, x[a] < y ? LO_RULE : HI_RULE);
        rule += index.weightOf(observed, popcount(observed, m_words));
        return;
    }
    // Of those, the subjects where B's transaction lacks an item of A.
    const uint64_t* rows[MAX_RULE_ITEMS] = {};
    size_t m = 0;
    for (size_t k = 0; k < n; ++k)
        if (!(b >> k & 1))
            rows[m++] = heldWhereFirst(x[k], y);
    uint64_t* all = bits + m_words;
    std::copy(rows[0], rows[0] + m_words, all);
    for (size_t r = 1; r < m; ++r)
        for (size_t w = 0; w < m_words; ++w)
            all[w] &= rows[r][w];
    for (size_t w = 0; w < m_words; ++w)
        bits[w] &= ~all[w];
    rule += index.weightOf(bits, popcount(bits, m_words));
}

std::vector<OrderSplits::Counted> OrderSplits::count(const MiningParams& config,
                                                     const SubjectIndex& index, const Level& level,
                                                     const MaskedRules& rules, const Run& run,
                                                     const RuleFilter& filter) {
    const size_t n = level.size;
    if (n != 2 && n != m_size + 1)
        throw std::logic_error("levels counted out of order");
    std::vector<Candidate> cands;
    // Each candidate's split count, then its rule count, summed at once.
    std::vector<uint64_t> sums;
    bool tooMany = false;
    run.together([&] {
        cands = candidates(level, filter);
        // Without a window few splits reach the count; with one they may be
        // more than the rules the other way counts.
        tooMany = !m_exact && splitWork(level, cands) > holderWork(level);
        if (tooMany)
            return;
        sums.assign(2 * cands.size(), 0);
        countHere(config, index, level, cands, sums.data(), run);
    });
    if (tooMany) {
        *this = OrderSplits();
        return {};
    }
    run.peers().sum(sums);

    std::unordered_map<uint64_t, uint32_t> ruleOf; // by B
    for (size_t r = 0; r < rules.size(); ++r)
        ruleOf[rules.subsequent[r]] = static_cast<uint32_t>(r);
    std::vector<Counted> observed;
    m_size = n;
    m_ids = level.ids;
    m_sets = SetIndex(m_ids.data(), level.sets(), n);
    m_reachedBegin.assign(level.sets() + 1, 0);
    m_reached.clear();
    size_t i = 0;
    for (size_t k = 0; k < level.sets(); ++k) {
        m_reachedBegin[k] = static_cast<uint32_t>(m_reached.size());
        for (; i < cands.size() && cands[i].set == k; ++i) {
            if (sums[i] < config.minCount)
                continue;
            m_reached.push_back(cands[i].b);
            const auto r = ruleOf.find(cands[i].b);
            if (r != ruleOf.end() && (allOf(n) & ~cands[i].b) != 0)
                observed.push_back({static_cast<uint32_t>(k), r->second,
                                    exactAt(n) ? sums[cands.size() + i] : sums[i]});
        }
        std::sort(m_reached.begin() + m_reachedBegin[k], m_reached.end());
    }
    m_reachedBegin[level.sets()] = static_cast<uint32_t>(m_reached.size());
    return observed;
}

void OrderSplits::countHere(const MiningParams& config, const SubjectIndex& index,
                            const Level& level, const std::vector<Candidate>& cands, uint64_t* sums,
                            const Run& run) const {
    const size_t n = level.size;
    const unsigned threads = std::max(1u, config.threads);
    std::vector<std::vector<uint64_t>> buffers(threads, std::vector<uint64_t>(2 * m_words));
    const size_t stretch = std::max<size_t>(1, cands.size() / (32 * size_t(threads)));
    const size_t stretches = (cands.size() + stretch - 1) / stretch;
    // The meter counts subjects as the Read line does: a merged history
    // for every subject it stands for.
    uint64_t subjects = 0;
    for (size_t s = 0; s < index.subjects(); ++s)
        subjects += index.weight(s);
    auto share = [&](size_t c) { return subjects * c / std::max<size_t>(cands.size(), 1); };
    brenlo::ProgressStage stage(run.progress(),
                                "Counting rules of item sets of " + std::to_string(n) + " items",
                                subjects, brenlo::Progress::SUBJECTS);
    brenlo::forEachChunk(threads, stretches, [&](size_t c, unsigned worker) {
        const size_t from = c * stretch, to = std::min(cands.size(), from + stretch);
        for (size_t i = from; i < to; ++i) {
            const uint64_t b = cands[i].b;
            countOne(index, level.set(cands[i].set), n, b, consecutive(allOf(n) & ~b), sums[i],
                     sums[cands.size() + i], buffers[worker]);
        }
        run.advance(share(to) - share(from));
    });
}

} // namespace quorvel::rule::mining
