// The inputs of one run, by name: one table that every face of the tester
// (the command line, batches, Python) registers its options from, so that
// names, help, defaults, parsing and checks exist once.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tester/data/error.h"
#include "tester/data/source.h"
#include "tester/market/settings.h"
#include "tester/run/backtest.h"

namespace torvik::tester {

enum class Signals { Fast, Reference };

// Every user-facing input of a run, typed. Unset optionals are resolved
// from the data and the instrument table by ResolveRun. Options about the
// instrument, given once, apply to every chart.
struct RunInputs {
    std::string bars;                  // one file per chart, joined by '+'; each --bars adds one
    std::vector<std::string> symbols;  // none, or one per chart in the order of the files
    std::optional<int32_t> digits;
    std::optional<int32_t> spread;
    std::optional<int32_t> pipMode;
    std::optional<Model> model;
    std::optional<uint32_t> timeframe;
    Cadence decide = Cadence::Bar;
    EquityRows equity = EquityRows::Bars;
    int32_t window = 0;
    double deposit = 0.0;
    std::string currency;
    int32_t leverage = 0;
    std::optional<int64_t> contractSize;
    double stopOut = 0.0;
    std::string base;
    std::string quote;
    std::vector<double> conversionRates;  // none, or one per chart
    int32_t maxPositions = 0;
    double fixedLot = 0.0;
    std::optional<double> riskPercent;
    double riskMultiplier = 0.0;
    std::optional<double> minLot;
    std::optional<double> maxLot;
    std::optional<double> lotStep;
    int32_t riskSplit = 0;

    // the instrument table and what overrides it
    std::string symbolsFile;
    std::string marginCurrency;
    std::optional<MarginMode> marginMode;
    std::optional<int32_t> maxLeverage;
    std::optional<int32_t> stopLevel;
    std::optional<int32_t> freezeLevel;
    StopsTooClose stopsTooClose = StopsTooClose::Move;

    // costs
    bool tableCosts = false;  // --costs table: commission and swaps from the instrument table
    std::optional<double> commission;
    std::optional<CommissionPer> commissionPer;
    std::optional<double> swapLong;
    std::optional<double> swapShort;
    std::optional<SwapUnit> swapUnit;
    std::optional<int32_t> tripleDay;
    int32_t rolloverHour = 0;
    int32_t slippageMin = 0;
    int32_t slippageMax = 0;
    uint64_t seed = 1;
    std::optional<uint32_t> from;
    std::optional<uint32_t> to;
    std::string report;
    Signals signals = Signals::Fast;
    bool quiet = false;
    // The texts given by name (ApplyOption records them), for the report's
    // list of the run's inputs.
    std::map<std::string, std::string> given;
};

// An input the user must fix, named by its option.
class OptionError : public TesterError {
public:
    OptionError(const std::string& option, const std::string& message)
        : TesterError("--" + option + ": " + message), option_(option)
    {
    }
    const std::string& Option() const { return option_; }

private:
    std::string option_;
};

struct OptionEntry {
    const char* name;          // as on the command line, without the dashes
    const char* help;
    const char* defaultText;   // null: none, or resolved from the data (the help says how)
    bool flag;                 // takes no value
    bool required;
    void (*apply)(RunInputs& inputs, const std::string& text);  // throws OptionError
    bool repeatable = false;   // may be given more than once (once per chart)
};

// The table, in the order --help lists it.
const std::vector<OptionEntry>& RunOptions();
// Sets one input from its text; throws OptionError for an unknown name or a bad text.
void ApplyOption(RunInputs& inputs, std::string_view name, const std::string& text);
// Every input at its default.
RunInputs DefaultInputs();
// Checks between inputs (the lot bounds); throws OptionError.
void CheckInputs(const RunInputs& inputs);

// The files of the run's charts: --bars split at '+'.
std::vector<std::string> ChartFiles(const RunInputs& inputs);

// Applies the defaults that depend on the data and the instrument (symbol,
// digits, spread, pip mode, timeframe, model, contract, lots, costs, profit
// conversion) and checks that the model fits the data. One source per
// chart, in the order of ChartFiles (file, scan, loaded data if any).
ResolvedRun ResolveRun(const RunInputs& inputs, const std::vector<ChartSource>& sources);
// One chart. loaded: the data when it was loaded into memory.
ResolvedRun ResolveRun(const RunInputs& inputs, const FileInfo& info, const LoadedData* loaded = nullptr);
// Scans every chart's file and resolves the run.
ResolvedRun ScanAndResolve(const RunInputs& inputs);

}  // namespace torvik::tester
