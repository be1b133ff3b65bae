#include "platform/OleDate.h"

#include <cctype>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace kelto::platform {
namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's days_from_civil).
constexpr std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

constexpr std::int64_t kEpoch = DaysFromCivil(1899, 12, 30);

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

struct Token {
    enum Kind { Number, Word, Sep, Colon } kind = Sep;
    explicit Token(Kind k) : kind(k) {}
    std::int64_t value = 0;  // Number
    int digits = 0;          // Number
    std::string text;        // Word (upper case); Sep: the separator characters
    bool used = false;       // consumed by the time
};

// Month number of a month name (full or three-letter, plus "SEPT"), 0 when it is none.
int MonthOf(const std::string& w) {
    static const char* names[] = {"JANUARY", "FEBRUARY", "MARCH",     "APRIL",   "MAY",      "JUNE",
                                  "JULY",    "AUGUST",   "SEPTEMBER", "OCTOBER", "NOVEMBER", "DECEMBER"};
    for (int i = 0; i < 12; ++i) {
        std::string full = names[i];
        if (w == full || w == full.substr(0, 3)) return i + 1;
    }
    return w == "SEPT" ? 9 : 0;
}

bool IsWeekday(const std::string& w) {
    static const char* names[] = {"SUNDAY", "MONDAY", "TUESDAY", "WEDNESDAY", "THURSDAY", "FRIDAY", "SATURDAY"};
    for (const char* n : names) {
        std::string full = n;
        if (w == full || w == full.substr(0, 3)) return true;
    }
    return false;
}

bool Tokenize(std::string_view text, std::vector<Token>& out) {
    std::size_t i = 0;
    while (i < text.size()) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= '0' && c <= '9') {
            Token t(Token::Number);
            while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
                if (++t.digits > 9) return false;  // no date part is that long
                t.value = t.value * 10 + (text[i] - '0');
                ++i;
            }
            out.push_back(t);
        } else if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
            Token t(Token::Word);
            while (i < text.size() && std::isalpha(static_cast<unsigned char>(text[i])))
                t.text += static_cast<char>(std::toupper(static_cast<unsigned char>(text[i++])));
            out.push_back(t);
        } else if (c == ':') {
            out.push_back(Token(Token::Colon));
            ++i;
        } else if (c == ' ' || c == '\t' || c == '/' || c == '-' || c == '.' || c == ',') {
            Token t(Token::Sep);
            while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '/' || text[i] == '-' ||
                                       text[i] == '.' || text[i] == ','))
                t.text += text[i++];
            out.push_back(t);
        } else {
            return false;
        }
    }
    return true;
}

bool IsBlankSep(const Token& t) { return t.kind == Token::Sep && t.text.find_first_not_of(" \t") == std::string::npos; }

struct Time {
    bool present = false;
    double seconds = 0;  // since midnight
};

// Finds and consumes the one time in the tokens. False when a time is malformed or there are two.
bool TakeTime(std::vector<Token>& tk, Time& time) {
    for (std::size_t i = 0; i < tk.size(); ++i) {
        if (tk[i].kind != Token::Number) continue;
        std::size_t j = i + 1;
        std::int64_t h = tk[i].value, m = 0;
        double s = 0;
        bool colon = j + 1 < tk.size() && tk[j].kind == Token::Colon && tk[j + 1].kind == Token::Number;
        if (colon) {
            m = tk[j + 1].value;
            j += 2;
            if (j + 1 < tk.size() && tk[j].kind == Token::Colon && tk[j + 1].kind == Token::Number) {
                s = static_cast<double>(tk[j + 1].value);
                j += 2;
                if (j + 1 < tk.size() && tk[j].kind == Token::Sep && tk[j].text == "." &&
                    tk[j + 1].kind == Token::Number) {
                    s += static_cast<double>(tk[j + 1].value) / std::pow(10.0, tk[j + 1].digits);
                    j += 2;
                }
            }
        }
        // An AM/PM marker, directly or after blanks.
        std::size_t k = j;
        if (k < tk.size() && IsBlankSep(tk[k])) ++k;
        int half = 0;  // 1 AM, 2 PM
        if (k < tk.size() && tk[k].kind == Token::Word) {
            const std::string& w = tk[k].text;
            if (w == "AM" || w == "A") half = 1;
            if (w == "PM" || w == "P") half = 2;
        }
        if (!colon && !half) continue;  // a plain number is a date part
        if (time.present) return false;
        if (half) {
            if (h > 12) return false;
            if (h == 12) h = 0;
            if (half == 2) h += 12;
            j = k + 1;
        } else if (h > 23) {
            return false;
        }
        if (m > 59 || s >= 60) return false;
        for (std::size_t n = i; n < j; ++n) tk[n].used = true;
        // ISO 8601 joins date and time with a "T".
        if (i >= 1 && tk[i - 1].kind == Token::Word && tk[i - 1].text == "T") tk[i - 1].used = true;
        time.present = true;
        time.seconds = static_cast<double>(h * 3600 + m * 60) + s;
        i = j - 1;
    }
    return true;
}

