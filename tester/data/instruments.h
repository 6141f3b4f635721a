// The instrument table: what the terminal's symbol properties give for each
// instrument (digits, contract size, currencies, margin rule, typical
// spread, commission, swaps, stop and freeze levels, lot limits), one CSV
// row per symbol. The tester bundles one (tester/data/instruments.csv,
// compiled in); --symbols reads a user's own in the same format.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tester/data/error.h"

namespace torvik::tester {

enum class MarginMode : uint8_t {
    Forex,  // lots x contract size / leverage, in the margin currency
    Cfd,    // lots x contract size x price / leverage, in the margin currency
};
enum class CommissionPer : uint8_t { RoundTurn, Side };
enum class SwapUnit : uint8_t { Points, Money };

const char* MarginModeName(MarginMode mode);     // "forex", "cfd"
const char* CommissionPerName(CommissionPer per);  // "round-turn", "side"
const char* SwapUnitName(SwapUnit unit);         // "points", "money"
// Day names of the week as the table and the options write them, Sunday 0.
const char* WeekdayName(int32_t weekday);        // "sun" ... "sat"
// "mon" ... "fri" (any case) as 1 ... 5; -1 for anything else.
int32_t ParseTradingDay(std::string_view text);

struct InstrumentRecord {
    std::string symbol;
    std::string kind;  // fx, metal, crypto, ...: currency pairs size by risk, the rest by the fixed lot
    int32_t digits = 5;
    int64_t contractSize = 100000;
    std::string base;
    std::string profit;  // the profit (quote) currency
    std::string margin;  // the currency the margin is counted in
    MarginMode marginMode = MarginMode::Forex;
    int32_t maxLeverage = 0;  // 0: the account's leverage; else at most 1:maxLeverage
    int32_t spread = 12;      // typical spread in points
    double commission = 0.0;  // account money per lot
    CommissionPer commissionPer = CommissionPer::RoundTurn;
    double swapLong = 0.0;    // per lot per night
    double swapShort = 0.0;
    SwapUnit swapUnit = SwapUnit::Points;
    int32_t tripleDay = 3;    // the weekday whose rollover charges three nights (Wednesday)
    int32_t stopLevel = 0;    // points
    int32_t freezeLevel = 0;  // points
    double minLot = 0.01;
    double maxLot = 100.0;
    double lotStep = 0.01;
};

struct InstrumentTable {
    std::string name;  // "bundled" or the file's path
    std::vector<InstrumentRecord> rows;
};

// The columns of the table, in the order the bundled one writes them. A
// table may order them otherwise and have more; each of these must be there.
inline constexpr const char* InstrumentColumns[] = {
    "symbol",     "kind",       "digits",    "contract_size", "base",         "profit",     "margin",
    "margin_mode", "max_leverage", "spread", "commission",    "commission_per", "swap_long", "swap_short",
    "swap_unit",  "triple_day", "stop_level", "freeze_level", "min_lot",      "max_lot",    "lot_step"};

// Parses a table: a header row naming the columns, then one row per
// instrument; blank lines and lines starting with '#' are skipped. Throws
// TesterError naming name:line and the column.
InstrumentTable ParseInstrumentTable(std::string_view text, const std::string& name);
InstrumentTable LoadInstrumentTable(const std::string& path);
const InstrumentTable& BundledInstruments();

// The row for a broker's symbol name: the row whose symbol the name is,
// ignoring case; else the longest row symbol the name contains, with a
// broker's prefix or suffix around it (EURUSDm, XAUUSD.r, m.EURUSD). Null
// when none fits.
const InstrumentRecord* MatchInstrument(const InstrumentTable& table, std::string_view symbol);

// The CSV row of an instrument, in the bundled column order (no line end).
std::string InstrumentRow(const InstrumentRecord& instrument);

}  // namespace torvik::tester
