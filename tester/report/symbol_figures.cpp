#include "tester/report/symbol_figures.h"

#include <limits>

namespace torvik::tester {

void SymbolFigures::Add(const Trade& t)
{
    const double net = NetResult(t);
    ++totalTrades;
    if (net > 0.0) {
        ++profitTrades;
        grossProfit += net;
    } else if (net < 0.0) {
        ++lossTrades;
        grossLoss += net;
    }
    netProfit += net;
    profit += t.profit;
    commission += t.commission;
    swap += t.swap;
}

void SymbolFigures::Finish()
{
    profitFactor = grossLoss < 0.0 ? grossProfit / -grossLoss : std::numeric_limits<double>::quiet_NaN();
}

}  // namespace torvik::tester
