#pragma once
// Writes small compound files for the reader's tests: a root storage holding streams and
// storages, laid out the way common writers do (FAT, optional DIFAT, directory, mini FAT,
// mini stream, then the large streams). Every place a test may want to damage is recorded,
// so hostile variants are one patch away from a valid file.
#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/ByteOrder.h"

namespace kelto::test {

class CfbBuilder {
public:
    struct Node {
        std::string name;  // ASCII or UTF-8 (converted to UTF-16)
        bool storage = false;
        std::vector<std::uint8_t> data;
        std::vector<Node> children;
    };

    explicit CfbBuilder(unsigned sectorShift = 9) : shift_(sectorShift), size_(1u << sectorShift) {}

    // When set, the sectors of the large streams are handed out in turn, so their chains jump
    // back and forth through the file instead of running in one block.
    bool interleave = false;

    Node root{"Root Entry", true, {}, {}};

    static Node Stream(std::string name, std::vector<std::uint8_t> data) { return Node{std::move(name), false, std::move(data), {}}; }
    static Node Storage(std::string name, std::vector<Node> children) {
        return Node{std::move(name), true, {}, std::move(children)};
    }
    // Bytes that differ from position to position, so misplaced data shows.
    static std::vector<std::uint8_t> Pattern(std::size_t size, unsigned seed = 1) {
        std::vector<std::uint8_t> v(size);
        std::uint32_t x = seed * 2654435761u + 1;
        for (std::size_t i = 0; i < size; ++i) {
            x = x * 1103515245u + 12345u;
            v[i] = static_cast<std::uint8_t>(x >> 16);
        }
        return v;
    }

    std::vector<std::uint8_t> Build();

    // Layout facts of the last Build, for tests that damage the file.
    std::map<std::string, std::uint32_t> entryOf;             // name -> directory entry
    std::map<std::string, std::vector<std::uint32_t>> chainOf;  // large stream -> its sectors
    std::vector<std::uint32_t> fatSectors, difatSectors, dirSectors, miniFatSectors, miniStreamSectors;
    std::uint32_t sectorSize() const { return size_; }
    std::uint64_t SectorOffset(std::uint32_t s) const { return (std::uint64_t{s} + 1) * size_; }
    std::uint64_t EntryOffset(std::uint32_t id) const { return SectorOffset(dirSectors[id * 128 / size_]) + id * 128 % size_; }
    // Overwrites the FAT entry of `sector` in a built file.
    void SetFat(std::vector<std::uint8_t>& file, std::uint32_t sector, std::uint32_t value) const {
        std::uint32_t per = size_ / 4;
        platform::StoreLE<std::uint32_t>(file.data() + SectorOffset(fatSectors[sector / per]) + 4 * (sector % per), value);
    }

    // The compound-file order of names: shorter first, then by upper-cased UTF-16 units.
    static bool NameLess(const std::u16string& a, const std::u16string& b) {
        if (a.size() != b.size()) return a.size() < b.size();
        for (std::size_t i = 0; i < a.size(); ++i) {
            char16_t x = Upper(a[i]), y = Upper(b[i]);
            if (x != y) return x < y;
        }
        return false;
    }
    static std::u16string Utf16(const std::string& s);

private:
    static char16_t Upper(char16_t c) {
        if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 32);
        if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 32);  // Cyrillic
        return c;
    }
    struct Flat {
        const Node* node;
        std::u16string name16;
        std::uint32_t left = 0xFFFFFFFF, right = 0xFFFFFFFF, child = 0xFFFFFFFF;
        std::uint32_t start = 0xFFFFFFFE;
        std::uint64_t size = 0;
        std::uint8_t type = 2;
    };
    std::uint32_t Flatten(const Node& n);
    std::uint32_t BuildTree(std::vector<std::uint32_t>& ids, std::size_t lo, std::size_t hi);

    unsigned shift_;
    std::uint32_t size_;
    std::vector<Flat> flat_;
};

