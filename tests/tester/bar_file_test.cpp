// Reading bar files: both formats, the digits, the checks and their messages.
#include <string>

#include <gtest/gtest.h>

#include "tester/data/bar_file.h"
#include "tester/data/bar_time.h"

namespace torvik::tester {
namespace {

uint32_t At(int32_t y, int32_t mo, int32_t d, int32_t h, int32_t mi) { return *ToBarTime(CivilTime{y, mo, d, h, mi, 0}); }

TEST(BarFile, HistoryCenterExport)
{
    const BarData data = ParseBars("2024.03.01,00:00,1.08000,1.08100,1.07900,1.08050,1200\r\n"
                                   "2024.03.01,01:00,1.08050,1.08120,1.08010,1.08100,900\r\n",
                                   "a.csv");
    EXPECT_EQ(data.format, BarFormat::HistoryCenter);
    ASSERT_EQ(data.bars.size(), 2u);
    // Copied out of the packed record before the comparisons bind references.
    const BarRecord& b = data.bars[0];
    const uint32_t time = b.time;
    const double open = b.open, high = b.high, low = b.low, close = b.close, volume = b.volume;
    EXPECT_EQ(time, At(2024, 3, 1, 0, 0));
    EXPECT_DOUBLE_EQ(open, 1.08);
    EXPECT_DOUBLE_EQ(high, 1.081);  // the record keeps low before high
    EXPECT_DOUBLE_EQ(low, 1.079);
    EXPECT_DOUBLE_EQ(close, 1.0805);
    EXPECT_DOUBLE_EQ(volume, 1200.0);
    EXPECT_EQ(data.digits, 5);
    EXPECT_EQ(data.timeframeSeconds, 3600u);
}

TEST(BarFile, HeaderFormatWithJoinedDateAndTime)
{
    const BarData data = ParseBars("time,open,high,low,close,volume\n"
                                   "2021.01.04 00:00,103.121,103.256,103.073,103.199,308\n"
                                   "2021.01.04 00:15,103.201,103.316,103.199,103.246,2187\n"
                                   "\n",
                                   "b.csv");
    EXPECT_EQ(data.format, BarFormat::Header);
    ASSERT_EQ(data.bars.size(), 2u);
    const uint32_t second = data.bars[1].time;
    EXPECT_EQ(second, At(2021, 1, 4, 0, 15));
    EXPECT_EQ(data.digits, 3);
    EXPECT_EQ(data.timeframeSeconds, 900u);
}

TEST(BarFile, DigitsAreTheMostDecimalsAnyPriceHas)
{
    struct Case {
        const char* rows;
        int32_t digits;
    };
    const Case cases[] = {
        {"2024.01.01,00:00,1.1,1.2,1.1,1.15,1\n", 2},
        // Trailing zeros dropped on one row do not lower the count.
        {"2024.01.01,00:00,1.1,1.2,1.1,1.15,1\n2024.01.01,01:00,1.10001,1.2,1.1,1.15,1\n", 5},
        {"2024.01.01,00:00,1850.25,1851.00,1849.10,1850.5,7\n", 2},
        {"2024.01.01,00:00,30000,30100,29900,30050,7\n", 0},
        // Volume decimals do not count.
        {"2024.01.01,00:00,1.1000,1.2000,1.1000,1.1500,1.123456\n", 4},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseBars(c.rows, "d.csv").digits, c.digits) << c.rows;
}

TEST(BarFile, ProblemsNameTheFileAndTheLine)
{
    const std::string good = "2024.01.01,00:00,1.1,1.2,1.0,1.15,10\n";
    struct Case {
        std::string text;
        const char* message;
    };
    const Case cases[] = {
        {good + "2024.01.01,01:00,1.1,1.2,1.0,1.15\n", "e.csv:2: 6 fields where the bars above have 7"},
        {"2024.01.01,01:00,1.1,1.2\n", "e.csv:1: 4 fields where a bar has 6"},
        {good + "2024.01.01,01:00,1.1,abc,1.0,1.15,10\n", "e.csv:2: high \"abc\" is not a positive number"},
        {good + "2024.01.01,01:00,1.1,1.2,-1.0,1.15,10\n", "e.csv:2: low \"-1.0\" is not a positive number"},
        {good + "2024.13.01,01:00,1.1,1.2,1.0,1.15,10\n", "e.csv:2: date or time out of range"},
        {good + "2024.02.30,01:00,1.1,1.2,1.0,1.15,10\n", "e.csv:2: date or time out of range"},
        {good + "2024/01/01,1:00,1.1,1.2,1.0,1.15,10\n", "e.csv:2: bad time \"1:00\""},
        {good + "01.01.2024,01:00,1.1,1.2,1.0,1.15,10\n", "e.csv:2: bad date \"01.01.2024\""},
        {good + "2024.01.01,01:00,1.1,1.2,1.0,1.15,-3\n", "e.csv:2: volume \"-3\""},
        {good + "2024.01.01,01:00,1.1,1.12,1.0,1.15,10\n", "e.csv:2: high 1.12 is below the open or the close"},
        {good + "2024.01.01,01:00,1.1,1.2,1.11,1.15,10\n", "e.csv:2: low 1.11 is above the open or the close"},
        {good + "\n" + good, "e.csv:3: time 2024.01.01 00:00 does not come after the previous bar's 2024.01.01 00:00"},
        {good + "2023.12.31,23:00,1.1,1.2,1.0,1.15,10\n", "e.csv:2: time 2023.12.31 23:00 does not come after"},
        {"date,open,high,low,close\n" + good, "e.csv:1: unrecognised header"},
        {"time,open,high,low,close,volume\n", "e.csv: no bars"},
        {"", "e.csv: no bars"},
    };
    for (const Case& c : cases) {
        try {
            ParseBars(c.text, "e.csv");
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const TesterError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
                << "message: " << e.what() << "\nexpected: " << c.message;
        }
    }
}

TEST(BarFile, MissingFileAndSymbolFromItsName)
{
    EXPECT_THROW(ReadBarFile("/nonexistent/EURUSD_H1.csv"), TesterError);
    EXPECT_EQ(SymbolFromFileName("data/EURUSD_H1.csv"), "EURUSD");
    EXPECT_EQ(SymbolFromFileName("C:\\history\\GBPJPY60.csv"), "GBPJPY");
    EXPECT_EQ(SymbolFromFileName("XAUUSD.csv"), "XAUUSD");
    EXPECT_EQ(SymbolFromFileName("60.csv"), "");
}

TEST(BarTime, CalendarRoundTripAndLimits)
{
    for (const CivilTime t : {CivilTime{1970, 1, 1, 0, 0, 0}, CivilTime{2000, 2, 29, 23, 59, 0},
                              CivilTime{2024, 12, 31, 13, 5, 7}, CivilTime{2105, 12, 31, 23, 59, 59}}) {
        const std::optional<uint32_t> s = ToBarTime(t);
        ASSERT_TRUE(s.has_value());
        const CivilTime back = FromBarTime(*s);
        EXPECT_EQ(back.year, t.year);
        EXPECT_EQ(back.month, t.month);
        EXPECT_EQ(back.day, t.day);
        EXPECT_EQ(back.hour, t.hour);
        EXPECT_EQ(back.minute, t.minute);
        EXPECT_EQ(back.second, t.second);
    }
    EXPECT_EQ(*ToBarTime(CivilTime{2021, 1, 4, 0, 0, 0}), 1609718400u);
    EXPECT_FALSE(ToBarTime(CivilTime{1969, 12, 31, 23, 59, 0}));
    EXPECT_FALSE(ToBarTime(CivilTime{2106, 1, 1, 0, 0, 0}));
    EXPECT_FALSE(ToBarTime(CivilTime{2023, 2, 29, 0, 0, 0}));
    EXPECT_EQ(FormatBarTime(1609718400u + 3600u + 59u), "2021.01.04 01:00:59");
}

}  // namespace
}  // namespace torvik::tester
