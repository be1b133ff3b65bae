#include "outside/utl/QmFile.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <memory>

#include <unicode/ucnv.h>
#include <unicode/ucsdet.h>

#include "outside/utl/Exception.h"
#include "outside/utl/TextEncoding.h"

namespace {

// Reads up to `limit` bytes from the start of a file. False when it cannot be read.
bool ReadHead(const std::string& path, std::size_t limit, std::string& bytes) {
    bytes.clear();
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.resize(limit);
    in.read(bytes.data(), static_cast<std::streamsize>(limit));
    if (in.bad()) return false;
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return true;
}

// The encoding names the text formats offer; guesses are given in these spellings.
const char* const kKnownNames[] = {
    "ibm420",      "iso88596",  "windows1256", "iso88592",    "windows1250", "gb18030",  "iso2022cn",
    "big5",        "iso88595",  "koi8r",       "windows1251", "iso88597",    "windows1253", "ibm424",
    "iso88598",    "windows1255", "eucjp",     "iso2022jp",   "shiftjis",    "euckr",    "iso2022kr",
    "iso88599",    "windows1254", "utf16be",   "utf16le",     "utf32be",     "utf32le",  "utf8",
    "cp850",       "iso88591",  "windows-1252",
};

std::string Squeeze(const char* name) {
    std::string s;
    for (const char* p = name; *p; ++p) {
        char c = *p;
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) s += c;
    }
    return s;
}

// The detector's name in the formats' spelling: "Shift_JIS" -> "shiftjis", "IBM420_rtl" ->
// "ibm420", "ISO-8859-8-I" -> "iso88598" (the same bytes, logical order).
std::string KnownName(const char* detected) {
    std::string squeezed = Squeeze(detected);
    for (const char* suffix : {"rtl", "ltr"})
        if (squeezed.size() > 6 && squeezed.compare(0, 3, "ibm") == 0 && squeezed.ends_with(suffix))
            squeezed.resize(squeezed.size() - 3);
    if (squeezed == "iso88598i") squeezed = "iso88598";
    for (const char* known : kKnownNames)
        if (Squeeze(known) == squeezed) return known;
    return detected;
}

const char* KnownBomName(int kind) {
    switch (kind) {
        case QmFile::BomUtf8: return "utf8";
        case QmFile::BomUtf16LE: return "utf16le";
        case QmFile::BomUtf16BE: return "utf16be";
        case QmFile::BomUtf32LE: return "utf32le";
        case QmFile::BomUtf32BE: return "utf32be";
        default: return "";
    }
}

