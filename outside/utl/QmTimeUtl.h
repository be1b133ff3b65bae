#pragma once
// Local time and date-time texts.
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include <boost/date_time/posix_time/ptime.hpp>

#include "plugin/Export.h"

// The local broken-down time of `*seconds` (since 1970-01-01 UTC) in `*result`; returns
// `result`, or null when an argument is null or the time cannot be represented.
KELTO_API std::tm* qmlocaltime_r(const std::int64_t* seconds, std::tm* result);

namespace QmTimeUtl {

// What a formatter shows when its format is empty: date and time "yyyy-MM-dd HH:mm:ss",
// the date "yyyy-MM-dd", or the time "HH:mm:ss".
enum EParseType : int { DateTime = 0, Date = 1, Time = 2 };

// Date-time text from a pattern of field letters, as in "yyyy-MM-dd HH:mm:ss":
//   y yy yyyy   year (yy: last two digits)      M MM MMM MMMM  month (MMM "Jan", MMMM "January")
//   d dd        day of month                     EEE EEEE       weekday ("Mon", "Monday")
//   H HH        hour 0-23                        h hh           hour 1-12, with a: "AM"/"PM"
//   m mm        minute                           s ss           second
//   S... f...   fraction of the second, one digit per letter (truncated)
// Text in single quotes is copied ('' gives one quote); other characters are copied as they are.
// Names are English whatever the locale, so the text does not change from one machine to another.
class KELTO_API DateTimeFormatter {
public:
    explicit DateTimeFormatter(EParseType type = DateTime, const std::string& format = std::string());
    // The text for `time`; empty for a time that is not a date (not_a_date_time, infinities).
    std::string Format(const boost::posix_time::ptime& time) const;
    const std::string& GetFormat() const { return format_; }

private:
    struct Field {
        char letter;  // 0 for literal text
        int width;
        std::string text;
    };
    std::string format_;
    std::vector<Field> fields_;
};

}  // namespace QmTimeUtl
