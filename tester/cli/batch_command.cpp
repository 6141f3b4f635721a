// torvik-tester batch: the single run's options, any of them as a list or a
// range, --bars more than once; the runs made on every core into a batch
// folder that a repeated command resumes.
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <variant>

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include "tester/batch/batch.h"
#include "tester/batch/batch_options.h"
#include "tester/batch/summary.h"
#include "tester/cli/command_line.h"
#include "tester/cli/commands.h"
#include "tester/run/options.h"

namespace torvik::tester {

namespace {

constexpr int InterruptedStatus = 130;  // as a shell reports a program ended by SIGINT

std::atomic<bool> interrupted{false};

void OnInterrupt(int) { interrupted = true; }

// Ctrl-C while the batch runs: the runs in flight finish and are kept, no new
// one starts. A second Ctrl-C ends the program at once (the handler is reset
// after the first): what is half-written then is only temporary files.
class InterruptGuard {
public:
    InterruptGuard()
    {
        interrupted = false;
        struct sigaction action = {};
        action.sa_handler = &OnInterrupt;
        action.sa_flags = static_cast<int>(SA_RESETHAND);
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &previous_);
    }
    ~InterruptGuard() { sigaction(SIGINT, &previous_, nullptr); }
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

private:
    struct sigaction previous_ = {};
};

std::string Clock(double seconds)
{
    const auto s = static_cast<uint64_t>(std::max(0.0, seconds));
    return s >= 3600 ? fmt::format("{}:{:02}:{:02}", s / 3600, s / 60 % 60, s % 60)
                     : fmt::format("{}:{:02}", s / 60, s % 60);
}

// The progress line on stderr: runs done and failed, runs per second and the
// time left, redrawn at most ten times a second.
class ProgressLine {
public:
    explicit ProgressLine(std::ostream& err) : err_(err), started_(std::chrono::steady_clock::now()) {}

    void Draw(const BatchProgress& p)
    {
        const auto now = std::chrono::steady_clock::now();
        const bool last = p.done >= p.total;
        if (!last && now - drawn_ < std::chrono::milliseconds(100)) return;
        drawn_ = now;
        const double seconds = std::chrono::duration<double>(now - started_).count();
        const double rate = seconds > 0.0 ? static_cast<double>(p.ran) / seconds : 0.0;
        const uint64_t left = p.total > p.done ? p.total - p.done : 0;
        constexpr uint64_t Width = 30;
        const uint64_t filled = p.total == 0 ? Width : std::min(Width, p.done * Width / p.total);
        err_ << fmt::format("\r[{}{}] {}/{} runs, {} failed, {:.1f} runs/s, {} left ", std::string(filled, '#'),
                            std::string(Width - filled, ' '), p.done, p.total, p.failed, rate,
                            rate > 0.0 ? Clock(static_cast<double>(left) / rate) : std::string("?:??"));
        err_.flush();
        shown_ = true;
    }
    void End()
    {
        if (shown_) err_ << "\n";
    }

private:
    std::ostream& err_;
    std::chrono::steady_clock::time_point started_;
    std::chrono::steady_clock::time_point drawn_{};
    bool shown_ = false;
};

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) throw OptionError("plan", fmt::format("{}: no such file", path));
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Adds a plan file's options and settings to those of the command line;
// what both give is refused.
void AddPlanFile(const std::string& planFile, Plan& plan, std::map<std::string, std::string>& given)
{
    const Json file = Json::parse(ReadFile(planFile), nullptr, false);
    if (file.is_discarded()) throw OptionError("plan", fmt::format("{}: not JSON", planFile));
    const auto twice = [&](const std::string& name) {
        return OptionError(name, fmt::format("given both in {} and on the command line", planFile));
    };
    Json rest;
    const Plan filed = PlanFromJson(file, rest);
    for (const auto& [name, text] : BatchOptionTexts(rest, planFile)) {
        if (given.count(name) != 0) throw twice(name);
        given[name] = text;
    }
    if (!filed.bars.empty() && !plan.bars.empty()) throw twice("bars");
    plan.bars.insert(plan.bars.end(), filed.bars.begin(), filed.bars.end());
    for (const PlanAxis& axis : filed.axes) {
        if (std::any_of(plan.axes.begin(), plan.axes.end(), [&](const PlanAxis& a) { return a.name == axis.name; })) {
            throw twice(axis.name);
        }
        plan.axes.push_back(axis);
    }
    // in the table's order, as the command line's
    Plan ordered;
    ordered.bars = plan.bars;
    for (const PlanAxis& axis : plan.axes) {
        for (const std::string& v : axis.values) AddToPlan(ordered, axis.name, v);
    }
    plan = std::move(ordered);
}

}  // namespace

