#include "tester/batch/monte_carlo.h"

#include <algorithm>
#include <cmath>
#include <fstream>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "tester/batch/random.h"
#include "tester/batch/split.h"
#include "tester/batch/walk_forward.h"
#include "tester/data/error.h"

namespace torvik::tester {

namespace {

using Json = nlohmann::ordered_json;

constexpr double CentsPerUnit = 100.0;
constexpr double PercentDecimals = 10000.0;  // percentages keep four decimals

double Money(double cents) { return std::round(cents) / CentsPerUnit; }
double RoundPercent(double p) { return std::round(p * PercentDecimals) / PercentDecimals; }

Json Series(const std::array<double, 5>& values, bool money)
{
    Json j = Json::array();
    for (const double v : values) j.push_back(money ? Money(v) : RoundPercent(v));
    return j;
}

}  // namespace

BalancePath WalkBalance(const std::vector<int64_t>& profits, int64_t depositCents, double ruinPercent)
{
    BalancePath path;
    int64_t balance = depositCents;
    int64_t peak = depositCents;
    for (const int64_t p : profits) {
        balance += p;
        peak = std::max(peak, balance);
        const int64_t fall = peak - balance;
        path.maximalDrawdownCents = std::max(path.maximalDrawdownCents, fall);
        const double relative = peak > 0 ? 100.0 * static_cast<double>(fall) / static_cast<double>(peak) : 100.0;
        path.relativeDrawdownPercent = std::max(path.relativeDrawdownPercent, relative);
        if (balance <= 0 || relative >= ruinPercent) path.ruined = true;
    }
    path.finalCents = balance;
    return path;
}

double Percentile(const std::vector<double>& sorted, double p)
{
    if (sorted.empty()) return std::numeric_limits<double>::quiet_NaN();
    const double rank = p / 100.0 * static_cast<double>(sorted.size() - 1);
    const size_t lo = static_cast<size_t>(std::floor(rank));
    const size_t hi = std::min(lo + 1, sorted.size() - 1);
    return sorted[lo] + (rank - static_cast<double>(lo)) * (sorted[hi] - sorted[lo]);
}

MonteCarloResult RunMonteCarlo(const std::vector<int64_t>& profits, const MonteCarloSettings& s)
{
    if (s.runs == 0) throw TesterError("--runs: must be 1 or more");
    if (!(s.skipPercent >= 0.0 && s.skipPercent < 100.0)) throw TesterError("--skip: must be 0 to below 100%");
    if (!(s.ruinPercent > 0.0 && s.ruinPercent <= 100.0)) throw TesterError("--ruin: must be above 0 and at most 100%");
    if (s.depositCents <= 0) throw TesterError("--deposit: must be above 0");
    MonteCarloResult result;
    result.trades = profits.size();
    const size_t skipped =
        static_cast<size_t>(std::llround(s.skipPercent / 100.0 * static_cast<double>(profits.size())));
    result.kept = profits.size() - std::min(skipped, profits.size());
    result.original = WalkBalance(profits, s.depositCents, s.ruinPercent);

    std::vector<double> finals, drawdowns, relatives;
    uint64_t ruined = 0;
    std::vector<int64_t> sample;
    for (uint64_t i = 0; i < s.runs; ++i) {
        Random random(StreamSeed(s.seed, i));
        sample = profits;
        for (size_t j = sample.size(); j > 1; --j) std::swap(sample[j - 1], sample[random.Below(j)]);
        sample.erase(sample.begin(), sample.begin() + static_cast<std::ptrdiff_t>(profits.size() - result.kept));
        const BalancePath path = WalkBalance(sample, s.depositCents, s.ruinPercent);
        finals.push_back(static_cast<double>(path.finalCents));
        drawdowns.push_back(static_cast<double>(path.maximalDrawdownCents));
        relatives.push_back(path.relativeDrawdownPercent);
        ruined += path.ruined ? 1 : 0;
    }
    std::sort(finals.begin(), finals.end());
    std::sort(drawdowns.begin(), drawdowns.end());
    std::sort(relatives.begin(), relatives.end());
    for (size_t k = 0; k < MonteCarloPercentiles.size(); ++k) {
        result.finalBalance[k] = Percentile(finals, MonteCarloPercentiles[k]);
        result.maximalDrawdown[k] = Percentile(drawdowns, MonteCarloPercentiles[k]);
        result.relativeDrawdownPercent[k] = Percentile(relatives, MonteCarloPercentiles[k]);
    }
    result.ruinProbability = static_cast<double>(ruined) / static_cast<double>(s.runs);
    return result;
}

std::vector<int64_t> ReadTradeProfits(const std::filesystem::path& tradesCsv)
{
    std::ifstream in(tradesCsv, std::ios::binary);
    if (!in) throw TesterError(fmt::format("{}: no such file", tradesCsv.string()));
    // What a trade did to the balance: its profit, and its commission and
    // swap where the file has them.
    constexpr std::string_view MoneyColumns[] = {"commission", "swap", "profit"};
    std::string line;
    size_t number = 0;
    std::vector<size_t> columns;
    bool header = true;
    std::vector<int64_t> profits;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        const std::vector<std::string_view> fields = SplitText(line, ',');
        if (header) {
            for (const std::string_view name : MoneyColumns) {
                const auto it = std::find(fields.begin(), fields.end(), name);
                if (it != fields.end()) columns.push_back(static_cast<size_t>(it - fields.begin()));
            }
            if (std::find(fields.begin(), fields.end(), "profit") == fields.end()) {
                throw TesterError(fmt::format("{}:{}: no profit column: not a trades.csv", tradesCsv.string(), number));
            }
            header = false;
            continue;
        }
        int64_t net = 0;
        for (const size_t column : columns) {
            const std::optional<int64_t> cents = column < fields.size() ? ParseCents(fields[column]) : std::nullopt;
            if (!cents) {
                throw TesterError(
                    fmt::format("{}:{}: the money is not written with two decimals", tradesCsv.string(), number));
            }
            net += *cents;
        }
        profits.push_back(net);
    }
    if (header) throw TesterError(fmt::format("{}: empty: not a trades.csv", tradesCsv.string()));
    return profits;
}

