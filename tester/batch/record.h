// What a run of a batch leaves: its request, and either every figure of its
// report or the message of its failure. A record is a JSON text of its own
// (run.json), so it can be written the moment the run ends, read back by a
// resumed batch, or shipped between processes.
#pragma once

#include <array>
#include <string>

#include "tester/batch/criterion.h"
#include "tester/batch/plan.h"

namespace torvik::tester {

struct RunRecord {
    RunRequest request;
    bool ok = false;
    std::string message;  // why the run failed
    // report.json's "data", "settings", "modelling_quality", "end",
    // "figures" and "signals", exactly as the run made alone writes them.
    Json report;
    // Every criterion's value, unrounded (NaN: undefined), by AllCriteria.
    std::array<double, CriterionCount> criteria{};
    // The run's trades.csv and equity.csv, when the request keeps them.
    std::string trades;
    std::string equity;

    double Criterion(torvik::tester::Criterion c) const { return criteria[static_cast<size_t>(c)]; }
    // A figure of report.json's "figures" (a run's count or money is
    // "name.count"); NaN when absent or not a number.
    double Figure(const std::string& name) const;
};

Json RecordJson(const RunRecord& record);
RunRecord RecordFromJson(const Json& json);  // throws TesterError
// run.json: the record as indented JSON and a final line break.
std::string RecordText(const RunRecord& record);
RunRecord RecordFromText(std::string_view text);  // throws TesterError

}  // namespace torvik::tester
