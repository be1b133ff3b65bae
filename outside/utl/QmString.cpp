#include "outside/utl/QmString.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
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

// A plain decimal number at `p` (no sign, no hexadecimal, no inf/nan): digits, an optional
// "." with digits, an optional exponent. Returns the end of the number, or null when `p` does
// not start one. When the number has at most 19 significant digits and a modest exponent,
// its value is `mantissa` times ten to the `scale` and `exact` is set.
struct PlainDecimal {
    std::uint64_t mantissa = 0;
    int scale = 0;
    bool exact = true;
};

const char* ScanPlainDecimal(const char* p, PlainDecimal& d) {
    const char* q = p;
    int significant = 0;
    auto digit = [&](char c, bool fraction) {
        if (d.mantissa == 0 && c == '0') {
            // Leading zeros of a fraction only move the scale (bounded: an absurdly long run
            // of zeros goes to the exact parser).
            if (fraction && --d.scale < -100000) d.exact = false, d.scale = -100000;
            return;
        }
        if (significant < 19) {
            d.mantissa = d.mantissa * 10 + static_cast<unsigned>(c - '0');
            ++significant;
            if (fraction) --d.scale;
        } else {
            d.exact = false;
        }
    };
    while (IsDigit(*q)) digit(*q++, false);
    std::ptrdiff_t intDigits = q - p;
    std::ptrdiff_t fracDigits = 0;
    if (*q == '.') {
        const char* f = ++q;
        while (IsDigit(*q)) digit(*q++, true);
        fracDigits = q - f;
    }
    if (intDigits + fracDigits == 0) return nullptr;
    // strtod reads "0x..." as hexadecimal; a lone "0" followed by "x" is never plain.
    if (intDigits == 1 && fracDigits == 0 && *p == '0' && (*q == 'x' || *q == 'X')) return nullptr;
    if (*q == 'e' || *q == 'E') {
        const char* e = q + 1;
        bool negative = *e == '-';
        if (*e == '+' || *e == '-') ++e;
        if (IsDigit(*e)) {
            int exponent = 0;
            while (IsDigit(*e)) {
                if (exponent < 100000) exponent = exponent * 10 + (*e - '0');
                ++e;
            }
            if (exponent >= 100000) d.exact = false;
            d.scale += negative ? -exponent : exponent;
            q = e;
        }
    }
    return q;
}

}  // namespace

double QmString::qmstrtod(const char* text, char** end) {
    // Plain decimal numbers, the overwhelming majority of cells, never reach strtod: the
    // token is delimited first (so a parse never runs over the rest of a long line), short
    // mantissas are computed exactly in one floating-point operation, and the rest goes to
    // std::from_chars, which rounds exactly like strtod, reads "." whatever the C locale and
    // touches no errno. Forms neither takes ("+" before hexadecimal, hexadecimal, inf, nan)
    // and results where strtod sets ERANGE (overflow, underflow, subnormal) go to strtod in
    // the C locale, the reference for everything this function accepts.
    const char* p = text;
    while (IsSpace(*p)) ++p;
    // `start` is where std::from_chars begins (it takes "-" but not "+"), `p` the digits.
    const char* start = p;
    if (*p == '+') {
        start = ++p;
    } else if (*p == '-') {
        ++p;
    }
    // Text cells: nothing strtod could read starts here, so nothing is parsed.
    char c = *p;
    if (!IsDigit(c) && c != '.' && c != 'i' && c != 'I' && c != 'n' && c != 'N') {
        if (end) *end = const_cast<char*>(text);
        return 0.0;
    }
    PlainDecimal d;
    if (const char* last = ScanPlainDecimal(p, d)) {
        bool negative = start != p;
        if (d.mantissa == 0) {
            // Every mantissa digit is 0: an exact zero, whatever the exponent.
            if (end) *end = const_cast<char*>(last);
            return negative ? -0.0 : 0.0;
        }
        // Both the mantissa (below 2^53) and the power of ten (up to 10^22) are exact
        // doubles, so one multiplication or division rounds exactly like strtod.
        static constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                            1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
        if (d.exact && d.mantissa <= (std::uint64_t{1} << 53) && d.scale >= -22 && d.scale <= 22) {
            double value = static_cast<double>(d.mantissa);
            value = d.scale < 0 ? value / kPow10[-d.scale] : value * kPow10[d.scale];
            if (end) *end = const_cast<char*>(last);
            return negative ? -value : value;
        }
        double value = 0;
        auto [ptr, ec] = std::from_chars(start, last, value, std::chars_format::general);
        if (ec == std::errc() && ptr == last && std::isnormal(value)) {
            if (end) *end = const_cast<char*>(last);
            return value;
        }
    }
    return strtod_l(text, end, CLocale());
}

bool QmString::ToFloat(const char* text, float& value) {
    if (!text) return false;
    char* end = nullptr;
    int saved = errno;
    errno = 0;
    double d = qmstrtod(text, &end);
    bool range = errno != 0;
    errno = saved;
    if (end == text || range) return false;
    while (IsSpace(*end)) ++end;
    if (*end != '\0') return false;
    // A finite number that overflows float is not a float.
    float f = static_cast<float>(d);
    if (std::isfinite(d) && std::isinf(f)) return false;
    value = f;
    return true;
}

bool QmString::ToInt(const char* text, int& value) {
    if (!text) return false;
    char* end = nullptr;
    int saved = errno;
    errno = 0;
    long v = std::strtol(text, &end, 10);
    bool range = errno != 0;
    errno = saved;
    if (end == text || range || v < INT_MIN || v > INT_MAX) return false;
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
