// Batches of real runs: each run's figures are those of the same run made
// alone with torvik-tester; failures are listed and the others go on; the
// summary is byte-identical whatever the number of jobs and however often
// the batch was killed (SIGKILL of a real process) or stopped (SIGINT) and
// resumed; the pool hands out every request once; a folder of another batch
// is refused unless forced.
#include <signal.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "run_cli.h"
#include "test_paths.h"
#include "tester/batch/batch.h"

extern char** environ;

namespace torvik::tester {
namespace {

namespace fs = std::filesystem;
using testing::BundledFile;
using testing::ReadAll;
using testing::ScratchFolder;

using Outcome = testing::CliOutcome;
const auto Cli = testing::RunCli;

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Every file of a folder, by its path inside it.
std::map<std::string, std::string> Files(const fs::path& dir)
{
    std::map<std::string, std::string> files;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(dir)) {
        if (e.is_regular_file()) files[fs::relative(e.path(), dir).string()] = ReadAll(e.path());
    }
    return files;
}

size_t RecordsIn(const fs::path& dir)
{
    size_t n = 0;
    std::error_code ec;
    for (fs::directory_iterator it(dir / "runs", ec), end; !ec && it != end; it.increment(ec)) {
        n += fs::exists(it->path() / "run.json") ? 1 : 0;
    }
    return n;
}

// torvik-tester started as a process of its own, its output thrown away.
pid_t Start(const std::vector<std::string>& args)
{
    std::vector<std::string> all = Concat({TORVIK_TESTER_PATH}, args);
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return error == 0 ? pid : -1;
}

// Waits until the folder holds `records` run records or the process ends;
// answers whether it still runs.
bool WaitForRecords(pid_t pid, const fs::path& dir, size_t records)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(5);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) return false;
        if (RecordsIn(dir) >= records) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

