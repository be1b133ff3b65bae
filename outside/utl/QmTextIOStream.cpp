#include "outside/utl/QmTextIOStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include <unicode/ucnv.h>

#include "outside/utl/TextEncoding.h"

namespace kelto::utl {

namespace {

const ByteOrderMark kMarks[] = {
    {4, "UTF-32LE", "\xFF\xFE\x00\x00", 4},
    {5, "UTF-32BE", "\x00\x00\xFE\xFF", 4},
    {1, "UTF-8", "\xEF\xBB\xBF", 3},
    {2, "UTF-16LE", "\xFF\xFE", 2},
    {3, "UTF-16BE", "\xFE\xFF", 2},
};

}  // namespace

const ByteOrderMark* FindByteOrderMark(const void* data, std::size_t size) {
    for (const ByteOrderMark& m : kMarks)
        if (size >= m.length && std::memcmp(data, m.bytes, m.length) == 0) return &m;
    return nullptr;
}

const ByteOrderMark* ByteOrderMarkFor(const char* icuName) {
    for (const ByteOrderMark& m : kMarks)
        if (ucnv_compareNames(icuName, m.encoding) == 0) return &m;
    return nullptr;
}

bool IsValidUtf8(const char* text, std::size_t n, bool allowCutEnd) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    std::size_t i = 0;
    while (i < n) {
        if (p[i] < 0x80) {
            // Runs of ASCII go eight at a time.
            if (i + 8 <= n && IsAscii(text + i, 8)) {
                i += 8;
                continue;
            }
            ++i;
            continue;
        }
        unsigned char c = p[i];
        std::size_t len;
        unsigned char lo = 0x80, hi = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) len = 2;
        else if (c == 0xE0) len = 3, lo = 0xA0;
        else if (c == 0xED) len = 3, hi = 0x9F;  // no surrogates
        else if (c >= 0xE1 && c <= 0xEF) len = 3;
        else if (c == 0xF0) len = 4, lo = 0x90;
        else if (c >= 0xF1 && c <= 0xF3) len = 4;
        else if (c == 0xF4) len = 4, hi = 0x8F;
        else return false;
        for (std::size_t k = 1; k < len; ++k) {
            if (i + k >= n) return allowCutEnd;
            unsigned char t = p[i + k];
            if (k == 1 ? (t < lo || t > hi) : (t < 0x80 || t > 0xBF)) return false;
        }
        i += len;
    }
    return true;
}

}  // namespace kelto::utl

using kelto::utl::ByteOrderMark;
using kelto::utl::IsAscii;
using kelto::utl::IsValidUtf8;

// ---------------------------------------------------------------------------------------
// The legacy encoding

namespace {

constexpr const char* kDefaultLegacyEncoding = "windows-1252";

std::mutex& LegacyMutex() {
    static std::mutex m;
    return m;
}

std::string& Legacy() {
    static std::string name = kDefaultLegacyEncoding;
    return name;
}

bool IcuKnows(const std::string& name) {
    UErrorCode err = U_ZERO_ERROR;
    UConverter* c = ucnv_open(name.c_str(), &err);
    if (c) ucnv_close(c);
    return U_SUCCESS(err);
}

}  // namespace

std::string GetLegacyStreamEncoding() {
    std::lock_guard lock(LegacyMutex());
    return Legacy();
}

bool SetLegacyStreamEncoding(const std::string& name) {
    if (!name.empty() && !IcuKnows(name)) return false;
    std::lock_guard lock(LegacyMutex());
    Legacy() = name.empty() ? kDefaultLegacyEncoding : name;
    return true;
}

// ---------------------------------------------------------------------------------------
// Converters

