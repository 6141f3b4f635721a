// Monte Carlo of a finished run: its trades' results drawn again in a random
// order, with a share of them left out, many times over; each sample's
// balance path from the deposit gives a final balance and a maximal
// drawdown, whose spread shows how much of the run's result was the order
// its trades happened to come in.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace torvik::tester {

struct MonteCarloSettings {
    uint64_t runs = 1000;
    uint64_t seed = 1;
    double skipPercent = 0.0;   // share of the trades left out of each sample
    double ruinPercent = 50.0;  // a sample whose drawdown reaches this share of its peak is ruined
    int64_t depositCents = 0;
};

inline constexpr std::array<double, 5> MonteCarloPercentiles = {5.0, 25.0, 50.0, 75.0, 95.0};

struct BalancePath {
    int64_t finalCents = 0;
    int64_t maximalDrawdownCents = 0;      // the largest fall from a peak, in money
    double relativeDrawdownPercent = 0.0;  // the largest fall from a peak, as a share of that peak
    bool ruined = false;
};

// The balance path of trades' results (cents) from the deposit, in order.
BalancePath WalkBalance(const std::vector<int64_t>& profits, int64_t depositCents, double ruinPercent);

struct MonteCarloResult {
    size_t trades = 0;
    size_t kept = 0;                       // trades in each sample
    BalancePath original;                  // the trades in the order they closed
    std::array<double, 5> finalBalance{};  // at MonteCarloPercentiles
    std::array<double, 5> maximalDrawdown{};
    std::array<double, 5> relativeDrawdownPercent{};
    double ruinProbability = 0.0;  // share of samples ruined
};

// Each sample shuffles the trades (Fisher-Yates with the batch's own
// generator, one stream of the seed per sample) and leaves out the first
// round(skip% x trades) of the shuffled order. Percentiles interpolate
// linearly between the nearest ranks.
MonteCarloResult RunMonteCarlo(const std::vector<int64_t>& profits, const MonteCarloSettings& settings);

// The p-th percentile of sorted values, interpolated between ranks.
double Percentile(const std::vector<double>& sorted, double p);

// What each trade of a trades.csv did to the balance (its profit, commission
// and swap), in cents, in closing order.
std::vector<int64_t> ReadTradeProfits(const std::filesystem::path& tradesCsv);
// The initial deposit of the report.json next to a trades.csv, if there is one.
std::optional<double> ReadDeposit(const std::filesystem::path& reportJson);

std::string MonteCarloJson(const MonteCarloResult& result, const MonteCarloSettings& settings,
                           const std::string& source);
std::string MonteCarloCsv(const MonteCarloResult& result);
std::string MonteCarloConsole(const MonteCarloResult& result, const MonteCarloSettings& settings,
                              const std::string& source);

}  // namespace torvik::tester
