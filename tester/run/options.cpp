#include "tester/run/options.h"

#include <charconv>
#include <cmath>
#include <limits>

#include <fmt/format.h>

#include "tester/data/bar_time.h"

namespace torvik::tester {

namespace {

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

template <typename T>
T Whole(const std::string& text, const char* option, T lo, T hi, const char* range)
{
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) {
        throw OptionError(option, fmt::format("\"{}\" is not a whole number", text));
    }
    if (value < lo || value > hi) throw OptionError(option, fmt::format("{} {}", value, range));
    return value;
}

double Real(const std::string& text, const char* option)
{
    double value = 0.0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
        throw OptionError(option, fmt::format("\"{}\" is not a number", text));
    }
    return value;
}

// "YYYY.MM.DD" or "YYYY.MM.DD HH:MM"; the end of a range given as a date
// alone takes in that whole day.
uint32_t RangeTime(const std::string& text, const char* option, bool endOfDay)
{
    CivilTime t;
    int32_t* parts[5] = {&t.year, &t.month, &t.day, &t.hour, &t.minute};
    int32_t count = 0;
    size_t i = 0;
    while (count < 5 && i < text.size()) {
        size_t j = i;
        while (j < text.size() && text[j] >= '0' && text[j] <= '9') ++j;
        if (j == i || j - i > 4) break;
        std::from_chars(text.data() + i, text.data() + j, *parts[count++]);
        i = j;
        if (i < text.size() && (text[i] == '.' || text[i] == '-' || text[i] == ' ' || text[i] == ':')) ++i;
    }
    const std::optional<uint32_t> time =
        (count == 3 || count == 5) && i == text.size() ? ToBarTime(t) : std::nullopt;
    if (!time) throw OptionError(option, fmt::format("\"{}\": expected YYYY.MM.DD or \"YYYY.MM.DD HH:MM\"", text));
    if (count == 3 && endOfDay) return *time + 86399u;  // bar times end in 2106, this cannot wrap
    return *time;
}

double Positive(const std::string& text, const char* option)
{
    const double x = Real(text, option);
    if (!(x > 0.0)) throw OptionError(option, "must be above 0");
    return x;
}

constexpr int32_t IntMax = std::numeric_limits<int32_t>::max();

