#pragma once
// The value of one table cell: a single-precision number, a 64-bit integer, a text or missing.
// Missing has no tag of its own: it is the float -99, the integer -99 or an empty text, the
// missing-value code of the whole system. A cell is a type word and one 8-byte value, so that
// numeric cells stay small; only texts live apart (row memory, see FloatStringVector.h),
// owned by their cell.
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>

#include "plugin/Export.h"

struct EFloatType {
    // Any value other than Fixed and Scientific formats like General.
    enum Enum { Fixed = 0, Scientific = 1, General = 2 };
};

class KELTO_API FloatString {
public:
    static constexpr float kMissing = -99.0f;

    FloatString() noexcept : type_(kFloat) { value_.f = kMissing; }
    FloatString(const FloatString& other);
    // Moves leave `other` as the missing float (what Transfer does); vectors of cells rely on
    // them to grow without copying texts.
    FloatString(FloatString&& other) noexcept : type_(other.type_), value_(other.value_) { other.Clear(); }
    FloatString& operator=(const FloatString& other);
    FloatString& operator=(FloatString&& other) noexcept {
        Transfer(other);
        return *this;
    }
    ~FloatString() {
        if (type_ == kText) DeleteText(value_.s);
    }

    // NaN and infinities become the missing float; subnormals and zeros become 0.
    void Set(float v) noexcept {
        FreeText();
        type_ = kFloat;
        value_.f = Normalised(v);
    }
    // As Set(float), except that a whole number strictly between 999990 and 2^63 is kept
    // exactly as a 64-bit integer instead of being rounded to a float.
    void Set(double v) noexcept;
    void Set(std::int64_t v) noexcept {
        FreeText();
        type_ = kInt64;
        value_.i = v;
    }
    // Decides what a text is: blank is missing; a number is stored as a number (large whole
    // numbers as exact integers); numbers written with leading zeros ("007") stay texts so
    // that the zeros survive; anything else is a text, with Unicode spaces replaced by ASCII
    // ones, normalised to NFC and trimmed. A null pointer counts as blank.
    void Set(const char* text);
    void Set(const std::string& text) { Set(text.c_str()); }
    // The same decision as Set(const char*), always through the general parser, without the
    // shortcut for plain decimal numbers: the reference that shortcut must agree with.
    void SetGeneral(const char* text);

    float GetFloatValue() const;
    std::int64_t GetIntValue() const;
    std::string GetStringValue(EFloatType::Enum type, int precision, bool keepMissing) const;

    // True for numbers and integers, and for texts kept for their leading zeros ("007").
    bool IsFloat() const;
    bool IsString() const { return type_ == kText; }
    bool IsInt64() const { return type_ == kInt64; }
    bool IsMissing(bool textIsMissing) const;

    // Moves the content of `other` here; `other` becomes the missing float.
    void Transfer(FloatString& other) noexcept;

    // One byte of type, then the 4-byte float, the text, or the 8-byte integer.
    bool WriteToStream(std::ostream& out) const;
    // Reads what WriteToStream wrote. An unknown type byte fails the stream and leaves the
    // cell missing.
    bool ReadFromStream(std::istream& in);
    // The size of the cell's stream form in bytes.
    std::size_t StreamBytes() const { return type_ == kText ? 5 + value_.s->size() : type_ == kInt64 ? 9 : 5; }

private:
    enum : std::uint32_t { kFloat = 0, kText = 1, kInt64 = 2 };

    template <typename... A>
    static std::string* NewText(A&&... a);
    static void DeleteText(std::string* s) noexcept;
    static float Normalised(float v) noexcept;
    void SetNumber(double v) noexcept;
    // `p`: the text after its leading white space, not empty.
    bool SetPlainNumber(const char* p);
    void SetParsed(const char* p);
    void FreeText() noexcept {
        if (type_ == kText) {
            DeleteText(value_.s);
            type_ = kFloat;
        }
    }
    void Clear() noexcept {
        type_ = kFloat;
        value_.f = kMissing;
    }
    void SetMissing() noexcept {
        FreeText();
        Clear();
    }
    // `unicodeSpaces`: look for Unicode spaces first (a number may hide behind them).
    void SetNonNumericText(const char* text, bool unicodeSpaces);
    void TakeText(std::string&& text);
    bool TextIsNumber() const;

    std::uint32_t type_;
    union {
        float f;
        std::string* s;
        std::int64_t i;
    } value_;
};

static_assert(sizeof(FloatString) == 16, "a cell is a type word and one 8-byte value");

inline float FloatString::Normalised(float v) noexcept {
    // One classification: finite and normal values pass, zero and subnormals flush to 0.
    float a = v < 0 ? -v : v;
    if (a >= 1.17549435e-38f && a <= 3.40282347e+38f) return v;
    if (a < 1.17549435e-38f) return 0.0f;  // zero or subnormal
    return kMissing;                       // infinity or NaN (NaN fails both tests)
}
