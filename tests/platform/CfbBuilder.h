#pragma once
// Writes compound files for the reader's tests (and its generated fuzz seeds): FAT with DIFAT
// when needed, directory, mini FAT, mini stream, then the large streams. Where each part went
// is recorded, so a hostile variant is one patch away from a valid file.
#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/ByteOrder.h"

namespace kelto::test {

using platform::StoreLE;
constexpr std::uint32_t kEnd = 0xFFFFFFFE, kFree = 0xFFFFFFFF;

struct CfbNode {
    std::string name;  // UTF-8
    bool storage = false;
    std::vector<std::uint8_t> data;
    std::vector<CfbNode> children;
};
inline CfbNode Stream(std::string name, std::vector<std::uint8_t> data) { return {std::move(name), false, std::move(data), {}}; }
inline CfbNode Storage(std::string name, std::vector<CfbNode> kids) { return {std::move(name), true, {}, std::move(kids)}; }

// Bytes that differ from position to position, so misplaced data shows.
inline std::vector<std::uint8_t> Pattern(std::size_t size, unsigned seed = 1) {
    std::vector<std::uint8_t> v(size);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& b : v) b = static_cast<std::uint8_t>((x = x * 1103515245u + 12345u) >> 16);
    return v;
}

inline std::u16string Utf16(const std::string& s) {
    std::u16string out;
    for (std::size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        int len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        std::uint32_t cp = len == 1 ? c : c & (0x7F >> len);
        for (int k = 1; k < len && i + k < s.size(); ++k) cp = (cp << 6) | (s[i + k] & 0x3F);
        i += len;
        if (cp >= 0x10000) out += {char16_t(0xD800 + ((cp - 0x10000) >> 10)), char16_t(0xDC00 + (cp & 0x3FF))};
        else out += static_cast<char16_t>(cp);
    }
    return out;
}

// The compound-file order of names: shorter first, then by upper-cased UTF-16 units (ASCII and
// Cyrillic letters are enough for these tests).
inline bool NameLess(const std::string& a8, const std::string& b8) {
    auto up = [](char16_t c) -> char16_t { return (c >= u'a' && c <= u'z') || (c >= 0x430 && c <= 0x44F) ? c - 32 : c; };
    std::u16string a = Utf16(a8), b = Utf16(b8);
    if (a.size() != b.size()) return a.size() < b.size();
    for (std::size_t i = 0; i < a.size(); ++i)
        if (up(a[i]) != up(b[i])) return up(a[i]) < up(b[i]);
    return false;
}

class CfbBuilder {
public:
    explicit CfbBuilder(unsigned sectorShift = 9) : shift_(sectorShift), size_(1u << sectorShift) {}
    CfbNode root{"Root Entry", true, {}, {}};
    bool interleave = false;  // deal the large streams' sectors out in turn

    std::vector<std::uint8_t> Build();

