#include "tester/cli/cli.h"

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include "tester/cli/commands.h"
#include "tester/report/report.h"
#include "tester/run/backtest.h"
#include "tester/run/options.h"

namespace torvik::tester {

namespace {

constexpr const char* Program = "torvik-tester";
constexpr const char* Version = TesterVersion;

struct Progress {
    std::ostream* err;
    int32_t shown = -1;
};

void DrawProgress(void* context, double done)
{
    auto* p = static_cast<Progress*>(context);
    const int32_t percent = std::clamp(static_cast<int32_t>(done * 100.0), 0, 100);
    if (percent == p->shown) return;
    p->shown = percent;
    constexpr int32_t Width = 40;
    const int32_t filled = percent * Width / 100;
    *p->err << fmt::format("\r[{}{}] {:3}%", std::string(static_cast<size_t>(filled), '#'),
                           std::string(static_cast<size_t>(Width - filled), ' '), percent);
    if (percent == 100) *p->err << "\n";
    p->err->flush();
}

int RunTest(const RunInputs& in, std::ostream& out, std::ostream& err, bool progressBar)
{
    const ResolvedRun resolved = ScanAndResolve(in);
    const FileInfo& info = resolved.charts[0].info;
    const std::vector<TestSettings> charts = resolved.AllChartSettings();
    const bool tickTimes = resolved.TickTimes();

    std::unique_ptr<ReportFolder> folder;
    if (!in.report.empty()) folder = std::make_unique<ReportFolder>(in.report, resolved.settings, tickTimes, charts);
    std::optional<TableBinding> reference;
    Progress progress{&err};
    RunHooks hooks;
    if (in.signals == Signals::Reference) hooks.library = &reference.emplace(ReferenceExports());
    hooks.sink = folder.get();
    if (progressBar && !in.quiet) {
        hooks.progress = &DrawProgress;
        hooks.progressContext = &progress;
    }
    const auto started = std::chrono::steady_clock::now();
    TestRun run{in.bars, info, resolved.settings, RunBacktest(resolved, hooks), resolved.charts, in.given};
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - started;
    const auto writing = std::chrono::steady_clock::now();
    if (folder) folder->Finish(run);
    const std::chrono::duration<double> written = std::chrono::steady_clock::now() - writing;

    out << ConsoleSummary(run);
    if (!in.report.empty()) out << fmt::format("{:<44}{}\n", "Report", in.report);
    if (!in.quiet) {
        const double s = seconds.count();
        err << fmt::format("replayed {} chart bars ({} ticks) in {:.2f} s: {:.0f} ticks/s\n",
                           run.outcome.quality.chartBars, run.outcome.ticks, s,
                           s > 0.0 ? static_cast<double>(run.outcome.ticks) / s : 0.0);
        if (folder) err << fmt::format("wrote report.json and report.html in {:.2f} s\n", written.count());
    }
    return 0;
}

}  // namespace

int RunTester(int argc, const char* const* argv, std::ostream& out, std::ostream& err, bool progressBar)
{
    const std::string_view command = argc > 1 ? argv[1] : "";
    if (command == "batch") return RunBatchCommand(argc - 1, argv + 1, out, err, progressBar);
    if (command == "montecarlo") return RunMonteCarloCommand(argc - 1, argv + 1, out, err);
    CLI::App app{"Replays bars or ticks through the library's exports as the expert advisor does, simulates the "
                 "broker and writes the test report.",
                 Program};
    app.footer("Examples:\n  torvik-tester --bars data/EURUSD_M15.csv --timeframe H1 --report out/EURUSD_M15\n"
               "  torvik-tester --bars data/EURUSD_H1.csv --bars data/USDJPY_H1.csv --report out/portfolio\n"
               "Many runs at once: torvik-tester batch --help; a run's trades resampled: torvik-tester montecarlo "
               "--help");
    app.get_formatter()->column_width(30);
    // Every option comes from the run's table; its text is parsed there.
    const std::vector<OptionEntry>& table = RunOptions();
    std::map<std::string, std::string> texts;
    std::map<std::string, std::vector<std::string>> lists;
    std::map<std::string, bool> flags;
    for (const OptionEntry& o : table) {
        const std::string name = std::string("--") + o.name;
        std::string help = o.help;
        if (o.defaultText != nullptr) help += fmt::format(" [{}]", o.defaultText);
        if (o.flag) {
            app.add_flag(std::string(o.name) == "quiet" ? "-q,--quiet" : name, flags[o.name], help);
        } else if (o.repeatable) {
            CLI::Option* option = app.add_option(name, lists[o.name], help)->expected(1)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
            if (o.required) option->required();
        } else {
            CLI::Option* option = app.add_option(name, texts[o.name], help);
            if (o.required) option->required();
        }
    }
    app.set_version_flag("--version", std::string(Version));
    RunInputs in = DefaultInputs();
    try {
        app.parse(argc, argv);
        for (const OptionEntry& o : table) {
            const std::string name = std::string("--") + o.name;
            if (app.count(name) == 0) continue;
            if (o.repeatable) {
                for (const std::string& text : lists[o.name]) ApplyOption(in, o.name, text);
                continue;
            }
            ApplyOption(in, o.name, o.flag ? "true" : texts[o.name]);
        }
        CheckInputs(in);
    } catch (const CLI::CallForHelp&) {
        out << app.help();
        return 0;
    } catch (const CLI::CallForVersion&) {
        out << Version << "\n";
        return 0;
    } catch (const CLI::ParseError& e) {
        err << Program << ": " << e.what() << "\n" << "Run with --help for the options.\n";
        return 2;
    } catch (const OptionError& e) {
        err << Program << ": " << e.what() << "\n" << "Run with --help for the options.\n";
        return 2;
    }
    try {
        return RunTest(in, out, err, progressBar);
    } catch (const OptionError& e) {
        err << Program << ": " << e.what() << "\n";
        return 2;
    } catch (const std::exception& e) {
        err << Program << ": " << e.what() << "\n";
        return 1;
    }
}

}  // namespace torvik::tester