const std::vector<OptionSpec> Table = {
    {"bars", "The data: bars (History Center, header CSV or the terminal's bar export) or ticks (the terminal's "
             "tick export); the format is recognised from the first line",
     nullptr, false, true, [](RunInputs& in, const std::string& t) { in.bars = t; }},
    {"symbol", "Symbol passed to the library (default: the leading letters of the file name, e.g. EURUSD from "
               "EURUSD_H1.csv)",
     nullptr, false, false, [](RunInputs& in, const std::string& t) { in.symbol = t; }},
    {"timeframe", "Chart timeframe: M1 M5 M15 M30 H1 H4 D1 W1 MN1 (default: the file's own; H1 for ticks); above "
                  "the file's, chart bars are built from its bars",
     nullptr, false, false,
     [](RunInputs& in, const std::string& t) {
         in.timeframe = ParseTimeframe(t);
         if (!in.timeframe) throw OptionError("timeframe", fmt::format("\"{}\" is not one of M1 M5 M15 M30 H1 H4 D1 W1 MN1", t));
     }},
    {"model", "Price path: open, ohlc, lower, ticks (default: ticks for a tick file, lower when the chart's "
              "timeframe is above the file's, else open)",
     nullptr, false, false,
     [](RunInputs& in, const std::string& t) {
         for (const Model m : {Model::Open, Model::Ohlc, Model::Lower, Model::Ticks}) {
             if (t == ModelName(m)) {
                 in.model = m;
                 return;
             }
         }
         throw OptionError("model", fmt::format("\"{}\" is none of open, ohlc, lower, ticks", t));
     }},
    {"decide", "When the expert runs: bar (once per chart bar, at its first tick, as the shipped expert) or tick "
               "(on every modelled tick)",
     "bar", false, false,
     [](RunInputs& in, const std::string& t) {
         if (t != "bar" && t != "tick") throw OptionError("decide", fmt::format("\"{}\" is neither bar nor tick", t));
         in.decide = t == "bar" ? Cadence::Bar : Cadence::Tick;
     }},
    {"digits", "Digits of the quotes (default: the most decimals in the file)", nullptr, false, false,
     [](RunInputs& in, const std::string& t) { in.digits = Whole<int32_t>(t, "digits", 0, MaxDigits, "must be 0 to 8"); }},
    {"spread", "Spread in points for every tick: ask = bid + spread x point (default: the data's spread where it "
               "has one, else 12 on 3- and 5-digit quotes and 2 otherwise)",
     nullptr, false, false,
     [](RunInputs& in, const std::string& t) { in.spread = Whole<int32_t>(t, "spread", 0, IntMax, "cannot be negative"); }},
    {"window", "Bars handed to the library on each update, the forming one included (98 to 500)", "300", false,
     false,
     [](RunInputs& in, const std::string& t) {
         in.window = Whole<int32_t>(t, "window", MinWindow, MaxWindow,
                                    fmt::format("is outside {} to {}: the library takes at most {} bars and reads {} of "
                                                "them",
                                                MinWindow, MaxWindow, MaxWindow, MinWindow)
                                        .c_str());
     }},
    {"pip-mode", "pipMode passed to Rft (default 4 on 3- and 5-digit quotes, a pip of ten points; 5 otherwise)",
     nullptr, false, false,
     [](RunInputs& in, const std::string& t) { in.pipMode = Whole<int32_t>(t, "pip-mode", -IntMax, IntMax, ""); }},
    {"deposit", "Initial deposit", "10000", false, false,
     [](RunInputs& in, const std::string& t) { in.deposit = Positive(t, "deposit"); }},
    {"currency", "Account currency, also passed to IniAll", "USD", false, false,
     [](RunInputs& in, const std::string& t) { in.currency = t; }},
    {"leverage", "Leverage 1:N", "100", false, false,
     [](RunInputs& in, const std::string& t) { in.leverage = Whole<int32_t>(t, "leverage", 1, IntMax, "must be 1 or more"); }},
    {"contract-size", "Units of the base currency in one lot (also LOT's lotDivisor)", "100000", false, false,
     [](RunInputs& in, const std::string& t) {
         in.contractSize = Whole<int64_t>(t, "contract-size", 1, IntMax, "must be 1 to 2147483647");
     }},
    {"stop-out", "Stop-out margin level in percent", "50", false, false,
     [](RunInputs& in, const std::string& t) {
         in.stopOut = Real(t, "stop-out");
         if (!(in.stopOut >= 0.0)) throw OptionError("stop-out", "cannot be negative");
     }},
    {"base", "Base currency (default: letters 1-3 of a six-letter symbol)", nullptr, false, false,
     [](RunInputs& in, const std::string& t) { in.base = Upper(t); }},
    {"quote", "Quote currency (default: letters 4-6 of a six-letter symbol)", nullptr, false, false,
     [](RunInputs& in, const std::string& t) { in.quote = Upper(t); }},
    {"conversion-rate", "Fixed rate, account currency per unit of the quote currency, for symbols quoted in "
                        "neither the account currency nor against it",
     nullptr, false, false,
     [](RunInputs& in, const std::string& t) { in.conversionRate = Positive(t, "conversion-rate"); }},
    {"max-positions", "Most positions open at once", "3", false, false,
     [](RunInputs& in, const std::string& t) {
         in.maxPositions = Whole<int32_t>(t, "max-positions", 1, IntMax, "must be 1 or more");
     }},
    {"fixed-lot", "LOT: fixed lot", "0.1", false, false,
     [](RunInputs& in, const std::string& t) { in.fixedLot = Real(t, "fixed-lot"); }},
    {"risk", "LOT: risk percent (0 for the fixed lot)", "2", false, false,
     [](RunInputs& in, const std::string& t) { in.riskPercent = Real(t, "risk"); }},
    {"risk-multiplier", "LOT: risk multiplier", "1", false, false,
     [](RunInputs& in, const std::string& t) { in.riskMultiplier = Real(t, "risk-multiplier"); }},
    {"min-lot", "LOT and broker: smallest lot", "0.01", false, false,
     [](RunInputs& in, const std::string& t) { in.minLot = Positive(t, "min-lot"); }},
    {"max-lot", "LOT and broker: largest lot", "100", false, false,
     [](RunInputs& in, const std::string& t) { in.maxLot = Real(t, "max-lot"); }},
    {"lot-step", "LOT: lot step", "0.01", false, false,
     [](RunInputs& in, const std::string& t) { in.lotStep = Positive(t, "lot-step"); }},
    {"risk-split", "LOT: parts the risk is split into", "1", false, false,
     [](RunInputs& in, const std::string& t) {
         in.riskSplit = Whole<int32_t>(t, "risk-split", 1, IntMax, "must be 1 or more");
     }},
    {"from", "First day (or \"YYYY.MM.DD HH:MM\") of the test; earlier bars are history", nullptr, false, false,
     [](RunInputs& in, const std::string& t) { in.from = RangeTime(t, "from", false); }},
    {"to", "Last day (or \"YYYY.MM.DD HH:MM\") of the test", nullptr, false, false,
     [](RunInputs& in, const std::string& t) { in.to = RangeTime(t, "to", true); }},
    {"equity", "equity.csv rows: bars (one per chart bar) or ticks (one per modelled tick)", "bars", false, false,
     [](RunInputs& in, const std::string& t) {
         if (t != "bars" && t != "ticks") throw OptionError("equity", fmt::format("\"{}\" is neither bars nor ticks", t));
         in.equity = t == "bars" ? EquityRows::Bars : EquityRows::Ticks;
     }},
    {"report", "Folder for report.json, trades.csv, equity.csv and report.html", nullptr, false, false,
     [](RunInputs& in, const std::string& t) { in.report = t; }},
    {"signals", "fast: the library's decisions as shipped; reference: their straightforward form, to check that "
                "both trade alike (slow without a profile)",
     "fast", false, false,
     [](RunInputs& in, const std::string& t) {
         if (t != "fast" && t != "reference") {
             throw OptionError("signals", fmt::format("\"{}\" is neither fast nor reference", t));
         }
         in.signals = t == "fast" ? Signals::Fast : Signals::Reference;
     }},
    {"quiet", "No progress bar and no timing line on stderr", nullptr, true, false,
     [](RunInputs& in, const std::string& t) { in.quiet = t != "false" && t != "0"; }},
};

