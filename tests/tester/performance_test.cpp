// The ratios on days, months and trades, on equity rows and trade lists
// worked out by hand, and the streamed parts (time in the market, the
// histogram's bins) against a plain computation over the whole list.
#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "tester/data/bar_time.h"
#include "tester/report/figures.h"
#include "tester/report/performance.h"

namespace torvik::tester {
namespace {

constexpr int64_t Hour = 3'600'000;
constexpr int64_t Day = MillisecondsPerDay;

int64_t At(int32_t year, int32_t month, int32_t day, int32_t hour = 0)
{
    return static_cast<int64_t>(*ToBarTime(CivilTime{year, month, day, hour, 0, 0})) * 1000;
}

struct Row {
    int64_t timeMs;
    double equity;
};

PerformanceFigures FromRows(double deposit, const std::vector<Row>& rows)
{
    PerformanceAccumulator a(deposit);
    for (const Row& r : rows) a.AddRow(r.timeMs, r.equity);
    return a.Result();
}

TEST(Performance, DailyReturnsTakeEachDaysLastRow)
{
    // Day ends 1100, 990, 1089 against the deposit of 1000: +10 %, -10 %,
    // +10 %. The rows before a day's last do not count; a day without rows
    // (the weekend between) is no day.
    const int64_t friday = At(2024, 3, 1);
    const std::vector<Row> rows = {
        {friday + 1 * Hour, 1050.0}, {friday + 23 * Hour, 1100.0},          // Friday
        {friday + 3 * Day + Hour, 900.0}, {friday + 3 * Day + 5 * Hour, 990.0},  // Monday
        {friday + 4 * Day, 1089.0},                                        // Tuesday
    };
    const PerformanceFigures f = FromRows(1000.0, rows);
    // mean 1/30, sample deviation sqrt(1/75); downside sqrt(0.01 / 3)
    EXPECT_NEAR(f.sharpeAnnual, (1.0 / 30.0) / std::sqrt(1.0 / 75.0) * std::sqrt(252.0), 1e-9);
    EXPECT_NEAR(f.sortinoAnnual, (1.0 / 30.0) / std::sqrt(0.01 / 3.0) * std::sqrt(252.0), 1e-9);
}

TEST(Performance, UndefinedDailyRatios)
{
    const int64_t t = At(2024, 3, 4);
    struct Case {
        const char* name;
        std::vector<Row> rows;
        bool sharpe;
        bool sortino;
        bool cagr;
    };
    const Case cases[] = {
        {"no rows", {}, false, false, false},
        {"shorter than a day", {{t, 1000.0}, {t + 20 * Hour, 1010.0}}, false, false, false},
        {"two days, one return each", {{t, 1010.0}, {t + Day, 1020.0}}, true, false, true},
        {"no losing day", {{t, 1010.0}, {t + Day, 1030.0}, {t + 2 * Day, 1031.0}}, true, false, true},
        {"flat", {{t, 1000.0}, {t + Day, 1000.0}, {t + 2 * Day, 1000.0}}, false, false, true},
        {"losing days", {{t, 990.0}, {t + Day, 1000.0}, {t + 2 * Day, 995.0}}, true, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const PerformanceFigures f = FromRows(1000.0, c.rows);
        EXPECT_EQ(std::isfinite(f.sharpeAnnual), c.sharpe);
        EXPECT_EQ(std::isfinite(f.sortinoAnnual), c.sortino);
        EXPECT_EQ(std::isfinite(f.cagrPercent), c.cagr);
    }
}

TEST(Performance, CompoundAnnualGrowth)
{
    const int64_t t = At(2020, 1, 1);
    const int64_t twoYears = 1461 * Day / 2;  // 2 x 365.25 days
    struct Case {
        const char* name;
        double last;
        double percent;
    };
    const Case cases[] = {
        {"21 % in two years", 1210.0, 10.0},
        {"a loss", 810.0, -10.0},
        {"nothing gained", 1000.0, 0.0},
        {"nothing left", -5.0, -100.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const PerformanceFigures f = FromRows(1000.0, {{t, 1000.0}, {t + twoYears, c.last}});
        EXPECT_NEAR(f.cagrPercent, c.percent, 1e-9);
    }
}

TEST(Performance, MonthlyReturnsFromMonthEnds)
{
    // Jan ends at 1100 (+10 % on the deposit), Feb 1210 (+10 %), no row in
    // March, April 1089 (-10 % on February's end); the next year's January
    // 1197.9 (+10 %), every other month of that year empty.
    const std::vector<Row> rows = {
        {At(2023, 1, 5), 1050.0}, {At(2023, 1, 31, 23), 1100.0}, {At(2023, 2, 10), 1210.0},
        {At(2023, 4, 3), 1089.0}, {At(2024, 1, 2), 1197.9},
    };
    const PerformanceFigures f = FromRows(1000.0, rows);
    ASSERT_EQ(f.monthly.years, (std::vector<int32_t>{2023, 2024}));
    const auto& y23 = f.monthly.percent[0];
    const auto& y24 = f.monthly.percent[1];
    EXPECT_NEAR(*y23[0], 10.0, 1e-9);
    EXPECT_NEAR(*y23[1], 10.0, 1e-9);
    EXPECT_FALSE(y23[2].has_value());
    EXPECT_NEAR(*y23[3], -10.0, 1e-9);
    for (size_t m = 4; m < 12; ++m) EXPECT_FALSE(y23[m].has_value()) << m;
    EXPECT_NEAR(*y24[0], 10.0, 1e-9);
    for (size_t m = 1; m < 12; ++m) EXPECT_FALSE(y24[m].has_value()) << m;
}

// ---- time in the market

struct Span {
    int64_t open;
    int64_t close;
};

// The union of the spans, the plain way.
int64_t UnionLength(std::vector<Span> spans)
{
    std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.open < b.open; });
    int64_t total = 0, from = 0, to = 0;
    bool any = false;
    for (const Span& s : spans) {
        if (!any || s.open > to) {
            if (any) total += to - from;
            from = s.open;
            to = s.close;
            any = true;
        } else {
            to = std::max(to, s.close);
        }
    }
    return any ? total + to - from : 0;
}

// Feeds spans in closing order with the earliest open of those still open.
int64_t Tracked(std::vector<Span> spans)
{
    std::stable_sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.close < b.close; });
    ExposureTracker tracker;
    for (size_t i = 0; i < spans.size(); ++i) {
        int64_t since = ExposureTracker::NoneOpen;
        for (size_t j = i + 1; j < spans.size(); ++j) {
            if (spans[j].open <= spans[i].close) since = std::min(since, spans[j].open);
        }
        tracker.Add(spans[i].open, spans[i].close, since);
    }
    return tracker.CoveredMs();
}

