#pragma once
// OLE automation dates: a double counting days since 30 December 1899, midnight; the fraction
// is the time of day. Days before the epoch are negative and their time still counts forward
// from midnight, so 29 December 1899 06:00 is -1.25.
//
// ParseOleDate reads a date text the way an English (United States) desktop reads it:
// month before day, a two-digit year 00-29 meaning 2000-2029 and 30-99 meaning 1930-1999.
//
// Accepted (case-insensitive; blanks, "/", "-", "." and "," separate date parts; a time may
// stand before or after the date):
//   numeric dates   "4/25/2003", "04-25-03"             month/day/year
//                   "25/04/03"                          day/month/year, only when the first
//                                                       number cannot be a month but the second can
//                   "2003/04/25", "2003-04-25"          year/month/day, when the first number has
//                                                       three or more digits or exceeds 31
//                   "99/12/31"                          year/month/day as the last resort
//                   "4/25"                              month/day of the current year
//                   "4/2003", "2003/4"                  month and year: the first of that month
//   month names     "Apr 25 2003", "April 25, 2003", "25 Apr 2003", "25-APR-2003",
//                   "2003 Apr 25", "Apr 2003" (the first), "Apr 25" (current year);
//                   full English names or three-letter abbreviations (and "Sept")
//   weekday names   "Friday, April 25, 2003": a weekday name is skipped, not checked
//   times           "14:30", "14:30:05", "14:30:05.25" (fractions of a second are kept),
//                   "2:30 PM", "2:30:05pm", "2 PM", "12 AM" (midnight);
//                   a time alone gives that time on 30 December 1899
//   ISO 8601        "2003-04-25T14:30:05" (the "T" joins date and time)
// Refused: any other word (time zones, "Z", "noon"), time-zone offsets such as "+0100", more
// than three date numbers, dates that do not exist ("2/30/2003"), hours above 23 (above 12 with
// AM/PM), minutes or seconds above 59, a lone number, an empty text.
//
// Results: Valid with the date; TypeMismatch when the text is not a date (value 0); Overflow
// when it is a date outside the years 100 to 9999 (value -1). Those two values are what an
// invalid date object holds after a failed conversion.
#include <optional>
#include <string_view>

namespace kelto::platform {

enum class OleDateStatus { Valid, TypeMismatch, Overflow };

struct OleDateResult {
    OleDateStatus status = OleDateStatus::TypeMismatch;
    double value = 0.0;
    bool ok() const { return status == OleDateStatus::Valid; }
};

// `currentYear` is the year used for forms without one; 0 means this year in local time.
OleDateResult ParseOleDate(std::string_view text, int currentYear = 0);

// The OLE date of a calendar date and time; nullopt when the date does not exist, the year is
// outside 100 to 9999 or the time is outside a day.
std::optional<double> MakeOleDate(int year, int month, int day, int hour = 0, int minute = 0,
                                  double second = 0.0);

}  // namespace kelto::platform
