// A batch's plan: bar files (or portfolios of them) times lists of values of
// the run's options, expanded into run requests. A run request is the option
// texts of one run, exactly what torvik-tester would be given for it, so a
// run of a batch and the same run made alone are the same run.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace torvik::tester {

using Json = nlohmann::ordered_json;

// The values one option takes across the plan; a single value is the same
// for every run.
struct PlanAxis {
    std::string name;
    std::vector<std::string> values;
};

struct Plan {
    std::vector<std::string> bars;  // one entry per run's data; "a.csv+b.csv" is one portfolio run
    std::vector<PlanAxis> axes;     // the other options, in the option table's order

    // Runs per bars entry: the product of the axes' sizes. Throws TesterError
    // when it does not fit 64 bits.
    uint64_t GridSize() const;
    // Axes with more than one value: what a search varies.
    std::vector<const PlanAxis*> Varying() const;
};

// Adds what the user wrote for one option: a value, a comma list
// ("8,12,20") or an inclusive range FIRST:LAST:STEP ("150:500:50",
// "0.5:2:0.5"); for bars, a comma list of entries. Throws OptionError for an
// option the table does not have or a malformed list or range.
void AddToPlan(Plan& plan, const std::string& name, const std::string& text);
// The values of a list or range, as texts (a range's values carry the
// decimals of its first value and step: "0.5:2:0.5" gives 0.5 1.0 1.5 2.0).
std::vector<std::string> ExpandValues(const std::string& name, const std::string& text);
// A plan file: a JSON object of option names, each a value, a list of values
// or a range text. Names that are not run options are left to the caller in
// `rest` (the batch's own settings).
Plan PlanFromJson(const Json& object, Json& rest);
// The files of one bars entry ("a.csv+b.csv" gives two).
std::vector<std::string> PortfolioFiles(const std::string& entry);

// One run to make.
struct RunRequest {
    uint64_t index = 0;  // its place in the plan; records and summaries keep this order
    std::string id;      // index and a short hash of the options: "000042-9c1f03ab"
    std::vector<std::pair<std::string, std::string>> options;  // in the option table's order, bars first
    uint32_t entry = 0;                                        // which bars entry of the plan
    int32_t window = -1;                                       // walk-forward window, or -1
    bool outOfSample = false;                                  // a walk-forward window's out-of-sample run
    bool keepSeries = false;                                   // the record carries the run's trades.csv and equity.csv

    const std::string* Option(std::string_view name) const;
};

// A request with its options put in table order and its id computed.
RunRequest MakeRequest(uint64_t index, std::vector<std::pair<std::string, std::string>> options);
// The id of a run: "000042-9c1f03ab", the index (six digits at least) and
// the FNV-1a hash of the option names and texts.
std::string RunId(uint64_t index, const std::vector<std::pair<std::string, std::string>>& options);

// The options of grid point `g` of bars entry `entry` (the last axis varies
// fastest).
std::vector<std::pair<std::string, std::string>> GridOptions(const Plan& plan, uint32_t entry, uint64_t g);
// The value index on each axis of grid point `g`, and back.
std::vector<uint32_t> GridCoordinates(const Plan& plan, uint64_t g);
uint64_t GridIndex(const Plan& plan, const std::vector<uint32_t>& coordinates);

// Every run of the plan: bars outermost, then the axes in table order.
std::vector<RunRequest> ExpandPlan(const Plan& plan);

// The plan as JSON (bars and the values of every axis), for the batch
// folder's record of what it holds.
Json PlanJson(const Plan& plan);

Json RequestJson(const RunRequest& request);
RunRequest RequestFromJson(const Json& json);  // throws TesterError

}  // namespace torvik::tester