// A character that ordinary text holds: no NUL, no control character other than the
// white space of line and column breaks.
bool TextCharacter(std::uint32_t c) { return c >= 0x20 || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

// UTF-32 without a byte-order mark, told by its pattern: every four-byte unit is a text
// character of a plane in use (0-3, 14-16), and most lie in the first plane, so that the
// two high bytes of nearly every unit are zero. UTF-16 text of ASCII letters ("a\0b\0")
// never passes: its units would be far outside the planes. `cut`: the sample ends anywhere.
const char* Utf32ByPattern(const std::string& s, bool cut) {
    const std::size_t units = s.size() / 4;
    if (units == 0 || (!cut && s.size() % 4 != 0)) return nullptr;
    const auto* b = reinterpret_cast<const unsigned char*>(s.data());
    for (bool little : {true, false}) {
        std::size_t firstPlane = 0;
        bool ok = true;
        for (std::size_t i = 0; i < units && ok; ++i) {
            const unsigned char* u = b + 4 * i;
            const std::uint32_t c = little ? u[0] | u[1] << 8 | u[2] << 16 | static_cast<std::uint32_t>(u[3]) << 24
                                           : u[3] | u[2] << 8 | u[1] << 16 | static_cast<std::uint32_t>(u[0]) << 24;
            const std::uint32_t plane = c >> 16;
            ok = TextCharacter(c) && (plane <= 3 || (plane >= 14 && plane <= 16)) && !(c >= 0xD800 && c <= 0xDFFF);
            firstPlane += plane == 0;
        }
        if (ok && firstPlane * 2 > units) return little ? "utf32le" : "utf32be";
    }
    return nullptr;
}

// UTF-16 without a byte-order mark, told by its zero bytes: the high bytes of Latin text
// are zero, so one side of the units holds far more zero bytes than the other; and read
// with that byte order every unit is a text character and every surrogate is paired.
const char* Utf16ByPattern(const std::string& s, bool cut) {
    const std::size_t units = s.size() / 2;
    if (units == 0 || (!cut && s.size() % 2 != 0)) return nullptr;
    const auto* b = reinterpret_cast<const unsigned char*>(s.data());
    std::size_t zeroEven = 0, zeroOdd = 0;
    for (std::size_t i = 0; i < units; ++i) zeroEven += b[2 * i] == 0, zeroOdd += b[2 * i + 1] == 0;
    const bool little = zeroOdd > zeroEven;
    const std::size_t high = little ? zeroOdd : zeroEven, low = little ? zeroEven : zeroOdd;
    // Zero high bytes in at least one unit of fifty (line feeds give that even in Chinese),
    // and more than one of them: a lone NUL in ASCII text makes no UTF-16.
    if (high * 50 < units || high < std::min<std::size_t>(units, 2) || low * 2 > high) return nullptr;
    bool wantLow = false;  // a high surrogate came last
    for (std::size_t i = 0; i < units; ++i) {
        const unsigned char* u = b + 2 * i;
        const std::uint32_t c = little ? u[0] | u[1] << 8 : u[1] | u[0] << 8;
        const bool highSurrogate = c >= 0xD800 && c <= 0xDBFF, lowSurrogate = c >= 0xDC00 && c <= 0xDFFF;
        if (wantLow != lowSurrogate || !TextCharacter(c)) return nullptr;
        wantLow = highSurrogate;
    }
    return !wantLow || cut ? (little ? "utf16le" : "utf16be") : nullptr;
}

struct DetectorCloser {
    void operator()(UCharsetDetector* d) const { ucsdet_close(d); }
};

bool IsDirectory(const char* path) {
    struct stat st;
    return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

std::string Join(const std::string& directory, std::string_view name) {
    if (!name.empty() && name.front() == '/') return std::string(name);
    std::string path = directory;
    if (!path.empty() && path.back() != '/') path += '/';
    path += name;
    return path;
}

std::size_t NameStart(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? 0 : slash + 1;
}

}  // namespace

int QmFile::GetBomEncoding(const std::string& path, bool throwOnError) {
    std::string head;
    if (!ReadHead(path, 4, head)) {
        if (throwOnError) throw Exception(ExceptionMessage::translate("Could not open file %1%") % path);
        return NoBom;
    }
    const kelto::utl::ByteOrderMark* mark = kelto::utl::FindByteOrderMark(head.data(), head.size());
    return mark ? mark->kind : NoBom;
}

bool QmFile::GetEncoding(const std::string& path, std::string& name, int& confidence) {
    name.clear();
    confidence = 0;
    constexpr std::size_t kSample = 64 * 1024;
    std::string sample;
    if (!ReadHead(path, kSample, sample)) return false;
    if (const kelto::utl::ByteOrderMark* mark = kelto::utl::FindByteOrderMark(sample.data(), sample.size())) {
        name = KnownBomName(mark->kind);
        confidence = 100;
        return true;
    }
    if (sample.empty()) return false;
    bool hasNul = sample.find('\0') != std::string::npos;
    bool cut = sample.size() == kSample;
    // Pure ASCII, unless escape sequences make it one of the ISO-2022 encodings.
    bool hasEscape = sample.find('\x1B') != std::string::npos;
    bool ascii = kelto::utl::IsAscii(sample.data(), sample.size());
    if (!hasNul && !hasEscape && ascii) {
        name = "utf8";
        confidence = 50;
        return true;
    }
    if (!hasNul && !ascii && kelto::utl::IsValidUtf8(sample.data(), sample.size(), cut)) {
        int multibyte = 0;
        for (unsigned char c : sample) multibyte += c >= 0xC0;
        name = "utf8";
        confidence = multibyte >= 4 ? 100 : 80;
        return true;
    }
    // NUL bytes: UTF-32 when the pattern really is UTF-32, then UTF-16. The order matters:
    // the charset detector takes a few units of UTF-16 for UTF-32 (two ASCII letters are one
    // valid code point), and would read a short UTF-16 file as one garbage character.
    if (hasNul) {
        const char* wide = Utf32ByPattern(sample, cut);
        if (!wide) wide = Utf16ByPattern(sample, cut);
        if (wide) {
            name = wide;
            confidence = 90;
            return true;
        }
    }
    UErrorCode err = U_ZERO_ERROR;
    std::unique_ptr<UCharsetDetector, DetectorCloser> detector(ucsdet_open(&err));
    if (U_FAILURE(err)) return false;
    ucsdet_setText(detector.get(), sample.data(), static_cast<int32_t>(sample.size()), &err);
    int32_t count = 0;
    const UCharsetMatch** matches = ucsdet_detectAll(detector.get(), &count, &err);
    if (U_FAILURE(err) || !matches) return false;
    for (int32_t i = 0; i < count; ++i) {
        const char* detected = ucsdet_getName(matches[i], &err);
        int32_t level = ucsdet_getConfidence(matches[i], &err);
        if (U_FAILURE(err) || !detected) return false;
        name = KnownName(detected);
        // The pattern above is the judge of UTF-32: a detector's UTF-32 is a few lucky units.
        if (name == "utf32le" || name == "utf32be") continue;
        confidence = std::clamp<int32_t>(level, 0, 100);
        return true;
    }
    name.clear();
    return false;
}

bool QmFile::IsTextFile(const std::string& path, bool bomMeansText) {
    std::string head;
    if (!ReadHead(path, 30768, head)) return false;
    if (bomMeansText && kelto::utl::FindByteOrderMark(head.data(), head.size())) return true;
    return head.find('\0') == std::string::npos;
}

bool QmFile::GetFileNames(const char* argument, std::vector<std::string>& paths) {
    paths.clear();
    if (!argument || !*argument) return false;
    if (!IsDirectory(argument)) {
        paths.emplace_back(argument);
        return true;
    }
    std::string directory = argument;
    const char* p = argument + directory.size() + 1;
    if (!*p) {
        // A directory alone ("directory\0\0"), or the multi-file form without names: nothing
        // to read. The byte just read lies beyond the first NUL, so a caller passing a lone
        // directory must end it with two NULs, as the multi-file form is ended.
        return false;
    }
    for (; *p; p += std::strlen(p) + 1) paths.push_back(Join(directory, p));
    return true;
}

bool QmFile::GetFileNames(std::string_view argument, std::vector<std::string>& paths) {
    paths.clear();
    // Drop the terminating NULs the caller may have counted.
    while (!argument.empty() && argument.back() == '\0') argument.remove_suffix(1);
    if (argument.empty()) return false;
    std::size_t nul = argument.find('\0');
    if (nul == std::string_view::npos) {
        paths.emplace_back(argument);
        return true;
    }
    std::string directory(argument.substr(0, nul));
    for (std::size_t at = nul + 1; at <= argument.size();) {
        std::size_t end = std::min(argument.find('\0', at), argument.size());
        if (end == at) break;  // an empty name ends the list
        paths.push_back(Join(directory, argument.substr(at, end - at)));
        at = end + 1;
    }
    return !paths.empty();
}

std::string QmGetFileName(const std::string& path) { return path.substr(NameStart(path)); }

std::string QmGetFileExtension(const std::string& path) {
    std::size_t start = NameStart(path);
    std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || dot <= start) return std::string();
    return path.substr(dot + 1);
}

std::string QmGetFileTitle(const std::string& path, const char* extension) {
    std::string name = QmGetFileName(path);
    if (extension) {
        std::string ext = extension;
        if (!ext.empty() && ext.front() != '.') ext.insert(ext.begin(), '.');
        if (ext.size() > 1 && name.size() > ext.size() &&
            std::equal(ext.rbegin(), ext.rend(), name.rbegin(), [](char a, char b) {
                auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
                return lower(a) == lower(b);
            }))
            name.resize(name.size() - ext.size());
        return name;
    }
    std::size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    return name;
}