std::variant<BatchCommand, int> ParseBatchCommand(int argc, const char* const* argv, std::ostream& out,
                                                  std::ostream& err, const BatchCommandFace& face)
{
    CLI::App app{
        "Makes many runs at once, on every core: the single run's options, any of them as a list "
        "(--spread 8,12,20) or an inclusive range FIRST:LAST:STEP (--window 150:500:50), --bars more "
        "than once; ranked by a criterion, optionally searched genetically and walked forward. With "
        "--report DIR every run is written there as it ends, and the same command resumes an "
        "interrupted batch.",
        face.program};
    app.footer(fmt::format(
        "Example:\n  {} --bars data/EURUSD_H1.csv,data/USDJPY_H1.csv --spread 8,12,20 \\\n"
        "      --window 150:500:50 --criterion profit-factor --report out/grid{}",
        face.program, face.scheduler ? " --scheduler tcp://HOST:8786" : ""));
    app.get_formatter()->column_width(34);
    std::map<std::string, std::vector<std::string>> runTexts;
    for (const OptionEntry& o : RunOptions()) {
        const std::string name = o.name;
        if (name == "report" || name == "quiet") continue;
        std::string help = std::string(o.help) + " (a value, a list or a range)";
        if (o.defaultText != nullptr) help += fmt::format(" [{}]", o.defaultText);
        app.add_option("--" + name, runTexts[name], help)
            ->expected(1)
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    }
    BatchCommand command;
    command.jobs = MachineCores();
    std::string planFile;
    bool runReports = false;
    std::map<std::string, std::string> batchTexts;
    app.add_option("--plan", planFile, "A plan file: a JSON object of these names, each a value, a list or a range");
    app.add_option("--report", command.folder,
                   "The batch folder: summary.csv, summary.json, summary.html, and runs/<id>/run.json per run; "
                   "resumed when it holds this batch");
    app.add_option("--jobs", command.jobs,
                   face.scheduler ? "Runs made at once [the machine's cores; with --scheduler, twice the cluster's threads]"
                                  : "Runs made at once [the machine's cores]")
        ->check(CLI::Range(1u, 4096u));
    app.add_flag("--run-reports", runReports, "Each run's full report (the single run's four files) in runs/<id>/");
    app.add_flag("--force", command.force, "Replace a batch folder that holds another batch");
    app.add_option("--criterion", batchTexts["criterion"],
                   "What ranks the runs: balance, profit-factor, expected-payoff, drawdown (lower is better), "
                   "recovery, sharpe [balance]");
    app.add_option("--search", batchTexts["search"], "complete (every run of the grid) or genetic [complete]");
    app.add_option("--search-seed", batchTexts["search-seed"], "Seed of the genetic search [1]");
    app.add_option("--passes", batchTexts["passes"], "Most runs of the genetic search per bars entry [1000]");
    app.add_option("--population", batchTexts["population"], "Runs per generation of the genetic search [20]");
    app.add_option("--in-sample", batchTexts["in-sample"], "Walk-forward: the in-sample period (d, w, mo, y: 12mo)");
    app.add_option("--out-of-sample", batchTexts["out-of-sample"],
                   "Walk-forward: the out-of-sample period and the step between windows (3mo)");
    app.add_flag("-q,--quiet", command.quiet, "No progress bar and no timing line on stderr");
    if (face.scheduler) {
        app.add_option("--scheduler", command.scheduler,
                       "Make the runs on the cluster of this scheduler (tcp://HOST:8786); the bar files go from "
                       "here to every worker");
    }

    const std::optional<int> parsed = ParseArguments(app, argc, argv, out, err, [&] {
        Plan plan;
        std::map<std::string, std::string> given;
        for (const auto& [name, texts] : runTexts) {
            for (const std::string& t : texts) AddToPlan(plan, name, t);
        }
        for (const char* name : BatchOptionNames) {
            if (app.count("--" + std::string(name)) > 0) given[name] = batchTexts[name];
        }
        if (runReports) given["run-reports"] = "true";
        if (!planFile.empty()) AddPlanFile(planFile, plan, given);
        command.settings = MakeBatchSettings(std::move(plan), given);
        command.jobsGiven = app.count("--jobs") > 0;
        CheckBatch(command.settings);
    });
    if (parsed) return *parsed;
    return command;
}

