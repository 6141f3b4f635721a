// The simulated broker: one account, its open positions and its closed
// trades. Prices are bids as the bars give them; the ask is the bid plus a
// fixed spread. Buys open at the ask and close at the bid, sells the reverse,
// and each side's stop-loss and take-profit are watched on its closing price.
#pragma once

#include <cstdint>
#include <vector>

#include "tester/market/settings.h"

namespace torvik::tester {

enum class Side : uint8_t { Buy, Sell };

enum class CloseReason : uint8_t { TakeProfit, StopLoss, Signal, StopOut, EndOfTest };

const char* SideName(Side side);         // "buy", "sell"
const char* ReasonName(CloseReason why);  // "take-profit", "stop-loss", ...

struct Quote {
    double bid;
    double ask;
};

struct Position {
    int32_t ticket;
    Side side;
    uint32_t openTime;
    double lots;
    double openPrice;
    double stopLoss;    // 0: none
    double takeProfit;  // 0: none
    double margin;      // in account money, fixed when the position opened
};

struct Trade {
    int32_t ticket;
    Side side;
    uint32_t openTime;
    uint32_t closeTime;
    double lots;
    double openPrice;
    double stopLoss;
    double takeProfit;
    double closePrice;
    double profit;   // account money, rounded to cents
    double balance;  // after this trade
    CloseReason reason;
};

// Trade-server error codes of the refusals the broker gives.
inline constexpr int32_t ErrInvalidStops = 130;
inline constexpr int32_t ErrInvalidVolume = 131;
inline constexpr int32_t ErrNotEnoughMoney = 134;

class Account {
public:
    explicit Account(const TestSettings& settings);

    double Balance() const { return balance_; }
    double Margin() const;
    double Equity(Quote q) const;
    double FreeMargin(Quote q) const { return Equity(q) - Margin(); }
    // Margin of one lot opened at this price, in account money.
    double MarginPerLot(double price) const;
    // Profit of a position if it closed at this price, in account money, unrounded.
    double Profit(const Position& p, double closePrice) const;
    // The quote whose bid is this price.
    Quote QuoteAt(double bid) const;
    // A price on the instrument's grid of digits.
    double Normalize(double price) const;

    const std::vector<Position>& Positions() const { return positions_; }
    const std::vector<Trade>& Trades() const { return trades_; }
    std::vector<Trade> TakeTrades() { return std::move(trades_); }
    // The position opened last, or null.
    const Position* Newest() const { return positions_.empty() ? nullptr : &positions_.back(); }

    // Places a market order at the current quote. Answers 0, or the error code
    // of the refusal (volume outside the lot limits, stops on the wrong side of
    // the closing price, not enough free margin).
    int32_t Open(Side side, double lots, double stopLoss, double takeProfit, Quote q, uint32_t time);
    // Closes every position of one side at the market; answers how many.
    int32_t CloseSide(Side side, Quote q, uint32_t time, CloseReason why);
    void CloseAll(Quote q, uint32_t time, CloseReason why);

    // A tick has come. Levels that the price has reached close their position:
    // at the level when the price moved there continuously, at the tick's own
    // price when it gapped there (the first tick of a bar).
    void FillAtTick(Quote q, uint32_t time, bool gap);
    // What the rest of a bar after its only tick can do, without knowing the
    // order of its moves: the adverse move is taken first, so stop-losses
    // fill, then the stop-out is checked at each position's worst price in
    // the bar, then take-profits fill.
    void FillWithinBar(double low, double high, uint32_t time);
    // Closes the most losing position while the margin level is below the
    // stop-out level.
    void CheckStopOut(Quote q, uint32_t time);

private:
    void Close(size_t index, double price, uint32_t time, CloseReason why);
    bool BelowStopOut(double equity) const;
    // Closes at each position's price in `worst` order, the most losing first.
    template <typename PriceOf>
    void StopOut(PriceOf priceOf, uint32_t time);

    TestSettings s_;
    double spreadPrice_;
    double scale_;  // 10 to the power digits
    double balance_;
    int32_t lastTicket_ = 0;
    std::vector<Position> positions_;
    std::vector<Trade> trades_;
};

}  // namespace torvik::tester
