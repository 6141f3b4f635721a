#include "money/lot_sizing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace torvik {
namespace {

constexpr double Inf = std::numeric_limits<double>::infinity();
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// The usual request: 0.1 fixed, lots from 0.01 to 100 in steps of 0.01, a
// 100000 contract, 1000 of margin per lot, one part, a dollar pair.
LotRequest Request(double riskPercent, double accountFunds)
{
    return LotRequest{0.1, riskPercent, 1.0, 0.01, 100.0, 0.01, 100000, accountFunds, 1000.0, 1, "EURUSD"};
}

// A request with one change, and a named expectation for it.
template <typename Change>
LotRequest With(LotRequest r, Change change)
{
    change(r);
    return r;
}

struct LotCase {
    const char* what;
    LotRequest r;
    double expected;
};

// The lots come out of the digit rounding: n times the decimal unit, which is
// not always the double of the decimal literal (95 * 0.01 is
// 0.9500000000000001, not 0.95).
TEST(LotSizing, SizedLotsAreTheRoundedDoubles)
{
    const LotRequest base = Request(2.0, 10000.0);
    const LotCase cases[] = {
        {"2% of 10000", base, 20 * 0.01},
        {"multiplier capped at 1.5 times the percent", With(base, [](LotRequest& r) { r.riskMultiplier = 2.0; }),
         30 * 0.01},
        {"two parts", With(base, [](LotRequest& r) { r.riskSplit = 2; }), 10 * 0.01},
        {"margin cut-back from 1.00", Request(100.0, 1000.0), 95 * 0.01},
        {"maxLot", With(base, [](LotRequest& r) { r.maxLot = 0.15; }), 15 * 0.01},
        {"step 0.1 rounds to whole lots, then minLot",
         With(Request(3.0, 10000.0), [](LotRequest& r) { r.lotStep = 0.1; r.minLot = 0.1; }), 0.1},
        // 1.5 x 0.057 is rounded to 0.09 before it is split: the part cap is
        // 0.05 (0.04 without the first rounding).
        {"cap percent rounded before the split",
         LotRequest{0.1, 0.057, 2.0, 0.01, 100.0, 0.01, 100, 1000.0, 1000.0, 2, "EURUSD"}, 50 * 0.01},
        {"part cap below the product",
         With(base, [](LotRequest& r) { r.riskPercent = 1.0; r.riskMultiplier = 10.0; r.riskSplit = 3; }), 5 * 0.01},
        {"hundreds truncated: 150 counts as 100",
         LotRequest{0.1, 0.008, 1.0, 0.01, 100.0, 0.01, 150, 1000.0, 1000.0, 1, "EURUSD"}, 10 * 0.01},
        // The quotient is divided by 100, times the funds, by the step, by the
        // hundreds, in that order; any other order changes these ceilings.
        {"ceil order a", LotRequest{0.1, 0.022, 1.3, 0.01, 100.0, 0.01, 100, 10000.0, 1000.0, 1, "EURUSD"},
         261 * 0.01},
        {"ceil order b", LotRequest{0.1, 0.071, 1.0, 0.01, 100.0, 0.01, 1000, 10000.0, 1000.0, 1, "EURUSD"},
         71 * 0.01},
        {"ceil order c", LotRequest{0.1, 0.071, 1.0, 0.01, 100.0, 0.01, 1000, 1000.0, 1000.0, 1, "EURUSD"},
         7 * 0.01},
        // Multiplying by 100 instead of dividing by 0.01 would give 11.12.
        {"digit rounding divides by the unit",
         LotRequest{0.1, 0.057, 2.0, 0.01, 100.0, 0.01, 100, 12345.67, 1000.0, 1, "EURUSD"}, 1112 * 0.01},
        {"cut back by minLot, not by the step",
         LotRequest{0.1, 100.0, 1.0, 0.05, 100.0, 0.01, 100000, 1000.0, 1100.0, 1, "EURUSD"}, 85 * 0.01},
        {"cut back by 0.01", LotRequest{0.1, 100.0, 1.0, 0.01, 100.0, 0.01, 100000, 1000.0, 1100.0, 1, "EURUSD"},
         86 * 0.01},
        {"cut-back stops below 2 x minLot",
         LotRequest{0.1, 100.0, 1.0, 0.3, 100.0, 0.01, 100000, 1000.0, 10000.0, 1, "EURUSD"}, 40 * 0.01},
        {"no cut-back from below 2 x minLot",
         LotRequest{0.1, 100.0, 1.0, 0.6, 100.0, 0.01, 100000, 1000.0, 1000.0, 1, "EURUSD"}, 100 * 0.01},
        // 7% gives 14.000000000000002 steps of 0.05: ceil 15, 0.75, one digit.
        {"step 0.05: one digit", LotRequest{0.1, 7.0, 1.0, 0.05, 100.0, 0.05, 100000, 10000.0, 1000.0, 1, "EURUSD"},
         8 * 0.1},
        {"step 0.001: three digits",
         LotRequest{0.1, 1.234, 1.0, 0.001, 100.0, 0.001, 100000, 5000.0, 1000.0, 1, "EURUSD"}, 62 * 0.001},
        {"step 1 and maxLot", LotRequest{0.1, 40.0, 1.0, 1.0, 100.0, 1.0, 1000, 10000.0, 1.0, 1, "EURUSD"}, 100.0},
        {"USD anywhere in the name", With(base, [](LotRequest& r) { r.symbol = "XAUUSD.m"; }), 20 * 0.01},
        {"USD first", With(base, [](LotRequest& r) { r.symbol = "USDJPY"; }), 20 * 0.01},
    };
    for (const LotCase& c : cases) EXPECT_EQ(LOT(c.r), c.expected) << c.what;
}

TEST(LotSizing, FixedLotWhenSizingDoesNotApply)
{
    const LotRequest base = Request(2.0, 10000.0);
    const LotCase cases[] = {
        {"not a dollar pair", With(base, [](LotRequest& r) { r.symbol = "EURGBP"; }), 0.1},
        {"the search is case-sensitive", With(base, [](LotRequest& r) { r.symbol = "eurusd"; }), 0.1},
        {"empty name", With(base, [](LotRequest& r) { r.symbol = ""; }), 0.1},
        {"sizing off", Request(0.0, 10000.0), 0.1},
        {"part percent rounds to 0.00", Request(0.004, 10000.0), 0.1},
        {"the part percent replaces riskPercent", With(Request(0.01, 10000.0), [](LotRequest& r) { r.riskSplit = 3; }),
         0.1},
        {"sizing off: fixed lot raised to minLot",
         With(Request(0.0, 10000.0), [](LotRequest& r) { r.fixedLot = 0.005; }), 0.01},
        {"other pair: fixed lot raised to minLot",
         With(base, [](LotRequest& r) { r.fixedLot = 0.0; r.symbol = "GBPJPY"; }), 0.01},
        // Negative percent: nothing sized, and the fixed lot is not taken.
        {"negative percent gives minLot", Request(-1.0, 10000.0), 0.01},
        {"negative percent and minLot give 0",
         With(Request(-1.0, 10000.0), [](LotRequest& r) { r.minLot = -0.5; }), 0.0},
        {"percent not a number gives minLot", Request(NaN, 10000.0), 0.01},
        {"negative percent on another pair", With(Request(-1.0, 10000.0), [](LotRequest& r) { r.symbol = "EURJPY"; }),
         0.1},
    };
    for (const LotCase& c : cases) EXPECT_EQ(LOT(c.r), c.expected) << c.what;
}

// What the library does where the request cannot be sized: 0.0, its
// "cannot" answer. The same values are harmless while sizing is off.
TEST(LotSizing, RequestsThatCannotBeSizedGiveZero)
{
    struct Case {
        const char* what;
        void (*change)(LotRequest&);
    };
    const Case cases[] = {
        {"no parts", [](LotRequest& r) { r.riskSplit = 0; }},
        {"negative parts", [](LotRequest& r) { r.riskSplit = -3; }},
        {"lotDivisor 99", [](LotRequest& r) { r.lotDivisor = 99; }},
        {"lotDivisor 0", [](LotRequest& r) { r.lotDivisor = 0; }},
        {"lotDivisor negative", [](LotRequest& r) { r.lotDivisor = -100000; }},
        {"lotStep 0", [](LotRequest& r) { r.lotStep = 0.0; }},
        {"lotStep negative", [](LotRequest& r) { r.lotStep = -0.01; }},
        {"lotStep not a number", [](LotRequest& r) { r.lotStep = NaN; }},
    };
    for (const Case& c : cases) {
        LotRequest sized = Request(2.0, 10000.0);
        c.change(sized);
        EXPECT_EQ(LOT(sized), 0.0) << c.what;
        LotRequest fixed = Request(0.0, 10000.0);
        c.change(fixed);
        EXPECT_EQ(LOT(fixed), 0.1) << c.what << " with sizing off";
    }
}

TEST(LotSizing, NullSymbolGivesZeroOnEveryPath)
{
    for (const double riskPercent : {2.0, 100.0, 0.0, 0.004, -1.0, NaN}) {
        LotRequest r = Request(riskPercent, 10000.0);
        r.symbol = nullptr;
        EXPECT_EQ(LOT(r), 0.0) << riskPercent;
        r.riskSplit = 0;
        EXPECT_EQ(LOT(r), 0.0) << riskPercent;
    }
}

TEST(LotSizing, EveryPathEndsAtLeastAtMinLot)
{
    for (const char* symbol : {"EURUSD", "EURGBP"}) {
        for (const double riskPercent : {-1.0, 0.0, 0.004, 0.5, 2.0, 100.0}) {
            LotRequest r = Request(riskPercent, 10000.0);
            r.fixedLot = 0.001;
            r.minLot = 0.02;
            r.symbol = symbol;
            EXPECT_GE(LOT(r), 0.02) << symbol << " " << riskPercent;
        }
    }
}

// A lot step so fine that its digit count exceeds 9 makes the rounding not a
// number, and no comparison with minLot replaces it.
TEST(LotSizing, MoreThanNineLotDigitsGiveNotANumber)
{
    LotRequest r = Request(2.0, 10000.0);
    r.lotStep = 1e-12;
    EXPECT_TRUE(std::isnan(LOT(r)));
    r.symbol = "EURGBP";
    EXPECT_EQ(LOT(r), 0.1);
}

// The cut-back runs only with a positive minLot and gives up after a million
// subtractions; these would otherwise never end or take very long.
TEST(LotSizing, MarginCutBackIsBounded)
{
    struct Case {
        const char* what;
        double minLot, marginPerLot, accountFunds, maxLot;
        double expected;
    };
    const Case cases[] = {
        {"minLot 0: no cut-back", 0.0, 1000.0, 1000.0, 100.0, 100 * 0.01},
        {"minLot negative: no cut-back", -0.01, 1000.0, 1000.0, 100.0, 100 * 0.01},
        // 10^6 subtractions of 1e-7 take 0.1 off; the margin is never met.
        {"a million cut-backs, then the lot as it stands", 1e-7, 1e9, 1000.0, 100.0, 90 * 0.01},
        {"a subtraction that changes nothing", 1e-20, 1e9, 1000.0, 100.0, 100 * 0.01},
        {"infinite funds and lots", 0.01, 1000.0, Inf, Inf, Inf},
    };
    for (const Case& c : cases) {
        LotRequest r = Request(100.0, c.accountFunds);
        r.minLot = c.minLot;
        r.marginPerLot = c.marginPerLot;
        r.maxLot = c.maxLot;
        EXPECT_EQ(LOT(r), c.expected) << c.what;
    }
    // An infinite minLot turns the lot into not a number inside the loop,
    // which then runs to its bound; the final floor gives minLot.
    LotRequest r = Request(2.0, 10000.0);
    r.minLot = Inf;
    EXPECT_EQ(LOT(r), Inf);
}

TEST(LotStepDigits, RepeatedDivisionByATenth)
{
    struct Case {
        double step;
        int32_t digits;
    };
    const Case cases[] = {
        {1.0, 0},   {0.5, 0},      {0.2, 0},    {0.1, 0},     {0.05, 1},   {0.03, 1},     {0.025, 1},
        {0.02, 1},  {0.01, 2},     {0.005, 2},  {0.001, 3},   {0.0001, 4}, {0.00001, 5},  {1e-9, 9},
        {1e-10, 10}, {1e9, 0},     {Inf, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(LotStepDigits(c.step), c.digits) << c.step;
    // The smallest positive double still ends, after a few hundred divisions.
    const int32_t tiny = LotStepDigits(std::numeric_limits<double>::denorm_min());
    EXPECT_GT(tiny, 300);
    EXPECT_LE(tiny, 400);
}

}  // namespace
}  // namespace torvik
