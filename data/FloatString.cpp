#include "data/FloatString.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <istream>
#include <locale>
#include <memory>
#include <ostream>
#include <string_view>

#include <boost/algorithm/string/trim.hpp>
#include <fmt/format.h>
#include <unicode/bytestream.h>
#include <unicode/normalizer2.h>

#include "data/FloatStringVector.h"
#include "outside/utl/BinaryIO.h"
#include "outside/utl/QmString.h"
#include "plugin/Adapters.h"

namespace {

// The white space of C's isspace in the "C" locale (and of glibc's UTF-8 locales, which
// class no single byte above 0x7F as space).
inline bool IsAsciiSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A whole text of decimal digits (an optional sign, surrounding white space) as a 64-bit
// integer, as strtoll in base 10 would read it; false when it does not fit or does not end
// where the digits do. Plain digit runs, by far the common case, go through from_chars.
bool ParseWholeInt64(const char* p, std::int64_t& value) {
    const char* end;
    if (IsDigit(*p)) {
        std::size_t n = 0;
        while (IsDigit(p[n])) ++n;
        auto [ptr, ec] = std::from_chars(p, p + n, value, 10);
        if (ec != std::errc()) return false;
        end = ptr;
    } else {
        char* e = nullptr;
        errno = 0;
        long long v = std::strtoll(p, &e, 10);
        if (errno != 0 || e == p) return false;
        value = v;
        end = e;
    }
    while (IsAsciiSpace(*end)) ++end;
    return *end == '\0';
}

// The twenty Unicode spaces that a text may carry in place of an ASCII one (the no-break
// space of spreadsheet exports above all). All start with one of the bytes 0xC2, 0xE1, 0xE2
// or 0xE3, so texts without those bytes need no search.
std::size_t UnicodeSpaceAt(std::string_view s, std::size_t i) {
    static constexpr std::array<std::string_view, 20> kSpaces = {
        "\xC2\x85",         "\xC2\xA0",         "\xE1\x9A\x80",     "\xE1\xA0\x8E",     "\xE2\x80\x80",
        "\xE2\x80\x81",     "\xE2\x80\x82",     "\xE2\x80\x83",     "\xE2\x80\x84",     "\xE2\x80\x85",
        "\xE2\x80\x86",     "\xE2\x80\x87",     "\xE2\x80\x88",     "\xE2\x80\x89",     "\xE2\x80\x8A",
        "\xE2\x80\xA8",     "\xE2\x80\xA9",     "\xE2\x80\xAF",     "\xE2\x81\x9F",     "\xE3\x80\x80",
    };
    std::string_view rest = s.substr(i);
    for (std::string_view sp : kSpaces)
        if (rest.starts_with(sp)) return sp.size();
    return 0;
}

inline bool MayHoldUnicodeSpace(unsigned char c) { return c == 0xC2 || (c >= 0xE1 && c <= 0xE3); }

// Replaces each Unicode space of `s` by one ASCII space; false (and `out` untouched) when
// there is none.
bool ReplaceUnicodeSpaces(std::string_view s, std::string& out) {
    bool any = false;
    std::string result;
    for (std::size_t i = 0; i < s.size();) {
        std::size_t n = MayHoldUnicodeSpace(static_cast<unsigned char>(s[i])) ? UnicodeSpaceAt(s, i) : 0;
        if (n != 0) {
            if (!any) {
                result.reserve(s.size());
                result.assign(s.substr(0, i));
                any = true;
            }
            result.push_back(' ');
            i += n;
        } else {
            if (any) result.push_back(s[i]);
            ++i;
        }
    }
    if (any) out.swap(result);
    return any;
}

// Canonical composition, so that a decomposed "é" (e + U+0301) and a precomposed one are the
// same text. Texts that are not valid UTF-8 (legacy 8-bit texts) are kept as they are.
void NormaliseNfc(std::string& s) {
    static const icu::Normalizer2* nfc = [] {
        UErrorCode status = U_ZERO_ERROR;
        const icu::Normalizer2* n = icu::Normalizer2::getNFCInstance(status);
        return U_SUCCESS(status) ? n : nullptr;
    }();
    if (!nfc) return;
    UErrorCode status = U_ZERO_ERROR;
    if (nfc->isNormalizedUTF8(s, status) || U_FAILURE(status)) return;
    std::string out;
    out.reserve(s.size());
    icu::StringByteSink<std::string> sink(&out);
    nfc->normalizeUTF8(0, s, sink, nullptr, status);
    if (U_SUCCESS(status)) s.swap(out);
}

bool IsValidUtf8(std::string_view s) {
    std::size_t i = 0, n = s.size();
    while (i < n) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        std::size_t len;
        char32_t cp;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            len = 2, cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3, cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4, cp = c & 0x07;
        } else {
            return false;
        }
        if (i + len > n) return false;
        for (std::size_t k = 1; k < len; ++k) {
            unsigned char t = static_cast<unsigned char>(s[i + k]);
            if ((t & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (t & 0x3F);
        }
        if ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
            return false;
        i += len;
    }
    return true;
}

}  // namespace

