#pragma once
// Values of JCAMP-DX data lines: plain numbers (AFFN) and the compressed ASDF forms, where one
// character stands for a value's sign and first digit (SQZ: "@", "A"-"I", "a"-"i"), a
// difference from the previous value (DIF: "%", "J"-"R", "j"-"r") or a repeat count of the
// value before it (DUP: "S"-"Z", "s"). [JCAMP-DX 4.24, 5.4 "ASDF compression"]
#include <cstdint>
#include <string>
#include <string_view>

namespace kelto::jcamp {

struct DecodedValue {
    bool found = false;    // false: nothing but blanks was left on the line
    bool missing = false;  // "?" (or a lone ","): no value, one copy
    bool dif = false;      // a difference to add to the previous value
    double value = 0.0;
    // How many copies (DUP); at least 1. Saturates far beyond any point count.
    std::int64_t count = 1;
};

// Codes a data line can end with; the reader maps them onto its own error codes.
enum class DecodeError { None, IllegalCharacter, InvalidStrictCharacter, DoubleDup };

class ValueDecoder {
public:
    // `commaSeparates`: in (XY..XY) tables a "," separates values instead of starting a
    // fraction.
    explicit ValueDecoder(bool commaSeparates = false) : commaSeparates_(commaSeparates) {}

    // Reads the next value of `line` from `pos` and moves `pos` past it and past the blanks
    // and the one ";" or "," that may follow. `strict`: the value must start like a plain
    // number (used for the x of table pairs).
    DecodeError Next(std::string_view line, std::size_t& pos, bool strict, DecodedValue& out);

private:
    bool commaSeparates_;
    std::string digits_;  // the number's text, rebuilt for an exact conversion
};

// Writes x as printf's "%g" would (six significant digits) and returns the end; at most 16
// characters, not terminated. Values a spectrum's axis holds take an exact integer path; the
// rest, and values within rounding of a tie, go through std::to_chars.
char* FormatG6(double x, char* out);

}  // namespace kelto::jcamp
