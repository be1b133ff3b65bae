#include "outside/utl/QmString.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <locale.h>

namespace {

locale_t CLocale() {
    static locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return c;
}

inline bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

double QmString::qmstrtod(const char* text, char** end) {
    // Fast path for plain decimal numbers: std::from_chars does not take "+", hexadecimal
    // or leading white space, and reports range errors differently, so only forms it reads
    // exactly like strtod go through it; anything else (and any doubtful result) falls back
    // to strtod in the C locale.
    const char* p = text;
    while (IsSpace(*p)) ++p;
    const char* start = (*p == '+') ? p + 1 : p;
    const char* digits = (*start == '-') ? start + 1 : start;
    bool plain = IsDigit(*digits) ? !(digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
                                  : (*digits == '.' && IsDigit(digits[1]));
    if (plain && !(p != start && *start == '-')) {
        double value = 0;
        auto [ptr, ec] = std::from_chars(start, start + std::strlen(start), value, std::chars_format::general);
        if (ec == std::errc() && std::isnormal(value)) {
            if (end) *end = const_cast<char*>(ptr);
            return value;
        }
    }
    return strtod_l(text, end, CLocale());
}

bool QmString::ToFloat(const char* text, float& value) {
    if (!text) return false;
    char* end = nullptr;
    errno = 0;
    double d = qmstrtod(text, &end);
    if (end == text || errno != 0) return false;
    while (IsSpace(*end)) ++end;
    if (*end != '\0') return false;
    value = static_cast<float>(d);
    return true;
}

bool QmString::ToInt(const char* text, int& value) {
    if (!text) return false;
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(text, &end, 10);
    if (end == text || errno != 0 || v < INT_MIN || v > INT_MAX) return false;
    while (IsSpace(*end)) ++end;
    if (*end != '\0') return false;
    value = static_cast<int>(v);
    return true;
}

char* QmString::qmstrdup(const char* text) {
    if (!text) return nullptr;
    std::size_t n = std::strlen(text) + 1;
    char* copy = new char[n];
    std::memcpy(copy, text, n);
    return copy;
}
