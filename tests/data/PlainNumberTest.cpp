// The shortcut that Set(const char*) takes for plain decimal numbers must decide every text
// exactly as the general parser does: same type, same bits, same text. (The results themselves,
// which a fault shared by both paths would change, are pinned in CellTest.cpp.)
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "data/FloatString.h"

namespace {

// The cell's whole state as bytes: its stream form holds the type and the exact value.
std::string Bytes(const FloatString& cell) {
    std::ostringstream out;
    cell.WriteToStream(out);
    return out.str();
}

// Both paths, each starting from a text cell (a Set must free it).
::testing::AssertionResult SameDecision(const std::string& text) {
    FloatString fast, general;
    fast.Set("previous");
    general.Set("previous");
    fast.Set(text.c_str());
    general.SetGeneral(text.c_str());
    if (Bytes(fast) == Bytes(general)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << ::testing::PrintToString(text) << ": shortcut gives "
                                         << ::testing::PrintToString(Bytes(fast)) << ", general parser "
                                         << ::testing::PrintToString(Bytes(general));
}

std::string Digits(std::mt19937_64& rng, int n, bool leadingZeros) {
    std::string s;
    std::uniform_int_distribution<int> digit(0, 9);
    for (int i = 0; i < n; ++i) s += static_cast<char>('0' + (i == 0 && !leadingZeros && n > 1 ? 1 + digit(rng) % 9 : digit(rng)));
    return s;
}

// Texts shaped like numbers, most of them plain, some with what the shortcut must leave to
// the general parser (exponents, more than 19 digits, stray characters, Unicode spaces).
std::string RandomNumberText(std::mt19937_64& rng) {
    auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
    std::string s;
    static const char* spaces[] = {"", "", "", " ", "\t", "  ", "\r", "\n\v\f"};
    s += spaces[pick(8)];
    switch (pick(6)) {
        case 0: s += '-'; break;
        case 1: s += '+'; break;
        default: break;
    }
    // Lengths concentrate near the edges that matter: 6-7 digits (999990), 16-17 (2^53),
    // 19-20 (2^63 and the shortcut's limit).
    static const int lengths[] = {0, 1, 1, 2, 3, 4, 5, 6, 6, 7, 7, 8, 10, 12, 15, 16, 16, 17, 17, 18, 19, 19, 19, 20, 21, 25};
    int intDigits = lengths[pick(static_cast<int>(std::size(lengths)))];
    s += Digits(rng, intDigits, pick(4) == 0);
    if (pick(3) != 0) {
        s += '.';
        int frac = lengths[pick(static_cast<int>(std::size(lengths)))];
        if (pick(3) == 0) frac = pick(8);
        std::string f = Digits(rng, frac, true);
        if (pick(5) == 0) f = std::string(f.size(), '0');
        s += f;
    }
    if (pick(20) == 0) s += (pick(2) ? "e" : "E") + std::string(pick(3) == 0 ? "-" : "") + std::to_string(pick(30));
    static const char* tails[] = {"", "", "", "", "", " ", "\t ", "x", "\xC2\xA0", ".", "-", "0x"};
    s += tails[pick(12)];
    return s;
}

}  // namespace

TEST(PlainNumbers, ShortcutAgreesWithTheGeneralParserAtTheEdges) {
    const std::vector<std::string> cases = {
        // Around 999990, where whole numbers turn into exact integers.
        "999989", "999990", "999990.0", "999990.000001", "999991", "999991.0", "999990.5", "+999991", "-999991",
        "0999991", "00999990", "1000000", "1234567.", "1234567.5", "1234567.0000000000",
        // Around 2^53 (the largest exact mantissa) and 2^63 (the largest integer).
        "9007199254740992", "9007199254740993", "9007199254740992.5", "9007199254740993.5", "900719925474099.35",
        "9223372036854775807", "9223372036854775808", "9999999999999999999", "-9223372036854775808",
        "-9223372036854775809", "+9223372036854775807", "18446744073709551615", "18446744073709551616",
        "0000000000000000001", "00000000000000000001", "1000000000000000000", "10000000000000000000",
        // Leading zeros, zeros and signs.
        "0", "-0", "+0", "00", "-00", "0.0", "-0.0", "00.0", "0.", "0.000", "007", "-007", "+007", "007.",
        "01.0", "01.5", "0.5", "00.5", ".0", ".5", "-.5", "+.5", "5.", "-5.", "0.000000000000000001",
        ".0000000000000000001", ".00000000000000000001",
        // Exponents, forms that are not plain, and texts.
        "1e10", "1E-5", "1e", "1e+", "-1.5e3", "0x1A", "0X10", "+0x10", "inf", "-nan", "Infinity", ".", "-", "+",
        "-.", "+-1", "--1", "1.2.3", "1,5", " 12 ", "\t12\n", "12 a", "12\xC2\xA0", "\xC2\xA0" "12", "1 2", "",
        "   ", "-99", "-99.0", "-99.000001", "99", "12.5abc",
        // Very long digit strings.
        "1234567890123456789012345", "12345678901234567890.5", "0.12345678901234567890123",
        std::string(40, '9'), std::string(400, '1'), "0." + std::string(300, '0') + "1", std::string(330, '0') + "5",
        "1" + std::string(30, '0'), "-" + std::string(25, '0'),
    };
    for (const std::string& text : cases) EXPECT_TRUE(SameDecision(text));
}

TEST(PlainNumbers, ShortcutAgreesWithTheGeneralParserOnRandomTexts) {
    std::mt19937_64 rng(20240611);
    int failures = 0;
    for (int i = 0; i < 600000 && failures < 20; ++i) {
        std::string text = RandomNumberText(rng);
        ::testing::AssertionResult same = SameDecision(text);
        if (!same) ++failures;
        EXPECT_TRUE(same);
    }
    // Random doubles printed every way a file might hold them.
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_int_distribution<int> scale(-12, 20), precision(0, 18);
    for (int i = 0; i < 300000 && failures < 20; ++i) {
        double v = unit(rng) * std::pow(10.0, scale(rng));
        char text[64];
        std::snprintf(text, sizeof text, "%.*f", precision(rng), v);
        ::testing::AssertionResult same = SameDecision(text);
        if (!same) ++failures;
        EXPECT_TRUE(same);
    }
}
