#include "mine.hpp"

#include "index.hpp"
#include "levels.hpp"
#include "peers.hpp"
#include "search.hpp"

#include <algorithm>
#include <chrono>
#include <ostream>

namespace quorvel::rule {

namespace mining {

namespace {

// Adds the time since construction to a stage when it goes out of scope.
class StageClock {
public:
    explicit StageClock(double& stage)
        : m_stage(stage), m_start(std::chrono::steady_clock::now()) {}
    ~StageClock() {
        m_stage +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    }

private:
    double& m_stage;
    std::chrono::steady_clock::time_point m_start;
};

// The level engine over the subject index.
class IndexedSearch : public LevelSearch {
public:
    IndexedSearch(const Configuration& config, const SubjectIndex& index, ItemSetSupports& all,
                  RuleHistogram& counts, StageTimes& times)
        : m_config(config), m_index(index), m_all(all), m_counts(counts), m_times(times) {}

    size_t firstLevel() override {
        StageClock clock(m_times.itemSets);
        m_level = frequentItems(m_config, m_index);
        record(m_index, m_level, m_all);
        return m_all.size();
    }
    size_t nextLevel() override {
        StageClock clock(m_times.itemSets);
        m_level = mining::nextLevel(m_config, m_index, m_level);
        record(m_index, m_level, m_all);
        return m_level.sets();
    }
    uint64_t proposals() const override { return m_level.proposals(); }
    void countRules() override {
        StageClock clock(m_times.rules);
        countLevel(m_config, m_index, m_level, m_counts);
    }

private:
    const Configuration& m_config;
    const SubjectIndex& m_index;
    ItemSetSupports& m_all;
    RuleHistogram& m_counts;
    StageTimes& m_times;
    Level m_level;
};

} // namespace

RuleHistogram apriori(const Configuration& config, const TransactionSet& txns, ItemSetSupports& all,
                      std::ostream& progress, StageTimes* times) {
    return apriori(config, eventLogOf(txns), all, progress, times);
}

RuleHistogram apriori(const Configuration& config, const EventLog& log, ItemSetSupports& all,
                      std::ostream& progress, StageTimes* times) {
    StageTimes local;
    StageTimes& t = times ? *times : local;
    RuleHistogram counts;
    all = ItemSetSupports();
    auto start = std::chrono::steady_clock::now();
    IndexShape shape;
    shape.minCount = config.minCount;
    shape.merge = true;
    shape.byTime = config.windowSize > 0;
    shape.threads = std::max(1u, config.threads);
    const SubjectIndex index(log, shape);
    t.index = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    IndexedSearch search(config, index, all, counts, t);
    searchLevels(config, search, progress);
    return counts;
}

bool filter(const Configuration& config, const RuleSet::Stats& stats) {
    return config.admits(stats);
}

void populateRuleSet(const Configuration& config, RuleSet& ret, const ItemSetSupports& supports,
                     const RuleHistogram& hist, size_t txnCount, std::ostream& progress) {
    progress << "\t ... preparing rules for reporting." << std::endl;
    const unsigned int t = static_cast<unsigned int>(txnCount);
    for (const auto& entry : hist) {
        const Rule& rule = entry.first;
        const uint64_t countR = entry.second;
        const uint64_t countI = supports.at(rule.items());
        const uint64_t countA = supports.at(rule.antecedent());
        const uint64_t countS = supports.at(rule.subsequent());
        const double supportI = support(static_cast<unsigned int>(countI), t);
        const double supportA = support(static_cast<unsigned int>(countA), t);
        const double supportS = support(static_cast<unsigned int>(countS), t);
        RuleSet::Stats stats;
        stats.count = countR;
        stats.icount = countI;
        stats.support = support(static_cast<unsigned int>(countR), t);
        stats.confidence = confidence(supportI, supportA);
        stats.lift = lift(supportI, supportA, supportS);
        stats.conviction = conviction(supportS, stats.confidence);
        stats.probability = probability(supportI, supportS);
        stats.certainty = certainty(supportI, supportS);
        if (filter(config, stats))
            ret[rule] = stats;
    }
}

} // namespace mining

MiningResult MiningResult::mine(const Configuration& config, const TransactionSet& txns,
                                std::ostream& progress) {
    return mine(config, mining::eventLogOf(txns), progress);
}

MiningResult MiningResult::mine(const Configuration& config, const mining::EventLog& log,
                                std::ostream& progress) {
    MiningResult result;
    RuleHistogram counts = mining::apriori(config, log, result.m_is, progress, &result.m_times);
    {
        mining::StageClock clock(result.m_times.statistics);
        mining::populateRuleSet(config, result.m_rules, result.m_is, counts,
                                mining::peers().total(log.subjects()), progress);
    }
    progress << "\t ... have " << result.m_rules.size() << " rules." << std::endl;
    return result;
}

MiningResult mine(const Configuration& config, const TransactionSet& txns, std::ostream& progress) {
    return MiningResult::mine(config, txns, progress);
}

MiningResult mine(const Configuration& config, const mining::EventLog& log,
                  std::ostream& progress) {
    return MiningResult::mine(config, log, progress);
}

} // namespace quorvel::rule
