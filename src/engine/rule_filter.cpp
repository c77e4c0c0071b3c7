#include "rule_filter.hpp"

#include <algorithm>
#include <ostream>

namespace quorvel::rule {

bool RuleConstraints::admits(const Rule& rule) const {
    for (const Item& item : exclude)
        if (rule.antecedent().contains(item) || rule.subsequent().contains(item))
            return false;
    for (const Item& item : antecedent)
        if (!rule.antecedent().contains(item))
            return false;
    if (!subsequent.empty())
        for (const Item& item : rule.subsequent())
            if (std::find(subsequent.begin(), subsequent.end(), item) == subsequent.end())
                return false;
    return true;
}

namespace mining {

RuleFilter::RuleFilter(const RuleConstraints& constraints, const SubjectIndex& index,
                       const Level& items, std::ostream& messages) {
    std::vector<bool> frequent(index.items());
    for (size_t k = 0; k < items.sets(); ++k)
        frequent[items.set(k)[0]] = true;
    // The ids of the names among the frequent items.
    auto mark = [&](const std::vector<Item>& names, std::vector<bool>& out) {
        out.assign(index.items(), false);
        for (const Item& name : names) {
            ItemId id = 0;
            if (index.find(name, id) && frequent[id]) {
                out[id] = true;
                continue;
            }
            messages << "Warning: \"" << name
                     << "\", named by a constraint, is in no frequent item set." << std::endl;
        }
    };
    std::vector<bool> needed;
    mark(constraints.subsequent, m_subsequent);
    mark(constraints.exclude, m_excluded);
    mark(constraints.antecedent, needed);
    m_limited = !constraints.subsequent.empty();
    m_active = m_limited || !constraints.exclude.empty();
    if (constraints.subsequent.empty() && constraints.antecedent.empty())
        return;
    // The holders of every antecedent item, and of each subsequent item
    // with them.
    const size_t subjects = index.subjects(), words = (subjects + 63) / 64;
    std::vector<uint64_t> common(words, ~uint64_t(0));
    for (ItemId id = 0; id < index.items(); ++id)
        if (needed[id])
            andInto(common.data(), index.holders(id).data(), common.data(), words);
    if (!m_limited) {
        m_needs.emplace_back(std::move(common));
        return;
    }
    for (ItemId id = 0; id < index.items(); ++id)
        if (m_subsequent[id]) {
            std::vector<uint64_t> with(words);
            andInto(common.data(), index.holders(id).data(), with.data(), words);
            m_needs.emplace_back(std::move(with));
        }
    // No subsequent item is frequent: no rule is kept, and no set needed.
    if (m_needs.empty())
        m_needs.emplace_back(subjects);
}

void keepNeeded(const MiningParams& config, const SubjectIndex& index, const RuleFilter& filter,
                const Run& run, Level& level) {
    const std::vector<SubjectBits>& needs = filter.needs();
    std::vector<uint64_t> counts(level.sets() * needs.size());
    std::vector<uint64_t> both((index.subjects() + 63) / 64);
    for (size_t k = 0; k < level.sets(); ++k) {
        const Holders& h = level.holders[k];
        for (size_t t = 0; t < needs.size(); ++t) {
            uint64_t n = 0;
            if (h.dense()) {
                const size_t held =
                    andInto(h.bits().data(), needs[t].data(), both.data(), both.size());
                n = index.unweighted() ? held : index.weightOf(both.data(), held);
            } else {
                for (uint32_t s : h.list())
                    n += (needs[t].data()[s / 64] >> (s % 64) & 1) * index.weight(s);
            }
            counts[k * needs.size() + t] = n;
        }
    }
    run.peers().sum(counts);
    level.keepIf([&](size_t k) {
        for (size_t t = 0; t < needs.size(); ++t)
            if (counts[k * needs.size() + t] >= std::max<uint64_t>(config.minCount, 1))
                return true;
        return false;
    });
}

} // namespace mining

} // namespace quorvel::rule