struct Num {
    std::int64_t value;
    int digits;
    bool YearLike() const { return digits >= 3 || value > 31; }
    std::int64_t AsYear() const {
        if (digits <= 2 && value < 100) return value < 30 ? 2000 + value : 1900 + value;
        return value;
    }
};

enum class Check { Ok, Bad, Overflow };

Check Valid(std::int64_t y, std::int64_t m, std::int64_t d) {
    if (m < 1 || m > 12 || d < 1) return Check::Bad;
    if (y < 100 || y > 9999) return d <= 31 ? Check::Overflow : Check::Bad;
    return d <= DaysInMonth(static_cast<int>(y), static_cast<int>(m)) ? Check::Ok : Check::Bad;
}

int ThisYear() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local.tm_year + 1900;
}

}  // namespace

std::optional<double> MakeOleDate(int year, int month, int day, int hour, int minute, double second) {
    if (Valid(year, month, day) != Check::Ok) return std::nullopt;
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || !(second >= 0 && second < 60)) return std::nullopt;
    double days = static_cast<double>(DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - kEpoch);
    double fraction = (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
    return days >= 0 ? days + fraction : days - fraction;
}

OleDateResult ParseOleDate(std::string_view text, int currentYear) {
    const OleDateResult mismatch{OleDateStatus::TypeMismatch, 0.0};
    const OleDateResult overflow{OleDateStatus::Overflow, -1.0};
    std::vector<Token> tk;
    if (!Tokenize(text, tk)) return mismatch;
    Time time;
    if (!TakeTime(tk, time)) return mismatch;

    std::vector<Num> nums;
    int month = 0;
    for (const Token& t : tk) {
        if (t.used) continue;
        switch (t.kind) {
            case Token::Number: nums.push_back({t.value, t.digits}); break;
            case Token::Colon: return mismatch;
            case Token::Sep: break;
            case Token::Word:
                if (int m = MonthOf(t.text)) {
                    if (month) return mismatch;
                    month = m;
                } else if (!IsWeekday(t.text)) {
                    return mismatch;
                }
                break;
        }
    }
    if (nums.size() > 3 || (month && nums.size() > 2)) return mismatch;

    std::int64_t y = 1899, m = 12, d = 30;
    auto year0 = [&] { return currentYear > 0 ? currentYear : ThisYear(); };
    // Tries the readings in order; the first that gives a real date wins. A reading that is a
    // date only outside the supported years is remembered as an overflow.
    bool overflowSeen = false;
    auto tryDate = [&](std::int64_t yy, std::int64_t mm, std::int64_t dd) {
        Check c = Valid(yy, mm, dd);
        if (c == Check::Overflow) overflowSeen = true;
        if (c != Check::Ok) return false;
        y = yy, m = mm, d = dd;
        return true;
    };
    bool found = false;
    if (month) {
        if (nums.size() == 2) {
            const Num& a = nums[0];
            const Num& b = nums[1];
            if (a.YearLike() && !b.YearLike()) found = tryDate(a.AsYear(), month, b.value);
            else if (!a.YearLike()) found = tryDate(b.AsYear(), month, a.value);
        } else if (nums.size() == 1) {
            found = nums[0].YearLike() ? tryDate(nums[0].AsYear(), month, 1) : tryDate(year0(), month, nums[0].value);
        }
    } else if (nums.size() == 3) {
        const Num& a = nums[0];
        const Num& b = nums[1];
        const Num& c = nums[2];
        if (a.YearLike()) {
            found = tryDate(a.AsYear(), b.value, c.value);
        } else {
            found = tryDate(c.AsYear(), a.value, b.value) || tryDate(c.AsYear(), b.value, a.value) ||
                    tryDate(a.AsYear(), b.value, c.value);
        }
    } else if (nums.size() == 2) {
        const Num& a = nums[0];
        const Num& b = nums[1];
        if (a.YearLike()) found = !b.YearLike() && tryDate(a.AsYear(), b.value, 1);
        else if (b.YearLike()) found = tryDate(b.AsYear(), a.value, 1);
        else found = tryDate(year0(), a.value, b.value) || tryDate(year0(), b.value, a.value);
    } else if (nums.empty()) {
        found = time.present;  // a time alone lies on the epoch's day
    }
    if (!found) return overflowSeen ? overflow : mismatch;
    auto value = MakeOleDate(static_cast<int>(y), static_cast<int>(m), static_cast<int>(d));
    if (!value) return mismatch;
    double fraction = time.seconds / 86400.0;
    return {OleDateStatus::Valid, *value >= 0 ? *value + fraction : *value - fraction};
}

}  // namespace kelto::platform
