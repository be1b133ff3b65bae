// What a cell makes of text and numbers, how it formats and streams itself; rows of cells.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <locale>
#include <sstream>
#include <tuple>

#include "data/Show.h"
#include "outside/TestFiles.h"
#include "outside/TestLocale.h"

namespace {

FloatString Cell(const char* text) {
    FloatString c;
    c.Set("a previous text");  // every Set starts from whatever the cell held
    c.Set(text);
    return c;
}

}  // namespace

TEST(Cell, TextBecomesMissingNumberIntegerOrText) {
    const char* cases[][2] = {
        {"", "-"}, {" \t\r\n\v\f", "-"}, {"-99", "-"}, {"  12.5  ", "n:12.5"}, {"12.5abc", "t:12.5abc"},
        {"+5", "n:5"}, {".5", "n:0.5"}, {"-7.25e2", "n:-725"}, {"1,5", "t:1,5"}, {"  a b  ", "t:a b"},
        // Strictly above 999990 and whole: an exact integer.
        {"999990", "n:999990"}, {"999990.5", "n:999990.5"}, {"999991", "i:999991"}, {"+1234567 ", "i:1234567"},
        {"-1234567", "n:-1234567"}, {"1234567.5", "n:1234567.5"}, {"1234567.0", "i:1234567"}, {"1e10", "i:10000000000"},
        {"9223372036854775807", "i:9223372036854775807"}, {"9223372036854775808", "n:9.22337204e+18"},
        // Leading zeros keep a whole number as text, except the plain zero.
        {"007", "t:007"}, {"00", "t:00"}, {"01.0", "t:01.0"}, {" 0042 ", "t:0042"}, {"0", "n:0"}, {"0.0", "n:0"},
        {"-0", "n:0"}, {"00.5", "n:0.5"}, {"-007", "n:-7"}, {"0x1A", "t:0x1A"}, {"0001234567", "t:0001234567"},
        {"012245002008", "t:012245002008"},
        // Beyond a double: text; NaN and infinities: missing.
        {"1e400", "t:1e400"}, {"1e-400", "t:1e-400"}, {"1e400\xC2\xA0", "t:1e400\xC2\xA0"}, {"nan", "-"},
        {"-Infinity", "-"},
        // Unicode spaces are white space for numbers and become ASCII spaces in texts.
        {"12\xC2\xA0", "n:12"}, {"\xC2\xA0", "-"}, {"\xE3\x80\x80 7\xE2\x80\xAF", "n:7"},
        {"\xE2\x80\x83" "1234567", "i:1234567"}, {"\xC2\x85" "a\xC2\xA0" "b\xE2\x80\xA8", "t:a b"},
        {"\xC2\xA9 2024", "t:\xC2\xA9 2024"},
        // NFC: a decomposed e-acute is composed; text that is not UTF-8 is kept byte for byte.
        {" Cafe\xCC\x81\t", "t:Caf\xC3\xA9"}, {"caf\xE9", "t:caf\xE9"},
    };
    for (auto& c : cases) EXPECT_EQ(Show(Cell(c[0])), c[1]) << '"' << c[0] << '"';
    EXPECT_EQ(Show(Cell(nullptr)), "-");
    EXPECT_FALSE(std::signbit(Cell("-0").GetFloatValue()));
    // A text kept for its leading zeros still counts as its number; other texts do not.
    for (auto [text, value] : {std::pair{"007", 7.0f}, {"01.0", 1.0f}, {"0x1A", -99.0f}, {"ab", -99.0f}}) {
        EXPECT_EQ(Cell(text).IsFloat(), value != -99.0f) << text;
        EXPECT_EQ(Cell(text).GetFloatValue(), value) << text;
    }
    EXPECT_TRUE(Cell("abc").IsMissing(true) && !Cell("abc").IsMissing(false));
}

TEST(Cell, NumberRules) {
    const double inf = std::numeric_limits<double>::infinity();
    const std::pair<double, const char*> doubles[] = {
        {std::nan(""), "-"}, {-inf, "-"}, {5e-324, "n:0"}, {-0.0, "n:0"}, {999990.0, "n:999990"},
        {999991.0, "i:999991"}, {-5e6, "n:-5000000"},
        {9223372036854774784.0, "i:9223372036854774784"},  // the largest double below 2^63
        {9223372036854775808.0, "n:9.22337204e+18"},
        {1e39, "-"}, {1e-40, "n:0"},  // an infinity and a subnormal once they are floats
    };
    FloatString c;
    for (auto [value, want] : doubles) {
        c.Set(value);
        EXPECT_EQ(Show(c), want) << value;
    }
    const float fInf = std::numeric_limits<float>::infinity(), fNan = std::numeric_limits<float>::quiet_NaN();
    for (auto [value, want] : {std::pair{fNan, "-"}, {-fInf, "-"}, {std::numeric_limits<float>::denorm_min(), "n:0"}}) {
        c.Set(value);
        EXPECT_EQ(Show(c), want) << value;
    }
    c.Set(std::int64_t{-99});
    EXPECT_TRUE(c.IsMissing(false) && c.IsFloat());
    EXPECT_EQ(c.GetStringValue(EFloatType::General, 6, false), "-99");  // printed, not hidden
    c.Set(1e30f);
    EXPECT_EQ(c.GetIntValue(), INT64_MAX);  // saturates instead of overflowing
}

