#include "engine/rounding.h"

#include <cmath>

namespace torvik {

namespace {

// The double nearest to each decimal unit, as the literal gives it.
constexpr double DecimalUnits[10] = {1.0,    0.1,     0.01,     0.001,     0.0001,
                                     0.00001, 0.000001, 0.0000001, 0.00000001, 0.000000001};

constexpr double NearlyEqualUnit = 0.00000001;

// Bounds of the doubles whose truncation fits an int32 (both exclusive).
constexpr double TruncLowerExclusive = -2147483649.0;
constexpr double TruncUpperExclusive = 2147483648.0;

}  // namespace

int32_t TruncateToInt32(double x)
{
    // Written so that not a number fails the test too.
    if (!(x > TruncLowerExclusive && x < TruncUpperExclusive)) return IntOutOfRange;
    return static_cast<int32_t>(x);
}

double RoundHalfUp(double x)
{
    const int32_t t = TruncateToInt32(x);
    const double f = x - static_cast<double>(t);
    if (f >= 0.5) return std::ceil(x);
    if (f < 0.5) return std::floor(x);
    return 0.0;
}

int32_t RoundHalfUpToInt(double x) { return TruncateToInt32(RoundHalfUp(x)); }

double RoundToDigits(double value, int32_t digits)
{
    const double unit = (digits >= 0 && digits <= 9) ? DecimalUnits[digits] : 0.0;
    return RoundHalfUp(value / unit) * unit;
}

bool NearlyEqual(double a, double b)
{
    const double q = (a - b) / NearlyEqualUnit;
    const double r = RoundHalfUp(q) * NearlyEqualUnit;
    return r == 0.0;
}

}  // namespace torvik
