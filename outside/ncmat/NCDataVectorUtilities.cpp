#include "outside/ncmat/NCDataVector.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace {

// Rounding of an axis built in single precision: four units in the last place of the larger
// value.
bool NearlyEqual(double a, double b) {
    const double scale = std::max(std::fabs(a), std::fabs(b));
    return std::fabs(a - b) <= 4.0 * 1.1920928955078125e-7 * scale;
}

}  // namespace

bool NCDataVectorUtilities::IsStrictlyMonotonic(const NCDataVector<float>& x) {
    for (float v : x)
        if (std::isnan(v)) return false;
    if (x.size() < 2) return true;
    const bool rising = x[1] > x[0];
    for (std::size_t i = 1; i < x.size(); ++i) {
        if (rising ? !(x[i] > x[i - 1]) : !(x[i] < x[i - 1])) return false;
    }
    return true;
}

NCDataVector<float> NCDataVectorUtilities::InterPolateVec(const NCDataVector<float>& newX,
                                                          const NCDataVector<float>& x,
                                                          const NCDataVector<float>& y) {
    if (x.size() != y.size()) throw std::invalid_argument("InterPolateVec: x and y differ in length");
    if (!IsStrictlyMonotonic(x)) throw std::invalid_argument("InterPolateVec: x is not strictly monotonic");
    NCDataVector<float> out(newX.size(), kNCMissingValue);
    const std::size_t n = x.size();
    if (n == 0) return out;
    // Work on a rising view of x: index k of the view is x[at(k)].
    const bool falling = n > 1 && x[1] < x[0];
    auto at = [&](std::size_t k) { return falling ? n - 1 - k : k; };
    const double lo = x[at(0)], hi = x[at(n - 1)];
    for (std::size_t p = 0; p < newX.size(); ++p) {
        double v = newX[p];
        if (std::isnan(v)) continue;
        if (NearlyEqual(v, lo)) v = lo;
        else if (NearlyEqual(v, hi)) v = hi;
        if (v < lo || v > hi) continue;
        // First k of the view with x >= v.
        std::size_t first = 0, count = n;
        while (count > 0) {
            std::size_t half = count / 2;
            if (static_cast<double>(x[at(first + half)]) < v) {
                first += half + 1;
                count -= half + 1;
            } else {
                count = half;
            }
        }
        const std::size_t right = at(first);
        if (static_cast<double>(x[right]) == v) {
            out[p] = y[right];
            continue;
        }
        const std::size_t left = at(first - 1);  // first > 0 since v > lo here
        const float yl = y[left], yr = y[right];
        if (yl == kNCMissingValue || yr == kNCMissingValue) continue;
        const double t = (v - x[left]) / (static_cast<double>(x[right]) - x[left]);
        out[p] = static_cast<float>(yl + t * (static_cast<double>(yr) - yl));
    }
    return out;
}
