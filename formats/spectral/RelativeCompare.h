#pragma once
// Comparison of two x values (axis starts, steps, ends) read from different spectrum files,
// which agree only to the precision they were stored with: a single-precision float carries
// 24 significant bits, so two values count as equal when they differ by no more than one
// unit in the 23rd bit below the leading bit of the larger one. Write the larger magnitude
// as f * 2^e with 0.5 <= |f| < 1; then delta = 2^-23 * 2^e, and
//   a > b  when a - b > delta,   a < b  when b - a > delta,   equal otherwise.
//
// "Equal otherwise" is taken literally: when either value is NaN neither difference exceeds
// delta, so the two compare equal. A one-point spectrum has a step of 0/0 and must still
// match itself and its neighbours; a caller that needs to refuse NaN tests for it itself.
// Infinities compare by their sign against anything finite and equal to themselves.
#include <cmath>

namespace kelto::spectral {

// The tolerance for comparing `a` with `b`: 2^-23 times the power of two at the top of the
// larger magnitude. Two zeros have no such power; frexp reports exponent 0 for them, which
// gives 2^-23.
inline double RelativeTolerance(double a, double b) {
    const double larger = std::fabs(a) >= std::fabs(b) ? std::fabs(a) : std::fabs(b);
    if (!std::isfinite(larger)) return 0.0;
    int exponent = 0;
    std::frexp(larger, &exponent);
    return std::ldexp(1.0, exponent - 23);
}

// -1 when a is less than b, 1 when greater, 0 when equal within the tolerance (or when
// either is NaN).
inline int RelativeCompare(double a, double b) {
    if (std::isinf(a) || std::isinf(b)) {
        // inf - inf is NaN; equal infinities are equal, anything else orders plainly.
        if (a == b) return 0;
        if (std::isnan(a) || std::isnan(b)) return 0;
        return a > b ? 1 : -1;
    }
    const double delta = RelativeTolerance(a, b);
    if (a - b > delta) return 1;
    if (b - a > delta) return -1;
    return 0;
}

inline bool RelativelyEqual(double a, double b) { return RelativeCompare(a, b) == 0; }

}  // namespace kelto::spectral
