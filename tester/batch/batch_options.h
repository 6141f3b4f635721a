// A batch's own settings by name (criterion, search, walk-forward, ...), as
// the command line, plan files and the Python package give them: one parser
// for every face.
#pragma once

#include <array>
#include <map>
#include <string>

#include "tester/batch/batch.h"

namespace torvik::tester {

inline constexpr std::array<const char*, 8> BatchOptionNames = {
    "criterion", "search", "search-seed", "passes", "population", "in-sample", "out-of-sample", "run-reports"};

// The settings of a plan with those options' texts (a missing one keeps its
// default); throws OptionError naming a bad one.
BatchSettings MakeBatchSettings(Plan plan, const std::map<std::string, std::string>& options);

// The texts of the batch options of a JSON object (what PlanFromJson left of
// a plan file): strings as they are, numbers and booleans as JSON writes
// them. A name that is no batch option is refused, naming `where`.
std::map<std::string, std::string> BatchOptionTexts(const Json& rest, const std::string& where);

// A whole batch from one JSON object of run options and batch options, as a
// plan file holds it.
BatchSettings BatchSettingsFromJson(const Json& object);

}  // namespace torvik::tester