namespace {

struct ConverterCloser {
    void operator()(UConverter* c) const { ucnv_close(c); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

Converter OpenConverter(const char* name) {
    UErrorCode err = U_ZERO_ERROR;
    Converter c(ucnv_open(name, &err));
    if (U_FAILURE(err)) c.reset();
    return c;
}

// Whether ASCII bytes always stand for themselves in an encoding, in both directions, and no
// ASCII byte ever belongs to a longer sequence or a shift state. Only then may lines of pure
// ASCII pass without conversion and line feeds be found in the raw bytes. UTF-16/32, the
// EBCDIC code pages and the stateful encodings (ISO-2022, whose CJK text is made of ASCII
// bytes; HZ; UTF-7) fail this; so does any code page that maps an ASCII byte elsewhere.
bool ComputeAsciiSafe(UConverter* cnv) {
    switch (ucnv_getType(cnv)) {
        case UCNV_SBCS:
        case UCNV_MBCS:
        case UCNV_LATIN_1:
        case UCNV_UTF8:
        case UCNV_US_ASCII:
            break;
        default:
            return false;
    }
    UErrorCode err = U_ZERO_ERROR;
    Converter probe(ucnv_clone(cnv, &err));
    if (U_FAILURE(err) || !probe) return false;
    char bytes[128];
    UChar units[128];
    for (int i = 0; i < 128; ++i) bytes[i] = static_cast<char>(i), units[i] = static_cast<UChar>(i);
    UChar decoded[256];
    int32_t n = ucnv_toUChars(probe.get(), decoded, 256, bytes, 128, &err);
    if (U_FAILURE(err) || n != 128 || std::memcmp(decoded, units, sizeof units) != 0) return false;
    char encoded[512];
    ucnv_reset(probe.get());
    n = ucnv_fromUChars(probe.get(), encoded, sizeof encoded, units, 128, &err);
    return U_SUCCESS(err) && n == 128 && std::memcmp(encoded, bytes, 128) == 0;
}

bool IsAsciiSafe(UConverter* cnv) {
    static std::mutex m;
    static std::map<std::string, bool> known;
    UErrorCode err = U_ZERO_ERROR;
    std::string name = ucnv_getName(cnv, &err);
    {
        std::lock_guard lock(m);
        auto it = known.find(name);
        if (it != known.end()) return it->second;
    }
    bool safe = ComputeAsciiSafe(cnv);
    std::lock_guard lock(m);
    known.emplace(name, safe);
    return safe;
}

// A streaming conversion from one converter to another through a UTF-16 pivot.
struct Pivot {
    UChar buffer[2048];
    UChar* source = buffer;
    UChar* target = buffer;
    void Reset() { source = target = buffer; }
};

// Converts [*src, srcEnd) and appends the result to `out`; `flush` ends the text (and any
// shift state). Returns false on a conversion failure other than running out of room.
bool ConvertAppend(UConverter* to, UConverter* from, const char*& src, const char* srcEnd, std::string& out,
                   Pivot& pivot, bool flush) {
    std::size_t room = std::max<std::size_t>(64, static_cast<std::size_t>(srcEnd - src) * 2 + 16);
    for (;;) {
        std::size_t old = out.size();
        out.resize(old + room);
        char* target = out.data() + old;
        char* targetLimit = out.data() + out.size();
        UErrorCode err = U_ZERO_ERROR;
        ucnv_convertEx(to, from, &target, targetLimit, &src, srcEnd, pivot.buffer, &pivot.source, &pivot.target,
                       pivot.buffer + std::size(pivot.buffer), false, flush, &err);
        out.resize(static_cast<std::size_t>(target - out.data()));
        if (err == U_BUFFER_OVERFLOW_ERROR) {
            room *= 2;
            continue;
        }
        return U_SUCCESS(err);
    }
}

constexpr std::size_t kChunk = 256 * 1024;

// Leaves new elements uninitialised: the read buffer is resized far ahead of what read()
// fills, and zeroing 256 KB on every open costs more than reading a small file (most of all
// when the allocator hands each open fresh pages, as under a low trim threshold).
template <class T>
struct UninitialisedAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = UninitialisedAllocator<U>;
    };
    UninitialisedAllocator() = default;
    template <class U>
    UninitialisedAllocator(const UninitialisedAllocator<U>&) noexcept {}
    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

// The high bit of each byte of `word` equal to the byte repeated in `pattern` (exact: no
// addition carries from one byte into the next).
inline std::uint64_t BytesEqual(std::uint64_t word, std::uint64_t pattern) {
    constexpr std::uint64_t kHighs = 0x8080808080808080ull;
    const std::uint64_t x = word ^ pattern;
    return ~(((x & ~kHighs) + ~kHighs) | x) & kHighs;
}

// The first CR or LF in [p, end), or null; eight bytes at a time.
const char* FindLineBreak(const char* p, const char* end) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ull;
    if constexpr (std::endian::native == std::endian::little) {
        for (; end - p >= 8; p += 8) {
            std::uint64_t word;
            std::memcpy(&word, p, 8);
            if (const std::uint64_t hits = BytesEqual(word, kOnes * '\r') | BytesEqual(word, kOnes * '\n'))
                return p + (std::countr_zero(hits) >> 3);
        }
    }
    for (; p < end; ++p)
        if (*p == '\r' || *p == '\n') return p;
    return nullptr;
}

// Finds the end of the line that starts at `p` in [p, end). A line ends at an LF, at a CR
// followed by an LF (the CR stays in the line: callers strip it) or at a CR alone, as old
// Mac programs and some instruments end lines. True with `content` (where the line's text
// ends) and `next` (where the next line starts); false when [p, end) holds no line end yet,
// or ends in a CR whose LF may still come (`final`: nothing more comes), with `resume`
// where to look again once more text is there.
bool FindLineEnd(const char* p, const char* end, bool final, const char*& content, const char*& next,
                 const char*& resume) {
    const char* q = FindLineBreak(p, end);
    if (!q) {
        resume = end;
        return false;
    }
    if (*q == '\n') {
        content = q, next = q + 1;
        return true;
    }
    if (q + 1 == end) {
        if (!final) {
            resume = q;
            return false;
        }
        content = q, next = end;
        return true;
    }
    if (q[1] == '\n')
        content = q + 1, next = q + 2;
    else
        content = q, next = q + 1;
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// The stream

struct QmTextIOStream::Impl {
    int fd = -1;
    int mode = ForReading;
    bool fail = false;
    Converter cnv;    // the file's encoding
    Converter utf8;   // our side
    bool asciiSafe = false;
    bool isUtf8 = false;  // well-formed lines pass unconverted
    int bomLength = 0;

    // Reading: raw bytes [rawPos, rawEnd) not yet consumed; decoded UTF-8 text [decPos, end)
    // not yet delivered, which always comes before the raw bytes.
    std::vector<char, UninitialisedAllocator<char>> raw;
    std::size_t rawPos = 0, rawEnd = 0;
    bool fileEnd = false;    // the file has no more bytes
    bool flushed = false;    // the converter was told the text ended
    std::string dec;
    std::size_t decPos = 0;
    Pivot pivot;

    // Writing
    std::string out;

    ~Impl() {
        if (fd >= 0) ::close(fd);
    }

    bool Open(const std::string& path, const std::string& encoding, int openMode, bool bom);
    bool SetEncoding(const char* name);

    // Reading
    bool ReadMore();
    bool DecodeMore();
    void AppendLine(std::string& target, const char* p, std::size_t n);
    bool TakeRawLine(const char*& p, std::size_t& n);
    bool GetLine(std::string& line);
    std::uint32_t GetChar();
    bool EndOfFile();
    bool Rewind();

    // Writing
    bool Write(std::string_view text);
    bool WriteOut(bool all);
    bool Close();
};

bool QmTextIOStream::Impl::SetEncoding(const char* name) {
    cnv = OpenConverter(name);
    if (!cnv) return false;
    if (!utf8) utf8 = OpenConverter("UTF-8");
    if (!utf8) return false;
    asciiSafe = IsAsciiSafe(cnv.get());
    UErrorCode err = U_ZERO_ERROR;
    isUtf8 = ucnv_getType(cnv.get()) == UCNV_UTF8;
    // Characters the encoding lacks are written as "?", as Windows programs do, rather than
    // as a code page's SUB control character that would read back as an invisible cell.
    static const UChar question[] = {u'?'};
    ucnv_setSubstString(cnv.get(), question, 1, &err);
    return true;
}

bool QmTextIOStream::Impl::Open(const std::string& path, const std::string& encoding, int openMode, bool bom) {
    mode = openMode;
    std::string name = encoding.empty() ? GetLegacyStreamEncoding() : encoding;
    if (mode == ForWriting) {
        if (!SetEncoding(name.c_str())) return false;
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0) return false;
        if (bom) {
            UErrorCode err = U_ZERO_ERROR;
            if (const ByteOrderMark* m = kelto::utl::ByteOrderMarkFor(ucnv_getName(cnv.get(), &err)))
                out.append(m->bytes, m->length);
        }
        return true;
    }
    if (mode != ForReading) return false;
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) return false;
    raw.resize(kChunk);
    while (rawEnd < 4 && !fileEnd)
        if (!ReadMore() && fail) return false;
    const char* chosen = name.c_str();
    if (const ByteOrderMark* m = kelto::utl::FindByteOrderMark(raw.data(), rawEnd)) {
        chosen = m->encoding;
        bomLength = static_cast<int>(m->length);
        rawPos = m->length;
    }
    return SetEncoding(chosen);
}