void ChooseConversion(TestSettings& s, const RunInputs& in)
{
    const std::string& symbol = s.symbol;
    const std::string base = !in.base.empty() ? in.base : IsLetters(symbol, 0, 6) ? Upper(symbol.substr(0, 3)) : "";
    const std::string quote = !in.quote.empty() ? in.quote : IsLetters(symbol, 0, 6) ? Upper(symbol.substr(3, 3)) : "";
    const std::string account = Upper(s.currency);
    if (in.conversionRate) {
        s.conversion = Conversion::FixedRate;
        s.conversionRate = *in.conversionRate;
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

}  // namespace

const std::vector<OptionSpec>& RunOptions() { return Table; }

void ApplyOption(RunInputs& inputs, std::string_view name, const std::string& text)
{
    for (const OptionSpec& o : Table) {
        if (name == o.name) {
            o.apply(inputs, text);
            inputs.given[o.name] = text;
            return;
        }
    }
    throw OptionError(std::string(name), "no such option");
}

RunInputs DefaultInputs()
{
    RunInputs in;
    for (const OptionSpec& o : Table) {
        if (o.defaultText != nullptr) o.apply(in, o.defaultText);
    }
    return in;
}

void CheckInputs(const RunInputs& in)
{
    if (!(in.maxLot >= in.minLot)) throw OptionError("max-lot", "must not be below --min-lot");
    if (in.from && in.to && *in.to < *in.from) throw OptionError("to", "comes before --from");
}

RunSpec ResolveRun(const RunInputs& in, const FileInfo& info, const LoadedData* loaded)
{
    TestSettings s;
    s.symbol = in.symbol.empty() ? SymbolFromFileName(in.bars) : in.symbol;
    if (s.symbol.empty()) {
        throw TesterError(fmt::format("{}: cannot tell the symbol from the file name; give --symbol", in.bars));
    }
    s.digits = in.digits.value_or(info.digits);
    s.point = 1.0 / std::pow(10.0, s.digits);
    s.spreadFixed = in.spread.has_value();
    s.spreadPoints = in.spread.value_or(DefaultSpreadPoints(s.digits));
    s.pipMode = in.pipMode.value_or(DefaultPipMode(s.digits));

    // The chart: the file's own timeframe unless asked for another; a tick
    // file has none, and its chart is H1 unless asked.
    constexpr uint32_t TickChartDefault = 3600;
    const uint32_t fileTimeframe = info.timeframeSeconds;
    uint32_t chart = in.timeframe.value_or(info.IsTicks() ? TickChartDefault : fileTimeframe);
    if (!info.IsTicks() && fileTimeframe != 0 && chart < fileTimeframe) {
        throw OptionError("timeframe", fmt::format("{} is below the timeframe of {} ({})", TimeframeName(chart),
                                                   in.bars, TimeframeName(fileTimeframe)));
    }
    if (!info.IsTicks() && fileTimeframe == 0) chart = in.timeframe.value_or(0);
    const bool lower = info.IsTicks() || (fileTimeframe != 0 && chart > fileTimeframe);
    s.timeframeSeconds = chart == fileTimeframe && !info.IsTicks() ? 0 : chart;

    s.model = in.model.value_or(info.IsTicks() ? Model::Ticks : lower ? Model::Lower : Model::Open);
    if (s.model == Model::Ticks && !info.IsTicks()) {
        throw OptionError("model", fmt::format("ticks needs a tick file; {} holds bars", in.bars));
    }
    if (s.model == Model::Lower && (info.IsTicks() || !lower)) {
        throw OptionError("model", info.IsTicks()
                                       ? fmt::format("lower needs bars; {} holds ticks (use ticks)", in.bars)
                                       : fmt::format("lower needs bars of a lower timeframe than the chart's {}: "
                                                     "give --timeframe",
                                                     TimeframeName(chart)));
    }
    s.cadence = in.decide;
    s.equityRows = in.equity;
    s.window = in.window;
    s.deposit = in.deposit;
    s.currency = in.currency;
    s.leverage = in.leverage;
    s.contractSize = in.contractSize;
    s.stopOutPercent = in.stopOut;
    s.maxPositions = in.maxPositions;
    s.fixedLot = in.fixedLot;
    s.riskPercent = in.riskPercent;
    s.riskMultiplier = in.riskMultiplier;
    s.minLot = in.minLot;
    s.maxLot = in.maxLot;
    s.lotStep = in.lotStep;
    s.riskSplit = in.riskSplit;
    if (in.from) s.fromTime = *in.from;
    if (in.to) s.toTime = *in.to;
    ChooseConversion(s, in);

    RunSpec spec;
    spec.settings = s;
    spec.charts.push_back(ChartSource{in.bars, loaded, info});
    return spec;
}

}  // namespace torvik::tester
