#include "tester/batch/summary.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <set>
#include <tuple>

#include <fmt/format.h>

#include "tester/data/bar_time.h"
#include "tester/run/options.h"

namespace torvik::tester {

namespace {

constexpr int SummaryVersion = 1;
constexpr const char* PagePlaceholder = "/*@SUMMARY_DATA@*/";
constexpr double SecondsPerDay = 86400.0;
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
// Failures the console names one by one; the summary has every one.
constexpr uint64_t MaxListedFailures = 20;

Json Number(double x) { return std::isfinite(x) ? Json(x) : Json(nullptr); }

// Figures as flat names: a run of trades is "name.count" and "name.money".
// Series (the monthly returns, the histogram) stay in run.json: a summary
// row holds one value per figure.
void Flatten(const Json& j, const std::string& prefix, std::vector<std::pair<std::string, Json>>& out)
{
    for (const auto& [key, value] : j.items()) {
        const std::string name = prefix.empty() ? key : prefix + "." + key;
        if (value.is_object()) {
            Flatten(value, name, out);
        } else if (!value.is_array()) {
            out.emplace_back(name, value);
        }
    }
}

// A figure as report.json has it (rounded as it rounds it).
Json FigureJson(const RunRecord& r, const char* name)
{
    return r.ok && r.report.contains("figures") ? r.report["figures"].value(name, Json(nullptr)) : Json(nullptr);
}

std::vector<std::pair<std::string, Json>> FlatFigures(const RunRecord& r)
{
    std::vector<std::pair<std::string, Json>> out;
    if (r.ok && r.report.contains("figures")) Flatten(r.report["figures"], "", out);
    return out;
}

// The columns of the runs: their options in the table's order.
std::vector<std::string> InputNames(const BatchOutcome& o)
{
    std::set<std::string> used;
    for (const RunRecord& r : o.records) {
        for (const auto& [name, text] : r.request.options) used.insert(name);
    }
    std::vector<std::string> names;
    for (const OptionEntry& entry : RunOptions()) {
        if (used.count(entry.name) != 0) names.emplace_back(entry.name);
    }
    return names;
}

std::vector<std::string> VaryingNames(const BatchSettings& s)
{
    std::vector<std::string> names;
    if (s.plan.bars.size() > 1) names.emplace_back("bars");
    for (const PlanAxis* a : s.plan.Varying()) names.push_back(a->name);
    return names;
}

std::vector<std::string> FigureNames(const BatchOutcome& o)
{
    std::vector<std::string> names;
    std::set<std::string> seen;
    for (const RunRecord& r : o.records) {
        for (const auto& [name, value] : FlatFigures(r)) {
            if (seen.insert(name).second) names.push_back(name);
        }
    }
    return names;
}

// Runs ranked together: those of one bars entry, or of one walk-forward
// window's in-sample search. Out-of-sample runs are not ranked.
using Group = std::tuple<uint32_t, int32_t>;

std::map<uint64_t, uint32_t> RankRuns(const BatchSettings& s, const BatchOutcome& o)
{
    std::map<Group, std::vector<const RunRecord*>> groups;
    for (const RunRecord& r : o.records) {
        if (!r.request.outOfSample) groups[{r.request.entry, r.request.window}].push_back(&r);
    }
    std::map<uint64_t, uint32_t> ranks;
    for (const auto& [group, records] : groups) {
        std::vector<double> values;
        for (const RunRecord* r : records) values.push_back(r->ok ? r->Criterion(s.criterion) : NaN);
        const std::vector<uint32_t> rank = Ranks(s.criterion, values);
        for (size_t i = 0; i < records.size(); ++i) ranks[records[i]->request.index] = rank[i];
    }
    return ranks;
}

Json InputsJson(const RunRecord& r, const std::vector<std::string>& names)
{
    Json j = Json::object();
    for (const std::string& name : names) {
        const std::string* text = r.request.Option(name);
        j[name] = text != nullptr ? Json(*text) : Json(nullptr);
    }
    return j;
}

std::string Label(const BatchSettings& s, uint32_t entry) { return s.plan.bars.at(entry); }

double Days(uint32_t from, uint32_t to) { return static_cast<double>(to - from) / SecondsPerDay; }

// A file name from a bars entry: its last path part, without the extension.
std::string Stem(const std::string& entry)
{
    std::string name = entry.substr(entry.find_last_of('/') + 1);
    name = name.substr(0, name.find('.'));
    for (char& c : name) {
        const bool plain =
            (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
        if (!plain) c = '_';
    }
    return name;
}

std::string SeriesFolder(const BatchSettings& s, uint32_t entry)
{
    return fmt::format("oos/{}-{}", entry, Stem(Label(s, entry)));
}

Json WalkForwardJson(const BatchSettings& s, const BatchOutcome& o)
{
    const std::vector<std::string> varying = VaryingNames(s);
    Json entries = Json::array();
    for (const WalkForwardEntry& e : o.walkForward) {
        Json windows = Json::array();
        double outNet = 0.0, outDays = 0.0, inNet = 0.0, inDays = 0.0;
        for (size_t w = 0; w < e.windows.size(); ++w) {
            const WalkForwardWindow& win = e.windows[w];
            Json j{{"window", w},
                   {"in_sample", Json::array({FormatBarDate(win.period.inFrom), FormatBarDate(win.period.inTo - 1)})},
                   {"out_of_sample",
                    Json::array({FormatBarDate(win.period.outFrom), FormatBarDate(win.period.outTo - 1)})}};
            const RunRecord* chosen = win.chosen ? o.Find(*win.chosen) : nullptr;
            const RunRecord* out = win.outOfSample ? o.Find(*win.outOfSample) : nullptr;
            double efficiency = NaN;
            if (chosen != nullptr) {
                j["chosen"] = Json{{"index", chosen->request.index},
                                   {"id", chosen->request.id},
                                   {"inputs", InputsJson(*chosen, varying)},
                                   {"value", Number(chosen->Criterion(s.criterion))},
                                   {"net_profit", FigureJson(*chosen, "total_net_profit")}};
            }
            if (out != nullptr) {
                Json oj{{"index", out->request.index}, {"id", out->request.id}, {"status", out->ok ? "ok" : "failed"}};
                if (out->ok) {
                    oj["net_profit"] = FigureJson(*out, "total_net_profit");
                    oj["value"] = Number(out->Criterion(s.criterion));
                    oj["trades"] = FigureJson(*out, "total_trades");
                    oj["maximal_drawdown"] = FigureJson(*out, "maximal_drawdown");
                } else {
                    oj["message"] = out->message;
                }
                j["out"] = oj;
                if (out->ok && chosen != nullptr) {
                    const double on = out->Figure("total_net_profit");
                    const double in = chosen->Figure("total_net_profit");
                    const double od = Days(win.period.outFrom, win.period.outTo);
                    const double id = Days(win.period.inFrom, win.period.inTo);
                    efficiency = WalkForwardEfficiency(on, od, in, id);
                    outNet += on;
                    outDays += od;
                    inNet += in;
                    inDays += id;
                }
            }
            j["efficiency"] = Number(efficiency);
            if (!win.message.empty()) j["message"] = win.message;
            windows.push_back(j);
        }
        Json ej{{"entry", e.entry},
                {"bars", Label(s, e.entry)},
                {"in_sample", PeriodText(s.walkForward->inSample)},
                {"out_of_sample", PeriodText(s.walkForward->outOfSample)},
                {"windows", windows},
                {"in_sample_net_profit", std::round(inNet * 100.0) / 100.0},
                {"out_of_sample_net_profit", std::round(outNet * 100.0) / 100.0},
                {"efficiency", Number(WalkForwardEfficiency(outNet, outDays, inNet, inDays))},
                {"files", Json{{"trades", SeriesFolder(s, e.entry) + "/trades.csv"},
                               {"equity", SeriesFolder(s, e.entry) + "/equity.csv"}}}};
        if (!e.message.empty()) ej["message"] = e.message;
        entries.push_back(ej);
    }
    return entries;
}

std::string CsvField(const std::string& text)
{
    if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string CsvValue(const Json& v)
{
    if (v.is_null()) return "";
    if (v.is_string()) return CsvField(v.get<std::string>());
    return v.dump();
}

// A console line: the label in a column of its own, as the single run's
// summary has it, and a long label still apart from its value.
std::string Labelled(const std::string& label)
{
    constexpr size_t Column = 44;
    return label.size() < Column ? label + std::string(Column - label.size(), ' ') : label + "  ";
}

// A criterion's value or an efficiency in a CSV: four decimals.
std::string ValueText(const Json& v) { return v.is_number() ? fmt::format("{:.4f}", v.get<double>()) : ""; }

std::string CsvLine(const std::vector<std::string>& fields)
{
    std::string line;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) line += ',';
        line += fields[i];
    }
    return line + "\n";
}

std::string WalkForwardCsv(const Json& summary)
{
    const std::vector<std::string> varying = summary["varying"].get<std::vector<std::string>>();
    std::vector<std::string> header = {
        "entry",    "bars", "wf_window", "in_sample_from", "in_sample_to", "out_of_sample_from", "out_of_sample_to",
        "chosen_id"};
    header.insert(header.end(), varying.begin(), varying.end());
    for (const char* name :
         {"in_sample_value", "in_sample_net_profit", "out_of_sample_id", "out_of_sample_net_profit",
          "out_of_sample_value", "out_of_sample_trades", "out_of_sample_maximal_drawdown", "efficiency", "message"}) {
        header.emplace_back(name);
    }
    std::string csv = CsvLine(header);
    for (const Json& e : summary["walk_forward"]) {
        for (const Json& w : e["windows"]) {
            std::vector<std::string> f = {e["entry"].dump(), CsvField(e["bars"].get<std::string>()),
                                          w["window"].dump()};
            for (const char* period : {"in_sample", "out_of_sample"}) {
                for (const Json& time : w[period]) f.push_back(time.get<std::string>());
            }
            const Json none;
            const Json& chosen = w.contains("chosen") ? w["chosen"] : none;
            const Json& out = w.contains("out") ? w["out"] : none;
            const auto field = [](const Json& j, const char* key) {
                return j.is_object() && j.contains(key) ? CsvValue(j[key]) : std::string();
            };
            f.push_back(field(chosen, "id"));
            for (const std::string& name : varying) {
                f.push_back(chosen.is_object() ? CsvValue(chosen["inputs"][name]) : std::string());
            }
            f.push_back(chosen.is_object() ? ValueText(chosen["value"]) : std::string());
            f.push_back(field(chosen, "net_profit"));
            for (const char* key : {"id", "net_profit", "value", "trades", "maximal_drawdown"}) {
                f.push_back(std::string_view(key) == "value" && out.is_object() && out.contains(key)
                                ? ValueText(out[key])
                                : field(out, key));
            }
            f.push_back(ValueText(w["efficiency"]));
            std::string message = w.value("message", std::string());
            if (out.is_object() && out.contains("message")) message = out["message"].get<std::string>();
            f.push_back(CsvField(message));
            csv += CsvLine(f);
        }
    }
    return csv;
}

}  // namespace

Json SummaryJson(const BatchSettings& s, const BatchOutcome& o)
{
    const std::vector<std::string> inputs = InputNames(o);
    const std::vector<std::string> figures = FigureNames(o);
    const std::map<uint64_t, uint32_t> ranks = RankRuns(s, o);
    Json rows = Json::array();
    uint64_t failed = 0;
    std::map<Group, const RunRecord*> best;
    for (const RunRecord& r : o.records) {
        Json row{{"index", r.request.index}, {"id", r.request.id}, {"entry", r.request.entry}};
        if (r.request.window >= 0) {
            row["window"] = r.request.window;
            row["sample"] = r.request.outOfSample ? "out" : "in";
        }
        row["inputs"] = InputsJson(r, inputs);
        row["status"] = r.ok ? "ok" : "failed";
        const auto rank = ranks.find(r.request.index);
        row["rank"] = rank != ranks.end() ? Json(rank->second) : Json(nullptr);
        if (rank != ranks.end() && rank->second == 1 && r.ok) best[{r.request.entry, r.request.window}] = &r;
        if (r.ok) {
            row["value"] = Number(r.Criterion(s.criterion));
            Json f = Json::object();
            for (const auto& [name, value] : FlatFigures(r)) f[name] = value;
            row["figures"] = f;
        } else {
            ++failed;
            row["message"] = r.message;
        }
        rows.push_back(row);
    }
    Json bestJson = Json::array();
    for (const auto& [group, r] : best) {
        if (std::get<1>(group) >= 0) continue;  // a walk-forward window's choice is listed with the window
        bestJson.push_back(Json{{"entry", r->request.entry},
                                {"bars", Label(s, r->request.entry)},
                                {"index", r->request.index},
                                {"id", r->request.id},
                                {"inputs", InputsJson(*r, VaryingNames(s))},
                                {"value", Number(r->Criterion(s.criterion))}});
    }
    Json j{{"version", SummaryVersion},
           {"batch", BatchIdentity(s)},
           {"criterion", CriterionName(s.criterion)},
           {"criterion_label", CriterionLabel(s.criterion)},
           {"lower_is_better", LowerIsBetter(s.criterion)},
           {"runs", o.records.size()},
           {"failed", failed},
           {"inputs", inputs},
           {"varying", VaryingNames(s)},
           {"figures", figures},
           {"best", bestJson}};
    if (!o.searches.empty() && s.search == Search::Genetic) {
        Json searches = Json::array();
        for (const SearchReport& r : o.searches) {
            Json sj{{"entry", r.entry}, {"bars", Label(s, r.entry)}};
            if (r.window >= 0) sj["window"] = r.window;
            sj["grid"] = r.gridSize;
            sj["passes"] = r.passes;
            sj["generations"] = r.generations;
            sj["ended"] = SearchEndText(r.end);
            searches.push_back(sj);
        }
        j["searches"] = searches;
    }
    if (s.walkForward) j["walk_forward"] = WalkForwardJson(s, o);
    j["rows"] = rows;
    return j;
}

std::string SummaryCsv(const Json& summary)
{
    const bool walkForward = summary.contains("walk_forward");
    std::vector<std::string> header = {"index", "id"};
    if (walkForward) {
        header.emplace_back("wf_window");
        header.emplace_back("sample");
    }
    for (const Json& name : summary["inputs"]) header.push_back(name.get<std::string>());
    header.emplace_back("status");
    header.emplace_back("rank");
    header.push_back(summary["criterion"].get<std::string>());
    for (const Json& name : summary["figures"]) header.push_back(name.get<std::string>());
    header.emplace_back("message");
    std::string csv = CsvLine(header);
    for (const Json& row : summary["rows"]) {
        std::vector<std::string> f = {row["index"].dump(), row["id"].get<std::string>()};
        if (walkForward) {
            f.push_back(row.contains("window") ? row["window"].dump() : std::string());
            f.push_back(row.contains("sample") ? row["sample"].get<std::string>() : std::string());
        }
        for (const Json& name : summary["inputs"]) f.push_back(CsvValue(row["inputs"][name.get<std::string>()]));
        f.push_back(row["status"].get<std::string>());
        f.push_back(CsvValue(row["rank"]));
        f.push_back(row.contains("value") ? ValueText(row["value"]) : std::string());
        for (const Json& name : summary["figures"]) {
            const std::string key = name.get<std::string>();
            f.push_back(row.contains("figures") && row["figures"].contains(key) ? CsvValue(row["figures"][key])
                                                                                : std::string());
        }
        f.push_back(CsvField(row.value("message", std::string())));
        csv += CsvLine(f);
    }
    return csv;
}

std::string SummaryHtml(const Json& summary)
{
    std::string data = "window.TORVIK_BATCH = " + summary.dump(-1, ' ', false, Json::error_handler_t::replace) + ";";
    // Inline in a script element: nothing in the data may close it.
    for (size_t at = data.find("</"); at != std::string::npos; at = data.find("</", at + 3))
        data.replace(at, 2, "<\\/");
    std::string page(SummaryPageTemplate());
    const size_t at = page.find(PagePlaceholder);
    page.replace(at, std::string_view(PagePlaceholder).size(), data);
    return page;
}

std::vector<SummaryFile> SummaryFiles(const BatchSettings& s, const BatchOutcome& o, const Json& summary)
{
    std::vector<SummaryFile> files = {
        {"summary.csv", SummaryCsv(summary)},
        {"summary.json", summary.dump(2, ' ', false, Json::error_handler_t::replace) + "\n"},
        {"summary.html", SummaryHtml(summary)},
    };
    if (s.walkForward) {
        files.push_back({"walk_forward.csv", WalkForwardCsv(summary)});
        for (const WalkForwardEntry& e : o.walkForward) {
            std::vector<const RunRecord*> runs;
            for (const WalkForwardWindow& w : e.windows) {
                const RunRecord* r = w.outOfSample ? o.Find(*w.outOfSample) : nullptr;
                if (r != nullptr && r->ok) runs.push_back(r);
            }
            const StitchedSeries series = StitchSeries(runs);
            files.push_back({SeriesFolder(s, e.entry) + "/trades.csv", series.trades});
            files.push_back({SeriesFolder(s, e.entry) + "/equity.csv", series.equity});
        }
    }
    return files;
}

std::string SummaryConsole(const Json& summary)
{
    const std::string label = summary["criterion_label"].get<std::string>();
    std::string text = fmt::format("{}{} ({} failed)\n", Labelled("Runs"), summary["runs"].get<uint64_t>(),
                                   summary["failed"].get<uint64_t>());
    text += fmt::format("{}{} ({}, {} is better)\n", Labelled("Ranked by"), summary["criterion"].get<std::string>(),
                        label, summary["lower_is_better"].get<bool>() ? "lower" : "higher");
    const std::vector<std::string> varying = summary["varying"].get<std::vector<std::string>>();
    const auto inputsText = [&](const Json& inputs) {
        std::string t;
        for (const std::string& name : varying) {
            if (name == "bars" || !inputs.contains(name)) continue;
            t += fmt::format("{}{} {}", t.empty() ? "" : ", ", name, CsvValue(inputs[name]));
        }
        return t.empty() ? std::string("the plan's inputs") : t;
    };
    for (const Json& b : summary["best"]) {
        text += fmt::format("{}{}: {} ({} {})\n", Labelled("Best on " + b["bars"].get<std::string>()),
                            b["id"].get<std::string>(), inputsText(b["inputs"]), label,
                            b["value"].is_number() ? fmt::format("{:.4f}", b["value"].get<double>()) : "n/a");
    }
    if (summary.contains("searches")) {
        for (const Json& g : summary["searches"]) {
            const std::string where = g.contains("window") ? fmt::format("{} window {}", g["bars"].get<std::string>(),
                                                                         g["window"].get<int>() + 1)
                                                           : g["bars"].get<std::string>();
            text +=
                fmt::format("{}{} passes of a grid of {} in {} generations; ended: {}\n",
                            Labelled("Genetic search on " + where), g["passes"].get<uint64_t>(),
                            g["grid"].get<uint64_t>(), g["generations"].get<uint64_t>(), g["ended"].get<std::string>());
        }
    }
    if (summary.contains("walk_forward")) {
        for (const Json& e : summary["walk_forward"]) {
            const std::string label = fmt::format("Walk-forward on {}", e["bars"].get<std::string>());
            if (e.contains("message")) {
                text += Labelled(label) + e["message"].get<std::string>() + "\n";
                continue;
            }
            const Json& eff = e["efficiency"];
            text += fmt::format("{}{} windows, out-of-sample net profit {:.2f}, efficiency {}\n", Labelled(label),
                                e["windows"].size(), e["out_of_sample_net_profit"].get<double>(),
                                eff.is_number() ? fmt::format("{:.2f}", eff.get<double>()) : "n/a");
            for (const Json& w : e["windows"]) {
                std::string line =
                    fmt::format("  {:>3}  in {} - {}  out {} - {}  ", w["window"].get<int>() + 1,
                                w["in_sample"][0].get<std::string>(), w["in_sample"][1].get<std::string>(),
                                w["out_of_sample"][0].get<std::string>(), w["out_of_sample"][1].get<std::string>());
                if (w.contains("chosen") && w.contains("out") && w["out"]["status"] == "ok") {
                    line += fmt::format("{}: out-of-sample net profit {:.2f}", inputsText(w["chosen"]["inputs"]),
                                        w["out"]["net_profit"].get<double>());
                } else if (w.contains("out")) {
                    line += w["out"].value("message", std::string());
                } else {
                    line += w.value("message", std::string());
                }
                text += line + "\n";
            }
        }
    }
    uint64_t listed = 0;
    for (const Json& row : summary["rows"]) {
        if (row["status"] == "failed" && listed++ < MaxListedFailures) {
            text += Labelled("Failed " + row["id"].get<std::string>()) + row["message"].get<std::string>() + "\n";
        }
    }
    if (listed > MaxListedFailures) {
        text += fmt::format("{}{} more (the summary lists them all)\n", Labelled("Failed"), listed - MaxListedFailures);
    }
    return text;
}

}  // namespace torvik::tester
