// The text stream under arbitrary bytes. The first byte picks one of the encodings of the
// text formats' table; the rest is the file. Every way of reading must end, and what comes
// out must be well-formed UTF-8 (or code points) whichever way it is read.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "outside/utl/QmTextIOStream.h"

namespace {

const char* const kEncodings[] = {
    "ibm420",   "iso88596",    "windows1256", "iso88592",  "windows1250", "gb18030",     "iso2022cn", "big5",
    "iso88595", "koi8r",       "windows1251", "iso88597",  "windows1253", "ibm424",      "iso88598",  "windows1255",
    "eucjp",    "iso2022jp",   "shiftjis",    "euckr",     "iso2022kr",   "",            "iso88599",  "windows1254",
    "utf16be",  "utf16le",     "utf32be",     "utf32le",   "utf8",        "cp850",       "iso88591",  "windows-1252",
};

bool WellFormedUtf8(const std::string& s) {
    for (std::size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        for (std::size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > (1u << 20)) return 0;
    const char* encoding = kEncodings[data[0] % 32];
    // An in-memory file, reached by path as the stream wants it.
    int fd = memfd_create("text", 0);
    if (fd < 0) return 0;
    if (write(fd, data + 1, size - 1) != static_cast<ssize_t>(size - 1)) {
        close(fd);
        return 0;
    }
    std::string path = "/proc/self/fd/" + std::to_string(fd);

    QmTextIOStream in(path, encoding);
    std::string line, all;
    std::size_t lines = 0;
    while (in.GetLine(line)) {
        if (!WellFormedUtf8(line)) std::abort();
        all += line;
        all += '\n';
        if (++lines > size + 1) std::abort();  // more lines than bytes: a loop
    }
    if (!in.EndOfFile()) std::abort();
    // Character by character after a rewind gives the same text.
    if (in.Rewind()) {
        std::u32string chars;
        for (std::uint32_t c; (c = in.GetChar()) != QmTextIOStream::kEndOfStream;) {
            if (c > 0x10FFFF) std::abort();
            chars += static_cast<char32_t>(c);
            if (chars.size() > 4 * size + 4) std::abort();
        }
        // Line ends: an LF, or a CR not followed by an LF (a CR alone ends a line too).
        std::size_t newlines = 0;
        for (std::size_t i = 0; i < chars.size(); ++i)
            newlines += chars[i] == U'\n' || (chars[i] == U'\r' && (i + 1 == chars.size() || chars[i + 1] != U'\n'));
        if (newlines + 1 < lines || newlines > lines) std::abort();
    }
    // Mixed: a character, then lines, then characters.
    if (in.Rewind()) {
        in.GetChar();
        in.GetLine(line);
        in.GetChar();
        while (in.GetLine(line))
            if (!WellFormedUtf8(line)) std::abort();
    }
    close(fd);
    return 0;
}