    // Where the last Build put things.
    std::map<std::string, std::uint32_t> entryOf;
    std::map<std::string, std::vector<std::uint32_t>> chainOf;  // large streams
    std::vector<std::uint32_t> fatSectors, difatSectors, dirSectors, miniFatSectors, miniSectors;
    std::uint64_t SectorOffset(std::uint32_t s) const { return (std::uint64_t{s} + 1) * size_; }
    std::uint64_t EntryOffset(std::uint32_t id) const { return SectorOffset(dirSectors[id * 128 / size_]) + id * 128 % size_; }
    void SetFat(std::vector<std::uint8_t>& f, std::uint32_t sector, std::uint32_t value) const {
        StoreLE<std::uint32_t>(f.data() + SectorOffset(fatSectors[sector / (size_ / 4)]) + 4 * (sector % (size_ / 4)), value);
    }

private:
    struct Entry {
        const CfbNode* node;
        std::uint32_t left = kFree, right = kFree, child = kFree, start = kEnd;
        std::uint64_t size = 0;
    };
    std::uint32_t Flatten(const CfbNode& n) {
        auto id = static_cast<std::uint32_t>(entries_.size());
        entries_.push_back({&n});
        if (id) entryOf[n.name] = id;
        std::vector<std::uint32_t> kids;
        for (const CfbNode& c : n.children) kids.push_back(Flatten(c));
        std::sort(kids.begin(), kids.end(), [&](auto a, auto b) { return NameLess(entries_[a].node->name, entries_[b].node->name); });
        entries_[id].child = Tree(kids, 0, kids.size());
        return id;
    }
    // A balanced search tree over sorted ids, all black (the reader ignores colour).
    std::uint32_t Tree(const std::vector<std::uint32_t>& ids, std::size_t lo, std::size_t hi) {
        if (lo >= hi) return kFree;
        std::size_t mid = (lo + hi) / 2;
        entries_[ids[mid]].left = Tree(ids, lo, mid);
        entries_[ids[mid]].right = Tree(ids, mid + 1, hi);
        return ids[mid];
    }
    unsigned shift_;
    std::uint32_t size_;
    std::vector<Entry> entries_;
};

