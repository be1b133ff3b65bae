#include "formats/spectral/JcampValues.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace kelto::jcamp {

namespace {

constexpr std::int64_t kCountLimit = std::int64_t{1} << 40;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
// "S"-"Z" are 1 to 8, "s" is 9.
int DupDigit(char c) {
    if (c >= 'S' && c <= 'Z') return c - 'S' + 1;
    if (c == 's') return 9;
    return -1;
}

}  // namespace

DecodeError ValueDecoder::Next(std::string_view line, std::size_t& pos, bool strict, DecodedValue& out) {
    out = DecodedValue();
    const std::size_t n = line.size();
    while (pos < n && IsBlank(line[pos])) ++pos;
    if (pos >= n) return DecodeError::None;
    out.found = true;
    char c = line[pos];
    if (strict && !IsDigit(c) && c != '.' && c != ',' && c != '?' && c != '+' && c != '-' && c != 'E' && c != 'e')
        return DecodeError::InvalidStrictCharacter;

    bool number = true;
    bool negative = false;
    int firstDigit = -1;  // the digit an SQZ or DIF character stands for
    if (IsDigit(c) || c == '.') {
        // plain, unsigned: the character itself starts the number
    } else if (c == '+' || c == '-') {
        char next = pos + 1 < n ? line[pos + 1] : '\0';
        if (!IsDigit(next) && next != '.' && next != ',') return DecodeError::IllegalCharacter;
        negative = c == '-';
        ++pos;
    } else if (c == '@' || (c >= 'A' && c <= 'I') || (c >= 'a' && c <= 'i')) {
        negative = c >= 'a';
        firstDigit = c == '@' ? 0 : (c >= 'a' ? c - 'a' + 1 : c - 'A' + 1);
        ++pos;
    } else if (c == '%' || (c >= 'J' && c <= 'R') || (c >= 'j' && c <= 'r')) {
        out.dif = true;
        negative = c >= 'j';
        firstDigit = c == '%' ? 0 : (c >= 'j' ? c - 'j' + 1 : c - 'J' + 1);
        ++pos;
    } else if (c == '?' || c == ',') {
        out.missing = true;
        number = false;
        ++pos;
    } else {
        return DecodeError::IllegalCharacter;
    }

    if (number) {
        // Whole numbers of up to 15 digits (nearly all ASDF values) are summed exactly as
        // integers; a fraction or an exponent sends the text through from_chars.
        std::int64_t whole = firstDigit > 0 ? firstDigit : 0;
        int wholeDigits = firstDigit >= 0 ? 1 : 0;
        bool fraction = false;
        const std::size_t from = pos;
        for (; pos < n; ++pos) {
            char d = line[pos];
            if (IsDigit(d)) {
                if (!fraction) {
                    if (wholeDigits < 16) whole = whole * 10 + (d - '0');
                    ++wholeDigits;
                }
            } else if ((d == '.' || (d == ',' && !commaSeparates_)) && !fraction) {
                fraction = true;
            } else {
                break;
            }
        }
        const std::size_t to = pos;
        std::size_t exponentFrom = 0, exponentTo = 0;
        // A DUP count, or an exponent ("E+05"), may follow.
        int dup = pos < n ? DupDigit(line[pos]) : -1;
        if (dup > 0) {
            std::int64_t count = dup;
            for (++pos; pos < n && IsDigit(line[pos]); ++pos)
                count = std::min<std::int64_t>(count * 10 + (line[pos] - '0'), kCountLimit);
            if (pos < n && DupDigit(line[pos]) > 0) return DecodeError::DoubleDup;
            out.count = count;
        } else if (pos + 2 < n && (line[pos] == 'E' || line[pos] == 'e') &&
                   (line[pos + 1] == '+' || line[pos + 1] == '-') && IsDigit(line[pos + 2])) {
            exponentFrom = pos + 1;
            for (pos += 2; pos < n && IsDigit(line[pos]); ++pos) {
            }
            exponentTo = pos;
        }
        if (!fraction && exponentTo == 0 && wholeDigits > 0 && wholeDigits <= 15) {
            out.value = static_cast<double>(negative ? -whole : whole);
        } else {
            digits_.clear();
            if (negative) digits_.push_back('-');
            if (firstDigit >= 0) digits_.push_back(static_cast<char>('0' + firstDigit));
            for (std::size_t i = from; i < to; ++i) digits_.push_back(line[i] == ',' ? '.' : line[i]);
            if (exponentTo) {
                digits_.push_back('e');
                digits_.append(line.substr(exponentFrom, exponentTo - exponentFrom));
            }
            // "-." or "." alone read as zero, as a digit-less number would.
            const char* first = digits_.data();
            const char* last = first + digits_.size();
            double value = 0.0;
            auto [end, ec] = std::from_chars(first, last, value);
            if (ec == std::errc::result_out_of_range) {
                // Too large or too small for a double: keep the sign and the magnitude's side.
                bool tiny = exponentTo && line[exponentFrom] == '-';
                value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
                if (negative) value = -value;
            } else if (ec != std::errc() || end != last) {
                value = 0.0;
            }
            out.value = value;
        }
    }
    while (pos < n && IsBlank(line[pos])) ++pos;
    if (pos < n && (line[pos] == ';' || line[pos] == ',')) {
        // In a table "x, y" the comma separates; a lone "," left here was consumed as the
        // separator of this value, not as a missing value of its own.
        ++pos;
        while (pos < n && IsBlank(line[pos])) ++pos;
    }
    return DecodeError::None;
}

