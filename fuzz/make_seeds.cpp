// Writes the hand-made seeds of the fuzz corpus: short call sequences that a
// host makes (an update, a position to close, calls in a wrong order) and the
// bad arguments each export must survive. The fuzzer mutates them; the
// replay runs them as they are.
//   torvik_fuzz_seeds fuzz/corpus
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz/input_format.h"

namespace {

using namespace torvik::fuzz;

// Indexes into the harness's SpecialDoubles.
enum Special : uint8_t {
    Zero = 0,
    NegativeZero = 1,
    One = 2,
    MinusOne = 3,
    Tiny = 14,           // 1e-300
    Denormal = 17,       // the smallest denormal
    Largest = 20,
    Infinity = 22,
    MinusInfinity = 23,
    NotANumber = 24,
    SignallingNaN = 26,
    IntEdge = 30,        // 2147483648
    Huge = 37,           // 1e300
};

class Seed {
public:
    const std::vector<uint8_t>& Bytes() const { return bytes_; }

    Seed& U8(uint8_t v)
    {
        bytes_.push_back(v);
        return *this;
    }
    Seed& U16(uint16_t v) { return U8(static_cast<uint8_t>(v)).U8(static_cast<uint8_t>(v >> 8)); }
    Seed& U32(uint32_t v) { return U16(static_cast<uint16_t>(v)).U16(static_cast<uint16_t>(v >> 16)); }
    Seed& U64(uint64_t v) { return U32(static_cast<uint32_t>(v)).U32(static_cast<uint32_t>(v >> 32)); }

    Seed& Int(int32_t v) { return U8(IntRaw).U32(static_cast<uint32_t>(v)); }
    Seed& Double(double v)
    {
        uint64_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        return U8(DoubleRaw).U64(bits);
    }
    Seed& Special(uint8_t index) { return U8(index); }
    // The argument's typical base plus k of its units: a price k points from
    // the last close, a point of the quote's digits (k = 0), ...
    Seed& Near(int16_t k) { return U8(DoubleNear).U16(static_cast<uint16_t>(k)); }

    // Bar arrays.
    Seed& TotalIsBarCount() { return U8(0); }
    Seed& TotalDelta(uint8_t deltaIndex) { return U8(deltaIndex); }  // 0 1 2 3 4 5 6 7 -> +0 +0 +0 +1 +2 +7 -1 -2
    Seed& Total(int32_t v) { return Int(v); }
    Seed& NullArray() { return U8(ArrayNull).TotalIsBarCount(); }
    Seed& AliasOfSeries() { return U8(ArrayAliasOfSeries).TotalIsBarCount(); }
    Seed& Walk(uint32_t seed, uint8_t startPrice, uint8_t volatility, int8_t trend, uint8_t reversal,
               uint8_t volume)
    {
        return U8(ContentWalk).U32(seed).U8(startPrice).U8(volatility).U8(static_cast<uint8_t>(trend)).U8(reversal).U8(
            volume);
    }

    Seed& Call(Call c, bool repeat = false) { return U8(static_cast<uint8_t>(c | (repeat ? CallRepeatBit : 0))); }

    // Rft with one walk as the series and the other two arrays aliasing it.
    Seed& Update(int32_t barCount, uint32_t walkSeed, uint8_t startPrice, int8_t trend, int32_t digits = 5,
                 int32_t pipMode = 4, int16_t spreadPoints = 12, int16_t openPips = 0, int32_t type = 0)
    {
        Call(CallRft).Int(barCount);
        U8(ArrayOwn).TotalIsBarCount().Walk(walkSeed, startPrice, 20, trend, 200, 5);
        AliasOfSeries().AliasOfSeries();
        Int(digits).Near(0);           // point of the digits
        Near(0).Near(spreadPoints);    // bid at the last close, ask above it
        if (openPips == 0) Special(Zero);
        else Near(openPips);           // open price openPips pips from the bid
        return Int(type).Int(pipMode);
    }