// A text's string object is row memory: carved from its table's text chunks while the table
// sets the cell, from the heap otherwise.
template <typename... A>
std::string* FloatString::NewText(A&&... a) {
    void* block = kelto::data::AllocateRowMemory(sizeof(std::string), kelto::data::RowMemory::Text);
    try {
        return new (block) std::string(std::forward<A>(a)...);
    } catch (...) {
        kelto::data::ReleaseRowMemory(block);
        throw;
    }
}

void FloatString::DeleteText(std::string* s) noexcept {
    s->~basic_string();
    kelto::data::ReleaseRowMemory(s);
}

FloatString::FloatString(const FloatString& other) : type_(other.type_), value_(other.value_) {
    if (type_ == kText) value_.s = NewText(*other.value_.s);
}

FloatString& FloatString::operator=(const FloatString& other) {
    if (this == &other) return *this;
    if (other.type_ == kText) {
        // Copy first, so that a failed allocation leaves this cell as it was.
        std::string* copy = NewText(*other.value_.s);
        FreeText();
        value_.s = copy;
    } else {
        FreeText();
        value_ = other.value_;
    }
    type_ = other.type_;
    return *this;
}

void FloatString::Transfer(FloatString& other) noexcept {
    if (this == &other) return;
    FreeText();
    type_ = other.type_;
    value_ = other.value_;
    other.Clear();
}

inline void FloatString::SetNumber(double v) noexcept {
    FreeText();
    if (IsLargeWholeNumber(v)) {
        type_ = kInt64;
        value_.i = static_cast<std::int64_t>(v);
        return;
    }
    // Values a float cannot hold (beyond its range, or below its normal range) follow the
    // float rules after conversion, so a float cell never holds an infinity or a subnormal.
    type_ = kFloat;
    value_.f = Normalised(static_cast<float>(v));
}

void FloatString::Set(double v) noexcept { SetNumber(v); }

// The bulk of every numeric import: an optional sign, at most 19 digits with an optional
// ".", optional trailing white space, nothing else. Its value is computed exactly as
// qmstrtod computes it (the digits as one integer, divided once by an exact power of ten,
// which rounds correctly) and then decided exactly as SetParsed decides. Anything else, and
// integers beyond 2^53 with a fraction part, is left to SetParsed (false).
bool FloatString::SetPlainNumber(const char* p) {
    const char* q = p;
    const bool negative = *q == '-';
    if (*q == '-' || *q == '+') ++q;
    const char* digits = q;
    std::uint64_t m = 0;  // wraps harmlessly for long runs, which are refused below
    while (IsDigit(*q)) m = m * 10 + static_cast<unsigned>(*q++ - '0');
    const std::ptrdiff_t intDigits = q - digits;
    std::ptrdiff_t fracDigits = 0;
    const bool point = *q == '.';
    if (point) {
        const char* f = ++q;
        while (IsDigit(*q)) m = m * 10 + static_cast<unsigned>(*q++ - '0');
        fracDigits = q - f;
    }
    const std::ptrdiff_t total = intDigits + fracDigits;
    if (total == 0 || total > 19) return false;
    while (IsAsciiSpace(*q)) ++q;
    if (*q != '\0') return false;

    constexpr std::uint64_t kExact = std::uint64_t{1} << 53;
    double d;
    if (m <= kExact) {
        static constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,
                                            1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19};
        d = static_cast<double>(m);
        if (fracDigits) d /= kPow10[fracDigits];
        if (negative) d = -d;
    } else if (!point && !negative) {
        d = 1e300;  // stands for "above 999990"; only the integer branch below uses it
    } else {
        return false;
    }

    // Leading zeros are kept before anything else, large whole numbers included.
    if (*p == '0' && (d != 0 || p[1] == '0') && d == std::trunc(d)) {
        std::size_t n = static_cast<std::size_t>(q - p);
        while (n > 0 && IsAsciiSpace(p[n - 1])) --n;
        value_.s = NewText(p, n);
        type_ = kText;
        return true;
    }
    if (d > 999990.0) {
        // What ParseWholeInt64 gives for a sign and digits alone.
        if (!point && m <= static_cast<std::uint64_t>(INT64_MAX)) {
            type_ = kInt64;
            value_.i = static_cast<std::int64_t>(m);
            return true;
        }
        if (m > kExact) return false;
    }
    SetNumber(d);
    return true;
}

