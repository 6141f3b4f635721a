// Plans: lists and ranges of values, their expansion into runs in a fixed
// order with stable ids, plan files, and the JSON of requests and records.
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tester/batch/batch_options.h"
#include "tester/batch/plan.h"
#include "tester/batch/record.h"
#include "tester/run/options.h"

namespace torvik::tester {
namespace {

using Options = std::vector<std::pair<std::string, std::string>>;

TEST(PlanValues, ListsAndRangesExpand)
{
    struct Case {
        const char* name;
        const char* text;
        std::vector<std::string> values;
    };
    const Case cases[] = {
        {"spread", "8,12,20", {"8", "12", "20"}},
        {"window", "150:500:50", {"150", "200", "250", "300", "350", "400", "450", "500"}},
        // decimals are counted, not added up: no 0.30000000000000004
        {"risk", "0.5:2:0.5", {"0.5", "1.0", "1.5", "2.0"}},
        {"risk", "0.1:0.35:0.1", {"0.1", "0.2", "0.3"}},
        {"risk", "1:2.25:0.25", {"1.00", "1.25", "1.50", "1.75", "2.00", "2.25"}},
        {"window", "100:305.5:100", {"100", "200", "300"}},
        {"risk-multiplier", "-1:1:0.5", {"-1.0", "-0.5", "0.0", "0.5", "1.0"}},
        {"window", "100:100:5", {"100"}},
        {"spread", "8,10:14:2", {"8", "10", "12", "14"}},
        // a time's colon is not a range
        {"from", "2024.01.01,2024.06.01 10:00", {"2024.01.01", "2024.06.01 10:00"}},
        {"model", "open", {"open"}},
        // two numbers are a value (the slippage's A:B), not a range
        {"slippage", "0:3,2,1:4", {"0:3", "2", "1:4"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ExpandValues(c.name, c.text), c.values);
    }
}

TEST(PlanValues, MalformedTextsNameTheOption)
{
    struct Case {
        const char* name;
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        {"spread", "8,,12", "--spread: \"8,,12\" has an empty value"},
        {"window", "500:150:50", "the last value is below the first"},
        {"window", "150:500:0", "the step must be above 0"},
        {"window", "150:500:-5", "the step must be above 0"},
        {"window", "1:1000000:1", "at most 100000 on one option"},
        {"risk", "0.0000000000000001:1:1", "too many digits"},
        {"bogus", "1", "--bogus: is not an option of a run"},
        {"report", "out", "--report: is not an option of a run"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Plan plan;
        try {
            AddToPlan(plan, c.name, c.text);
            ADD_FAILURE() << "accepted";
        } catch (const OptionError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
    }
}

TEST(Plan, BarsOutermostThenTheOptionsInTheTablesOrder)
{
    Plan plan;
    AddToPlan(plan, "window", "100,200");
    AddToPlan(plan, "spread", "8,12");  // before window in the table
    AddToPlan(plan, "bars", "a.csv,b.csv+c.csv");
    AddToPlan(plan, "deposit", "5000");
    ASSERT_EQ(plan.axes.size(), 3u);
    EXPECT_EQ(plan.axes[0].name, "spread");
    EXPECT_EQ(plan.axes[1].name, "window");
    EXPECT_EQ(plan.axes[2].name, "deposit");
    EXPECT_EQ(plan.GridSize(), 4u);
    ASSERT_EQ(plan.Varying().size(), 2u);

    const std::vector<RunRequest> runs = ExpandPlan(plan);
    const char* const expected[][3] = {{"a.csv", "8", "100"},        {"a.csv", "8", "200"},
                                       {"a.csv", "12", "100"},       {"a.csv", "12", "200"},
                                       {"b.csv+c.csv", "8", "100"},  {"b.csv+c.csv", "8", "200"},
                                       {"b.csv+c.csv", "12", "100"}, {"b.csv+c.csv", "12", "200"}};
    ASSERT_EQ(runs.size(), 8u);
    for (size_t i = 0; i < runs.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(runs[i].index, i);
        EXPECT_EQ(runs[i].entry, i / 4);
        EXPECT_EQ(runs[i].options, (Options{{"bars", expected[i][0]},
                                            {"spread", expected[i][1]},
                                            {"window", expected[i][2]},
                                            {"deposit", "5000"}}));
        EXPECT_EQ(runs[i].id.substr(0, 7), "00000" + std::to_string(i) + "-");
    }
    // Grid points and their coordinates are one mapping.
    for (uint64_t g = 0; g < plan.GridSize(); ++g) EXPECT_EQ(GridIndex(plan, GridCoordinates(plan, g)), g);
    EXPECT_EQ(PortfolioFiles("b.csv+c.csv"), (std::vector<std::string>{"b.csv", "c.csv"}));
}

TEST(Plan, IdsAreStableAndTellRunsApart)
{
    const Options options = {{"bars", "data/EURUSD_H1.csv"}, {"spread", "8"}};
    // Pinned: a batch folder written by an earlier build must resume. The
    // hash is FNV-1a over "name\0text\n" per option, folded to 32 bits.
    EXPECT_EQ(RunId(0, options), "000000-dd6b314c");
    EXPECT_EQ(RunId(1, options).substr(6), RunId(0, options).substr(6));  // the hash is of the options
    EXPECT_NE(RunId(0, {{"bars", "data/EURUSD_H1.csv"}, {"spread", "80"}}), RunId(0, options));
    EXPECT_NE(RunId(0, {{"ab", "c"}}), RunId(0, {{"a", "bc"}}));
    EXPECT_EQ(RunId(1234567, options).substr(0, 8), "1234567-");

    const RunRequest r = MakeRequest(3, {{"window", "100"}, {"bars", "x.csv"}, {"spread", "8"}});
    EXPECT_EQ(r.options, (Options{{"bars", "x.csv"}, {"spread", "8"}, {"window", "100"}}));
    EXPECT_EQ(r.id, RunId(3, r.options));
}

TEST(Plan, APlanFileIsTheSamePlanAsItsCommandLine)
{
    const Json file = Json::parse(R"({"bars": ["a.csv", "b.csv+c.csv"], "spread": [8, 12], "window": "100:200:100",
                                      "risk": 0.5, "from": "2024.01.01", "criterion": "sharpe", "passes": 50})");
    Json rest;
    const Plan fromFile = PlanFromJson(file, rest);
    Plan fromLine;
    AddToPlan(fromLine, "bars", "a.csv");
    AddToPlan(fromLine, "bars", "b.csv+c.csv");
    AddToPlan(fromLine, "spread", "8,12");
    AddToPlan(fromLine, "window", "100:200:100");
    AddToPlan(fromLine, "risk", "0.5");
    AddToPlan(fromLine, "from", "2024.01.01");
    EXPECT_EQ(PlanJson(fromFile), PlanJson(fromLine));
    EXPECT_EQ(rest, Json::parse(R"({"criterion": "sharpe", "passes": 50})"));

    Json ignored;
    EXPECT_THROW(PlanFromJson(Json::parse(R"({"spread": []})"), ignored), OptionError);
    EXPECT_THROW(PlanFromJson(Json::parse(R"({"spread": [[8]]})"), ignored), OptionError);
    EXPECT_THROW(PlanFromJson(Json::parse(R"([1, 2])"), ignored), TesterError);
}

TEST(Plan, APlanObjectCarriesTheBatchsSettings)
{
    // What a plan file holds, or the Python package's dict.
    const BatchSettings s = BatchSettingsFromJson(Json::parse(
        R"({"bars": "a.csv", "window": [100, 200], "criterion": "recovery", "search": "genetic", "search-seed": 7,
            "passes": 40, "population": 8, "in-sample": "6mo", "out-of-sample": "2w", "run-reports": true})"));
    EXPECT_EQ(s.plan.bars, (std::vector<std::string>{"a.csv"}));
    EXPECT_EQ(s.criterion, Criterion::Recovery);
    EXPECT_EQ(s.search, Search::Genetic);
    EXPECT_EQ(s.genetic.seed, 7u);
    EXPECT_EQ(s.genetic.passes, 40u);
    EXPECT_EQ(s.genetic.population, 8u);
    ASSERT_TRUE(s.walkForward.has_value());
    EXPECT_EQ(PeriodText(s.walkForward->inSample), "6mo");
    EXPECT_EQ(PeriodText(s.walkForward->outOfSample), "2w");
    EXPECT_TRUE(s.runReports);

    const BatchSettings defaults = BatchSettingsFromJson(Json::parse(R"({"bars": "a.csv"})"));
    EXPECT_EQ(defaults.criterion, Criterion::Balance);
    EXPECT_EQ(defaults.search, Search::Complete);
    EXPECT_FALSE(defaults.walkForward.has_value());
    EXPECT_FALSE(defaults.runReports);

    struct Bad {
        const char* json;
        const char* message;
    };
    const Bad bad[] = {
        {R"({"bars": "a.csv", "criterion": "luck"})", "--criterion: \"luck\" is none of"},
        {R"({"bars": "a.csv", "passes": 0})", "--passes: \"0\" is not a whole number of 1 or more"},
        {R"({"bars": "a.csv", "population": -3})", "--population"},
        {R"({"bars": "a.csv", "in-sample": "6mo"})", "needs both --in-sample and --out-of-sample"},
        {R"({"bars": "a.csv", "in-sample": "6mo", "out-of-sample": "3 months"})", "--out-of-sample"},
        {R"({"bars": "a.csv", "run-reports": "maybe"})", "--run-reports: \"maybe\" is neither true nor false"},
        {R"({"bars": "a.csv", "jobs": 2})", "\"jobs\" is not an option of a plan"},
    };
    for (const Bad& b : bad) {
        try {
            BatchSettingsFromJson(Json::parse(b.json));
            ADD_FAILURE() << b.json;
        } catch (const OptionError& e) {
            EXPECT_NE(std::string(e.what()).find(b.message), std::string::npos) << e.what();
        }
    }
}

TEST(Plan, RequestsAndRecordsSurviveTheirJson)
{
    RunRequest request = MakeRequest(12, {{"bars", "x.csv"}, {"window", "120"}});
    request.entry = 2;
    request.window = 3;
    request.outOfSample = true;
    request.keepSeries = true;
    const RunRequest back = RequestFromJson(RequestJson(request));
    EXPECT_EQ(back.index, 12u);
    EXPECT_EQ(back.id, request.id);
    EXPECT_EQ(back.options, request.options);
    EXPECT_EQ(back.entry, 2u);
    EXPECT_EQ(back.window, 3);
    EXPECT_TRUE(back.outOfSample);
    EXPECT_TRUE(back.keepSeries);

    RunRecord ok;
    ok.request = request;
    ok.ok = true;
    ok.report = Json{{"figures", {{"final_balance", 10123.45}, {"max_consecutive_wins", {{"count", 3}}}}}};
    ok.criteria.fill(0.1 + 0.2);  // not a short decimal: must come back bit for bit
    ok.criteria[1] = std::numeric_limits<double>::quiet_NaN();
    ok.trades = "ticket,profit\n1,2.00\n";
    ok.equity = "time,balance\n";
    const RunRecord okBack = RecordFromText(RecordText(ok));
    EXPECT_TRUE(okBack.ok);
    EXPECT_EQ(okBack.report, ok.report);
    EXPECT_EQ(okBack.criteria[0], 0.1 + 0.2);
    EXPECT_TRUE(std::isnan(okBack.criteria[1]));
    EXPECT_EQ(okBack.trades, ok.trades);
    EXPECT_EQ(okBack.equity, ok.equity);
    EXPECT_EQ(okBack.Figure("final_balance"), 10123.45);
    EXPECT_EQ(okBack.Figure("max_consecutive_wins.count"), 3.0);
    EXPECT_TRUE(std::isnan(okBack.Figure("no_such_figure")));
    EXPECT_EQ(RecordText(okBack), RecordText(ok));

    RunRecord failed;
    failed.request = MakeRequest(1, {{"bars", "missing.csv"}});
    failed.message = "missing.csv: no such file";
    const RunRecord failedBack = RecordFromText(RecordText(failed));
    EXPECT_FALSE(failedBack.ok);
    EXPECT_EQ(failedBack.message, failed.message);

    for (const char* broken : {"", "{", "{\"index\": 1}", R"({"index":1,"id":"x","options":{},"status":"maybe"})"}) {
        EXPECT_THROW(RecordFromText(broken), TesterError) << broken;
    }
}

}  // namespace
}  // namespace torvik::tester
