#include "tester/batch/record.h"

#include <cmath>
#include <limits>

#include <fmt/format.h>

#include "tester/data/error.h"

namespace torvik::tester {

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

}  // namespace

double RunRecord::Figure(const std::string& name) const
{
    const Json* at = report.contains("figures") ? &report["figures"] : nullptr;
    size_t start = 0;
    while (at != nullptr) {
        const size_t dot = name.find('.', start);
        const std::string key = name.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        at = at->is_object() && at->contains(key) ? &(*at)[key] : nullptr;
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    return at != nullptr && at->is_number() ? at->get<double>() : NaN;
}

Json RecordJson(const RunRecord& r)
{
    Json j = RequestJson(r.request);
    j["status"] = r.ok ? "ok" : "failed";
    if (!r.ok) {
        j["message"] = r.message;
        return j;
    }
    Json criteria = Json::object();
    for (const Criterion c : AllCriteria) {
        const double v = r.Criterion(c);
        criteria[CriterionName(c)] = std::isfinite(v) ? Json(v) : Json(nullptr);
    }
    j["criteria"] = criteria;
    j["report"] = r.report;
    if (r.request.keepSeries) {
        j["trades_csv"] = r.trades;
        j["equity_csv"] = r.equity;
    }
    return j;
}

RunRecord RecordFromJson(const Json& j)
{
    RunRecord r;
    r.request = RequestFromJson(j);
    try {
        const std::string status = j.at("status").get<std::string>();
        if (status != "ok" && status != "failed") throw TesterError(fmt::format("status \"{}\"", status));
        r.ok = status == "ok";
        if (!r.ok) {
            r.message = j.at("message").get<std::string>();
            return r;
        }
        const Json& criteria = j.at("criteria");
        for (const Criterion c : AllCriteria) {
            const Json& v = criteria.at(CriterionName(c));
            r.criteria[static_cast<size_t>(c)] = v.is_null() ? NaN : v.get<double>();
        }
        r.report = j.at("report");
        if (r.request.keepSeries) {
            r.trades = j.at("trades_csv").get<std::string>();
            r.equity = j.at("equity_csv").get<std::string>();
        }
    } catch (const nlohmann::json::exception& e) {
        throw TesterError(fmt::format("not a run record: {}", e.what()));
    }
    return r;
}

std::string RecordText(const RunRecord& record)
{
    return RecordJson(record).dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

RunRecord RecordFromText(std::string_view text)
{
    const Json j = Json::parse(text, nullptr, false);
    if (j.is_discarded()) throw TesterError("not a run record: not JSON");
    return RecordFromJson(j);
}

}  // namespace torvik::tester