// Inlined into Set: text cells, which all come here, pay no extra call for the shortcut.
__attribute__((always_inline)) inline void FloatString::SetParsed(const char* p) {
    char* end = nullptr;
    double d = QmString::qmstrtod(p, &end);
    if (errno != 0) {
        // Out of range for a double: keep what was written, as written.
        SetNonNumericText(p, false);
        return;
    }
    const char* q = end;
    while (IsAsciiSpace(*q)) ++q;
    if (q == p || *q != '\0') {
        SetNonNumericText(p, true);
        return;
    }

    // The whole text is the number d.
    if (*p == '0' && (d != 0 || p[1] == '0') && d == std::trunc(d)) {
        // "007", "00", "01.0", "012245002008": codes and identifiers whose leading zeros matter
        // stay texts, however long (they still read as numbers through GetFloatValue).
        std::size_t n = std::strlen(p);
        while (n > 0 && IsAsciiSpace(p[n - 1])) --n;
        value_.s = NewText(p, n);
        type_ = kText;
        return;
    }
    if (d > 999990.0) {
        // A float would round it; read the digits again as an exact integer where they are one.
        std::int64_t whole;
        if (ParseWholeInt64(p, whole)) {
            type_ = kInt64;
            value_.i = whole;
            return;
        }
        errno = 0;
    }
    SetNumber(d);
}

void FloatString::Set(const char* text) {
    SetMissing();
    errno = 0;
    if (!text) return;
    const char* p = text;
    while (IsAsciiSpace(*p)) ++p;
    if (*p == '\0') return;
    // Texts that cannot start a number skip the shortcut at once.
    const char c = *p;
    if ((IsDigit(c) || c == '-' || c == '+' || c == '.') && SetPlainNumber(p)) return;
    SetParsed(p);
}

void FloatString::SetGeneral(const char* text) {
    SetMissing();
    errno = 0;
    if (!text) return;
    const char* p = text;
    while (IsAsciiSpace(*p)) ++p;
    if (*p == '\0') return;
    SetParsed(p);
}

void FloatString::SetNonNumericText(const char* p, bool unicodeSpaces) {
    std::size_t n = std::strlen(p);
    bool ascii = true;
    for (std::size_t i = 0; i < n; ++i)
        if (static_cast<unsigned char>(p[i]) >= 0x80) {
            ascii = false;
            break;
        }
    if (ascii) {
        // Pure ASCII: already NFC, and the locale's white space is ASCII's.
        while (n > 0 && IsAsciiSpace(p[n - 1])) --n;
        value_.s = NewText(p, n);
        type_ = kText;
        return;
    }

    std::string replaced;
    if (unicodeSpaces && ReplaceUnicodeSpaces(std::string_view(p, n), replaced)) {
        // "12" followed by a no-break space is the number 12: decide again.
        Set(replaced.c_str());
        return;
    }
    std::string s(p, n);
    if (IsValidUtf8(s)) NormaliseNfc(s);
    boost::algorithm::trim(s, std::locale());
    TakeText(std::move(s));
}

void FloatString::TakeText(std::string&& text) {
    std::string* owned = NewText(std::move(text));
    FreeText();
    value_.s = owned;
    type_ = kText;
}