char* FormatG6(double x, char* out) {
    static constexpr double kPow10[] = {1e-4, 1e-3, 1e-2, 1e-1, 1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};
    const double a = std::fabs(x);
    if (x == 0 && !std::signbit(x)) {
        *out = '0';
        return out + 1;
    }
    if (a >= 1e-4 && a < 1e6) {
        int e = -4;  // the decimal exponent of a: 10^e <= a < 10^(e+1)
        while (e < 5 && a >= kPow10[e + 5]) ++e;
        const double v = a * kPow10[9 - e];  // 10^(5-e): six digits before the point
        const double floor = std::floor(v);
        const double frac = v - floor;
        // The product is off by a rounding at most; a tie within that is left to to_chars.
        if (std::fabs(frac - 0.5) > 1e-6) {
            std::int64_t digits = static_cast<std::int64_t>(floor) + (frac > 0.5 ? 1 : 0);
            if (digits == 1000000) digits = 100000, ++e;
            if (digits >= 100000 && digits < 1000000 && e < 6) {
                static constexpr char kPairs[] =
                    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
                    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
                    "8081828384858687888990919293949596979899";
                char text[6];
                std::uint32_t d = static_cast<std::uint32_t>(digits);
                for (int i = 4; i >= 0; i -= 2) {
                    const std::uint32_t pair = d % 100;
                    d /= 100;
                    text[i] = kPairs[2 * pair];
                    text[i + 1] = kPairs[2 * pair + 1];
                }
                int used = 6;
                while (used > 1 && text[used - 1] == '0') --used;
                char* p = out;
                if (x < 0) *p++ = '-';
                if (e >= 0) {
                    for (int i = 0; i <= e; ++i) *p++ = text[i];
                    if (used > e + 1) {
                        *p++ = '.';
                        for (int i = e + 1; i < used; ++i) *p++ = text[i];
                    }
                } else {
                    *p++ = '0';
                    *p++ = '.';
                    for (int i = -1; i > e; --i) *p++ = '0';
                    for (int i = 0; i < used; ++i) *p++ = text[i];
                }
                return p;
            }
        }
    }
    return std::to_chars(out, out + 16, x, std::chars_format::general, 6).ptr;
}

}  // namespace kelto::jcamp
