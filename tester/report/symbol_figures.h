// The figures of one symbol of a run (the account's are in figures.h):
// its trades and what they made and cost, accumulated as they close.
#pragma once

#include <cstdint>
#include <string>

#include "tester/market/account.h"

namespace torvik::tester {

struct SymbolFigures {
    std::string symbol;
    int32_t totalTrades = 0;
    int32_t profitTrades = 0;  // net result above 0
    int32_t lossTrades = 0;    // net result below 0
    double netProfit = 0.0;    // profits, commissions and swaps
    double grossProfit = 0.0;  // of the trades with a net result above 0
    double grossLoss = 0.0;    // 0 or negative
    double profitFactor = 0.0; // NaN without a losing trade
    double profit = 0.0;       // the price moves alone
    double commission = 0.0;   // 0 or negative: charged
    double swap = 0.0;         // negative: charged, positive: paid
    void Add(const Trade& t);
    // Sets the profit factor from the sums.
    void Finish();
};

}  // namespace torvik::tester
