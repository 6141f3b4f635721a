#include "tester/market/account.h"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "tester/data/error.h"

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

std::string JoinNotes(const std::string& a, const std::string& b)
{
    if (a.empty()) return b;
    if (b.empty()) return a;
    return a + "; " + b;
}

std::string Upper(std::string s)
{
    for (char& c : s) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return s;
}

bool UsesChart(const ConversionRoute& route, int32_t chart)
{
    for (int32_t i = 0; i < route.count; ++i) {
        if (route.factors[static_cast<size_t>(i)].chart == chart) return true;
    }
    return false;
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

ChartCurrencies CurrenciesOf(const TestSettings& s)
{
    ChartCurrencies c;
    c.symbol = s.symbol;
    c.base = Upper(!s.base.empty() ? s.base : SymbolBase(s.symbol));
    c.profit = Upper(!s.profitCurrency.empty() ? s.profitCurrency : SymbolProfit(s.symbol));
    c.fixedRate = s.conversion == Conversion::FixedRate;
    c.rate = s.conversionRate;
    return c;
}

Account::Account(const TestSettings& settings, BrokerObserver& observer)
    : Account(settings, std::vector<TestSettings>{settings}, observer)
{
}

Account::Account(const TestSettings& account, const std::vector<TestSettings>& charts, BrokerObserver& observer)
    : account_(account),
      quotes_(charts.size(), Quote{0.0, 0.0}),
      observer_(observer),
      slippage_(account.slippageMin, account.slippageMax, account.seed),
      balance_(account.deposit)
{
    std::vector<ChartCurrencies> currencies;
    for (const TestSettings& s : charts) currencies.push_back(CurrenciesOf(s));
    const std::string money = Upper(account.currency);
    for (size_t i = 0; i < charts.size(); ++i) {
        const TestSettings& s = charts[i];
        const std::string margin = !s.marginCurrency.empty() ? Upper(s.marginCurrency) : currencies[i].base;
        const auto profitRoute = FindRoute(currencies, i, currencies[i].profit, money);
        const auto marginRoute = FindRoute(currencies, i, margin, money);
        if (!profitRoute || !marginRoute) {
            throw TesterError(fmt::format("{}: no way to convert {} into {}: give --conversion-rate", s.symbol,
                                          !profitRoute ? currencies[i].profit : margin, account.currency));
        }
        const int32_t leverage =
            s.maxLeverage > 0 ? std::min(account.leverage, s.maxLeverage) : account.leverage;
        instruments_.push_back(Instrument{s, std::pow(10.0, s.digits), leverage, *profitRoute, *marginRoute});
    }
    int64_t reserve = 0;
    for (const TestSettings& s : charts) reserve += s.maxPositions > 0 ? s.maxPositions : 1;
    positions_.reserve(static_cast<size_t>(reserve));
}

double Account::Convert(const ConversionRoute& route, double money, int32_t chart, double ownPrice, bool buy) const
{
    for (int32_t i = 0; i < route.count; ++i) {
        const ConversionFactor& f = route.factors[static_cast<size_t>(i)];
        double price = f.rate;
        if (f.chart == chart) {
            price = ownPrice;
        } else if (f.chart >= 0) {
            const Quote q = quotes_[static_cast<size_t>(f.chart)];
            price = buy ? q.bid : q.ask;
            if (!(price > 0.0)) {
                throw TesterError(fmt::format(
                    "{} money is converted at the price of {}, which has no tick yet: its data starts later; give "
                    "--conversion-rate or a chart that starts earlier",
                    instruments_[static_cast<size_t>(chart)].s.symbol,
                    instruments_[static_cast<size_t>(f.chart)].s.symbol));
            }
        }
        money = f.divide ? money / price : money * price;
    }
    return money;
}

double Account::Margin() const
{
    double m = 0.0;
    for (const Position& p : positions_) m += p.margin;
    return m;
}

double Account::ClosingPrice(const Position& p) const
{
    const Quote q = quotes_[static_cast<size_t>(p.chart)];
    return IsBuy(p) ? q.bid : q.ask;
}

double Account::Equity() const
{
    return EquityAt([this](const Position& p) { return ClosingPrice(p); });
}

double Account::EquityWith(int32_t chart, Quote q)
{
    const Quote saved = quotes_[static_cast<size_t>(chart)];
    quotes_[static_cast<size_t>(chart)] = q;
    const double e = Equity();
    quotes_[static_cast<size_t>(chart)] = saved;
    return e;
}

template <typename PriceOf>
double Account::EquityAt(PriceOf priceOf) const
{
    double e = balance_;
    for (const Position& p : positions_) e += Profit(p, priceOf(p)) + p.swap;
    return e;
}

double Account::MarginPerLot(int32_t chart, double price, Side side) const
{
    const Instrument& in = instruments_[static_cast<size_t>(chart)];
    double units = static_cast<double>(in.s.contractSize) / static_cast<double>(in.leverage);
    if (in.s.marginMode == MarginMode::Cfd) units = units * price;
    return Convert(in.marginRoute, units, chart, price, side == Side::Buy);
}

double Account::Profit(const Position& p, double closePrice) const
{
    const Instrument& in = Of(p);
    const double move = IsBuy(p) ? closePrice - p.openPrice : p.openPrice - closePrice;
    const double quoteMoney = move * p.lots * static_cast<double>(in.s.contractSize);
    return Convert(in.profitRoute, quoteMoney, p.chart, closePrice, IsBuy(p));
}

double Account::Normalize(int32_t chart, double price) const
{
    const double scale = instruments_[static_cast<size_t>(chart)].scale;
    return std::round(price * scale) / scale;
}

int64_t Account::Points(int32_t chart, double price) const
{
    return std::llround(price * instruments_[static_cast<size_t>(chart)].scale);
}

int32_t Account::Count(int32_t chart) const
{
    int32_t n = 0;
    for (const Position& p : positions_) n += p.chart == chart ? 1 : 0;
    return n;
}

const Position* Account::Newest(int32_t chart) const
{
    for (size_t i = positions_.size(); i-- > 0;) {
        if (positions_[i].chart == chart) return &positions_[i];
    }
    return nullptr;
}

double Account::Slip(const Position& p, double price)
{
    if (slippage_.None()) return price;
    const int32_t points = slippage_.Draw();
    if (points == 0) return price;
    const Instrument& in = Of(p);
    // A buy closes by selling, lower; a sell by buying, higher.
    const double against = IsBuy(p) ? -1.0 : 1.0;
    return std::round((price + against * points * in.s.point) * in.scale) / in.scale;
}

int32_t Account::Open(int32_t chart, Side side, double lots, OrderLevels levels, int64_t timeMs)
{
    const Instrument& in = instruments_[static_cast<size_t>(chart)];
    if (!(lots + LotSlack >= in.s.minLot) || !(lots - LotSlack <= in.s.maxLot)) return ErrInvalidVolume;
    const bool buy = side == Side::Buy;
    const Quote q = quotes_[static_cast<size_t>(chart)];
    const double closing = buy ? q.bid : q.ask;
    // Each level must lie the stop level, and at least one point, beyond the
    // price the position would close at now.
    const int32_t needed = std::max(in.s.stopLevel, 1);
    const auto tooClose = [&](double level, double away) {
        return level > 0.0 && std::llround(away * (level - closing) / in.s.point) < needed;
    };
    if (tooClose(levels.takeProfit, buy ? 1.0 : -1.0) || tooClose(levels.stopLoss, buy ? -1.0 : 1.0)) {
        return ErrInvalidStops;
    }
    double openPrice = buy ? q.ask : q.bid;
    if (!slippage_.None()) {
        const int32_t points = slippage_.Draw();
        if (points != 0) {
            openPrice = std::round((openPrice + (buy ? 1.0 : -1.0) * points * in.s.point) * in.scale) / in.scale;
        }
    }
    const double margin = lots * MarginPerLot(chart, openPrice, side);
    if (!(FreeMargin() - margin >= 0.0)) return ErrNotEnoughMoney;
    const double commission = CommissionFor(lots, in.s.commission, in.s.commissionPer);
    balance_ -= commission;
    positions_.push_back(Position{++lastTicket_, side, timeMs, lots, openPrice, levels.stopLoss, levels.takeProfit,
                                  margin, closing, closing, JoinNotes(levels.takeProfitNote, levels.stopLossNote),
                                  chart, commission == 0.0 ? 0.0 : -commission, 0.0});
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
    balance_ += p.swap;
    observer_.OnTrade(Trade{p.ticket, p.side, p.openTimeMs, timeMs, p.lots, p.openPrice, p.stopLoss, p.takeProfit,
                            price, profit, balance_, why, Profit(p, p.worstPrice), Profit(p, p.bestPrice),
                            std::move(p.note), p.chart, p.commission, p.swap});
    positions_.erase(positions_.begin() + static_cast<std::ptrdiff_t>(index));
}

int32_t Account::CloseSide(int32_t chart, Side side, int64_t timeMs, CloseReason why, std::vector<Position>* frozen)
{
    const Instrument& in = instruments_[static_cast<size_t>(chart)];
    // The newest first, as the expert walks its orders from the last one.
    int32_t closed = 0;
    for (size_t i = positions_.size(); i-- > 0;) {
        const Position& p = positions_[i];
        if (p.chart != chart || p.side != side) continue;
        const double closing = ClosingPrice(p);
        const auto frozenBy = [&](double level) {
            return level > 0.0 && std::llround(std::fabs(level - closing) / in.s.point) <= in.s.freezeLevel;
        };
        if (in.s.freezeLevel > 0 && (frozenBy(p.stopLoss) || frozenBy(p.takeProfit))) {
            if (frozen != nullptr) frozen->push_back(p);
            continue;
        }
        Close(i, Slip(p, closing), timeMs, why);
        ++closed;
    }
    return closed;
}

void Account::CloseAll(int64_t timeMs, CloseReason why, int32_t chart)
{
    for (size_t i = 0; i < positions_.size();) {
        if (chart >= 0 && positions_[i].chart != chart) {
            ++i;
            continue;
        }
        Close(i, ClosingPrice(positions_[i]), timeMs, why);
    }
}

void Account::Watch(int32_t chart, Quote q)
{
    for (Position& p : positions_) {
        if (p.chart != chart) continue;
        const bool buy = IsBuy(p);
        const double price = buy ? q.bid : q.ask;
        if (buy ? price < p.worstPrice : price > p.worstPrice) p.worstPrice = price;
        if (buy ? price > p.bestPrice : price < p.bestPrice) p.bestPrice = price;
    }
}

bool Account::BelowStopOut(double equity) const
{
    const double margin = Margin();
    return margin > 0.0 && equity / margin * 100.0 < account_.stopOutPercent;
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
        double worstResult = 0.0;
        for (size_t i = 0; i < positions_.size(); ++i) {
            const double result = Profit(positions_[i], priceOf(positions_[i])) + positions_[i].swap;
            equity += result;
            if (i == 0 || result < worstResult) {
                worst = i;
                worstResult = result;
            }
        }
        if (!(closeFirst && closed == 0) && !BelowStopOut(equity)) break;
        Close(worst, Slip(positions_[worst], priceOf(positions_[worst])), timeMs, CloseReason::StopOut);
        ++closed;
    }
    if (closed > 0 && (balance_ <= 0.0 || EquityAt(priceOf) <= 0.0)) {
        while (!positions_.empty()) Close(0, priceOf(positions_[0]), timeMs, CloseReason::EndOfTest);
        emptied_ = true;
        emptiedAtMs_ = timeMs;
    }
    return closed;
}

