#pragma once
// Builds MAT-files for the reader's tests and fuzz seeds: level 4 matrices in either byte
// order and level 5 files of matrix elements, plain or zlib-compressed. Layouts from "MAT-File
// Format" (The MathWorks).
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/ByteOrder.h"

namespace kelto::test::mat {

using Bytes = std::vector<std::uint8_t>;

inline void Append(Bytes& out, const void* p, std::size_t n) {
    const auto* b = static_cast<const std::uint8_t*>(p);
    out.insert(out.end(), b, b + n);
}

template <typename T>
void Put(Bytes& out, T value, bool big = false) {
    std::uint8_t b[sizeof(T)];
    if (big) platform::StoreBE<T>(b, value);
    else platform::StoreLE<T>(b, value);
    Append(out, b, sizeof b);
}

// Level 4: header, name, values (column-major) as elements of precision P.
struct Level4 {
    std::string name;
    int rows = 0, columns = 0;
    int precision = 0;  // 0 double, 1 single, 2 i32, 3 i16, 4 u16, 5 u8
    int type = 0;       // 0 full, 1 text, 2 sparse
    bool big = false;
    int imaginary = 0;
    std::vector<double> values;  // column-major; complex: real then imaginary
    int nameLength = -1;         // -1: the name's length + 1

    Bytes Build() const {
        Bytes out;
        Put<std::int32_t>(out, (big ? 1000 : 0) + precision * 10 + type, big);
        Put<std::int32_t>(out, rows, big);
        Put<std::int32_t>(out, columns, big);
        Put<std::int32_t>(out, imaginary, big);
        Put<std::int32_t>(out, nameLength >= 0 ? nameLength : static_cast<int>(name.size() + 1), big);
        Append(out, name.c_str(), name.size() + 1);
        for (double v : values) {
            switch (precision) {
                case 0: Put<double>(out, v, big); break;
                case 1: Put<float>(out, static_cast<float>(v), big); break;
                case 2: Put<std::int32_t>(out, static_cast<std::int32_t>(v), big); break;
                case 3: Put<std::int16_t>(out, static_cast<std::int16_t>(v), big); break;
                case 4: Put<std::uint16_t>(out, static_cast<std::uint16_t>(v), big); break;
                default: out.push_back(static_cast<std::uint8_t>(v)); break;
            }
        }
        return out;
    }
};

// A level 4 text matrix: one string per row, padded with spaces.
inline Level4 Level4Text(const std::string& name, const std::vector<std::string>& rows, int precision = 0) {
    Level4 m{name, static_cast<int>(rows.size()), 0, precision, 1, false, 0, {}};
    for (const auto& r : rows) m.columns = std::max<int>(m.columns, static_cast<int>(r.size()));
    for (int c = 0; c < m.columns; ++c)
        for (const auto& r : rows) m.values.push_back(c < static_cast<int>(r.size()) ? static_cast<unsigned char>(r[c]) : ' ');
    return m;
}

// Level 5 pieces.
enum : std::uint32_t { miINT8 = 1, miUINT8 = 2, miINT16 = 3, miUINT16 = 4, miINT32 = 5, miUINT32 = 6,
                       miSINGLE = 7, miDOUBLE = 9, miINT64 = 12, miUINT64 = 13, miMATRIX = 14, miCOMPRESSED = 15 };
enum : std::uint32_t { mxCELL = 1, mxCHAR = 4, mxSPARSE = 5, mxDOUBLE = 6, mxINT64 = 14 };

inline Bytes Header5(bool big = false, const char* text = "MATLAB 5.0 MAT-file, Platform: test") {
    Bytes out(128, ' ');
    std::memcpy(out.data(), text, std::strlen(text));
    std::memset(out.data() + 116, 0, 8);
    Bytes tail;
    Put<std::uint16_t>(tail, 0x0100, big);
    Put<std::uint16_t>(tail, 0x4D49, big);  // "MI"
    std::memcpy(out.data() + 124, tail.data(), 4);
    return out;
}

// A tagged element padded to 8 bytes.
inline Bytes Element(std::uint32_t type, const Bytes& data, bool big = false) {
    Bytes out;
    Put<std::uint32_t>(out, type, big);
    Put<std::uint32_t>(out, static_cast<std::uint32_t>(data.size()), big);
    Append(out, data.data(), data.size());
    while (out.size() % 8) out.push_back(0);
    return out;
}

template <typename T>
Bytes Values(const std::vector<T>& v, bool big = false) {
    Bytes out;
    for (T x : v) Put<T>(out, x, big);
    return out;
}

// A miMATRIX element: flags, dimensions, name, then the given parts (already tagged).
inline Bytes Matrix(const std::string& name, std::uint32_t arrayClass, std::vector<std::int32_t> dims,
                    const std::vector<Bytes>& parts, bool big = false, std::uint32_t extraFlags = 0) {
    Bytes body = Element(miUINT32, Values<std::uint32_t>({arrayClass | extraFlags, 0}, big), big);
    Bytes d = Element(miINT32, Values<std::int32_t>(dims, big), big);
    Append(body, d.data(), d.size());
    Bytes n = Element(miINT8, Bytes(name.begin(), name.end()), big);
    Append(body, n.data(), n.size());
    for (const Bytes& p : parts) Append(body, p.data(), p.size());
    return Element(miMATRIX, body, big);
}

inline Bytes DoubleMatrix(const std::string& name, int rows, int cols, const std::vector<double>& v, bool big = false) {
    return Matrix(name, mxDOUBLE, {rows, cols}, {Element(miDOUBLE, Values(v, big), big)}, big);
}

inline Bytes CharMatrix(const std::string& name, const std::vector<std::string>& rows) {
    std::size_t width = 0;
    for (const auto& r : rows) width = std::max(width, r.size());
    std::vector<std::uint16_t> chars;
    for (std::size_t c = 0; c < width; ++c)
        for (const auto& r : rows) chars.push_back(c < r.size() ? static_cast<unsigned char>(r[c]) : ' ');
    return Matrix(name, mxCHAR, {static_cast<int>(rows.size()), static_cast<int>(width)},
                  {Element(miUINT16, Values(chars))});
}

// A miCOMPRESSED element holding `element` (not padded, as MATLAB writes it).
inline Bytes Compressed(const Bytes& element, bool big = false) {
    uLongf size = compressBound(element.size());
    Bytes z(size);
    compress2(z.data(), &size, element.data(), element.size(), 9);
    z.resize(size);
    Bytes out;
    Put<std::uint32_t>(out, miCOMPRESSED, big);
    Put<std::uint32_t>(out, static_cast<std::uint32_t>(z.size()), big);
    Append(out, z.data(), z.size());
    return out;
}

inline Bytes Level5(const std::vector<Bytes>& elements, bool big = false) {
    Bytes out = Header5(big);
    for (const Bytes& e : elements) Append(out, e.data(), e.size());
    return out;
}

}  // namespace kelto::test::mat
