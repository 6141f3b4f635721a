// The summary of a batch: summary.csv and summary.json (one row per run:
// its inputs, every figure, its rank by the criterion, or its failure),
// summary.html (a sortable table and a heatmap of a figure over two inputs),
// and for a walk-forward walk_forward.csv and the out-of-sample trades and
// equity joined. All of it is a function of the settings and the records in
// plan order, so it comes out byte-identical however the runs were made.
#pragma once

#include <string>
#include <vector>

#include "tester/batch/batch.h"

namespace torvik::tester {

struct SummaryFile {
    std::string name;  // relative to the batch folder
    std::string text;
};

// The summary as JSON: what summary.json holds, and what the other texts
// are made from.
Json SummaryJson(const BatchSettings& settings, const BatchOutcome& outcome);
std::string SummaryCsv(const Json& summary);
std::string SummaryHtml(const Json& summary);
// What the console shows at the end.
std::string SummaryConsole(const Json& summary);
// Every file of the summary (`summary` is SummaryJson's answer).
std::vector<SummaryFile> SummaryFiles(const BatchSettings& settings, const BatchOutcome& outcome, const Json& summary);

// The summary page's template (summary.html with its script), built in.
std::string_view SummaryPageTemplate();

}  // namespace torvik::tester