TEST(Exposure, UnionOfTheTradesSpans)
{
    struct Case {
        const char* name;
        std::vector<Span> spans;
        int64_t covered;
    };
    const Case cases[] = {
        {"none", {}, 0},
        {"disjoint", {{0, 10}, {20, 25}}, 15},
        {"overlapping", {{0, 10}, {5, 15}}, 15},
        {"touching", {{0, 10}, {10, 20}}, 20},
        {"nested in a long one", {{0, 100}, {10, 20}, {30, 40}}, 100},
        {"long one closes first", {{0, 50}, {40, 60}, {70, 80}}, 70},
        {"opened and closed at once", {{5, 5}, {7, 9}}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Tracked(c.spans), c.covered);
        EXPECT_EQ(UnionLength(c.spans), c.covered);
    }
}

TEST(Exposure, StreamedUnionMatchesThePlainOne)
{
    std::mt19937_64 random(20240611);
    for (int trial = 0; trial < 300; ++trial) {
        std::vector<Span> spans;
        int64_t now = 0;
        const int count = static_cast<int>(random() % 40);
        for (int i = 0; i < count; ++i) {
            now += static_cast<int64_t>(random() % 50);
            const int64_t length = random() % 7 == 0 ? static_cast<int64_t>(random() % 2000)
                                                     : static_cast<int64_t>(random() % 30);
            spans.push_back(Span{now, now + length});
        }
        SCOPED_TRACE(trial);
        EXPECT_EQ(Tracked(spans), UnionLength(spans));
    }
}

