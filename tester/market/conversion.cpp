#include "tester/market/conversion.h"

namespace torvik::tester {

namespace {

constexpr size_t CurrencyLetters = 3;

bool IsLetters(const std::string& s, size_t from, size_t count)
{
    if (s.size() < from + count) return false;
    for (size_t i = from; i < from + count; ++i) {
        const char c = s[i];
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return false;
    }
    return true;
}

std::string Upper(std::string s)
{
    for (char& c : s) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return s;
}

ConversionRoute Route(std::initializer_list<ConversionFactor> factors)
{
    ConversionRoute r;
    for (const ConversionFactor& f : factors) r.factors[static_cast<size_t>(r.count++)] = f;
    return r;
}

// One step from `currency` to the account currency, or nothing.
std::optional<ConversionFactor> Step(const std::vector<ChartCurrencies>& charts, size_t chart,
                                     const std::string& currency, const std::string& account)
{
    const ChartCurrencies& own = charts[chart];
    const auto self = static_cast<int32_t>(chart);
    if (own.fixedRate && currency == own.profit) return ConversionFactor{false, -1, own.rate};
    if (currency == own.base && own.profit == account) return ConversionFactor{false, self, 1.0};
    if (currency == own.profit && own.base == account) return ConversionFactor{true, self, 1.0};
    for (size_t d = 0; d < charts.size(); ++d) {
        if (d == chart) continue;
        const auto other = static_cast<int32_t>(d);
        if (charts[d].base == currency && charts[d].profit == account) return ConversionFactor{false, other, 1.0};
        if (charts[d].base == account && charts[d].profit == currency) return ConversionFactor{true, other, 1.0};
    }
    return std::nullopt;
}

}  // namespace

std::string SymbolBase(const std::string& symbol)
{
    return IsLetters(symbol, 0, 2 * CurrencyLetters) ? Upper(symbol.substr(0, CurrencyLetters)) : std::string();
}

std::string SymbolProfit(const std::string& symbol)
{
    return IsLetters(symbol, 0, 2 * CurrencyLetters) ? Upper(symbol.substr(CurrencyLetters, CurrencyLetters))
                                                      : std::string();
}

std::optional<ConversionRoute> FindRoute(const std::vector<ChartCurrencies>& charts, size_t chart,
                                         const std::string& currency, const std::string& account)
{
    if (currency == account) return ConversionRoute{};
    if (const auto one = Step(charts, chart, currency, account)) return Route({*one});
    // The base currency goes into the profit currency at the chart's own
    // price, and on from there.
    const ChartCurrencies& own = charts[chart];
    if (currency == own.base && !own.profit.empty() && own.profit != currency) {
        if (const auto next = Step(charts, chart, own.profit, account)) {
            return Route({ConversionFactor{false, static_cast<int32_t>(chart), 1.0}, *next});
        }
    }
    return std::nullopt;
}

}  // namespace torvik::tester
