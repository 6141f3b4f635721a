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
// from the data by ResolveRun.
struct RunInputs {
    std::string bars;
    std::string symbol;
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
    int64_t contractSize = 0;
    double stopOut = 0.0;
    std::string base;
    std::string quote;
    std::optional<double> conversionRate;
    int32_t maxPositions = 0;
    double fixedLot = 0.0;
    double riskPercent = 0.0;
    double riskMultiplier = 0.0;
    double minLot = 0.0;
    double maxLot = 0.0;
    double lotStep = 0.0;
    int32_t riskSplit = 0;
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

struct OptionSpec {
    const char* name;          // as on the command line, without the dashes
    const char* help;
    const char* defaultText;   // null: none, or resolved from the data (the help says how)
    bool flag;                 // takes no value
    bool required;
    void (*apply)(RunInputs& inputs, const std::string& text);  // throws OptionError
};

// The table, in the order --help lists it.
const std::vector<OptionSpec>& RunOptions();
// Sets one input from its text; throws OptionError for an unknown name or a bad text.
void ApplyOption(RunInputs& inputs, std::string_view name, const std::string& text);
// Every input at its default.
RunInputs DefaultInputs();
// Checks between inputs (the lot bounds); throws OptionError.
void CheckInputs(const RunInputs& inputs);

// Applies the defaults that depend on the data (symbol, digits, spread, pip
// mode, timeframe, model, profit conversion) and checks that the model fits
// the data. loaded: the data when it was loaded into memory.
RunSpec ResolveRun(const RunInputs& inputs, const FileInfo& info, const LoadedData* loaded = nullptr);

}  // namespace torvik::tester