// ---- the histogram

TEST(Histogram, SturgesBinsAndTheirWidth)
{
    const std::pair<int64_t, int64_t> bins[] = {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 3}, {5, 4}, {10000, 15}, {16384, 15}};
    for (const auto& [trades, expected] : bins) EXPECT_EQ(HistogramBins(trades), expected) << trades;

    struct Case {
        int64_t low, high, bins, width;
    };
    const Case widths[] = {
        {0, 0, 1, 1},             // one value: one bin of a cent
        {-150, 250, 4, 200},      // 100 gives -200..300: 5 bins; 200 gives -200..400: 3
        {-150, 250, 5, 100},
        {1, 9, 10, 1},
        {-1, 1, 2, 2},            // -2..0, 0..2
        {-99999, 100000, 15, 20000},
        {123456, 123456, 1, 1},
    };
    for (const Case& c : widths) {
        SCOPED_TRACE(testing::Message() << c.low << " " << c.high << " " << c.bins);
        EXPECT_EQ(HistogramWidthCents(c.low, c.high, c.bins), c.width);
    }
}

TEST(Histogram, StreamedBinsHoldEveryTradeWhereThePlainRuleSays)
{
    std::mt19937_64 random(7);
    for (int trial = 0; trial < 60; ++trial) {
        // Ranges from a few cents to millions, skewed, to make the fine
        // count coarsen at every step of its widths.
        const int count = 1 + static_cast<int>(random() % 3000);
        const double scale = std::pow(10.0, static_cast<double>(random() % 9)) / 100.0;
        std::vector<int64_t> cents;
        ProfitBins bins;
        for (int i = 0; i < count; ++i) {
            std::normal_distribution<double> normal(scale * 0.2, scale);
            const double profit = std::round(normal(random) * 100.0) / 100.0;
            bins.Add(profit);
            cents.push_back(std::llround(profit * 100.0));
        }
        const TradeHistogram h = bins.Result();
        const auto [low, high] = std::minmax_element(cents.begin(), cents.end());
        const int64_t width = HistogramWidthCents(*low, *high, HistogramBins(count));
        SCOPED_TRACE(testing::Message() << "trial " << trial << ", width " << width);
        ASSERT_EQ(h.edges.size(), h.counts.size() + 1);
        ASSERT_LE(static_cast<int64_t>(h.counts.size()), HistogramBins(count));
        std::vector<uint64_t> expected(h.counts.size(), 0);
        for (const int64_t c : cents) {
            const auto bin = static_cast<size_t>(std::floor(static_cast<double>(c) / static_cast<double>(width)) -
                                                 std::floor(static_cast<double>(*low) / static_cast<double>(width)));
            ASSERT_LT(bin, expected.size());
            ++expected[bin];
        }
        EXPECT_EQ(h.counts, expected);
        EXPECT_NEAR(h.edges[1] - h.edges[0], static_cast<double>(width) / 100.0, 1e-9);
        EXPECT_LE(h.edges.front(), static_cast<double>(*low) / 100.0);
        EXPECT_GT(h.edges.back(), static_cast<double>(*high) / 100.0);
    }
}

// ---- the trades' figures, and those that need the drawdowns

Trade MakeTrade(int32_t ticket, double profit, double balance, int64_t openMs, int64_t closeMs, double mae, double mfe)
{
    Trade t{};
    t.ticket = ticket;
    t.side = Side::Buy;
    t.profit = profit;
    t.balance = balance;
    t.openTimeMs = openMs;
    t.closeTimeMs = closeMs;
    t.adverse = mae;
    t.favourable = mfe;
    return t;
}

