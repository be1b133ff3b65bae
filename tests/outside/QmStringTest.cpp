#include "outside/utl/QmString.h"

#include <gtest/gtest.h>

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <locale.h>
#include <memory>
#include <random>
#include <string>

#include "TestLocale.h"

namespace {

struct Parsed {
    std::uint64_t bits;
    std::ptrdiff_t used;
    int error;
};

// The reference: the C library's strtod in the "C" locale.
Parsed Reference(const char* text) {
    static locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    char* end = nullptr;
    errno = 0;
    double v = strtod_l(text, &end, c);
    Parsed p{std::bit_cast<std::uint64_t>(v), end - text, errno};
    errno = 0;
    return p;
}

Parsed Ours(const char* text) {
    char* end = nullptr;
    errno = 0;
    double v = QmString::qmstrtod(text, &end);
    Parsed p{std::bit_cast<std::uint64_t>(v), end - text, errno};
    errno = 0;
    return p;
}

void ExpectSameAsStrtod(const char* text) {
    Parsed want = Reference(text), got = Ours(text);
    // NaN payloads may legitimately differ only if strtod produced them; compare NaN-ness then.
    double wv = std::bit_cast<double>(want.bits), gv = std::bit_cast<double>(got.bits);
    if (std::isnan(wv)) {
        EXPECT_TRUE(std::isnan(gv)) << '"' << text << '"';
    } else {
        EXPECT_EQ(want.bits, got.bits) << '"' << text << "\" gave " << gv << ", strtod " << wv;
    }
    EXPECT_EQ(want.used, got.used) << '"' << text << '"';
    EXPECT_EQ(want.error, got.error) << '"' << text << '"';
}

const char* const kForms[] = {
    "0", "-0", "+0", "0.0", "-0.0", "0e999999", "0.000e-5", "00", "007", "00x5", "0.x", "0x", "0x1p3",
    "0X10", "-0x1.8p1", "+0x10", "1", "-1", "+1", "42", "1.5", "-1.5", "+1.5", " 1.5", "\t\n\v\f\r 2", "1.5abc",
    "1,5", "1.5.5", "1e5", "1E5", "1e+5", "1e-5", "1e", "1e+", "1e-", "1ex", ".5", "-.5", "+.5", "5.", "-5.",
    ".", "-.", "+", "-", "", "   ", "+-5", "-+5", "e5", ".e5", "inf", "-inf", "+Inf", "INFINITY", "infinit",
    "nan", "-nan", "NaN(123)", "nanx", "1e308", "1.7976931348623157e308", "1.7976931348623159e308", "1e309",
    "-1e400", "1e-400", "-1e-400", "1e-320", "5e-324", "2e-324", "2.2250738585072011e-308",
    "2.2250738585072014e-308", "123456789012345678901234567890", "0.1", "0.30000000000000004",
    "9007199254740993", "1e-5000000000000000000000", "1e5000000000000000000000", "-0e-5000000000000000",
    "0000000000000000000000000000000000001", "0.00000000000000000000000000000000000000000001",
    "999990", "1234567", "-99", "12 ", "12\xc2\xa0", "Sample A", "-x", "+", "\xe2\x88\x92" "5", "i", "n", "-inf5", "nan(", "3.14159265358979323846264338327950288",
};

}  // namespace

TEST(QmStrtod, AgreesWithCLocaleStrtodOnEveryForm) {
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
    char* end = nullptr;
    const char* text = "1.5";
    EXPECT_EQ(QmString::qmstrtod(text, &end), 1.5);
    EXPECT_EQ(end, text + 3);
    // The comma is not a decimal point here, as in the C locale.
    const char* comma = "1,5";
    EXPECT_EQ(QmString::qmstrtod(comma, &end), 1.0);
    EXPECT_EQ(end, comma + 1);
    // The forms that leave the fast path must ignore the locale too.
    for (const char* t : {"0x1.8p1", "-1e400", "1e-320", "+2.5", "inf", "  -0.25e1x"}) ExpectSameAsStrtod(t);
    float f = 0;
    EXPECT_TRUE(QmString::ToFloat("2.75", f));
    EXPECT_EQ(f, 2.75f);
    EXPECT_FALSE(QmString::ToFloat("2,75", f));
}

TEST(QmStrtod, SetsErangeOnlyForRangeErrors) {
    for (const char* t : {"1e400", "-1e400", "1e-400", "4e-320"}) {
        errno = 0;
        QmString::qmstrtod(t, nullptr);
        EXPECT_EQ(errno, ERANGE) << t;
    }
    for (const char* t : {"0", "-0", "0.0e-400", "1e300", "2.5"}) {
        errno = 0;
        QmString::qmstrtod(t, nullptr);
        EXPECT_EQ(errno, 0) << t;
    }
}

TEST(QmString, ToFloatTakesWholeNumbersOnly) {
    float f = 7;
    EXPECT_TRUE(QmString::ToFloat("  -12.5  ", f));
    EXPECT_EQ(f, -12.5f);
    for (const char* bad : {"", "   ", "12.5abc", "abc", "1e400", "1e39", "3.5e38", "1e-400", "1 2"}) {
        f = 7;
        EXPECT_FALSE(QmString::ToFloat(bad, f)) << bad;
        EXPECT_EQ(f, 7) << bad;
    }
    EXPECT_FALSE(QmString::ToFloat(nullptr, f));
    EXPECT_TRUE(QmString::ToFloat("0x10", f));
    EXPECT_EQ(f, 16);
    // Just above the largest float, but rounding to it.
    EXPECT_TRUE(QmString::ToFloat("3.4028235e38", f));
    EXPECT_EQ(f, std::numeric_limits<float>::max());
}

TEST(QmString, ToIntTakesWholeIntegersInRange) {
    int v = 5;
    EXPECT_TRUE(QmString::ToInt(" 12 ", v));
    EXPECT_EQ(v, 12);
    EXPECT_TRUE(QmString::ToInt("-2147483648", v));
    EXPECT_EQ(v, INT32_MIN);
    EXPECT_TRUE(QmString::ToInt("+2147483647", v));
    EXPECT_EQ(v, INT32_MAX);
    for (const char* bad : {"2147483648", "-2147483649", "99999999999999999999", "1.5", "3a", "", " ", "a3"}) {
        v = 5;
        EXPECT_FALSE(QmString::ToInt(bad, v)) << bad;
        EXPECT_EQ(v, 5) << bad;
    }
    EXPECT_FALSE(QmString::ToInt(nullptr, v));
}

TEST(QmString, StrdupMakesAnIndependentCopy) {
    std::string original = "Tabelle12";
    std::unique_ptr<char[]> copy(QmString::qmstrdup(original.c_str()));
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy.get(), original.c_str());
    original[0] = 'X';
    EXPECT_STREQ(copy.get(), "Tabelle12");
    EXPECT_EQ(QmString::qmstrdup(nullptr), nullptr);
}
