#include "fuzz/export_sequence.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "calibration/instrument_profiles.h"
#include "engine/engine_state.h"
#include "engine/exports.h"
#include "engine/rounding.h"
#include "fuzz/input_format.h"
#include "market/bar_record.h"
#include "messages/error_description.h"
#include "signals/reference/entry_signal.h"
#include "signals/reference/exit_signal.h"

namespace torvik::fuzz {

namespace {

constexpr int MaxCallsPerInput = 64;
constexpr double DefaultCallLimitMs = 50.0;
// A text of the catalogue is far shorter; a missing NUL shows up as a longer one.
constexpr std::size_t MaxDescriptionLength = 1024;

#if defined(TORVIK_LANGUAGE_RUSSIAN)
constexpr const char* BuildLanguage = "Russian";
const char* BuildCatalogue(int32_t code) { return RussianErrorDescription(code); }
// "Неизвестная ошибка" in code page 1251.
constexpr const char* BuildDefaultText = "\xCD\xE5\xE8\xE7\xE2\xE5\xF1\xF2\xED\xE0\xFF \xEE\xF8\xE8\xE1\xEA\xE0";
#else
constexpr const char* BuildLanguage = "English";
const char* BuildCatalogue(int32_t code) { return EnglishErrorDescription(code); }
constexpr const char* BuildDefaultText = "Unknown error";
#endif

// ---- reading the input

class ByteReader {
public:
    ByteReader(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool Empty() const { return position_ >= size_; }

    uint8_t U8() { return position_ < size_ ? data_[position_++] : 0; }
    uint16_t U16()
    {
        const uint16_t lo = U8();
        return static_cast<uint16_t>(lo | (U8() << 8));
    }
    uint32_t U32()
    {
        const uint32_t lo = U16();
        return lo | (static_cast<uint32_t>(U16()) << 16);
    }
    uint64_t U64()
    {
        const uint64_t lo = U32();
        return lo | (static_cast<uint64_t>(U32()) << 32);
    }
    int16_t I16() { return static_cast<int16_t>(U16()); }
    int32_t I32() { return static_cast<int32_t>(U32()); }
    double F64()
    {
        const uint64_t bits = U64();
        double d;
        std::memcpy(&d, &bits, sizeof d);
        return d;
    }

private:
    const uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

template <std::size_t N>
int32_t ReadInt(ByteReader& r, const int32_t (&table)[N], int32_t lo, uint16_t span)
{
    const uint8_t selector = r.U8();
    if (selector < IntRangeFrom) return table[selector % N];
    if (selector < IntRawFrom) return WrapAdd(lo, static_cast<int32_t>(r.U16() % span));
    return r.I32();
}

double DoubleFromBits(uint64_t bits)
{
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

constexpr double Inf = std::numeric_limits<double>::infinity();

// Values that break arithmetic: not a number of both signs and a signalling
// one, infinities, denormals, the edges of the int range, huge and tiny.
const double SpecialDoubles[] = {
    0.0,
    -0.0,
    1.0,
    -1.0,
    0.5,
    2.0,
    10.0,
    100.0,
    0.1,
    0.01,
    0.001,
    0.0001,
    0.00001,
    1e-9,
    1e-300,
    -1e-300,
    std::numeric_limits<double>::min(),
    std::numeric_limits<double>::denorm_min(),
    -std::numeric_limits<double>::denorm_min(),
    std::numeric_limits<double>::min() / 4.0,
    std::numeric_limits<double>::max(),
    -std::numeric_limits<double>::max(),
    Inf,
    -Inf,
    std::numeric_limits<double>::quiet_NaN(),
    -std::numeric_limits<double>::quiet_NaN(),
    DoubleFromBits(0x7FF0000000000001ull),  // signalling
    DoubleFromBits(0xFFF8DEADBEEF0001ull),  // negative, with a payload
    2147483647.0,
    2147483647.5,
    2147483648.0,
    -2147483648.0,
    -2147483648.5,
    -2147483649.0,
    4294967296.0,
    9.3e18,
    1e15,
    1e300,
    -1e300,
    1.1,
    110.0,
    1e6,
    1e9,
    0.9999999999999999,
    1.0000000000000002,
    -0.5,
    1e-5 * 0.5,
};
constexpr std::size_t SpecialDoubleCount = sizeof SpecialDoubles / sizeof SpecialDoubles[0];

double ReadDouble(ByteReader& r, double base, double unit)
{
    const uint8_t selector = r.U8();
    if (selector < DoubleNearFrom) return SpecialDoubles[selector % SpecialDoubleCount];
    if (selector < DoubleRawFrom) return base + static_cast<double>(r.I16()) * unit;
    return r.F64();
}

// ---- what the host passes

struct HostArray {
    std::unique_ptr<unsigned char[]> storage;
    BarRecord* records = nullptr;
    int32_t owned = 0;  // records allocated
    const BarRecord* pointer = nullptr;
    int32_t total = 0;  // what the host claims
};

struct HostText {
    std::unique_ptr<char[]> bytes;
    const char* pointer = nullptr;
    std::size_t length = 0;
};

// The point of a quote with 0 to 9 digits, as the host has it.
const double DecimalUnits[] = {1.0, 0.1, 0.01, 0.001, 0.0001, 0.00001, 0.000001, 0.0000001, 0.00000001, 0.000000001};

const int32_t TotalDeltas[] = {0, 0, 0, 1, 2, 7, -1, -2};
const int32_t TotalTable[] = {INT32_MIN, INT32_MIN + 1, -2, -1, 0, 1, 2, 3, 97, 98, 499, 500, 501, 1000};

int32_t ReadTotal(ByteReader& r, int32_t barCount)
{
    const uint8_t selector = r.U8();
    int32_t total;
    if (selector < TotalTableFrom) total = WrapAdd(barCount, TotalDeltas[selector % std::size(TotalDeltas)]);
    else if (selector < IntRangeFrom) total = TotalTable[selector % std::size(TotalTable)];
    else if (selector < IntRawFrom) total = static_cast<int32_t>(r.U16() % 1201);
    else total = r.I32();
    // A total the harness could not back with memory of its own becomes one it
    // can: the host lies about its arrays, never about memory it does not have.
    if (total > MaxOwnedRecords) total %= MaxOwnedRecords + 1;
    return total;
}

// Deterministic bars: splitmix64.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint64_t Next()
    {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    int64_t Between(int64_t lo, int64_t hi)  // inclusive, hi >= lo
    {
        return lo + static_cast<int64_t>(Next() % static_cast<uint64_t>(hi - lo + 1));
    }

private:
    uint64_t state_;
};

const double WalkStartPrices[] = {1.1, 1.3, 0.7, 1.0, 110.0, 150.0, 1600.0, 0.01, 30000.0, 0.00002};
const double WalkVolumes[] = {0.0, 1.0, 50.0, 100.0, 150.0, 200.0, 250.0, 300.0, 434.0, 1000.0, 1e7, 1e300};

// A random walk on the quote grid of its price: whole steps of a point, with
// a trend that turns at the reversal bar, as real charts have.
void FillWalk(ByteReader& r, BarRecord* bars, int32_t count)
{
    Random random(r.U32());
    const double start = WalkStartPrices[r.U8() % std::size(WalkStartPrices)];
    const int64_t volatility = 1 + (r.U8() % 64) * 4;
    int64_t trend = static_cast<int8_t>(r.U8());
    const int32_t reversalBar = static_cast<int32_t>(r.U8()) * count / 256;
    const double volume = WalkVolumes[r.U8() % std::size(WalkVolumes)];
    const double point = start >= 10.0 ? 0.001 : (start >= 0.001 ? 0.00001 : 0.0000001);

    int64_t open = static_cast<int64_t>(start / point);
    for (int32_t i = 0; i < count; ++i) {
        if (i == reversalBar) trend = -trend;
        const int64_t close = open + random.Between(-volatility, volatility) + trend;
        const int64_t high = std::max(open, close) + random.Between(0, volatility);
        const int64_t low = std::min(open, close) - random.Between(0, volatility);
        BarRecord& b = bars[i];
        b.time = static_cast<uint32_t>(1600000000u + 3600u * static_cast<uint32_t>(i));
        b.open = static_cast<double>(open) * point;
        b.low = static_cast<double>(low) * point;
        b.high = static_cast<double>(high) * point;
        b.close = static_cast<double>(close) * point;
        b.volume = volume + static_cast<double>(random.Between(0, 100));
        open = close;
    }
}

void SetField(BarRecord& b, uint8_t field, double value)
{
    switch (field % 5) {
    case 0: b.open = value; break;
    case 1: b.low = value; break;
    case 2: b.high = value; break;
    case 3: b.close = value; break;
    default: b.volume = value; break;
    }
}

void FillContent(ByteReader& r, BarRecord* bars, int32_t count)
{
    switch (r.U8() % ContentKindCount) {
    case ContentWalk:
        FillWalk(r, bars, count);
        break;
    case ContentFlat: {
        const double price = ReadDouble(r, 1.1, 0.00001);
        const double volume = ReadDouble(r, 150.0, 1.0);
        for (int32_t i = 0; i < count; ++i) {
            bars[i] = BarRecord{static_cast<uint32_t>(i), price, price, price, price, volume};
        }
        break;
    }
    case ContentRaw: {
        const int32_t n = r.U8();
        BarRecord given[256] = {};
        for (int32_t k = 0; k < n; ++k) {
            for (uint8_t field = 0; field < 5; ++field) SetField(given[k], field, ReadDouble(r, 1.1, 0.00001));
        }
        for (int32_t i = 0; i < count; ++i) {
            bars[i] = n > 0 ? given[i % n] : BarRecord{};
            bars[i].time = static_cast<uint32_t>(i);
        }
        break;
    }
    case ContentCorrupted: {
        FillWalk(r, bars, count);
        const int n = r.U8() % 16;
        for (int k = 0; k < n; ++k) {
            const uint16_t at = r.U16();
            const uint8_t field = r.U8();
            const double value = ReadDouble(r, 1.1, 0.00001);
            if (count > 0) SetField(bars[at % count], field, value);
        }
        break;
    }
    default:
        for (int32_t i = 0; i < count; ++i) bars[i] = BarRecord{};
        break;
    }
}

HostArray ReadArray(ByteReader& r, int32_t barCount, const HostArray* series)
{
    HostArray a;
    const uint8_t kindByte = r.U8();
    const uint8_t kind = kindByte % ArrayKindCount;
    // The host's records are packed and may start at any address.
    const std::size_t misalignment = (kindByte / ArrayKindCount) % 8;
    a.total = ReadTotal(r, barCount);
    if (kind == ArrayNull) return a;
    if (kind == ArrayAliasOfSeries && series != nullptr) {
        a.pointer = series->pointer;
        if (a.pointer == nullptr) return a;
        a.total = std::min(a.total, series->owned);
        return a;
    }
    // Exactly the records claimed, so that a read past them is caught; a
    // negative total comes with a small real array.
    a.owned = a.total >= 0 ? a.total : 2;
    const std::size_t bytes = sizeof(BarRecord) * static_cast<std::size_t>(a.owned);
    a.storage.reset(new unsigned char[misalignment + bytes]);
    a.records = reinterpret_cast<BarRecord*>(a.storage.get() + misalignment);
    a.pointer = a.records;
    FillContent(r, a.records, a.owned);
    return a;
}

const char* const CommonTexts[] = {
    "",        "USD",      "EUR",      "JPY",      "GBP",          "US",      "usd",
    "EURUSD",  "eurusd",   "EURUSD.m", "xEURUSDx", "GBPJPY",       "USDJPY",  "EURGBP",
    "XAUUSD",  "BTCUSD",   "EURUS",    "US D",     "EURUSDGBPJPY", "NZDCAD",  "\xD0\xA0\xD1\x83\xD0\xB1",
    "\xFF\xFE", "USDCHFm", "AUDNZD#",  "GBPUSD\n",
};

HostText MakeText(const std::string& s)
{
    HostText t;
    t.length = s.size();
    t.bytes.reset(new char[s.size() + 1]);
    std::memcpy(t.bytes.get(), s.data(), s.size());
    t.bytes[s.size()] = '\0';
    t.pointer = t.bytes.get();
    return t;
}

HostText ReadText(ByteReader& r)
{
    std::string s;
    switch (r.U8() % TextKindCount) {
    case TextNull:
        return HostText{};
    case TextProfile: {
        const InstrumentProfile& p = InstrumentProfiles[r.U8() % InstrumentProfileCount];
        const int prefix = r.U8() % 4;
        for (int i = 0; i < prefix; ++i) s += static_cast<char>(r.U8());
        s += p.code;
        const int suffix = r.U8() % 4;
        for (int i = 0; i < suffix; ++i) s += static_cast<char>(r.U8());
        break;
    }
    case TextCommon:
        s = CommonTexts[r.U8() % std::size(CommonTexts)];
        break;
    case TextBytes: {
        const int n = r.U8();
        for (int i = 0; i < n; ++i) s += static_cast<char>(r.U8());
        break;
    }
    default: {
        const std::size_t n = r.U16() % 8193u;
        std::string unit = CommonTexts[r.U8() % std::size(CommonTexts)];
        if (unit.empty()) unit = "EURUS";
        while (s.size() < n) s += unit;
        s.resize(n);
        break;
    }
    }
    return MakeText(s);
}

// ---- checking

double CallLimitMs()
{
    static const double limit = [] {
        const char* v = std::getenv("TORVIK_FUZZ_CALL_LIMIT_MS");
        const double parsed = v != nullptr ? std::atof(v) : 0.0;
        return parsed > 0.0 ? parsed : DefaultCallLimitMs;
    }();
    return limit;
}

bool Tracing()
{
    static const bool on = std::getenv("TORVIK_FUZZ_TRACE") != nullptr;
    return on;
}

[[noreturn]] void Fail(int callIndex, const char* call, const char* what)
{
    std::fprintf(stderr, "torvik fuzz (%s build): call %d, %s: %s\n", BuildLanguage, callIndex, call, what);
    std::fflush(stderr);
    std::abort();
}

// The slowest call of each export so far, for the replay's summary.
struct Slowest {
    const char* call = nullptr;
    double ms = 0.0;
};
Slowest slowestCalls[24];  // more than the names passed to Timed

void NoteSlowest(const char* call, double ms)
{
    for (Slowest& s : slowestCalls) {
        if (s.call == nullptr || s.call == call) {  // the names are literals
            s.call = call;
            s.ms = std::max(s.ms, ms);
            return;
        }
    }
}

constexpr int TimedAttempts = 3;

// The time of the call on a steady clock. The machine may be shared (and a
// virtual one, whose processor time includes the host's preemptions), so a
// call past the limit runs again on the record as it was before it: the
// library is deterministic, a call that is really slow is slow every time,
// while one that was preempted is not. It fails when every attempt is.
template <typename F>
auto Timed(int callIndex, const char* call, F&& f)
{
    const EngineState start = engineState;
    double fastest = 0.0;
    for (int attempt = 0;; ++attempt) {
        const auto begin = std::chrono::steady_clock::now();
        auto result = f();
        const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - begin;
        fastest = attempt == 0 ? took.count() : std::min(fastest, took.count());
        if (took.count() <= CallLimitMs()) {
            NoteSlowest(call, fastest);
            return result;
        }
        if (attempt + 1 == TimedAttempts) break;
        engineState = start;
    }
    char what[160];
    std::snprintf(what, sizeof what, "took at least %.3f ms in each of %d attempts, more than the limit of %.1f ms",
                  fastest, TimedAttempts, CallLimitMs());
    Fail(callIndex, call, what);
}

// Who may write each field: the data model's "written by" and "reset by rews".
enum Writers : unsigned {
    Nobody = 0,
    ByCalibration = 1u << 0,  // IniAll writes it, rews zeroes it
    ByProfileMatch = 1u << 1,  // IniAll writes it, rews keeps it
    ByMarket = 1u << 2,        // Rft writes it, rews zeroes it
    ByMarketKept = 1u << 3,    // Rft writes it, rews keeps it
    ByEntryFlags = 1u << 4,    // OpenSignal writes it
};

constexpr unsigned RftWrites = ByMarket | ByMarketKept;
constexpr unsigned IniAllWrites = ByCalibration | ByProfileMatch;
constexpr unsigned RewsWrites = ByCalibration | ByMarket;
constexpr unsigned OpenSignalWrites = ByEntryFlags;

#define TORVIK_FUZZ_SCALARS(X)                                                                                   \
    X(twoConstant, Nobody) X(threeConstant, Nobody) X(takeProfitPips, ByCalibration)                            \
    X(stopLossPips, ByCalibration) X(hhh1, ByCalibration) X(hhh2, ByCalibration)                                \
    X(closeLossPips, ByCalibration) X(smmaPeriod, ByCalibration) X(wprPeriod, ByCalibration)                    \
    X(wprPeriod2, ByCalibration) X(atrPeriod, ByCalibration) X(cciPeriod, ByCalibration)                        \
    X(pipDigits, ByCalibration) X(pipSize, ByCalibration) X(pipTolerance, ByCalibration)                        \
    X(smmaGapPips1, ByCalibration) X(smmaGapPips2, ByCalibration) X(minAtrPips, ByCalibration)                  \
    X(cciLevel, ByCalibration) X(wprBuyLevel1, ByCalibration) X(wprBuyLevel2, ByCalibration)                    \
    X(wprSellLevel1, ByCalibration) X(wprSellLevel2, ByCalibration) X(wprBuyLevel3, ByCalibration)              \
    X(wprSellLevel3, ByCalibration) X(wprLevel1, ByCalibration) X(wprLevel2, ByCalibration)                     \
    X(closeProfitPips, ByCalibration) X(wprLevel3, ByCalibration) X(hostPoint, ByMarket)                        \
    X(hostDigits, ByMarket) X(lastBarIndex, ByMarket) X(bidPrice, ByMarket) X(askPrice, ByMarket)               \
    X(positionOpenPrice, ByMarket) X(hasPosition, ByMarket) X(positionSide, ByMarket)                           \
    X(refPrevClose, ByMarket) X(refPrevOpen, ByMarket) X(buyEntryAllowed, ByEntryFlags)                         \
    X(sellEntryAllowed, ByEntryFlags) X(dspPoints, ByCalibration) X(dcloseSpPoints, ByCalibration)              \
    X(profileMatched, ByProfileMatch) X(spreadPoints, ByMarketKept) X(pipFactor, ByMarketKept)

#define TORVIK_FUZZ_SERIES(X) \
    X(typicalSeries) X(openSeries) X(medianSeries) X(closeSeries) X(weightedSeries) X(lowSeries) X(volumeSeries) \
    X(highSeries)

template <typename T>
bool SameBits(const T& a, const T& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Fails when a field changed that the call may not write. Series entries
// below seriesWritable may change.
void CheckWrites(int callIndex, const char* call, const EngineState& before, unsigned writes,
                 int32_t seriesWritable)
{
    const EngineState& now = engineState;
#define TORVIK_FUZZ_CHECK_SCALAR(field, writers)                                      \
    if ((writes & (writers)) == 0 && !SameBits(before.field, now.field)) {            \
        Fail(callIndex, call, "changed " #field ", a field it does not write");       \
    }
    TORVIK_FUZZ_SCALARS(TORVIK_FUZZ_CHECK_SCALAR)
#undef TORVIK_FUZZ_CHECK_SCALAR
    const int32_t from = std::clamp(seriesWritable, 0, SeriesCapacity);
    const std::size_t kept = sizeof(double) * static_cast<std::size_t>(SeriesCapacity - from);
#define TORVIK_FUZZ_CHECK_SERIES(field)                                                     \
    if (std::memcmp(&before.field[from], &now.field[from], kept) != 0) {                     \
        Fail(callIndex, call, "changed " #field " entries that it does not write");         \
    }
    TORVIK_FUZZ_SERIES(TORVIK_FUZZ_CHECK_SERIES)
#undef TORVIK_FUZZ_CHECK_SERIES
}

bool InCatalogue(int32_t code) { return std::binary_search(std::begin(CatalogueCodes), std::end(CatalogueCodes), code); }

void CheckDescription(int callIndex, const char* call, int32_t code, const char* text, const char* expected,
                      const char* defaultText)
{
    if (text == nullptr) Fail(callIndex, call, "answered a null text");
    if (strnlen(text, MaxDescriptionLength) >= MaxDescriptionLength) Fail(callIndex, call, "text without a NUL");
    if (std::strcmp(text, expected) != 0) Fail(callIndex, call, "not the catalogue's text for the code");
    const bool isDefault = std::strcmp(text, defaultText) == 0;
    if (InCatalogue(code) == isDefault) {
        Fail(callIndex, call, isDefault ? "default text for a code of the catalogue" : "unknown code without the default text");
    }
}

// ---- the calls

class Session {
public:
    explicit Session(ByteReader& r) : r_(r) {}

    void Run()
    {
        for (int i = 0; i < MaxCallsPerInput && !r_.Empty(); ++i) {
            index_ = i;
            const uint8_t callByte = r_.U8();
            const bool repeat = (callByte & CallRepeatBit) != 0;
            switch ((callByte & ~CallRepeatBit) % CallCount) {
            case CallRft: CallRftExport(); break;
            case CallIniAll: CallIniAllExport(); break;
            case CallOpenSignal: CallOpenSignalExport(repeat); break;
            case CallCloseSignal: CallCloseSignalExport(repeat); break;
            case CallRews: CallRewsExport(); break;
            case CallLot: CallLotExport(); break;
            case CallErrorDescription: CallErrorDescriptionExport(); break;
            default: CallGetters(); break;
            }
            if (Tracing()) std::fflush(stdout);
        }
    }

private:
    void CallRftExport()
    {
        static const int32_t barCounts[] = {INT32_MIN, INT32_MIN + 1, -2, -1, 0, 1, 2, 3, 96, 97, 98, 99, 100,
                                            128, 129, 130, 200, 300, 450, 451, 452, 498, 499, 500, 501, 502,
                                            1000, INT32_MAX};
        static const int32_t digitsTable[] = {5, 5, 5, 4, 3, 2, 0, 1, 6, 8, 9, 10, -1, INT32_MIN, INT32_MAX};
        static const int32_t positionTypes[] = {0, 1, 0, 1, 2, -1, 4, INT32_MIN, INT32_MAX};
        static const int32_t pipModes[] = {4, 5, 0, 1, 6, 10, -1, INT32_MIN, INT32_MAX};

        const int32_t barCount = ReadInt(r_, barCounts, 0, 640);
        const HostArray series = ReadArray(r_, barCount, nullptr);
        const HostArray ref = ReadArray(r_, barCount, &series);
        const HostArray extra = ReadArray(r_, barCount, &series);
        const int32_t digits = ReadInt(r_, digitsTable, -2, 16);
        const double unit = digits >= 0 && digits <= 9 ? DecimalUnits[digits] : 0.00001;
        const double point = ReadDouble(r_, unit, unit);
        double lastClose = 1.1;
        if (series.pointer != nullptr && series.total > 0 && series.total <= series.owned &&
            std::isfinite(series.pointer[series.total - 1].close)) {
            lastClose = series.pointer[series.total - 1].close;
        }
        const double step = std::isfinite(point) && point > 0.0 ? point : 0.00001;
        const double bid = ReadDouble(r_, lastClose, step);
        const double ask = ReadDouble(r_, std::isfinite(bid) ? bid : lastClose, step);
        const double openPrice = ReadDouble(r_, std::isfinite(bid) ? bid : lastClose, 10.0 * step);
        const int32_t positionType = ReadInt(r_, positionTypes, -2, 8);
        const int32_t pipMode = ReadInt(r_, pipModes, -8, 24);

        if (Tracing()) {
            std::printf("%2d Rft(barCount %" PRId32 ", ref %s/%" PRId32 ", series %s/%" PRId32 ", extra %s/%" PRId32
                        ", ask %.17g, bid %.17g, digits %" PRId32 ", point %.17g, open %.17g, type %" PRId32
                        ", pipMode %" PRId32 ")",
                        index_, barCount, ref.pointer ? "bars" : "null", ref.total, series.pointer ? "bars" : "null",
                        series.total, extra.pointer ? "bars" : "null", extra.total, ask, bid, digits, point,
                        openPrice, positionType, pipMode);
        }
        const EngineState before = engineState;
        const int32_t result = Timed(index_, "Rft", [&] {
            return ::Rft(barCount, ref.pointer, ref.total, series.pointer, series.total, extra.pointer, extra.total,
                         ask, bid, digits, point, openPrice, positionType, pipMode);
        });
        if (Tracing()) std::printf(" -> %" PRId32 ", lastBarIndex %" PRId32 "\n", result, engineState.lastBarIndex);
        if (result != 0) Fail(index_, "Rft", "answered other than 0");
        CheckWrites(index_, "Rft", before, RftWrites, std::clamp(barCount, 0, SeriesCapacity));
    }

    void CallIniAllExport()
    {
        const HostText symbol = ReadText(r_);
        const HostText currency = ReadText(r_);
        if (Tracing()) {
            std::printf("%2d IniAll(%s \"%.40s\" (%zu bytes), %s \"%.40s\")", index_, symbol.pointer ? "" : "null",
                        symbol.pointer ? symbol.pointer : "", symbol.length, currency.pointer ? "" : "null",
                        currency.pointer ? currency.pointer : "");
        }
        const EngineState before = engineState;
        const int32_t result = Timed(index_, "IniAll", [&] { return ::IniAll(symbol.pointer, currency.pointer); });
        if (Tracing()) {
            std::printf(" -> %" PRId32 ", pipSize %.17g, pipDigits %" PRId32 ", profileMatched %" PRId32 "\n",
                        result, engineState.pipSize, engineState.pipDigits, engineState.profileMatched);
        }
        if (result != 0) Fail(index_, "IniAll", "answered other than 0");
        CheckWrites(index_, "IniAll", before, IniAllWrites, SeriesCapacity);
        calibratedSinceReset_ = true;
    }

    void CallOpenSignalExport(bool repeat)
    {
        const EngineState before = engineState;
        const int32_t result = Timed(index_, "OpenSignal", [] { return ::OpenSignal(); });
        if (Tracing()) {
            std::printf("%2d OpenSignal() -> %" PRId32 " (lastBarIndex %" PRId32 ", profileMatched %" PRId32 ")\n",
                        index_, result, engineState.lastBarIndex, engineState.profileMatched);
        }
        if (result < 0 || result > 2) Fail(index_, "OpenSignal", "answered other than 0, 1 or 2");
        CheckWrites(index_, "OpenSignal", before, OpenSignalWrites, SeriesCapacity);
        if (engineState.buyEntryAllowed > 1 || engineState.sellEntryAllowed > 1) {
            Fail(index_, "OpenSignal", "left an entry flag other than 0 or 1");
        }
        if (!repeat) return;
        const EngineState first = engineState;
        const int32_t again = Timed(index_, "OpenSignal (repeated)", [] { return ::OpenSignal(); });
        if (again != result) Fail(index_, "OpenSignal (repeated)", "another answer on an unchanged record");
        CheckWrites(index_, "OpenSignal (repeated)", first, 0, SeriesCapacity);
        // The straightforward form is the definition the library's decision
        // must match, also on records no real host would produce. It rebuilds
        // every line for every query, so it is asked once per input.
        if (referenceAsked_) return;
        referenceAsked_ = true;
        EngineState reference = before;
        if (torvik::reference::OpenSignal(reference) != result) {
            Fail(index_, "OpenSignal", "another answer than the straightforward form");
        }
        if (reference.buyEntryAllowed != engineState.buyEntryAllowed ||
            reference.sellEntryAllowed != engineState.sellEntryAllowed) {
            Fail(index_, "OpenSignal", "other entry flags than the straightforward form");
        }
    }

    void CallCloseSignalExport(bool repeat)
    {
        const EngineState before = engineState;
        const int32_t result = Timed(index_, "CloseSignal", [] { return ::CloseSignal(); });
        if (Tracing()) std::printf("%2d CloseSignal() -> %" PRId32 "\n", index_, result);
        if (result < 0 || result > 2) Fail(index_, "CloseSignal", "answered other than 0, 1 or 2");
        CheckWrites(index_, "CloseSignal", before, 0, SeriesCapacity);
        if (!repeat) return;
        const int32_t again = Timed(index_, "CloseSignal (repeated)", [] { return ::CloseSignal(); });
        if (again != result) Fail(index_, "CloseSignal (repeated)", "another answer on an unchanged record");
        if (torvik::reference::CloseSignal(engineState) != result) {
            Fail(index_, "CloseSignal", "another answer than the straightforward form");
        }
    }

    void CallRewsExport()
    {
        const EngineState before = engineState;
        const int32_t result = Timed(index_, "rews", [] { return ::rews(); });
        if (Tracing()) std::printf("%2d rews() -> %" PRId32 "\n", index_, result);
        if (result != 0) Fail(index_, "rews", "answered other than 0");
        CheckWrites(index_, "rews", before, RewsWrites, 0);
        calibratedSinceReset_ = false;
    }

    void CallLotExport()
    {
        static const int32_t lotDivisors[] = {100000, 100000, 100, 99, 0, -1, 1000, 10000, 199, 200,
                                              INT32_MIN, INT32_MAX};
        static const int32_t riskSplits[] = {1, 1, 2, 3, 0, -1, INT32_MIN, INT32_MAX};
        const double fixedLot = ReadDouble(r_, 0.1, 0.01);
        const double riskPercent = ReadDouble(r_, 2.0, 0.1);
        const double riskMultiplier = ReadDouble(r_, 1.0, 0.1);
        const double minLot = ReadDouble(r_, 0.01, 0.01);
        const double maxLot = ReadDouble(r_, 100.0, 1.0);
        const double lotStep = ReadDouble(r_, 0.01, 0.001);
        const int32_t lotDivisor = ReadInt(r_, lotDivisors, -100, 65535);
        const double accountFunds = ReadDouble(r_, 10000.0, 100.0);
        const double marginPerLot = ReadDouble(r_, 1000.0, 10.0);
        const int32_t riskSplit = ReadInt(r_, riskSplits, -4, 32);
        const HostText symbol = ReadText(r_);

        const EngineState before = engineState;
        const double lot = Timed(index_, "LOT", [&] {
            return ::LOT(fixedLot, riskPercent, riskMultiplier, minLot, maxLot, lotStep, lotDivisor, accountFunds,
                         marginPerLot, riskSplit, symbol.pointer);
        });
        if (Tracing()) {
            std::printf("%2d LOT(%.17g, %.17g, %.17g, %.17g, %.17g, %.17g, %" PRId32 ", %.17g, %.17g, %" PRId32
                        ", %s\"%.40s\") -> %.17g\n",
                        index_, fixedLot, riskPercent, riskMultiplier, minLot, maxLot, lotStep, lotDivisor,
                        accountFunds, marginPerLot, riskSplit, symbol.pointer ? "" : "null ",
                        symbol.pointer ? symbol.pointer : "", lot);
        }
        CheckWrites(index_, "LOT", before, 0, SeriesCapacity);
    }

    int32_t ReadErrorCode()
    {
        static const int32_t unknown[] = {INT32_MIN, INT32_MIN + 1, -4000, -1, 10, 63, 66, 127, 142, 143, 144, 149,
                                          3999, 4023, 4049, 4068, 4098, 4112, 4199, 4208, 65536 + 2, INT32_MAX};
        const uint8_t selector = r_.U8();
        if (selector < CatalogueCodeCount) return CatalogueCodes[selector];
        if (selector < IntRangeFrom) return unknown[selector % std::size(unknown)];
        if (selector < IntRawFrom) return -10 + static_cast<int32_t>(r_.U16() % 4311);
        return r_.I32();
    }

    void CallErrorDescriptionExport()
    {
        const int32_t code = ReadErrorCode();
        const EngineState before = engineState;
        const char* text = Timed(index_, "ErrorDescription", [&] { return ::ErrorDescription(code); });
        if (Tracing()) std::printf("%2d ErrorDescription(%" PRId32 ") -> \"%s\"\n", index_, code, text ? text : "(null)");
        CheckDescription(index_, "ErrorDescription", code, text, BuildCatalogue(code), BuildDefaultText);
        CheckWrites(index_, "ErrorDescription", before, 0, SeriesCapacity);
#if !defined(TORVIK_LANGUAGE_RUSSIAN)
        // The other language's catalogue is in the engine too; hold it to the same rules.
        CheckDescription(index_, "Russian catalogue", code, RussianErrorDescription(code), RussianErrorDescription(code),
                         "\xCD\xE5\xE8\xE7\xE2\xE5\xF1\xF2\xED\xE0\xFF \xEE\xF8\xE8\xE1\xEA\xE0");
#endif
    }

    void CallGetters()
    {
        const EngineState before = engineState;
        const double tp = Timed(index_, "PoTP", [] { return ::PoTP(); });
        const double sl = Timed(index_, "PoSL", [] { return ::PoSL(); });
        const double pip = Timed(index_, "Dpp", [] { return ::Dpp(); });
        const int32_t dsp = Timed(index_, "DSP", [] { return ::DSP(); });
        const int32_t dclose = Timed(index_, "DCloseSP", [] { return ::DCloseSP(); });
        const int32_t h1 = Timed(index_, "HHH_1", [] { return ::HHH_1(); });
        const int32_t h2 = Timed(index_, "HHH_2", [] { return ::HHH_2(); });
        if (Tracing()) {
            std::printf("%2d PoTP %.17g, PoSL %.17g, Dpp %.17g, DSP %" PRId32 ", DCloseSP %" PRId32 ", HHH_1 %" PRId32
                        ", HHH_2 %" PRId32 "\n",
                        index_, tp, sl, pip, dsp, dclose, h1, h2);
        }
        CheckWrites(index_, "a getter", before, 0, SeriesCapacity);
        if (!calibratedSinceReset_ && !(tp == 0.0 && sl == 0.0 && pip == 0.0 && dsp == 0 && dclose == 0 && h1 == 0 &&
                                        h2 == 0)) {
            Fail(index_, "a getter", "answered other than zero with no IniAll since load or rews");
        }
    }

    ByteReader& r_;
    int index_ = 0;
    bool calibratedSinceReset_ = false;
    bool referenceAsked_ = false;
};

}  // namespace

void PrintSlowestCalls()
{
    for (const Slowest& s : slowestCalls) {
        if (s.call != nullptr) std::printf("  slowest %-22s %8.3f ms\n", s.call, s.ms);
    }
}

void RunExportSequence(const uint8_t* data, std::size_t size)
{
    // Every input starts from the record as the library has it at load.
    engineState = EngineState{};
    ByteReader reader(data, size);
    Session(reader).Run();
}

}  // namespace torvik::fuzz
