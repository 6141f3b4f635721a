// Reading bars and ticks: the four formats, recognised from the first line,
// the digits and the timeframe, the checks and their messages, and the
// stream reading through a buffer smaller than the file.
#include <string>

#include <gtest/gtest.h>

#include "test_paths.h"
#include "tester/data/bar_time.h"
#include "tester/data/source.h"

namespace torvik::tester {
namespace {

int64_t At(int32_t y, int32_t mo, int32_t d, int32_t h, int32_t mi, int32_t s = 0)
{
    return int64_t{*ToBarTime(CivilTime{y, mo, d, h, mi, s})} * 1000;
}

TEST(Source, HistoryCenterExport)
{
    const LoadedData data = LoadText("2024.03.01,00:00,1.08000,1.08100,1.07900,1.08050,1200\r\n"
                                     "2024.03.01,01:00,1.08050,1.08120,1.08010,1.08100,900\r\n",
                                     "a.csv");
    EXPECT_EQ(data.info.format, FileFormat::HistoryCenter);
    ASSERT_EQ(data.rows.size(), 2u);
    const Row& b = data.rows[0];
    EXPECT_EQ(b.timeMs, At(2024, 3, 1, 0, 0));
    EXPECT_DOUBLE_EQ(b.open, 1.08);
    EXPECT_DOUBLE_EQ(b.high, 1.081);
    EXPECT_DOUBLE_EQ(b.low, 1.079);
    EXPECT_DOUBLE_EQ(b.close, 1.0805);
    EXPECT_DOUBLE_EQ(b.volume, 1200.0);
    EXPECT_EQ(b.spread, -1);
    EXPECT_EQ(data.info.digits, 5);
    EXPECT_EQ(data.info.timeframeSeconds, 3600u);
}

TEST(Source, HeaderFormatWithJoinedDateAndTime)
{
    const LoadedData data = LoadText("time,open,high,low,close,volume\n"
                                     "2021.01.04 00:00,103.121,103.256,103.073,103.199,308\n"
                                     "2021.01.04 00:15,103.201,103.316,103.199,103.246,2187\n"
                                     "\n",
                                     "b.csv");
    EXPECT_EQ(data.info.format, FileFormat::Header);
    ASSERT_EQ(data.rows.size(), 2u);
    EXPECT_EQ(data.rows[1].timeMs, At(2021, 1, 4, 0, 15));
    EXPECT_EQ(data.info.digits, 3);
    EXPECT_EQ(data.info.timeframeSeconds, 900u);
}

TEST(Source, BarExportWithItsSpread)
{
    const LoadedData data =
        LoadText("<DATE>\t<TIME>\t<OPEN>\t<HIGH>\t<LOW>\t<CLOSE>\t<TICKVOL>\t<VOL>\t<SPREAD>\r\n"
                 "2025.01.02\t01:00:00\t2624.81\t2625.07\t2624.25\t2625.00\t124\t0\t43\r\n"
                 "2025.01.02\t01:05:00\t2625.00\t2625.50\t2624.90\t2625.40\t98\t0\t18\r\n",
                 "x.csv");
    EXPECT_EQ(data.info.format, FileFormat::BarExport);
    ASSERT_EQ(data.rows.size(), 2u);
    EXPECT_EQ(data.rows[0].spread, 43);
    EXPECT_EQ(data.rows[1].spread, 18);
    EXPECT_DOUBLE_EQ(data.rows[1].volume, 98.0);  // the tick volume
    EXPECT_EQ(data.info.digits, 2);
    EXPECT_EQ(data.info.timeframeSeconds, 300u);
}

TEST(Source, TickExportCarriesAnEmptySideForward)
{
    const LoadedData data = LoadText("<DATE>\t<TIME>\t<BID>\t<ASK>\t<LAST>\t<VOLUME>\t<FLAGS>\r\n"
                                     "2014.05.07\t00:00:07.135\t1.39286\t1.39298\t\t\t6\r\n"
                                     "2014.05.07\t00:00:16.860\t\t1.39297\t\t\t4\r\n"
                                     "2014.05.07\t00:00:16.860\t1.39284\t\t\t\t2\r\n",
                                     "t.csv");
    EXPECT_EQ(data.info.format, FileFormat::TickExport);
    EXPECT_TRUE(data.info.IsTicks());
    ASSERT_EQ(data.rows.size(), 3u);
    EXPECT_EQ(data.rows[0].timeMs, At(2014, 5, 7, 0, 0, 7) + 135);
    const double bids[] = {1.39286, 1.39286, 1.39284};
    const double asks[] = {1.39298, 1.39297, 1.39297};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_DOUBLE_EQ(data.rows[i].close, bids[i]);
        EXPECT_DOUBLE_EQ(data.rows[i].ask, asks[i]);
    }
    EXPECT_EQ(data.info.digits, 5);
    EXPECT_EQ(data.info.timeframeSeconds, 0u);
}

TEST(Source, DigitsAreTheMostDecimalsAnyPriceHas)
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
    for (const Case& c : cases) EXPECT_EQ(ScanText(c.rows, "d.csv").digits, c.digits) << c.rows;
}

