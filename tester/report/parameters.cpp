// The run's inputs as the report lists them: every option of the run's
// table, so that an option added to the table is listed without more code,
// with what the data told around them.
#include <map>
#include <string_view>

#include <fmt/format.h>

#include "tester/data/bar_time.h"
#include "tester/report/report_parts.h"
#include "tester/run/options.h"

namespace torvik::tester {

namespace {

constexpr const char* OtherGroup = "Other inputs";
constexpr const char* GroupOrder[] = {"Data", "Symbol", "Model", "Account and costs", "Sizing", OtherGroup};

// Where an option is listed; an option not named here goes to "Other inputs".
const std::map<std::string_view, const char*>& OptionGroups()
{
    static const std::map<std::string_view, const char*> groups = {
        {"bars", "Data"},          {"timeframe", "Data"},       {"from", "Data"},
        {"to", "Data"},            {"equity", "Data"},          {"symbol", "Symbol"},
        {"digits", "Symbol"},      {"pip-mode", "Symbol"},      {"contract-size", "Symbol"},
        {"base", "Symbol"},        {"quote", "Symbol"},         {"conversion-rate", "Symbol"},
        {"model", "Model"},        {"decide", "Model"},         {"window", "Model"},
        {"deposit", "Account and costs"}, {"currency", "Account and costs"},
        {"leverage", "Account and costs"}, {"stop-out", "Account and costs"},
        {"spread", "Account and costs"},  {"max-positions", "Sizing"},
        {"fixed-lot", "Sizing"},   {"risk", "Sizing"},          {"risk-multiplier", "Sizing"},
        {"min-lot", "Sizing"},     {"max-lot", "Sizing"},       {"lot-step", "Sizing"},
        {"risk-split", "Sizing"},
    };
    return groups;
}

// Options that do not change the test: where the report goes, the console,
// and the form of the decisions, which must trade exactly alike.
bool ChangesNothing(std::string_view name) { return name == "report" || name == "quiet" || name == "signals"; }

// Letters 1-3 or 4-6 of a six-letter symbol, as the run takes them.
std::string SymbolPart(const std::string& symbol, size_t from)
{
    if (symbol.size() < 6) return "none";
    for (size_t i = 0; i < 6; ++i) {
        const char c = symbol[i];
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return "none";
    }
    std::string part = symbol.substr(from, 3);
    for (char& c : part) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    return part + " (from the symbol)";
}

// What the data made of an option without a fixed default, when not given.
std::string Resolved(std::string_view name, const TestRun& run)
{
    const TestSettings& s = run.settings;
    if (name == "symbol") return s.symbol + " (from the file name)";
    if (name == "timeframe") return TimeframeName(ChartTimeframe(run)) + (run.info.IsTicks() ? " (for ticks)" : " (the file's)");
    if (name == "model") return std::string(ModelName(s.model)) + " (for this data and chart)";
    if (name == "digits") return fmt::format("{} (from the file)", s.digits);
    if (name == "pip-mode") return fmt::format("{} (from the digits)", s.pipMode);
    if (name == "spread") return fmt::format("the data's where it has one, else {} points", s.spreadPoints);
    if (name == "base") return SymbolPart(s.symbol, 0);
    if (name == "quote") return SymbolPart(s.symbol, 3);
    if (name == "from") return "the first bar with a full window";
    if (name == "to") return "the end of the data";
    return "none";
}

}  // namespace

std::vector<TextGroup> ParameterGroups(const TestRun& run)
{
    const TestSettings& s = run.settings;
    const RunOutcome& r = run.outcome;
    std::vector<TextGroup> groups;
    for (const char* name : GroupOrder) groups.push_back(TextGroup{name, {}});
    const auto rows = [&groups](std::string_view group) -> std::vector<std::pair<std::string, std::string>>& {
        for (TextGroup& g : groups) {
            if (g.group == group) return g.rows;
        }
        return groups.back().rows;
    };

    for (const OptionSpec& o : RunOptions()) {
        if (ChangesNothing(o.name)) continue;
        const auto group = OptionGroups().find(o.name);
        std::string text;
        if (const auto given = run.given.find(o.name); given != run.given.end()) {
            text = given->second;
        } else if (o.defaultText != nullptr) {
            text = std::string(o.defaultText) + " (default)";
        } else {
            text = Resolved(o.name, run);
        }
        rows(group == OptionGroups().end() ? OtherGroup : group->second)
            .emplace_back(std::string("--") + o.name, std::move(text));
    }

    // What the data and the run told.
    rows("Data").emplace_back("Format", FormatName(run.info.format));
    rows("Data").emplace_back("Rows in the file", fmt::format("{}", run.info.rows));
    rows("Data").emplace_back("File timeframe",
                              run.info.IsTicks() ? std::string("ticks") : TimeframeName(run.info.timeframeSeconds));
    rows("Data").emplace_back("Tested chart bars", fmt::format("{} - {} ({} bars)", FormatBarTime(r.firstBarTime),
                                                              FormatBarTime(r.lastBarTime), r.quality.chartBars));
    rows("Symbol").emplace_back("Point", Price(s.point, s.digits));
    rows("Symbol").emplace_back("Profit conversion",
                                s.conversion == Conversion::FixedRate
                                    ? fmt::format("{} at {}", ConversionName(s.conversion), s.conversionRate)
                                    : std::string(ConversionName(s.conversion)));
    rows("Model").emplace_back("Modelling quality", QualityText(run));

    std::erase_if(groups, [](const TextGroup& g) { return g.rows.empty(); });
    return groups;
}

}  // namespace torvik::tester
