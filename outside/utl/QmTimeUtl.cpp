#include "outside/utl/QmTimeUtl.h"

#include <limits>

#include <boost/date_time/posix_time/posix_time_types.hpp>

std::tm* qmlocaltime_r(const std::int64_t* seconds, std::tm* result) {
    if (!seconds || !result) return nullptr;
    if (*seconds < std::numeric_limits<std::time_t>::min() || *seconds > std::numeric_limits<std::time_t>::max())
        return nullptr;
    std::time_t t = static_cast<std::time_t>(*seconds);
    return localtime_r(&t, result);
}

namespace QmTimeUtl {

namespace {

const char* const kMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                               "July",    "August",   "September", "October", "November", "December"};
const char* const kDays[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

bool IsField(char c) { return std::string_view("yMdEHhmsSfa").find(c) != std::string_view::npos; }

void Number(std::string& out, long value, int width) {
    std::string digits = std::to_string(value < 0 ? -value : value);
    if (value < 0) out += '-';
    if (static_cast<int>(digits.size()) < width) out.append(static_cast<std::size_t>(width) - digits.size(), '0');
    out += digits;
}

}  // namespace

DateTimeFormatter::DateTimeFormatter(EParseType type, const std::string& format) : format_(format) {
    if (format_.empty()) {
        format_ = type == Date ? "yyyy-MM-dd" : type == Time ? "HH:mm:ss" : "yyyy-MM-dd HH:mm:ss";
    }
    const std::string& f = format_;
    for (std::size_t i = 0; i < f.size();) {
        char c = f[i];
        if (c == '\'') {
            // Quoted text; '' inside or outside quotes is one quote.
            std::string text;
            std::size_t j = i + 1;
            if (j < f.size() && f[j] == '\'') {
                fields_.push_back({0, 0, "'"});
                i = j + 1;
                continue;
            }
            for (; j < f.size(); ++j) {
                if (f[j] == '\'') {
                    if (j + 1 < f.size() && f[j + 1] == '\'') {
                        text += '\'';
                        ++j;
                        continue;
                    }
                    break;
                }
                text += f[j];
            }
            fields_.push_back({0, 0, text});
            i = j + 1;
            continue;
        }
        if (IsField(c)) {
            std::size_t j = i;
            while (j < f.size() && f[j] == c) ++j;
            fields_.push_back({c, static_cast<int>(j - i), std::string()});
            i = j;
            continue;
        }
        if (!fields_.empty() && fields_.back().letter == 0) {
            fields_.back().text += c;
        } else {
            fields_.push_back({0, 0, std::string(1, c)});
        }
        ++i;
    }
}

std::string DateTimeFormatter::Format(const boost::posix_time::ptime& time) const {
    if (time.is_special()) return std::string();
    boost::gregorian::date date = time.date();
    boost::posix_time::time_duration tod = time.time_of_day();
    long year = date.year(), month = date.month(), day = date.day();
    long hour = tod.hours(), minute = tod.minutes(), second = tod.seconds();
    long long ticks = tod.fractional_seconds();
    int resolution = boost::posix_time::time_duration::num_fractional_digits();
    std::string out;
    for (const Field& field : fields_) {
        int w = field.width;
        switch (field.letter) {
            case 0: out += field.text; break;
            case 'y':
                if (w == 2) Number(out, year % 100, 2);
                else Number(out, year, w);
                break;
            case 'M':
                if (w >= 4) out += kMonths[month - 1];
                else if (w == 3) out.append(kMonths[month - 1], 3);
                else Number(out, month, w);
                break;
            case 'd': Number(out, day, w); break;
            case 'E':
                if (w >= 4) out += kDays[date.day_of_week().as_number()];
                else out.append(kDays[date.day_of_week().as_number()], 3);
                break;
            case 'H': Number(out, hour, w); break;
            case 'h': Number(out, hour % 12 == 0 ? 12 : hour % 12, w); break;
            case 'm': Number(out, minute, w); break;
            case 's': Number(out, second, w); break;
            case 'a': out += hour < 12 ? "AM" : "PM"; break;
            case 'S':
            case 'f': {
                // The fraction's digits at the clock's resolution, cut or padded to the width.
                std::string digits = std::to_string(ticks);
                digits.insert(0, static_cast<std::size_t>(std::max(0, resolution - static_cast<int>(digits.size()))), '0');
                if (static_cast<int>(digits.size()) >= w) digits.resize(static_cast<std::size_t>(w));
                else digits.append(static_cast<std::size_t>(w) - digits.size(), '0');
                out += digits;
                break;
            }
        }
    }
    return out;
}

}  // namespace QmTimeUtl
