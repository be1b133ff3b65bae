#include "platform/OleDate.h"

#include <gtest/gtest.h>

using namespace kelto::platform;

namespace {
// 25 April 2003 is day 37736 after 30 December 1899.
constexpr double kApr25 = 37736.0, k143005 = (14 * 3600 + 30 * 60 + 5) / 86400.0;
double Day(int y, int m, int d) { return *MakeOleDate(y, m, d); }
}  // namespace

TEST(OleDate, CalendarAnchors) {
    EXPECT_EQ(MakeOleDate(1899, 12, 30), 0.0);
    EXPECT_EQ(MakeOleDate(2000, 2, 29), 36585.0);
    EXPECT_EQ(MakeOleDate(1899, 12, 29, 6), -1.25);  // before the epoch the time still runs forward
    EXPECT_EQ(MakeOleDate(100, 1, 1), -657434.0);
    EXPECT_EQ(MakeOleDate(9999, 12, 31), 2958465.0);
    EXPECT_FALSE(MakeOleDate(1900, 2, 29) || MakeOleDate(99, 12, 31) || MakeOleDate(2003, 4, 25, 24));
}

TEST(OleDate, AcceptedForms) {
    const std::pair<const char*, double> cases[] = {
        {"2003/04/25", kApr25}, {"2003-04-25", kApr25}, {"04/25/2003", kApr25}, {"4-25-03", kApr25},
        {"25/04/03", kApr25},  // 25 cannot be a month
        {"03/04/25", Day(2025, 3, 4)},  // month first when both fit
        {"25.04.2003", kApr25}, {"99/12/31", Day(1999, 12, 31)},  // year first as the last resort
        {"1/2/29", Day(2029, 1, 2)}, {"1/2/30", Day(1930, 1, 2)},  // two-digit years
        {"4/25", Day(2024, 4, 25)}, {"4/2003", Day(2003, 4, 1)},
        {"Apr 25 2003", kApr25}, {"Friday, April 25, 2003", kApr25}, {"25-APR-2003", kApr25}, {"Sept 1 2003", Day(2003, 9, 1)},
        {"04/25/2003 14:30:05", kApr25 + k143005}, {"2003-04-25T14:30:05", kApr25 + k143005},
        {"2003/04/25 2:30:05 PM", kApr25 + k143005}, {"14:30:05 2003/04/25", kApr25 + k143005},
        {"2003/04/25 14:30:05.5", kApr25 + k143005 + 0.5 / 86400}, {"2003/04/25 12 AM", kApr25},
        {"18:00", 0.75},  // a time alone lies on the epoch's day
    };
    for (const auto& [text, want] : cases) {
        auto r = ParseOleDate(text, 2024);
        EXPECT_EQ(r.status, OleDateStatus::Valid) << '"' << text << '"';
        EXPECT_NEAR(r.value, want, 1e-9) << '"' << text << '"';
    }
}

TEST(OleDate, RefusedFormsAndOverflow) {
    for (const char* text : {"", "2003", "hello", "2003-04-25T14:30:05Z", "2/30/2003", "13/13/2003", "25:00", "13:00 PM",
                             "1/2/3/4", "Apr May 2003", "14:30 15:30", "1999?12?31"}) {
        auto r = ParseOleDate(text, 2024);
        EXPECT_EQ(r.status, OleDateStatus::TypeMismatch) << '"' << text << '"';
        EXPECT_EQ(r.value, 0.0);
    }
    for (const char* text : {"1/1/10000", "Jan 1 12345", "1/1/099"}) {
        auto r = ParseOleDate(text, 2024);
        EXPECT_EQ(r.status, OleDateStatus::Overflow) << '"' << text << '"';
        EXPECT_EQ(r.value, -1.0);
    }
}