namespace {

struct CommaPoint : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
};

}  // namespace

TEST(Cell, FormatStylesAndTheLocalesDecimalPoint) {
    using F = EFloatType;
    const std::tuple<const char*, F::Enum, int, bool, const char*> styles[] = {
        {"12.5", F::Fixed, 2, false, "12.50"}, {"12.5", F::Scientific, 3, false, "1.250e+01"},
        {"12.5", F::General, 6, false, "12.5"}, {"12.5", F::Fixed, -1, false, "12.500000"},  // -1: printf's 6
        {"1234567.5", F::General, 6, false, "1.23457e+06"},
        {"0.1", F::Fixed, 10, false, "0.1000000015"},  // the float's own value
        {"", F::Fixed, 2, false, ""}, {"", F::Fixed, 2, true, "-99.00"}};
    for (auto [text, style, precision, keep, want] : styles)
        EXPECT_EQ(Cell(text).GetStringValue(style, precision, keep), want) << text << " " << style << " " << precision;

    // General follows the C++ global locale, Fixed and Scientific the C library's; parsing
    // takes "." whatever either says.
    const FloatString c = Cell("12.5");
    kelto::test::CommaDecimalLocale comma;
    std::locale previous = std::locale::global(std::locale(std::locale::classic(), new CommaPoint));
    EXPECT_EQ(c.GetStringValue(EFloatType::General, 6, false), "12,5");
    if (comma.Active()) {
        EXPECT_EQ(c.GetStringValue(EFloatType::Fixed, 2, false), "12,50");
        EXPECT_EQ(c.GetStringValue(EFloatType::Scientific, 1, false), "1,2e+01");
    }
    EXPECT_EQ(Show(Cell("2.5")), "n:2,5");
    EXPECT_EQ(Show(Cell("2,5")), "t:2,5");
    std::locale::global(previous);
    if (!comma.Active()) GTEST_SKIP() << "no comma-decimal C locale installed: Fixed and Scientific not checked";
}

TEST(Cell, CopiesAreDeepAndTransferMoves) {
    FloatString a = Cell("a text long enough to live outside any small-string buffer");
    FloatString b(a), c = Cell("replaced"), d;
    a.Set("changed");
    c = b;
    c = c;
    d.Transfer(c);
    d.Transfer(d);
    FloatString e(std::move(d));
    EXPECT_EQ(Show(e), "t:a text long enough to live outside any small-string buffer");
    EXPECT_EQ(Show(b), Show(e));
    EXPECT_EQ(Show(c) + Show(d), "--");
}

TEST(Cell, StreamRecordLayouts) {
    auto streamed = [](const FloatString& c) { std::ostringstream o; c.WriteToStream(o); return o.str(); };
    FloatString i;
    i.Set(std::int64_t{0x0102030405060708});
    EXPECT_EQ(streamed(Cell("12.5")), std::string("\x00\x00\x00\x48\x41", 5));
    EXPECT_EQ(streamed(Cell("ab")), std::string("\x01\x02\x00\x00\x00" "ab", 7));
    EXPECT_EQ(streamed(i), std::string("\x02\x08\x07\x06\x05\x04\x03\x02\x01", 9));
}

TEST(Vector, EditsAtTheEdgesAndStreamsThatOverstateTheirCount) {
    FloatStringVector v(3);
    v.Set(1, "a"), v.Set(2, "b"), v.Set(3, "c");
    v.Insert(2, 2);
    v.Insert(100, 1);  // beyond the end: appended
    v.Insert(0, 1);    // never before the placeholder
    v.Insert(3, -2);
    EXPECT_EQ(Show(v), "- t:a - - t:b t:c -");
    v.Remove(3, 2);
    v.Remove(4, 10);  // only what exists
    v.Remove(0, 2);   // the placeholder is never removed
    v.Append(v);
    EXPECT_EQ(Show(v), "t:a t:b t:a t:b");
    EXPECT_EQ(Show(v[0]), "-");

    // Count 0x7FFFFFFF before three cells, from a stream that cannot tell its size: read as
    // far as the cells go, never sized by the count.
    std::string cells("\x00\x00\x00\x80\x3F\x00\x00\x00\x00\x40\x00\x00\x00\x40\x40", 15);
    kelto::test::PipeBuf pipe(std::string("\xFF\xFF\xFF\x7F", 4) + cells);
    std::istream piped(&pipe);
    EXPECT_FALSE(v.ReadFromStream(piped));
    EXPECT_EQ(Show(v), "n:1 n:2 n:3");
}
