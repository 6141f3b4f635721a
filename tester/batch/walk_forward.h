// Walk-forward: rolling in-sample periods in which a search picks the best
// inputs, each followed by an out-of-sample period in which those inputs
// run. The out-of-sample periods follow one another without gap or overlap,
// so their trades and equity join into one history.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tester/batch/record.h"

namespace torvik::tester {

enum class PeriodUnit { Day, Week, Month, Year };

// A length of calendar time: "30d", "2w", "3mo", "1y". Months and years are
// calendar months (the day of the month kept, or the month's last day).
struct Period {
    int64_t count = 0;
    PeriodUnit unit = PeriodUnit::Month;
};
std::optional<Period> ParsePeriod(std::string_view text);
std::string PeriodText(const Period& p);
// `time` moved by k periods (k may be negative); nothing outside the years
// bar times can hold.
std::optional<uint32_t> AddPeriods(uint32_t time, const Period& p, int64_t k);

// One window; times in seconds, each period [from, to).
struct WalkWindow {
    uint32_t inFrom = 0;
    uint32_t inTo = 0;
    uint32_t outFrom = 0;
    uint32_t outTo = 0;
};

// The windows over the test range [first, end): the first in-sample period
// starts at midnight of the first day; each window's out-of-sample period
// starts where its in-sample period ends, and the next window starts one
// out-of-sample length later. The last out-of-sample period is cut at the
// end. Throws TesterError when not one window fits.
std::vector<WalkWindow> WalkWindows(uint32_t first, uint32_t end, const Period& in, const Period& out);

// The texts of --from and --to that make a run test the chart bars of
// [from, to).
std::pair<std::string, std::string> RangeTexts(uint32_t from, uint32_t to);

// Walk-forward efficiency: the out-of-sample net profit per year over the
// in-sample net profit per year; NaN unless the in-sample profit is above 0.
double WalkForwardEfficiency(double outNetProfit, double outDays, double inNetProfit, double inDays);

// The out-of-sample runs' trades.csv and equity.csv joined in order: each
// run starts from the deposit, so its balance and equity columns are moved
// by the net profit of the runs before it, and tickets are numbered anew.
struct StitchedSeries {
    std::string trades;
    std::string equity;
};
StitchedSeries StitchSeries(const std::vector<const RunRecord*>& runs);

// Money as written in the reports ("-12.30") in cents, and back.
std::optional<int64_t> ParseCents(std::string_view text);
std::string FormatCents(int64_t cents);

}  // namespace torvik::tester
