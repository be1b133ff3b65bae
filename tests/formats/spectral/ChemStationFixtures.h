#pragma once
// Writes HPLC ChemStation ".ch" and ".uv" files for the reader's tests and fuzz seeds. The
// header offsets are spelled out here apart from the reader; header bytes the reader must
// not use hold junk.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/ByteOrder.h"

namespace kelto::test::spectral {

struct ChemSpectrum {
    char kind = 'C';
    std::int32_t time = 1500;
    std::int16_t start = 4000, end = 4080, step = 40;  // 200 to 204 nm in 2 nm steps
    std::int16_t extra = 0;
    std::vector<std::int32_t> values;  // "C": running values (stored as differences); "A": plain
};

struct ChemStation {
    int type = 30;
    std::string sample = "Sample A", date = "18-Nov-10, 15:48:06", signal = "DAD1 A", unit = "mAU";
    std::int32_t rangeStart = 0, rangeEnd = 2000;  // ms for 2D, 1/20 nm for 3D
    std::int32_t layout = 0, spectra = -1;  // -1: the number of spectra given
    double scale = 0.5;
    // Interval: type 8/108 use powerOfTwo (2^n / 20 s), 30/130 num/den, others 1/perSecond.
    std::int32_t powerOfTwo = 0, perSecond = 2;
    std::int16_t num = 1, den = 2;
    std::vector<std::int32_t> signal2D{10, 12, 9, 70000, 70001};  // written as segments of <= 3
    std::vector<ChemSpectrum> spectraList;
    bool wide() const { return type >= 100; }

    using Bytes = std::vector<std::uint8_t>;
    static void Fill(Bytes& b, std::size_t n) {
        for (std::size_t i = b.size(); i < n; ++i) b.push_back(static_cast<std::uint8_t>(0x5A ^ (i * 13)));
    }
    template <typename T>
    static void BE(Bytes& b, std::size_t at, T v) { platform::StoreBE<T>(b.data() + at, v); }
    template <typename T>
    static void LE(Bytes& b, std::size_t at, T v) {
        if (b.size() < at + sizeof(T)) b.resize(at + sizeof(T));
        platform::StoreLE<T>(b.data() + at, v);
    }
    static void Narrow(Bytes& b, std::size_t at, const std::string& s) {
        b[at] = static_cast<std::uint8_t>(s.size());
        for (std::size_t i = 0; i < s.size(); ++i) b[at + 1 + i] = static_cast<std::uint8_t>(s[i]);
    }
    static void Wide(Bytes& b, std::size_t at, const std::string& s) {  // ASCII only
        b[at] = static_cast<std::uint8_t>(s.size());
        for (std::size_t i = 0; i < s.size(); ++i) LE<std::uint16_t>(b, at + 1 + 2 * i, static_cast<std::uint8_t>(s[i]));
    }

    Bytes Build(bool threeD) const {
        const std::int32_t block = wide() ? 13 : 3;
        Bytes b;
        Fill(b, static_cast<std::size_t>(block - 1) * 512);
        Narrow(b, 0, std::to_string(type));
        if (!wide()) {
            Narrow(b, 24, sample);
            Narrow(b, 178, date);
            Narrow(b, 218, signal);
        } else {
            for (std::size_t at : {24, 178, 218}) b[at] = 0;
            Wide(b, 326, std::to_string(type));
            Wide(b, 858, sample);
            Wide(b, 2391, date);
            Wide(b, 2533, signal);
        }
        BE<std::int32_t>(b, 264, block);
        BE<std::int32_t>(b, 278, spectra >= 0 ? spectra : static_cast<std::int32_t>(spectraList.size()));
        BE<std::int32_t>(b, 282, rangeStart);
        BE<std::int32_t>(b, 286, rangeEnd);
        BE<std::int32_t>(b, 314, layout);
        const std::size_t scale3D = wide() ? 3085 : 318, unit3D = wide() ? 3093 : 326;
        const std::size_t interval = wide() ? 4122 : 530, unitAt = wide() ? 4172 : 580, scaleAt = wide() ? 4732 : 644;
        if (threeD) {
            if (type % 100 == 31 && layout == 0) {
                BE<double>(b, scale3D, scale);
                wide() ? Wide(b, unit3D, unit) : Narrow(b, unit3D, unit);
            }
            std::int32_t running = 0;  // carried from spectrum to spectrum
            for (const ChemSpectrum& s : spectraList) {
                const std::size_t at = b.size();
                Fill(b, at + 18 + static_cast<std::size_t>(s.extra));
                b[at] = static_cast<std::uint8_t>(s.kind);
                LE<std::int32_t>(b, at + 4, s.time);
                LE<std::int16_t>(b, at + 8, s.start);
                LE<std::int16_t>(b, at + 10, s.end);
                LE<std::int16_t>(b, at + 12, s.step);
                LE<std::int16_t>(b, at + 16, s.extra);
                for (std::int32_t v : s.values) {
                    if (s.kind == 'A') {
                        LE<std::int32_t>(b, b.size(), v);
                    } else if (v - running > 32767 || v - running < -32767) {
                        LE<std::uint16_t>(b, b.size(), 0x8000);
                        LE<std::int32_t>(b, b.size(), v);
                    } else {
                        LE<std::int16_t>(b, b.size(), static_cast<std::int16_t>(v - running));
                    }
                    if (s.kind != 'A') running = v;
                }
                LE<std::int16_t>(b, at + 2, static_cast<std::int16_t>(b.size() - at));
            }
        } else {
            const int t = type % 100 == 8 ? 8 : type % 100 == 30 ? 30 : 0;
            if (t == 8) BE<std::int32_t>(b, interval, powerOfTwo);
            else if (t == 30) BE<std::int16_t>(b, interval, num), BE<std::int16_t>(b, interval + 2, den);
            else BE<std::int32_t>(b, interval, perSecond);
            wide() ? Wide(b, unitAt, unit) : Narrow(b, unitAt, unit);
            BE<double>(b, scaleAt, scale);
            std::int32_t running = 0;
            for (std::size_t i = 0; i < signal2D.size(); i += 3) {
                const std::size_t n = std::min<std::size_t>(3, signal2D.size() - i);
                Bytes seg(2);
                BE<std::uint16_t>(seg, 0, static_cast<std::uint16_t>(0x1000 | n));
                b.insert(b.end(), seg.begin(), seg.end());
                for (std::size_t j = i; j < i + n; ++j) {
                    const std::int32_t v = signal2D[j];
                    Bytes item(v - running > 32767 || v - running < -32767 ? 6 : 2);
                    if (item.size() == 6) BE<std::uint16_t>(item, 0, 0x8000), BE<std::int32_t>(item, 2, v);
                    else BE<std::int16_t>(item, 0, static_cast<std::int16_t>(v - running));
                    b.insert(b.end(), item.begin(), item.end());
                    running = v;
                }
            }
            b.push_back(0x0F), b.push_back(0xFF);  // a head word below 0x1000 ends the signal
        }
        return b;
    }
};

}  // namespace kelto::test::spectral
