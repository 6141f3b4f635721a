#include "tester/expert/advisor.h"

#include <cmath>

#include <fmt/format.h>

namespace torvik::tester {

namespace {

constexpr const char* NoLotText = "LOT gave no positive finite lot";

void CountAnswer(uint64_t (&answers)[3], int32_t answer)
{
    if (answer >= 0 && answer <= 2) ++answers[answer];
}

}  // namespace

TickRecord Advisor::Update(const BarWindow& window, Quote q, int64_t timeMs)
{
    TickRecord r{timeMs, q, window.Data(), static_cast<int32_t>(window.Count()), -1, -1, 0.0, 0.0, 0.0, 0};
    ++tally_.updates;
    Feed(r);
    r.closeSignal = lib_.CloseSignal();
    CountAnswer(tally_.closeAnswers, r.closeSignal);
    int32_t closed = 0;
    if (r.closeSignal == 1) closed = account_.CloseSide(Side::Buy, q, timeMs, CloseReason::Signal);
    if (r.closeSignal == 2) closed = account_.CloseSide(Side::Sell, q, timeMs, CloseReason::Signal);
    if (closed > 0) Feed(r);
    r.openSignal = lib_.OpenSignal();
    CountAnswer(tally_.openAnswers, r.openSignal);
    const bool room = static_cast<int64_t>(account_.Positions().size()) < s_.maxPositions;
    if (room && (r.openSignal == 1 || r.openSignal == 2)) Enter(r.openSignal == 1 ? Side::Buy : Side::Sell, r);
    return r;
}

Calibration Advisor::ReadCalibration() const
{
    return Calibration{lib_.TakeProfit(), lib_.StopLoss(), lib_.PipSize(), lib_.Dsp(),
                       lib_.DcloseSp(),   lib_.Hhh1(),     lib_.Hhh2()};
}

void Advisor::Feed(const TickRecord& r)
{
    const Position* newest = account_.Newest();
    const double openPrice = newest != nullptr ? newest->openPrice : 0.0;
    const int32_t type = newest != nullptr && newest->side == Side::Sell ? 1 : 0;
    lib_.Rft(r.barCount, r.bars, r.quote.ask, r.quote.bid, s_.digits, s_.point, openPrice, type, s_.pipMode);
    lib_.IniAll(s_.symbol.c_str(), s_.currency.c_str());
}

void Advisor::Enter(Side side, TickRecord& r)
{
    const bool buy = side == Side::Buy;
    const double price = buy ? r.quote.ask : r.quote.bid;
    r.lots = lib_.Lot(s_.fixedLot, s_.riskPercent, s_.riskMultiplier, s_.minLot, s_.maxLot, s_.lotStep,
                      static_cast<int32_t>(s_.contractSize), account_.FreeMargin(r.quote),
                      account_.MarginPerLot(price), s_.riskSplit, s_.symbol.c_str());
    if (!(std::isfinite(r.lots) && r.lots > 0.0)) {
        Refuse(r, side, 0, NoLotText);
        return;
    }
    // A distance of 0 or below, or not a number, gives no level; so does a
    // level that comes out at 0 or below (a stop further than the price).
    OrderLevels levels;
    const double tpDistance = lib_.TakeProfit();
    const double slDistance = lib_.StopLoss();
    const auto level = [&](double distance, double sign, const char* what, const char* getter, double& out,
                           std::string& note) {
        if (!(distance > 0.0)) {
            note = fmt::format("opened without a {}: {} answered {}", what, getter, distance);
            return;
        }
        out = account_.Normalize(price + sign * distance);
        if (!(out > 0.0)) {
            note = fmt::format("opened without a {}: {:.{}f} {} {} is {:.{}f} (not above 0)", what, price, s_.digits,
                               sign > 0.0 ? "+" : "-", distance, out, s_.digits);
            out = 0.0;
        }
    };
    level(tpDistance, buy ? 1.0 : -1.0, "take-profit", "PoTP", levels.takeProfit, levels.takeProfitNote);
    level(slDistance, buy ? -1.0 : 1.0, "stop-loss", "PoSL", levels.stopLoss, levels.stopLossNote);
    r.takeProfit = levels.takeProfit;
    r.stopLoss = levels.stopLoss;
    const int32_t code = account_.Open(side, r.lots, std::move(levels), r.quote, r.timeMs);
    if (code != 0) Refuse(r, side, code, lib_.ErrorDescription(code));
}

void Advisor::Refuse(TickRecord& r, Side side, int32_t code, const char* text)
{
    r.refusal = code == 0 ? -1 : code;
    ++tally_.refusalCount;
    if (tally_.refusals.size() < MaxListedRefusals) {
        tally_.refusals.push_back(Refusal{r.timeMs, side, r.lots, code, text != nullptr ? text : ""});
    }
}

}  // namespace torvik::tester