// Reads more of the file behind the unconsumed raw bytes. False when nothing was added.
bool QmTextIOStream::Impl::ReadMore() {
    if (fileEnd || fd < 0) return false;
    if (rawPos > 0) {
        std::memmove(raw.data(), raw.data() + rawPos, rawEnd - rawPos);
        rawEnd -= rawPos;
        rawPos = 0;
    }
    if (raw.size() - rawEnd < kChunk / 2) raw.resize(std::max(raw.size() * 2, rawEnd + kChunk));
    for (;;) {
        ssize_t n = ::read(fd, raw.data() + rawEnd, raw.size() - rawEnd);
        if (n > 0) {
            rawEnd += static_cast<std::size_t>(n);
            return true;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) fail = true;
        fileEnd = true;
        return false;
    }
}

// Decodes the next piece of raw text into `dec`. False when the text is exhausted.
bool QmTextIOStream::Impl::DecodeMore() {
    if (decPos > 0 && decPos == dec.size()) {
        dec.clear();
        decPos = 0;
    } else if (decPos > kChunk) {
        dec.erase(0, decPos);
        decPos = 0;
    }
    for (;;) {
        if (rawPos == rawEnd && !fileEnd) ReadMore();
        if (rawPos == rawEnd && flushed) return false;
        std::size_t before = dec.size();
        const char* src = raw.data() + rawPos;
        bool last = fileEnd;
        if (!ConvertAppend(utf8.get(), cnv.get(), src, raw.data() + rawEnd, dec, pivot, last)) fail = true;
        bool consumed = src != raw.data() + rawPos;
        rawPos = static_cast<std::size_t>(src - raw.data());
        if (last) flushed = true;
        if (dec.size() > before) return true;
        if (fail || (last && !consumed)) return false;
        // Input consumed without output (a shift sequence, a split character): go on.
    }
}