void Account::Move(int32_t chart, Quote to, bool gap, int64_t timeMs)
{
    const Quote from = quotes_[static_cast<size_t>(chart)];
    quotes_[static_cast<size_t>(chart)] = to;
    if (positions_.empty()) return;
    if (gap) {
        GapTo(chart, to, timeMs);
    } else {
        ContinuousMove(chart, from, to, timeMs);
    }
    quotes_[static_cast<size_t>(chart)] = to;
    Watch(chart, to);
}

void Account::GapTo(int32_t chart, Quote q, int64_t timeMs)
{
    // Every level the new price reached or jumped over fills at that price,
    // in ticket order.
    quotes_[static_cast<size_t>(chart)] = q;
    for (size_t i = 0; i < positions_.size();) {
        const Position& p = positions_[i];
        if (p.chart != chart) {
            ++i;
            continue;
        }
        const bool buy = IsBuy(p);
        const double price = buy ? q.bid : q.ask;
        if (p.stopLoss > 0.0 && (buy ? price <= p.stopLoss : price >= p.stopLoss)) {
            Close(i, Slip(p, price), timeMs, CloseReason::StopLoss);
        } else if (p.takeProfit > 0.0 && (buy ? price >= p.takeProfit : price <= p.takeProfit)) {
            Close(i, price, timeMs, CloseReason::TakeProfit);
        } else {
            ++i;
        }
    }
    StopOut([this](const Position& p) { return ClosingPrice(p); }, timeMs, false);
}

