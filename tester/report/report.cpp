#include "tester/report/report.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <cmath>
#include <map>
#include <vector>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "tester/data/bar_time.h"
#include "tester/report/page_data.h"
#include "tester/report/report_parts.h"

namespace torvik::tester {

namespace {

namespace fs = std::filesystem;

const char* const ReportFiles[] = {"report.json", "trades.csv", "equity.csv", "report.html"};
// The chart bars of the test, for the page; removed when the report is complete.
const char* const ChartBarsFile = "chart-bars.bin";

std::string Percent(int32_t part, int32_t whole)
{
    return whole > 0 ? fmt::format("{:.2f}%", 100.0 * part / whole) : std::string("0.00%");
}

std::string Share(uint64_t part, uint64_t whole)
{
    return whole > 0 ? fmt::format("{:.2f}%", 100.0 * static_cast<double>(part) / static_cast<double>(whole))
                     : std::string("0.00%");
}

std::string LevelOrEmpty(double price, int32_t digits);

// The decimals of a lot step (0.01 gives 2).
int32_t StepDigits(double step)
{
    for (int32_t d = 0; d < 8; ++d) {
        const double scaled = step * std::pow(10.0, d);
        if (std::fabs(scaled - std::round(scaled)) < 1e-9) return d;
    }
    return 8;
}

}  // namespace

// Money as shown: two decimals, never "-0.00".
double Cents(double money)
{
    const double c = std::round(money * 100.0) / 100.0;
    return c == 0.0 ? 0.0 : c;
}

std::string Money(double money) { return fmt::format("{:.2f}", Cents(money)); }

std::string Ratio(double x) { return std::isfinite(x) ? fmt::format("{:.2f}", x) : std::string("n/a"); }

std::string Price(double price, int32_t digits) { return fmt::format("{:.{}f}", price, digits); }

namespace {
std::string LevelOrEmpty(double price, int32_t digits) { return price > 0.0 ? Price(price, digits) : std::string(); }
}  // namespace

std::string Lots(const TestSettings& s, double lots) { return fmt::format("{:.{}f}", lots, StepDigits(s.lotStep)); }

const char* ModelDescription(Model m)
{
    switch (m) {
    case Model::Open: return "open prices: one tick per chart bar, the rest of the bar checked against its range";
    case Model::Ohlc: return "four generated ticks per chart bar: open, nearer extreme, other extreme, close";
    case Model::Lower: return "four ticks from every lower-timeframe bar: open, nearer extreme, other extreme, close";
    case Model::Ticks: return "every real tick with its own bid and ask";
    }
    return "?";
}

const char* CadenceDescription(Cadence c)
{
    return c == Cadence::Bar ? "once per chart bar, at its first tick" : "on every modelled tick";
}

const char* ConversionName(Conversion c)
{
    switch (c) {
    case Conversion::Direct: return "direct";
    case Conversion::DivideByPrice: return "divide-by-price";
    case Conversion::FixedRate: return "fixed-rate";
    case Conversion::Chart: return "chart";
    }
    return "?";
}

// A ratio that may be undefined: null in JSON.
Json Defined(double x) { return std::isfinite(x) ? Json(x) : Json(nullptr); }

double Round(double x, int32_t decimals)
{
    const double scale = std::pow(10.0, decimals);
    const double r = std::round(x * scale) / scale;
    return r == 0.0 ? 0.0 : r;
}

std::string QualityText(const TestRun& run)
{
    const ModellingQuality& q = run.outcome.quality;
    if (q.source.empty()) return fmt::format("no real intrabar path: {} ({} chart bars)", ModelName(run.settings.model), q.chartBars);
    std::string text = fmt::format("{} of {} chart bars ({}) with a real path from {}", q.realPath, q.chartBars,
                                   Share(q.realPath, q.chartBars), q.source);
    if (q.withHoles > 0) text += fmt::format(", {} of them with holes", q.withHoles);
    if (q.fellBack > 0) text += fmt::format("; {} fell back to the generated four-tick path", q.fellBack);
    return text;
}

namespace {

std::string InstrumentText(const TestSettings& s)
{
    std::string text = fmt::format("{}; contract {}, lots {} to {} by {}, stop level {}, freeze level {}",
                                   s.instrumentSource, s.contractSize, s.minLot, s.maxLot, s.lotStep, s.stopLevel,
                                   s.freezeLevel);
    if (!s.overridden.empty()) {
        text += "; given:";
        for (const std::string& o : s.overridden) text += " --" + o;
    }
    return text;
}

std::string CostsText(const TestSettings& s)
{
    const auto swap = [&](double rate) {
        return s.swapUnit == SwapUnit::Points ? fmt::format("{} points", rate) : fmt::format("{} {}", rate, s.currency);
    };
    std::string slippage = s.slippageMin == s.slippageMax
                               ? fmt::format("{} points", s.slippageMin)
                               : fmt::format("{} to {} points (seed {})", s.slippageMin, s.slippageMax, s.seed);
    return fmt::format("commission {} {} per lot {}, swap long {} short {} per lot at {:02}:00 (triple on {}), "
                       "slippage {}",
                       s.commission, s.currency, CommissionPerName(s.commissionPer), swap(s.swapLong),
                       swap(s.swapShort), s.rolloverHour, WeekdayName(s.tripleDay), slippage);
}


// A ratio or money figure that may be undefined.
std::string MoneyOrNa(double x) { return std::isfinite(x) ? Money(x) : std::string("n/a"); }
std::string PercentOrNa(double x) { return std::isfinite(x) ? fmt::format("{:.2f}%", x) : std::string("n/a"); }

// The labelled figures, in the order a trader reads them, under headings.
std::vector<TextGroup> FigureList(const TestRun& run)
{
    const TestSettings& s = run.settings;
    const Figures& f = run.outcome.figures;
    const RunOutcome& r = run.outcome;
    std::vector<TextGroup> groups;
    const auto group = [&groups](std::string name) { groups.push_back(TextGroup{std::move(name), {}}); };
    const auto add = [&groups](std::string label, std::string value) {
        groups.back().rows.emplace_back(std::move(label), std::move(value));
    };
    group("Test");
    if (run.charts.size() > 1) {
        std::string symbols;
        for (size_t c = 0; c < run.charts.size(); ++c) {
            const TestSettings& x = run.ChartSettings(c);
            const uint32_t tf = x.timeframeSeconds != 0 ? x.timeframeSeconds : run.charts[c].info.timeframeSeconds;
            symbols += fmt::format("{}{} ({}, {} digits)", c == 0 ? "" : ", ", x.symbol, TimeframeName(tf), x.digits);
        }
        add("Symbols", symbols);
    } else {
        add("Symbol", fmt::format("{} ({}), {} digits, point {}", s.symbol, TimeframeName(ChartTimeframe(run)), s.digits,
                              Price(s.point, s.digits)));
    }
    add("Data", fmt::format("{} ({}, {})", run.dataFile, FormatName(run.info.format),
                            run.info.IsTicks() ? std::string("ticks") : TimeframeName(run.info.timeframeSeconds)));
    add("Period", fmt::format("{} - {}", FormatBarTime(r.firstBarTime), FormatBarTime(r.lastBarTime)));
    add("Model", fmt::format("{}: {}", ModelName(s.model), ModelDescription(s.model)));
    add("Expert decides", fmt::format("{}: {}", CadenceName(s.cadence), CadenceDescription(s.cadence)));
    add("Modelling quality", QualityText(run));
    add("Spread", s.spreadFixed ? fmt::format("{} points", s.spreadPoints)
                                : fmt::format("from the data where it has one, else {} points", s.spreadPoints));
    add("Instrument", InstrumentText(s));
    add("Costs", CostsText(s));
    add("Window", fmt::format("{} bars, pip mode {}", s.window, s.pipMode));
    add("Bars in test", fmt::format("{} (of {} chart bars read)", r.quality.chartBars, r.chartBarsSeen));
    add("Ticks modelled", fmt::format("{}", r.ticks));
    add("Test ended", EndText(run));
    group("Result");
    add("Initial deposit", fmt::format("{} {}, leverage 1:{}", Money(f.initialDeposit), s.currency, s.leverage));
    add("Total net profit", Money(f.totalNetProfit));
    add("Gross profit", Money(f.grossProfit));
    add("Gross loss", Money(f.grossLoss));
    add("Profit factor", Ratio(f.profitFactor));
    add("Expected payoff", Money(f.expectedPayoff));
    add("Compound annual growth (CAGR)", PercentOrNa(f.cagrPercent));
    group("Drawdown");
    add("Absolute drawdown", Money(f.absoluteDrawdown));
    add("Maximal drawdown", fmt::format("{} ({:.2f}%)", Money(f.maximalDrawdown), f.maximalDrawdownPercent));
    add("Relative drawdown", fmt::format("{:.2f}% ({})", f.relativeDrawdownPercent, Money(f.relativeDrawdown)));
    add("Longest drawdown",
        f.longestDrawdownSeconds == 0
            ? std::string("none")
            : fmt::format("{} ({} - {})", FormatDuration(f.longestDrawdownSeconds),
                          FormatBarTime(f.longestDrawdownStart), FormatBarTime(f.longestDrawdownEnd)));
    group("Ratios");
    add("Sharpe ratio (annual, daily returns)", Ratio(f.sharpeAnnual));
    add("Sortino ratio (annual, daily returns)", Ratio(f.sortinoAnnual));
    add("Sharpe ratio (per trade)", Ratio(f.sharpeRatio));
    add("Calmar ratio (CAGR / relative drawdown)", Ratio(f.calmarRatio));
    add("Recovery factor", Ratio(f.recoveryFactor));
    add("System quality number (SQN)", Ratio(f.sqn));
    group("Trades");
    add("Total trades", fmt::format("{}", f.totalTrades));
    add("Short positions (won %)", fmt::format("{} ({})", f.shortPositions, Percent(f.shortWon, f.shortPositions)));
    add("Long positions (won %)", fmt::format("{} ({})", f.longPositions, Percent(f.longWon, f.longPositions)));
    add("Profit trades (% of total)", fmt::format("{} ({})", f.profitTrades, Percent(f.profitTrades, f.totalTrades)));
    add("Loss trades (% of total)", fmt::format("{} ({})", f.lossTrades, Percent(f.lossTrades, f.totalTrades)));
    add("Largest profit trade", Money(f.largestProfit));
    add("Largest loss trade", Money(f.largestLoss));
    add("Average profit trade", Money(f.averageProfit));
    add("Average loss trade", Money(f.averageLoss));
    add("Maximum consecutive wins (profit in money)",
        fmt::format("{} ({})", f.maxConsecutiveWins.count, Money(f.maxConsecutiveWins.money)));
    add("Maximum consecutive losses (loss in money)",
        fmt::format("{} ({})", f.maxConsecutiveLosses.count, Money(f.maxConsecutiveLosses.money)));
    add("Maximal consecutive profit (count of wins)",
        fmt::format("{} ({})", Money(f.maximalConsecutiveProfit.money), f.maximalConsecutiveProfit.count));
    add("Maximal consecutive loss (count of losses)",
        fmt::format("{} ({})", Money(f.maximalConsecutiveLoss.money), f.maximalConsecutiveLoss.count));
    add("Average consecutive wins", fmt::format("{:.2f}", f.averageConsecutiveWins));
    add("Average consecutive losses", fmt::format("{:.2f}", f.averageConsecutiveLosses));
    add("Time in the market", PercentOrNa(f.exposurePercent));
    add("Average holding time", f.totalTrades == 0 ? std::string("n/a") : FormatDuration(f.averageHoldingSeconds));
    add("Average MAE / MFE", fmt::format("{} / {}", MoneyOrNa(f.averageMae), MoneyOrNa(f.averageMfe)));
    add("Worst MAE / best MFE", fmt::format("{} / {}", MoneyOrNa(f.worstMae), MoneyOrNa(f.bestMfe)));
    add("Orders refused", fmt::format("{}", r.tally.refusalCount));
    for (size_t c = 0; c < r.tally.noLot.size(); ++c) {
        if (r.tally.noLot[c] == 0) continue;
        add(fmt::format("No lot ({})", run.ChartSettings(c).symbol),
            fmt::format("{} orders: {}", r.tally.noLot[c], r.tally.noLotReason[c]));
    }
    for (size_t c = 0; c < r.tally.tooClose.size(); ++c) {
        if (r.tally.tooClose[c] == 0) continue;
        add(fmt::format("Not sent, levels too close ({})", run.ChartSettings(c).symbol),
            fmt::format("{}", r.tally.tooClose[c]));
    }
    group("Costs");
    add("Total commission", Money(f.totalCommission));
    add("Total swap", Money(f.totalSwap));
    if (r.charts.size() > 1) {
        group("Symbols");
        for (size_t c = 0; c < r.charts.size(); ++c) {
            const SymbolFigures& y = r.charts[c].figures;
            add(fmt::format("{} (chart {})", y.symbol, c + 1),
                fmt::format("{} trades ({} won), net {}, profit factor {}, commission {}, swap {}; {}", y.totalTrades,
                            Percent(y.profitTrades, y.totalTrades), Money(y.netProfit), Ratio(y.profitFactor),
                            Money(y.commission), Money(y.swap), run.ChartSettings(c).instrumentSource));
        }
    }
    return groups;
}

Json InstrumentJson(const TestSettings& s)
{
    return Json{{"source", s.instrumentSource},
                {"overridden", s.overridden},
                {"kind", s.kind.empty() ? Json(nullptr) : Json(s.kind)},
                {"base", s.base},
                {"profit_currency", s.profitCurrency},
                {"margin_currency", s.marginCurrency},
                {"margin_mode", MarginModeName(s.marginMode)},
                {"max_leverage", s.maxLeverage},
                {"stop_level", s.stopLevel},
                {"freeze_level", s.freezeLevel},
                {"stops_too_close", s.stopsTooClose == StopsTooClose::Move ? "move" : "refuse"}};
}

Json SettingsJson(const TestSettings& s)
{
    Json j;
    j["symbol"] = s.symbol;
    j["digits"] = s.digits;
    j["point"] = s.point;
    j["spread_points"] = s.spreadPoints;
    j["spread_fixed"] = s.spreadFixed;
    j["contract_size"] = s.contractSize;
    j["profit_conversion"] = ConversionName(s.conversion);
    if (s.conversion == Conversion::FixedRate) j["conversion_rate"] = s.conversionRate;
    if (s.conversion == Conversion::Chart) j["conversion_chart"] = s.conversionChart;
    j["currency"] = s.currency;
    j["deposit"] = s.deposit;
    j["leverage"] = s.leverage;
    j["stop_out_percent"] = s.stopOutPercent;
    j["model"] = ModelName(s.model);
    j["decide"] = CadenceName(s.cadence);
    j["timeframe"] = s.timeframeSeconds == 0 ? Json(nullptr) : Json(TimeframeName(s.timeframeSeconds));
    j["equity"] = s.equityRows == EquityRows::Bars ? "bars" : "ticks";
    j["window"] = s.window;
    j["pip_mode"] = s.pipMode;
    j["max_positions"] = s.maxPositions;
    j["fixed_lot"] = s.fixedLot;
    j["risk_percent"] = s.riskPercent;
    j["risk_multiplier"] = s.riskMultiplier;
    j["min_lot"] = s.minLot;
    j["max_lot"] = s.maxLot;
    j["lot_step"] = s.lotStep;
    j["risk_split"] = s.riskSplit;
    j["from"] = s.fromTime == 0 ? Json(nullptr) : Json(FormatBarTime(s.fromTime));
    j["to"] = s.toTime == UINT32_MAX ? Json(nullptr) : Json(FormatBarTime(s.toTime));
    j["instrument"] = InstrumentJson(s);
    j["costs"] = Json{{"commission", s.commission},
                      {"commission_per", CommissionPerName(s.commissionPer)},
                      {"swap_long", s.swapLong},
                      {"swap_short", s.swapShort},
                      {"swap_unit", SwapUnitName(s.swapUnit)},
                      {"rollover_hour", s.rolloverHour},
                      {"triple_day", WeekdayName(s.tripleDay)},
                      {"slippage_min", s.slippageMin},
                      {"slippage_max", s.slippageMax},
                      {"seed", s.seed}};
    return j;
}

}  // namespace

Json MonthlyJson(const MonthlyReturns& m)
{
    Json percent = Json::array();
    for (const auto& year : m.percent) {
        Json row = Json::array();
        for (const std::optional<double>& month : year) row.push_back(month ? Json(Round(*month, 4)) : Json(nullptr));
        percent.push_back(std::move(row));
    }
    return Json{{"years", m.years}, {"percent", std::move(percent)}};
}

Json HistogramJson(const TradeHistogram& h) { return Json{{"edges", h.edges}, {"counts", h.counts}}; }

namespace {

Json RunJson(const Run& r) { return Json{{"count", r.count}, {"money", Cents(r.money)}}; }

Json FiguresJson(const TestRun& run)
{
    const Figures& f = run.outcome.figures;
    Json j;
    j["bars_in_test"] = run.outcome.quality.chartBars;
    j["ticks_modelled"] = run.outcome.ticks;
    j["initial_deposit"] = Cents(f.initialDeposit);
    j["final_balance"] = Cents(f.finalBalance);
    j["total_net_profit"] = Cents(f.totalNetProfit);
    j["gross_profit"] = Cents(f.grossProfit);
    j["gross_loss"] = Cents(f.grossLoss);
    j["profit_factor"] = Defined(Round(f.profitFactor, 4));
    j["expected_payoff"] = Cents(f.expectedPayoff);
    j["absolute_drawdown"] = Cents(f.absoluteDrawdown);
    j["maximal_drawdown"] = Cents(f.maximalDrawdown);
    j["maximal_drawdown_percent"] = Round(f.maximalDrawdownPercent, 4);
    j["relative_drawdown_percent"] = Round(f.relativeDrawdownPercent, 4);
    j["relative_drawdown"] = Cents(f.relativeDrawdown);
    j["total_trades"] = f.totalTrades;
    j["short_positions"] = f.shortPositions;
    j["short_won"] = f.shortWon;
    j["long_positions"] = f.longPositions;
    j["long_won"] = f.longWon;
    j["profit_trades"] = f.profitTrades;
    j["loss_trades"] = f.lossTrades;
    j["largest_profit_trade"] = Cents(f.largestProfit);
    j["largest_loss_trade"] = Cents(f.largestLoss);
    j["average_profit_trade"] = Cents(f.averageProfit);
    j["average_loss_trade"] = Cents(f.averageLoss);
    j["max_consecutive_wins"] = RunJson(f.maxConsecutiveWins);
    j["max_consecutive_losses"] = RunJson(f.maxConsecutiveLosses);
    j["maximal_consecutive_profit"] = RunJson(f.maximalConsecutiveProfit);
    j["maximal_consecutive_loss"] = RunJson(f.maximalConsecutiveLoss);
    j["average_consecutive_wins"] = Round(f.averageConsecutiveWins, 4);
    j["average_consecutive_losses"] = Round(f.averageConsecutiveLosses, 4);
    j["sharpe_ratio"] = Defined(Round(f.sharpeRatio, 6));
    j["longest_drawdown_seconds"] = f.longestDrawdownSeconds;
    j["longest_drawdown_start"] =
        f.longestDrawdownSeconds == 0 ? Json(nullptr) : Json(FormatBarTime(f.longestDrawdownStart));
    j["longest_drawdown_end"] =
        f.longestDrawdownSeconds == 0 ? Json(nullptr) : Json(FormatBarTime(f.longestDrawdownEnd));
    j["total_commission"] = Cents(f.totalCommission);
    j["total_swap"] = Cents(f.totalSwap);
    j["sharpe_annual"] = Defined(Round(f.sharpeAnnual, 6));
    j["sortino_annual"] = Defined(Round(f.sortinoAnnual, 6));
    j["cagr_percent"] = Defined(Round(f.cagrPercent, 4));
    j["calmar_ratio"] = Defined(Round(f.calmarRatio, 6));
    j["recovery_factor"] = Defined(Round(f.recoveryFactor, 6));
    j["sqn"] = Defined(Round(f.sqn, 6));
    j["exposure_percent"] = Defined(Round(f.exposurePercent, 4));
    j["average_holding_seconds"] = f.averageHoldingSeconds;
    j["average_mae"] = Defined(Cents(f.averageMae));
    j["average_mfe"] = Defined(Cents(f.averageMfe));
    j["worst_mae"] = Defined(Cents(f.worstMae));
    j["best_mfe"] = Defined(Cents(f.bestMfe));
    j["monthly_returns"] = MonthlyJson(f.monthly);
    j["trade_histogram"] = HistogramJson(f.histogram);
    return j;
}

// Per chart: its file, instrument and figures.
Json SymbolsJson(const TestRun& run)
{
    Json list = Json::array();
    const RunOutcome& r = run.outcome;
    for (size_t c = 0; c < r.charts.size(); ++c) {
        const ChartOutcome& o = r.charts[c];
        const SymbolFigures& y = o.figures;
        const TestSettings& s = run.ChartSettings(c);
        list.push_back(Json{
            {"symbol", y.symbol},
            {"file", c < run.charts.size() ? run.charts[c].file : run.dataFile},
            {"instrument", s.instrumentSource},
            {"settings", c == 0 ? Json(nullptr) : SettingsJson(s)},
            {"model", ModelName(s.model)},
            {"chart_bars", o.quality.chartBars},
            {"ticks_modelled", o.ticks},
            {"total_trades", y.totalTrades},
            {"profit_trades", y.profitTrades},
            {"loss_trades", y.lossTrades},
            {"net_profit", Cents(y.netProfit)},
            {"gross_profit", Cents(y.grossProfit)},
            {"gross_loss", Cents(y.grossLoss)},
            {"profit_factor", Defined(Round(y.profitFactor, 4))},
            {"profit", Cents(y.profit)},
            {"commission", Cents(y.commission)},
            {"swap", Cents(y.swap)},
            {"orders_refused", c < r.tally.refusalsByChart.size() ? r.tally.refusalsByChart[c] : 0},
            {"no_lot", c < r.tally.noLot.size() ? r.tally.noLot[c] : 0},
            {"no_lot_reason", c < r.tally.noLot.size() && r.tally.noLot[c] > 0 ? Json(r.tally.noLotReason[c])
                                                                              : Json(nullptr)},
            {"not_sent_levels_too_close", c < r.tally.tooClose.size() ? r.tally.tooClose[c] : 0}});
    }
    return list;
}

Json CalibrationJson(const Calibration& c)
{
    return Json{{"PoTP", c.takeProfit}, {"PoSL", c.stopLoss}, {"Dpp", c.pipSize}, {"DSP", c.dsp},
                {"DCloseSP", c.dcloseSp}, {"HHH_1", c.hhh1},     {"HHH_2", c.hhh2}};
}

Json AnswersJson(const uint64_t (&a)[3], const char* one, const char* two)
{
    return Json{{"none", a[0]}, {one, a[1]}, {two, a[2]}};
}

Json RefusalsJson(const TestRun& run)
{
    std::map<int32_t, uint64_t> byCode;
    Json listed = Json::array();
    for (const Refusal& r : run.outcome.tally.refusals) {
        ++byCode[r.code];
        listed.push_back(Json{{"time", FormatTickTime(r.timeMs, run.info.IsTicks())},
                              {"type", SideName(r.side)},
                              {"lots", r.lots},
                              {"code", r.code},
                              {"text", r.text},
                              {"symbol", run.ChartSettings(static_cast<size_t>(r.chart)).symbol},
                              {"ticket", r.ticket == 0 ? Json(nullptr) : Json(r.ticket)}});
    }
    Json codes = Json::object();
    for (const auto& [code, count] : byCode) codes[std::to_string(code)] = count;
    return Json{{"count", run.outcome.tally.refusalCount},
                {"listed_by_code", codes},
                {"listed", listed},
                {"listed_limit", MaxListedRefusals}};
}

Json QualityJson(const TestRun& run)
{
    const ModellingQuality& q = run.outcome.quality;
    return Json{{"model", ModelName(run.settings.model)},
                {"real_path_from", q.source.empty() ? Json(nullptr) : Json(q.source)},
                {"chart_bars", q.chartBars},
                {"real_path", q.realPath},
                {"real_path_percent", q.chartBars == 0 ? 0.0 : Round(100.0 * static_cast<double>(q.realPath) /
                                                                         static_cast<double>(q.chartBars),
                                                                     2)},
                {"with_holes", q.withHoles},
                {"fell_back", q.fellBack}};
}

}  // namespace

uint32_t ChartTimeframe(const TestRun& run)
{
    return run.settings.timeframeSeconds != 0 ? run.settings.timeframeSeconds : run.info.timeframeSeconds;
}

std::string EndText(const TestRun& run)
{
    const bool ms = run.info.IsTicks();
    if (run.outcome.emptied) {
        return fmt::format("stopped at {}: a stop-out left no money", FormatTickTime(run.outcome.endedAtMs, ms));
    }
    return fmt::format("at the end of the data or range, {}", FormatTickTime(run.outcome.endedAtMs, ms));
}

std::vector<TextGroup> FigureGroups(const TestRun& run) { return FigureList(run); }

std::string ConsoleSummary(const TestRun& run)
{
    std::string text;
    for (const TextGroup& g : FigureList(run)) {
        for (const auto& [label, value] : g.rows) fmt::format_to(std::back_inserter(text), "{:<44}{}\n", label, value);
    }
    return text;
}

std::string TradeRow(const Trade& t, const TestSettings& s, bool tickTimes)
{
    const int32_t d = s.digits;
    std::string note = t.note;
    std::replace(note.begin(), note.end(), ',', ';');
    return fmt::format("{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{}\n", t.ticket, s.symbol,
                       SideName(t.side), FormatTickTime(t.openTimeMs, tickTimes), Price(t.openPrice, d),
                       Lots(s, t.lots), LevelOrEmpty(t.stopLoss, d), LevelOrEmpty(t.takeProfit, d),
                       FormatTickTime(t.closeTimeMs, tickTimes), Price(t.closePrice, d), Money(t.commission),
                       Money(t.swap), Money(t.profit), Money(t.balance), ReasonName(t.reason), Money(t.adverse),
                       Money(t.favourable), note);
}

std::string EquityRowText(const EquityRow& r, const TestSettings&, bool tickTimes)
{
    return fmt::format("{},{},{},{},{},{},{},{}\n", FormatTickTime(r.timeMs, tickTimes), Money(r.balance),
                       Money(r.equity), Money(r.low), Money(r.high), Money(r.margin), Money(r.equity - r.margin),
                       r.positions);
}

std::string ReportJson(const TestRun& run)
{
    const RunOutcome& r = run.outcome;
    Json j;
    j["data"] = Json{{"file", run.dataFile},
                     {"format", FormatName(run.info.format)},
                     {"timeframe", run.info.IsTicks() ? Json("ticks") : Json(TimeframeName(run.info.timeframeSeconds))},
                     {"timeframe_seconds", run.info.timeframeSeconds},
                     {"rows_in_file", run.info.rows},
                     {"chart_timeframe", TimeframeName(ChartTimeframe(run))},
                     {"chart_bars_read", r.chartBarsSeen},
                     {"first_tested_bar", FormatBarTime(r.firstBarTime)},
                     {"last_tested_bar", FormatBarTime(r.lastBarTime)}};
    j["settings"] = SettingsJson(run.settings);
    j["modelling_quality"] = QualityJson(run);
    j["end"] = Json{{"stopped_by_stop_out", r.emptied},
                    {"time", FormatTickTime(r.endedAtMs, run.info.IsTicks())},
                    {"text", EndText(run)}};
    j["figures"] = FiguresJson(run);
    j["symbols"] = SymbolsJson(run);
    j["signals"] = Json{{"updates", r.tally.updates},
                        {"open_signal", AnswersJson(r.tally.openAnswers, "buy", "sell")},
                        {"close_signal", AnswersJson(r.tally.closeAnswers, "close_buys", "close_sells")}};
    j["calibration"] = Json{{"first_tick", CalibrationJson(r.firstCalibration)},
                            {"last_tick", CalibrationJson(r.lastCalibration)}};
    j["refusals"] = RefusalsJson(run);
    j["files"] = Json::array({"report.json", "trades.csv", "equity.csv", "report.html"});
    return j.dump(2) + "\n";
}

// ---- the folder

namespace {

std::FILE* OpenForWriting(const fs::path& path)
{
    std::FILE* f = std::fopen(path.string().c_str(), "wb");
    if (f == nullptr) throw TesterError(fmt::format("{}: cannot write", path.string()));
    return f;
}

void Put(std::FILE* f, const std::string& text, const fs::path& path)
{
    if (std::fwrite(text.data(), 1, text.size(), f) != text.size()) {
        throw TesterError(fmt::format("{}: cannot write", path.string()));
    }
}

}  // namespace

ReportFolder::ReportFolder(const std::string& dir, const TestSettings& settings, bool tickTimes,
                           std::vector<TestSettings> charts)
    : dir_(dir), settings_(settings), charts_(std::move(charts)), tickTimes_(tickTimes)
{
    std::error_code ec;
    created_ = !fs::exists(dir_, ec);
    fs::create_directories(dir_, ec);
    if (ec || !fs::is_directory(dir_)) throw TesterError(fmt::format("{}: cannot create the report folder", dir));
    try {
        trades_ = OpenForWriting(Partial("trades.csv"));
        equity_ = OpenForWriting(Partial("equity.csv"));
        bars_ = OpenForWriting(Partial(ChartBarsFile));
        Put(trades_, TradesHeader, Partial("trades.csv"));
        Put(equity_, EquityHeader, Partial("equity.csv"));
    } catch (...) {
        CloseFiles();
        for (const char* name : ReportFiles) fs::remove(Partial(name), ec);
        fs::remove(Partial(ChartBarsFile), ec);
        if (created_) fs::remove(dir_, ec);
        throw;
    }
}

ReportFolder::~ReportFolder()
{
    CloseFiles();
    std::error_code ec;
    fs::remove(Partial(ChartBarsFile), ec);
    if (!finished_) {
        for (const char* name : ReportFiles) fs::remove(Partial(name), ec);
        // A folder this run made goes too (only when it is empty).
        if (created_) fs::remove(dir_, ec);
    }
}

fs::path ReportFolder::Partial(const char* name) const { return dir_ / (std::string(name) + ".partial"); }

void ReportFolder::CloseFiles()
{
    if (trades_ != nullptr) std::fclose(trades_);
    if (equity_ != nullptr) std::fclose(equity_);
    if (bars_ != nullptr) std::fclose(bars_);
    trades_ = equity_ = bars_ = nullptr;
}

void ReportFolder::OnTrade(const Trade& trade)
{
    const auto c = static_cast<size_t>(trade.chart);
    Put(trades_, TradeRow(trade, c < charts_.size() ? charts_[c] : settings_, tickTimes_), Partial("trades.csv"));
}

void ReportFolder::OnEquityRow(const EquityRow& row)
{
    Put(equity_, EquityRowText(row, settings_, tickTimes_), Partial("equity.csv"));
}

void ReportFolder::OnChartBar(const ChartBar& bar)
{
    const StoredBar stored = StoreBar(bar);
    if (std::fwrite(&stored, sizeof stored, 1, bars_) != 1) {
        throw TesterError(fmt::format("{}: cannot write", Partial(ChartBarsFile).string()));
    }
}

void ReportFolder::Finish(const TestRun& run)
{
    const bool closed = std::fflush(trades_) == 0 && std::fflush(equity_) == 0 && std::fflush(bars_) == 0;
    CloseFiles();
    if (!closed) throw TesterError(fmt::format("{}: cannot write the report", dir_.string()));
    std::FILE* json = OpenForWriting(Partial("report.json"));
    const std::string text = ReportJson(run);
    const bool jsonWritten = std::fwrite(text.data(), 1, text.size(), json) == text.size();
    const bool jsonClosed = std::fclose(json) == 0;
    if (!jsonWritten || !jsonClosed) throw TesterError(fmt::format("{}: cannot write", Partial("report.json").string()));
    {
        std::ofstream html(Partial("report.html"), std::ios::binary | std::ios::trunc);
        WriteReportHtml(html, run, PageFiles{Partial("trades.csv"), Partial("equity.csv"), Partial(ChartBarsFile)});
        html.close();
        if (!html) throw TesterError(fmt::format("{}: cannot write", Partial("report.html").string()));
    }
    std::error_code ec;
    for (const char* name : ReportFiles) {
        fs::rename(Partial(name), dir_ / name, ec);
        if (ec) throw TesterError(fmt::format("{}: cannot write {}", dir_.string(), name));
    }
    finished_ = true;
}

}  // namespace torvik::tester
