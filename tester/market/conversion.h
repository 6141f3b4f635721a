// Money of one currency into the account's: through the price of the
// position's own chart when the account currency is one side of it, else
// through another chart of the run that quotes the currency against the
// account's, else at a fixed rate the user gave. A route is found once per
// chart and evaluated at the prices of the moment.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace torvik::tester {

// A chart's currencies as the routes see them.
struct ChartCurrencies {
    std::string symbol;
    std::string base;
    std::string profit;
    bool fixedRate = false;  // the user gave a rate, account currency per unit of the profit currency
    double rate = 1.0;
};

struct ConversionFactor {
    bool divide = false;   // divide by the price, else multiply
    int32_t chart = -1;    // whose price; -1: the fixed rate
    double rate = 1.0;
};

struct ConversionRoute {
    std::array<ConversionFactor, 2> factors{};
    int32_t count = 0;  // no factor: the money is in the account currency already
};

// The route for money of `currency` on chart `chart` into `account`, or
// nothing when none exists.
std::optional<ConversionRoute> FindRoute(const std::vector<ChartCurrencies>& charts, size_t chart,
                                         const std::string& currency, const std::string& account);

// Base and profit currencies of a six-letter symbol ("EURUSD": EUR, USD); empty otherwise.
std::string SymbolBase(const std::string& symbol);
std::string SymbolProfit(const std::string& symbol);

}  // namespace torvik::tester