bool FloatString::TextIsNumber() const {
    const std::string& s = *value_.s;
    if (s.size() < 2 || s[0] != '0' || !IsDigit(s[1])) return false;
    int saved = errno;
    errno = 0;
    char* end = nullptr;
    QmString::qmstrtod(s.c_str(), &end);
    bool number = errno == 0 && end == s.c_str() + s.size();
    errno = saved;
    return number;
}

float FloatString::GetFloatValue() const {
    switch (type_) {
    case kFloat:
        return value_.f;
    case kInt64:
        return static_cast<float>(value_.i);
    default:
        if (!TextIsNumber()) return kMissing;
        return static_cast<float>(QmString::qmstrtod(value_.s->c_str(), nullptr));
    }
}

std::int64_t FloatString::GetIntValue() const {
    switch (type_) {
    case kFloat: {
        float f = value_.f;
        // Truncation toward zero; values beyond the integer range saturate rather than
        // invoke undefined behaviour (a float read from a stream may be anything).
        if (std::isnan(f)) return -99;
        if (f >= 9223372036854775808.0f) return INT64_MAX;
        if (f < -9223372036854775808.0f) return INT64_MIN;
        return static_cast<std::int64_t>(f);
    }
    case kInt64:
        return value_.i;
    default:
        return -99;
    }
}

bool FloatString::IsFloat() const { return type_ != kText || TextIsNumber(); }

bool FloatString::IsMissing(bool textIsMissing) const {
    switch (type_) {
    case kFloat:
        return value_.f == kMissing;
    case kInt64:
        return value_.i == -99;
    default:
        return value_.s->empty() || textIsMissing;
    }
}

std::string FloatString::GetStringValue(EFloatType::Enum type, int precision, bool keepMissing) const {
    if (type_ == kText) return *value_.s;
    if (type_ == kInt64) return fmt::format_int(value_.i).str();

    float f = value_.f;
    if (!keepMissing && f == kMissing) return std::string();
    // A negative precision means none was given, as in printf.
    if (type == EFloatType::Fixed || type == EFloatType::Scientific) {
        std::string s;
        if (type == EFloatType::Fixed)
            s = precision < 0 ? fmt::format("{:f}", f) : fmt::format("{:.{}f}", f, precision);
        else
            s = precision < 0 ? fmt::format("{:e}", f) : fmt::format("{:.{}e}", f, precision);
        char point = *std::localeconv()->decimal_point;
        if (point != '\0' && point != '.') std::replace(s.begin(), s.end(), '.', point);
        return s;
    }
    return precision < 0 ? fmt::format("{:L}", f) : fmt::format("{:.{}L}", f, precision);
}

bool FloatString::WriteToStream(std::ostream& out) const {
    unsigned char t = static_cast<unsigned char>(type_);
    if (!WriteBytes(out, &t, 1)) return false;
    switch (type_) {
    case kFloat:
        return WriteFourBytes(out, &value_.f);
    case kInt64:
        return WriteEightBytes(out, &value_.i);
    default:
        return WriteBinaryString(out, *value_.s);
    }
}

bool FloatString::ReadFromStream(std::istream& in) {
    unsigned char t = 0;
    if (!ReadBytes(in, &t, 1)) {
        SetMissing();
        return false;
    }
    switch (t) {
    case kFloat: {
        float f = kMissing;
        bool ok = ReadFourBytes(in, &f);
        FreeText();
        type_ = kFloat;
        value_.f = ok ? f : kMissing;  // exactly what was written, not re-normalised
        return ok;
    }
    case kInt64: {
        std::int64_t i = 0;
        if (!ReadEightBytes(in, &i)) {
            SetMissing();
            return false;
        }
        Set(i);
        return true;
    }
    case kText: {
        if (type_ == kText) {
            if (ReadBinaryString(in, *value_.s)) return true;
            SetMissing();
            return false;
        }
        std::string s;
        if (!ReadBinaryString(in, s)) {
            SetMissing();
            return false;
        }
        TakeText(std::move(s));
        return true;
    }
    default:
        SetMissing();
        in.setstate(std::ios::failbit);
        return false;
    }
}