inline std::u16string CfbBuilder::Utf16(const std::string& s) {
    std::u16string out;
    for (std::size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        std::uint32_t cp;
        int len;
        if (c < 0x80) cp = c, len = 1;
        else if (c < 0xE0) cp = c & 0x1F, len = 2;
        else if (c < 0xF0) cp = c & 0x0F, len = 3;
        else cp = c & 0x07, len = 4;
        for (int k = 1; k < len && i + k < s.size(); ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        i += len;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

inline std::uint32_t CfbBuilder::Flatten(const Node& n) {
    std::uint32_t id = static_cast<std::uint32_t>(flat_.size());
    flat_.push_back(Flat{&n, Utf16(n.name)});
    flat_[id].type = id == 0 ? 5 : n.storage ? 1 : 2;
    if (id != 0) entryOf[n.name] = id;
    if (n.storage) {
        std::vector<std::uint32_t> kids;
        for (const Node& c : n.children) kids.push_back(Flatten(c));
        std::sort(kids.begin(), kids.end(), [&](auto a, auto b) { return NameLess(flat_[a].name16, flat_[b].name16); });
        flat_[id].child = BuildTree(kids, 0, kids.size());
    }
    return id;
}

// A balanced binary search tree over sorted ids (all black: the reader ignores colour).
inline std::uint32_t CfbBuilder::BuildTree(std::vector<std::uint32_t>& ids, std::size_t lo, std::size_t hi) {
    if (lo >= hi) return 0xFFFFFFFF;
    std::size_t mid = (lo + hi) / 2;
    std::uint32_t id = ids[mid];
    flat_[id].left = BuildTree(ids, lo, mid);
    flat_[id].right = BuildTree(ids, mid + 1, hi);
    return id;
}

inline std::vector<std::uint8_t> CfbBuilder::Build() {
    using platform::StoreLE;
    flat_.clear();
    entryOf.clear();
    chainOf.clear();
    Flatten(root);

    // Small streams go to the mini stream, 64-byte mini sectors each.
    std::vector<std::uint8_t> mini;
    std::vector<std::uint32_t> miniFat;
    std::vector<std::uint32_t> big;
    for (std::uint32_t id = 1; id < flat_.size(); ++id) {
        Flat& f = flat_[id];
        if (f.type != 2) continue;
        f.size = f.node->data.size();
        if (f.size == 0) continue;
        if (f.size >= 4096) {
            big.push_back(id);
            continue;
        }
        std::uint32_t first = static_cast<std::uint32_t>(mini.size() / 64);
        std::uint32_t count = static_cast<std::uint32_t>((f.size + 63) / 64);
        mini.insert(mini.end(), f.node->data.begin(), f.node->data.end());
        mini.resize(std::size_t{first + count} * 64, 0);
        for (std::uint32_t k = 0; k < count; ++k) miniFat.push_back(k + 1 < count ? first + k + 1 : 0xFFFFFFFE);
        f.start = first;
    }
    auto sectorsFor = [&](std::uint64_t bytes) { return static_cast<std::uint32_t>((bytes + size_ - 1) / size_); };
    std::uint32_t dirCount = sectorsFor(flat_.size() * 128);
    std::uint32_t miniFatCount = sectorsFor(miniFat.size() * 4);
    std::uint32_t miniCount = sectorsFor(mini.size());
    std::uint32_t bigCount = 0;
    for (auto id : big) bigCount += sectorsFor(flat_[id].size);
    std::uint32_t data = dirCount + miniFatCount + miniCount + bigCount;
    std::uint32_t per = size_ / 4;
    std::uint32_t fatCount = 1, difatCount = 0;
    while (true) {
        difatCount = fatCount > 109 ? (fatCount - 109 + per - 2) / (per - 1) : 0;
        std::uint32_t need = (data + fatCount + difatCount + per - 1) / per;
        if (need <= fatCount) break;
        fatCount = need;
    }
    std::uint32_t total = data + fatCount + difatCount;
    std::vector<std::uint32_t> fat(std::size_t{fatCount} * per, 0xFFFFFFFF);
    std::uint32_t next = 0;
    auto run = [&](std::uint32_t count, std::vector<std::uint32_t>& out, std::uint32_t mark) {
        out.clear();
        for (std::uint32_t k = 0; k < count; ++k) out.push_back(next++);
        for (std::uint32_t k = 0; k < count; ++k)
            fat[out[k]] = mark ? mark : (k + 1 < count ? out[k + 1] : 0xFFFFFFFE);
    };
    run(fatCount, fatSectors, 0xFFFFFFFD);
    run(difatCount, difatSectors, 0xFFFFFFFC);
    run(dirCount, dirSectors, 0);
    run(miniFatCount, miniFatSectors, 0);
    run(miniCount, miniStreamSectors, 0);
    // Large streams: in one block each, or dealt out in turn.
    std::map<std::uint32_t, std::vector<std::uint32_t>> chains;
    if (!interleave) {
        for (auto id : big) run(sectorsFor(flat_[id].size), chains[id], 0);
    } else {
        std::map<std::uint32_t, std::uint32_t> left;
        for (auto id : big) left[id] = sectorsFor(flat_[id].size);
        for (bool any = true; any;) {
            any = false;
            for (auto id : big)
                if (left[id]) chains[id].push_back(next++), --left[id], any = true;
        }
        for (auto& [id, c] : chains)
            for (std::size_t k = 0; k < c.size(); ++k) fat[c[k]] = k + 1 < c.size() ? c[k + 1] : 0xFFFFFFFE;
    }
    for (auto& [id, c] : chains) {
        flat_[id].start = c.front();
        chainOf[flat_[id].node->name] = c;
    }
    flat_[0].start = miniCount ? miniStreamSectors.front() : 0xFFFFFFFE;
    flat_[0].size = mini.size();

    std::vector<std::uint8_t> file((std::size_t{total} + 1) * size_, 0);
    std::uint8_t* h = file.data();
    const std::uint8_t sig[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::copy(sig, sig + 8, h);
    StoreLE<std::uint16_t>(h + 24, 0x3E);
    StoreLE<std::uint16_t>(h + 26, shift_ == 12 ? 4 : 3);
    StoreLE<std::uint16_t>(h + 28, 0xFFFE);
    StoreLE<std::uint16_t>(h + 30, static_cast<std::uint16_t>(shift_));
    StoreLE<std::uint16_t>(h + 32, 6);
    StoreLE<std::uint32_t>(h + 40, shift_ == 12 ? dirCount : 0);
    StoreLE<std::uint32_t>(h + 44, fatCount);
    StoreLE<std::uint32_t>(h + 48, dirSectors.front());
    StoreLE<std::uint32_t>(h + 56, 4096);
    StoreLE<std::uint32_t>(h + 60, miniFatCount ? miniFatSectors.front() : 0xFFFFFFFE);
    StoreLE<std::uint32_t>(h + 64, miniFatCount);
    StoreLE<std::uint32_t>(h + 68, difatCount ? difatSectors.front() : 0xFFFFFFFE);
    StoreLE<std::uint32_t>(h + 72, difatCount);
    for (std::uint32_t i = 0; i < 109; ++i) StoreLE<std::uint32_t>(h + 76 + 4 * i, i < fatCount ? fatSectors[i] : 0xFFFFFFFF);
    // DIFAT sectors: the FAT sector numbers beyond the header's 109, then the next DIFAT sector.
    for (std::uint32_t d = 0; d < difatCount; ++d) {
        std::uint8_t* p = file.data() + SectorOffset(difatSectors[d]);
        for (std::uint32_t k = 0; k < per - 1; ++k) {
            std::uint32_t i = 109 + d * (per - 1) + k;
            StoreLE<std::uint32_t>(p + 4 * k, i < fatCount ? fatSectors[i] : 0xFFFFFFFF);
        }
        StoreLE<std::uint32_t>(p + 4 * (per - 1), d + 1 < difatCount ? difatSectors[d + 1] : 0xFFFFFFFE);
    }
    for (std::uint32_t i = 0; i < fat.size(); ++i)
        StoreLE<std::uint32_t>(file.data() + SectorOffset(fatSectors[i / per]) + 4 * (i % per), fat[i]);
    for (std::uint32_t i = 0; i < miniFat.size(); ++i)
        StoreLE<std::uint32_t>(file.data() + SectorOffset(miniFatSectors[i / per]) + 4 * (i % per), miniFat[i]);
    for (std::size_t i = 0; i < mini.size(); ++i)
        file[SectorOffset(miniStreamSectors[i / size_]) + i % size_] = mini[i];
    for (auto& [id, c] : chains) {
        const auto& d = flat_[id].node->data;
        for (std::size_t i = 0; i < d.size(); ++i) file[SectorOffset(c[i / size_]) + i % size_] = d[i];
    }
    // Directory: unused slots of the last sector stay empty (type 0, no siblings).
    std::uint32_t slots = dirCount * size_ / 128;
    for (std::uint32_t id = 0; id < slots; ++id) {
        std::uint8_t* e = file.data() + EntryOffset(id);
        StoreLE<std::uint32_t>(e + 68, 0xFFFFFFFF);
        StoreLE<std::uint32_t>(e + 72, 0xFFFFFFFF);
        StoreLE<std::uint32_t>(e + 76, 0xFFFFFFFF);
        if (id >= flat_.size()) continue;
        const Flat& f = flat_[id];
        std::size_t units = std::min<std::size_t>(f.name16.size(), 31);
        for (std::size_t k = 0; k < units; ++k) StoreLE<std::uint16_t>(e + 2 * k, f.name16[k]);
        StoreLE<std::uint16_t>(e + 64, static_cast<std::uint16_t>(2 * (units + 1)));
        e[66] = f.type;
        e[67] = 1;  // black
        StoreLE<std::uint32_t>(e + 68, f.left);
        StoreLE<std::uint32_t>(e + 72, f.right);
        StoreLE<std::uint32_t>(e + 76, f.child);
        StoreLE<std::uint32_t>(e + 116, f.start);
        StoreLE<std::uint64_t>(e + 120, f.size);
    }
    return file;
}

}  // namespace kelto::test
