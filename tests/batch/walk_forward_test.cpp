// Walk-forward: calendar periods, the rolling windows, the efficiency, the
// out-of-sample history joined from its runs, and a whole walk-forward on
// hand-made bars where the best inputs of each window can be worked out.
#include <algorithm>
#include <cmath>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "test_paths.h"
#include "tester/batch/batch.h"
#include "tester/batch/split.h"
#include "tester/batch/summary.h"
#include "tester/data/bar_time.h"
#include "tester/data/error.h"

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

// ---- a whole walk-forward on hand-made bars

// The expert in one rule: it holds one position in the direction the pip
// mode names (1 buys, 2 sells), closing and opening again at every bar. A
// run's net profit is then the move of the open price from its first to
// its last bar of the test, in the chosen direction.
class Trend : public LibraryBinding {
public:
    int32_t Rft(int32_t, const BarRecord*, double, double, int32_t, double, double openPrice, int32_t,
                int32_t pipMode) override
    {
        pipMode_ = pipMode;
        open_ = openPrice != 0.0;
        return 0;
    }
    int32_t IniAll(const char*, const char*) override { return 0; }
    double Lot(double, double, double, double, double, double, int32_t, double, double, int32_t, const char*) override
    {
        return 0.1;
    }
    int32_t OpenSignal() override { return pipMode_ == 1 ? 1 : 2; }
    int32_t CloseSignal() override { return open_ ? (pipMode_ == 1 ? 1 : 2) : 0; }
    int32_t Reset() override { return 0; }
    const char* ErrorDescription(int32_t) override { return "refused"; }
    double TakeProfit() override { return 0.0; }
    double StopLoss() override { return 0.0; }
    double PipSize() override { return 0.0001; }
    int32_t Dsp() override { return 0; }
    int32_t DcloseSp() override { return 0; }
    int32_t Hhh1() override { return 0; }
    int32_t Hhh2() override { return 0; }

private:
    int32_t pipMode_ = 0;
    bool open_ = false;
};

// Hourly bars from 2024.01.01 for 30 days; the price climbs 10 pips an hour
// for five days, falls for five, and so on.
std::string TrendBars(std::vector<std::pair<uint32_t, double>>& opens)
{
    std::string csv = "time,open,high,low,close,volume\n";
    constexpr int32_t Hours = 30 * 24, LegHours = 5 * 24;
    double price = 1.20000;
    for (int32_t h = 0; h < Hours; ++h) {
        const double next = price + ((h / LegHours) % 2 == 0 ? 0.001 : -0.001);
        const uint32_t t = At(2024, 1, 1) + static_cast<uint32_t>(h) * 3600u;
        opens.emplace_back(t, std::round(price * 1e5) / 1e5);  // as written in the file
        csv += fmt::format("{},{:.5f},{:.5f},{:.5f},{:.5f},10\n", FormatBarTime(t), price, std::max(price, next),
                           std::min(price, next), next);
        price = next;
    }
    return csv;
}

// What the rule earns over [from, to) for one direction: the chart bars of
// the test are those from the window's 98th bar on.
double RuleProfit(const std::vector<std::pair<uint32_t, double>>& opens, uint32_t from, uint32_t to, int direction)
{
    double first = 0.0, last = 0.0;
    bool any = false;
    for (size_t i = MinWindow - 1; i < opens.size(); ++i) {
        if (opens[i].first < from || opens[i].first >= to) continue;
        if (!any) first = opens[i].second;
        last = opens[i].second;
        any = true;
    }
    return std::round(direction * (last - first) * 0.1 * 100000.0 * 100.0) / 100.0;  // lots x contract, in cents
}

