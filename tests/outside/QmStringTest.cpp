#include "outside/utl/QmString.h"

#include <gtest/gtest.h>

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <locale.h>
#include <random>
#include <string>

#include "TestLocale.h"

namespace {

struct Parsed {
    std::uint64_t bits;
    std::ptrdiff_t used;
    int error;
};

template <typename Parse>
Parsed Run(const char* text, Parse parse) {
    char* end = nullptr;
    errno = 0;
    double v = parse(text, &end);
    Parsed p{std::bit_cast<std::uint64_t>(v), end - text, errno};
    errno = 0;
    return p;
}

// The reference is the C library's strtod in the "C" locale: same value (any NaN for a NaN),
// same end, same errno.
void ExpectSameAsStrtod(const char* text) {
    static locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    Parsed want = Run(text, [](const char* t, char** e) { return strtod_l(t, e, c); });
    Parsed got = Run(text, QmString::qmstrtod);
    double wv = std::bit_cast<double>(want.bits), gv = std::bit_cast<double>(got.bits);
    EXPECT_TRUE(std::isnan(wv) ? std::isnan(gv) : want.bits == got.bits) << '"' << text << "\" gave " << gv << ", strtod " << wv;
    EXPECT_EQ(want.used, got.used) << '"' << text << '"';
    EXPECT_EQ(want.error, got.error) << '"' << text << '"';
}

// Representative forms: signs, spaces, partial numbers, hexadecimal, inf/nan spellings, the
// edges of the double range (overflow, denormals, underflow), long and exactly-halfway digits.
const char* const kForms[] = {
    "0", "-0", "0e999999", "007", "00x5", "0x", "0x1p3", "-0x1.8p1", "+1.5", " 1.5", "\t\n\v\f\r 2", "1.5abc",
    "1,5", "1.5.5", "1e+5", "1E-5", "1e", "1e+", "1ex", ".5", "-.5", "5.", ".", "-.", "+", "", "+-5", "e5", ".e5",
    "-inf", "+Inf", "INFINITY", "infinit", "nan", "NaN(123)", "nanx", "nan(", "1.7976931348623157e308",
    "1.7976931348623159e308", "-1e400", "1e-400", "0.0e-400", "4e-320", "5e-324", "2e-324", "2.2250738585072011e-308",
    "123456789012345678901234567890", "0.30000000000000004", "9007199254740993", "1e-5000000000000000000000",
    "1e5000000000000000000000", "0000000000000000000000000000000000001", "0.00000000000000000000000000000000000000000001",
    "12\xc2\xa0", "\xe2\x88\x92" "5", "3.14159265358979323846264338327950288",
};

}  // namespace

TEST(QmStrtod, AgreesWithCLocaleStrtodOnEveryFormErrnoIncluded) {
    for (const char* text : kForms) ExpectSameAsStrtod(text);
}

TEST(QmStrtod, AgreesWithCLocaleStrtodOnRandomDecimals) {
    std::mt19937_64 rng(20240601);
    std::uniform_int_distribution<int> digit(0, 9), len(1, 20), exp(-330, 330), smallExp(-30, 30), pick(0, 7);
    for (int i = 0; i < 200000; ++i) {
        std::string s;
        if (pick(rng) == 0) s += '-';
        int n = len(rng);
        int dot = pick(rng) < 4 ? std::uniform_int_distribution<int>(0, n)(rng) : -1;
        for (int k = 0; k < n; ++k) {
            if (k == dot) s += '.';
            s += static_cast<char>('0' + digit(rng));
        }
        int form = pick(rng);
        if (form < 2) s += 'e' + std::to_string(exp(rng));
        else if (form < 4) s += "E" + std::to_string(smallExp(rng));
        if (pick(rng) == 0) s += ";x";
        ExpectSameAsStrtod(s.c_str());
        if (HasFailure()) break;
    }
}

TEST(QmStrtod, ReadsPointWhateverTheCLocaleSays) {
    kelto::test::CommaDecimalLocale german;
    if (!german.Active()) GTEST_SKIP() << "no locale with a comma decimal point is installed (try locale-gen de_DE.UTF-8)";
    EXPECT_EQ(QmString::qmstrtod("1.5", nullptr), 1.5);
    // The comma is no decimal point, as in the C locale; the forms that leave the fast path
    // ignore the locale too.
    for (const char* t : {"1.5", "1,5", "0x1.8p1", "-1e400", "1e-320", "  -0.25e1x"}) ExpectSameAsStrtod(t);
    float f = 0;
    EXPECT_TRUE(QmString::ToFloat("2.75", f));
    EXPECT_EQ(f, 2.75f);
    EXPECT_FALSE(QmString::ToFloat("2,75", f));
}

TEST(QmString, ToFloatAndToIntTakeWholeNumbersInRangeOnly) {
    float f = 7;
    EXPECT_TRUE(QmString::ToFloat("  -12.5  ", f));
    EXPECT_EQ(f, -12.5f);
    EXPECT_TRUE(QmString::ToFloat("3.4028235e38", f));  // just above the largest float, but rounding to it
    EXPECT_EQ(f, std::numeric_limits<float>::max());
    int v = 5;
    EXPECT_TRUE(QmString::ToInt(" -2147483648 ", v));
    EXPECT_EQ(v, INT32_MIN);
    for (const char* bad : {"", "   ", "12.5abc", "1e39", "3.5e38", "1e-400", "1 2"}) {
        EXPECT_FALSE(QmString::ToFloat(bad, f)) << bad;
        EXPECT_EQ(f, std::numeric_limits<float>::max()) << bad;  // untouched
    }
    for (const char* bad : {"", "2147483648", "-2147483649", "1.5", "3a"}) {
        EXPECT_FALSE(QmString::ToInt(bad, v)) << bad;
        EXPECT_EQ(v, INT32_MIN) << bad;
    }
    EXPECT_FALSE(QmString::ToFloat(nullptr, f) || QmString::ToInt(nullptr, v));
}
