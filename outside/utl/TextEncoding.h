#pragma once
// Byte-level helpers shared by the text stream and the file helpers (not exported).
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kelto::utl {

// Byte-order marks, longest first where one is a prefix of another (UTF-32LE before UTF-16LE).
struct ByteOrderMark {
    int kind;             // QmFile::BomEncoding value
    const char* encoding; // ICU name
    const char* bytes;
    std::size_t length;
};

// The mark at the start of `data`, or null.
const ByteOrderMark* FindByteOrderMark(const void* data, std::size_t size);
// The mark written for an encoding (ICU canonical name), or null when it has none.
const ByteOrderMark* ByteOrderMarkFor(const char* icuName);

inline bool IsAscii(const char* p, std::size_t n) {
    std::uint64_t acc = 0;
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        std::uint64_t a, b, c, d;
        std::memcpy(&a, p + i, 8);
        std::memcpy(&b, p + i + 8, 8);
        std::memcpy(&c, p + i + 16, 8);
        std::memcpy(&d, p + i + 24, 8);
        acc |= a | b | c | d;
    }
    for (; i + 8 <= n; i += 8) {
        std::uint64_t a;
        std::memcpy(&a, p + i, 8);
        acc |= a;
    }
    unsigned char tail = 0;
    for (; i < n; ++i) tail |= static_cast<unsigned char>(p[i]);
    return ((acc & 0x8080808080808080ull) | (tail & 0x80)) == 0;
}

// Well-formed UTF-8 (no overlongs, no surrogates, nothing above U+10FFFF). With
// `allowCutEnd`, a sequence cut off by the end of the data is accepted.
bool IsValidUtf8(const char* p, std::size_t n, bool allowCutEnd = false);

}  // namespace kelto::utl
