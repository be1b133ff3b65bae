// Interpolation of the matrix library: rising and falling axes, holes, ends, refusals.
#include <cmath>
#include <limits>
#include <stdexcept>

#include <gtest/gtest.h>

#include "outside/ncmat/NCDataVector.h"

namespace {

using Vec = NCDataVector<float>;
constexpr float M = kNCMissingValue;
const float kNaN = std::numeric_limits<float>::quiet_NaN();

struct Case {
    const char* what;
    Vec newX, x, y, expected;
};

TEST(NCDataVector, InterPolateVecTable) {
    const Case cases[] = {
        {"rising x, inside, on points and between", {1, 1.5f, 2, 2.25f, 3}, {1, 2, 3}, {10, 20, 40}, {10, 15, 20, 25, 40}},
        {"falling x gives the same curve", {1, 1.5f, 2, 2.25f, 3}, {3, 2, 1}, {40, 20, 10}, {10, 15, 20, 25, 40}},
        {"falling new x onto rising x", {3, 2.5f, 1}, {1, 2, 3}, {0, 10, 20}, {20, 15, 0}},
        {"outside either end is missing", {0.5f, 1, 3, 3.5f}, {1, 2, 3}, {1, 2, 3}, {M, 1, 3, M}},
        {"outside either end, falling x", {3.5f, 0.5f}, {3, 2, 1}, {1, 2, 3}, {M, M}},
        {"a missing neighbour makes the span missing", {1.5f, 2.5f, 3, 3.5f, 4}, {1, 2, 3, 4}, {1, M, 3, 5}, {M, M, 3, 4, 5}},
        {"a missing point hit exactly stays missing", {2}, {1, 2, 3}, {1, M, 3}, {M}},
        {"hole in a falling axis", {3.5f, 2.5f, 1.5f}, {4, 3, 2, 1}, {8, 6, M, 2}, {7, M, M}},
        {"one point: only its own x", {1, 2, 3}, {2}, {5}, {M, 5, M}},
        {"no points: all missing", {1, 2}, {}, {}, {M, M}},
        {"NaN position is missing", {kNaN, 2}, {1, 3}, {1, 3}, {M, 2}},
        {"empty new x", {}, {1, 2}, {1, 2}, {}},
        // An axis rebuilt in single precision may land a unit or two beside the other's end.
        {"ends met within rounding", {std::nextafter(500.0f, 600.0f), std::nextafter(400.0f, 0.0f)}, {400, 450, 500},
         {0, 1, 2}, {2, 0}},
        {"but not beyond", {500.01f, 399.99f}, {400, 450, 500}, {0, 1, 2}, {M, M}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Vec got = NCDataVectorUtilities::InterPolateVec(c.newX, c.x, c.y);
        ASSERT_EQ(got.size(), c.expected.size()) << c.what;
        for (std::size_t i = 0; i < got.size(); ++i) EXPECT_FLOAT_EQ(got[i], c.expected[i]) << c.what << " at " << i;
    }
}

TEST(NCDataVector, InterPolateVecRefusesAxesItCannotRead) {
    const Vec y{1, 2, 3};
    for (const Vec& x : {Vec{1, 3, 2}, Vec{1, 2, 2}, Vec{3, 3, 1}, Vec{1, kNaN, 3}})
        EXPECT_THROW(NCDataVectorUtilities::InterPolateVec({1.5f}, x, y), std::invalid_argument);
    EXPECT_THROW(NCDataVectorUtilities::InterPolateVec({1.5f}, {1, 2}, y), std::invalid_argument);
}

}  // namespace