bool Account::MonotoneIn(int32_t chart) const
{
    bool ownPrice = false;
    bool oneSide = true;
    const Position* first = nullptr;
    for (const Position& p : positions_) {
        const ConversionRoute& route = Of(p).profitRoute;
        if (p.chart != chart) {
            if (UsesChart(route, chart)) return false;
            continue;
        }
        ownPrice = ownPrice || UsesChart(route, chart);
        if (first == nullptr) first = &p;
        oneSide = oneSide && p.side == first->side;
    }
    // Linear in the price, or monotone when all positions are on one side.
    return !ownPrice || oneSide;
}

void Account::ContinuousMove(int32_t chart, Quote from, Quote to, int64_t timeMs)
{
    // On the grid of points: the bid goes from b0 to b1 one point a step,
    // the ask keeps the spread above it.
    const int64_t b0 = Points(chart, from.bid);
    const int64_t b1 = Points(chart, to.bid);
    const int64_t spread = Points(chart, from.ask) - b0;
    if (Points(chart, to.ask) - b1 != spread) {
        GapTo(chart, to, timeMs);
        return;
    }
    const double scale = instruments_[static_cast<size_t>(chart)].scale;
    const int64_t steps = b1 > b0 ? b1 - b0 : b0 - b1;
    const int64_t d = b1 > b0 ? 1 : -1;
    // The quote at a step: the chart's positions close there, and money
    // converted through this chart is converted there.
    const auto quoteAt = [&](int64_t s) {
        return Quote{static_cast<double>(b0 + d * s) / scale, static_cast<double>(b0 + d * s + spread) / scale};
    };
    const auto priceAt = [&](const Position& p) { return ClosingPrice(p); };
    const auto at = [&](int64_t s) { quotes_[static_cast<size_t>(chart)] = quoteAt(s); };
    // The step at which the position's closing price reaches a level; 0 or
    // below when the move goes away from it.
    const auto reach = [&](const Position& p, double level) -> int64_t {
        if (!(level > 0.0)) return 0;
        return (Points(chart, level) - (b0 + (IsBuy(p) ? 0 : spread))) * d;
    };
    const auto equityAt = [&](int64_t s) {
        at(s);
        return EquityAt(priceAt);
    };
    // The first step of [first, last] at which the margin level is below the
    // stop-out level, or 0.
    const auto firstBelow = [&](int64_t first, int64_t last) -> int64_t {
        if (first > last || !(Margin() > 0.0)) return 0;
        // Equity is monotone along the move: the first step is found by halving.
        if (MonotoneIn(chart)) {
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

    int64_t done = 0;
    // Every pass closes at least one position or ends the move.
    while (!positions_.empty() && !emptied_) {
        int64_t next = steps + 1;
        for (const Position& p : positions_) {
            if (p.chart != chart) continue;
            for (const double level : {p.stopLoss, p.takeProfit}) {
                const int64_t r = reach(p, level);
                if (r > done && r < next) next = r;
            }
        }
        // Levels fill before the stop-out is checked at the same price.
        const int64_t stop = firstBelow(done + 1, std::min(next - 1, steps));
        if (stop > 0) {
            at(stop);
            StopOut(priceAt, timeMs, false);
            observer_.OnEquity(timeMs, equityAt(stop));
            done = stop;
            continue;
        }
        if (next > steps) break;
        at(next);
        for (size_t i = 0; i < positions_.size();) {
            const Position& p = positions_[i];
            if (p.chart == chart && reach(p, p.stopLoss) == next && p.stopLoss > 0.0) {
                Close(i, Slip(p, p.stopLoss), timeMs, CloseReason::StopLoss);
            } else if (p.chart == chart && reach(p, p.takeProfit) == next && p.takeProfit > 0.0) {
                Close(i, p.takeProfit, timeMs, CloseReason::TakeProfit);
            } else {
                ++i;
            }
        }
        observer_.OnEquity(timeMs, equityAt(next));
        StopOut(priceAt, timeMs, false);
        done = next;
    }
}

void Account::RestOfBar(int32_t chart, Quote low, Quote high, int64_t timeMs)
{
    const Quote q = quotes_[static_cast<size_t>(chart)];
    const auto mine = [chart](const Position& p) { return p.chart == chart; };
    // Without the order of the bar's moves the adverse one comes first:
    // stop-losses, then the stop-out on the way to the worst prices, then
    // take-profits. A level the tick had already passed fills at the tick.
    for (size_t i = 0; i < positions_.size();) {
        const Position& p = positions_[i];
        if (mine(p) && p.stopLoss > 0.0 && IsBuy(p) && low.bid <= p.stopLoss) {
            Close(i, Slip(p, q.bid <= p.stopLoss ? q.bid : p.stopLoss), timeMs, CloseReason::StopLoss);
        } else if (mine(p) && p.stopLoss > 0.0 && !IsBuy(p) && high.ask >= p.stopLoss) {
            Close(i, Slip(p, q.ask >= p.stopLoss ? q.ask : p.stopLoss), timeMs, CloseReason::StopLoss);
        } else {
            ++i;
        }
    }

    // Every position of the chart moves from its price at the tick to its
    // worst price of the bar by one fraction f from 0 to 1; the others stay
    // where their charts are.
    const auto pathAt = [&](const Position& p, double f) {
        if (!mine(p)) return ClosingPrice(p);
        const double start = IsBuy(p) ? q.bid : q.ask;
        const double worst = IsBuy(p) ? low.bid : high.ask;
        return start + f * (worst - start);
    };
    const auto equityAt = [&](double f) { return EquityAt([&](const Position& p) { return pathAt(p, f); }); };
    const double scale = instruments_[static_cast<size_t>(chart)].scale;
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
            if (!mine(p)) return ClosingPrice(p);
            const double x = pathAt(p, crossing) * scale;
            return (IsBuy(p) ? std::floor(x + GridSlack) : std::ceil(x - GridSlack)) / scale;
        };
        StopOut(rounded, timeMs, true);
        observer_.OnEquity(timeMs, EquityAt(rounded));
        from = crossing;
    }
    if (emptied_) return;

    for (size_t i = 0; i < positions_.size();) {
        Position& p = positions_[i];
        if (mine(p) && p.takeProfit > 0.0 && IsBuy(p) && high.bid >= p.takeProfit) {
            p.worstPrice = std::min(p.worstPrice, low.bid);  // it lived through the adverse move
            Close(i, q.bid >= p.takeProfit ? q.bid : p.takeProfit, timeMs, CloseReason::TakeProfit);
        } else if (mine(p) && p.takeProfit > 0.0 && !IsBuy(p) && low.ask <= p.takeProfit) {
            p.worstPrice = std::max(p.worstPrice, high.ask);
            Close(i, q.ask <= p.takeProfit ? q.ask : p.takeProfit, timeMs, CloseReason::TakeProfit);
        } else {
            ++i;
        }
    }
    Watch(chart, low);
    Watch(chart, high);
    // Sampled even when the take-profits closed the last position: the
    // balance they leave may be a new peak, and it is reached in this bar.
    observer_.OnEquity(timeMs, EquityAt([&](const Position& p) {
                           return !mine(p) ? ClosingPrice(p) : IsBuy(p) ? low.bid : high.ask;
                       }));
    observer_.OnEquity(timeMs, EquityAt([&](const Position& p) {
                           return !mine(p) ? ClosingPrice(p) : IsBuy(p) ? high.bid : low.ask;
                       }));
}