// Appends a line of raw bytes in an ASCII-safe encoding: unconverted when it is ASCII (or
// well-formed UTF-8 in UTF-8), else converted on its own, which such encodings allow.
void QmTextIOStream::Impl::AppendLine(std::string& target, const char* p, std::size_t n) {
    if (IsAscii(p, n) || (isUtf8 && IsValidUtf8(p, n))) {
        target.append(p, n);
        return;
    }
    ucnv_resetToUnicode(cnv.get());
    ucnv_resetFromUnicode(utf8.get());
    Pivot linePivot;
    if (!ConvertAppend(utf8.get(), cnv.get(), p, p + n, target, linePivot, true)) fail = true;
}

// In an ASCII-safe encoding: the next raw line including its line end (or the rest of the
// text).
bool QmTextIOStream::Impl::TakeRawLine(const char*& p, std::size_t& n) {
    std::size_t scanned = rawPos;
    for (;;) {
        const char* begin = raw.data() + rawPos;
        const char *content, *next, *resume;
        if (FindLineEnd(raw.data() + scanned, raw.data() + rawEnd, fileEnd, content, next, resume)) {
            p = begin;
            n = static_cast<std::size_t>(next - begin);
            rawPos += n;
            return true;
        }
        const std::size_t again = static_cast<std::size_t>(resume - begin);
        const bool more = ReadMore();
        scanned = rawPos + again;  // ReadMore moved the pending bytes to the front
        if (more || (fileEnd && scanned < rawEnd)) continue;  // more text, or a last CR to settle
        if (rawPos == rawEnd) return false;
        p = raw.data() + rawPos;
        n = rawEnd - rawPos;
        rawPos = rawEnd;
        return true;
    }
}