int Finish(pid_t pid)
{
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

TEST(Batch, EveryRunHasTheFiguresOfTheSameRunMadeAlone)
{
    const fs::path dir = ScratchFolder();
    const std::vector<std::vector<std::string>> plans = {
        {"--bars", BundledFile("EURUSD_H1.csv") + "," + BundledFile("USDJPY_H1.csv"), "--spread", "8,20", "--window",
         "150,300", "--from", "2024.07.01"},
        {"--bars", BundledFile("EURUSD_M15.csv"), "--timeframe", "H1", "--model", "lower,ohlc", "--risk", "0:1:1",
         "--from", "2024.10.01"},
        {"--bars", BundledFile("EURUSD_ticks.csv"), "--timeframe", "M15", "--window", "98", "--decide", "bar,tick"},
        // a portfolio: two charts in one account, and costs from the instrument table
        {"--bars", BundledFile("EURUSD_H1.csv") + "+" + BundledFile("USDJPY_H1.csv"), "--costs", "table",
         "--max-positions", "1,3", "--from", "2024.09.01"},
    };
    for (size_t p = 0; p < plans.size(); ++p) {
        const fs::path batch = dir / ("batch" + std::to_string(p));
        const Outcome o = Cli(Concat({"batch", "--jobs", "2", "--report", batch.string(), "-q"}, plans[p]));
        ASSERT_EQ(o.status, 0) << o.err;
        const Json summary = Json::parse(ReadAll(batch / "summary.json"));
        ASSERT_EQ(summary["failed"], 0);
        for (const Json& row : summary["rows"]) {
            const std::string id = row["id"].get<std::string>();
            SCOPED_TRACE(id);
            const RunRecord record = RecordFromText(ReadAll(batch / "runs" / id / "run.json"));
            // The same options, given to the single run.
            std::vector<std::string> args;
            for (const auto& [name, text] : record.request.options) args.insert(args.end(), {"--" + name, text});
            const fs::path alone = dir / ("alone-" + id);
            ASSERT_EQ(Cli(Concat(args, {"--report", alone.string(), "-q"})).status, 0);
            const Json report = Json::parse(ReadAll(alone / "report.json"));
            for (const char* part : {"figures", "settings", "data", "end", "signals", "modelling_quality"}) {
                EXPECT_EQ(record.report[part], report[part]) << part;
            }
            EXPECT_EQ(row["figures"]["total_net_profit"], report["figures"]["total_net_profit"]);
        }
    }
}

TEST(Batch, AFailedRunIsListedWithItsMessageAndTheOthersGoOn)
{
    const fs::path dir = ScratchFolder();
    const std::string eurusd = BundledFile("EURUSD_H1.csv");
    const Outcome o = Cli({"batch", "--bars", eurusd, "--bars", (dir / "missing.csv").string(), "--bars",
                           eurusd + "+" + BundledFile("USDJPY_H1.csv"), "--window", "50,200", "--from", "2024.10.01",
                           "--report", (dir / "b").string(), "-q"});
    ASSERT_EQ(o.status, 0) << o.err;
    const Json summary = Json::parse(ReadAll(dir / "b" / "summary.json"));
    ASSERT_EQ(summary["runs"], 6);
    EXPECT_EQ(summary["failed"], 4);
    const char* const messages[] = {"--window: 50 is outside 98 to 500", "",
                                    "--window: 50 is outside 98 to 500", "missing.csv: no such file",
                                    "--window: 50 is outside 98 to 500", ""};
    for (size_t i = 0; i < 6; ++i) {
        const Json& row = summary["rows"][i];
        if (messages[i][0] == '\0') {
            EXPECT_EQ(row["status"], "ok");
            EXPECT_EQ(row["rank"], 1);
        } else {
            EXPECT_EQ(row["status"], "failed");
            EXPECT_NE(row["message"].get<std::string>().find(messages[i]), std::string::npos) << row["message"];
        }
    }
    EXPECT_NE(o.out.find("Failed"), std::string::npos);
    const std::string csv = ReadAll(dir / "b" / "summary.csv");
    EXPECT_NE(csv.find("failed"), std::string::npos);
}

TEST(Batch, TheSummaryIsTheSameWhateverTheJobsAndHoweverTheBatchWasStopped)
{
    const fs::path dir = ScratchFolder();
    // Runs long enough to stop the batch in the middle: two years of M15
    // bars as H1 charts.
    const std::vector<std::string> plan = {"batch",         "--bars",   BundledFile("EURUSD_M15.csv"),
                                           "--timeframe",   "H1",       "--from",
                                           "2024.01.01",    "--spread", "5:60:5",
                                           "--run-reports", "-q"};
    constexpr size_t Runs = 12;
    const auto folder = [&](const char* name) { return (dir / name).string(); };
    const Outcome whole = Cli(Concat(plan, {"--jobs", "1", "--report", folder("whole")}));
    ASSERT_EQ(whole.status, 0) << whole.err;
    const std::map<std::string, std::string> expected = Files(dir / "whole");
    ASSERT_EQ(RecordsIn(dir / "whole"), Runs);
    const auto same = [&](const char* name) {
        std::map<std::string, std::string> files = Files(dir / name);
        files.erase(".lock");
        std::map<std::string, std::string> want = expected;
        want.erase(".lock");
        EXPECT_EQ(files.size(), want.size()) << name;
        for (const auto& [path, text] : want) EXPECT_TRUE(files[path] == text) << name << ": " << path << " differs";
    };

    const Outcome two = Cli(Concat(plan, {"--jobs", "2", "--report", folder("two")}));
    ASSERT_EQ(two.status, 0) << two.err;
    same("two");

    // Killed: whatever was written whole is kept; the rest is made again.
    const pid_t killed = Start(Concat(plan, {"--jobs", "2", "--report", folder("killed")}));
    ASSERT_GT(killed, 0);
    const bool running = WaitForRecords(killed, dir / "killed", 3);
    kill(killed, SIGKILL);
    Finish(killed);
    ASSERT_TRUE(running) << "the batch ended before it could be killed";
    const size_t survived = RecordsIn(dir / "killed");
    EXPECT_LT(survived, Runs);
    for (const fs::directory_entry& e : fs::directory_iterator(dir / "killed" / "runs")) {
        if (fs::exists(e.path() / "run.json")) {
            EXPECT_EQ(RecordFromText(ReadAll(e.path() / "run.json")).request.id, e.path().filename().string());
        }
    }
    EXPECT_FALSE(fs::exists(dir / "killed" / "summary.json"));
    const Outcome resumed = Cli(Concat(plan, {"--jobs", "2", "--report", folder("killed")}));
    ASSERT_EQ(resumed.status, 0) << resumed.err;
    same("killed");

    // Ctrl-C: the runs in flight finish and are kept, no summary is written,
    // the status is 130; the same command then finishes the batch.
    const pid_t stopped = Start(Concat(plan, {"--jobs", "2", "--report", folder("stopped")}));
    ASSERT_GT(stopped, 0);
    ASSERT_TRUE(WaitForRecords(stopped, dir / "stopped", 2)) << "the batch ended before it could be stopped";
    kill(stopped, SIGINT);
    const int status = Finish(stopped);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by a signal: " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 130);
    EXPECT_FALSE(fs::exists(dir / "stopped" / "summary.csv"));
    for (const fs::directory_entry& e : fs::directory_iterator(dir / "stopped" / "runs")) {
        EXPECT_TRUE(fs::exists(e.path() / "run.json")) << e.path() << ": a run in flight was not finished";
        EXPECT_TRUE(fs::exists(e.path() / "report.json")) << e.path();
    }
    // Resumed, it makes only what is missing: the records kept stay as they are.
    std::map<fs::path, fs::file_time_type> written;
    for (const fs::directory_entry& e : fs::directory_iterator(dir / "stopped" / "runs")) {
        written[e.path()] = fs::last_write_time(e.path() / "run.json");
    }
    EXPECT_LT(written.size(), Runs);
    const Outcome finished = Cli(Concat(plan, {"--jobs", "1", "--report", folder("stopped")}));
    ASSERT_EQ(finished.status, 0) << finished.err;
    for (const auto& [path, time] : written) EXPECT_EQ(fs::last_write_time(path / "run.json"), time) << path;
    same("stopped");
}

TEST(Batch, AGeneticSearchIsTheSameWhateverTheJobsAndRunsNothingTwice)
{
    const fs::path dir = ScratchFolder();
    const std::vector<std::string> plan = {"batch",
                                           "--bars",
                                           BundledFile("EURUSD_H1.csv"),
                                           "--spread",
                                           "4:40:4",
                                           "--window",
                                           "100:500:50",
                                           "--from",
                                           "2024.09.01",
                                           "--search",
                                           "genetic",
                                           "--passes",
                                           "20",
                                           "--population",
                                           "6",
                                           "--search-seed",
                                           "3",
                                           "--criterion",
                                           "expected-payoff",
                                           "-q"};
    const Outcome one = Cli(Concat(plan, {"--jobs", "1", "--report", (dir / "one").string()}));
    ASSERT_EQ(one.status, 0) << one.err;
    const Outcome two = Cli(Concat(plan, {"--jobs", "2", "--report", (dir / "two").string()}));
    ASSERT_EQ(two.status, 0) << two.err;
    EXPECT_EQ(ReadAll(dir / "one" / "summary.json"), ReadAll(dir / "two" / "summary.json"));
    EXPECT_EQ(ReadAll(dir / "one" / "summary.csv"), ReadAll(dir / "two" / "summary.csv"));
    const Json summary = Json::parse(ReadAll(dir / "one" / "summary.json"));
    EXPECT_EQ(summary["runs"], 20);
    EXPECT_EQ(summary["searches"][0]["passes"], 20);
    EXPECT_EQ(summary["searches"][0]["grid"], 90);
    std::set<std::string> inputs;
    for (const Json& row : summary["rows"]) inputs.insert(row["inputs"].dump());
    EXPECT_EQ(inputs.size(), 20u);
    EXPECT_NE(one.out.find("20 passes of a grid of 90"), std::string::npos) << one.out;
    // Again on the same folder: every run is found there.
    const Outcome again = Cli(Concat(plan, {"--jobs", "2", "--report", (dir / "one").string()}));
    ASSERT_EQ(again.status, 0);
    EXPECT_EQ(again.out, one.out);
    EXPECT_EQ(ReadAll(dir / "one" / "summary.json"), ReadAll(dir / "two" / "summary.json"));
}

TEST(Batch, AFolderOfAnotherBatchIsRefusedUnlessForced)
{
    const fs::path dir = ScratchFolder();
    const std::string folder = (dir / "b").string();
    const auto batch = [&](const char* spreads, std::vector<std::string> more = {}) {
        return Cli(Concat({"batch", "--bars", BundledFile("EURUSD_H1.csv"), "--from", "2024.11.01", "--spread", spreads,
                           "--report", folder},
                          more));
    };
    ASSERT_EQ(batch("8,12").status, 0);
    const Outcome refused = batch("8,20");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("holds another batch"), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("--force"), std::string::npos);
    const Outcome forced = batch("8,20", {"--force"});
    ASSERT_EQ(forced.status, 0) << forced.err;
    EXPECT_NE(forced.err.find("made 1 runs"), std::string::npos) << forced.err;  // spread 8 is the same run
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "b" / "runs"), fs::directory_iterator()), 2);

    // Not a batch folder at all: never touched.
    fs::create_directories(dir / "other");
    testing::WriteAll(dir / "other" / "notes.txt", "mine");
    const Outcome other =
        Cli({"batch", "--bars", BundledFile("EURUSD_H1.csv"), "--report", (dir / "other").string(), "--force"});
    EXPECT_EQ(other.status, 1);
    EXPECT_NE(other.err.find("is not a batch folder"), std::string::npos) << other.err;
    EXPECT_EQ(ReadAll(dir / "other" / "notes.txt"), "mine");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "other"), fs::directory_iterator()), 1);
}

