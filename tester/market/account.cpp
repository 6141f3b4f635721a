#include "tester/market/account.h"

#include <cmath>

#include <fmt/format.h>

namespace torvik::tester {

namespace {

double RoundCents(double money) { return std::round(money * 100.0) / 100.0; }

// Lots compare with a little slack: 0.1 + 0.2 is not 0.3 in doubles.
constexpr double LotSlack = 1e-9;
// A price this close to the grid (in points) counts as on it when it is
// rounded towards the worst price.
constexpr double GridSlack = 1e-6;
// Halvings of the fraction of the open model's adverse move: far below a
// point after 60.
constexpr int32_t CrossingSteps = 64;

bool IsBuy(const Position& p) { return p.side == Side::Buy; }
double ClosingPrice(const Position& p, Quote q) { return IsBuy(p) ? q.bid : q.ask; }

std::string JoinNotes(const std::string& a, const std::string& b)
{
    if (a.empty()) return b;
    if (b.empty()) return a;
    return a + "; " + b;
}

}  // namespace

const char* ModelName(Model model)
{
    switch (model) {
    case Model::Open: return "open";
    case Model::Ohlc: return "ohlc";
    case Model::Lower: return "lower";
    case Model::Ticks: return "ticks";
    }
    return "?";
}

const char* CadenceName(Cadence cadence) { return cadence == Cadence::Bar ? "bar" : "tick"; }

const char* SideName(Side side) { return side == Side::Buy ? "buy" : "sell"; }

const char* ReasonName(CloseReason why)
{
    switch (why) {
    case CloseReason::TakeProfit: return "take-profit";
    case CloseReason::StopLoss: return "stop-loss";
    case CloseReason::Signal: return "close-signal";
    case CloseReason::StopOut: return "stop-out";
    case CloseReason::EndOfTest: return "end-of-test";
    }
    return "?";
}

Account::Account(const TestSettings& settings, BrokerObserver& observer)
    : s_(settings), observer_(observer), scale_(std::pow(10.0, settings.digits)), balance_(settings.deposit)
{
    positions_.reserve(static_cast<size_t>(settings.maxPositions > 0 ? settings.maxPositions : 1));
}

double Account::Margin() const
{
    double m = 0.0;
    for (const Position& p : positions_) m += p.margin;
    return m;
}

double Account::Equity(Quote q) const
{
    return EquityAt([q](const Position& p) { return ClosingPrice(p, q); });
}

template <typename PriceOf>
double Account::EquityAt(PriceOf priceOf) const
{
    double e = balance_;
    for (const Position& p : positions_) e += Profit(p, priceOf(p));
    return e;
}

double Account::MarginPerLot(double price) const
{
    const double baseUnits = static_cast<double>(s_.contractSize) / static_cast<double>(s_.leverage);
    switch (s_.conversion) {
    case Conversion::DivideByPrice: return baseUnits;
    case Conversion::Direct: return baseUnits * price;
    case Conversion::FixedRate: return baseUnits * price * s_.conversionRate;
    }
    return 0.0;
}

double Account::Profit(const Position& p, double closePrice) const
{
    const double move = IsBuy(p) ? closePrice - p.openPrice : p.openPrice - closePrice;
    const double quoteMoney = move * p.lots * static_cast<double>(s_.contractSize);
    switch (s_.conversion) {
    case Conversion::Direct: return quoteMoney;
    case Conversion::DivideByPrice: return quoteMoney / closePrice;
    case Conversion::FixedRate: return quoteMoney * s_.conversionRate;
    }
    return 0.0;
}

double Account::Normalize(double price) const { return std::round(price * scale_) / scale_; }

int64_t Account::Points(double price) const { return std::llround(price * scale_); }

int32_t Account::Open(Side side, double lots, OrderLevels levels, Quote q, int64_t timeMs)
{
    if (!(lots + LotSlack >= s_.minLot) || !(lots - LotSlack <= s_.maxLot)) return ErrInvalidVolume;
    const bool buy = side == Side::Buy;
    // Levels are compared with the price the position would close at now.
    const double closing = buy ? q.bid : q.ask;
    const char* const closingName = buy ? "bid" : "ask";
    const auto price = [this](double x) { return fmt::format("{:.{}f}", x, s_.digits); };
    if (levels.stopLoss > 0.0 && (buy ? levels.stopLoss >= closing : levels.stopLoss <= closing)) {
        levels.stopLossNote = fmt::format("opened without a stop-loss: {} is at or {} the {} {}",
                                          price(levels.stopLoss), buy ? "above" : "below", closingName, price(closing));
        levels.stopLoss = 0.0;
    }
    if (levels.takeProfit > 0.0 && (buy ? levels.takeProfit <= closing : levels.takeProfit >= closing)) {
        levels.takeProfitNote =
            fmt::format("opened without a take-profit: {} is at or {} the {} {}", price(levels.takeProfit),
                        buy ? "below" : "above", closingName, price(closing));
        levels.takeProfit = 0.0;
    }
    const double openPrice = buy ? q.ask : q.bid;
    const double margin = lots * MarginPerLot(openPrice);
    if (!(FreeMargin(q) - margin >= 0.0)) return ErrNotEnoughMoney;
    positions_.push_back(Position{++lastTicket_, side, timeMs, lots, openPrice, levels.stopLoss, levels.takeProfit,
                                  margin, closing, closing, JoinNotes(levels.stopLossNote, levels.takeProfitNote)});
    return 0;
}

void Account::Close(size_t index, double price, int64_t timeMs, CloseReason why)
{
    Position& p = positions_[index];
    const bool buy = IsBuy(p);
    if (buy ? price < p.worstPrice : price > p.worstPrice) p.worstPrice = price;
    if (buy ? price > p.bestPrice : price < p.bestPrice) p.bestPrice = price;
    const double profit = RoundCents(Profit(p, price));
    balance_ += profit;
    observer_.OnTrade(Trade{p.ticket, p.side, p.openTimeMs, timeMs, p.lots, p.openPrice, p.stopLoss, p.takeProfit,
                            price, profit, balance_, why, Profit(p, p.worstPrice), Profit(p, p.bestPrice),
                            std::move(p.note)});
    positions_.erase(positions_.begin() + static_cast<std::ptrdiff_t>(index));
}

int32_t Account::CloseSide(Side side, Quote q, int64_t timeMs, CloseReason why)
{
    // The newest first, as the expert walks its orders from the last one.
    int32_t closed = 0;
    for (size_t i = positions_.size(); i-- > 0;) {
        if (positions_[i].side == side) {
            Close(i, ClosingPrice(positions_[i], q), timeMs, why);
            ++closed;
        }
    }
    return closed;
}

void Account::CloseAll(Quote q, int64_t timeMs, CloseReason why)
{
    while (!positions_.empty()) Close(0, ClosingPrice(positions_[0], q), timeMs, why);
}

void Account::Watch(Quote q)
{
    for (Position& p : positions_) {
        const double price = ClosingPrice(p, q);
        const bool buy = IsBuy(p);
        if (buy ? price < p.worstPrice : price > p.worstPrice) p.worstPrice = price;
        if (buy ? price > p.bestPrice : price < p.bestPrice) p.bestPrice = price;
    }
}

bool Account::BelowStopOut(double equity) const
{
    const double margin = Margin();
    return margin > 0.0 && equity / margin * 100.0 < s_.stopOutPercent;
}

template <typename PriceOf>
int32_t Account::StopOut(PriceOf priceOf, int64_t timeMs, bool closeFirst)
{
    // Each pass closes one position, so this ends after at most as many
    // passes as there are positions.
    int32_t closed = 0;
    while (!positions_.empty()) {
        double equity = balance_;
        size_t worst = 0;
        double worstProfit = 0.0;
        for (size_t i = 0; i < positions_.size(); ++i) {
            const double profit = Profit(positions_[i], priceOf(positions_[i]));
            equity += profit;
            if (i == 0 || profit < worstProfit) {
                worst = i;
                worstProfit = profit;
            }
        }
        if (!(closeFirst && closed == 0) && !BelowStopOut(equity)) break;
        Close(worst, priceOf(positions_[worst]), timeMs, CloseReason::StopOut);
        ++closed;
    }
    if (closed > 0 && (balance_ <= 0.0 || EquityAt(priceOf) <= 0.0)) {
        while (!positions_.empty()) Close(0, priceOf(positions_[0]), timeMs, CloseReason::EndOfTest);
        emptied_ = true;
        emptiedAtMs_ = timeMs;
    }
    return closed;
}

void Account::Move(Quote from, Quote to, bool gap, int64_t timeMs)
{
    if (positions_.empty()) return;
    if (gap) {
        GapTo(to, timeMs);
    } else {
        ContinuousMove(from, to, timeMs);
    }
    Watch(to);
}

void Account::GapTo(Quote q, int64_t timeMs)
{
    // Every level the new price reached or jumped over fills at that price,
    // in ticket order.
    for (size_t i = 0; i < positions_.size();) {
        const Position& p = positions_[i];
        const bool buy = IsBuy(p);
        const double price = ClosingPrice(p, q);
        if (p.stopLoss > 0.0 && (buy ? price <= p.stopLoss : price >= p.stopLoss)) {
            Close(i, price, timeMs, CloseReason::StopLoss);
        } else if (p.takeProfit > 0.0 && (buy ? price >= p.takeProfit : price <= p.takeProfit)) {
            Close(i, price, timeMs, CloseReason::TakeProfit);
        } else {
            ++i;
        }
    }
    StopOut([q](const Position& p) { return ClosingPrice(p, q); }, timeMs, false);
}

void Account::ContinuousMove(Quote from, Quote to, int64_t timeMs)
{
    // On the grid of points: the bid goes from b0 to b1 one point a step,
    // the ask keeps the spread above it.
    const int64_t b0 = Points(from.bid);
    const int64_t b1 = Points(to.bid);
    const int64_t spread = Points(from.ask) - b0;
    if (Points(to.ask) - b1 != spread) {
        GapTo(to, timeMs);
        return;
    }
    const int64_t steps = b1 > b0 ? b1 - b0 : b0 - b1;
    const int64_t d = b1 > b0 ? 1 : -1;
    const auto priceAt = [&](const Position& p, int64_t s) {
        return static_cast<double>(b0 + d * s + (IsBuy(p) ? 0 : spread)) / scale_;
    };
    // The step at which the position's closing price reaches a level; 0 or
    // below when the move goes away from it.
    const auto reach = [&](const Position& p, double level) -> int64_t {
        if (!(level > 0.0)) return 0;
        return (Points(level) - (b0 + (IsBuy(p) ? 0 : spread))) * d;
    };
    const auto equityAt = [&](int64_t s) { return EquityAt([&](const Position& p) { return priceAt(p, s); }); };
    // The first step of [first, last] at which the margin level is below the
    // stop-out level, or 0.
    const auto firstBelow = [&](int64_t first, int64_t last) -> int64_t {
        if (first > last || !(Margin() > 0.0)) return 0;
        bool oneSide = true;
        for (const Position& p : positions_) oneSide = oneSide && p.side == positions_[0].side;
        // Equity is linear in the price, or monotone when all positions are
        // on one side: the first step is found by halving.
        if (s_.conversion != Conversion::DivideByPrice || oneSide) {
            if (!BelowStopOut(equityAt(last))) return 0;
            int64_t lo = first, hi = last;
            while (lo < hi) {
                const int64_t mid = lo + (hi - lo) / 2;
                if (BelowStopOut(equityAt(mid))) {
                    hi = mid;
                } else {
                    lo = mid + 1;
                }
            }
            return lo;
        }
        for (int64_t s = first; s <= last; ++s) {
            if (BelowStopOut(equityAt(s))) return s;
        }
        return 0;
    };

    int64_t at = 0;
    // Every pass closes at least one position or ends the move.
    while (!positions_.empty() && !emptied_) {
        int64_t next = steps + 1;
        for (const Position& p : positions_) {
            for (const double level : {p.stopLoss, p.takeProfit}) {
                const int64_t r = reach(p, level);
                if (r > at && r < next) next = r;
            }
        }
        // Levels fill before the stop-out is checked at the same price.
        const int64_t stop = firstBelow(at + 1, std::min(next - 1, steps));
        if (stop > 0) {
            StopOut([&](const Position& p) { return priceAt(p, stop); }, timeMs, false);
            observer_.OnEquity(timeMs, equityAt(stop));
            at = stop;
            continue;
        }
        if (next > steps) break;
        for (size_t i = 0; i < positions_.size();) {
            const Position& p = positions_[i];
            if (reach(p, p.stopLoss) == next && p.stopLoss > 0.0) {
                Close(i, p.stopLoss, timeMs, CloseReason::StopLoss);
            } else if (reach(p, p.takeProfit) == next && p.takeProfit > 0.0) {
                Close(i, p.takeProfit, timeMs, CloseReason::TakeProfit);
            } else {
                ++i;
            }
        }
        observer_.OnEquity(timeMs, equityAt(next));
        StopOut([&](const Position& p) { return priceAt(p, next); }, timeMs, false);
        at = next;
    }
}

void Account::RestOfBar(Quote q, Quote low, Quote high, int64_t timeMs)
{
    // Without the order of the bar's moves the adverse one comes first:
    // stop-losses, then the stop-out on the way to the worst prices, then
    // take-profits. A level the tick had already passed fills at the tick.
    for (size_t i = 0; i < positions_.size();) {
        const Position& p = positions_[i];
        if (p.stopLoss > 0.0 && IsBuy(p) && low.bid <= p.stopLoss) {
            Close(i, q.bid <= p.stopLoss ? q.bid : p.stopLoss, timeMs, CloseReason::StopLoss);
        } else if (p.stopLoss > 0.0 && !IsBuy(p) && high.ask >= p.stopLoss) {
            Close(i, q.ask >= p.stopLoss ? q.ask : p.stopLoss, timeMs, CloseReason::StopLoss);
        } else {
            ++i;
        }
    }

    // Every position moves from its price at the tick to its worst price of
    // the bar by one fraction f from 0 to 1.
    const auto pathAt = [&](const Position& p, double f) {
        const double start = ClosingPrice(p, q);
        const double worst = IsBuy(p) ? low.bid : high.ask;
        return start + f * (worst - start);
    };
    const auto equityAt = [&](double f) { return EquityAt([&](const Position& p) { return pathAt(p, f); }); };
    double from = 0.0;
    while (!positions_.empty() && !emptied_ && BelowStopOut(equityAt(1.0))) {
        double lo = from, hi = 1.0;
        if (BelowStopOut(equityAt(lo))) hi = lo;
        for (int32_t i = 0; i < CrossingSteps && lo < hi; ++i) {
            const double mid = lo + (hi - lo) / 2.0;
            if (mid <= lo || mid >= hi) break;
            if (BelowStopOut(equityAt(mid))) {
                hi = mid;
            } else {
                lo = mid;
            }
        }
        const double crossing = hi;
        const auto rounded = [&](const Position& p) {
            const double x = pathAt(p, crossing) * scale_;
            return (IsBuy(p) ? std::floor(x + GridSlack) : std::ceil(x - GridSlack)) / scale_;
        };
        StopOut(rounded, timeMs, true);
        observer_.OnEquity(timeMs, EquityAt(rounded));
        from = crossing;
    }
    if (emptied_) return;

    for (size_t i = 0; i < positions_.size();) {
        Position& p = positions_[i];
        if (p.takeProfit > 0.0 && IsBuy(p) && high.bid >= p.takeProfit) {
            p.worstPrice = std::min(p.worstPrice, low.bid);  // it lived through the adverse move
            Close(i, q.bid >= p.takeProfit ? q.bid : p.takeProfit, timeMs, CloseReason::TakeProfit);
        } else if (p.takeProfit > 0.0 && !IsBuy(p) && low.ask <= p.takeProfit) {
            p.worstPrice = std::max(p.worstPrice, high.ask);
            Close(i, q.ask <= p.takeProfit ? q.ask : p.takeProfit, timeMs, CloseReason::TakeProfit);
        } else {
            ++i;
        }
    }
    Watch(low);
    Watch(high);
    if (positions_.empty()) return;
    observer_.OnEquity(timeMs, EquityAt([&](const Position& p) { return IsBuy(p) ? low.bid : high.ask; }));
    observer_.OnEquity(timeMs, EquityAt([&](const Position& p) { return IsBuy(p) ? high.bid : low.ask; }));
}

}  // namespace torvik::tester