bool QmTextIOStream::Impl::GetLine(std::string& line) {
    line.clear();
    if (mode != ForReading || fd < 0) return false;
    if (asciiSafe) {
        // Decoded text comes in whole lines (each with its LF, except the last line of the
        // text); GetChar may have taken the start of the first.
        if (decPos < dec.size()) {
            // Nothing is appended to these lines before they are delivered: a CR at the end
            // is a line end of its own.
            const char* begin = dec.data() + decPos;
            const char* end = dec.data() + dec.size();
            const char *content = end, *next = end, *resume;
            FindLineEnd(begin, end, true, content, next, resume);
            line.assign(begin, static_cast<std::size_t>(content - begin));
            decPos = static_cast<std::size_t>(next - dec.data());
            return true;
        }
        const char* p;
        std::size_t n;
        if (!TakeRawLine(p, n)) return false;
        std::size_t length = n;
        if (p[n - 1] == '\n' || p[n - 1] == '\r') --length;  // a CR before an LF stays
        if (IsAscii(p, length) || (isUtf8 && IsValidUtf8(p, length))) {
            line.assign(p, length);
            return true;
        }
        // A line that needs converting: convert it together with the whole lines behind it
        // in the buffer (text with one accented letter per line would otherwise pay for a
        // conversion setup on every line); they are then delivered from `dec`.
        const char* rest = raw.data() + rawPos;
        const char* last = rest < raw.data() + rawEnd
                               ? static_cast<const char*>(memrchr(rest, '\n', raw.data() + rawEnd - rest))
                               : nullptr;
        std::size_t block = n + (last ? static_cast<std::size_t>(last + 1 - rest) : 0);
        rawPos += block - n;
        dec.clear();
        decPos = 0;
        AppendLine(dec, p, block);
        return GetLine(line);
    }
    std::size_t from = decPos;
    bool final = false;  // the text is decoded to its end
    for (;;) {
        const char* begin = dec.data() + decPos;
        const char *content, *next, *resume;
        if (FindLineEnd(dec.data() + from, dec.data() + dec.size(), final, content, next, resume)) {
            line.assign(begin, static_cast<std::size_t>(content - begin));
            decPos = static_cast<std::size_t>(next - dec.data());
            return true;
        }
        const std::size_t again = static_cast<std::size_t>(resume - begin);
        if (!DecodeMore()) {
            if (!final && decPos + again < dec.size()) {
                final = true;  // a CR was last: it ends the last line
                from = decPos + again;
                continue;
            }
            if (decPos == dec.size()) return false;
            line.assign(dec, decPos, std::string::npos);
            decPos = dec.size();
            return true;
        }
        from = decPos + again;  // DecodeMore may have moved the pending text to the front
    }
}

std::uint32_t QmTextIOStream::Impl::GetChar() {
    if (mode != ForReading || fd < 0) return kEndOfStream;
    if (decPos == dec.size()) {
        if (asciiSafe) {
            if (rawPos == rawEnd && !ReadMore()) return kEndOfStream;
            unsigned char b = static_cast<unsigned char>(raw[rawPos]);
            if (b < 0x80) {
                ++rawPos;
                return b;
            }
            // A line with other characters is decoded whole, then delivered from `dec`.
            const char* p;
            std::size_t n;
            dec.clear();
            decPos = 0;
            if (!TakeRawLine(p, n)) return kEndOfStream;
            AppendLine(dec, p, n);
            if (dec.empty()) return kEndOfStream;
        } else if (!DecodeMore()) {
            return kEndOfStream;
        }
    }
    // `dec` holds well-formed UTF-8: every path into it checks or converts.
    const auto* s = reinterpret_cast<const unsigned char*>(dec.data()) + decPos;
    std::size_t left = dec.size() - decPos;
    std::uint32_t c = s[0];
    std::size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    if (len > left) len = left;
    if (len == 2) c = ((c & 0x1F) << 6) | (s[1] & 0x3F);
    else if (len == 3) c = ((c & 0x0F) << 12) | ((s[1] & 0x3F) << 6) | (s[2] & 0x3F);
    else if (len == 4) c = ((c & 0x07) << 18) | ((s[1] & 0x3F) << 12) | ((s[2] & 0x3F) << 6) | (s[3] & 0x3F);
    decPos += len;
    return c;
}

bool QmTextIOStream::Impl::EndOfFile() {
    if (mode != ForReading || fd < 0) return true;
    if (decPos < dec.size()) return false;
    if (asciiSafe) {
        if (rawPos < rawEnd) return false;
        return !ReadMore();
    }
    // Bytes may be left that decode to nothing (a closing shift sequence).
    return !DecodeMore();
}