void Account::PassTime(int64_t timeMs)
{
    const int32_t hour = account_.rolloverHour;
    if (!clockStarted_) {
        clockStarted_ = true;
        nextRolloverMs_ = NextRolloverMs(timeMs, hour);
        return;
    }
    if (positions_.empty()) {
        if (timeMs >= nextRolloverMs_) nextRolloverMs_ = NextRolloverMs(timeMs, hour);
        return;
    }
    // One pass a day between the two times.
    while (nextRolloverMs_ <= timeMs) {
        ChargeSwaps(nextRolloverMs_);
        nextRolloverMs_ += DayMs;
    }
}

void Account::ChargeSwaps(int64_t rolloverMs)
{
    for (Position& p : positions_) {
        const Instrument& in = Of(p);
        const int32_t nights = NightsAt(rolloverMs, in.s.tripleDay);
        const double rate = IsBuy(p) ? in.s.swapLong : in.s.swapShort;
        if (nights == 0 || rate == 0.0) continue;
        double money = p.lots * rate;
        if (in.s.swapUnit == SwapUnit::Points) {
            // Points of price on the position, converted like a profit at the
            // price it would close at now.
            const double quoteMoney = rate * in.s.point * p.lots * static_cast<double>(in.s.contractSize);
            money = Convert(in.profitRoute, quoteMoney, p.chart, ClosingPrice(p), IsBuy(p));
        }
        p.swap += RoundCents(money * nights);
    }
}

}  // namespace torvik::tester