TEST(Batch, WhatACrashLeftHalfWrittenIsMadeAgain)
{
    const fs::path dir = ScratchFolder();
    const std::vector<std::string> batch = {
        "batch",         "--bars",   BundledFile("EURUSD_H1.csv"), "--from", "2024.11.01", "--spread", "8,12,20",
        "--run-reports", "--report", (dir / "b").string()};
    ASSERT_EQ(Cli(batch).status, 0);
    const std::string summary = ReadAll(dir / "b" / "summary.csv");
    // A machine that went down in the middle: a record cut short, a run's
    // report without its record, a temporary file.
    std::vector<fs::path> runs;
    for (const fs::directory_entry& e : fs::directory_iterator(dir / "b" / "runs")) runs.push_back(e.path());
    std::sort(runs.begin(), runs.end());
    const std::string record = ReadAll(runs[0] / "run.json");
    testing::WriteAll(runs[0] / "run.json", record.substr(0, record.size() / 2));
    fs::remove(runs[1] / "run.json");
    testing::WriteAll(dir / "b" / "summary.csv.partial", "half");
    const Outcome again = Cli(batch);
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_NE(again.err.find("made 2 runs"), std::string::npos) << again.err;
    EXPECT_EQ(ReadAll(dir / "b" / "summary.csv"), summary);
    EXPECT_EQ(ReadAll(runs[0] / "run.json"), record);
    EXPECT_FALSE(fs::exists(dir / "b" / "summary.csv.partial"));

    // A batch killed before it wrote batch.json left an empty runs/ and its
    // lock: the folder is still free to take.
    fs::create_directories(dir / "early" / "runs");
    testing::WriteAll(dir / "early" / ".lock", "");
    EXPECT_EQ(Cli({"batch", "--bars", BundledFile("EURUSD_H1.csv"), "--from", "2024.12.01", "--report",
                   (dir / "early").string(), "-q"})
                  .status,
              0);
}