bool QmTextIOStream::Impl::Rewind() {
    if (mode != ForReading || fd < 0) return false;
    if (::lseek(fd, bomLength, SEEK_SET) < 0) {
        fail = true;
        return false;
    }
    rawPos = rawEnd = 0;
    fileEnd = flushed = false;
    dec.clear();
    decPos = 0;
    pivot.Reset();
    ucnv_reset(cnv.get());
    ucnv_reset(utf8.get());
    return true;
}

bool QmTextIOStream::Impl::WriteOut(bool all) {
    if (!all && out.size() < kChunk) return !fail;
    std::size_t done = 0;
    while (done < out.size()) {
        ssize_t n = ::write(fd, out.data() + done, out.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            fail = true;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    out.clear();
    return !fail;
}

bool QmTextIOStream::Impl::Write(std::string_view text) {
    if (mode != ForWriting || fd < 0) {
        fail = true;
        return false;
    }
    if (asciiSafe && (IsAscii(text.data(), text.size()) || (isUtf8 && IsValidUtf8(text.data(), text.size())))) {
        out.append(text);
    } else {
        // Stateless encodings convert each text on its own; stateful ones keep their shift
        // state from one text to the next, and Close ends it.
        const char* src = text.data();
        if (asciiSafe) {
            ucnv_resetToUnicode(utf8.get());
            ucnv_resetFromUnicode(cnv.get());
            Pivot local;
            if (!ConvertAppend(cnv.get(), utf8.get(), src, src + text.size(), out, local, true)) fail = true;
        } else if (!ConvertAppend(cnv.get(), utf8.get(), src, src + text.size(), out, pivot, false)) {
            fail = true;
        }
    }
    return WriteOut(false);
}

bool QmTextIOStream::Impl::Close() {
    if (fd < 0) return !fail;
    if (mode == ForWriting) {
        if (!asciiSafe && cnv) {
            const char* none = "";
            if (!ConvertAppend(cnv.get(), utf8.get(), none, none, out, pivot, true)) fail = true;
        }
        WriteOut(true);
    }
    if (::close(fd) != 0 && mode == ForWriting) fail = true;
    fd = -1;
    return !fail;
}

QmTextIOStream::QmTextIOStream(const std::string& path, const std::string& encoding, int mode, bool byteOrderMark)
    : impl_(std::make_unique<Impl>()) {
    if (!impl_->Open(path, encoding, mode, byteOrderMark)) {
        impl_->fail = true;
        if (impl_->fd >= 0) ::close(impl_->fd);
        impl_->fd = -1;
    }
}

QmTextIOStream::~QmTextIOStream() {
    if (impl_) impl_->Close();
}

QmTextIOStream::QmTextIOStream(QmTextIOStream&&) noexcept = default;
QmTextIOStream& QmTextIOStream::operator=(QmTextIOStream&& other) noexcept {
    if (this != &other) {
        if (impl_) impl_->Close();
        impl_ = std::move(other.impl_);
    }
    return *this;
}

bool QmTextIOStream::Fail() const { return !impl_ || impl_->fail; }

std::string QmTextIOStream::GetEncoding() const {
    if (!impl_ || !impl_->cnv) return std::string();
    UErrorCode err = U_ZERO_ERROR;
    const char* name = ucnv_getName(impl_->cnv.get(), &err);
    return U_SUCCESS(err) && name ? name : "";
}

int QmTextIOStream::GetBomLength() const { return impl_ ? impl_->bomLength : 0; }

bool QmTextIOStream::GetLine(std::string& line) {
    if (!impl_) {
        line.clear();
        return false;
    }
    return impl_->GetLine(line);
}

std::uint32_t QmTextIOStream::GetChar() { return impl_ ? impl_->GetChar() : kEndOfStream; }

bool QmTextIOStream::EndOfFile() { return !impl_ || impl_->EndOfFile(); }

bool QmTextIOStream::Rewind() { return impl_ && impl_->Rewind(); }

bool QmTextIOStream::WriteString(const char* text) {
    return WriteString(std::string_view(text ? text : ""));
}

bool QmTextIOStream::WriteString(std::string_view text) { return impl_ && impl_->Write(text); }

bool QmTextIOStream::Flush() {
    if (!impl_ || impl_->mode != ForWriting || impl_->fd < 0) return false;
    return impl_->WriteOut(true);
}

bool QmTextIOStream::Close() { return impl_ && impl_->Close(); }