std::optional<double> ReadDeposit(const std::filesystem::path& reportJson)
{
    std::ifstream in(reportJson, std::ios::binary);
    if (!in) return std::nullopt;
    const Json j = Json::parse(in, nullptr, false);
    if (j.is_discarded()) return std::nullopt;
    if (j.contains("figures") && j["figures"].contains("initial_deposit") &&
        j["figures"]["initial_deposit"].is_number()) {
        return j["figures"]["initial_deposit"].get<double>();
    }
    return std::nullopt;
}

std::string MonteCarloJson(const MonteCarloResult& r, const MonteCarloSettings& s, const std::string& source)
{
    Json j{{"trades_file", source},
           {"trades", r.trades},
           {"runs", s.runs},
           {"seed", s.seed},
           {"skip_percent", s.skipPercent},
           {"trades_per_run", r.kept},
           {"deposit", Money(static_cast<double>(s.depositCents))},
           {"ruin_percent", s.ruinPercent},
           {"original", Json{{"final_balance", Money(static_cast<double>(r.original.finalCents))},
                             {"maximal_drawdown", Money(static_cast<double>(r.original.maximalDrawdownCents))},
                             {"relative_drawdown_percent", RoundPercent(r.original.relativeDrawdownPercent)}}},
           {"percentiles", MonteCarloPercentiles},
           {"final_balance", Series(r.finalBalance, true)},
           {"maximal_drawdown", Series(r.maximalDrawdown, true)},
           {"relative_drawdown_percent", Series(r.relativeDrawdownPercent, false)},
           {"ruin_probability", RoundPercent(r.ruinProbability)}};
    return j.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string MonteCarloCsv(const MonteCarloResult& r)
{
    std::string csv = "percentile,final_balance,maximal_drawdown,relative_drawdown_percent\n";
    for (size_t k = 0; k < MonteCarloPercentiles.size(); ++k) {
        csv += fmt::format("{},{:.2f},{:.2f},{:.4f}\n", MonteCarloPercentiles[k], Money(r.finalBalance[k]),
                           Money(r.maximalDrawdown[k]), RoundPercent(r.relativeDrawdownPercent[k]));
    }
    return csv;
}

std::string MonteCarloConsole(const MonteCarloResult& r, const MonteCarloSettings& s, const std::string& source)
{
    std::string text;
    const auto add = [&text](const std::string& label, const std::string& value) {
        fmt::format_to(std::back_inserter(text), "{:<44}{}\n", label, value);
    };
    add("Trades", fmt::format("{} ({})", r.trades, source));
    add("Samples", fmt::format("{} of {} trades each, seed {}, {:g}% left out", s.runs, r.kept, s.seed, s.skipPercent));
    add("Deposit", fmt::format("{:.2f}", Money(static_cast<double>(s.depositCents))));
    add("As traded",
        fmt::format("final balance {:.2f}, maximal drawdown {:.2f} ({:.2f}%)",
                    Money(static_cast<double>(r.original.finalCents)),
                    Money(static_cast<double>(r.original.maximalDrawdownCents)), r.original.relativeDrawdownPercent));
    add("Percentile", fmt::format("{:>14}{:>18}{:>14}", "final balance", "maximal drawdown", "relative"));
    for (size_t k = 0; k < MonteCarloPercentiles.size(); ++k) {
        add(fmt::format("  {:g}%", MonteCarloPercentiles[k]),
            fmt::format("{:>14.2f}{:>18.2f}{:>13.2f}%", Money(r.finalBalance[k]), Money(r.maximalDrawdown[k]),
                        r.relativeDrawdownPercent[k]));
    }
    add(fmt::format("Ruin (a drawdown of {:g}% or more)", s.ruinPercent),
        fmt::format("{:.2f}% of the samples", 100.0 * r.ruinProbability));
    return text;
}

}  // namespace torvik::tester
