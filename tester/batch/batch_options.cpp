#include "tester/batch/batch_options.h"

#include <algorithm>
#include <charconv>

#include <fmt/format.h>

#include "tester/run/options.h"

namespace torvik::tester {

namespace {

// More runs in one generation than this is a typing mistake.
constexpr uint64_t MaxPopulation = 100000;

uint64_t Count(const std::string& name, const std::string& text, uint64_t least)
{
    uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < least) {
        throw OptionError(name, fmt::format("\"{}\" is not a whole number of {} or more", text, least));
    }
    return value;
}

Period PeriodOption(const std::string& name, const std::string& text)
{
    const std::optional<Period> p = ParsePeriod(text);
    if (!p) {
        throw OptionError(name, fmt::format("\"{}\": expected a count and d, w, mo or y (\"12mo\", \"3mo\")", text));
    }
    return *p;
}

bool Flag(const std::string& name, const std::string& text)
{
    if (text == "true" || text == "1") return true;
    if (text == "false" || text == "0") return false;
    throw OptionError(name, fmt::format("\"{}\" is neither true nor false", text));
}

}  // namespace

BatchSettings MakeBatchSettings(Plan plan, const std::map<std::string, std::string>& options)
{
    BatchSettings s;
    s.plan = std::move(plan);
    const auto text = [&](const char* name) -> const std::string* {
        const auto it = options.find(name);
        return it != options.end() ? &it->second : nullptr;
    };
    if (const std::string* t = text("criterion")) {
        const std::optional<Criterion> c = ParseCriterion(*t);
        if (!c) {
            throw OptionError("criterion", fmt::format("\"{}\" is none of balance, profit-factor, expected-payoff, "
                                                       "drawdown, recovery, sharpe",
                                                       *t));
        }
        s.criterion = *c;
    }
    if (const std::string* t = text("search")) {
        if (*t != "complete" && *t != "genetic") {
            throw OptionError("search", fmt::format("\"{}\" is neither complete nor genetic", *t));
        }
        s.search = *t == "genetic" ? Search::Genetic : Search::Complete;
    }
    if (const std::string* t = text("search-seed")) s.genetic.seed = Count("search-seed", *t, 0);
    if (const std::string* t = text("passes")) s.genetic.passes = Count("passes", *t, 1);
    if (const std::string* t = text("population")) {
        s.genetic.population = static_cast<uint32_t>(std::min(Count("population", *t, 2), MaxPopulation));
    }
    const std::string* in = text("in-sample");
    const std::string* out = text("out-of-sample");
    if ((in == nullptr) != (out == nullptr)) {
        throw OptionError(in == nullptr ? "in-sample" : "out-of-sample",
                          "a walk-forward needs both --in-sample and --out-of-sample");
    }
    if (in != nullptr) {
        s.walkForward = WalkForwardSettings{PeriodOption("in-sample", *in), PeriodOption("out-of-sample", *out)};
    }
    if (const std::string* t = text("run-reports")) s.runReports = Flag("run-reports", *t);
    return s;
}

std::map<std::string, std::string> BatchOptionTexts(const Json& rest, const std::string& where)
{
    std::map<std::string, std::string> texts;
    for (const auto& [name, value] : rest.items()) {
        if (std::find(BatchOptionNames.begin(), BatchOptionNames.end(), name) == BatchOptionNames.end()) {
            throw OptionError("plan", fmt::format("{}: \"{}\" is not an option of a plan", where, name));
        }
        texts[name] = value.is_string()    ? value.get<std::string>()
                      : value.is_boolean() ? std::string(value.get<bool>() ? "true" : "false")
                                           : value.dump();
    }
    return texts;
}

BatchSettings BatchSettingsFromJson(const Json& object)
{
    Json rest;
    Plan plan = PlanFromJson(object, rest);
    return MakeBatchSettings(std::move(plan), BatchOptionTexts(rest, "the plan"));
}

}  // namespace torvik::tester
