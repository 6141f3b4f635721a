#include "tester/report/report.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <vector>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "tester/data/bar_time.h"

namespace torvik::tester {

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

const char* const ReportFiles[] = {"report.json", "trades.csv", "equity.csv", "report.html"};

// Money as shown: two decimals, never "-0.00".
double Cents(double money)
{
    const double c = std::round(money * 100.0) / 100.0;
    return c == 0.0 ? 0.0 : c;
}

std::string Money(double money) { return fmt::format("{:.2f}", Cents(money)); }

std::string Ratio(double x) { return std::isfinite(x) ? fmt::format("{:.2f}", x) : std::string("n/a"); }

std::string Percent(int32_t part, int32_t whole)
{
    return whole > 0 ? fmt::format("{:.2f}%", 100.0 * part / whole) : std::string("0.00%");
}

std::string Share(uint64_t part, uint64_t whole)
{
    return whole > 0 ? fmt::format("{:.2f}%", 100.0 * static_cast<double>(part) / static_cast<double>(whole))
                     : std::string("0.00%");
}

std::string Price(double price, int32_t digits) { return fmt::format("{:.{}f}", price, digits); }

std::string LevelOrEmpty(double price, int32_t digits) { return price > 0.0 ? Price(price, digits) : std::string(); }

// The decimals of a lot step (0.01 gives 2).
int32_t StepDigits(double step)
{
    for (int32_t d = 0; d < 8; ++d) {
        const double scaled = step * std::pow(10.0, d);
        if (std::fabs(scaled - std::round(scaled)) < 1e-9) return d;
    }
    return 8;
}

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

std::string HtmlEscape(std::string_view s)
{
    std::string out;
    for (char c : s) {
        switch (c) {
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '&': out += "&amp;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

uint32_t ChartTimeframe(const TestRun& run)
{
    return run.settings.timeframeSeconds != 0 ? run.settings.timeframeSeconds : run.info.timeframeSeconds;
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

std::string EndText(const TestRun& run)
{
    const bool ms = run.info.IsTicks();
    if (run.outcome.emptied) {
        return fmt::format("stopped at {}: a stop-out left no money", FormatTickTime(run.outcome.endedAtMs, ms));
    }
    return fmt::format("at the end of the data or range, {}", FormatTickTime(run.outcome.endedAtMs, ms));
}

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

// The labelled figures, in the order a trader reads them.
std::vector<std::pair<std::string, std::string>> FigureLines(const TestRun& run)
{
    const TestSettings& s = run.settings;
    const Figures& f = run.outcome.figures;
    const RunOutcome& r = run.outcome;
    std::vector<std::pair<std::string, std::string>> lines;
    const auto add = [&lines](std::string label, std::string value) {
        lines.emplace_back(std::move(label), std::move(value));
    };
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
    add("Initial deposit", fmt::format("{} {}, leverage 1:{}", Money(f.initialDeposit), s.currency, s.leverage));
    add("Total net profit", Money(f.totalNetProfit));
    add("Gross profit", Money(f.grossProfit));
    add("Gross loss", Money(f.grossLoss));
    add("Profit factor", Ratio(f.profitFactor));
    add("Expected payoff", Money(f.expectedPayoff));
    add("Absolute drawdown", Money(f.absoluteDrawdown));
    add("Maximal drawdown", fmt::format("{} ({:.2f}%)", Money(f.maximalDrawdown), f.maximalDrawdownPercent));
    add("Relative drawdown", fmt::format("{:.2f}% ({})", f.relativeDrawdownPercent, Money(f.relativeDrawdown)));
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
    add("Sharpe ratio (per trade)", Ratio(f.sharpeRatio));
    add("Longest drawdown",
        f.longestDrawdownSeconds == 0
            ? std::string("none")
            : fmt::format("{} ({} - {})", FormatDuration(f.longestDrawdownSeconds),
                          FormatBarTime(f.longestDrawdownStart), FormatBarTime(f.longestDrawdownEnd)));
    add("Orders refused", fmt::format("{}", r.tally.refusalCount));
    add("Total commission", Money(f.totalCommission));
    add("Total swap", Money(f.totalSwap));
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
    if (r.charts.size() > 1) {
        for (size_t c = 0; c < r.charts.size(); ++c) {
            const SymbolFigures& y = r.charts[c].figures;
            add(fmt::format("{} (chart {})", y.symbol, c + 1),
                fmt::format("{} trades ({} won), net {}, profit factor {}, commission {}, swap {}; {}", y.totalTrades,
                            Percent(y.profitTrades, y.totalTrades), Money(y.netProfit), Ratio(y.profitFactor),
                            Money(y.commission), Money(y.swap), run.ChartSettings(c).instrumentSource));
        }
    }
    return lines;
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

// ---- reading back the streamed files for the page

// Fields of one CSV line (no quoting: the writer never puts a comma in a field).
std::vector<std::string_view> Fields(std::string_view line)
{
    std::vector<std::string_view> out;
    size_t start = 0;
    while (true) {
        const size_t comma = line.find(',', start);
        out.push_back(line.substr(start, comma == std::string_view::npos ? line.npos : comma - start));
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return out;
}

double Number(std::string_view s)
{
    double x = 0.0;
    std::from_chars(s.data(), s.data() + s.size(), x);
    return x;
}

struct ChartPoint {
    double x;
    double y;
};

std::string Polyline(const std::vector<ChartPoint>& points, double lo, double hi, double width, double height,
                     double left, double top, double lastX)
{
    std::string out;
    const double span = hi > lo ? hi - lo : 1.0;
    for (const ChartPoint& p : points) {
        const double x = left + p.x / std::max(1.0, lastX) * width;
        const double y = top + (hi - p.y) / span * height;
        fmt::format_to(std::back_inserter(out), "{:.1f},{:.1f} ", x, y);
    }
    return out;
}

// The balance and equity chart from equity.csv: each column keeps its
// lowest and highest equity, so no dip is lost.
void WriteChart(std::FILE* out, const fs::path& equityFile, uint64_t rows, double deposit)
{
    constexpr uint64_t Columns = 1200;
    constexpr double Width = 1000.0, Height = 300.0, Left = 70.0, Top = 10.0;
    const uint64_t perColumn = std::max<uint64_t>(1, (rows + Columns - 1) / Columns);
    std::vector<ChartPoint> equity;
    std::vector<ChartPoint> balance;
    double lo = deposit, hi = deposit;
    std::string firstTime, lastTime;
    LineReader lines(equityFile.string());
    std::string_view line;
    lines.Next(line);  // the header
    uint64_t row = 0;
    double colLow = 0.0, colHigh = 0.0, colBalance = 0.0;
    bool lowFirst = true;
    const auto flush = [&](uint64_t column) {
        const double x = static_cast<double>(column);
        equity.push_back({x, lowFirst ? colLow : colHigh});
        if (colLow != colHigh) equity.push_back({x + 0.5, lowFirst ? colHigh : colLow});
        balance.push_back({x, colBalance});
    };
    while (lines.Next(line)) {
        const std::vector<std::string_view> f = Fields(line);
        if (f.size() < 5) continue;
        const double b = Number(f[1]), low = Number(f[3]), high = Number(f[4]);
        if (row == 0) firstTime = std::string(f[0].substr(0, 10));
        lastTime = std::string(f[0].substr(0, 10));
        if (row % perColumn == 0) {
            if (row > 0) flush(row / perColumn - 1);
            colLow = low;
            colHigh = high;
            lowFirst = true;
        } else {
            if (low < colLow) {
                colLow = low;
                lowFirst = false;
            }
            if (high > colHigh) {
                colHigh = high;
                lowFirst = true;
            }
        }
        colBalance = b;
        lo = std::min({lo, low, b});
        hi = std::max({hi, high, b});
        ++row;
    }
    if (row > 0) flush((row - 1) / perColumn);
    const double lastX = row == 0 ? 1.0 : static_cast<double>((row - 1) / perColumn);
    const double pad = (hi - lo) * 0.05 + 0.01;
    lo -= pad;
    hi += pad;
    fmt::print(out,
               "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 1090 350\" role=\"img\" "
               "aria-label=\"balance and equity\">\n"
               "<rect x=\"{}\" y=\"{}\" width=\"{}\" height=\"{}\" fill=\"#fcfcfd\" stroke=\"#c8ccd4\"/>\n",
               Left, Top, Width, Height);
    for (int32_t i = 0; i <= 4; ++i) {
        const double y = Top + Height * i / 4.0;
        const double value = hi - (hi - lo) * i / 4.0;
        fmt::print(out,
                   "<line x1=\"{}\" y1=\"{:.1f}\" x2=\"{}\" y2=\"{:.1f}\" stroke=\"#e3e6eb\"/>"
                   "<text x=\"{}\" y=\"{:.1f}\" text-anchor=\"end\" font-size=\"11\">{}</text>\n",
                   Left, y, Left + Width, y, Left - 6, y + 4, Money(value));
    }
    if (row > 0) {
        fmt::print(out,
                   "<text x=\"{}\" y=\"335\" font-size=\"11\">{}</text>"
                   "<text x=\"{}\" y=\"335\" font-size=\"11\" text-anchor=\"end\">{}</text>\n",
                   Left, firstTime, Left + Width, lastTime);
    }
    fmt::print(out, "<polyline fill=\"none\" stroke=\"#2e7d32\" stroke-width=\"1\" points=\"{}\"/>\n",
               Polyline(equity, lo, hi, Width, Height, Left, Top, lastX));
    fmt::print(out, "<polyline fill=\"none\" stroke=\"#1f4e9c\" stroke-width=\"1.5\" points=\"{}\"/>\n",
               Polyline(balance, lo, hi, Width, Height, Left, Top, lastX));
    fmt::print(out, "</svg>\n");
}

void WriteHtml(std::FILE* out, const TestRun& run, const fs::path& tradesFile, const fs::path& equityFile)
{
    const TestSettings& s = run.settings;
    fmt::print(out,
               "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
               "<title>Strategy tester report: {}</title>\n"
               "<style>\n"
               "body{{font-family:system-ui,-apple-system,'Segoe UI',Arial,sans-serif;margin:24px;color:#1d2330;"
               "background:#fff;max-width:1240px}}\n"
               "h1{{font-size:22px;margin:0 0 4px}} h2{{font-size:17px;margin:28px 0 8px}}\n"
               "p.sub{{color:#5a6270;margin:0 0 16px}} p.notice{{background:#fdecea;padding:8px 12px}}\n"
               "table{{border-collapse:collapse;font-size:13px}}\n"
               "table.figures td{{padding:4px 14px 4px 0;border-bottom:1px solid #eceef2}}\n"
               "table.figures td:first-child{{color:#5a6270}} table.figures td:last-child{{font-weight:600}}\n"
               "table.trades th,table.trades td{{padding:3px 8px;border-bottom:1px solid #eceef2;"
               "text-align:right}}\n"
               "table.trades th{{background:#f2f4f7;position:sticky;top:0}}\n"
               ".loss{{color:#b3261e}} .win{{color:#2e7d32}}\n"
               ".legend span{{display:inline-block;width:14px;height:3px;margin:0 6px 3px 16px}}\n"
               "svg{{width:100%;height:auto;font-family:inherit}}\n"
               "</style>\n</head>\n<body>\n"
               "<h1>Strategy tester report: {}</h1>\n"
               "<p class=\"sub\">{} &middot; {} &middot; model {} &middot; decides {}</p>\n",
               HtmlEscape(s.symbol), HtmlEscape(s.symbol), HtmlEscape(run.dataFile),
               TimeframeName(ChartTimeframe(run)), ModelName(s.model), CadenceName(s.cadence));
    if (run.outcome.emptied) fmt::print(out, "<p class=\"notice\">The test {}.</p>\n", EndText(run));
    fmt::print(out, "<h2>Balance and equity</h2>\n<div class=\"legend\"><span style=\"background:#1f4e9c\"></span>"
                    "balance<span style=\"background:#2e7d32\"></span>equity</div>\n");
    WriteChart(out, equityFile, run.outcome.equityRows, s.deposit);
    fmt::print(out, "<h2>Figures</h2>\n<table class=\"figures\">\n");
    for (const auto& [label, value] : FigureLines(run)) {
        fmt::print(out, "<tr><td>{}</td><td>{}</td></tr>\n", HtmlEscape(label), HtmlEscape(value));
    }
    fmt::print(out, "</table>\n<h2>Trades ({})</h2>\n<table class=\"trades\">\n", run.outcome.trades);
    fmt::print(out, "<tr><th>#</th><th>type</th><th>open time</th><th>open price</th><th>lots</th><th>S/L</th>"
                    "<th>T/P</th><th>close time</th><th>close price</th><th>profit</th><th>balance</th>"
                    "<th>closed by</th><th>MAE</th><th>MFE</th><th>note</th></tr>\n");
    LineReader lines(tradesFile.string());
    std::string_view line;
    lines.Next(line);  // the header
    while (lines.Next(line)) {
        const std::vector<std::string_view> f = Fields(line);
        if (f.size() < 18) continue;
        fmt::print(out,
                   "<tr><td>{}</td><td>{}</td><td>{}</td><td>{}</td><td>{}</td><td>{}</td><td>{}</td><td>{}</td>"
                   "<td>{}</td><td class=\"{}\">{}</td><td>{}</td><td>{}</td><td>{}</td><td>{}</td><td>{}</td></tr>\n",
                   f[0], f[2], f[3], f[4], f[5], f[6], f[7], f[8], f[9], f[12].starts_with("-") ? "loss" : "win",
                   f[12], f[13], f[14], f[15], f[16], HtmlEscape(f[17]));
    }
    fmt::print(out, "</table>\n</body>\n</html>\n");
}

}  // namespace

std::string ConsoleSummary(const TestRun& run)
{
    std::string text;
    for (const auto& [label, value] : FigureLines(run)) {
        fmt::format_to(std::back_inserter(text), "{:<44}{}\n", label, value);
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
        Put(trades_, TradesHeader, Partial("trades.csv"));
        Put(equity_, EquityHeader, Partial("equity.csv"));
    } catch (...) {
        CloseFiles();
        for (const char* name : ReportFiles) fs::remove(Partial(name), ec);
        if (created_) fs::remove(dir_, ec);
        throw;
    }
}

ReportFolder::~ReportFolder()
{
    CloseFiles();
    if (!finished_) {
        std::error_code ec;
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
    trades_ = equity_ = nullptr;
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

void ReportFolder::Finish(const TestRun& run)
{
    const bool closed = std::fflush(trades_) == 0 && std::fflush(equity_) == 0;
    CloseFiles();
    if (!closed) throw TesterError(fmt::format("{}: cannot write the report", dir_.string()));
    std::FILE* json = OpenForWriting(Partial("report.json"));
    const std::string text = ReportJson(run);
    const bool jsonWritten = std::fwrite(text.data(), 1, text.size(), json) == text.size();
    const bool jsonClosed = std::fclose(json) == 0;
    if (!jsonWritten || !jsonClosed) throw TesterError(fmt::format("{}: cannot write", Partial("report.json").string()));
    std::FILE* html = OpenForWriting(Partial("report.html"));
    WriteHtml(html, run, Partial("trades.csv"), Partial("equity.csv"));
    const bool htmlWritten = std::ferror(html) == 0;
    if (std::fclose(html) != 0 || !htmlWritten) {
        throw TesterError(fmt::format("{}: cannot write", Partial("report.html").string()));
    }
    std::error_code ec;
    for (const char* name : ReportFiles) {
        fs::rename(Partial(name), dir_ / name, ec);
        if (ec) throw TesterError(fmt::format("{}: cannot write {}", dir_.string(), name));
    }
    finished_ = true;
}

}  // namespace torvik::tester
