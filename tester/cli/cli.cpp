#include "tester/cli/cli.h"

#include <chrono>
#include <cmath>
#include <optional>
#include <string>

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include "tester/data/bar_file.h"
#include "tester/data/bar_time.h"
#include "tester/report/figures.h"
#include "tester/run/replay.h"
#include "tester/report/report.h"

namespace torvik::tester {

namespace {

constexpr const char* Program = "torvik-tester";

struct Options {
    std::string bars;
    std::string symbol;
    std::optional<int32_t> digits;
    std::optional<int32_t> spread;
    std::optional<int32_t> pipMode;
    std::string model = "open";
    std::string base;
    std::string quote;
    std::optional<double> conversionRate;
    std::string from;
    std::string to;
    std::string report;
    std::string signals = "fast";
    bool quiet = false;
};

std::string Upper(std::string s)
{
    for (char& c : s) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return s;
}

bool IsLetters(const std::string& s, size_t from, size_t count)
{
    if (s.size() < from + count) return false;
    for (size_t i = from; i < from + count; ++i) {
        const char c = s[i];
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return false;
    }
    return true;
}

// "YYYY.MM.DD" or "YYYY.MM.DD HH:MM"; the end of a range given as a date
// alone takes in that whole day.
uint32_t ParseRangeTime(const std::string& text, const char* option, bool endOfDay)
{
    CivilTime t;
    int32_t* parts[5] = {&t.year, &t.month, &t.day, &t.hour, &t.minute};
    int32_t count = 0;
    size_t i = 0;
    while (count < 5 && i < text.size()) {
        size_t j = i;
        while (j < text.size() && text[j] >= '0' && text[j] <= '9') ++j;
        if (j == i || j - i > 4) break;
        *parts[count++] = std::stoi(text.substr(i, j - i));
        i = j;
        if (i < text.size() && (text[i] == '.' || text[i] == '-' || text[i] == ' ' || text[i] == ':')) ++i;
    }
    std::optional<uint32_t> time = (count == 3 || count == 5) && i == text.size() ? ToBarTime(t) : std::nullopt;
    if (!time) throw TesterError(fmt::format("{} \"{}\": expected YYYY.MM.DD or \"YYYY.MM.DD HH:MM\"", option, text));
    if (count == 3 && endOfDay) return *time + 86399u;  // bar times end in 2106, this cannot wrap
    return *time;
}

void ChooseConversion(TestSettings& s, const Options& o)
{
    const std::string symbol = s.symbol;
    const std::string base = !o.base.empty() ? Upper(o.base) : IsLetters(symbol, 0, 6) ? Upper(symbol.substr(0, 3)) : "";
    const std::string quote =
        !o.quote.empty() ? Upper(o.quote) : IsLetters(symbol, 0, 6) ? Upper(symbol.substr(3, 3)) : "";
    const std::string account = Upper(s.currency);
    if (o.conversionRate) {
        s.conversion = Conversion::FixedRate;
        s.conversionRate = *o.conversionRate;
    } else if (!quote.empty() && account == quote) {
        s.conversion = Conversion::Direct;
    } else if (!base.empty() && account == base) {
        s.conversion = Conversion::DivideByPrice;
    } else if (quote.empty()) {
        throw TesterError(fmt::format("cannot tell the currencies of \"{}\": give --quote and --base, or "
                                      "--conversion-rate ({} per unit of the quote currency)",
                                      symbol, s.currency));
    } else {
        throw TesterError(fmt::format("{} profits are in {}, and the account currency {} is neither {} nor {}: "
                                      "give --conversion-rate ({} per {})",
                                      symbol, quote, s.currency, base, quote, s.currency, quote));
    }
}

struct Progress {
    std::ostream* err;
    int32_t shown = -1;
};

void DrawProgress(void* context, size_t done, size_t total)
{
    auto* p = static_cast<Progress*>(context);
    const int32_t percent = total == 0 ? 100 : static_cast<int32_t>(done * 100 / total);
    if (percent == p->shown) return;
    p->shown = percent;
    constexpr int32_t Width = 40;
    const int32_t filled = percent * Width / 100;
    *p->err << fmt::format("\r[{}{}] {:3}% {}/{} bars", std::string(static_cast<size_t>(filled), '#'),
                           std::string(static_cast<size_t>(Width - filled), ' '), percent, done, total);
    if (done == total) *p->err << "\n";
    p->err->flush();
}

void AddOptions(CLI::App& app, Options& o, TestSettings& s)
{
    app.add_option("--bars", o.bars, "Bar history: the History Center CSV export, or the same with a "
                                     "time,open,high,low,close,volume header")
        ->required();
    app.add_option("--symbol", o.symbol, "Symbol passed to the library (default: the leading letters of the file "
                                         "name, e.g. EURUSD from EURUSD_H1.csv)");
    app.add_option("--digits", o.digits, "Digits of the quotes (default: the most decimals in the file)");
    app.add_option("--spread", o.spread, "Spread in points: ask = bid + spread x point (default 12 on 3- and "
                                         "5-digit quotes, 2 otherwise)");
    app.add_option("--model", o.model, "open: one tick per bar at its open; ohlc: open, nearer extreme, other "
                                       "extreme, close")
        ->capture_default_str();
    app.add_option("--window", s.window, "Bars handed to the library on each tick, the forming one included (98 to 500)")
        ->capture_default_str();
    app.add_option("--pip-mode", o.pipMode, "pipMode passed to Rft (default 4 on 3- and 5-digit quotes, a pip of ten "
                                            "points; 5 otherwise)");
    app.add_option("--deposit", s.deposit, "Initial deposit")->capture_default_str();
    app.add_option("--currency", s.currency, "Account currency, also passed to IniAll")->capture_default_str();
    app.add_option("--leverage", s.leverage, "Leverage 1:N")->capture_default_str();
    app.add_option("--contract-size", s.contractSize, "Units of the base currency in one lot (also LOT's "
                                                      "lotDivisor)")
        ->capture_default_str();
    app.add_option("--stop-out", s.stopOutPercent, "Stop-out margin level in percent")->capture_default_str();
    app.add_option("--base", o.base, "Base currency (default: letters 1-3 of a six-letter symbol)");
    app.add_option("--quote", o.quote, "Quote currency (default: letters 4-6 of a six-letter symbol)");
    app.add_option("--conversion-rate", o.conversionRate,
                   "Fixed rate, account currency per unit of the quote currency, for symbols quoted in neither "
                   "the account currency nor against it");
    app.add_option("--max-positions", s.maxPositions, "Most positions open at once")->capture_default_str();
    app.add_option("--fixed-lot", s.fixedLot, "LOT: fixed lot")->capture_default_str();
    app.add_option("--risk", s.riskPercent, "LOT: risk percent (0 for the fixed lot)")->capture_default_str();
    app.add_option("--risk-multiplier", s.riskMultiplier, "LOT: risk multiplier")->capture_default_str();
    app.add_option("--min-lot", s.minLot, "LOT and broker: smallest lot")->capture_default_str();
    app.add_option("--max-lot", s.maxLot, "LOT and broker: largest lot")->capture_default_str();
    app.add_option("--lot-step", s.lotStep, "LOT: lot step")->capture_default_str();
    app.add_option("--risk-split", s.riskSplit, "LOT: parts the risk is split into")->capture_default_str();
    app.add_option("--from", o.from, "First day (or \"YYYY.MM.DD HH:MM\") of the test; earlier bars are history");
    app.add_option("--to", o.to, "Last day (or \"YYYY.MM.DD HH:MM\") of the test");
    app.add_option("--report", o.report, "Folder for report.json, trades.csv, equity.csv and report.html");
    app.add_option("--signals", o.signals, "fast: the library's decisions as shipped; reference: their "
                                           "straightforward form, to check that both trade alike (slow without "
                                           "a profile)")
        ->capture_default_str();
    app.add_flag("-q,--quiet", o.quiet, "No progress bar and no timing line on stderr");
    app.set_version_flag("--version", std::string("torvik-tester 1.0.0"));
}

void CheckOptions(const Options& o, const TestSettings& s)
{
    if (o.model != "open" && o.model != "ohlc") {
        throw CLI::ValidationError("--model", "\"" + o.model + "\" is neither open nor ohlc");
    }
    if (o.signals != "fast" && o.signals != "reference") {
        throw CLI::ValidationError("--signals", "\"" + o.signals + "\" is neither fast nor reference");
    }
    if (s.window < MinWindow || s.window > MaxWindow) {
        throw CLI::ValidationError("--window", fmt::format("{} is outside {} to {}: the library takes at most {} "
                                                           "bars and reads {} of them",
                                                           s.window, MinWindow, MaxWindow, MaxWindow, MinWindow));
    }
    if (o.digits && (*o.digits < 0 || *o.digits > 8)) throw CLI::ValidationError("--digits", "must be 0 to 8");
    if (o.spread && *o.spread < 0) throw CLI::ValidationError("--spread", "cannot be negative");
    if (!(s.deposit > 0.0) || !std::isfinite(s.deposit)) throw CLI::ValidationError("--deposit", "must be above 0");
    if (s.leverage < 1) throw CLI::ValidationError("--leverage", "must be 1 or more");
    if (s.contractSize < 1 || s.contractSize > 2147483647) {
        throw CLI::ValidationError("--contract-size", "must be 1 to 2147483647");
    }
    if (!(s.stopOutPercent >= 0.0)) throw CLI::ValidationError("--stop-out", "cannot be negative");
    if (s.maxPositions < 1) throw CLI::ValidationError("--max-positions", "must be 1 or more");
    if (!(s.minLot > 0.0)) throw CLI::ValidationError("--min-lot", "must be above 0");
    if (!(s.maxLot >= s.minLot)) throw CLI::ValidationError("--max-lot", "must not be below --min-lot");
    if (!(s.lotStep > 0.0)) throw CLI::ValidationError("--lot-step", "must be above 0");
    if (s.riskSplit < 1) throw CLI::ValidationError("--risk-split", "must be 1 or more");
    if (o.conversionRate && !(*o.conversionRate > 0.0 && std::isfinite(*o.conversionRate))) {
        throw CLI::ValidationError("--conversion-rate", "must be above 0");
    }
}

int RunTest(const Options& o, TestSettings s, std::ostream& out, std::ostream& err, bool progressBar)
{
    BarData data = ReadBarFile(o.bars);
    s.symbol = o.symbol.empty() ? SymbolFromFileName(o.bars) : o.symbol;
    if (s.symbol.empty()) throw TesterError(fmt::format("{}: cannot tell the symbol from the file name; give --symbol", o.bars));
    s.digits = o.digits.value_or(data.digits);
    s.point = 1.0 / std::pow(10.0, s.digits);
    s.spreadPoints = o.spread.value_or(DefaultSpreadPoints(s.digits));
    s.pipMode = o.pipMode.value_or(DefaultPipMode(s.digits));
    s.model = o.model == "ohlc" ? Model::Ohlc : Model::Open;
    if (!o.from.empty()) s.fromTime = ParseRangeTime(o.from, "--from", false);
    if (!o.to.empty()) s.toTime = ParseRangeTime(o.to, "--to", true);
    ChooseConversion(s, o);

    TestRun run;
    run.barFile = o.bars;
    run.format = data.format;
    run.timeframeSeconds = data.timeframeSeconds;
    run.barsInFile = data.bars.size();
    run.settings = s;

    Progress progress{&err};
    ReplayHooks hooks;
    if (o.signals == "reference") hooks.library = &ReferenceExports();
    if (progressBar && !o.quiet) {
        hooks.progress = &DrawProgress;
        hooks.progressContext = &progress;
    }
    const auto started = std::chrono::steady_clock::now();
    run.result = Replay(data.bars, s, hooks);
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - started;
    run.firstBarTime = data.bars[run.result.firstBar].time;
    run.lastBarTime = data.bars[run.result.lastBar].time;
    run.figures = ComputeFigures(run.result.trades, run.result.equity, s.deposit);

    if (!o.report.empty()) WriteReport(o.report, run);
    out << ConsoleSummary(run);
    if (!o.report.empty()) out << fmt::format("{:<44}{}\n", "Report", o.report);
    if (!o.quiet) {
        const size_t bars = run.result.lastBar - run.result.firstBar + 1;
        err << fmt::format("replayed {} bars ({} ticks) in {:.2f} s: {:.0f} bars/s\n", bars, run.result.ticks,
                           seconds.count(), seconds.count() > 0.0 ? static_cast<double>(bars) / seconds.count() : 0.0);
    }
    return 0;
}

}  // namespace

int RunTester(int argc, const char* const* argv, std::ostream& out, std::ostream& err, bool progressBar)
{
    CLI::App app{"Replays bar history through the library's exports as the expert advisor does, simulates the "
                 "broker and writes the test report.",
                 Program};
    app.footer("Example:\n  torvik-tester --bars data/EURUSD_H1.csv --symbol EURUSD --deposit 10000 --spread 12 "
               "--report out/EURUSD_H1");
    app.get_formatter()->column_width(30);
    Options o;
    TestSettings s;
    AddOptions(app, o, s);
    try {
        app.parse(argc, argv);
        CheckOptions(o, s);
    } catch (const CLI::CallForHelp&) {
        out << app.help();
        return 0;
    } catch (const CLI::CallForVersion&) {
        out << "torvik-tester 1.0.0\n";
        return 0;
    } catch (const CLI::ParseError& e) {
        err << Program << ": " << e.what() << "\n" << "Run with --help for the options.\n";
        return 2;
    }
    try {
        return RunTest(o, s, out, err, progressBar);
    } catch (const TesterError& e) {
        err << Program << ": " << e.what() << "\n";
        return 1;
    } catch (const std::exception& e) {
        err << Program << ": " << e.what() << "\n";
        return 1;
    }
}

}  // namespace torvik::tester