int RunBatchCommand(const BatchCommand& command, std::ostream& out, std::ostream& err, bool progressBar,
                    const Executor& execute, const BatchCommandFace& face)
{
    const char* program = face.program.c_str();
    const BatchSettings& settings = command.settings;
    const std::string& folderName = command.folder;
    return RunGuarded(program, err, [&] {
        std::unique_ptr<BatchFolder> folder;
        if (!folderName.empty()) {
            folder = std::make_unique<BatchFolder>(folderName, BatchIdentity(settings), command.force);
        }
        InterruptGuard guard;
        ProgressLine line(err);
        std::mutex drawing;
        BatchHooks hooks;
        hooks.jobs = command.jobs;
        hooks.execute = execute;
        hooks.stop = &interrupted;
        if (progressBar && !command.quiet) {
            hooks.progress = [&](const BatchProgress& p) {
                const std::lock_guard<std::mutex> lock(drawing);
                line.Draw(p);
            };
        }
        const auto started = std::chrono::steady_clock::now();
        BatchOutcome outcome;
        try {
            outcome = RunBatch(settings, folder.get(), hooks);
        } catch (const BatchInterrupted& e) {
            line.End();
            err << fmt::format(
                "{}: interrupted: {} of {} runs done{}\n", program, e.done, e.total,
                folder ? fmt::format(" and kept in {}; the same command resumes", folderName) : std::string());
            return InterruptedStatus;
        }
        line.End();
        const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - started;
        const Json summary = SummaryJson(settings, outcome);
        if (folder) {
            for (const SummaryFile& f : SummaryFiles(settings, outcome, summary))
                folder->WriteSummaryFile(f.name, f.text);
        }
        out << SummaryConsole(summary);
        if (folder) out << fmt::format("{:<44}{}\n", "Summary", (folder->Dir() / "summary.html").string());
        if (!command.quiet) {
            const double s = seconds.count();
            err << fmt::format("made {} runs in {:.2f} s: {:.1f} runs/s with {} jobs", outcome.ran, s,
                               s > 0.0 ? static_cast<double>(outcome.ran) / s : 0.0, command.jobs);
            const uint64_t found = outcome.records.size() - std::min<uint64_t>(outcome.ran, outcome.records.size());
            if (found > 0) err << fmt::format("; {} found done in the folder", found);
            err << "\n";
        }
        return 0;
    });
}

int RunBatchCommand(int argc, const char* const* argv, std::ostream& out, std::ostream& err, bool progressBar)
{
    std::variant<BatchCommand, int> parsed = ParseBatchCommand(argc, argv, out, err);
    if (const int* status = std::get_if<int>(&parsed)) return *status;
    return RunBatchCommand(std::get<BatchCommand>(parsed), out, err, progressBar);
}

}  // namespace torvik::tester
