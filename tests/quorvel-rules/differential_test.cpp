// The fast miner against the plain reference: same tables, same messages.
#include "mine.hpp"
#include "reference_miner.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <sstream>

using namespace quorvel::rule;

namespace {

struct Case {
    std::string table;
    Configuration config;
};

Case randomCase(std::mt19937& rng) {
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    Case c;
    c.config.minCount = static_cast<unsigned>(pick(5));
    // A zero threshold keeps every subset of the items: keep those cases small.
    const int items = c.config.minCount == 0 ? 2 + pick(5) : 2 + pick(11);
    const int subjects = pick(61);
    c.config.windowSize = static_cast<unsigned>(pick(6));
    c.config.maxOrder = static_cast<unsigned>(pick(4));
    const double supports[] = {0, 0, 0.05, 0.1, 0.25, 1.0 / 3};
    const double confidences[] = {0, 0, 0.5, 1};
    const double lifts[] = {0, 0, 1, 1.5};
    const double convictions[] = {std::numeric_limits<double>::infinity(),
                                  std::numeric_limits<double>::infinity(), 1, 2, 0};
    c.config.minSupport = supports[pick(6)];
    c.config.minConfidence = confidences[pick(4)];
    c.config.minLift = lifts[pick(4)];
    c.config.maxConviction = convictions[pick(5)];

    std::ostringstream t;
    t << "subject\ttime\titem\n";
    for (int s = 0; s < subjects; ++s) {
        const int rows = 1 + pick(8);
        unsigned int time = static_cast<unsigned>(pick(3));
        for (int r = 0; r < rows; ++r) {
            t << "s" << s << '\t' << time;
            const int n = pick(4);
            for (int k = 0; k < n; ++k)
                t << "\ti" << pick(items);
            t << '\n';
            time += static_cast<unsigned>(pick(4)); // repeats and gaps
        }
    }
    c.table = t.str();
    return c;
}

struct Output {
    std::string rules, itemSets, err;
};

template <class Rules, class ItemSets>
Output render(const Rules& rules, const ItemSets& itemSets, const std::string& err) {
    Output o;
    std::ostringstream r, i;
    rules.write(r);
    itemSets.write(i);
    o.rules = r.str();
    o.itemSets = i.str();
    o.err = err;
    return o;
}

} // namespace

TEST(Differential, FastMinerMatchesTheReferenceOnRandomTables) {
    std::mt19937 rng(20261208);
    int withRules = 0, deep = 0;
    for (int n = 0; n < 500; ++n) {
        Case c = randomCase(rng);
        TransactionSet txns = testsupport::transactions(c.table);

        testing::internal::CaptureStderr();
        MiningResult fast = mine(c.config, txns);
        std::string fastErr = testing::internal::GetCapturedStderr();
        testing::internal::CaptureStderr();
        quorvel::reference::MiningResultData slow = quorvel::reference::mine(c.config, txns);
        std::string slowErr = testing::internal::GetCapturedStderr();

        testing::internal::CaptureStderr();
        Output a = render(fast.rules(), fast.itemSets(), fastErr);
        Output b = render(slow.rules, slow.itemSets, slowErr);
        testing::internal::GetCapturedStderr();

        ASSERT_EQ(a.err, b.err) << "case " << n << "\n" << c.table;
        ASSERT_EQ(a.itemSets, b.itemSets) << "case " << n << "\n" << c.table;
        ASSERT_EQ(a.rules, b.rules) << "case " << n << " window " << c.config.windowSize << "\n"
                                    << c.table;
        withRules += fast.rules().size() > 0;
        deep += fastErr.find("order 2") != std::string::npos;
    }
    // The generator must exercise the interesting paths, not only empty results.
    EXPECT_GT(withRules, 100);
    EXPECT_GT(deep, 50);
}
