#pragma once
// Cells and rows as short strings, so an expectation reads like the table it describes:
// "n:12.5" a number, "i:1234567" a 64-bit integer, "t:007" a text, "-" the missing value.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>

#include "data/FloatStringMatrix.h"

inline std::string Show(const FloatString& c) {
    if (c.IsString()) return "t:" + c.GetStringValue(EFloatType::General, 6, false);
    if (c.IsMissing(false)) return "-";
    return (c.IsInt64() ? "i:" : "n:") + c.GetStringValue(EFloatType::General, 9, false);
}

inline std::string Show(const FloatStringVector& v) {
    std::string out;
    for (int i = 1; i <= v.size(); ++i) out += (i > 1 ? " " : "") + Show(v[i]);
    return out;
}

// Rows separated by "|"; every row must be as wide as the matrix says.
inline std::string Show(const FloatStringMatrix& m) {
    std::string out;
    for (int r = 1; r <= m.GetNumRows(); ++r) {
        EXPECT_EQ(m[r].size(), m.GetNumColumns()) << "row " << r;
        out += (r > 1 ? "|" : "") + Show(m[r]);
    }
    return out;
}

// The message of the exception `f` throws.
inline std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "no exception";
}
