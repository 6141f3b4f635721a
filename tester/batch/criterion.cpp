#include "tester/batch/criterion.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace torvik::tester {

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

}  // namespace

const char* CriterionName(Criterion c)
{
    switch (c) {
    case Criterion::Balance: return "balance";
    case Criterion::ProfitFactor: return "profit-factor";
    case Criterion::ExpectedPayoff: return "expected-payoff";
    case Criterion::Drawdown: return "drawdown";
    case Criterion::Recovery: return "recovery";
    case Criterion::Sharpe: return "sharpe";
    }
    return "?";
}

const char* CriterionLabel(Criterion c)
{
    switch (c) {
    case Criterion::Balance: return "final balance";
    case Criterion::ProfitFactor: return "profit factor";
    case Criterion::ExpectedPayoff: return "expected payoff";
    case Criterion::Drawdown: return "maximal drawdown";
    case Criterion::Recovery: return "recovery factor";
    case Criterion::Sharpe: return "Sharpe ratio";
    }
    return "?";
}

std::optional<Criterion> ParseCriterion(std::string_view name)
{
    for (const Criterion c : AllCriteria) {
        if (name == CriterionName(c)) return c;
    }
    return std::nullopt;
}

double CriterionValue(Criterion c, const Figures& f)
{
    switch (c) {
    case Criterion::Balance: return f.finalBalance;
    case Criterion::ProfitFactor: return f.profitFactor;
    case Criterion::ExpectedPayoff: return f.expectedPayoff;
    case Criterion::Drawdown: return f.maximalDrawdown;
    case Criterion::Recovery: return f.recoveryFactor;
    case Criterion::Sharpe: return f.sharpeAnnual;
    }
    return NaN;
}

bool LowerIsBetter(Criterion c) { return c == Criterion::Drawdown; }

double Score(Criterion c, double value) { return LowerIsBetter(c) ? -value : value; }

std::vector<uint32_t> Ranks(Criterion c, const std::vector<double>& values)
{
    std::vector<size_t> order(values.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        const double sa = Score(c, values[a]);
        const double sb = Score(c, values[b]);
        if (std::isnan(sb)) return !std::isnan(sa);
        if (std::isnan(sa)) return false;
        return sa > sb;
    });
    std::vector<uint32_t> ranks(values.size());
    for (size_t k = 0; k < order.size(); ++k) ranks[order[k]] = static_cast<uint32_t>(k + 1);
    return ranks;
}

}  // namespace torvik::tester
