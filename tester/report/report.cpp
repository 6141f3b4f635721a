#include "tester/report/report.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "tester/data/bar_time.h"

namespace torvik::tester {

namespace {

using Json = nlohmann::ordered_json;

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

std::string Lots(const TestRun& run, double lots) { return fmt::format("{:.{}f}", lots, StepDigits(run.settings.lotStep)); }

const char* ModelName(Model m) { return m == Model::Open ? "open" : "ohlc"; }

const char* ModelDescription(Model m)
{
    return m == Model::Open ? "open prices only: one tick per bar, at its open"
                            : "four ticks per bar: open, nearer extreme, other extreme, close";
}

const char* ConversionName(Conversion c)
{
    switch (c) {
    case Conversion::Direct: return "direct";
    case Conversion::DivideByPrice: return "divide-by-price";
    case Conversion::FixedRate: return "fixed-rate";
    }
    return "?";
}

const char* FormatName(BarFormat f) { return f == BarFormat::Header ? "header" : "history-center"; }

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

// The labelled figures, in the order a trader reads them.
std::vector<std::pair<std::string, std::string>> FigureLines(const TestRun& run)
{
    const TestSettings& s = run.settings;
    const Figures& f = run.figures;
    const ReplayResult& r = run.result;
    std::vector<std::pair<std::string, std::string>> lines;
    const auto add = [&lines](std::string label, std::string value) {
        lines.emplace_back(std::move(label), std::move(value));
    };
    add("Symbol", fmt::format("{} ({}), {} digits, point {}", s.symbol, TimeframeName(run.timeframeSeconds),
                              s.digits, Price(s.point, s.digits)));
    add("Period", fmt::format("{} - {}", FormatBarTime(run.firstBarTime), FormatBarTime(run.lastBarTime)));
    add("Model", ModelDescription(s.model));
    add("Spread", fmt::format("{} points", s.spreadPoints));
    add("Window", fmt::format("{} bars, pip mode {}", s.window, s.pipMode));
    add("Bars in test", fmt::format("{} (of {} in the file)", r.lastBar - r.firstBar + 1, run.barsInFile));
    add("Ticks modelled", fmt::format("{}", r.ticks));
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
    add("Orders refused", fmt::format("{}", r.refusalCount));
    return lines;
}

Json SettingsJson(const TestSettings& s)
{
    Json j;
    j["symbol"] = s.symbol;
    j["digits"] = s.digits;
    j["point"] = s.point;
    j["spread_points"] = s.spreadPoints;
    j["contract_size"] = s.contractSize;
    j["profit_conversion"] = ConversionName(s.conversion);
    if (s.conversion == Conversion::FixedRate) j["conversion_rate"] = s.conversionRate;
    j["currency"] = s.currency;
    j["deposit"] = s.deposit;
    j["leverage"] = s.leverage;
    j["stop_out_percent"] = s.stopOutPercent;
    j["model"] = ModelName(s.model);
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
    return j;
}

Json RunJson(const Run& r) { return Json{{"count", r.count}, {"money", Cents(r.money)}}; }

Json FiguresJson(const TestRun& run)
{
    const Figures& f = run.figures;
    Json j;
    j["bars_in_test"] = run.result.lastBar - run.result.firstBar + 1;
    j["ticks_modelled"] = run.result.ticks;
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
    return j;
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
    for (const Refusal& r : run.result.refusals) {
        ++byCode[r.code];
        listed.push_back(Json{{"time", FormatBarTime(r.time)},
                              {"type", SideName(r.side)},
                              {"lots", r.lots},
                              {"code", r.code},
                              {"text", r.text}});
    }
    Json codes = Json::object();
    for (const auto& [code, count] : byCode) codes[std::to_string(code)] = count;
    return Json{{"count", run.result.refusalCount},
                {"listed_by_code", codes},
                {"listed", listed},
                {"listed_limit", MaxListedRefusals}};
}

// ---- the chart

struct ChartPoint {
    double x;
    double y;
};

std::string Polyline(const std::vector<ChartPoint>& points, double lo, double hi, double width, double height,
                     double left, double top)
{
    std::string out;
    const double span = hi > lo ? hi - lo : 1.0;
    const double lastX = points.empty() ? 1.0 : std::max(1.0, points.back().x);
    for (const ChartPoint& p : points) {
        const double x = left + p.x / lastX * width;
        const double y = top + (hi - p.y) / span * height;
        fmt::format_to(std::back_inserter(out), "{:.1f},{:.1f} ", x, y);
    }
    return out;
}

std::string EquityChart(const TestRun& run)
{
    const std::vector<EquityPoint>& eq = run.result.equity;
    constexpr size_t Columns = 1200;
    constexpr double Width = 1000.0, Height = 300.0, Left = 70.0, Top = 10.0;
    std::vector<ChartPoint> equity;
    std::vector<ChartPoint> balance;
    double lo = run.settings.deposit, hi = run.settings.deposit;
    // Each column keeps its lowest and highest equity, so no dip is lost.
    const size_t perColumn = std::max<size_t>(1, (eq.size() + Columns - 1) / Columns);
    for (size_t start = 0; start < eq.size(); start += perColumn) {
        const size_t end = std::min(eq.size(), start + perColumn);
        size_t minAt = start, maxAt = start;
        for (size_t i = start; i < end; ++i) {
            if (eq[i].equity < eq[minAt].equity) minAt = i;
            if (eq[i].equity > eq[maxAt].equity) maxAt = i;
            lo = std::min({lo, eq[i].equity, eq[i].balance});
            hi = std::max({hi, eq[i].equity, eq[i].balance});
        }
        const double x = static_cast<double>(start / perColumn);
        equity.push_back({x, eq[std::min(minAt, maxAt)].equity});
        if (minAt != maxAt) equity.push_back({x + 0.5, eq[std::max(minAt, maxAt)].equity});
        balance.push_back({x, eq[end - 1].balance});
    }
    const double pad = (hi - lo) * 0.05 + 0.01;
    lo -= pad;
    hi += pad;
    std::string svg;
    auto out = std::back_inserter(svg);
    fmt::format_to(out,
                   "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 1090 350\" role=\"img\" "
                   "aria-label=\"balance and equity\">\n"
                   "<rect x=\"{}\" y=\"{}\" width=\"{}\" height=\"{}\" fill=\"#fcfcfd\" stroke=\"#c8ccd4\"/>\n",
                   Left, Top, Width, Height);
    for (int32_t i = 0; i <= 4; ++i) {
        const double y = Top + Height * i / 4.0;
        const double value = hi - (hi - lo) * i / 4.0;
        fmt::format_to(out,
                       "<line x1=\"{}\" y1=\"{:.1f}\" x2=\"{}\" y2=\"{:.1f}\" stroke=\"#e3e6eb\"/>"
                       "<text x=\"{}\" y=\"{:.1f}\" text-anchor=\"end\" font-size=\"11\">{}</text>\n",
                       Left, y, Left + Width, y, Left - 6, y + 4, Money(value));
    }
    if (!eq.empty()) {
        fmt::format_to(out,
                       "<text x=\"{}\" y=\"335\" font-size=\"11\">{}</text>"
                       "<text x=\"{}\" y=\"335\" font-size=\"11\" text-anchor=\"end\">{}</text>\n",
                       Left, FormatBarDate(eq.front().time), Left + Width, FormatBarDate(eq.back().time));
    }
    fmt::format_to(out, "<polyline fill=\"none\" stroke=\"#2e7d32\" stroke-width=\"1\" points=\"{}\"/>\n",
                   Polyline(equity, lo, hi, Width, Height, Left, Top));
    fmt::format_to(out, "<polyline fill=\"none\" stroke=\"#1f4e9c\" stroke-width=\"1.5\" points=\"{}\"/>\n",
                   Polyline(balance, lo, hi, Width, Height, Left, Top));
    svg += "</svg>\n";
    return svg;
}

void WriteFile(const std::filesystem::path& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) throw TesterError(fmt::format("{}: cannot write", path.string()));
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

std::string TradesCsv(const TestRun& run)
{
    const int32_t d = run.settings.digits;
    std::string text = "ticket,type,open_time,open_price,lots,stop_loss,take_profit,close_time,close_price,profit,"
                       "balance,reason\n";
    for (const Trade& t : run.result.trades) {
        fmt::format_to(std::back_inserter(text), "{},{},{},{},{},{},{},{},{},{},{},{}\n", t.ticket, SideName(t.side),
                       FormatBarTime(t.openTime), Price(t.openPrice, d), Lots(run, t.lots),
                       LevelOrEmpty(t.stopLoss, d), LevelOrEmpty(t.takeProfit, d), FormatBarTime(t.closeTime),
                       Price(t.closePrice, d), Money(t.profit), Money(t.balance), ReasonName(t.reason));
    }
    return text;
}

std::string EquityCsv(const TestRun& run)
{
    const int32_t d = run.settings.digits;
    std::string text = "time,tick,bid,balance,equity,margin,free_margin,positions\n";
    text.reserve(run.result.equity.size() * 72 + text.size());
    for (const EquityPoint& p : run.result.equity) {
        fmt::format_to(std::back_inserter(text), "{},{},{},{},{},{},{},{}\n", FormatBarTime(p.time), p.tick,
                       Price(p.bid, d), Money(p.balance), Money(p.equity), Money(p.margin),
                       Money(p.equity - p.margin), p.positions);
    }
    return text;
}

std::string ReportJson(const TestRun& run)
{
    Json j;
    j["data"] = Json{{"file", run.barFile},
                     {"format", FormatName(run.format)},
                     {"timeframe", TimeframeName(run.timeframeSeconds)},
                     {"timeframe_seconds", run.timeframeSeconds},
                     {"bars_in_file", run.barsInFile},
                     {"first_tested_bar", FormatBarTime(run.firstBarTime)},
                     {"last_tested_bar", FormatBarTime(run.lastBarTime)},
                     {"first_tested_bar_index", run.result.firstBar},
                     {"last_tested_bar_index", run.result.lastBar}};
    j["settings"] = SettingsJson(run.settings);
    j["figures"] = FiguresJson(run);
    j["signals"] = Json{{"open_signal", AnswersJson(run.result.openAnswers, "buy", "sell")},
                        {"close_signal", AnswersJson(run.result.closeAnswers, "close_buys", "close_sells")}};
    j["calibration"] = Json{{"first_tick", CalibrationJson(run.result.firstCalibration)},
                            {"last_tick", CalibrationJson(run.result.lastCalibration)}};
    j["refusals"] = RefusalsJson(run);
    j["files"] = Json::array({"report.json", "trades.csv", "equity.csv", "report.html"});
    return j.dump(2) + "\n";
}

std::string ReportHtml(const TestRun& run)
{
    const TestSettings& s = run.settings;
    std::string html;
    auto out = std::back_inserter(html);
    fmt::format_to(out,
                   "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                   "<title>Strategy tester report: {}</title>\n"
                   "<style>\n"
                   "body{{font-family:system-ui,-apple-system,'Segoe UI',Arial,sans-serif;margin:24px;color:#1d2330;"
                   "background:#fff;max-width:1140px}}\n"
                   "h1{{font-size:22px;margin:0 0 4px}} h2{{font-size:17px;margin:28px 0 8px}}\n"
                   "p.sub{{color:#5a6270;margin:0 0 16px}}\n"
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
                   "<p class=\"sub\">{} &middot; {} &middot; {}</p>\n",
                   HtmlEscape(s.symbol), HtmlEscape(s.symbol), HtmlEscape(run.barFile),
                   TimeframeName(run.timeframeSeconds), ModelDescription(s.model));
    html += "<h2>Balance and equity</h2>\n<div class=\"legend\"><span style=\"background:#1f4e9c\"></span>balance"
            "<span style=\"background:#2e7d32\"></span>equity</div>\n";
    html += EquityChart(run);
    html += "<h2>Figures</h2>\n<table class=\"figures\">\n";
    for (const auto& [label, value] : FigureLines(run)) {
        fmt::format_to(out, "<tr><td>{}</td><td>{}</td></tr>\n", HtmlEscape(label), HtmlEscape(value));
    }
    html += "</table>\n";
    fmt::format_to(out, "<h2>Trades ({})</h2>\n<table class=\"trades\">\n", run.result.trades.size());
    html += "<tr><th>#</th><th>type</th><th>open time</th><th>open price</th><th>lots</th><th>S/L</th><th>T/P</th>"
            "<th>close time</th><th>close price</th><th>profit</th><th>balance</th><th>closed by</th></tr>\n";
    const int32_t d = s.digits;
    for (const Trade& t : run.result.trades) {
        fmt::format_to(out,
                       "<tr><td>{}</td><td>{}</td><td>{}</td><td>{}</td><td>{}</td><td>{}</td><td>{}</td>"
                       "<td>{}</td><td>{}</td><td class=\"{}\">{}</td><td>{}</td><td>{}</td></tr>\n",
                       t.ticket, SideName(t.side), FormatBarTime(t.openTime), Price(t.openPrice, d),
                       Lots(run, t.lots), LevelOrEmpty(t.stopLoss, d), LevelOrEmpty(t.takeProfit, d),
                       FormatBarTime(t.closeTime), Price(t.closePrice, d), t.profit < 0.0 ? "loss" : "win",
                       Money(t.profit), Money(t.balance), ReasonName(t.reason));
    }
    html += "</table>\n</body>\n</html>\n";
    return html;
}

void WriteReport(const std::string& dir, const TestRun& run)
{
    namespace fs = std::filesystem;
    const fs::path folder(dir);
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec || !fs::is_directory(folder)) {
        throw TesterError(fmt::format("{}: cannot create the report folder", dir));
    }
    const std::pair<const char*, std::string> files[] = {
        {"report.json", ReportJson(run)},
        {"trades.csv", TradesCsv(run)},
        {"equity.csv", EquityCsv(run)},
        {"report.html", ReportHtml(run)},
    };
    std::vector<fs::path> written;
    try {
        for (const auto& [name, text] : files) {
            const fs::path temporary = folder / (std::string(name) + ".partial");
            written.push_back(temporary);
            WriteFile(temporary, text);
        }
    } catch (...) {
        for (const fs::path& p : written) fs::remove(p, ec);
        throw;
    }
    for (const auto& [name, text] : files) {
        fs::rename(folder / (std::string(name) + ".partial"), folder / name, ec);
        if (ec) throw TesterError(fmt::format("{}: cannot write {}", dir, name));
    }
}

}  // namespace torvik::tester
