// Walk-forward: calendar periods, the rolling windows, the efficiency, the
// out-of-sample history joined from its runs.
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tester/batch/walk_forward.h"
#include "tester/data/error.h"
#include "tester/data/bar_time.h"

namespace torvik::tester {
namespace {

uint32_t At(int32_t year, int32_t month, int32_t day, int32_t hour = 0)
{
    return *ToBarTime(CivilTime{year, month, day, hour, 0, 0});
}

TEST(Period, ReadsACountAndAUnit)
{
    struct Case {
        const char* text;
        int64_t count;
        PeriodUnit unit;
    };
    const Case good[] = {{"12mo", 12, PeriodUnit::Month},
                         {"3mo", 3, PeriodUnit::Month},
                         {"2w", 2, PeriodUnit::Week},
                         {"30d", 30, PeriodUnit::Day},
                         {"1y", 1, PeriodUnit::Year}};
    for (const Case& c : good) {
        const std::optional<Period> p = ParsePeriod(c.text);
        ASSERT_TRUE(p.has_value()) << c.text;
        EXPECT_EQ(p->count, c.count);
        EXPECT_EQ(p->unit, c.unit);
        EXPECT_EQ(PeriodText(*p), c.text);
    }
    for (const char* bad : {"", "mo", "0mo", "-1d", "3m", "3", "3moo", "1.5y", "12 mo", "99999y"}) {
        EXPECT_FALSE(ParsePeriod(bad).has_value()) << bad;
    }
}

TEST(Period, CalendarMonthsKeepTheDayOrTakeTheMonthsLast)
{
    const Period month{1, PeriodUnit::Month}, year{1, PeriodUnit::Year}, fortnight{2, PeriodUnit::Week};
    struct Case {
        uint32_t from;
        Period p;
        int64_t k;
        uint32_t to;
    };
    const Case cases[] = {
        {At(2024, 1, 31), month, 1, At(2024, 2, 29)},      {At(2024, 1, 31), month, 2, At(2024, 3, 31)},
        {At(2024, 3, 31), month, -1, At(2024, 2, 29)},     {At(2023, 11, 15, 7), month, 3, At(2024, 2, 15, 7)},
        {At(2024, 2, 29), year, 1, At(2025, 2, 28)},       {At(2024, 12, 25), fortnight, 1, At(2025, 1, 8)},
        {At(2024, 1, 8), fortnight, -1, At(2023, 12, 25)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AddPeriods(c.from, c.p, c.k), c.to)
            << FormatBarTime(c.from) << " + " << c.k << " " << PeriodText(c.p);
    }
    EXPECT_FALSE(AddPeriods(At(1970, 1, 15), month, -1).has_value());
}

TEST(WalkWindows, RollByTheOutOfSampleLengthAndCutTheLastAtTheEnd)
{
    const Period half{6, PeriodUnit::Month}, quarter{3, PeriodUnit::Month};
    const std::vector<WalkWindow> w = WalkWindows(At(2023, 1, 2, 7), At(2024, 5, 15), half, quarter);
    // out-of-sample periods start 2023.07.02, 10.02, 2024.01.02, 04.02
    ASSERT_EQ(w.size(), 4u);
    EXPECT_EQ(w[0].inFrom, At(2023, 1, 2));  // midnight of the first day
    EXPECT_EQ(w[0].inTo, At(2023, 7, 2));
    for (size_t k = 0; k < w.size(); ++k) {
        EXPECT_EQ(w[k].inTo, w[k].outFrom);
        EXPECT_EQ(AddPeriods(w[k].inFrom, half, 1), w[k].inTo);
        if (k + 1 < w.size()) {
            EXPECT_EQ(w[k].outTo, w[k + 1].outFrom);  // no gap, no overlap
            EXPECT_EQ(AddPeriods(w[k].outFrom, quarter, 1), w[k].outTo);
        }
    }
    EXPECT_EQ(w[3].outFrom, At(2024, 4, 2));
    EXPECT_EQ(w[3].outTo, At(2024, 5, 15));  // cut at the end

    EXPECT_THROW(WalkWindows(At(2023, 1, 2), At(2023, 6, 1), half, quarter), TesterError);
    EXPECT_EQ(RangeTexts(At(2024, 4, 2), At(2024, 7, 2)),
              (std::pair<std::string, std::string>{"2024.04.02 00:00", "2024.07.01 23:59"}));
}

TEST(WalkForward, EfficiencyIsOutOfSampleProfitPerYearOverInSample)
{
    EXPECT_DOUBLE_EQ(WalkForwardEfficiency(100.0, 90.0, 400.0, 360.0), 1.0);
    EXPECT_DOUBLE_EQ(WalkForwardEfficiency(-50.0, 90.0, 400.0, 360.0), -0.5);
    EXPECT_DOUBLE_EQ(WalkForwardEfficiency(50.0, 30.0, 100.0, 30.0), 0.5);
    EXPECT_TRUE(std::isnan(WalkForwardEfficiency(100.0, 90.0, 0.0, 360.0)));
    EXPECT_TRUE(std::isnan(WalkForwardEfficiency(100.0, 90.0, -10.0, 360.0)));
}

TEST(Cents, MoneyTextsAreExact)
{
    struct Case {
        const char* text;
        std::optional<int64_t> cents;
    };
    const Case cases[] = {{"12.30", 1230}, {"-0.05", -5}, {"0.00", 0},   {"10000.00", 1000000},
                          {"1.2", {}},     {"1.234", {}}, {"abc", {}},   {"", {}},
                          {".50", {}},     {"1.5x", {}},  {"--1.00", {}}};
    for (const Case& c : cases) {
        EXPECT_EQ(ParseCents(c.text), c.cents) << c.text;
        if (c.cents) EXPECT_EQ(FormatCents(*c.cents), c.text);
    }
    EXPECT_EQ(FormatCents(-123456), "-1234.56");
}

TEST(StitchSeries, MovesEachRunByTheProfitOfTheRunsBefore)
{
    RunRecord a, b;
    a.ok = b.ok = true;
    a.trades = "ticket,symbol,profit,balance,note\n1,EURUSD,50.00,10050.00,\n2,EURUSD,-20.00,10030.00,x\n";
    a.equity =
        "time,balance,equity,equity_low,equity_high,margin,free_margin,positions\n"
        "t1,10000.00,10010.00,9990.00,10020.00,100.00,9910.00,1\nt2,10030.00,10030.00,10030.00,10030.00,0.00,"
        "10030.00,0\n";
    a.report = Json{{"figures", {{"initial_deposit", 10000.0}, {"final_balance", 10030.0}}}};
    b.trades = "ticket,symbol,profit,balance,note\n1,EURUSD,-5.00,9995.00,\n";
    b.equity =
        "time,balance,equity,equity_low,equity_high,margin,free_margin,positions\n"
        "t3,10000.00,9990.00,9980.00,10000.00,50.00,9940.00,1\n";
    b.report = Json{{"figures", {{"initial_deposit", 10000.0}, {"final_balance", 9995.0}}}};
    const StitchedSeries s = StitchSeries({&a, &b});
    EXPECT_EQ(s.trades,
              "ticket,symbol,profit,balance,note\n1,EURUSD,50.00,10050.00,\n2,EURUSD,-20.00,10030.00,x\n"
              "3,EURUSD,-5.00,10025.00,\n");
    EXPECT_EQ(s.equity,
              "time,balance,equity,equity_low,equity_high,margin,free_margin,positions\n"
              "t1,10000.00,10010.00,9990.00,10020.00,100.00,9910.00,1\n"
              "t2,10030.00,10030.00,10030.00,10030.00,0.00,10030.00,0\n"
              "t3,10030.00,10020.00,10010.00,10030.00,50.00,9970.00,1\n");
    EXPECT_EQ(StitchSeries({}).trades, "");
}

}  // namespace
}  // namespace torvik::tester
