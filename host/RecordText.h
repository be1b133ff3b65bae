#pragma once
// Reading the texts of a format record, shared by the loader and the import helper.
#include <cstddef>
#include <cstring>
#include <string>

#include "plugin/QmImport.h"

namespace kelto::host {

// Extensions a Python plug-in may have, and slots of the helper's format table.
inline constexpr std::size_t kMaxExtensions = 10;

// Calls `f` with each of the record's extensions, in order, at most `limit` of them.
template <typename F>
void ForEachExtension(const QmImportFileFormatInfo& info, F&& f, std::size_t limit = static_cast<std::size_t>(-1)) {
    const char* p = info.extensions;
    if (!p) return;
    for (int i = 0; i < info.extensionCount && static_cast<std::size_t>(i) < limit; ++i) {
        f(p);
        p += std::strlen(p) + 1;
    }
}

// The extension of the last element of `path`, from its last '.', dot included; empty when
// the name has none.
std::string ExtensionOf(const std::string& path);

// Whether one of the record's extensions equals `extension`, case ignored.
bool HasExtension(const QmImportFileFormatInfo& info, const std::string& extension);

// Cuts `text` to at most `limit` bytes without splitting a UTF-8 sequence.
inline void CutUtf8(std::string& text, std::size_t limit) {
    if (text.size() <= limit) return;
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    text.resize(end);
}

// Copies `text` into a fixed field of `size` bytes, cut (at a character boundary) so that
// the terminating NUL fits.
inline void CopyField(char* field, std::size_t size, const char* text) {
    if (size == 0) return;
    std::string s = text ? text : "";
    CutUtf8(s, size - 1);
    std::memcpy(field, s.c_str(), s.size() + 1);
}

}  // namespace kelto::host
