// Every export called over real EURUSD windows, each call made in a given
// floating-point state, with what came back kept as bits. The same run goes
// through the linked exports (tests/fp_state_test.cpp) and through the
// Windows DLLs (tests/windows/load_test.cpp).
#pragma once

#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>
#include <vector>

#include "market/bar_record.h"
#include "support/fp_state.h"

namespace torvik::testing {

inline constexpr int32_t FpWindow = 300;
inline constexpr size_t FpStride = 7;  // every 7th bar of the file ends a window
inline constexpr int32_t FpDigits = 5;
inline constexpr double FpPoint = 0.00001;
inline constexpr int32_t FpPipMode = 4;  // a pip is ten points

// One update's inputs, all computed before the first call, so that none of
// the caller's own arithmetic runs in the hostile state.
struct FpTick {
    const BarRecord* bars;
    double ask, bid, point, positionOpenPrice;
    int32_t positionType;
    const char* symbol;
    double lotStep, funds;
    int32_t riskSplit, errorCode;
};

// Windows of 300 bars, one ending at every 7th bar; the symbol alternates
// between one with a profile and one without, the position between none, a
// losing buy and a losing sell. Then the inputs the engine divides by zero on
// or reads as not a number, which trap when a caller unmasked the exceptions
// and nothing masks them again.
inline std::vector<FpTick> FpTicks(const std::vector<BarRecord>& history)
{
    std::vector<FpTick> ticks;
    const size_t window = static_cast<size_t>(FpWindow);
    for (size_t end = window, i = 0; end <= history.size(); end += FpStride, ++i) {
        const BarRecord* bars = history.data() + (end - window);
        const double bid = bars[window - 1].close;
        const int32_t side = static_cast<int32_t>(i % 3);  // 0 none, 1 buy, 2 sell
        const double open = side == 0 ? 0.0 : side == 1 ? bid + 300 * FpPoint : bid - 300 * FpPoint;
        ticks.push_back(FpTick{bars, bid + 12 * FpPoint, bid, FpPoint, open, side == 2 ? 1 : 0,
                               i % 2 == 0 ? "EURUSD" : "EUR.USD", 0.01, 1000.0 + 37.0 * static_cast<double>(i), 1,
                               static_cast<int32_t>(i % 150)});
    }
    if (ticks.empty()) return ticks;
    FpTick zeroPoint = ticks.back();
    zeroPoint.point = 0.0;
    zeroPoint.lotStep = 0.0;
    ticks.push_back(zeroPoint);
    FpTick notANumber = ticks.back();
    notANumber.point = FpPoint;
    notANumber.ask = std::numeric_limits<double>::quiet_NaN();
    notANumber.bid = notANumber.ask;
    notANumber.riskSplit = 0;
    ticks.push_back(notANumber);
    return ticks;
}

struct FpAnswers {
    std::vector<uint64_t> bits;
    int stateChanged = 0;  // calls after which the state was not the one they were called in
};

template <typename T>
uint64_t AnswerBits(T answer)
{
    if constexpr (std::is_pointer_v<T>) {
        return reinterpret_cast<uintptr_t>(answer);
    } else if constexpr (std::is_same_v<T, double>) {
        uint64_t bits;
        std::memcpy(&bits, &answer, sizeof bits);
        return bits;
    } else {
        return static_cast<uint32_t>(answer);
    }
}

// Exports: anything with the fourteen exports as callable members.
template <typename Exports>
FpAnswers CallEveryExport(const Exports& x, const std::vector<FpTick>& ticks, const FpState& caller)
{
    FpAnswers out;
    const FpState home = ReadFpState();
    const auto in = [&](auto call) {
        SetFpState(caller);
        const auto answer = call();
        const FpState after = ReadFpState();
        SetFpState(home);
        if (!(after == caller)) ++out.stateChanged;
        out.bits.push_back(AnswerBits(answer));
    };
    const int32_t n = FpWindow;
    in([&] { return x.rews(); });
    for (const FpTick& t : ticks) {
        in([&] {
            return x.Rft(n, t.bars, n, t.bars, n, t.bars, n, t.ask, t.bid, FpDigits, t.point, t.positionOpenPrice,
                         t.positionType, FpPipMode);
        });
        in([&] { return x.IniAll(t.symbol, "USD"); });
        in([&] { return x.CloseSignal(); });
        in([&] { return x.OpenSignal(); });
        in([&] { return x.PoTP(); });
        in([&] { return x.PoSL(); });
        in([&] { return x.Dpp(); });
        in([&] { return x.DSP(); });
        in([&] { return x.DCloseSP(); });
        in([&] { return x.HHH_1(); });
        in([&] { return x.HHH_2(); });
        in([&] { return x.LOT(0.1, 2.0, 1.0, 0.01, 100.0, t.lotStep, 100000, t.funds, 1000.0, t.riskSplit, "EURUSD"); });
        in([&] { return x.ErrorDescription(t.errorCode); });
    }
    return out;
}

inline int CountDifferences(const std::vector<uint64_t>& a, const std::vector<uint64_t>& b)
{
    if (a.size() != b.size()) return std::numeric_limits<int>::max();
    int differ = 0;
    for (size_t i = 0; i < a.size(); ++i) differ += a[i] != b[i] ? 1 : 0;
    return differ;
}

}  // namespace torvik::testing
