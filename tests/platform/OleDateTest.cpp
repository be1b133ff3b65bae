#include "platform/OleDate.h"

#include <gtest/gtest.h>

#include <string>

using kelto::platform::MakeOleDate;
using kelto::platform::OleDateStatus;
using kelto::platform::ParseOleDate;

namespace {
// 25 April 2003 is day 37736 after 30 December 1899 (a Friday).
constexpr double kApr25 = 37736.0;
constexpr double kTime143005 = (14 * 3600 + 30 * 60 + 5) / 86400.0;

double Parse(const std::string& text) {
    auto r = ParseOleDate(text, 2024);
    EXPECT_EQ(r.status, OleDateStatus::Valid) << '"' << text << '"';
    return r.value;
}
}  // namespace

TEST(OleDate, CalendarAnchors) {
    EXPECT_EQ(MakeOleDate(1899, 12, 30), 0.0);
    EXPECT_EQ(MakeOleDate(1900, 1, 1), 2.0);
    EXPECT_EQ(MakeOleDate(2003, 4, 25), kApr25);
    EXPECT_EQ(MakeOleDate(2000, 2, 29), 36585.0);
    EXPECT_EQ(MakeOleDate(1899, 12, 29, 6), -1.25);  // before the epoch the time still runs forward
    EXPECT_EQ(MakeOleDate(100, 1, 1), -657434.0);
    EXPECT_EQ(MakeOleDate(9999, 12, 31), 2958465.0);
    EXPECT_FALSE(MakeOleDate(1900, 2, 29));  // 1900 was no leap year
    EXPECT_FALSE(MakeOleDate(99, 12, 31));
    EXPECT_FALSE(MakeOleDate(2003, 4, 25, 24));
}

TEST(OleDate, NumericDatesInUnitedStatesOrder) {
    EXPECT_EQ(Parse("2003/04/25"), kApr25);
    EXPECT_EQ(Parse("2003-04-25"), kApr25);
    EXPECT_EQ(Parse("04/25/2003"), kApr25);
    EXPECT_EQ(Parse("4-25-03"), kApr25);
    EXPECT_EQ(Parse("25/04/03"), kApr25);  // 25 cannot be a month
    EXPECT_EQ(Parse("03/04/25"), *MakeOleDate(2025, 3, 4));  // month first when both fit
    EXPECT_EQ(Parse("25.04.2003"), kApr25);
    EXPECT_EQ(Parse("99/12/31"), *MakeOleDate(1999, 12, 31));  // year first as the last resort
    EXPECT_EQ(Parse("1/2/29"), *MakeOleDate(2029, 1, 2));       // 00-29: this century
    EXPECT_EQ(Parse("1/2/30"), *MakeOleDate(1930, 1, 2));       // 30-99: the last
    EXPECT_EQ(Parse("4/25"), *MakeOleDate(2024, 4, 25));         // no year: the current one
    EXPECT_EQ(Parse("4/2003"), *MakeOleDate(2003, 4, 1));
    EXPECT_EQ(Parse("2003/4"), *MakeOleDate(2003, 4, 1));
}

TEST(OleDate, MonthNamesAndWeekdays) {
    EXPECT_EQ(Parse("Apr 25 2003"), kApr25);
    EXPECT_EQ(Parse("April 25, 2003"), kApr25);
    EXPECT_EQ(Parse("25 Apr 2003"), kApr25);
    EXPECT_EQ(Parse("25-APR-2003"), kApr25);
    EXPECT_EQ(Parse("2003 apr 25"), kApr25);
    EXPECT_EQ(Parse("Friday, April 25, 2003"), kApr25);
    EXPECT_EQ(Parse("Sept 1 2003"), *MakeOleDate(2003, 9, 1));
    EXPECT_EQ(Parse("Apr 2003"), *MakeOleDate(2003, 4, 1));
    EXPECT_EQ(Parse("Apr 25"), *MakeOleDate(2024, 4, 25));
}

TEST(OleDate, Times) {
    EXPECT_DOUBLE_EQ(Parse("04/25/2003 14:30:05"), kApr25 + kTime143005);
    EXPECT_DOUBLE_EQ(Parse("2003-04-25T14:30:05"), kApr25 + kTime143005);
    EXPECT_DOUBLE_EQ(Parse("2003/04/25 2:30:05 PM"), kApr25 + kTime143005);
    EXPECT_DOUBLE_EQ(Parse("14:30:05 2003/04/25"), kApr25 + kTime143005);
    EXPECT_DOUBLE_EQ(Parse("Apr 25 2003 2:30:05pm"), kApr25 + kTime143005);
    EXPECT_DOUBLE_EQ(Parse("2003/04/25 14:30:05.5"), kApr25 + kTime143005 + 0.5 / 86400);
    EXPECT_DOUBLE_EQ(Parse("2003/04/25 12 AM"), kApr25);
    EXPECT_DOUBLE_EQ(Parse("2003/04/25 12:15 PM"), kApr25 + (12 * 60 + 15) / 1440.0);
    EXPECT_DOUBLE_EQ(Parse("18:00"), 0.75);  // a time alone lies on the epoch's day
}

TEST(OleDate, RefusedTexts) {
    for (const char* text : {"", "   ", "2003", "hello", "2003/04/25 14:30:05 +0100", "2003-04-25T14:30:05Z",
                             "2/30/2003", "13/13/2003", "2003/13/01", "25:00", "12:60", "13:00 PM",
                             "1/2/3/4", "Apr May 2003", "Apr 25 2003 7", "14:30 15:30", "2003/04/25 noon",
                             "1999?12?31"}) {
        auto r = ParseOleDate(text, 2024);
        EXPECT_EQ(r.status, OleDateStatus::TypeMismatch) << '"' << text << '"';
        EXPECT_EQ(r.value, 0.0);
    }
}

TEST(OleDate, YearsOutsideTheRangeOverflow) {
    for (const char* text : {"1/1/10000", "10000/1/1", "Jan 1 12345", "1/1/099"}) {
        auto r = ParseOleDate(text, 2024);
        EXPECT_EQ(r.status, OleDateStatus::Overflow) << '"' << text << '"';
        EXPECT_EQ(r.value, -1.0);
    }
}