TEST(WalkForward, ChoosesEachWindowsBestInputsAndRunsThemOnTheNextPeriod)
{
    const std::filesystem::path dir = testing::ScratchFolder();
    std::vector<std::pair<uint32_t, double>> opens;
    testing::WriteAll(dir / "TREND_H1.csv", TrendBars(opens));

    BatchSettings s;
    AddToPlan(s.plan, "bars", (dir / "TREND_H1.csv").string());
    AddToPlan(s.plan, "symbol", "EURUSD");
    AddToPlan(s.plan, "spread", "0");
    AddToPlan(s.plan, "window", "98");
    AddToPlan(s.plan, "max-positions", "1");
    AddToPlan(s.plan, "pip-mode", "1,2");  // buy or sell: the input the search chooses
    s.walkForward = WalkForwardSettings{*ParsePeriod("6d"), *ParsePeriod("3d")};
    s.criterion = Criterion::Balance;
    BatchHooks hooks;
    hooks.jobs = 2;
    hooks.bindings = [](Signals) { return std::make_unique<Trend>(); };
    BatchFolder folder(dir / "batch", BatchIdentity(s), false);
    const BatchOutcome o = RunBatch(s, &folder, hooks);

    ASSERT_EQ(o.walkForward.size(), 1u);
    const std::vector<WalkForwardWindow>& windows = o.walkForward[0].windows;
    ASSERT_EQ(windows.size(), 8u);  // out-of-sample from the 7th, every 3 days to the 30th
    std::set<std::string> chosenModes;
    int64_t outCents = 0;
    for (size_t w = 0; w < windows.size(); ++w) {
        SCOPED_TRACE(w);
        const WalkWindow& p = windows[w].period;
        const double buy = RuleProfit(opens, p.inFrom, p.inTo, 1);
        const std::string expected = buy >= 0.0 ? "1" : "2";  // a tie goes to the first value
        ASSERT_TRUE(windows[w].chosen.has_value());
        const RunRecord* chosen = o.Find(*windows[w].chosen);
        ASSERT_NE(chosen, nullptr);
        EXPECT_EQ(*chosen->request.Option("pip-mode"), expected);
        EXPECT_EQ(*chosen->request.Option("from"), RangeTexts(p.inFrom, p.inTo).first);
        EXPECT_NEAR(chosen->Figure("total_net_profit"), std::fabs(buy), 0.02);
        chosenModes.insert(expected);

        ASSERT_TRUE(windows[w].outOfSample.has_value());
        const RunRecord* out = o.Find(*windows[w].outOfSample);
        ASSERT_TRUE(out != nullptr && out->ok);
        EXPECT_TRUE(out->request.outOfSample);
        EXPECT_EQ(*out->request.Option("pip-mode"), expected);
        EXPECT_EQ(*out->request.Option("from"), RangeTexts(p.outFrom, p.outTo).first);
        EXPECT_EQ(*out->request.Option("to"), RangeTexts(p.outFrom, p.outTo).second);
        EXPECT_NEAR(out->Figure("total_net_profit"), RuleProfit(opens, p.outFrom, p.outTo, expected == "1" ? 1 : -1),
                    0.02);
        outCents += std::llround(out->Figure("total_net_profit") * 100.0);
    }
    EXPECT_EQ(chosenModes.size(), 2u) << "the hand-made trends should make both choices";

    // The summary: every window, the joined out-of-sample trades whose
    // balance ends at the deposit plus every out-of-sample profit.
    const Json summary = SummaryJson(s, o);
    const Json& wf = summary["walk_forward"][0];
    EXPECT_EQ(wf["windows"].size(), 8u);
    EXPECT_NEAR(wf["out_of_sample_net_profit"].get<double>(), static_cast<double>(outCents) / 100.0, 1e-6);
    for (const SummaryFile& f : SummaryFiles(s, o, summary)) {
        if (f.name.ends_with("trades.csv")) {
            // the balance column of the last trade
            const std::string header = f.text.substr(0, f.text.find('\n'));
            const std::string last = f.text.substr(f.text.rfind('\n', f.text.size() - 2) + 1);
            const std::vector<std::string_view> names = SplitText(header, ',');
            const size_t balance =
                static_cast<size_t>(std::find(names.begin(), names.end(), "balance") - names.begin());
            ASSERT_LT(balance, names.size());
            EXPECT_EQ(SplitText(last, ',').at(balance), FormatCents(1000000 + outCents));
        }
    }
    // Run again: everything is in the folder, nothing is made twice.
    const BatchOutcome again = RunBatch(s, &folder, hooks);
    EXPECT_EQ(again.ran, 0u);
    EXPECT_EQ(SummaryCsv(SummaryJson(s, again)), SummaryCsv(SummaryJson(s, o)));
}

}  // namespace
}  // namespace torvik::tester
