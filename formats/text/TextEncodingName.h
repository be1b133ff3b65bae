#pragma once
// Helpers on encoding names shared by the text formats (not exported).
#include <cctype>
#include <string>
#include <vector>

#include "outside/utl/QmFile.h"

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

// The encoding a file evidently has, when the guess is sure enough to read by (a
// confidence of 61 or more); empty otherwise, which means the legacy encoding.
inline std::string DetectedEncoding(const std::string& path) {
    std::string detected;
    int confidence = 0;
    if (!QmFile::GetEncoding(path, detected, confidence) || confidence < 61) detected.clear();
    return detected;
}

// The first file a reader's file-name argument names (one path, or the multi-file form).
inline std::string FirstFileName(const char* argument) {
    std::vector<std::string> names;
    if (!argument || !QmFile::GetFileNames(argument, names) || names.empty()) return argument ? argument : "";
    return names.front();
}

}  // namespace kelto::text