TEST(Pool, HandsOutEveryRequestOnceAndStopsWhenAsked)
{
    std::vector<RunRequest> requests;
    for (uint64_t i = 0; i < 200; ++i)
        requests.push_back(MakeRequest(i, {{"bars", "x"}, {"spread", std::to_string(i)}}));
    std::atomic<int> made{0};
    std::mutex mutex;
    std::set<std::thread::id> threads;
    PoolSettings settings;
    settings.jobs = 4;
    settings.execute = [&](const RunRequest& r, Worker&, const fs::path&) {
        ++made;
        {
            const std::lock_guard<std::mutex> lock(mutex);
            threads.insert(std::this_thread::get_id());
        }
        // The first run waits (a while at most) for a second worker to take
        // one: the pool must run them side by side, however slow threads start.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (r.index == 0 && std::chrono::steady_clock::now() < deadline) {
            {
                const std::lock_guard<std::mutex> lock(mutex);
                if (threads.size() > 1) break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        RunRecord record;
        record.request = r;
        record.ok = true;
        return record;
    };
    DataCache data;
    std::atomic<int> finished{0};
    const auto records = RunPool(requests, data, settings, [&](const RunRecord&) { ++finished; });
    EXPECT_EQ(made, 200);
    EXPECT_EQ(finished, 200);
    EXPECT_GT(threads.size(), 1u);
    for (size_t i = 0; i < records.size(); ++i) {
        ASSERT_TRUE(records[i].has_value());
        EXPECT_EQ(records[i]->request.index, i);
    }

    // Stopped after the tenth record: the runs in flight end, no other starts.
    std::atomic<bool> stop{false};
    settings.stop = &stop;
    made = 0;
    const auto some = RunPool(requests, data, settings, [&](const RunRecord&) {
        if (++finished >= 210) stop = true;
    });
    EXPECT_GE(made, 10);
    EXPECT_LE(made, 10 + 4);
    EXPECT_EQ(std::count_if(some.begin(), some.end(), [](const auto& r) { return r.has_value(); }), made.load());

    // A worker's failure (a record that cannot be written) ends the pool and is thrown.
    settings.stop = nullptr;
    EXPECT_THROW(RunPool(requests, data, settings,
                         [](const RunRecord& r) {
                             if (r.request.index == 17) throw TesterError("disk full");
                         }),
                 TesterError);
}

TEST(DataCache, DataPutInTheCacheServesRunsWithoutAFile)
{
    // What the Python package does with a data frame: the rows come from
    // memory under a name no file has.
    DataCache data;
    data.Put("memory/EURUSD_H1", LoadFile(BundledFile("EURUSD_H1.csv")));
    Worker worker(data, nullptr);
    const RunRequest request =
        MakeRequest(0, {{"bars", "memory/EURUSD_H1"}, {"symbol", "EURUSD"}, {"from", "2024.12.01"}});
    const RunRecord fromMemory = ExecuteRun(request, worker);
    ASSERT_TRUE(fromMemory.ok) << fromMemory.message;
    const RunRecord fromFile =
        ExecuteRun(MakeRequest(0, {{"bars", BundledFile("EURUSD_H1.csv")}, {"from", "2024.12.01"}}), worker);
    ASSERT_TRUE(fromFile.ok) << fromFile.message;
    EXPECT_EQ(fromMemory.report["figures"], fromFile.report["figures"]);
    EXPECT_EQ(data.Get(BundledFile("EURUSD_H1.csv")), data.Get(BundledFile("EURUSD_H1.csv")));  // parsed once
    EXPECT_THROW(data.Get("no/such/file.csv"), TesterError);
    EXPECT_THROW(data.Get("no/such/file.csv"), TesterError);  // and the same answer again
}

}  // namespace
}  // namespace torvik::tester
