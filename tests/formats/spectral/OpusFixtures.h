#pragma once
// Writes Bruker OPUS files for the readers' tests, the fuzz seeds, the benchmark and the
// samples: the 24-byte header, the directory right after it, then the blocks. Block type
// codes follow the files instruments write: 0x100F the absorbance spectrum, 0x101F its data
// status parameters, 0xA0 the sample parameters.
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/ByteOrder.h"

namespace kelto::test::spectral {

struct OpusParameter {
    std::string name;  // three characters
    std::vector<std::uint8_t> value;
    std::uint16_t type = 0;
    int sizeOverride = -1;  // the head's size field, in 2-byte units, when not the value's

    static OpusParameter Int(const std::string& n, std::int32_t v) {
        OpusParameter p{n, std::vector<std::uint8_t>(4)};
        platform::StoreLE<std::int32_t>(p.value.data(), v);
        return p;
    }
    static OpusParameter Double(const std::string& n, double v) {
        OpusParameter p{n, std::vector<std::uint8_t>(8), 1};
        platform::StoreLE<double>(p.value.data(), v);
        return p;
    }
    static OpusParameter Text(const std::string& n, const std::string& v) {
        std::vector<std::uint8_t> bytes(v.begin(), v.end());
        bytes.resize((v.size() + 2) & ~std::size_t{1}, 0);  // NUL-terminated, even length
        return OpusParameter{n, bytes, 2};
    }
};

struct OpusBlock {
    std::uint32_t type = 0;
    std::vector<std::uint8_t> bytes;
    std::int64_t lengthWords = -1;  // the directory's length, when not the bytes' own

    static OpusBlock Parameters(std::uint32_t type, const std::vector<OpusParameter>& params, bool end = true) {
        OpusBlock b{type, {}};
        for (const OpusParameter& p : params) {
            const std::size_t at = b.bytes.size();
            b.bytes.resize(at + 8);
            std::memcpy(b.bytes.data() + at, p.name.c_str(), std::min<std::size_t>(p.name.size(), 3));
            platform::StoreLE<std::uint16_t>(b.bytes.data() + at + 4, p.type);
            const int size = p.sizeOverride >= 0 ? p.sizeOverride : static_cast<int>(p.value.size() / 2);
            platform::StoreLE<std::int16_t>(b.bytes.data() + at + 6, static_cast<std::int16_t>(size));
            b.bytes.insert(b.bytes.end(), p.value.begin(), p.value.end());
        }
        if (end) b.bytes.insert(b.bytes.end(), {'E', 'N', 'D', 0, 0, 0, 0, 0});
        return b;
    }
    static OpusBlock Floats(std::uint32_t type, const std::vector<float>& values) {
        OpusBlock b{type, std::vector<std::uint8_t>(4 * values.size())};
        for (std::size_t i = 0; i < values.size(); ++i) platform::StoreLE<float>(b.bytes.data() + 4 * i, values[i]);
        return b;
    }
};

inline std::vector<std::uint8_t> BuildOpus(const std::vector<OpusBlock>& blocks) {
    std::vector<std::uint8_t> out(24 + 12 * blocks.size());
    const std::uint8_t magic[] = {0x0A, 0x0A, 0xFE, 0xFE};
    std::memcpy(out.data(), magic, 4);
    platform::StoreLE<double>(out.data() + 4, 920622.0);
    platform::StoreLE<std::int32_t>(out.data() + 12, 24);
    platform::StoreLE<std::int32_t>(out.data() + 16, 40);
    platform::StoreLE<std::uint32_t>(out.data() + 20, static_cast<std::uint32_t>(blocks.size()));
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const OpusBlock& b = blocks[i];
        std::uint8_t* e = out.data() + 24 + 12 * i;
        platform::StoreLE<std::uint32_t>(e, b.type);
        const std::int64_t words = b.lengthWords >= 0 ? b.lengthWords : static_cast<std::int64_t>((b.bytes.size() + 3) / 4);
        platform::StoreLE<std::uint32_t>(e + 4, static_cast<std::uint32_t>(words));
        platform::StoreLE<std::uint32_t>(e + 8, static_cast<std::uint32_t>(out.size()));
        out.insert(out.end(), b.bytes.begin(), b.bytes.end());
        out.resize((out.size() + 3) & ~std::size_t{3}, 0);
    }
    return out;
}

// A plain absorbance file: `points` values y(i) from first to last, its status block, a
// sample block, and an unrelated reference-kind block and flagged block in between.
struct Opus {
    int points = 8;
    double first = 4000, last = 3993, scale = 1;
    std::string unit = "WN", sample = "Sample", form = "Powder", date = "03/05/2019", time = "13:34:44";
    std::function<float(int)> y = [](int i) { return 0.5f + static_cast<float>(i); };

    std::vector<float> Values() const {
        std::vector<float> v;
        for (int i = 0; i < points; ++i) v.push_back(y(i));
        return v;
    }
    std::vector<OpusBlock> Blocks() const {
        using P = OpusParameter;
        return {
            OpusBlock::Parameters(0xA0, {P::Text("SNM", sample), P::Text("SFM", form)}),
            OpusBlock::Floats(0x407, std::vector<float>(static_cast<std::size_t>(points), 7.0f)),  // b = 1: passed over
            OpusBlock::Floats(0x100F, Values()),
            OpusBlock{0x40680000, std::vector<std::uint8_t>(12, 0xEE)},
            OpusBlock::Parameters(0x101F, {P::Int("DPF", 1), P::Int("NPT", points), P::Double("FXV", first),
                                           P::Double("LXV", last), P::Double("CSF", scale), P::Text("DXU", unit),
                                           P::Text("DAT", date), P::Text("TIM", time), P::Int("DER", 0)}),
        };
    }
    std::vector<std::uint8_t> Build() const { return BuildOpus(Blocks()); }
};

}  // namespace kelto::test::spectral
