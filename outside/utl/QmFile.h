#pragma once
// File helpers: byte-order marks, encoding guesses, the text-file test, the multi-file
// argument of the readers and the parts of a path.
#include <string>
#include <string_view>
#include <vector>

#include "plugin/Export.h"

class KELTO_API QmFile {
public:
    enum BomEncoding : int { NoBom = 0, BomUtf8 = 1, BomUtf16LE = 2, BomUtf16BE = 3, BomUtf32LE = 4, BomUtf32BE = 5 };

    // The byte-order mark that starts the file (a BomEncoding), NoBom when there is none or
    // the file cannot be read. With `throwOnError`, a file that cannot be read throws
    // Exception instead.
    static int GetBomEncoding(const std::string& path, bool throwOnError = false);

    // A guess at the encoding of a text file from at most its first 64 KB, with a confidence
    // from 0 to 100: a byte-order mark (100); else well-formed UTF-8 with characters beyond
    // ASCII (80 to 100); else pure ASCII without escape sequences, named "utf8" with 50,
    // because any ASCII-compatible encoding reads it alike; else ICU's charset detector. The name is the text formats' own
    // name where one matches ("utf8", "utf16le", "shiftjis", "windows-1252", ...), otherwise
    // a name the text stream accepts. False (name empty, confidence 0) when the file cannot
    // be read or nothing can be guessed.
    static bool GetEncoding(const std::string& path, std::string& name, int& confidence);

    // True for a text file: one that starts with a byte-order mark (when `bomMeansText`), or
    // whose first 30768 bytes hold no NUL. False when the file cannot be read.
    static bool IsTextFile(const std::string& path, bool bomMeansText = true);

    // The paths named by a reader's file-name argument, in order: either one path, or the
    // multi-file form "directory\0name1\0name2\0...\0\0", each name joined to the directory
    // (a name that is an absolute path stands alone). From a C string the multi-file form is
    // recognised by its first element naming an existing directory, and then the byte after
    // the first NUL is read to tell a list of names from none. So the caller's buffer must
    // hold a second NUL whenever the first element is a directory: the multi-file form always
    // does, and a lone directory must be passed as "directory\0\0" (it gives false). A
    // first element that is no directory is all that is read. From a string_view the length
    // tells. False when no path results.
    static bool GetFileNames(const char* argument, std::vector<std::string>& paths);
    static bool GetFileNames(std::string_view argument, std::vector<std::string>& paths);
};

// The parts of a path ("/" separates directories): the extension without its dot ("" when
// the last element has none; a leading dot does not start one), the last element, and the
// last element without its extension. With `extension` given, QmGetFileTitle removes that
// extension (with or without its dot, any case) only when the name ends in it.
KELTO_API std::string QmGetFileExtension(const std::string& path);
KELTO_API std::string QmGetFileName(const std::string& path);
KELTO_API std::string QmGetFileTitle(const std::string& path, const char* extension = nullptr);
