// The summary from records alone: ranks within each bars entry, the best
// run named, failures listed with their messages, CSV quoting, and a page
// that carries the data without letting it close its script.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tester/batch/summary.h"

namespace torvik::tester {
namespace {

RunRecord Record(uint64_t index, uint32_t entry, const std::string& spread, double balance)
{
    RunRecord r;
    r.request = MakeRequest(index, {{"bars", entry == 0 ? "a.csv" : "b.csv"}, {"spread", spread}});
    r.request.entry = entry;
    r.ok = true;
    r.criteria.fill(0.0);
    r.criteria[static_cast<size_t>(Criterion::Balance)] = balance;
    r.report = Json{
        {"figures",
         {{"final_balance", balance}, {"total_trades", 3}, {"max_consecutive_wins", {{"count", 2}, {"money", 1.5}}},
                      {"trade_histogram", {{"counts", {1, 2}}}}}}};
    return r;
}

struct Fixture {
    BatchSettings settings;
    BatchOutcome outcome;
    Fixture()
    {
        AddToPlan(settings.plan, "bars", "a.csv,b.csv");
        AddToPlan(settings.plan, "spread", "8,12,20");
        outcome.records = {Record(0, 0, "8", 10100), Record(1, 0, "12", 10300), Record(2, 0, "20", 10300),
                           Record(3, 1, "8", 9000),  Record(4, 1, "12", 0),     Record(5, 1, "20", 9500)};
        RunRecord& failed = outcome.records[4];
        failed.ok = false;
        failed.report = Json();
        failed.message = "--window: 50 is outside 98 to 500, \"really\"";
    }
};

TEST(Summary, RanksWithinEachBarsEntryAndNamesEachBest)
{
    const Fixture f;
    const Json s = SummaryJson(f.settings, f.outcome);
    std::vector<Json> ranks;
    for (const Json& row : s["rows"]) ranks.push_back(row["rank"]);
    // ties go to the earlier run; the failed run ranks last in its entry
    EXPECT_EQ(ranks, (std::vector<Json>{3, 1, 2, 2, 3, 1}));
    ASSERT_EQ(s["best"].size(), 2u);
    EXPECT_EQ(s["best"][0]["index"], 1);
    EXPECT_EQ(s["best"][1]["index"], 5);
    EXPECT_EQ(s["best"][1]["inputs"], Json({{"bars", "b.csv"}, {"spread", "20"}}));
    EXPECT_EQ(s["runs"], 6);
    EXPECT_EQ(s["failed"], 1);
    EXPECT_EQ(s["varying"], Json({"bars", "spread"}));
    EXPECT_EQ(s["figures"],
              Json({"final_balance", "total_trades", "max_consecutive_wins.count", "max_consecutive_wins.money"}));
    EXPECT_EQ(s["rows"][4]["status"], "failed");
    EXPECT_FALSE(s["rows"][4].contains("figures"));
}

TEST(Summary, TheCsvHasOneRowPerRunInPlanOrderWithItsMessageQuoted)
{
    const Fixture f;
    const std::string csv = SummaryCsv(SummaryJson(f.settings, f.outcome));
    const std::string header = csv.substr(0, csv.find('\n'));
    EXPECT_EQ(header,
              "index,id,bars,spread,status,rank,balance,final_balance,total_trades,"
              "max_consecutive_wins.count,max_consecutive_wins.money,message");
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 7);
    EXPECT_NE(csv.find(",b.csv,12,failed,3,,,,,,\"--window: 50 is outside 98 to 500, \"\"really\"\"\"\n"),
              std::string::npos)
        << csv;
    EXPECT_NE(csv.find(",a.csv,12,ok,1,10300.0000,10300.0,3,2,1.5,\n"), std::string::npos) << csv;
    // a pure function of the records
    EXPECT_EQ(SummaryCsv(SummaryJson(f.settings, f.outcome)), csv);
}

TEST(Summary, ThePageCarriesTheDataAndNothingInItClosesTheScript)
{
    Fixture f;
    f.outcome.records[4].message = "</script><script>alert(1)</script>";
    const std::string page = SummaryHtml(SummaryJson(f.settings, f.outcome));
    const std::string page0(SummaryPageTemplate());
    const auto count = [](const std::string& text, const std::string& what) {
        size_t n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
        return n;
    };
    EXPECT_EQ(count(page, "</script>"), count(page0, "</script>"));
    EXPECT_NE(page.find("window.TORVIK_BATCH = {"), std::string::npos);
    EXPECT_EQ(page.find("/*@SUMMARY_DATA@*/"), std::string::npos);
    EXPECT_NE(page.find("<\\/script><script>alert(1)<\\/script>"), std::string::npos);
    EXPECT_EQ(page.find("http://"), page.find("http://www.w3.org/2000/svg"));  // no network, only the SVG namespace
    EXPECT_EQ(page.find("https://"), std::string::npos);
}

TEST(Summary, TheConsoleNamesTheBestAndTheFailures)
{
    const Fixture f;
    const std::string text = SummaryConsole(SummaryJson(f.settings, f.outcome));
    EXPECT_NE(text.find("6 (1 failed)"), std::string::npos) << text;
    EXPECT_NE(text.find("Best on a.csv"), std::string::npos) << text;
    EXPECT_NE(text.find(f.outcome.records[1].request.id + ": spread 12 (final balance 10300.0000)"), std::string::npos)
        << text;
    EXPECT_NE(text.find("Failed " + f.outcome.records[4].request.id), std::string::npos) << text;
}

}  // namespace
}  // namespace torvik::tester
