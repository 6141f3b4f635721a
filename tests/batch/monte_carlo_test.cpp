// Monte Carlo of a run's trades: the balance path, percentiles, the share
// left out, the chance of ruin, the same numbers for the same seed, and the
// command on a real run's report folder.
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "run_cli.h"
#include "test_paths.h"
#include "tester/batch/monte_carlo.h"
#include "tester/data/error.h"

namespace torvik::tester {
namespace {

using testing::BundledFile;
using testing::ReadAll;
using testing::ScratchFolder;

TEST(MonteCarlo, TheBalancePathGivesTheFinalBalanceAndTheDeepestFall)
{
    // 1000 -> 1100 (peak) -> 800 -> 850 -> 750: the fall from 1100 to 750
    const BalancePath p = WalkBalance({10000, -30000, 5000, -10000}, 100000, 30.0);
    EXPECT_EQ(p.finalCents, 75000);
    EXPECT_EQ(p.maximalDrawdownCents, 35000);
    EXPECT_DOUBLE_EQ(p.relativeDrawdownPercent, 100.0 * 35000 / 110000);
    EXPECT_TRUE(p.ruined);  // 31.8% >= 30%
    EXPECT_FALSE(WalkBalance({10000, -30000, 5000, -10000}, 100000, 35.0).ruined);
    EXPECT_TRUE(WalkBalance({-100000}, 100000, 100.0).ruined);  // nothing left
    const BalancePath none = WalkBalance({}, 100000, 50.0);
    EXPECT_EQ(none.finalCents, 100000);
    EXPECT_EQ(none.maximalDrawdownCents, 0);
}

TEST(MonteCarlo, PercentilesInterpolateBetweenRanks)
{
    const std::vector<double> v = {1, 2, 3, 4, 5};
    EXPECT_DOUBLE_EQ(Percentile(v, 50), 3.0);
    EXPECT_DOUBLE_EQ(Percentile(v, 25), 2.0);
    EXPECT_DOUBLE_EQ(Percentile(v, 5), 1.2);
    EXPECT_DOUBLE_EQ(Percentile(v, 95), 4.8);
    EXPECT_DOUBLE_EQ(Percentile({7}, 95), 7.0);
}

std::vector<int64_t> Trades()
{
    std::vector<int64_t> profits;
    for (int64_t i = 0; i < 40; ++i) profits.push_back((i % 3 == 0 ? -1 : 1) * (1000 + 137 * i));
    return profits;
}

TEST(MonteCarlo, ReorderingAloneKeepsEveryFinalBalance)
{
    MonteCarloSettings s;
    s.runs = 500;
    s.depositCents = 1000000;
    const MonteCarloResult r = RunMonteCarlo(Trades(), s);
    for (const double f : r.finalBalance) EXPECT_EQ(f, static_cast<double>(r.original.finalCents));
    EXPECT_EQ(r.kept, 40u);
    // but not the drawdowns: the order of wins and losses is what moves them
    EXPECT_LT(r.maximalDrawdown[0], r.maximalDrawdown[4]);
}

TEST(MonteCarlo, ASeedGivesTheSamePercentilesAndAnotherSeedOthers)
{
    MonteCarloSettings s;
    s.runs = 2000;
    s.seed = 7;
    s.skipPercent = 10.0;
    s.ruinPercent = 1.5;
    s.depositCents = 1000000;
    const MonteCarloResult a = RunMonteCarlo(Trades(), s);
    const MonteCarloResult b = RunMonteCarlo(Trades(), s);
    EXPECT_EQ(MonteCarloJson(a, s, "t"), MonteCarloJson(b, s, "t"));
    EXPECT_EQ(a.kept, 36u);
    // Pinned: the generator and the sampling are this program's own.
    EXPECT_EQ(MonteCarloCsv(a), MonteCarloCsv(b));
    EXPECT_EQ(MonteCarloCsv(a),
              "percentile,final_balance,maximal_drawdown,relative_drawdown_percent\n"
              "5,10274.54,82.61,0.8061\n"
              "25,10342.49,110.42,1.0728\n"
              "50,10394.55,132.75,1.3002\n"
              "75,10447.43,166.04,1.6201\n"
              "95,10527.71,222.64,2.1631\n");
    s.seed = 8;
    EXPECT_NE(MonteCarloCsv(RunMonteCarlo(Trades(), s)), MonteCarloCsv(a));
    // Percentiles rise with their rank.
    for (size_t k = 1; k < MonteCarloPercentiles.size(); ++k) {
        EXPECT_LE(a.finalBalance[k - 1], a.finalBalance[k]);
        EXPECT_LE(a.maximalDrawdown[k - 1], a.maximalDrawdown[k]);
    }
    EXPECT_GT(a.ruinProbability, 0.0);
    EXPECT_LT(a.ruinProbability, 1.0);
}

TEST(MonteCarlo, RuinIsTheShareOfSamplesThatFellSoFar)
{
    MonteCarloSettings s;
    s.runs = 300;
    s.depositCents = 100000;
    s.ruinPercent = 10.0;
    EXPECT_EQ(RunMonteCarlo(std::vector<int64_t>(20, -1000), s).ruinProbability, 1.0);  // 20% lost in any order
    EXPECT_EQ(RunMonteCarlo(std::vector<int64_t>(20, 1000), s).ruinProbability, 0.0);
    double last = 1.0;
    for (const double ruin : {1.0, 2.0, 5.0, 20.0}) {
        s.ruinPercent = ruin;
        const double p = RunMonteCarlo(Trades(), MonteCarloSettings{s.runs, 3, 0.0, ruin, 1000000}).ruinProbability;
        EXPECT_LE(p, last) << ruin;  // a deeper level is reached by fewer samples
        last = p;
    }
    for (const MonteCarloSettings bad : {MonteCarloSettings{0, 1, 0, 50, 100}, MonteCarloSettings{1, 1, 100, 50, 100},
                                         MonteCarloSettings{1, 1, 0, 0, 100}, MonteCarloSettings{1, 1, 0, 50, 0}}) {
        EXPECT_THROW(RunMonteCarlo(Trades(), bad), TesterError);
    }
}

TEST(MonteCarlo, ReadsTheProfitColumnByItsName)
{
    const std::filesystem::path dir = ScratchFolder();
    // commission and swap count with the profit, whatever the columns' order
    testing::WriteAll(dir / "trades.csv",
                      "ticket,commission,swap,profit,balance\r\n1,-0.70,0.00,12.50,10011.80\r\n\r\n"
                      "2,-0.70,-1.20,-3.05,10006.85\r\n");
    EXPECT_EQ(ReadTradeProfits(dir / "trades.csv"), (std::vector<int64_t>{1180, -495}));
    testing::WriteAll(dir / "plain.csv", "ticket,profit,balance\n1,12.50,10012.50\n");
    EXPECT_EQ(ReadTradeProfits(dir / "plain.csv"), (std::vector<int64_t>{1250}));
    testing::WriteAll(dir / "bad.csv", "ticket,profit\n1,12.5\n");
    try {
        ReadTradeProfits(dir / "bad.csv");
        ADD_FAILURE() << "read";
    } catch (const TesterError& e) {
        EXPECT_NE(std::string(e.what()).find("bad.csv:2: the money is not written"), std::string::npos) << e.what();
    }
    testing::WriteAll(dir / "other.csv", "time,balance\n");
    EXPECT_THROW(ReadTradeProfits(dir / "other.csv"), TesterError);
    EXPECT_THROW(ReadTradeProfits(dir / "missing.csv"), TesterError);
}

int Cli(const std::vector<std::string>& args, std::string* text = nullptr)
{
    const testing::CliOutcome o = testing::RunCli(args);
    if (text != nullptr) *text = o.out + o.err;
    return o.status;
}

TEST(MonteCarlo, TheCommandResamplesARunFromItsReportFolder)
{
    const std::filesystem::path dir = ScratchFolder();
    const std::string run = (dir / "run").string();
    ASSERT_EQ(Cli({"--bars", BundledFile("EURUSD_H1.csv"), "--from", "2024.06.01", "--report", run, "-q"}), 0);
    std::string text;
    ASSERT_EQ(Cli({"montecarlo", "--trades", run, "--runs", "300", "--skip", "10%", "--seed", "4"}, &text), 0) << text;
    EXPECT_NE(text.find("Ruin (a drawdown of 50% or more)"), std::string::npos) << text;
    const nlohmann::json j = nlohmann::json::parse(ReadAll(dir / "run" / "montecarlo.json"));
    const nlohmann::json report = nlohmann::json::parse(ReadAll(dir / "run" / "report.json"));
    EXPECT_EQ(j["deposit"], report["figures"]["initial_deposit"]);
    EXPECT_EQ(j["trades"], report["figures"]["total_trades"]);
    EXPECT_EQ(j["original"]["final_balance"], report["figures"]["final_balance"]);
    EXPECT_EQ(j["percentiles"].size(), 5u);
    const std::string first = ReadAll(dir / "run" / "montecarlo.csv");
    ASSERT_EQ(Cli({"montecarlo", "--trades", run + "/trades.csv", "--runs", "300", "--skip", "10", "--seed", "4",
                   "--report", (dir / "again").string()}),
              0);
    EXPECT_EQ(ReadAll(dir / "again" / "montecarlo.csv"), first);

    struct Bad {
        std::vector<std::string> args;
        int status;
        const char* message;
    };
    const Bad bad[] = {
        {{"montecarlo"}, 2, "--trades is required"},
        {{"montecarlo", "--trades", run, "--skip", "ten"}, 2, "--skip: \"ten\" is not a percentage"},
        {{"montecarlo", "--trades", run, "--skip", "100%"}, 1, "--skip"},
        {{"montecarlo", "--trades", (dir / "none").string()}, 1, "give --deposit"},
    };
    for (const Bad& b : bad) {
        std::string message;
        EXPECT_EQ(Cli(b.args, &message), b.status) << b.args.back();
        EXPECT_NE(message.find(b.message), std::string::npos) << message;
    }
}

}  // namespace
}  // namespace torvik::tester
