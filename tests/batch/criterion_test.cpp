// What optimisation ranks by: each criterion read from a run's figures, and
// ranks with undefined values last and ties in plan order.
#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "tester/batch/criterion.h"

namespace torvik::tester {
namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

TEST(Criterion, ReadsItsFigure)
{
    Figures f;
    f.finalBalance = 10500.0;
    f.profitFactor = 1.75;
    f.expectedPayoff = 12.5;
    f.maximalDrawdown = 250.0;
    f.recoveryFactor = 2.0;
    f.sharpeRatio = 0.1;  // per trade: not the criterion
    f.sharpeAnnual = 0.42;
    struct Case {
        Criterion c;
        const char* name;
        double value;
        bool lowerIsBetter;
    };
    const Case cases[] = {
        {Criterion::Balance, "balance", 10500.0, false},
        {Criterion::ProfitFactor, "profit-factor", 1.75, false},
        {Criterion::ExpectedPayoff, "expected-payoff", 12.5, false},
        {Criterion::Drawdown, "drawdown", 250.0, true},
        {Criterion::Recovery, "recovery", 2.0, false},
        {Criterion::Sharpe, "sharpe", 0.42, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CriterionValue(c.c, f), c.value);
        EXPECT_EQ(LowerIsBetter(c.c), c.lowerIsBetter);
        EXPECT_EQ(ParseCriterion(c.name), c.c);
        EXPECT_STREQ(CriterionName(c.c), c.name);
    }
    EXPECT_FALSE(ParseCriterion("Balance").has_value());
    f.recoveryFactor = NaN;  // no drawdown: no recovery factor, and no value to rank by
    EXPECT_TRUE(std::isnan(CriterionValue(Criterion::Recovery, f)));
}

TEST(Criterion, RanksPutUndefinedLastAndKeepTiesInOrder)
{
    struct Case {
        Criterion c;
        std::vector<double> values;
        std::vector<uint32_t> ranks;
    };
    const Case cases[] = {
        {Criterion::Balance, {100, NaN, 300, 100}, {2, 4, 1, 3}},
        {Criterion::Drawdown, {50, 20, NaN, 20}, {3, 1, 4, 2}},
        {Criterion::ProfitFactor, {NaN, NaN}, {1, 2}},
        {Criterion::Sharpe, {-1, -2, 0}, {2, 3, 1}},
        {Criterion::Balance, {}, {}},
    };
    for (const Case& c : cases) EXPECT_EQ(Ranks(c.c, c.values), c.ranks) << CriterionName(c.c);
}

}  // namespace
}  // namespace torvik::tester
