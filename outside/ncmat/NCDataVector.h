#pragma once
// Numeric vectors of the product family's matrix library, as far as the readers use them: a
// growable vector with contiguous storage, and linear interpolation of one curve onto the
// positions of another vector.
#include <cstddef>
#include <initializer_list>
#include <vector>

#include "plugin/Export.h"

// The value a position gets when nothing can be said about it; callers treat it as missing.
inline constexpr float kNCMissingValue = -99.0f;

template <typename T>
class NCDataVector {
public:
    NCDataVector() = default;
    NCDataVector(std::initializer_list<T> values) : values_(values) {}
    explicit NCDataVector(std::size_t count, T value = T()) : values_(count, value) {}
    NCDataVector(const NCDataVector&) = default;
    NCDataVector(NCDataVector&&) noexcept = default;
    NCDataVector& operator=(const NCDataVector&) = default;
    NCDataVector& operator=(NCDataVector&&) noexcept = default;

    void push_back(T value) { values_.push_back(value); }
    void reserve(std::size_t count) { values_.reserve(count); }
    void clear() { values_.clear(); }

    std::size_t size() const { return values_.size(); }
    bool empty() const { return values_.empty(); }
    // Contiguous storage of size() elements.
    const T* data() const { return values_.data(); }
    T* data() { return values_.data(); }
    const T& operator[](std::size_t i) const { return values_[i]; }
    T& operator[](std::size_t i) { return values_[i]; }
    const T* begin() const { return values_.data(); }
    const T* end() const { return values_.data() + values_.size(); }

    bool operator==(const NCDataVector& other) const = default;

private:
    std::vector<T> values_;
};

class KELTO_API NCDataVectorUtilities {
public:
    // True when the values rise strictly or fall strictly (a vector of fewer than two values
    // counts as both); a NaN anywhere makes it false.
    static bool IsStrictlyMonotonic(const NCDataVector<float>& x);

    // The curve through the points (x[i], y[i]), read off linearly at every position of
    // `newX`: one value per position. x rises or falls strictly (else std::invalid_argument,
    // as for vectors x and y of different lengths). A position outside the range of x, a NaN
    // position, or one whose neighbouring y is kNCMissingValue gets kNCMissingValue. A
    // position within a few float roundings of an end of x counts as that end, so an axis
    // rebuilt in single precision from the same first x and spacing still meets it.
    static NCDataVector<float> InterPolateVec(const NCDataVector<float>& newX, const NCDataVector<float>& x,
                                              const NCDataVector<float>& y);
};
