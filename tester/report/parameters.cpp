// The run's inputs as the report lists them: every option of the run's
// table, so that an option added to the table is listed without more code,
// with what the data told around them.
#include <algorithm>
#include <map>
#include <string_view>

#include <fmt/format.h>

#include "tester/data/bar_time.h"
#include "tester/data/instruments.h"
#include "tester/report/report_parts.h"
#include "tester/run/options.h"

namespace torvik::tester {

namespace {

constexpr const char* OtherGroup = "Other inputs";
constexpr const char* GroupOrder[] = {"Data", "Symbol", "Model", "Account and costs", "Sizing", OtherGroup};

// Where an option is listed; an option not named here goes to "Other inputs".
const std::map<std::string_view, const char*>& OptionGroups()
{
    static const std::map<std::string_view, const char*> groups = {
        {"bars", "Data"},          {"timeframe", "Data"},       {"from", "Data"},
        {"to", "Data"},            {"equity", "Data"},          {"symbol", "Symbol"},
        {"symbols", "Symbol"},     {"digits", "Symbol"},        {"pip-mode", "Symbol"},
        {"contract-size", "Symbol"}, {"base", "Symbol"},        {"quote", "Symbol"},
        {"conversion-rate", "Symbol"}, {"margin-currency", "Symbol"}, {"margin-mode", "Symbol"},
        {"max-leverage", "Symbol"}, {"stop-level", "Symbol"},   {"freeze-level", "Symbol"},
        {"stops-too-close", "Symbol"},
        {"model", "Model"},        {"decide", "Model"},         {"window", "Model"},
        {"deposit", "Account and costs"}, {"currency", "Account and costs"},
        {"leverage", "Account and costs"}, {"stop-out", "Account and costs"},
        {"spread", "Account and costs"},  {"costs", "Account and costs"},
        {"commission", "Account and costs"}, {"commission-per", "Account and costs"},
        {"swap-long", "Account and costs"}, {"swap-short", "Account and costs"},
        {"swap-unit", "Account and costs"}, {"rollover-hour", "Account and costs"},
        {"triple-day", "Account and costs"}, {"slippage", "Account and costs"},
        {"seed", "Account and costs"},
        {"max-positions", "Sizing"}, {"fixed-lot", "Sizing"},   {"risk", "Sizing"},
        {"risk-multiplier", "Sizing"}, {"min-lot", "Sizing"},   {"max-lot", "Sizing"},
        {"lot-step", "Sizing"},    {"risk-split", "Sizing"},
    };
    return groups;
}

// Options that do not change the test: where the report goes, the console,
// and the form of the decisions, which must trade exactly alike.
bool ChangesNothing(std::string_view name) { return name == "report" || name == "quiet" || name == "signals"; }

// What one chart's settings made of an option without a fixed default,
// when not given; empty when the option is not one a chart resolves.
std::string ResolvedForChart(std::string_view name, const TestRun& run, size_t c)
{
    const TestSettings& s = run.ChartSettings(c);
    const FileInfo& info = c < run.charts.size() ? run.charts[c].info : run.info;
    const std::string table = fmt::format(" (from the {})", s.instrumentSource);
    if (name == "symbol") return s.symbol + " (from the file name)";
    if (name == "timeframe") {
        const uint32_t tf = s.timeframeSeconds != 0 ? s.timeframeSeconds : info.timeframeSeconds;
        return TimeframeName(tf) + (info.IsTicks() ? " (for ticks)" : " (the file's)");
    }
    if (name == "model") return std::string(ModelName(s.model)) + " (for this data and chart)";
    if (name == "digits") return fmt::format("{} (from the file)", s.digits);
    if (name == "pip-mode") return fmt::format("{} (from the digits)", s.pipMode);
    if (name == "spread") return fmt::format("the data's where it has one, else {} points", s.spreadPoints);
    if (name == "base") return s.base.empty() ? std::string("none") : s.base;
    if (name == "quote") return s.profitCurrency.empty() ? std::string("none") : s.profitCurrency;
    if (name == "contract-size") return fmt::format("{}", s.contractSize) + table;
    if (name == "margin-currency") return s.marginCurrency.empty() ? std::string("none") : s.marginCurrency + table;
    if (name == "margin-mode") return std::string(MarginModeName(s.marginMode)) + table;
    if (name == "max-leverage") return s.maxLeverage == 0 ? std::string("the account's") : fmt::format("1:{}", s.maxLeverage) + table;
    if (name == "stop-level") return fmt::format("{} points", s.stopLevel) + table;
    if (name == "freeze-level") return fmt::format("{} points", s.freezeLevel) + table;
    if (name == "min-lot") return fmt::format("{}", s.minLot) + table;
    if (name == "max-lot") return fmt::format("{}", s.maxLot) + table;
    if (name == "lot-step") return fmt::format("{}", s.lotStep) + table;
    if (name == "risk") return fmt::format("{}", s.riskPercent) + table;
    if (name == "commission") return fmt::format("{} {} per lot", s.commission, s.currency);
    if (name == "commission-per") return CommissionPerName(s.commissionPer);
    if (name == "swap-long") return fmt::format("{} {}", s.swapLong, SwapUnitName(s.swapUnit));
    if (name == "swap-short") return fmt::format("{} {}", s.swapShort, SwapUnitName(s.swapUnit));
    if (name == "swap-unit") return SwapUnitName(s.swapUnit);
    if (name == "triple-day") return WeekdayName(s.tripleDay);
    return {};
}

// What the data made of an option without a fixed default, when not given:
// per chart when the run has several and they differ.
std::string Resolved(std::string_view name, const TestRun& run)
{
    if (name == "from") return "the first bar with a full window";
    if (name == "to") return "the end of the data";
    const size_t charts = std::max<size_t>(1, run.charts.size());
    std::string first = ResolvedForChart(name, run, 0);
    if (first.empty()) return "none";
    bool same = true;
    for (size_t c = 1; c < charts; ++c) same = same && ResolvedForChart(name, run, c) == first;
    if (same) return first;
    std::string text;
    for (size_t c = 0; c < charts; ++c) {
        text += fmt::format("{}{}: {}", c == 0 ? "" : "; ", run.ChartSettings(c).symbol, ResolvedForChart(name, run, c));
    }
    return text;
}

}  // namespace

std::vector<TextGroup> ParameterGroups(const TestRun& run)
{
    const TestSettings& s = run.settings;
    const RunOutcome& r = run.outcome;
    std::vector<TextGroup> groups;
    for (const char* name : GroupOrder) groups.push_back(TextGroup{name, {}});
    const auto rows = [&groups](std::string_view group) -> std::vector<std::pair<std::string, std::string>>& {
        for (TextGroup& g : groups) {
            if (g.group == group) return g.rows;
        }
        return groups.back().rows;
    };

    for (const OptionEntry& o : RunOptions()) {
        if (ChangesNothing(o.name)) continue;
        const auto group = OptionGroups().find(o.name);
        std::string text;
        if (const auto given = run.given.find(o.name); given != run.given.end()) {
            text = given->second;
        } else if (o.defaultText != nullptr) {
            text = std::string(o.defaultText) + " (default)";
        } else {
            text = Resolved(o.name, run);
        }
        rows(group == OptionGroups().end() ? OtherGroup : group->second)
            .emplace_back(std::string("--") + o.name, std::move(text));
    }

    // What the data and the run told.
    rows("Data").emplace_back("Format", FormatName(run.info.format));
    rows("Data").emplace_back("Rows in the file", fmt::format("{}", run.info.rows));
    rows("Data").emplace_back("File timeframe",
                              run.info.IsTicks() ? std::string("ticks") : TimeframeName(run.info.timeframeSeconds));
    rows("Data").emplace_back("Tested chart bars", fmt::format("{} - {} ({} bars)", FormatBarTime(r.firstBarTime),
                                                              FormatBarTime(r.lastBarTime), r.quality.chartBars));
    rows("Symbol").emplace_back("Point", Price(s.point, s.digits));
    rows("Symbol").emplace_back("Profit conversion",
                                s.conversion == Conversion::FixedRate
                                    ? fmt::format("{} at {}", ConversionName(s.conversion), s.conversionRate)
                                    : std::string(ConversionName(s.conversion)));
    rows("Model").emplace_back("Modelling quality", QualityText(run));

    std::erase_if(groups, [](const TextGroup& g) { return g.rows.empty(); });
    return groups;
}

}  // namespace torvik::tester
