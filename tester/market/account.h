// The simulated broker: one account, the open positions of all its charts,
// and what the price's move from one modelled tick to the next does to
// them: levels fill in the order the price reaches them, the stop-out closes
// the most losing position of the whole account where the margin level
// crosses its limit, and a stop-out that leaves no money ends the test.
// Buys open at the ask and close at the bid, sells the reverse; each side's
// levels are watched on its closing price. Costs: the commission is charged
// when a position opens, the swap accrues at each rollover and is realised
// with the close, and market fills and stop-losses slip against the trader.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tester/market/conversion.h"
#include "tester/market/costs.h"
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
    std::string note;   // why a level is missing or moved, or empty
    int32_t chart = 0;
    double commission = 0.0;  // charged when it opened (0 or negative)
    double swap = 0.0;        // accrued so far (account money)
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
    double profit;   // account money, rounded to cents; without commission and swap
    double balance;  // after this trade
    CloseReason reason;
    double adverse;    // profit at the worst closing price along the path (account money, unrounded)
    double favourable; // profit at the best one
    std::string note;
    int32_t chart = 0;        // index of the chart in the run
    double commission = 0.0;  // charged when it opened (0 or negative)
    double swap = 0.0;        // realised with the close
};

// The trade's whole result: profit, commission and swap.
inline double NetResult(const Trade& t) { return t.profit + t.commission + t.swap; }

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
inline constexpr int32_t ErrInvalidStops = 130;
inline constexpr int32_t ErrInvalidVolume = 131;
inline constexpr int32_t ErrNotEnoughMoney = 134;
inline constexpr int32_t ErrTooCloseToMarket = 145;  // within the freeze level

// The levels of a market order as the expert computed them, with the reason
// a level is missing or was moved (empty otherwise).
struct OrderLevels {
    double stopLoss = 0.0;
    double takeProfit = 0.0;
    std::string stopLossNote;
    std::string takeProfitNote;
};

class Account {
public:
    // The account's money from `account`; chart i's instrument, costs and
    // limits from charts[i] (one chart: the account's settings themselves).
    Account(const TestSettings& account, const std::vector<TestSettings>& charts, BrokerObserver& observer);
    Account(const TestSettings& settings, BrokerObserver& observer);

    double Balance() const { return balance_; }
    double Margin() const;
    // At the charts' current quotes.
    double Equity() const;
    double FreeMargin() const { return Equity() - Margin(); }
    // With one chart's quote replaced (the open model's bar close).
    double EquityWith(int32_t chart, Quote q);
    // Margin of one lot opened at this price, in account money.
    double MarginPerLot(int32_t chart, double price, Side side) const;
    // Profit of a position if it closed at this price, in account money, unrounded.
    double Profit(const Position& p, double closePrice) const;
    // A price on the chart's grid of digits.
    double Normalize(int32_t chart, double price) const;

    // The chart's latest quote; also outside the test, where its price
    // converts other charts' money.
    void SetQuote(int32_t chart, Quote q) { quotes_[static_cast<size_t>(chart)] = q; }
    Quote CurrentQuote(int32_t chart) const { return quotes_[static_cast<size_t>(chart)]; }

    const std::vector<Position>& Positions() const { return positions_; }
    int32_t Count(int32_t chart) const;
    // The chart's position opened last, or null.
    const Position* Newest(int32_t chart) const;

    // Places a market order at the chart's current quote. Answers 0, or the
    // error code of the refusal: volume outside the lot limits, a level
    // closer to the closing price than the stop level (or on its wrong
    // side), not enough free margin.
    int32_t Open(int32_t chart, Side side, double lots, OrderLevels levels, int64_t timeMs);
    // Closes every position of one side of a chart at the market, the newest
    // first; a position whose take-profit or stop-loss lies within the
    // freeze level stays open and goes to `frozen`. Answers how many closed.
    int32_t CloseSide(int32_t chart, Side side, int64_t timeMs, CloseReason why,
                      std::vector<Position>* frozen = nullptr);
    // Closes a chart's positions (every chart's: -1) at their current quotes, in ticket order.
    void CloseAll(int64_t timeMs, CloseReason why, int32_t chart = -1);

    // The chart's price moves from its current quote to `to`. Continuous:
    // bid and ask move in a straight line and a level fills where the price
    // reaches it; a gap: every level jumped over fills at the new price.
    void Move(int32_t chart, Quote to, bool gap, int64_t timeMs);
    // The open model's rest of a bar after its only tick: stop-losses its
    // range reaches, the stop-out along the adverse move, take-profits; then
    // the bar's equity low and high go to the observer.
    void RestOfBar(int32_t chart, Quote low, Quote high, int64_t timeMs);
    // Widens each of the chart's positions' worst and best price by this quote.
    void Watch(int32_t chart, Quote q);
    // Time goes on to timeMs: the rollovers on the way charge the swaps.
    void PassTime(int64_t timeMs);

    // A stop-out left no money: the test ends.
    bool Emptied() const { return emptied_; }
    int64_t EmptiedAtMs() const { return emptiedAtMs_; }

private:
    struct Instrument {
        TestSettings s;
        double scale;  // 10 to the power digits
        int32_t leverage;
        ConversionRoute profitRoute;
        ConversionRoute marginRoute;
    };

    const Instrument& Of(const Position& p) const { return instruments_[static_cast<size_t>(p.chart)]; }
    double Convert(const ConversionRoute& route, double money, int32_t chart, double ownPrice, bool buy) const;
    double ClosingPrice(const Position& p) const;
    // The price of a fill that slips `points` against the trader.
    double Slip(const Position& p, double price);
    void Close(size_t index, double price, int64_t timeMs, CloseReason why);
    bool BelowStopOut(double equity) const;
    // Closes the most losing position while the margin level is below the
    // stop-out level, each at its price by priceOf; then checks whether the
    // account is emptied. Answers how many closed.
    template <typename PriceOf>
    int32_t StopOut(PriceOf priceOf, int64_t timeMs, bool closeFirst);
    template <typename PriceOf>
    double EquityAt(PriceOf priceOf) const;
    void ContinuousMove(int32_t chart, Quote from, Quote to, int64_t timeMs);
    void GapTo(int32_t chart, Quote q, int64_t timeMs);
    // The equity is monotone in the moving chart's price: no other chart's
    // position is converted through it, and its own positions are linear in
    // it or all on one side.
    bool MonotoneIn(int32_t chart) const;
    void ChargeSwaps(int64_t rolloverMs);
    int64_t Points(int32_t chart, double price) const;

    TestSettings account_;
    std::vector<Instrument> instruments_;
    std::vector<Quote> quotes_;
    BrokerObserver& observer_;
    Slippage slippage_;
    double balance_;
    int32_t lastTicket_ = 0;
    std::vector<Position> positions_;
    bool emptied_ = false;
    int64_t emptiedAtMs_ = 0;
    bool clockStarted_ = false;
    int64_t nextRolloverMs_ = 0;
};

// The currencies of a chart as its settings give them (a six-letter symbol
// fills in what is not set).
ChartCurrencies CurrenciesOf(const TestSettings& s);

}  // namespace torvik::tester
