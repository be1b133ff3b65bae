#include "formats/spectral/RelativeCompare.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

namespace {

using kelto::spectral::RelativeCompare;
using kelto::spectral::RelativelyEqual;

struct Case {
    double a, b;
    int expected;
    const char* why;
};

TEST(RelativeCompare, OrdersAndToleratesOneUnitOfTheLargerValue) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {1.0, 1.0, 0, "identical"},
        // 1 + 2^-23 lies in [1, 2): exponent 1, so delta is 2^-22 and 2^-23 apart is equal.
        {1.0 + std::ldexp(1.0, -23), 1.0, 0, "one float step above 1"},
        {1.0 + std::ldexp(1.0, -22), 1.0, 0, "exactly delta apart is still equal"},
        {1.0 + std::ldexp(1.0, -22) + std::ldexp(1.0, -40), 1.0, 1, "just over delta"},
        {1.0, 1.0 + std::ldexp(1.0, -21), -1, "less by more than delta"},
        // 0.75 = 0.75 * 2^0: delta 2^-23.
        {0.75, 0.75 + std::ldexp(1.0, -23), 0, "delta at exponent 0"},
        {0.75, 0.75 + std::ldexp(1.5, -23), -1, "beyond delta at exponent 0"},
        // The tolerance follows the larger magnitude, whatever the order of the arguments.
        {4000.0, 4000.0 + 0.0002, 0, "4000: delta 2^-11"},
        {4000.0 + 0.0006, 4000.0, 1, "4000: beyond delta"},
        {-4000.0, -4000.0002, 0, "negative values use the magnitude"},
        {-4000.0, -4000.0006, 1, "-4000 is greater than -4000.0006"},
        {-2.0, 2.0, -1, "signs differ"},
        {0.0, 0.0, 0, "two zeros"},
        {0.0, -0.0, 0, "signed zeros"},
        {1e-8, 0.0, 1, "a tiny value is not zero: the tolerance is relative"},
        {nan, 1.0, 0, "NaN is neither greater nor less"},
        {1.0, nan, 0, "NaN on the right"},
        {nan, nan, 0, "two NaN"},
        {inf, inf, 0, "equal infinities"},
        {inf, 1e300, 1, "infinity is greater than any finite value"},
        {-inf, 1.0, -1, "minus infinity is less"},
        {inf, -inf, 1, "opposite infinities"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RelativeCompare(c.a, c.b), c.expected) << c.why;
        EXPECT_EQ(RelativeCompare(c.b, c.a), -c.expected) << c.why << " (swapped)";
        EXPECT_EQ(RelativelyEqual(c.a, c.b), c.expected == 0) << c.why;
    }
}

TEST(RelativeCompare, FloatRoundTripOfAnAxisValueStaysEqual) {
    // An axis start stored as a double in one file and as a float in another.
    for (double x : {4000.1234567, 449.43, -7.99361e-14, 1e-30, 3.14159e20}) {
        const double stored = static_cast<double>(static_cast<float>(x));
        EXPECT_TRUE(RelativelyEqual(x, stored)) << x;
        EXPECT_FALSE(RelativelyEqual(x, x * (1 + 1e-6))) << x;
    }
}

}  // namespace
