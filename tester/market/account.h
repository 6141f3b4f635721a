// The simulated broker: one account, its open positions, and what the
// price's move from one modelled tick to the next does to them: levels fill
// in the order the price reaches them, the stop-out closes where the margin
// level crosses its limit, and a stop-out that leaves no money ends the test.
// Buys open at the ask and close at the bid, sells the reverse; each side's
// levels are watched on its closing price.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tester/market/settings.h"

namespace torvik::tester {

enum class Side : uint8_t { Buy, Sell };

enum class CloseReason : uint8_t { TakeProfit, StopLoss, Signal, StopOut, EndOfTest };

const char* SideName(Side side);          // "buy", "sell"
const char* ReasonName(CloseReason why);  // "take-profit", "stop-loss", ...

struct Quote {
    double bid;
    double ask;
};

struct Position {
    int32_t ticket;
    Side side;
    int64_t openTimeMs;
    double lots;
    double openPrice;
    double stopLoss;    // 0: none
    double takeProfit;  // 0: none
    double margin;      // in account money, fixed when the position opened
    double worstPrice;  // the worst and best closing price along the path so far
    double bestPrice;
    std::string note;   // why a level is missing, or empty
};

struct Trade {
    int32_t ticket;
    Side side;
    int64_t openTimeMs;
    int64_t closeTimeMs;
    double lots;
    double openPrice;
    double stopLoss;
    double takeProfit;
    double closePrice;
    double profit;   // account money, rounded to cents
    double balance;  // after this trade
    CloseReason reason;
    double adverse;    // profit at the worst closing price along the path (account money, unrounded)
    double favourable; // profit at the best one
    std::string note;
};

// Receives what the broker does as it happens.
class BrokerObserver {
public:
    virtual ~BrokerObserver() = default;
    virtual void OnTrade(const Trade& trade) = 0;
    // The equity at a moment between two ticks: a fill, a stop-out, the
    // extremes of a bar in the open model.
    virtual void OnEquity(int64_t timeMs, double equity) = 0;
};

// Trade-server error codes of the refusals the broker gives.
inline constexpr int32_t ErrInvalidVolume = 131;
inline constexpr int32_t ErrNotEnoughMoney = 134;

// The levels of a market order as the expert computed them, with the reason
// a level is missing (empty when it is there, or was never asked for).
struct OrderLevels {
    double stopLoss = 0.0;
    double takeProfit = 0.0;
    std::string stopLossNote;
    std::string takeProfitNote;
};

class Account {
public:
    Account(const TestSettings& settings, BrokerObserver& observer);

    double Balance() const { return balance_; }
    double Margin() const;
    double Equity(Quote q) const;
    double FreeMargin(Quote q) const { return Equity(q) - Margin(); }
    // Margin of one lot opened at this price, in account money.
    double MarginPerLot(double price) const;
    // Profit of a position if it closed at this price, in account money, unrounded.
    double Profit(const Position& p, double closePrice) const;
    // A price on the instrument's grid of digits.
    double Normalize(double price) const;

    const std::vector<Position>& Positions() const { return positions_; }
    // The position opened last, or null.
    const Position* Newest() const { return positions_.empty() ? nullptr : &positions_.back(); }

    // Places a market order at the current quote. A level on the wrong side
    // of the closing price is dropped with a note. Answers 0, or the error
    // code of the refusal (volume outside the lot limits, not enough free
    // margin).
    int32_t Open(Side side, double lots, OrderLevels levels, Quote q, int64_t timeMs);
    // Closes every position of one side at the market, the newest first;
    // answers how many.
    int32_t CloseSide(Side side, Quote q, int64_t timeMs, CloseReason why);
    void CloseAll(Quote q, int64_t timeMs, CloseReason why);

    // The price moves from one tick to the next. Continuous: bid and ask
    // move in a straight line and a level fills where the price reaches it;
    // a gap: every level jumped over fills at the new price.
    void Move(Quote from, Quote to, bool gap, int64_t timeMs);
    // The open model's rest of a bar after its only tick q: stop-losses its
    // range reaches, the stop-out along the adverse move, take-profits; then
    // the bar's equity low and high go to the observer.
    void RestOfBar(Quote q, Quote low, Quote high, int64_t timeMs);
    // Widens each position's worst and best price by this quote.
    void Watch(Quote q);

    // A stop-out left no money: the test ends.
    bool Emptied() const { return emptied_; }
    int64_t EmptiedAtMs() const { return emptiedAtMs_; }

private:
    void Close(size_t index, double price, int64_t timeMs, CloseReason why);
    bool BelowStopOut(double equity) const;
    // Closes the most losing position while the margin level is below the
    // stop-out level, each at its price by priceOf; then checks whether the
    // account is emptied. Answers how many closed.
    template <typename PriceOf>
    int32_t StopOut(PriceOf priceOf, int64_t timeMs, bool closeFirst);
    template <typename PriceOf>
    double EquityAt(PriceOf priceOf) const;
    void ContinuousMove(Quote from, Quote to, int64_t timeMs);
    void GapTo(Quote q, int64_t timeMs);
    int64_t Points(double price) const;

    TestSettings s_;
    BrokerObserver& observer_;
    double scale_;  // 10 to the power digits
    double balance_;
    int32_t lastTicket_ = 0;
    std::vector<Position> positions_;
    bool emptied_ = false;
    int64_t emptiedAtMs_ = 0;
};

}  // namespace torvik::tester
