#include "formats/spectral/JcampValues.h"

#include <charconv>
#include <cmath>
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

    digits_.clear();
    bool number = true;
    if (IsDigit(c) || c == '.') {
        // plain, unsigned: the character itself starts the text
    } else if (c == '+' || c == '-') {
        char next = pos + 1 < n ? line[pos + 1] : '\0';
        if (!IsDigit(next) && next != '.' && next != ',') return DecodeError::IllegalCharacter;
        if (c == '-') digits_.push_back('-');
        ++pos;
    } else if (c == '@' || (c >= 'A' && c <= 'I') || (c >= 'a' && c <= 'i')) {
        if (c >= 'a') digits_.push_back('-');
        digits_.push_back(c == '@' ? '0' : static_cast<char>('0' + (c >= 'a' ? c - 'a' + 1 : c - 'A' + 1)));
        ++pos;
    } else if (c == '%' || (c >= 'J' && c <= 'R') || (c >= 'j' && c <= 'r')) {
        out.dif = true;
        if (c >= 'j') digits_.push_back('-');
        digits_.push_back(c == '%' ? '0' : static_cast<char>('0' + (c >= 'j' ? c - 'j' + 1 : c - 'J' + 1)));
        ++pos;
    } else if (c == '?' || c == ',') {
        out.missing = true;
        number = false;
        ++pos;
    } else {
        return DecodeError::IllegalCharacter;
    }

    if (number) {
        bool fraction = false;
        for (; pos < n; ++pos) {
            char d = line[pos];
            if (IsDigit(d)) {
                digits_.push_back(d);
            } else if ((d == '.' || (d == ',' && !commaSeparates_)) && !fraction) {
                fraction = true;
                digits_.push_back('.');
            } else {
                break;
            }
        }
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
            digits_.push_back('e');
            digits_.push_back(line[pos + 1]);
            for (pos += 2; pos < n && IsDigit(line[pos]); ++pos) digits_.push_back(line[pos]);
        }
        // "-." or "." alone read as zero, as a digit-less number would.
        const char* first = digits_.data();
        const char* last = first + digits_.size();
        double value = 0.0;
        auto [end, ec] = std::from_chars(first, last, value);
        if (ec == std::errc::result_out_of_range) {
            // Too large or too small for a double: keep the sign and the magnitude's side.
            bool negative = !digits_.empty() && digits_[0] == '-';
            std::size_t e = digits_.find('e');
            bool tiny = e != std::string::npos && e + 1 < digits_.size() && digits_[e + 1] == '-';
            value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
            if (negative) value = -value;
        } else if (ec != std::errc() || end != last) {
            value = 0.0;
        }
        out.value = value;
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

}  // namespace kelto::jcamp
