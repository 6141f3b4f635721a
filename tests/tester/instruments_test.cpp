// The instrument table: the bundled one parses and has the instruments it
// promises, a broker's symbol finds its row through prefixes and suffixes,
// a table of one's own is checked line by line, and a run takes each value
// from an option, else the row, else the default, saying which.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_paths.h"
#include "tester/data/instruments.h"
#include "tester/run/options.h"

namespace torvik::tester {
namespace {

TEST(Instruments, BundledTableHasTheMajorsCrossesMetalsAndBitcoin)
{
    const InstrumentTable& table = BundledInstruments();
    for (const char* symbol : {"EURUSD", "GBPUSD", "USDJPY", "USDCHF", "USDCAD", "AUDUSD", "NZDUSD", "EURGBP",
                               "EURJPY", "GBPJPY", "XAUUSD", "XAGUSD", "BTCUSD"}) {
        const InstrumentRecord* row = MatchInstrument(table, symbol);
        ASSERT_NE(row, nullptr) << symbol;
        EXPECT_EQ(row->symbol, symbol);
        EXPECT_EQ(row->base + row->profit, symbol);
    }
    const InstrumentRecord& gold = *MatchInstrument(table, "XAUUSD");
    EXPECT_EQ(gold.contractSize, 100);
    EXPECT_EQ(gold.digits, 2);
    EXPECT_EQ(gold.margin, "USD");
    EXPECT_EQ(gold.marginMode, MarginMode::Cfd);
    EXPECT_EQ(MatchInstrument(table, "BTCUSD")->contractSize, 1);
    // The rows of the bundled history keep the tester's earlier defaults,
    // so that those runs stay as they were.
    for (const char* symbol : {"EURUSD", "USDJPY"}) {
        const InstrumentRecord& fx = *MatchInstrument(table, symbol);
        EXPECT_EQ(fx.contractSize, 100000);
        EXPECT_EQ(fx.spread, 12);
        EXPECT_EQ(fx.stopLevel, 0);
        EXPECT_EQ(fx.minLot, 0.01);
        EXPECT_EQ(fx.maxLot, 100.0);
        EXPECT_EQ(fx.lotStep, 0.01);
    }
}

TEST(Instruments, BrokerNamesFindTheirRow)
{
    const InstrumentTable& table = BundledInstruments();
    struct Case {
        const char* name;
        const char* row;  // null: none
    };
    const Case cases[] = {
        {"EURUSD", "EURUSD"},     {"eurusd", "EURUSD"},     {"EURUSDm", "EURUSD"},   {"XAUUSD.r", "XAUUSD"},
        {"m.EURUSD", "EURUSD"},   {"EURUSD-ECN", "EURUSD"}, {"#BTCUSD", "BTCUSD"},   {"GBPJPYpro", "GBPJPY"},
        {"EURUSD.micro", "EURUSD"}, {"EUR.USD", nullptr},   {"GOLD", nullptr},       {"US30", nullptr},
        // A symbol inside a longer word does not match without a separator.
        {"EURUSDSPECIAL", nullptr},
    };
    for (const Case& c : cases) {
        const InstrumentRecord* row = MatchInstrument(table, c.name);
        if (c.row == nullptr) {
            EXPECT_EQ(row, nullptr) << c.name << " matched " << row->symbol;
        } else {
            ASSERT_NE(row, nullptr) << c.name;
            EXPECT_EQ(row->symbol, c.row) << c.name;
        }
    }
}

TEST(Instruments, OwnTableIsCheckedLineByLine)
{
    const std::string header =
        "symbol,kind,digits,contract_size,base,profit,margin,margin_mode,max_leverage,spread,commission,"
        "commission_per,swap_long,swap_short,swap_unit,triple_day,stop_level,freeze_level,min_lot,max_lot,lot_step\n";
    const std::string good = "GOLD,metal,2,100,XAU,USD,USD,cfd,20,25,3.5,side,-10,2,points,fri,40,10,0.01,50,0.01\n";
    const InstrumentTable table = ParseInstrumentTable("# mine\n" + header + good, "mine.csv");
    ASSERT_EQ(table.rows.size(), 1u);
    const InstrumentRecord& g = table.rows[0];
    EXPECT_EQ(g.maxLeverage, 20);
    EXPECT_EQ(g.commissionPer, CommissionPer::Side);
    EXPECT_EQ(g.tripleDay, 5);
    EXPECT_EQ(g.stopLevel, 40);
    EXPECT_EQ(g.freezeLevel, 10);
    EXPECT_EQ(InstrumentRow(g), "GOLD,metal,2,100,XAU,USD,USD,cfd,20,25,3.5,side,-10,2,points,fri,40,10,0.01,50,0.01");
    // Columns in another order, with one more, read the same.
    const InstrumentTable shuffled = ParseInstrumentTable(
        "note,lot_step,max_lot,min_lot,freeze_level,stop_level,triple_day,swap_unit,swap_short,swap_long,"
        "commission_per,commission,spread,max_leverage,margin_mode,margin,profit,base,contract_size,digits,kind,"
        "symbol\nx,0.01,50,0.01,10,40,fri,points,2,-10,side,3.5,25,20,cfd,USD,USD,XAU,100,2,metal,GOLD\n",
        "shuffled.csv");
    EXPECT_EQ(InstrumentRow(shuffled.rows.at(0)), InstrumentRow(g));

    struct Case {
        std::string text;
        const char* message;
    };
    const Case cases[] = {
        {"symbol,digits\nEURUSD,5\n", "bad.csv:1: no column \"kind\""},
        {header + "EURUSD,fx,five,100000,EUR,USD,EUR,forex,0,12,0,round-turn,0,0,points,wed,0,0,0.01,100,0.01\n",
         "bad.csv:2: digits \"five\" is not a whole number"},
        {header + "EURUSD,fx,5,100000,EUR,USD,EUR,forex,0,12,0,round-turn,0,0,points,sat,0,0,0.01,100,0.01\n",
         "bad.csv:2: triple_day \"sat\" is none of mon, tue, wed, thu, fri"},
        {header + "EURUSD,fx,5,100000,EUR,USD,EUR,percent,0,12,0,round-turn,0,0,points,wed,0,0,0.01,100,0.01\n",
         "bad.csv:2: margin_mode \"percent\" is none of forex, cfd"},
        {header + "EURUSD,fx,5,0,EUR,USD,EUR,forex,0,12,0,round-turn,0,0,points,wed,0,0,0.01,100,0.01\n",
         "bad.csv:2: contract_size 0 is outside 1 to"},
        {header + "EURUSD,fx,5,100000,EUR,USD,EUR,forex,0,12,0,round-turn,0,0,points,wed,0,0,0.01,0.001,0.01\n",
         "bad.csv:2: max_lot is below min_lot"},
        {header + "EURUSD,fx,5,100000,EUR,USD,EUR,forex,0,12\n", "bad.csv:2: commission is missing"},
        {header + good + good, "bad.csv:3: GOLD has a row already"},
        {"# nothing\n", "bad.csv: no header row"},
    };
    for (const Case& c : cases) {
        try {
            ParseInstrumentTable(c.text, "bad.csv");
            ADD_FAILURE() << "accepted: " << c.message;
        } catch (const TesterError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
    }
}

// A run's instrument: each value from its option, else the row, else the default.
TEST(Instruments, RunTakesOptionsOverTheRowOverDefaults)
{
    const auto resolve = [](const std::string& file, int32_t fileDigits,
                            const std::vector<std::pair<std::string, std::string>>& options) {
        RunInputs in = DefaultInputs();
        ApplyOption(in, "bars", file);
        for (const auto& [name, text] : options) ApplyOption(in, name, text);
        FileInfo info;
        info.name = file;
        info.digits = fileDigits;
        info.timeframeSeconds = 3600;
        return ResolveRun(in, info).settings;
    };
    // The gold row: contract 100, 2 digits, spread 30, risk sizing off.
    const TestSettings gold = resolve("XAUUSD_H1.csv", 2, {});
    EXPECT_EQ(gold.instrumentSource, "XAUUSD row of the bundled table");
    EXPECT_EQ(gold.contractSize, 100);
    EXPECT_EQ(gold.spreadPoints, 30);
    EXPECT_EQ(gold.riskPercent, 0.0);
    EXPECT_TRUE(gold.overridden.empty());
    // A broker's suffix, and options over the row.
    const TestSettings mine = resolve("XAUUSD.r_H1.csv", 2,
                                      {{"symbol", "XAUUSD.r"}, {"contract-size", "10"}, {"stop-level", "50"}, {"risk", "1"}});
    EXPECT_EQ(mine.instrumentSource, "XAUUSD row of the bundled table");
    EXPECT_EQ(mine.contractSize, 10);
    EXPECT_EQ(mine.stopLevel, 50);
    EXPECT_EQ(mine.riskPercent, 1.0);
    EXPECT_EQ(mine.overridden, (std::vector<std::string>{"contract-size", "stop-level"}));
    // A file printing three decimals of gold: its digits win and the row's
    // spread of 30 points at 2 digits is 300 at 3.
    const TestSettings fine = resolve("XAUUSD_M1.csv", 3, {});
    EXPECT_EQ(fine.digits, 3);
    EXPECT_EQ(fine.spreadPoints, 300);
    // No row: the defaults, as before the table.
    const TestSettings none = resolve("EURUSD_H1.csv", 5, {{"symbol", "EUR.USD"}, {"base", "EUR"}, {"quote", "USD"}});
    EXPECT_EQ(none.instrumentSource, "defaults (EUR.USD matches no row of the bundled table)");
    EXPECT_EQ(none.contractSize, 100000);
    EXPECT_EQ(none.spreadPoints, 12);
    EXPECT_EQ(none.riskPercent, 2.0);
    // Costs from the table only when asked for.
    EXPECT_EQ(resolve("EURUSD_H1.csv", 5, {}).swapLong, 0.0);
    EXPECT_EQ(resolve("EURUSD_H1.csv", 5, {{"costs", "table"}}).swapLong, MatchInstrument(BundledInstruments(), "EURUSD")->swapLong);
    EXPECT_EQ(resolve("EURUSD_H1.csv", 5, {{"costs", "table"}, {"swap-long", "-1.5"}}).swapLong, -1.5);
}

}  // namespace
}  // namespace torvik::tester