TEST(Source, ProblemsNameTheFileAndTheLine)
{
    const std::string good = "2024.01.01,00:00,1.1,1.2,1.0,1.15,10\n";
    const std::string bars = "<DATE>\t<TIME>\t<OPEN>\t<HIGH>\t<LOW>\t<CLOSE>\t<TICKVOL>\t<VOL>\t<SPREAD>\n";
    const std::string ticks = "<DATE>\t<TIME>\t<BID>\t<ASK>\t<LAST>\t<VOLUME>\t<FLAGS>\n";
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
        {good + "\n" + good,
         "e.csv:3: time 2024.01.01 00:00:00 does not come after the previous bar's 2024.01.01 00:00:00"},
        {good + "2023.12.31,23:00,1.1,1.2,1.0,1.15,10\n", "e.csv:2: time 2023.12.31 23:00:00 does not come after"},
        {"date,open,high,low,close\n" + good, "e.csv:1: unrecognised header"},
        {"time,open,high,low,close,volume\n", "e.csv: no bars"},
        {"", "e.csv: no bars"},
        {good + std::string(5000, '1') + "\n", "e.csv:2: a line of more than 4096 characters"},
        {"<DATE>\t<TIME>\t<OPEN>\n", "e.csv:1: unrecognised header"},
        {bars + "2025.01.02\t01:00:00\t1.1\t1.2\t1.0\t1.15\t10\t0\n", "e.csv:2: 8 fields where a bar has 9"},
        {bars + "2025.01.02\t01:00:00\t1.1\t1.2\t1.0\t1.15\t10\t0\t-2\n", "e.csv:2: <SPREAD> \"-2\""},
        {bars + "2025.01.02\t01:00:00\t1.1\t1.2\t1.0\t1.15\t10\t0\t1.5\n", "e.csv:2: <SPREAD> \"1.5\""},
        {ticks + "2014.05.07\t00:00:07.135\t\t1.39298\t\t\t4\n", "e.csv:2: the first tick has no bid"},
        {ticks + "2014.05.07\t00:00:07.135\t1.39286\t\t\t\t2\n", "e.csv:2: the first tick has no ask"},
        {ticks + "2014.05.07\t00:00:07.135\t1.39286\t1.39280\t\t\t6\n", "e.csv:2: ask 1.3928 is below the bid 1.39286"},
        {ticks + "2014.05.07\t00:00:07.135\t1.39286\t1.39298\t\t\t6\n2014.05.07\t00:00:07.134\t1.39286\t\t\t\t2\n",
         "e.csv:3: time 2014.05.07 00:00:07.134 comes before the previous tick's 2014.05.07 00:00:07.135"},
        {ticks + "2014.05.07\t00:00:07.1\t1.39286\t1.39298\t\t\t6\n", "e.csv:2: bad time \"00:00:07.1\""},
        {ticks + "2014.05.07\t00:00:07.135\t0\t1.39298\t\t\t6\n", "e.csv:2: bid \"0\" is not a positive number"},
    };
    for (const Case& c : cases) {
        try {
            LoadText(c.text, "e.csv");
            ADD_FAILURE() << "accepted: " << c.text.substr(0, 200);
        } catch (const TesterError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
                << "message: " << e.what() << "\nexpected: " << c.message;
        }
    }
}

// A file several times the reader's buffer, with CRLF endings: the stream
// gives the rows the whole text gives, and a scan agrees with a load.
TEST(Source, StreamingAFileEqualsLoadingIt)
{
    const LoadedData whole = LoadFile(testing::BundledFile("EURUSD_ticks.csv"));
    const FileInfo scanned = ScanFile(testing::BundledFile("EURUSD_ticks.csv"));
    EXPECT_EQ(scanned.rows, whole.rows.size());
    EXPECT_EQ(scanned.digits, whole.info.digits);
    EXPECT_EQ(scanned.lastTimeMs, whole.info.lastTimeMs);
    FileRows stream(testing::BundledFile("EURUSD_ticks.csv"), scanned.bytes);
    Row row;
    size_t n = 0;
    while (stream.Next(row)) {
        ASSERT_LT(n, whole.rows.size());
        ASSERT_EQ(row.timeMs, whole.rows[n].timeMs) << n;
        ASSERT_EQ(row.close, whole.rows[n].close) << n;
        ASSERT_EQ(row.ask, whole.rows[n].ask) << n;
        ++n;
    }
    EXPECT_EQ(n, whole.rows.size());
    EXPECT_DOUBLE_EQ(stream.Progress(), 1.0);
}

TEST(Source, MissingFileAndSymbolFromItsName)
{
    EXPECT_THROW(ScanFile("/nonexistent/EURUSD_H1.csv"), TesterError);
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
    EXPECT_EQ(FormatTickTime(int64_t{1609718400} * 1000 + 7, true), "2021.01.04 00:00:00.007");
}

// Chart bar times as the terminal aligns them.
TEST(BarTime, AlignmentToEachTimeframe)
{
    // Wednesday 2024.05.15 13:47:30.
    const uint32_t t = *ToBarTime(CivilTime{2024, 5, 15, 13, 47, 30});
    const struct {
        const char* name;
        CivilTime start;
    } cases[] = {
        {"M1", {2024, 5, 15, 13, 47, 0}},  {"M5", {2024, 5, 15, 13, 45, 0}}, {"M15", {2024, 5, 15, 13, 45, 0}},
        {"M30", {2024, 5, 15, 13, 30, 0}}, {"H1", {2024, 5, 15, 13, 0, 0}},  {"H4", {2024, 5, 15, 12, 0, 0}},
        {"D1", {2024, 5, 15, 0, 0, 0}},    {"W1", {2024, 5, 12, 0, 0, 0}},   {"mn1", {2024, 5, 1, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        const std::optional<uint32_t> tf = ParseTimeframe(c.name);
        ASSERT_TRUE(tf.has_value()) << c.name;
        EXPECT_EQ(AlignToTimeframe(t, *tf), *ToBarTime(c.start)) << c.name;
    }
    EXPECT_FALSE(ParseTimeframe("H2").has_value());
}

}  // namespace
}  // namespace torvik::tester