    Seed& Text(const std::string& s)
    {
        U8(TextBytes).U8(static_cast<uint8_t>(s.size()));
        for (const char c : s) U8(static_cast<uint8_t>(c));
        return *this;
    }
    Seed& NullText() { return U8(TextNull); }
    Seed& LongText(uint16_t length, uint8_t commonIndex) { return U8(TextLong).U16(length).U8(commonIndex); }
    Seed& IniAll(const std::string& symbol, const std::string& currency)
    {
        return Call(CallIniAll).Text(symbol).Text(currency);
    }

    Seed& Decisions() { return Call(CallOpenSignal, true).Call(CallCloseSignal, true).Call(CallGetters); }

    // LOT with the typical value of every argument but the ones given after.
    Seed& Lot() { return Call(CallLot); }
    Seed& ErrorCode(int32_t code) { return Call(CallErrorDescription).U8(IntRaw).U32(static_cast<uint32_t>(code)); }

private:
    std::vector<uint8_t> bytes_;
};

void Write(const std::filesystem::path& dir, const std::string& name, const Seed& seed)
{
    std::ofstream out(dir / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(seed.Bytes().data()), static_cast<std::streamsize>(seed.Bytes().size()));
    std::printf("%s (%zu bytes)\n", name.c_str(), seed.Bytes().size());
}

// LOT arguments in order, each as given.
Seed& LotCall(Seed& s, double fixedLot, double riskPercent, double riskMultiplier, double minLot, double maxLot,
              double lotStep, int32_t lotDivisor, double accountFunds, double marginPerLot, int32_t riskSplit,
              const char* symbol)
{
    s.Lot().Double(fixedLot).Double(riskPercent).Double(riskMultiplier).Double(minLot).Double(maxLot);
    s.Double(lotStep).Int(lotDivisor).Double(accountFunds).Double(marginPerLot).Int(riskSplit);
    return symbol != nullptr ? s.Text(symbol) : s.NullText();
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
        return 2;
    }
    const std::filesystem::path dir(argv[1]);
    std::filesystem::create_directories(dir);