inline std::vector<std::uint8_t> CfbBuilder::Build() {
    entries_.clear(), entryOf.clear(), chainOf.clear();
    Flatten(root);
    std::vector<std::uint8_t> mini;
    std::vector<std::uint32_t> miniFat, big;
    for (std::uint32_t id = 1; id < entries_.size(); ++id) {
        Entry& e = entries_[id];
        if (e.node->storage || (e.size = e.node->data.size()) == 0) continue;
        if (e.size >= 4096) {
            big.push_back(id);
            continue;
        }
        e.start = static_cast<std::uint32_t>(mini.size() / 64);
        mini.insert(mini.end(), e.node->data.begin(), e.node->data.end());
        mini.resize((mini.size() + 63) / 64 * 64);
        for (std::uint32_t k = e.start + 1; k <= mini.size() / 64; ++k) miniFat.push_back(k < mini.size() / 64 ? k : kEnd);
    }
    auto sectors = [&](std::uint64_t bytes) { return static_cast<std::uint32_t>((bytes + size_ - 1) / size_); };
    std::uint32_t per = size_ / 4, bigCount = 0;
    for (auto id : big) bigCount += sectors(entries_[id].size);
    std::uint32_t data = sectors(entries_.size() * 128) + sectors(miniFat.size() * 4) + sectors(mini.size()) + bigCount;
    std::uint32_t fatCount = 1, difatCount = 0;
    for (std::uint32_t need = 0; (need = (data + fatCount + difatCount + per - 1) / per) > fatCount;) {
        fatCount = need;
        difatCount = fatCount > 109 ? (fatCount - 109 + per - 2) / (per - 1) : 0;
    }
    std::vector<std::uint32_t> fat(std::size_t{fatCount} * per, kFree);
    std::uint32_t next = 0;
    auto chain = [&](const std::vector<std::uint32_t>& c, std::uint32_t mark) {
        for (std::size_t k = 0; k < c.size(); ++k) fat[c[k]] = mark ? mark : k + 1 < c.size() ? c[k + 1] : kEnd;
    };
    auto run = [&](std::uint32_t count, std::vector<std::uint32_t>& out, std::uint32_t mark) {
        out.clear();
        while (out.size() < count) out.push_back(next++);
        chain(out, mark);
    };
    run(fatCount, fatSectors, 0xFFFFFFFD);
    run(difatCount, difatSectors, 0xFFFFFFFC);
    run(sectors(entries_.size() * 128), dirSectors, 0);
    run(sectors(miniFat.size() * 4), miniFatSectors, 0);
    run(sectors(mini.size()), miniSectors, 0);
    std::map<std::uint32_t, std::uint32_t> left;
    for (auto id : big) left[id] = sectors(entries_[id].size);
    for (bool any = true; any;) {
        any = false;
        for (auto id : big) {
            auto& c = chainOf[entries_[id].node->name];
            while (left[id] > 0) {
                c.push_back(next++), --left[id], any = true;
                if (interleave) break;
            }
        }
    }
    for (auto id : big) entries_[id].start = chainOf[entries_[id].node->name][0], chain(chainOf[entries_[id].node->name], 0);
    entries_[0].start = miniSectors.empty() ? kEnd : miniSectors[0];
    entries_[0].size = mini.size();

    std::vector<std::uint8_t> f((std::size_t{next} + 1) * size_, 0);
    auto put32 = [&](std::uint64_t at, std::uint32_t v) { StoreLE<std::uint32_t>(f.data() + at, v); };
    const std::uint8_t sig[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::copy(sig, sig + 8, f.begin());
    StoreLE<std::uint32_t>(f.data() + 24, 0x3E | (shift_ == 12 ? 4u : 3u) << 16);
    StoreLE<std::uint32_t>(f.data() + 28, 0xFFFE | shift_ << 16);
    StoreLE<std::uint16_t>(f.data() + 32, 6);
    put32(44, fatCount), put32(48, dirSectors[0]), put32(56, 4096);
    put32(60, miniFatSectors.empty() ? kEnd : miniFatSectors[0]), put32(64, static_cast<std::uint32_t>(miniFatSectors.size()));
    put32(68, difatCount ? difatSectors[0] : kEnd), put32(72, difatCount);
    // FAT sector numbers: 109 in the header, the rest in DIFAT sectors that end in a link.
    for (std::uint32_t i = 0; i < 109 + difatCount * (per - 1); ++i) {
        std::uint64_t at = i < 109 ? 76 + 4 * i : SectorOffset(difatSectors[(i - 109) / (per - 1)]) + 4 * ((i - 109) % (per - 1));
        put32(at, i < fatCount ? fatSectors[i] : kFree);
    }
    for (std::uint32_t d = 0; d < difatCount; ++d) put32(SectorOffset(difatSectors[d]) + 4 * (per - 1), d + 1 < difatCount ? difatSectors[d + 1] : kEnd);
    for (std::size_t i = 0; i < fat.size(); ++i) put32(SectorOffset(fatSectors[i / per]) + 4 * (i % per), fat[i]);
    for (std::size_t i = 0; i < miniFat.size(); ++i) put32(SectorOffset(miniFatSectors[i / per]) + 4 * (i % per), miniFat[i]);
    for (std::size_t i = 0; i < mini.size(); ++i) f[SectorOffset(miniSectors[i / size_]) + i % size_] = mini[i];
    for (auto& [name, c] : chainOf) {
        const auto& d = entries_[entryOf[name]].node->data;
        for (std::size_t i = 0; i < d.size(); ++i) f[SectorOffset(c[i / size_]) + i % size_] = d[i];
    }
    for (std::uint32_t id = 0; id < dirSectors.size() * size_ / 128; ++id) {
        std::uint64_t e = EntryOffset(id);
        put32(e + 68, kFree), put32(e + 72, kFree), put32(e + 76, kFree);  // unused slots: no links
        if (id >= entries_.size()) continue;
        const Entry& x = entries_[id];
        std::u16string name = Utf16(x.node->name).substr(0, 31);
        for (std::size_t k = 0; k < name.size(); ++k) StoreLE<std::uint16_t>(f.data() + e + 2 * k, name[k]);
        StoreLE<std::uint16_t>(f.data() + e + 64, static_cast<std::uint16_t>(2 * name.size() + 2));
        f[e + 66] = id == 0 ? 5 : x.node->storage ? 1 : 2;
        f[e + 67] = 1;
        put32(e + 68, x.left), put32(e + 72, x.right), put32(e + 76, x.child), put32(e + 116, x.start);
        StoreLE<std::uint64_t>(f.data() + e + 120, x.size);
    }
    return f;
}

}  // namespace kelto::test
