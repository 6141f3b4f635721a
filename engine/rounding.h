// The engine's one rounding rule and its digit and tolerance forms.
#pragma once

#include <cstdint>

namespace torvik {

inline constexpr int32_t IntOutOfRange = INT32_MIN;

// Truncation toward zero to a 32-bit int; not a number and anything whose
// truncation lies outside the int range give IntOutOfRange.
int32_t TruncateToInt32(double x);

// Half up in the engine's form: ceil when x - trunc(x) >= 0.5, else floor.
// Negative values therefore always go down (-2.5 -> -3, -0.2 -> -1).
double RoundHalfUp(double x);
int32_t RoundHalfUpToInt(double x);

// Divides by the decimal unit of d digits, rounds half up, multiplies back.
// Digit counts outside 0..9 have unit 0: not a number for a nonzero value.
double RoundToDigits(double value, int32_t digits);

// True when a - b rounds to zero at a resolution of 1e-8 (one-sided: a
// negative difference, however small, is not "nearly equal").
bool NearlyEqual(double a, double b);

// 32-bit two's complement arithmetic: the host's ints wrap, they never trap.
inline int32_t WrapAdd(int32_t a, int32_t b)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
inline int32_t WrapSub(int32_t a, int32_t b)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
inline int32_t WrapMul(int32_t a, int32_t b)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}
inline int32_t WrapNeg(int32_t a) { return WrapSub(0, a); }

// Integer division truncating toward zero; INT32_MIN / -1 wraps to INT32_MIN.
inline int32_t WrapDiv(int32_t a, int32_t b)
{
    if (b == -1) return WrapNeg(a);
    return a / b;
}

}  // namespace torvik
