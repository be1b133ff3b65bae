#pragma once
// Text files in any encoding, read and written as UTF-8.
//
// Encodings are named as ICU names them, case and punctuation aside ("utf8", "UTF-16LE",
// "shiftjis", "windows-1252", "iso2022jp", "ibm420", ...); the empty name means the legacy
// encoding of stored 8-bit text (GetLegacyStreamEncoding). Reading:
//   - a byte-order mark at the very start (UTF-8, UTF-16LE/BE, UTF-32LE/BE) selects that
//     encoding whatever was asked, and is skipped; Rewind restarts after it;
//   - GetLine gives the next line without its line end: an LF, a CR LF (the CR is kept:
//     callers strip it) or a CR alone (dropped, as older Mac programs end lines with it);
//   - GetChar gives the next code point, kEndOfStream at the end;
//   - bytes that do not decode become U+FFFD (or the code page's own substitute), so what
//     comes out is always valid UTF-8.
// Writing converts UTF-8 to the encoding; characters it cannot represent become "?". Nothing
// is added: "\n" is written as the encoding's line feed and no CR is inserted.
//
// A failed open, read or write puts the stream in a failure state (operator!, Fail); reaching
// the end of the text is not a failure.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "plugin/Export.h"

// The encoding of stored 8-bit text, used wherever an encoding name is empty: by default
// "windows-1252". A host sets it once at start; an unknown name is refused (false) and the
// previous one kept; the empty name restores the default.
KELTO_API std::string GetLegacyStreamEncoding();
KELTO_API bool SetLegacyStreamEncoding(const std::string& name);

class KELTO_API QmTextIOStream {
public:
    enum OpenMode : int { ForReading = 0, ForWriting = 1 };
    static constexpr std::uint32_t kEndOfStream = 0xFFFFFFFF;

    // Opens `path` (UTF-8) for reading or writing (created or truncated). `byteOrderMark`:
    // when writing a UTF-8, UTF-16 or UTF-32 encoding, start the file with a byte-order mark;
    // ignored otherwise and when reading.
    QmTextIOStream(const std::string& path, const std::string& encoding, int mode = ForReading,
                   bool byteOrderMark = false);
    ~QmTextIOStream();  // writes what is buffered and closes
    QmTextIOStream(QmTextIOStream&&) noexcept;
    QmTextIOStream& operator=(QmTextIOStream&&) noexcept;
    QmTextIOStream(const QmTextIOStream&) = delete;
    QmTextIOStream& operator=(const QmTextIOStream&) = delete;

    bool Fail() const;
    bool operator!() const { return Fail(); }
    explicit operator bool() const { return !Fail(); }

    // The encoding in effect (ICU's name for it; after a byte-order mark, the mark's).
    std::string GetEncoding() const;
    // Length of the byte-order mark that was skipped when reading, 0 for none.
    int GetBomLength() const;

    // The next line, without its line end. False (and `line` empty) when no text is left.
    bool GetLine(std::string& line);
    // The next code point, or kEndOfStream when no text is left.
    std::uint32_t GetChar();
    // True when no text is left to read.
    bool EndOfFile();
    // Back to the first character after the byte-order mark.
    bool Rewind();

    bool WriteString(const char* text);
    bool WriteString(std::string_view text);
    // Writes what is buffered; the stream stays open.
    bool Flush();
    // Writes what is buffered (ending any shift state of the encoding) and closes. Returns
    // false when that or any earlier write failed.
    bool Close();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
