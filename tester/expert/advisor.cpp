#include "tester/expert/advisor.h"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

namespace torvik::tester {

namespace {

constexpr const char* NoLotText = "LOT gave no positive finite lot";
// LOT sizes only with whole hundreds of its lot divisor, and rounds the lot
// to the decimals of the lot step: beyond this many it answers not a number.
constexpr int32_t LotHundreds = 100;
constexpr int32_t MostLotDecimals = 9;

std::string TextOf(const char* text) { return text != nullptr ? text : ""; }

void CountAnswer(uint64_t (&answers)[3], int32_t answer)
{
    if (answer >= 0 && answer <= 2) ++answers[answer];
}

// The decimals LOT rounds a lot to for this step: divisions by 0.1 until
// the quotient is no longer below 0.1.
int32_t StepDecimals(double lotStep)
{
    if (lotStep >= 0.1) return 0;
    double v = lotStep;
    int32_t digits = 0;
    while (digits <= MostLotDecimals) {
        v = v / 0.1;
        ++digits;
        if (!(v < 0.1)) break;
    }
    return digits;
}

}  // namespace

std::string NoLotReason(double answer, double fixedLot, double riskPercent, double minLot, double lotStep,
                        int32_t lotDivisor, int32_t riskSplit, const std::string& symbol)
{
    const bool sized = symbol.find("USD") != std::string::npos;
    if (sized && riskPercent > 0.0) {
        if (lotDivisor < LotHundreds) {
            return fmt::format("lotDivisor {} (the contract size) is below {}, so its whole hundreds are 0 and LOT "
                               "sizes nothing; --risk 0 takes the fixed lot",
                               lotDivisor, LotHundreds);
        }
        if (riskSplit < 1) return fmt::format("riskSplit {} is below 1", riskSplit);
        if (!(lotStep > 0.0)) return fmt::format("the lot step {} is not above 0", lotStep);
        if (StepDecimals(lotStep) > MostLotDecimals) {
            return fmt::format("the lot step {} has more than {} decimals: the lot rounds to not a number", lotStep,
                               MostLotDecimals);
        }
    }
    if (!(minLot > 0.0) && !(std::max(fixedLot, minLot) > 0.0)) {
        return fmt::format("the fixed lot {} and the smallest lot {} are not above 0", fixedLot, minLot);
    }
    if (!(minLot > 0.0) && riskPercent < 0.0) return fmt::format("the risk {} is negative", riskPercent);
    return fmt::format("LOT answered {}", answer);
}

Advisor::Advisor(const TestSettings& s, LibraryBinding& lib, Account& account, AdvisorTally& tally, int32_t chart)
    : s_(s), lib_(lib), account_(account), tally_(tally), chart_(chart)
{
    const auto charts = static_cast<size_t>(chart) + 1;
    if (tally_.noLot.size() < charts) {
        tally_.noLot.resize(charts, 0);
        tally_.noLotReason.resize(charts);
        tally_.tooClose.resize(charts, 0);
        tally_.refusalsByChart.resize(charts, 0);
    }
}

TickRecord Advisor::Update(const BarWindow& window, Quote q, int64_t timeMs)
{
    TickRecord r{timeMs, q, window.Data(), static_cast<int32_t>(window.Count()), -1, -1, 0.0, 0.0, 0.0, 0, chart_};
    ++tally_.updates;
    Feed(r);
    r.closeSignal = lib_.CloseSignal();
    CountAnswer(tally_.closeAnswers, r.closeSignal);
    int32_t closed = 0;
    std::vector<Position> frozen;
    if (r.closeSignal == 1 || r.closeSignal == 2) {
        const Side side = r.closeSignal == 1 ? Side::Buy : Side::Sell;
        closed = account_.CloseSide(chart_, side, timeMs, CloseReason::Signal, &frozen);
    }
    for (const Position& p : frozen) {
        Refuse(r, p.side, ErrTooCloseToMarket, TextOf(lib_.ErrorDescription(ErrTooCloseToMarket)), p.ticket, p.lots);
    }
    if (closed > 0) Feed(r);
    r.openSignal = lib_.OpenSignal();
    CountAnswer(tally_.openAnswers, r.openSignal);
    const bool room = account_.Count(chart_) < s_.maxPositions;
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
    const Position* newest = account_.Newest(chart_);
    const double openPrice = newest != nullptr ? newest->openPrice : 0.0;
    const int32_t type = newest != nullptr && newest->side == Side::Sell ? 1 : 0;
    lib_.Rft(r.barCount, r.bars, r.quote.ask, r.quote.bid, s_.digits, s_.point, openPrice, type, s_.pipMode);
    lib_.IniAll(s_.symbol.c_str(), s_.currency.c_str());
}

void Advisor::Enter(Side side, TickRecord& r)
{
    const bool buy = side == Side::Buy;
    const double price = buy ? r.quote.ask : r.quote.bid;
    const auto lotDivisor = static_cast<int32_t>(s_.contractSize);
    r.lots = lib_.Lot(s_.fixedLot, s_.riskPercent, s_.riskMultiplier, s_.minLot, s_.maxLot, s_.lotStep, lotDivisor,
                      account_.FreeMargin(), account_.MarginPerLot(chart_, price, side), s_.riskSplit,
                      s_.symbol.c_str());
    if (!(std::isfinite(r.lots) && r.lots > 0.0)) {
        const std::string reason = NoLotReason(r.lots, s_.fixedLot, s_.riskPercent, s_.minLot, s_.lotStep, lotDivisor,
                                               s_.riskSplit, s_.symbol);
        const auto c = static_cast<size_t>(chart_);
        if (tally_.noLot[c]++ == 0) tally_.noLotReason[c] = reason;
        Refuse(r, side, 0, fmt::format("{}: {}", NoLotText, reason));
        r.refusal = -1;
        return;
    }
    // As the expert's TorvikLevel: a distance of 0 or below, or not a
    // number, gives no level; so does a level that comes out at 0 or below
    // (a stop further than the price) or at or beyond the closing price. A
    // level closer to the closing price than the broker's stop level (and
    // at least one point) is moved out to it, or the order is not sent.
    const double closing = buy ? r.quote.bid : r.quote.ask;
    const char* const closingName = buy ? "bid" : "ask";
    const int32_t needed = std::max(s_.stopLevel, 1);
    const auto text = [this](double x) { return fmt::format("{:.{}f}", x, s_.digits); };
    std::string notSent;
    const auto level = [&](double distance, double away, const char* what, const char* getter, double& out,
                           std::string& note) {
        if (!(distance > 0.0)) {
            note = fmt::format("opened without a {}: {} answered {}", what, getter, distance);
            return true;
        }
        out = account_.Normalize(chart_, price + away * distance);
        if (!(out > 0.0)) {
            note = fmt::format("opened without a {}: {} {} {} is {} (not above 0)", what, text(price),
                               away > 0.0 ? "+" : "-", text(distance), text(out));
            out = 0.0;
            return true;
        }
        const int64_t points = std::llround(away * (out - closing) / s_.point);
        if (points >= needed) return true;
        if (points <= 0) {
            note = fmt::format("opened without a {}: {} is at or {} the {} {}", what, text(out),
                               away > 0.0 ? "below" : "above", closingName, text(closing));
            out = 0.0;
            return true;
        }
        if (s_.stopsTooClose == StopsTooClose::Refuse) {
            notSent = fmt::format("not sent: its {} {} is {} points from the {} {} and the broker needs {}", what,
                                  text(out), points, closingName, text(closing), needed);
            return false;
        }
        const double moved = account_.Normalize(chart_, closing + away * needed * s_.point);
        note = fmt::format("{} {} was {} points from the {} {} and the broker needs {}: moved out to {}", what,
                           text(out), points, closingName, text(closing), needed, text(moved));
        out = moved;
        return true;
    };
    OrderLevels levels;
    const bool send =
        level(lib_.TakeProfit(), buy ? 1.0 : -1.0, "take-profit", "PoTP", levels.takeProfit, levels.takeProfitNote) &&
        level(lib_.StopLoss(), buy ? -1.0 : 1.0, "stop-loss", "PoSL", levels.stopLoss, levels.stopLossNote);
    if (!send) {
        ++tally_.tooClose[static_cast<size_t>(chart_)];
        Refuse(r, side, 0, notSent);
        r.refusal = -2;
        return;
    }
    r.takeProfit = levels.takeProfit;
    r.stopLoss = levels.stopLoss;
    const int32_t code = account_.Open(chart_, side, r.lots, std::move(levels), r.timeMs);
    if (code != 0) Refuse(r, side, code, TextOf(lib_.ErrorDescription(code)));
}

void Advisor::Refuse(TickRecord& r, Side side, int32_t code, std::string text, int32_t ticket, double lots)
{
    if (ticket == 0) r.refusal = code;
    ++tally_.refusalCount;
    ++tally_.refusalsByChart[static_cast<size_t>(chart_)];
    if (tally_.refusals.size() < MaxListedRefusals) {
        tally_.refusals.push_back(Refusal{r.timeMs, side, ticket == 0 ? r.lots : lots, code, std::move(text), chart_,
                                          ticket});
    }
}

}  // namespace torvik::tester
