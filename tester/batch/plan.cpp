#include "tester/batch/plan.h"

#include <algorithm>
#include <limits>
#include <optional>

#include <fmt/format.h>

#include "tester/batch/split.h"
#include "tester/run/options.h"

namespace torvik::tester {

namespace {

// More values than this on one axis is a typing mistake, not a plan.
constexpr uint64_t MaxAxisValues = 100000;
// Digits of a range's numbers, so that their scaled values fit 64 bits.
constexpr size_t MaxRangeDigits = 15;

// Options that belong to the batch, not to its runs.
bool IsBatchLevel(std::string_view name) { return name == "report" || name == "quiet"; }

size_t TablePosition(std::string_view name)
{
    const std::vector<OptionEntry>& table = RunOptions();
    for (size_t i = 0; i < table.size(); ++i) {
        if (name == table[i].name) return i;
    }
    return table.size();
}

void CheckRunOption(const std::string& name)
{
    if (TablePosition(name) == RunOptions().size() || IsBatchLevel(name)) {
        throw OptionError(name, "is not an option of a run");
    }
}

std::vector<std::string> SplitList(const std::string& name, const std::string& text)
{
    std::vector<std::string> out;
    for (const std::string_view item : SplitText(text, ',')) {
        if (item.empty()) throw OptionError(name, fmt::format("\"{}\" has an empty value", text));
        out.emplace_back(item);
    }
    return out;
}

// A decimal number as written: optional minus, digits, optional fraction.
struct Decimal {
    bool negative = false;
    std::string whole;
    std::string fraction;
};

bool ParseDecimal(std::string_view s, Decimal& d)
{
    size_t i = 0;
    if (i < s.size() && s[i] == '-') {
        d.negative = true;
        ++i;
    }
    const size_t wholeStart = i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    d.whole = std::string(s.substr(wholeStart, i - wholeStart));
    if (d.whole.empty()) return false;
    if (i < s.size() && s[i] == '.') {
        const size_t fractionStart = ++i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
        d.fraction = std::string(s.substr(fractionStart, i - fractionStart));
        if (d.fraction.empty()) return false;
    }
    return i == s.size();
}

// The number times 10^decimals, exactly.
int64_t Scaled(const Decimal& d, size_t decimals)
{
    std::string digits = d.whole + d.fraction + std::string(decimals - d.fraction.size(), '0');
    int64_t value = 0;
    for (const char c : digits) value = value * 10 + (c - '0');
    return d.negative ? -value : value;
}

std::string Unscaled(int64_t value, size_t decimals)
{
    const bool negative = value < 0;
    // Magnitudes stay below 10^15: negation cannot overflow.
    std::string digits = std::to_string(negative ? -value : value);
    if (decimals > 0) {
        if (digits.size() <= decimals) digits = std::string(decimals + 1 - digits.size(), '0') + digits;
        const size_t point = digits.size() - decimals;
        digits = digits.substr(0, point) + "." + digits.substr(point);
    }
    return negative ? "-" + digits : digits;
}

// FIRST:LAST:STEP, or nothing when the text is not three numbers between
// colons (a time, or a pair such as the slippage's A:B, is a value).
std::optional<std::vector<std::string>> ExpandRange(const std::string& name, const std::string& text)
{
    if (text.find(':') == std::string::npos) return std::nullopt;
    std::vector<Decimal> parts;
    size_t start = 0;
    while (true) {
        const size_t colon = text.find(':', start);
        Decimal d;
        if (!ParseDecimal(
                std::string_view(text).substr(start, colon == std::string::npos ? std::string::npos : colon - start),
                d)) {
            return std::nullopt;  // a time ("2024.01.01 10:00") or another text with a colon
        }
        parts.push_back(d);
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    if (parts.size() != 3) return std::nullopt;
    size_t decimals = 0;
    for (const Decimal& d : parts) {
        decimals = std::max(decimals, d.fraction.size());
        if (d.whole.size() + d.fraction.size() > MaxRangeDigits) {
            throw OptionError(name, fmt::format("\"{}\": too many digits for a range", text));
        }
    }
    for (const Decimal& d : parts) {
        if (d.whole.size() + decimals > MaxRangeDigits) {
            throw OptionError(name, fmt::format("\"{}\": too many digits for a range", text));
        }
    }
    const int64_t first = Scaled(parts[0], decimals);
    const int64_t last = Scaled(parts[1], decimals);
    const int64_t step = Scaled(parts[2], decimals);
    // The values are first + k x step: they have the decimals of those two
    // (the last one only bounds them), which divide exactly.
    const size_t shown = std::max(parts[0].fraction.size(), parts[2].fraction.size());
    int64_t unit = 1;
    for (size_t i = shown; i < decimals; ++i) unit *= 10;
    if (step <= 0) throw OptionError(name, fmt::format("\"{}\": the step must be above 0", text));
    if (last < first) throw OptionError(name, fmt::format("\"{}\": the last value is below the first", text));
    const uint64_t count = static_cast<uint64_t>((last - first) / step) + 1;
    if (count > MaxAxisValues) {
        throw OptionError(name,
                          fmt::format("\"{}\" gives {} values; at most {} on one option", text, count, MaxAxisValues));
    }
    std::vector<std::string> values;
    for (uint64_t k = 0; k < count; ++k) {
        values.push_back(Unscaled((first + static_cast<int64_t>(k) * step) / unit, shown));
    }
    return values;
}

std::string JsonValueText(const std::string& name, const Json& v)
{
    if (v.is_string()) return v.get<std::string>();
    if (v.is_number_integer()) return v.dump();
    if (v.is_number_float()) return fmt::format("{}", v.get<double>());
    if (v.is_boolean()) return v.get<bool>() ? "true" : "false";
    throw OptionError(name, fmt::format("{} is not a value; give a text, a number, a list or a range text", v.dump()));
}

uint64_t Fnv1a(std::string_view text, uint64_t hash)
{
    constexpr uint64_t Prime = 0x100000001b3ull;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= Prime;  // unsigned: wraps by design
    }
    return hash;
}

}  // namespace

uint64_t Plan::GridSize() const
{
    uint64_t size = 1;
    for (const PlanAxis& axis : axes) {
        const uint64_t n = axis.values.size();
        if (n != 0 && size > std::numeric_limits<uint64_t>::max() / n) {
            throw TesterError("the plan has more runs than can be counted");
        }
        size *= n;
    }
    return size;
}

std::vector<const PlanAxis*> Plan::Varying() const
{
    std::vector<const PlanAxis*> out;
    for (const PlanAxis& axis : axes) {
        if (axis.values.size() > 1) out.push_back(&axis);
    }
    return out;
}

std::vector<std::string> ExpandValues(const std::string& name, const std::string& text)
{
    std::vector<std::string> values;
    for (const std::string& item : SplitList(name, text)) {
        if (std::optional<std::vector<std::string>> range = ExpandRange(name, item)) {
            values.insert(values.end(), range->begin(), range->end());
        } else {
            values.push_back(item);
        }
        if (values.size() > MaxAxisValues) {
            throw OptionError(name, fmt::format("more than {} values on one option", MaxAxisValues));
        }
    }
    return values;
}

void AddToPlan(Plan& plan, const std::string& name, const std::string& text)
{
    CheckRunOption(name);
    if (name == "bars") {
        for (std::string& entry : SplitList(name, text)) {
            for (const std::string& file : PortfolioFiles(entry)) {
                if (file.empty()) throw OptionError(name, fmt::format("\"{}\" has an empty file name", entry));
            }
            plan.bars.push_back(std::move(entry));
        }
        return;
    }
    std::vector<std::string> values = ExpandValues(name, text);
    const size_t position = TablePosition(name);
    auto it = std::find_if(plan.axes.begin(), plan.axes.end(), [&](const PlanAxis& a) { return a.name == name; });
    if (it == plan.axes.end()) {
        it = std::find_if(plan.axes.begin(), plan.axes.end(),
                          [&](const PlanAxis& a) { return TablePosition(a.name) > position; });
        it = plan.axes.insert(it, PlanAxis{name, {}});
    }
    it->values.insert(it->values.end(), values.begin(), values.end());
}

Plan PlanFromJson(const Json& object, Json& rest)
{
    if (!object.is_object()) throw TesterError("a plan file holds one JSON object of option names and values");
    Plan plan;
    rest = Json::object();
    for (const auto& [name, value] : object.items()) {
        if (TablePosition(name) == RunOptions().size() || IsBatchLevel(name)) {
            rest[name] = value;
            continue;
        }
        const Json list = value.is_array() ? value : Json::array({value});
        if (list.empty()) throw OptionError(name, "has no values");
        for (const Json& v : list) AddToPlan(plan, name, JsonValueText(name, v));
    }
    return plan;
}

std::vector<std::string> PortfolioFiles(const std::string& entry)
{
    std::vector<std::string> files;
    for (const std::string_view file : SplitText(entry, '+')) files.emplace_back(file);
    return files;
}

const std::string* RunRequest::Option(std::string_view name) const
{
    for (const auto& [n, text] : options) {
        if (n == name) return &text;
    }
    return nullptr;
}

std::string RunId(uint64_t index, const std::vector<std::pair<std::string, std::string>>& options)
{
    constexpr uint64_t OffsetBasis = 0xcbf29ce484222325ull;
    uint64_t hash = OffsetBasis;
    for (const auto& [name, text] : options) {
        // Separators that no name or text holds keep "a=bc" apart from "ab=c".
        hash = Fnv1a(name, hash);
        hash = Fnv1a(std::string_view("\0", 1), hash);
        hash = Fnv1a(text, hash);
        hash = Fnv1a("\n", hash);
    }
    return fmt::format("{:06}-{:08x}", index, static_cast<uint32_t>(hash ^ (hash >> 32)));
}

RunRequest MakeRequest(uint64_t index, std::vector<std::pair<std::string, std::string>> options)
{
    std::stable_sort(options.begin(), options.end(),
                     [](const auto& a, const auto& b) { return TablePosition(a.first) < TablePosition(b.first); });
    RunRequest r;
    r.index = index;
    r.id = RunId(index, options);
    r.options = std::move(options);
    return r;
}

std::vector<uint32_t> GridCoordinates(const Plan& plan, uint64_t g)
{
    std::vector<uint32_t> c(plan.axes.size(), 0);
    for (size_t i = plan.axes.size(); i-- > 0;) {
        const uint64_t n = plan.axes[i].values.size();
        c[i] = static_cast<uint32_t>(g % n);
        g /= n;
    }
    return c;
}

uint64_t GridIndex(const Plan& plan, const std::vector<uint32_t>& coordinates)
{
    uint64_t g = 0;
    for (size_t i = 0; i < plan.axes.size(); ++i) g = g * plan.axes[i].values.size() + coordinates[i];
    return g;
}

std::vector<std::pair<std::string, std::string>> GridOptions(const Plan& plan, uint32_t entry, uint64_t g)
{
    std::vector<std::pair<std::string, std::string>> options;
    options.emplace_back("bars", plan.bars.at(entry));
    const std::vector<uint32_t> c = GridCoordinates(plan, g);
    for (size_t i = 0; i < plan.axes.size(); ++i) options.emplace_back(plan.axes[i].name, plan.axes[i].values[c[i]]);
    return options;
}

std::vector<RunRequest> ExpandPlan(const Plan& plan)
{
    const uint64_t grid = plan.GridSize();
    std::vector<RunRequest> requests;
    requests.reserve(plan.bars.size() * grid);
    for (uint32_t e = 0; e < plan.bars.size(); ++e) {
        for (uint64_t g = 0; g < grid; ++g) {
            RunRequest r = MakeRequest(e * grid + g, GridOptions(plan, e, g));
            r.entry = e;
            requests.push_back(std::move(r));
        }
    }
    return requests;
}

Json PlanJson(const Plan& plan)
{
    Json axes = Json::object();
    for (const PlanAxis& axis : plan.axes) axes[axis.name] = axis.values;
    return Json{{"bars", plan.bars}, {"options", axes}};
}

Json RequestJson(const RunRequest& r)
{
    Json options = Json::object();
    for (const auto& [name, text] : r.options) options[name] = text;
    Json j{{"index", r.index}, {"id", r.id}, {"entry", r.entry}, {"options", options}};
    if (r.window >= 0) {
        j["window"] = r.window;
        j["sample"] = r.outOfSample ? "out" : "in";
    }
    if (r.keepSeries) j["series"] = true;
    return j;
}

RunRequest RequestFromJson(const Json& j)
{
    try {
        RunRequest r;
        r.index = j.at("index").get<uint64_t>();
        r.id = j.at("id").get<std::string>();
        r.entry = j.value("entry", 0u);
        for (const auto& [name, text] : j.at("options").items()) r.options.emplace_back(name, text.get<std::string>());
        r.window = j.value("window", -1);
        r.outOfSample = j.value("sample", std::string()) == "out";
        r.keepSeries = j.value("series", false);
        return r;
    } catch (const nlohmann::json::exception& e) {
        throw TesterError(fmt::format("not a run request: {}", e.what()));
    }
}

}  // namespace torvik::tester
