#include "observe.hpp"

#include <algorithm>

namespace quorvel::rule::mining {

MaskedRules MaskedRules::proposedFor(size_t m) {
    MaskedRules rules;
    const uint64_t all = m == 64 ? ~uint64_t(0) : (uint64_t(1) << m) - 1;
    for (size_t p = 0; p < m; ++p)
        for (size_t j = p; j < m; ++j) {
            if (p == 0 && j == m - 1)
                break;
            uint64_t antecedent = 0;
            for (size_t k = p; k <= j; ++k)
                antecedent |= uint64_t(1) << k;
            rules.antecedent.push_back(antecedent);
            rules.subsequent.push_back(all & ~antecedent);
        }
    return rules;
}

void MaskedRules::tabulate(size_t items) {
    table.clear();
    tableBits = 0;
    if (items > TABLE_ITEMS || size() > 64)
        return;
    tableBits = static_cast<unsigned>(items);
    const uint64_t masks = uint64_t(1) << items;
    table.assign(masks * masks, 0);
    for (uint64_t held = 0; held < masks; ++held)
        for (uint64_t seen = 0; seen < masks; ++seen) {
            uint64_t satisfied = 0;
            for (size_t r = 0; r < size(); ++r)
                if (observes(held, seen, antecedent[r], subsequent[r]))
                    satisfied |= uint64_t(1) << r;
            table[held << items | seen] = satisfied;
        }
}

RuleWalk::RuleWalk(const MaskedRules& rules, size_t first, History::Time window, uint64_t* observed,
                   uint32_t weight)
    : m_antecedent(rules.antecedent.data() + first), m_subsequent(rules.subsequent.data() + first),
      m_table(rules.table.empty() ? nullptr : rules.table.data()), m_tableBits(rules.tableBits),
      m_window(window), m_observed(observed + first), m_weight(weight) {
    const size_t n = std::min<size_t>(64, rules.size() - first);
    m_pending = n == 64 ? ~uint64_t(0) : (uint64_t(1) << n) - 1;
}

uint64_t RuleWalk::seenBefore(History::Time now) const {
    return seenWithin(m_last, m_everSeen, now, m_window);
}

bool RuleWalk::step(uint64_t holds, History::Time now) {
    const uint64_t seen = seenBefore(now);
    if (seen && m_table) {
        const uint64_t hit = m_table[holds << m_tableBits | seen] & m_pending;
        for (uint64_t bits = hit; bits; bits &= bits - 1)
            m_observed[__builtin_ctzll(bits)] += m_weight;
        m_pending &= ~hit;
    } else if (seen) {
        for (uint64_t bits = m_pending; bits; bits &= bits - 1) {
            const unsigned r = static_cast<unsigned>(__builtin_ctzll(bits));
            if (observes(holds, seen, m_antecedent[r], m_subsequent[r])) {
                m_pending &= ~(uint64_t(1) << r);
                m_observed[r] += m_weight;
            }
        }
    }
    for (uint64_t bits = holds; bits; bits &= bits - 1)
        m_last[__builtin_ctzll(bits)] = now;
    m_everSeen |= holds;
    return m_pending != 0;
}

} // namespace quorvel::rule::mining
