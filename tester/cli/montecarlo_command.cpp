// torvik-tester montecarlo: a finished run's trades resampled; percentiles
// of the final balance and the drawdown, and the chance of ruin.
#include <charconv>
#include <cmath>
#include <filesystem>

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include "tester/batch/folder.h"
#include "tester/batch/monte_carlo.h"
#include "tester/cli/command_line.h"
#include "tester/cli/commands.h"
#include "tester/data/error.h"

namespace torvik::tester {

namespace {

namespace fs = std::filesystem;

constexpr const char* Program = "torvik-tester montecarlo";

// "10", "10%" or "2.5%": a share in percent.
double PercentOption(const char* name, const std::string& text)
{
    std::string_view digits(text);
    if (!digits.empty() && digits.back() == '%') digits.remove_suffix(1);
    double value = 0.0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec != std::errc() || end != digits.data() + digits.size() || !std::isfinite(value)) {
        throw TesterError(fmt::format("--{}: \"{}\" is not a percentage", name, text));
    }
    return value;
}

}  // namespace

int RunMonteCarloCommand(int argc, const char* const* argv, std::ostream& out, std::ostream& err)
{
    CLI::App app{
        "Resamples a finished run's trades: each sample takes them in a random order and leaves out a "
        "share of them; the balance path from the deposit gives percentiles of the final balance and of "
        "the maximal drawdown, and the chance of ruin. Writes montecarlo.json and montecarlo.csv.",
        Program};
    app.footer("Example:\n  torvik-tester montecarlo --trades out/EURUSD_H1 --runs 10000 --skip 10% --ruin 30%");
    app.get_formatter()->column_width(30);
    std::string trades, report, skip = "0", ruin = "50";
    double deposit = 0.0;
    MonteCarloSettings settings;
    app.add_option("--trades", trades, "A run's trades.csv, or its report folder")->required();
    app.add_option("--runs", settings.runs, "Samples [1000]")->check(CLI::Range(uint64_t{1}, uint64_t{100000000}));
    app.add_option("--seed", settings.seed, "Seed of the samples [1]");
    app.add_option("--skip", skip, "Share of the trades left out of each sample, in percent [0]");
    app.add_option("--ruin", ruin, "A sample is ruined when its balance falls this share below a peak [50%]");
    app.add_option("--deposit", deposit, "The starting balance [the report.json next to the trades]");
    app.add_option("--report", report, "Folder for montecarlo.json and montecarlo.csv [the trades' folder]");
    const std::optional<int> parsed = ParseArguments(app, argc, argv, out, err, [&] {
        settings.skipPercent = PercentOption("skip", skip);
        settings.ruinPercent = PercentOption("ruin", ruin);
    });
    if (parsed) return *parsed;
    return RunGuarded(Program, err, [&] {
        fs::path file = trades;
        if (fs::is_directory(file)) file /= "trades.csv";
        const fs::path dir = file.parent_path().empty() ? fs::path(".") : file.parent_path();
        if (!(deposit > 0.0)) {
            const std::optional<double> fromReport = ReadDeposit(dir / "report.json");
            if (!fromReport) {
                throw TesterError(fmt::format("{}: no report.json with the deposit next to the trades; give --deposit",
                                              file.string()));
            }
            deposit = *fromReport;
        }
        settings.depositCents = std::llround(deposit * 100.0);
        const MonteCarloResult result = RunMonteCarlo(ReadTradeProfits(file), settings);
        const fs::path target = report.empty() ? dir : fs::path(report);
        std::error_code ec;
        fs::create_directories(target, ec);
        WriteFileAtomically(target / "montecarlo.json", MonteCarloJson(result, settings, file.string()), false);
        WriteFileAtomically(target / "montecarlo.csv", MonteCarloCsv(result), false);
        out << MonteCarloConsole(result, settings, file.string());
        out << fmt::format("{:<44}{}\n", "Report", (target / "montecarlo.json").string());
        return 0;
    });
}

}  // namespace torvik::tester