    {  // The update of an expert advisor on a profiled pair, then a position to manage.
        Seed s;
        s.Update(300, 1, 0, 3).IniAll("EURUSD", "USD").Decisions();
        LotCall(s, 0.1, 2.0, 1.0, 0.01, 100.0, 0.01, 100000, 10000.0, 1000.0, 1, "EURUSD");
        s.Update(300, 2, 0, -3, 5, 4, 12, 25, 0).Decisions().Update(300, 3, 0, 4, 5, 4, 12, -25, 1).Decisions();
        s.ErrorCode(2);
        Write(dir, "seed-update-eurusd", s);
    }
    {  // An instrument without a profile: the Ichimoku score decides, over 500 bars.
        Seed s;
        s.Update(500, 7, 1, 2).IniAll("XAGEUR", "EUR").Decisions().Update(500, 8, 1, -2).Decisions();
        Write(dir, "seed-update-unprofiled-500", s);
    }
    {  // A yen pair, three digits, a pip of ten points chosen by pipMode.
        Seed s;
        s.Update(200, 11, 4, 5, 3, 5).IniAll("USDJPY.m", "JPY").Decisions();
        Write(dir, "seed-update-usdjpy", s);
    }
    {  // Every question before any bars, then IniAll before Rft.
        Seed s;
        s.Decisions().IniAll("EURUSD", "USD").Decisions().Call(CallRews).Decisions();
        LotCall(s, 0.1, 2.0, 1.0, 0.01, 100.0, 0.01, 100000, 10000.0, 1000.0, 1, "EURUSD");
        s.ErrorCode(4000);
        Write(dir, "seed-calls-before-rft", s);
    }
    {  // rews in the middle of updates: the questions after it, then recalibration.
        Seed s;
        s.Update(150, 21, 0, 2).IniAll("GBPUSD", "USD").Call(CallRews).Decisions();
        s.Update(150, 22, 0, -2).Decisions().IniAll("GBPUSD", "USD").Decisions();
        Write(dir, "seed-rews-between-updates", s);
    }
    {  // Totals that lie: below barCount, negative, null arrays, more bars than the series hold.
        Seed s;
        s.Update(300, 31, 0, 1).IniAll("EURUSD", "USD");
        const auto rft = [&s](int32_t barCount) -> Seed& { return s.Call(CallRft).Int(barCount); };
        const auto market = [&s]() { s.Int(5).Near(0).Near(0).Near(10).Special(Zero).Int(0).Int(4); };
        rft(300).U8(ArrayOwn).TotalDelta(6).Walk(32, 0, 20, 1, 0, 5).AliasOfSeries().AliasOfSeries();  // total 299
        market();
        s.Decisions();
        rft(300).U8(ArrayOwn).TotalIsBarCount().Walk(33, 0, 20, 1, 0, 5).U8(ArrayOwn).Total(-1).U8(ContentZero);
        s.AliasOfSeries();
        market();
        s.Decisions();
        rft(300).U8(ArrayOwn).TotalIsBarCount().Walk(34, 0, 20, 1, 0, 5).NullArray().AliasOfSeries();
        market();
        s.Decisions();
        rft(501).U8(ArrayOwn).TotalIsBarCount().Walk(35, 0, 20, 1, 0, 5).AliasOfSeries().AliasOfSeries();
        market();
        s.Decisions().IniAll("EURUSD", "USD").Decisions();
        rft(1).U8(ArrayOwn).TotalIsBarCount().Walk(36, 0, 20, 1, 0, 5).AliasOfSeries().AliasOfSeries();  // one ref bar
        market();
        s.Decisions();
        rft(0).U8(ArrayOwn).Total(0).U8(ContentZero).AliasOfSeries().AliasOfSeries();
        market();
        s.Decisions().IniAll("EURUSD", "USD").Decisions();
        Write(dir, "seed-rft-lying-totals", s);
    }
    {  // The most negative bar counts: lastBarIndex wraps to INT_MAX and to INT_MIN.
        Seed s;
        s.Update(300, 41, 0, 2).IniAll("EURUSD", "USD");
        for (const int32_t barCount : {INT32_MIN, INT32_MIN + 1}) {
            s.Call(CallRft).Int(barCount).U8(ArrayOwn).Total(10).Walk(42, 0, 20, 1, 0, 5);
            s.U8(ArrayAliasOfSeries).Total(10).U8(ArrayAliasOfSeries).Total(10);
            s.Int(5).Near(0).Near(0).Near(10).Special(Zero).Int(0).Int(4);
            s.Decisions().IniAll("EURUSD", "USD").Decisions();
        }
        Write(dir, "seed-rft-most-negative-bar-counts", s);
    }
    {  // Found: barCount -2147483647 is accepted and leaves lastBarIndex at
       // -2147483648, from which the moving average counted back (L - 1) and
       // overflowed. Kernels now see no bars for every negative lastBarIndex.
        Seed s;
        s.Update(300, 43, 0, 2).IniAll("EURUSD", "USD");
        s.Call(CallRft).Int(INT32_MIN + 1).U8(ArrayOwn).Total(10).Walk(44, 0, 20, 1, 0, 5);
        s.U8(ArrayAliasOfSeries).Total(10).U8(ArrayAliasOfSeries).Total(10);
        s.Int(5).Near(0).Near(0).Near(10).Special(Zero).Int(0).Int(4);
        s.Call(CallOpenSignal);
        Write(dir, "regress-last-bar-index-int-min", s);
    }
    {  // Not-a-number, infinite and denormal prices, a zero and a negative point.
        Seed s;
        const struct {
            uint8_t price, point;
        } cases[] = {{NotANumber, Zero}, {Infinity, MinusOne}, {Denormal, NegativeZero}, {Huge, NotANumber},
                     {SignallingNaN, Denormal}, {MinusInfinity, Infinity}};
        for (const auto& c : cases) {
            s.Call(CallRft).Int(200).U8(ArrayOwn).TotalIsBarCount().U8(ContentFlat).Special(c.price).Special(c.price);
            s.AliasOfSeries().AliasOfSeries().Int(5).Special(c.point).Special(c.price).Special(c.price);
            s.Special(c.price).Int(1).Int(4);
            s.IniAll("EURUSD", "USD").Decisions().IniAll("NOPAIR", "EUR").Decisions();
        }
        Write(dir, "seed-not-a-number-prices", s);
    }
    {  // Calibration of digit counts the text never meant: 0, 1, 6, 9, 10, -1, INT_MIN.
        Seed s;
        for (const int32_t digits : {0, 1, 6, 9, 10, -1, INT32_MIN, INT32_MAX}) {
            s.Update(120, 51, 3, 1, digits, digits & 1 ? 5 : 4).IniAll("AUDCAD", "EUR").Decisions();
            s.IniAll("CADCHF", "USD").Decisions();
        }
        Write(dir, "seed-odd-digit-counts", s);
    }
    {  // LOT with arguments outside its bounds.
        Seed s;
        LotCall(s, 0.1, 2.0, 1.0, 0.01, 100.0, 0.01, 100000, 10000.0, 1000.0, 0, "EURUSD");     // riskSplit 0
        LotCall(s, 0.1, 2.0, 1.0, 0.01, 100.0, 0.01, 99, 10000.0, 1000.0, 1, "EURUSD");         // lotDivisor 99
        LotCall(s, 0.1, 2.0, 1.0, 0.01, 100.0, 0.0, 100000, 10000.0, 1000.0, 1, "EURUSD");      // lotStep 0
        LotCall(s, 0.1, 2.0, 1.0, 0.01, 100.0, -0.01, 100000, 10000.0, 1000.0, 1, "EURUSD");    // lotStep < 0
        LotCall(s, 0.1, 2.0, 1.0, 0.01, 100.0, 1e-300, 100000, 10000.0, 1000.0, 1, "EURUSD");   // digits > 9
        LotCall(s, 0.1, 2.0, 1.0, 0.01, 100.0, 0.01, 100000, 10000.0, 1000.0, 1, nullptr);      // null symbol
        LotCall(s, 0.1, 2.0, 1.0, 0.0, 100.0, 0.01, 100000, 10000.0, 1e9, 1, "EURUSD");         // minLot 0
        LotCall(s, 0.1, 100.0, 1.0, 1e-9, 1e9, 1e-9, 100000, 1e12, 1e9, 1, "EURUSD");           // cut-back limit
        LotCall(s, 0.1, 100.0, 1.0, 1e-300, 1e300, 1e-300, 100, 1e300, 1e300, 1, "EURUSD");     // lot - minLot == lot
        LotCall(s, 0.1, 1e300, 1e300, 0.01, 1e300, 0.01, 100, 1e300, 1.0, 1, "XAUUSD");
        s.Lot().Special(NotANumber).Special(NotANumber).Special(NotANumber).Special(NotANumber).Special(NotANumber);
        s.Special(NotANumber).Int(INT32_MIN).Special(NotANumber).Special(NotANumber).Int(INT32_MIN).LongText(8192, 1);
        Write(dir, "seed-lot-bad-arguments", s);
    }
    {  // Error codes: the catalogue's edges, unknown codes, the int range's ends.
        Seed s;
        for (const int32_t code : {0, 1, 9, 10, 64, 128, 141, 142, 148, 149, 3999, 4000, 4022, 4023, 4050, 4067,
                                   4099, 4111, 4200, 4207, 4208, -1, INT32_MIN, INT32_MAX}) {
            s.ErrorCode(code);
        }
        Write(dir, "seed-error-codes", s);
    }
    {  // Texts: null pointers, long texts full of near matches, bytes above 0x7F.
        Seed s;
        s.Update(120, 61, 0, 1);
        s.Call(CallIniAll).NullText().NullText().Decisions();
        s.Call(CallIniAll).LongText(8192, 16).LongText(8192, 5).Decisions();  // "EURUS..." and "US..."
        s.Call(CallIniAll).Text("\xFF\xFE\x80zEURUSD\x01").Text("\xE0USD").Decisions();
        s.Call(CallIniAll).Text("").Text("").Decisions();
        Write(dir, "seed-texts", s);
    }
    return 0;
}
