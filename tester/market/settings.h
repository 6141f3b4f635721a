// Everything a test run is configured with: the instrument, the account, the
// expert advisor's inputs, the model of the price path and the test range.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "tester/data/instruments.h"

namespace torvik::tester {

// How a chart bar becomes ticks.
enum class Model {
    Open,   // one tick at the bar's open; the rest of the bar is checked against its range
    Ohlc,   // four generated ticks: open, the nearer extreme, the other extreme, close
    Lower,  // four ticks from every lower-timeframe bar of the chart bar
    Ticks,  // every real tick, with its own bid and ask
};

// When the expert advisor runs its update.
enum class Cadence {
    Bar,   // once per new chart bar, at its first tick (as the shipped expert does)
    Tick,  // on every modelled tick
};

// What equity.csv gets a row for.
enum class EquityRows { Bars, Ticks };

// How a profit in the quote currency becomes money of the account.
enum class Conversion {
    Direct,         // the account currency is the quote currency
    DivideByPrice,  // the account currency is the base currency
    FixedRate,      // neither: a fixed rate (account units per quote unit) given by the user
    Chart,          // through the price of another chart of the run (EURGBP in USD: GBPUSD)
};

// What the expert does with a take-profit or stop-loss closer to the price
// than the broker's stop level.
enum class StopsTooClose { Move, Refuse };

inline constexpr int32_t MaxWindow = 500;  // the library takes at most 500 bars
// The smallest window in which every bar the library reads is one the host
// handed over: calibration reads the 96 bars before the newest, the Ichimoku
// lines need 98.
inline constexpr int32_t MinWindow = 98;

struct TestSettings {
    // instrument
    std::string symbol;
    int32_t digits = 5;
    double point = 0.00001;
    int32_t spreadPoints = 12;  // the fixed spread, or the one used where the data has none
    bool spreadFixed = false;   // --spread given: it overrides every spread of the data
    int64_t contractSize = 100000;  // also the lotDivisor handed to LOT
    Conversion conversion = Conversion::Direct;
    double conversionRate = 1.0;  // used with Conversion::FixedRate only
    std::string conversionChart;  // with Conversion::Chart: the symbol whose price converts
    // Currencies; empty ones come from a six-letter symbol (base, then profit),
    // the margin currency being the base.
    std::string base;
    std::string profitCurrency;
    std::string marginCurrency;
    MarginMode marginMode = MarginMode::Forex;
    int32_t maxLeverage = 0;  // 0: the account's leverage; else at most 1:maxLeverage
    std::string kind;         // the instrument's kind from the table ("fx", "metal", ...), or empty
    // Where the instrument's values came from: the table and row used, or
    // "defaults"; and the fields given by options over it.
    std::string instrumentSource = "defaults";
    std::vector<std::string> overridden;

    // costs and the broker's limits
    double commission = 0.0;  // account money per lot
    CommissionPer commissionPer = CommissionPer::RoundTurn;
    double swapLong = 0.0;    // per lot per night
    double swapShort = 0.0;
    SwapUnit swapUnit = SwapUnit::Points;
    int32_t rolloverHour = 0;  // server time
    int32_t tripleDay = 3;     // Wednesday
    int32_t slippageMin = 0;   // points against the trader; a range draws whole points
    int32_t slippageMax = 0;
    uint64_t seed = 1;
    int32_t stopLevel = 0;     // points
    int32_t freezeLevel = 0;   // points
    StopsTooClose stopsTooClose = StopsTooClose::Move;

    // account
    std::string currency = "USD";
    double deposit = 10000.0;
    int32_t leverage = 100;
    double stopOutPercent = 50.0;

    // the price path and the expert advisor's cadence
    Model model = Model::Open;
    Cadence cadence = Cadence::Bar;
    uint32_t timeframeSeconds = 0;  // of the chart; 0: the data's own
    EquityRows equityRows = EquityRows::Bars;

    // the expert advisor
    int32_t window = 300;
    int32_t pipMode = 4;
    int32_t maxPositions = 3;  // per symbol, as the expert counts its own orders
    double fixedLot = 0.1;
    double riskPercent = 2.0;
    double riskMultiplier = 1.0;
    double minLot = 0.01;
    double maxLot = 100.0;
    double lotStep = 0.01;
    int32_t riskSplit = 1;

    // test range: ticks are modelled for chart bars whose time lies in
    // [fromTime, toTime]; earlier bars still serve as history for the window
    uint32_t fromTime = 0;
    uint32_t toTime = std::numeric_limits<uint32_t>::max();
};

// The pip mode the expert advisor passes by default: a pip of ten points on
// 3- and 5-digit quotes, of one point otherwise.
inline int32_t DefaultPipMode(int32_t digits) { return digits == 3 || digits == 5 ? 4 : 5; }

// The default spread: 1.2 pips on 3- and 5-digit quotes, 2 points otherwise.
inline int32_t DefaultSpreadPoints(int32_t digits) { return digits == 3 || digits == 5 ? 12 : 2; }

const char* ModelName(Model model);      // "open", "ohlc", "lower", "ticks"
const char* CadenceName(Cadence cadence);  // "bar", "tick"

}  // namespace torvik::tester
