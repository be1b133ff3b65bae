#pragma once
// Writes Brimrose and NSAS files for the readers' tests, the fuzz seeds and the samples. The
// layouts are spelled out here apart from the readers, so that a wrong offset in a reader
// shows as a wrong cell; bytes a reader must ignore hold junk, not zeros.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/ByteOrder.h"

namespace kelto::test::spectral {

using Bytes = std::vector<std::uint8_t>;

template <typename T>
void Put(Bytes& out, std::size_t at, T value) {
    if (out.size() < at + sizeof(T)) out.resize(at + sizeof(T));
    platform::StoreLE<T>(out.data() + at, value);
}
inline void Grow(Bytes& out, std::size_t n, std::uint8_t seed) {
    for (std::size_t i = 0; i < n; ++i) out.push_back(static_cast<std::uint8_t>(0xA5 ^ (i * 7 + seed)));
}

// Brimrose: p points, m observations one minute apart from time0 (seconds since 1970 UTC),
// value i of observation k (from 1) = 1000 k + i + 0.25. `declared` overrides the header's m.
struct Brimrose {
    std::uint16_t p = 3;
    int m = 2, declared = -1;
    std::uint32_t signature = 0x0D0C10FF, time0 = 1700000000u;
    float first = 1100.0f, step = 10.0f;
    Bytes Build() const {
        Bytes out;
        Grow(out, 512, 1);
        Put<std::uint32_t>(out, 0, signature);
        Put<float>(out, 29, first);
        Put<float>(out, 37, step);
        Put<std::uint16_t>(out, 41, p);
        Put<std::uint16_t>(out, 45, static_cast<std::uint16_t>(declared >= 0 ? declared : m));
        for (int k = 1; k <= m; ++k) {
            std::size_t at = out.size();
            Grow(out, 128, 2);
            Put<std::uint32_t>(out, at, time0 + 60u * static_cast<std::uint32_t>(k - 1));
            for (int i = 0; i < p; ++i) Put<float>(out, out.size(), 1000.0f * static_cast<float>(k) + static_cast<float>(i) + 0.25f);
        }
        return out;
    }
};
inline std::size_t BrimroseObservationAt(int p, int k) { return 512 + static_cast<std::size_t>(k - 1) * (128 + 4 * p); }

// NSAS spectrum: n points from start to end, value i = base + i / 4; date fields at 64, 66,
// 68 are 24, 3, 5 and time fields at 70, 72, 74 are 14, 7, `second`.
struct Nsas {
    std::int16_t number = 1, start = 1100, end = 2500, constituents = 0, second = 9;
    int n = 700;
    float base = 0.0f;
    std::string name = "";  // up to 10 bytes, NUL-padded
};
inline Bytes BuildDa(const std::vector<Nsas>& spectra) {
    Bytes out;
    for (const Nsas& s : spectra) {
        std::size_t at = out.size();
        Grow(out, 128, 3);  // header and the 48 filler bytes
        Put<std::int16_t>(out, at, 7);  // instrument model
        Put<std::int16_t>(out, at + 2, s.number);
        for (std::size_t i = 0; i < 10; ++i) out[at + 4 + i] = i < s.name.size() ? static_cast<std::uint8_t>(s.name[i]) : 0;
        Put<std::int16_t>(out, at + 14, static_cast<std::int16_t>(s.n));
        Put<std::int16_t>(out, at + 16, s.start);
        Put<std::int16_t>(out, at + 18, s.end);
        Put<std::int16_t>(out, at + 30, s.constituents);
        const std::int16_t stamp[] = {24, 3, 5, 14, 7, s.second};
        for (int f = 0; f < 6; ++f) Put<std::int16_t>(out, at + 64 + 2 * f, stamp[f]);
        for (int i = 0; i < s.n; ++i) Put<float>(out, out.size(), s.base + static_cast<float>(i) / 4.0f);
        Grow(out, (128 - 4 * s.n % 128) % 128, 4);
    }
    return out;
}
// ".cn": with `names`, the 384-byte name record; then one 128-byte record per spectrum.
inline Bytes BuildCn(const std::vector<std::string>* names, const std::vector<std::vector<float>>& values) {
    Bytes out;
    if (names) {
        Grow(out, 384, 5);
        for (std::size_t k = 0; k < names->size(); ++k)
            for (std::size_t i = 0; i < 10; ++i) out[10 * k + i] = i < (*names)[k].size() ? static_cast<std::uint8_t>((*names)[k][i]) : 0;
    }
    for (const auto& record : values) {
        std::size_t at = out.size();
        Grow(out, 128, 6);
        for (std::size_t i = 0; i < record.size(); ++i) Put<float>(out, at + 4 * i, record[i]);
    }
    return out;
}
// The NSAS fuzz harness's input: a flag byte (bit 0: a ".cn" exists), the ".da" length
// (4 bytes little-endian), the ".da" bytes, then the ".cn" bytes.
inline Bytes NsasFuzzInput(const Bytes& da, const Bytes* cn) {
    Bytes out{static_cast<std::uint8_t>(cn ? 1 : 0)};
    Put<std::uint32_t>(out, 1, static_cast<std::uint32_t>(da.size()));
    out.insert(out.end(), da.begin(), da.end());
    if (cn) out.insert(out.end(), cn->begin(), cn->end());
    return out;
}

// What the repository keeps of the builder's output (paths from the repository root).
inline std::vector<std::pair<std::string, Bytes>> CommittedFixtures() {
    std::vector<std::pair<std::string, Bytes>> out;
    Bytes cut = Brimrose{}.Build();
    cut.resize(BrimroseObservationAt(3, 2) + 128 + 8);
    out.push_back({"fuzz/corpus/brimrose/p3_m2.dat", Brimrose{}.Build()});
    out.push_back({"fuzz/corpus/brimrose/cut_in_second_observation.dat", cut});
    out.push_back({"fuzz/corpus/brimrose/promises_more.dat", Brimrose{.p = 8, .declared = 1000}.Build()});
    out.push_back({"fuzz/corpus/brimrose/signature_b_no_points.dat", Brimrose{.p = 0, .signature = 0x0BA7133C}.Build()});
    std::vector<Nsas> two{{.number = 1}, {.number = 2, .base = 9.0f}};
    std::vector<Nsas> small{{.end = 1110, .constituents = 2, .n = 5, .name = "Sample"}, {.end = 1110, .constituents = 2, .n = 5}};
    std::vector<std::string> names{"Protein", "Moisture"};
    Bytes named = BuildCn(&names, {{12.5f, 0.75f}, {13.0f, 0.5f}}), plain = BuildCn(nullptr, {{1.0f}, {2.0f}});
    out.push_back({"fuzz/corpus/nsas/two_spectra_700.bin", NsasFuzzInput(BuildDa(two), nullptr)});
    out.push_back({"fuzz/corpus/nsas/1024_points.bin", NsasFuzzInput(BuildDa({{.end = 3148, .n = 1024}}), nullptr)});
    out.push_back({"fuzz/corpus/nsas/cn_with_names.bin", NsasFuzzInput(BuildDa(small), &named)});
    out.push_back({"fuzz/corpus/nsas/cn_values_only.bin", NsasFuzzInput(BuildDa(small), &plain)});
    out.push_back({"fuzz/corpus/nsas/ranges_differ.bin",
                   NsasFuzzInput(BuildDa({{.end = 1500, .n = 200}, {.start = 1150, .end = 1350, .n = 100}}), nullptr)});
    out.push_back({"samples/brimrose_three_observations.dat", Brimrose{.p = 20, .m = 3, .time0 = 1717236000u, .step = 20.0f}.Build()});
    out.push_back({"samples/nsas_three_spectra.da",
                   BuildDa({{.number = 101, .end = 1200, .n = 50, .name = "Wheat 1"},
                            {.number = 102, .end = 1200, .second = 19, .n = 50, .base = 0.5f, .name = "Wheat 2"},
                            {.number = 103, .end = 1200, .second = 29, .n = 50, .base = 0.75f, .name = "Barley 1"}})});
    return out;
}

}  // namespace kelto::test::spectral
