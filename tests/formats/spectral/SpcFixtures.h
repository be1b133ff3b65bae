#pragma once
// Writes Galactic SPC files for the reader's tests, the fuzz seeds, the benchmark and the
// sample. The layout is spelled out here apart from the reader (offsets from the published
// format description), so that a wrong offset in the reader shows as a wrong cell; bytes the
// reader must ignore hold junk.
#include <cmath>
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

namespace kelto::test::spectral {

// The SPC fuzz harness's input: a mode byte, the split point of two files (2 bytes), the bytes.
inline Bytes SpcFuzzInput(std::uint8_t mode, const Bytes& first, const Bytes* second = nullptr) {
    Bytes out{mode};
    Put<std::uint16_t>(out, 1, static_cast<std::uint16_t>(first.size()));
    out.insert(out.end(), first.begin(), first.end());
    if (second) out.insert(out.end(), second->begin(), second->end());
    return out;
}

// Three spectra of 40 points from 1000 to 1780 cm-1, a minute apart from 2024-06-01 10:00.
inline Spc SpcSample() {
    Spc s{.flags = 0x04 | 0x10, .exponent = 0x80, .first = 1000, .last = 1780, .points = 40, .zUnit = 5,
          .date = SpcDate(2024, 6, 1, 10, 0)};
    s.subs.clear();
    for (std::uint16_t k = 0; k < 3; ++k) {
        SpcSub sub{.exponent = 0x80, .index = k, .z = static_cast<float>(k)};
        for (int i = 0; i < 40; ++i) sub.y.push_back(0.5 + 0.25 * k + std::sin(i / 6.0) / 4);
        s.subs.push_back(std::move(sub));
    }
    return s;
}

inline std::vector<std::pair<std::string, Bytes>> CommittedSpcFixtures() {
    std::vector<std::pair<std::string, Bytes>> out;
    Spc oldMulti{.flags = 0x04, .version = 0x4D, .first = 200, .last = 210, .points = 6};
    oldMulti.subs.clear();
    for (int k = 0; k < 3; ++k) oldMulti.subs.push_back(SpcSub{.exponent = k, .y = {0.1, 0.2, 0.3, 0.2, 0.1, -0.1}});
    Spc xArray = SpcSingle(5, 0, 0, 1);
    xArray.flags = 0x80 | 0x20;
    xArray.labels = std::string("Shift\0Counts\0", 13);
    xArray.x = {100, 150, 400, 900, 1600};
    Spc evenZ{.flags = 0x04 | 0x01, .exponent = 10, .points = 4, .zUnit = 4, .date = SpcDate(2020, 12, 31, 23, 59),
              .zIncrement = 0};
    evenZ.subs.clear();
    for (std::uint16_t k = 0; k < 4; ++k)
        evenZ.subs.push_back(SpcSub{.exponent = 10, .index = k, .z = 30.0f * k, .nextZ = 30.0f * (k + 1), .y = {1, 2, 3, 4}});
    const Bytes one = SpcSingle(1, 5, 5).Build();
    const Bytes a = SpcSingle(8, 1000, 1700).Build(), b = SpcSingle(6, 1000, 1500, 2).Build();
    Bytes cut = SpcSample().Build();
    cut.resize(cut.size() - 70);
    out.push_back({"fuzz/corpus/spc/old_multi_three.spc", SpcFuzzInput(0, oldMulti.Build())});
    out.push_back({"fuzz/corpus/spc/x_array_labels.spc", SpcFuzzInput(0, xArray.Build())});
    out.push_back({"fuzz/corpus/spc/even_z_seconds_16bit.spc", SpcFuzzInput(0, evenZ.Build())});
    out.push_back({"fuzz/corpus/spc/one_point_twice.spc", SpcFuzzInput(1, one, &one)});
    out.push_back({"fuzz/corpus/spc/two_files_intervals_average.spc", SpcFuzzInput(0x04 | 0x10 | 0x40, a, &b)});
    out.push_back({"fuzz/corpus/spc/defaults_into_empty_record.spc", SpcFuzzInput(0x02, SpcSample().Build())});
    out.push_back({"fuzz/corpus/spc/cut_in_last_values.spc", SpcFuzzInput(0, cut)});
    out.push_back({"samples/galactic_three_spectra.spc", SpcSample().Build()});
    return out;
}

}  // namespace kelto::test::spectral
