#include "tester/market/account.h"

#include <cmath>

namespace torvik::tester {

namespace {

double RoundCents(double money) { return std::round(money * 100.0) / 100.0; }

// Lots compare with a little slack: 0.1 + 0.2 is not 0.3 in doubles.
constexpr double LotSlack = 1e-9;

}  // namespace

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

Account::Account(const TestSettings& settings)
    : s_(settings),
      spreadPrice_(static_cast<double>(settings.spreadPoints) * settings.point),
      scale_(std::pow(10.0, settings.digits)),
      balance_(settings.deposit)
{
    positions_.reserve(static_cast<size_t>(settings.maxPositions > 0 ? settings.maxPositions : 1));
    trades_.reserve(1024);
}

double Account::Margin() const
{
    double m = 0.0;
    for (const Position& p : positions_) m += p.margin;
    return m;
}

double Account::Equity(Quote q) const
{
    double e = balance_;
    for (const Position& p : positions_) e += Profit(p, p.side == Side::Buy ? q.bid : q.ask);
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
    const double move = p.side == Side::Buy ? closePrice - p.openPrice : p.openPrice - closePrice;
    const double quoteMoney = move * p.lots * static_cast<double>(s_.contractSize);
    switch (s_.conversion) {
    case Conversion::Direct: return quoteMoney;
    case Conversion::DivideByPrice: return quoteMoney / closePrice;
    case Conversion::FixedRate: return quoteMoney * s_.conversionRate;
    }
    return 0.0;
}

double Account::Normalize(double price) const { return std::round(price * scale_) / scale_; }

Quote Account::QuoteAt(double bid) const { return Quote{bid, Normalize(bid + spreadPrice_)}; }

int32_t Account::Open(Side side, double lots, double stopLoss, double takeProfit, Quote q, uint32_t time)
{
    if (!(lots + LotSlack >= s_.minLot) || !(lots - LotSlack <= s_.maxLot)) return ErrInvalidVolume;
    const bool buy = side == Side::Buy;
    // Stops are compared with the price the position would close at now.
    const double closing = buy ? q.bid : q.ask;
    if (stopLoss > 0.0 && (buy ? stopLoss >= closing : stopLoss <= closing)) return ErrInvalidStops;
    if (takeProfit > 0.0 && (buy ? takeProfit <= closing : takeProfit >= closing)) return ErrInvalidStops;
    const double price = buy ? q.ask : q.bid;
    const double margin = lots * MarginPerLot(price);
    if (!(FreeMargin(q) - margin >= 0.0)) return ErrNotEnoughMoney;
    positions_.push_back(Position{++lastTicket_, side, time, lots, price, stopLoss, takeProfit, margin});
    return 0;
}

void Account::Close(size_t index, double price, uint32_t time, CloseReason why)
{
    const Position p = positions_[index];
    const double profit = RoundCents(Profit(p, price));
    balance_ += profit;
    trades_.push_back(Trade{p.ticket, p.side, p.openTime, time, p.lots, p.openPrice, p.stopLoss, p.takeProfit, price,
                            profit, balance_, why});
    positions_.erase(positions_.begin() + static_cast<std::ptrdiff_t>(index));
}

int32_t Account::CloseSide(Side side, Quote q, uint32_t time, CloseReason why)
{
    int32_t closed = 0;
    for (size_t i = 0; i < positions_.size();) {
        if (positions_[i].side == side) {
            Close(i, side == Side::Buy ? q.bid : q.ask, time, why);
            ++closed;
        } else {
            ++i;
        }
    }
    return closed;
}

void Account::CloseAll(Quote q, uint32_t time, CloseReason why)
{
    while (!positions_.empty()) Close(0, positions_[0].side == Side::Buy ? q.bid : q.ask, time, why);
}

void Account::FillAtTick(Quote q, uint32_t time, bool gap)
{
    for (size_t i = 0; i < positions_.size();) {
        const Position& p = positions_[i];
        const bool buy = p.side == Side::Buy;
        const double price = buy ? q.bid : q.ask;
        const bool stop = p.stopLoss > 0.0 && (buy ? price <= p.stopLoss : price >= p.stopLoss);
        const bool take = p.takeProfit > 0.0 && (buy ? price >= p.takeProfit : price <= p.takeProfit);
        if (stop) {
            Close(i, gap ? price : p.stopLoss, time, CloseReason::StopLoss);
        } else if (take) {
            Close(i, gap ? price : p.takeProfit, time, CloseReason::TakeProfit);
        } else {
            ++i;
        }
    }
}

bool Account::BelowStopOut(double equity) const
{
    const double margin = Margin();
    return margin > 0.0 && equity / margin * 100.0 < s_.stopOutPercent;
}

template <typename PriceOf>
void Account::StopOut(PriceOf priceOf, uint32_t time)
{
    // Each pass closes one position, so this ends after at most as many
    // passes as there are positions.
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
        if (!BelowStopOut(equity)) return;
        Close(worst, priceOf(positions_[worst]), time, CloseReason::StopOut);
    }
}

void Account::CheckStopOut(Quote q, uint32_t time)
{
    StopOut([q](const Position& p) { return p.side == Side::Buy ? q.bid : q.ask; }, time);
}

void Account::FillWithinBar(double low, double high, uint32_t time)
{
    const Quote lo = QuoteAt(low);
    const Quote hi = QuoteAt(high);
    for (size_t i = 0; i < positions_.size();) {
        const Position& p = positions_[i];
        const bool buy = p.side == Side::Buy;
        if (p.stopLoss > 0.0 && (buy ? lo.bid <= p.stopLoss : hi.ask >= p.stopLoss)) {
            Close(i, p.stopLoss, time, CloseReason::StopLoss);
        } else {
            ++i;
        }
    }
    StopOut([lo, hi](const Position& p) { return p.side == Side::Buy ? lo.bid : hi.ask; }, time);
    for (size_t i = 0; i < positions_.size();) {
        const Position& p = positions_[i];
        const bool buy = p.side == Side::Buy;
        if (p.takeProfit > 0.0 && (buy ? hi.bid >= p.takeProfit : lo.ask <= p.takeProfit)) {
            Close(i, p.takeProfit, time, CloseReason::TakeProfit);
        } else {
            ++i;
        }
    }
}

}  // namespace torvik::tester
