// Everything a test run is configured with: the instrument, the account, the
// expert advisor's inputs and the broker model.
#pragma once

#include <cstdint>
#include <limits>
#include <string>

namespace torvik::tester {

// How the bars become ticks.
enum class Model {
    Open,  // one tick per bar, at its open
    Ohlc,  // four ticks per bar: open, the nearer extreme, the other extreme, close
};

// How a profit in the quote currency becomes money of the account.
enum class Conversion {
    Direct,         // the account currency is the quote currency
    DivideByPrice,  // the account currency is the base currency
    FixedRate,      // neither: a fixed rate (account units per quote unit) given by the user
};

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
    int32_t spreadPoints = 12;
    int64_t contractSize = 100000;  // also the lotDivisor handed to LOT
    Conversion conversion = Conversion::Direct;
    double conversionRate = 1.0;  // used with Conversion::FixedRate only

    // account
    std::string currency = "USD";
    double deposit = 10000.0;
    int32_t leverage = 100;
    double stopOutPercent = 50.0;

    // the expert advisor
    Model model = Model::Open;
    int32_t window = 300;
    int32_t pipMode = 4;
    int32_t maxPositions = 3;
    double fixedLot = 0.1;
    double riskPercent = 2.0;
    double riskMultiplier = 1.0;
    double minLot = 0.01;
    double maxLot = 100.0;
    double lotStep = 0.01;
    int32_t riskSplit = 1;

    // test range: ticks are modelled for bars whose time lies in [fromTime, toTime];
    // earlier bars still serve as history for the window
    uint32_t fromTime = 0;
    uint32_t toTime = std::numeric_limits<uint32_t>::max();
};

// The pip mode the expert advisor passes by default: a pip of ten points on
// 3- and 5-digit quotes, of one point otherwise.
inline int32_t DefaultPipMode(int32_t digits) { return digits == 3 || digits == 5 ? 4 : 5; }

// The default spread: 1.2 pips on 3- and 5-digit quotes, 2 points otherwise.
inline int32_t DefaultSpreadPoints(int32_t digits) { return digits == 3 || digits == 5 ? 12 : 2; }

}  // namespace torvik::tester