TEST(Performance, TradeFiguresAndRatiosOnTheDrawdown)
{
    const int64_t t = At(2024, 1, 1);
    FigureAccumulator a(1000.0);
    // +30, -10, +40: mean 20, sample deviation sqrt(700); held 1 h, 3 h,
    // 2 h 30 s (an average of 2 h 10 s); the last two overlap by an hour.
    a.AddTrade(MakeTrade(1, 30.0, 1030.0, t, t + Hour, -4.004, 35.0));
    a.AddTrade(MakeTrade(2, -10.0, 1020.0, t + 2 * Hour, t + 5 * Hour, -12.0, 3.0), t + 4 * Hour);
    a.AddTrade(MakeTrade(3, 40.0, 1060.0, t + 4 * Hour, t + 6 * Hour + 30'000, -1.0, 41.0));
    // Equity over the test: up to 1100, down to 990 (a fall of 10 %), 1060 at the end.
    for (const auto& [ms, equity] : std::vector<std::pair<int64_t, double>>{
             {t, 1000.0}, {t + Hour, 1100.0}, {t + 3 * Hour, 990.0}, {t + 10 * Hour, 1060.0}}) {
        a.AddEquity(static_cast<uint32_t>(ms / 1000), equity);
        a.AddEquityRow(ms, equity);
    }
    const Figures f = a.Result();
    EXPECT_NEAR(f.sqn, std::sqrt(3.0) * 20.0 / std::sqrt(700.0), 1e-12);
    EXPECT_EQ(f.averageHoldingSeconds, 2u * 3600u + 10u);
    // In the market 1 h + (2 h to 6 h 30 s) of 10 h.
    EXPECT_NEAR(f.exposurePercent, (1.0 + 4.0 + 30.0 / 3600.0) / 10.0 * 100.0, 1e-9);
    EXPECT_NEAR(f.averageMae, (-4.0 - 12.0 - 1.0) / 3.0, 1e-12);  // on cents, as trades.csv holds them
    EXPECT_NEAR(f.averageMfe, (35.0 + 3.0 + 41.0) / 3.0, 1e-12);
    EXPECT_DOUBLE_EQ(f.worstMae, -12.0);
    EXPECT_DOUBLE_EQ(f.bestMfe, 41.0);
    EXPECT_DOUBLE_EQ(f.recoveryFactor, 60.0 / 110.0);
    EXPECT_TRUE(std::isnan(f.cagrPercent));  // under a day
    EXPECT_TRUE(std::isnan(f.calmarRatio));
    // Three trades, three bins at most: 20 would need -20 to 60 (four), 50 takes two.
    EXPECT_EQ(f.histogram.counts, (std::vector<uint64_t>{1, 2}));
    EXPECT_EQ(f.histogram.edges, (std::vector<double>{-50.0, 0.0, 50.0}));
}

TEST(Performance, NoTradesAndNoFall)
{
    FigureAccumulator a(1000.0);
    const int64_t t = At(2024, 1, 1);
    a.AddEquityRow(t, 1000.0);
    a.AddEquityRow(t + 400 * Day, 1000.0);
    a.AddEquity(static_cast<uint32_t>(t / 1000), 1000.0);
    const Figures f = a.Result();
    EXPECT_TRUE(std::isnan(f.sqn));
    EXPECT_TRUE(std::isnan(f.recoveryFactor));
    EXPECT_TRUE(std::isnan(f.calmarRatio));
    EXPECT_TRUE(std::isnan(f.averageMae));
    EXPECT_DOUBLE_EQ(f.cagrPercent, 0.0);
    EXPECT_DOUBLE_EQ(f.exposurePercent, 0.0);
    EXPECT_EQ(f.averageHoldingSeconds, 0u);
    EXPECT_TRUE(f.histogram.counts.empty());
    EXPECT_TRUE(f.histogram.edges.empty());
}

}  // namespace
}  // namespace torvik::tester
