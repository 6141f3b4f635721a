// The texts and JSON pieces that report.json, the console summary, the
// parameters and the page share (inside tester/report/ only).
#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "tester/report/report.h"

namespace torvik::tester {

using Json = nlohmann::ordered_json;

// Money rounded to cents, never -0.
double Cents(double money);
// Money as shown: two decimals, never "-0.00".
std::string Money(double money);
// Two decimals, or "n/a" when undefined.
std::string Ratio(double x);
std::string Price(double price, int32_t digits);
// Lots with the decimals of the lot step.
std::string Lots(const TestSettings& s, double lots);
double Round(double x, int32_t decimals);
// A number that may be undefined: null in JSON.
Json Defined(double x);

const char* ModelDescription(Model m);
const char* CadenceDescription(Cadence c);
const char* ConversionName(Conversion c);
std::string QualityText(const TestRun& run);

Json MonthlyJson(const MonthlyReturns& m);
Json HistogramJson(const TradeHistogram& h);

}  // namespace torvik::tester
