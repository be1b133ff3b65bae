#pragma once
// Helpers on encoding names shared by the text formats (not exported).
#include <cctype>
#include <string>

namespace kelto::text {

// Whether text in this encoding naturally holds NUL bytes (UTF-16, UTF-32 and their
// relatives), so that a NUL says nothing about the file being binary. Names are compared
// as ICU compares them: case, "-" and "_" do not matter.
inline bool IsWideEncoding(const std::string& name) {
    std::string key;
    for (char c : name)
        if (std::isalnum(static_cast<unsigned char>(c))) key += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const char* prefix : {"utf16", "utf32", "ucs2", "ucs4", "unicode"})
        if (key.rfind(prefix, 0) == 0) return true;
    return false;
}

}  // namespace kelto::text
