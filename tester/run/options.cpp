#include "tester/run/options.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include <fmt/format.h>

#include "tester/data/bar_time.h"
#include "tester/data/instruments.h"
#include "tester/market/account.h"
#include "tester/market/conversion.h"

namespace torvik::tester {

namespace {

std::string Upper(std::string s)
{
    for (char& c : s) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return s;
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

const std::vector<OptionEntry> Table = {
    {"bars", "The data: bars (History Center, header CSV or the terminal's bar export) or ticks (the terminal's "
             "tick export); the format is recognised from the first line. Once per chart (or files joined by +): "
             "several charts trade one account",
     nullptr, false, true,
     [](RunInputs& in, const std::string& t) {
         if (t.empty()) throw OptionError("bars", "names no file");
         in.bars = in.bars.empty() ? t : in.bars + "+" + t;
     },
     true},
    {"symbol", "Symbol passed to the library and looked up in the instrument table, once per chart (default: the "
               "leading letters of the file name, e.g. EURUSD from EURUSD_H1.csv)",
     nullptr, false, false,
     [](RunInputs& in, const std::string& t) {
         if (t.empty()) throw OptionError("symbol", "is empty");
         in.symbols.push_back(t);
     },
     true},
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
    {"digits", "Digits of the quotes (default: the instrument table's, or the file's when it has more decimals; "
               "without a row, the most decimals in the file)",
     nullptr, false, false,
     [](RunInputs& in, const std::string& t) { in.digits = Whole<int32_t>(t, "digits", 0, MaxDigits, "must be 0 to 8"); }},
    {"spread", "Spread in points for every tick: ask = bid + spread x point (default: the data's spread where it "
               "has one, else the instrument table's typical spread, else 12 on 3- and 5-digit quotes and 2 "
               "otherwise)",
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
    {"leverage", "The account's leverage 1:N", "100", false, false,
     [](RunInputs& in, const std::string& t) { in.leverage = Whole<int32_t>(t, "leverage", 1, IntMax, "must be 1 or more"); }},
    {"contract-size", "Units in one lot (also LOT's lotDivisor; default: the instrument table's, else 100000)",
     nullptr, false, false,
     [](RunInputs& in, const std::string& t) {
         in.contractSize = Whole<int64_t>(t, "contract-size", 1, IntMax, "must be 1 to 2147483647");
     }},
    {"stop-out", "Stop-out margin level in percent", "50", false, false,
     [](RunInputs& in, const std::string& t) {
         in.stopOut = Real(t, "stop-out");
         if (!(in.stopOut >= 0.0)) throw OptionError("stop-out", "cannot be negative");
     }},
    {"base", "Base currency (default: the instrument table's, else letters 1-3 of a six-letter symbol)", nullptr,
     false, false,
     [](RunInputs& in, const std::string& t) { in.base = Upper(t); }},
    {"quote", "Quote (profit) currency (default: the instrument table's, else letters 4-6 of a six-letter symbol)",
     nullptr, false, false,
     [](RunInputs& in, const std::string& t) { in.quote = Upper(t); }},
    {"conversion-rate", "Fixed rate, account currency per unit of the quote currency, once per chart, for symbols "
                        "quoted in neither the account currency nor against it when no chart of the run converts "
                        "them",
     nullptr, false, false,
     [](RunInputs& in, const std::string& t) { in.conversionRates.push_back(Positive(t, "conversion-rate")); },
     true},
    {"max-positions", "Most positions open at once per symbol", "3", false, false,
     [](RunInputs& in, const std::string& t) {
         in.maxPositions = Whole<int32_t>(t, "max-positions", 1, IntMax, "must be 1 or more");
     }},
    {"fixed-lot", "LOT: fixed lot", "0.1", false, false,
     [](RunInputs& in, const std::string& t) { in.fixedLot = Real(t, "fixed-lot"); }},
    {"risk", "LOT: risk percent, 0 for the fixed lot (default: 2 for currency pairs, 0 for other kinds of the "
             "instrument table: LOT's sizing counts units of the contract, blind to their price)",
     nullptr, false, false, [](RunInputs& in, const std::string& t) { in.riskPercent = Real(t, "risk"); }},
    {"risk-multiplier", "LOT: risk multiplier", "1", false, false,
     [](RunInputs& in, const std::string& t) { in.riskMultiplier = Real(t, "risk-multiplier"); }},
    {"min-lot", "LOT and broker: smallest lot (default: the instrument table's, else 0.01)", nullptr, false, false,
     [](RunInputs& in, const std::string& t) { in.minLot = Positive(t, "min-lot"); }},
    {"max-lot", "LOT and broker: largest lot (default: the instrument table's, else 100)", nullptr, false, false,
     [](RunInputs& in, const std::string& t) { in.maxLot = Real(t, "max-lot"); }},
    {"lot-step", "LOT: lot step (default: the instrument table's, else 0.01)", nullptr, false, false,
     [](RunInputs& in, const std::string& t) { in.lotStep = Positive(t, "lot-step"); }},
    {"risk-split", "LOT: parts the risk is split into", "1", false, false,
     [](RunInputs& in, const std::string& t) {
         in.riskSplit = Whole<int32_t>(t, "risk-split", 1, IntMax, "must be 1 or more");
     }},
    {"symbols", "Instrument table of one's own (CSV, the bundled table's columns) instead of the bundled one",
     nullptr, false, false, [](RunInputs& in, const std::string& t) { in.symbolsFile = t; }},
    {"margin-currency", "Currency the margin is counted in (default: the instrument table's, else the base)",
     nullptr, false, false, [](RunInputs& in, const std::string& t) { in.marginCurrency = Upper(t); }},
    {"margin-mode", "Margin of one lot: forex (contract / leverage) or cfd (contract x price / leverage), in the "
                    "margin currency (default: the instrument table's, else forex)",
     nullptr, false, false,
     [](RunInputs& in, const std::string& t) {
         if (t != "forex" && t != "cfd") throw OptionError("margin-mode", fmt::format("\"{}\" is neither forex nor cfd", t));
         in.marginMode = t == "forex" ? MarginMode::Forex : MarginMode::Cfd;
     }},
    {"max-leverage", "The symbol's own leverage limit 1:N, 0 for none (default: the instrument table's, else 0)",
     nullptr, false, false,
     [](RunInputs& in, const std::string& t) { in.maxLeverage = Whole<int32_t>(t, "max-leverage", 0, IntMax, "cannot be negative"); }},
    {"stop-level", "The broker's stop level in points: levels must lie this far beyond the price (default: the "
                   "instrument table's, else 0)",
     nullptr, false, false,
     [](RunInputs& in, const std::string& t) { in.stopLevel = Whole<int32_t>(t, "stop-level", 0, IntMax, "cannot be negative"); }},
    {"freeze-level", "The broker's freeze level in points: a position whose take-profit or stop-loss is this close "
                     "cannot be closed (default: the instrument table's, else 0)",
     nullptr, false, false,
     [](RunInputs& in, const std::string& t) { in.freezeLevel = Whole<int32_t>(t, "freeze-level", 0, IntMax, "cannot be negative"); }},
    {"stops-too-close", "A level closer than the stop level: move (out to it, as the expert's default) or refuse "
                        "(the expert sends no order)",
     "move", false, false,
     [](RunInputs& in, const std::string& t) {
         if (t != "move" && t != "refuse") {
             throw OptionError("stops-too-close", fmt::format("\"{}\" is neither move nor refuse", t));
         }
         in.stopsTooClose = t == "move" ? StopsTooClose::Move : StopsTooClose::Refuse;
     }},
    {"costs", "none: commission and swaps only from their options; table: from the instrument table, the options "
              "over it",
     "none", false, false,
     [](RunInputs& in, const std::string& t) {
         if (t != "none" && t != "table") throw OptionError("costs", fmt::format("\"{}\" is neither none nor table", t));
         in.tableCosts = t == "table";
     }},
    {"commission", "Commission in account money per lot, charged in full when a position opens (default 0)",
     nullptr, false, false,
     [](RunInputs& in, const std::string& t) {
         in.commission = Real(t, "commission");
         if (*in.commission < 0.0) throw OptionError("commission", "cannot be negative");
     }},
    {"commission-per", "The commission is per round-turn (once per lot) or per side (twice)", nullptr, false, false,
     [](RunInputs& in, const std::string& t) {
         if (t != "round-turn" && t != "side") {
             throw OptionError("commission-per", fmt::format("\"{}\" is neither round-turn nor side", t));
         }
         in.commissionPer = t == "side" ? CommissionPer::Side : CommissionPer::RoundTurn;
     }},
    {"swap-long", "Swap of a buy per lot per night, in --swap-unit (default 0)", nullptr, false, false,
     [](RunInputs& in, const std::string& t) { in.swapLong = Real(t, "swap-long"); }},
    {"swap-short", "Swap of a sell per lot per night, in --swap-unit (default 0)", nullptr, false, false,
     [](RunInputs& in, const std::string& t) { in.swapShort = Real(t, "swap-short"); }},
    {"swap-unit", "points (of price, converted like a profit) or money (account money)", nullptr, false, false,
     [](RunInputs& in, const std::string& t) {
         if (t != "points" && t != "money") throw OptionError("swap-unit", fmt::format("\"{}\" is neither points nor money", t));
         in.swapUnit = t == "points" ? SwapUnit::Points : SwapUnit::Money;
     }},
    {"rollover-hour", "Hour of the daily rollover in server time", "0", false, false,
     [](RunInputs& in, const std::string& t) { in.rolloverHour = Whole<int32_t>(t, "rollover-hour", 0, 23, "is outside 0 to 23"); }},
    {"triple-day", "The day whose rollover charges three nights: mon tue wed thu fri (default: the instrument "
                   "table's, else wed)",
     nullptr, false, false,
     [](RunInputs& in, const std::string& t) {
         in.tripleDay = ParseTradingDay(t);
         if (*in.tripleDay < 0) throw OptionError("triple-day", fmt::format("\"{}\" is none of mon tue wed thu fri", t));
     }},
    {"slippage", "Points against the trader on market fills and stop-losses: N, or A:B for a whole number drawn "
                 "from A to B",
     "0", false, false,
     [](RunInputs& in, const std::string& t) {
         const size_t colon = t.find(':');
         in.slippageMin = Whole<int32_t>(t.substr(0, colon), "slippage", 0, IntMax, "cannot be negative");
         in.slippageMax = colon == std::string::npos
                              ? in.slippageMin
                              : Whole<int32_t>(t.substr(colon + 1), "slippage", 0, IntMax, "cannot be negative");
         if (in.slippageMax < in.slippageMin) throw OptionError("slippage", fmt::format("{}: B is below A", t));
     }},
    {"seed", "Seed of the slippage's generator", "1", false, false,
     [](RunInputs& in, const std::string& t) {
         in.seed = Whole<uint64_t>(t, "seed", 0, std::numeric_limits<uint64_t>::max(), "");
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

// A point value of a row written for `rowDigits`, on a grid of `digits`.
int32_t ScalePoints(int32_t points, int32_t rowDigits, int32_t digits)
{
    int64_t p = points;
    for (int32_t d = rowDigits; d < digits && p < IntMax; ++d) p *= 10;
    return static_cast<int32_t>(std::min<int64_t>(p, IntMax));
}

double ScalePoints(double points, int32_t rowDigits, int32_t digits)
{
    return digits > rowDigits ? points * std::pow(10.0, digits - rowDigits) : points;
}

// The instrument, the model and the expert's inputs of one chart.
TestSettings ResolveChart(const RunInputs& in, const ChartSource& source, const std::string& symbol,
                          const InstrumentTable& table)
{
    const FileInfo& info = source.info;
    const std::string& file = source.file;
    TestSettings s;
    s.symbol = symbol;
    const InstrumentRecord* row = MatchInstrument(table, symbol);
    const auto given = [&s](const char* option, bool isGiven) {
        if (isGiven) s.overridden.push_back(option);
    };
    if (row != nullptr) {
        s.instrumentSource = fmt::format("{} row of the {} table", row->symbol,
                                         table.name == "bundled" ? std::string("bundled") : table.name);
        s.kind = row->kind;
    } else {
        s.instrumentSource = fmt::format("defaults ({} matches no row of the {} table)", symbol, table.name);
    }

    // Digits: the row's, unless the file prints more decimals; the row's
    // point values then scale to the finer grid.
    const int32_t rowDigits = row != nullptr ? row->digits : info.digits;
    s.digits = in.digits.value_or(row != nullptr ? std::max(row->digits, info.digits) : info.digits);
    given("digits", in.digits.has_value());
    s.point = 1.0 / std::pow(10.0, s.digits);
    const auto points = [&](int32_t p) { return ScalePoints(p, rowDigits, s.digits); };
    s.spreadFixed = in.spread.has_value();
    s.spreadPoints = in.spread.value_or(row != nullptr ? points(row->spread) : DefaultSpreadPoints(s.digits));
    given("spread", in.spread.has_value());
    s.pipMode = in.pipMode.value_or(DefaultPipMode(s.digits));

    // The chart: the file's own timeframe unless asked for another; a tick
    // file has none, and its chart is H1 unless asked.
    constexpr uint32_t TickChartDefault = 3600;
    const uint32_t fileTimeframe = info.timeframeSeconds;
    uint32_t chart = in.timeframe.value_or(info.IsTicks() ? TickChartDefault : fileTimeframe);
    if (!info.IsTicks() && fileTimeframe != 0 && chart < fileTimeframe) {
        throw OptionError("timeframe", fmt::format("{} is below the timeframe of {} ({})", TimeframeName(chart), file,
                                                   TimeframeName(fileTimeframe)));
    }
    if (!info.IsTicks() && fileTimeframe == 0) chart = in.timeframe.value_or(0);
    const bool lower = info.IsTicks() || (fileTimeframe != 0 && chart > fileTimeframe);
    s.timeframeSeconds = chart == fileTimeframe && !info.IsTicks() ? 0 : chart;

    s.model = in.model.value_or(info.IsTicks() ? Model::Ticks : lower ? Model::Lower : Model::Open);
    if (s.model == Model::Ticks && !info.IsTicks()) {
        throw OptionError("model", fmt::format("ticks needs a tick file; {} holds bars", file));
    }
    if (s.model == Model::Lower && (info.IsTicks() || !lower)) {
        throw OptionError("model", info.IsTicks()
                                       ? fmt::format("lower needs bars; {} holds ticks (use ticks)", file)
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
    s.stopOutPercent = in.stopOut;
    s.maxPositions = in.maxPositions;
    s.fixedLot = in.fixedLot;
    s.riskMultiplier = in.riskMultiplier;
    s.riskSplit = in.riskSplit;
    if (in.from) s.fromTime = *in.from;
    if (in.to) s.toTime = *in.to;

    // The instrument: an option, else the row, else the default.
    constexpr int64_t DefaultContract = 100000;
    constexpr double DefaultMinLot = 0.01, DefaultMaxLot = 100.0, DefaultLotStep = 0.01, DefaultRisk = 2.0;
    s.contractSize = in.contractSize.value_or(row != nullptr ? row->contractSize : DefaultContract);
    given("contract-size", in.contractSize.has_value());
    s.minLot = in.minLot.value_or(row != nullptr ? row->minLot : DefaultMinLot);
    given("min-lot", in.minLot.has_value());
    s.maxLot = in.maxLot.value_or(row != nullptr ? row->maxLot : DefaultMaxLot);
    given("max-lot", in.maxLot.has_value());
    s.lotStep = in.lotStep.value_or(row != nullptr ? row->lotStep : DefaultLotStep);
    given("lot-step", in.lotStep.has_value());
    if (!(s.maxLot >= s.minLot)) throw OptionError("max-lot", fmt::format("{} must not be below the smallest lot {} of {}", s.maxLot, s.minLot, symbol));
    // LOT's risk sizing gives hundreds of the contract in units of the margin
    // currency, whatever they cost: made for currency pairs.
    s.riskPercent = in.riskPercent.value_or(row != nullptr && row->kind != "fx" ? 0.0 : DefaultRisk);
    s.base = !in.base.empty() ? in.base : row != nullptr ? row->base : SymbolBase(symbol);
    given("base", !in.base.empty());
    s.profitCurrency = !in.quote.empty() ? in.quote : row != nullptr ? row->profit : SymbolProfit(symbol);
    given("quote", !in.quote.empty());
    s.marginCurrency = !in.marginCurrency.empty() ? in.marginCurrency : row != nullptr ? row->margin : s.base;
    given("margin-currency", !in.marginCurrency.empty());
    s.marginMode = in.marginMode.value_or(row != nullptr ? row->marginMode : MarginMode::Forex);
    given("margin-mode", in.marginMode.has_value());
    s.maxLeverage = in.maxLeverage.value_or(row != nullptr ? row->maxLeverage : 0);
    given("max-leverage", in.maxLeverage.has_value());
    s.stopLevel = in.stopLevel.value_or(row != nullptr ? points(row->stopLevel) : 0);
    given("stop-level", in.stopLevel.has_value());
    s.freezeLevel = in.freezeLevel.value_or(row != nullptr ? points(row->freezeLevel) : 0);
    given("freeze-level", in.freezeLevel.has_value());
    s.stopsTooClose = in.stopsTooClose;

    // Costs: none unless asked for, by option or from the table.
    const bool costs = in.tableCosts && row != nullptr;
    s.commission = in.commission.value_or(costs ? row->commission : 0.0);
    given("commission", in.commission.has_value());
    s.commissionPer = in.commissionPer.value_or(costs ? row->commissionPer : CommissionPer::RoundTurn);
    given("commission-per", in.commissionPer.has_value());
    s.swapUnit = in.swapUnit.value_or(row != nullptr ? row->swapUnit : SwapUnit::Points);
    given("swap-unit", in.swapUnit.has_value());
    const bool rowPoints = costs && row->swapUnit == SwapUnit::Points && s.swapUnit == SwapUnit::Points;
    const auto swap = [&](double rate) { return rowPoints ? ScalePoints(rate, rowDigits, s.digits) : costs ? rate : 0.0; };
    s.swapLong = in.swapLong.value_or(swap(costs ? row->swapLong : 0.0));
    given("swap-long", in.swapLong.has_value());
    s.swapShort = in.swapShort.value_or(swap(costs ? row->swapShort : 0.0));
    given("swap-short", in.swapShort.has_value());
    s.tripleDay = in.tripleDay.value_or(row != nullptr ? row->tripleDay : 3);
    given("triple-day", in.tripleDay.has_value());
    s.rolloverHour = in.rolloverHour;
    s.slippageMin = in.slippageMin;
    s.slippageMax = in.slippageMax;
    s.seed = in.seed;
    return s;
}

// How each chart's profits and margins reach the account currency; throws
// when there is no way.
void ChooseConversions(std::vector<TestSettings>& charts)
{
    std::vector<ChartCurrencies> currencies;
    for (const TestSettings& s : charts) currencies.push_back(CurrenciesOf(s));
    for (size_t c = 0; c < charts.size(); ++c) {
        TestSettings& s = charts[c];
        const ChartCurrencies& cur = currencies[c];
        const std::string account = Upper(s.currency);
        const std::optional<ConversionRoute> profit = FindRoute(currencies, c, cur.profit, account);
        if (!profit && cur.profit.empty()) {
            throw TesterError(fmt::format("cannot tell the currencies of \"{}\": give --quote and --base, or "
                                          "--conversion-rate ({} per unit of the quote currency)",
                                          s.symbol, s.currency));
        }
        if (!profit) {
            throw TesterError(fmt::format("{} profits are in {}, and the account currency {} is neither {} nor {}: "
                                          "give --conversion-rate ({} per {}), or run a chart of {}{} with it",
                                          s.symbol, cur.profit, s.currency, cur.base, cur.profit, s.currency,
                                          cur.profit, cur.profit, account));
        }
        const std::string margin = !s.marginCurrency.empty() ? Upper(s.marginCurrency) : cur.base;
        if (!FindRoute(currencies, c, margin, account)) {
            throw TesterError(fmt::format("{}: its margin is counted in {}, which nothing converts into {}: give "
                                          "--margin-currency, or run a chart of {}{} with it",
                                          s.symbol, margin, s.currency, margin, account));
        }
        if (cur.fixedRate) continue;
        s.conversion = Conversion::Direct;
        for (int32_t i = 0; i < profit->count; ++i) {
            const ConversionFactor& f = profit->factors[static_cast<size_t>(i)];
            if (f.chart == static_cast<int32_t>(c) && f.divide) s.conversion = Conversion::DivideByPrice;
            if (f.chart >= 0 && f.chart != static_cast<int32_t>(c)) {
                s.conversion = Conversion::Chart;
                s.conversionChart = charts[static_cast<size_t>(f.chart)].symbol;
            }
        }
    }
}

}  // namespace

const std::vector<OptionEntry>& RunOptions() { return Table; }

void ApplyOption(RunInputs& inputs, std::string_view name, const std::string& text)
{
    for (const OptionEntry& o : Table) {
        if (name == o.name) {
            o.apply(inputs, text);
            // A repeatable option (once per chart) keeps every text.
            std::string& given = inputs.given[o.name];
            given = o.repeatable && !given.empty() ? given + ", " + text : text;
            return;
        }
    }
    throw OptionError(std::string(name), "no such option");
}

RunInputs DefaultInputs()
{
    RunInputs in;
    for (const OptionEntry& o : Table) {
        if (o.defaultText != nullptr) o.apply(in, o.defaultText);
    }
    return in;
}

void CheckInputs(const RunInputs& in)
{
    if (in.minLot && in.maxLot && !(*in.maxLot >= *in.minLot)) {
        throw OptionError("max-lot", "must not be below --min-lot");
    }
    if (in.from && in.to && *in.to < *in.from) throw OptionError("to", "comes before --from");
}

std::vector<std::string> ChartFiles(const RunInputs& in)
{
    std::vector<std::string> files;
    size_t start = 0;
    while (start <= in.bars.size()) {
        const size_t plus = std::min(in.bars.find('+', start), in.bars.size());
        const std::string file = in.bars.substr(start, plus - start);
        if (file.empty() && !in.bars.empty()) throw OptionError("bars", fmt::format("\"{}\" names an empty file", in.bars));
        if (!file.empty()) files.push_back(file);
        start = plus + 1;
    }
    return files;
}

ResolvedRun ResolveRun(const RunInputs& in, const std::vector<ChartSource>& sources)
{
    if (sources.empty()) throw OptionError("bars", "names no file");
    if (!in.symbols.empty() && in.symbols.size() != sources.size()) {
        throw OptionError("symbol", fmt::format("given {} times for {} charts: give it once per --bars, or not at all",
                                                in.symbols.size(), sources.size()));
    }
    if (!in.conversionRates.empty() && in.conversionRates.size() != sources.size()) {
        throw OptionError("conversion-rate", fmt::format("given {} times for {} charts: give it once per --bars",
                                                         in.conversionRates.size(), sources.size()));
    }
    const InstrumentTable bundledOrOwn = in.symbolsFile.empty() ? InstrumentTable{} : LoadInstrumentTable(in.symbolsFile);
    const InstrumentTable& table = in.symbolsFile.empty() ? BundledInstruments() : bundledOrOwn;
    std::vector<TestSettings> charts;
    for (size_t c = 0; c < sources.size(); ++c) {
        const std::string symbol = !in.symbols.empty() ? in.symbols[c] : SymbolFromFileName(sources[c].file);
        if (symbol.empty()) {
            throw TesterError(fmt::format("{}: cannot tell the symbol from the file name; give --symbol",
                                          sources[c].file));
        }
        charts.push_back(ResolveChart(in, sources[c], symbol, table));
        if (!in.conversionRates.empty()) {
            charts.back().conversion = Conversion::FixedRate;
            charts.back().conversionRate = in.conversionRates[c];
        }
    }
    ChooseConversions(charts);

    ResolvedRun resolved;
    resolved.settings = charts[0];
    for (size_t c = 0; c < sources.size(); ++c) {
        ChartSource source = sources[c];
        if (sources.size() > 1) source.settings = charts[c];
        resolved.charts.push_back(std::move(source));
    }
    return resolved;
}

ResolvedRun ResolveRun(const RunInputs& in, const FileInfo& info, const LoadedData* loaded)
{
    const std::vector<std::string> files = ChartFiles(in);
    if (files.size() > 1) {
        throw OptionError("bars", fmt::format("{} files: resolve a run of several charts with one source each",
                                              files.size()));
    }
    return ResolveRun(in, std::vector<ChartSource>{ChartSource{files.empty() ? in.bars : files[0], loaded, info}});
}

ResolvedRun ScanAndResolve(const RunInputs& in)
{
    std::vector<ChartSource> sources;
    for (const std::string& file : ChartFiles(in)) sources.push_back(ChartSource{file, nullptr, ScanFile(file)});
    return ResolveRun(in, sources);
}

}  // namespace torvik::tester
