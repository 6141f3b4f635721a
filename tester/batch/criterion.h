// What an optimisation ranks runs by: one figure of the run, read from its
// Figures in one place.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "tester/report/figures.h"

namespace torvik::tester {

enum class Criterion { Balance, ProfitFactor, ExpectedPayoff, Drawdown, Recovery, Sharpe };
inline constexpr size_t CriterionCount = 6;
inline constexpr std::array<Criterion, CriterionCount> AllCriteria = {
    Criterion::Balance,  Criterion::ProfitFactor, Criterion::ExpectedPayoff,
    Criterion::Drawdown, Criterion::Recovery,     Criterion::Sharpe};

// "balance", "profit-factor", "expected-payoff", "drawdown", "recovery", "sharpe"
const char* CriterionName(Criterion c);
std::optional<Criterion> ParseCriterion(std::string_view name);
// The figure's name as a summary column says it ("final balance", ...).
const char* CriterionLabel(Criterion c);

// The criterion's figure of a run: the final balance, the profit factor, the
// expected payoff, the maximal drawdown in money, the recovery factor, the
// annualised Sharpe ratio. NaN where the figure is undefined.
double CriterionValue(Criterion c, const Figures& f);
// Drawdown is better lower, every other figure higher.
bool LowerIsBetter(Criterion c);
// The value turned so that higher is better; NaN stays NaN.
double Score(Criterion c, double value);

// Ranks of values within one group (1 the best): by score, higher first;
// undefined values (NaN: the figure is undefined or the run failed) after all
// others; ties by the order given.
std::vector<uint32_t> Ranks(Criterion c, const std::vector<double>& values);

}  // namespace torvik::tester
