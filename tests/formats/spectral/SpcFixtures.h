#pragma once
// Writes Galactic SPC files for the reader's tests, the fuzz seeds, the benchmark and the
// sample. The layout is spelled out here apart from the reader (offsets from the published
// format description), so that a wrong offset in the reader shows as a wrong cell; bytes the
// reader must ignore hold junk.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tests/formats/spectral/SpectralFixtures.h"

namespace kelto::test::spectral {

struct SpcSub {
    int exponent = 0;  // used when the file is a multi-file; 0x80: floats
    std::uint16_t index = 0;
    float z = 0.0f, nextZ = 0.0f;
    std::vector<double> y{};  // stored as the file's y type: int16, int32 (scaled) or float
};

struct Spc {
    std::uint8_t flags = 0;     // 0x01 16-bit, 0x04 multi, 0x10 uneven z, 0x20 labels, 0x40, 0x80 x array
    std::uint8_t version = 0x4B;  // 'K' new, 'M' old
    int exponent = 0;           // new: byte (0x80 floats); old: int16 (0xFF80 floats)
    double first = 4000, last = 3998;
    std::uint32_t points = 2;
    std::optional<std::int32_t> subFileCount{};  // the header's count; none: as many as `subs`
    std::uint8_t xUnit = 1, zUnit = 0;
    std::uint32_t date = 0;
    std::string labels{};       // axis label text, used with flag 0x20
    float zIncrement = 0.0f;
    std::vector<float> x{};     // written after the header with flag 0x80
    std::vector<SpcSub> subs{SpcSub{.y = {1, 2}}};

    bool Old() const { return version == 0x4D; }
    bool Floats(int e) const { return Old() ? e == 0xFF80 : e == 0x80; }

    // The stored integer for a y value: y * 2^(bits - exponent), as the reader divides.
    static std::int64_t Scaled(double y, int bits, int exponent) {
        return static_cast<std::int64_t>(y * static_cast<double>(1ll << (bits - exponent)));
    }

    void PutValue(Bytes& out, double y, int e) const {
        if (flags & 0x01) {
            Put<std::int16_t>(out, out.size(), static_cast<std::int16_t>(Scaled(y, 16, e)));
        } else if (Floats(e)) {
            Put<float>(out, out.size(), static_cast<float>(y));
        } else {
            const auto v = static_cast<std::uint32_t>(static_cast<std::int32_t>(Scaled(y, 32, e)));
            if (Old()) {  // the high half first
                Put<std::uint16_t>(out, out.size(), static_cast<std::uint16_t>(v >> 16));
                Put<std::uint16_t>(out, out.size(), static_cast<std::uint16_t>(v));
            } else {
                Put<std::uint32_t>(out, out.size(), v);
            }
        }
    }

    Bytes Build() const {
        Bytes out;
        if (Old()) {
            Grow(out, 224, 7);
            out[0] = flags;
            out[1] = version;
            Put<std::uint16_t>(out, 2, static_cast<std::uint16_t>(exponent));
            Put<float>(out, 4, static_cast<float>(points));
            Put<float>(out, 8, static_cast<float>(first));
            Put<float>(out, 12, static_cast<float>(last));
        } else {
            Grow(out, 512, 8);
            out[0] = flags;
            out[1] = version;
            out[3] = static_cast<std::uint8_t>(exponent);
            Put<std::uint32_t>(out, 4, points);
            Put<double>(out, 8, first);
            Put<double>(out, 16, last);
            Put<std::int32_t>(out, 24, subFileCount.value_or(static_cast<std::int32_t>(subs.size())));
            out[28] = xUnit;
            out[30] = zUnit;
            Put<std::uint32_t>(out, 32, date);
            for (std::size_t i = 0; i < 30; ++i) out[218 + i] = i < labels.size() ? static_cast<std::uint8_t>(labels[i]) : 0;
            Put<float>(out, 312, zIncrement);
            for (float v : x) Put<float>(out, out.size(), v);
        }
        for (const SpcSub& s : subs) {
            const std::size_t at = out.size();
            Grow(out, 32, 9);
            const bool multi = flags & 0x04;
            out[at + 1] = static_cast<std::uint8_t>(multi ? s.exponent : 0x5A);  // junk unless a multi-file
            Put<std::uint16_t>(out, at + 2, s.index);
            Put<float>(out, at + 4, s.z);
            Put<float>(out, at + 8, s.nextZ);
            const int e = multi ? (Old() ? (s.exponent == 0x80 ? 0xFF80 : s.exponent) : s.exponent) : exponent;
            for (double y : s.y) PutValue(out, y, e);
        }
        return out;
    }
};

// A date word: minute, hour, day, month, year.
inline std::uint32_t SpcDate(int year, int month, int day, int hour, int minute) {
    return static_cast<std::uint32_t>(year) << 20 | static_cast<std::uint32_t>(month) << 16 |
           static_cast<std::uint32_t>(day) << 11 | static_cast<std::uint32_t>(hour) << 6 | static_cast<std::uint32_t>(minute);
}

// An evenly spaced single spectrum of n float points: y_i = base + i / 8.
inline Spc SpcSingle(std::uint32_t n, double first, double last, float base = 0.0f) {
    Spc s;
    s.exponent = 0x80;
    s.points = n;
    s.first = first;
    s.last = last;
    s.subs[0].y.clear();
    for (std::uint32_t i = 0; i < n; ++i) s.subs[0].y.push_back(base + i / 8.0);
    return s;
}

}  // namespace kelto::test::spectral
