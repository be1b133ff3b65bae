#include "tools/import/CellText.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <system_error>

#include "data/FloatString.h"
#include "tools/import/Terminal.h"

namespace kelto::cli {

namespace {

// Length of the well-formed UTF-8 sequence starting at text[at], or 0 when there is none
// there (stray continuation byte, overlong form, surrogate, beyond U+10FFFF, cut short).
std::size_t SequenceLength(std::string_view text, std::size_t at) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80) return 1;
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    if (byte(at + 1) < low || byte(at + 1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i)
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
    return length;
}

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

enum class Kind { Missing, Float, Integer, Text };

Kind KindOf(const FloatString& cell) {
    // The missing-value code of the tables: the float or integer -99, or an empty text.
    if (cell.IsMissing(false)) return Kind::Missing;
    if (cell.IsString()) return Kind::Text;
    if (cell.IsInt64()) return Kind::Integer;
    return std::isfinite(cell.GetFloatValue()) ? Kind::Float : Kind::Missing;
}

}  // namespace

std::string ShortestFloat(float value) {
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (ec != std::errc()) return "null";
    return std::string(buffer, end);
}

std::string ValidUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        std::size_t n = SequenceLength(text, i);
        if (n == 0) {
            out += kReplacement;
            ++i;
        } else {
            out.append(text.substr(i, n));
            i += n;
        }
    }
    return out;
}

void AppendJsonString(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            std::size_t n = SequenceLength(text, i);
            if (n == 0) {
                out += kReplacement;
                ++i;
            } else {
                out.append(text.substr(i, n));
                i += n;
            }
            continue;
        }
        ++i;
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    out += "\\u00";
                    out += kHex[c >> 4];
                    out += kHex[c & 0xF];
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    out += '"';
}

void AppendJsonCell(std::string& out, const FloatString& cell) {
    switch (KindOf(cell)) {
        case Kind::Missing: out += "null"; break;
        case Kind::Text: AppendJsonString(out, cell.GetStringValue(EFloatType::General, 0, true)); break;
        case Kind::Integer: out += std::to_string(cell.GetIntValue()); break;
        case Kind::Float: out += ShortestFloat(cell.GetFloatValue()); break;
    }
}

std::string DisplayCell(const FloatString& cell) {
    switch (KindOf(cell)) {
        case Kind::Missing: return std::string();
        case Kind::Text: return OneLine(ValidUtf8(cell.GetStringValue(EFloatType::General, 0, true)));
        case Kind::Integer: return std::to_string(cell.GetIntValue());
        case Kind::Float: return ShortestFloat(cell.GetFloatValue());
    }
    return std::string();
}

std::size_t DisplayWidth(std::string_view text) {
    std::size_t width = 0;
    for (unsigned char c : text)
        if ((c & 0xC0) != 0x80) ++width;
    return width;
}

std::string CutToWidth(const std::string& text, std::size_t width) {
    if (DisplayWidth(text) <= width) return text;
    if (width == 0) return std::string();
    std::size_t kept = 0, at = 0;
    while (at < text.size()) {
        std::size_t next = at + 1;
        while (next < text.size() && (static_cast<unsigned char>(text[next]) & 0xC0) == 0x80) ++next;
        if (kept + 1 == width) break;
        ++kept;
        at = next;
    }
    return text.substr(0, at) + "\xE2\x80\xA6";
}

}  // namespace kelto::cli
