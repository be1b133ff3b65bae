#include "platform/CompoundFile.h"
#include "platform/Utf8.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <streambuf>
#include <utility>

#include "platform/ByteOrder.h"

namespace kelto::platform {

namespace cfb {
namespace {

// Special sector numbers ([MS-CFB] 2.1).
constexpr std::uint32_t kMaxRegularSector = 0xFFFFFFFA;
constexpr std::uint32_t kDifatSector = 0xFFFFFFFC;
constexpr std::uint32_t kFatSector = 0xFFFFFFFD;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kFreeSector = 0xFFFFFFFF;
constexpr std::uint32_t kNoStream = 0xFFFFFFFF;

constexpr std::uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::size_t kHeaderSize = 512;
constexpr std::size_t kHeaderDifatEntries = 109;
constexpr std::size_t kDirEntrySize = 128;
constexpr std::uint32_t kMiniSectorSize = 64;
// Streams shorter than this live in the mini stream. The header repeats the value, but every
// writer uses 4096 and Windows does not honour anything else, so neither do we.
constexpr std::uint64_t kMiniStreamCutoff = 4096;

enum EntryType : std::uint8_t { kUnallocated = 0, kStorageEntry = 1, kStreamEntry = 2, kRootEntry = 5 };

}  // namespace

// Where the file's bytes come from: a descriptor or a copy in memory.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // True only when all `length` bytes at `offset` were read.
    virtual bool ReadAt(std::uint64_t offset, void* out, std::size_t length) const = 0;
};

namespace {

class FileSource final : public ByteSource {
public:
    explicit FileSource(int fd) : fd_(fd) {}
    ~FileSource() override { ::close(fd_); }
    bool ReadAt(std::uint64_t offset, void* out, std::size_t length) const override {
        auto* p = static_cast<std::uint8_t*>(out);
        while (length > 0) {
            if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return false;
            ssize_t got = ::pread(fd_, p, length, static_cast<off_t>(offset));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return false;
            p += got;
            offset += static_cast<std::uint64_t>(got);
            length -= static_cast<std::size_t>(got);
        }
        return true;
    }

private:
    int fd_;
};

class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes.begin(), bytes.end()) {}
    bool ReadAt(std::uint64_t offset, void* out, std::size_t length) const override {
        if (offset > bytes_.size() || bytes_.size() - offset < length) return false;
        if (length) std::memcpy(out, bytes_.data() + offset, length);
        return true;
    }

private:
    std::vector<std::uint8_t> bytes_;
};

}  // namespace

struct Storage {
    std::unique_ptr<ByteSource> source;
    std::uint64_t fileSize = 0;
    std::uint32_t sectorShift = 9;
    std::uint32_t sectorSize = 512;
    bool version3 = true;        // 512-byte sectors: only the low 32 bits of a stream size count
    std::uint32_t fullSectors = 0;  // sectors lying wholly inside the file
    std::uint32_t anySectors = 0;   // sectors with at least their first byte inside the file
    std::vector<std::uint32_t> fat;
    std::vector<std::uint32_t> miniFat;
    std::vector<std::uint8_t> directory;  // the raw directory entries, 128 bytes each
    std::uint32_t entryCount = 0;
    // The mini stream (the root entry's data), checked once at open. When it is damaged only
    // the small streams become unreadable, as they would be anywhere.
    std::vector<std::uint32_t> miniStreamSectors;
    std::uint64_t miniStreamSize = 0;
    bool miniStreamOk = false;
    std::string miniStreamError;

    std::uint64_t SectorOffset(std::uint32_t sector) const {
        return (static_cast<std::uint64_t>(sector) + 1) << sectorShift;
    }
    bool ReadSector(std::uint32_t sector, std::uint8_t* out) const {
        return sector < fullSectors && source->ReadAt(SectorOffset(sector), out, sectorSize);
    }
};

namespace {

struct DirEntry {
    std::string name;
    std::uint8_t type = kUnallocated;
    std::uint32_t left = kNoStream, right = kNoStream, child = kNoStream;
    std::uint32_t start = kEndOfChain;
    std::uint64_t size = 0;
};

// Entry names are UTF-16LE; a lone surrogate becomes U+FFFD.
std::string NameToUtf8(const std::uint8_t* p, std::size_t units) {
    std::string out;
    out.reserve(units);
    for (std::size_t i = 0; i < units; ++i) {
        std::uint32_t u = LoadLE<std::uint16_t>(p + 2 * i);
        if (u >= 0xD800 && u < 0xDC00 && i + 1 < units) {
            std::uint32_t v = LoadLE<std::uint16_t>(p + 2 * (i + 1));
            if (v >= 0xDC00 && v < 0xE000) {
                kelto::platform::AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00));
                ++i;
                continue;
            }
        }
        if (u >= 0xD800 && u < 0xE000) u = 0xFFFD;
        kelto::platform::AppendUtf8(out, u);
    }
    return out;
}

DirEntry ParseEntry(const Storage& s, std::uint32_t id) {
    ByteReader r(std::span(s.directory).subspan(std::size_t{id} * kDirEntrySize, kDirEntrySize));
    DirEntry e;
    const std::uint8_t* name = r.Bytes(64).data();
    std::uint16_t nameBytes = r.U16();
    // The length counts the terminating NUL. A length that does not fit the field is a writer's
    // slip; the name then ends at its first NUL.
    std::size_t units = 0;
    if (nameBytes >= 2 && nameBytes <= 64 && nameBytes % 2 == 0) {
        units = nameBytes / 2 - 1;
    } else {
        while (units < 32 && LoadLE<std::uint16_t>(name + 2 * units) != 0) ++units;
    }
    e.name = NameToUtf8(name, units);
    e.type = r.U8();
    r.Skip(1);  // colour: the tree is only walked, never rebalanced
    e.left = r.U32();
    e.right = r.U32();
    e.child = r.U32();
    r.Skip(16 + 4 + 8 + 8);  // CLSID, state bits, creation and modification times
    e.start = r.U32();
    e.size = r.U64();
    // Version 3 files keep the high half of the size undefined; Windows ignores it.
    if (s.version3) e.size &= 0xFFFFFFFFu;
    return e;
}

// Follows a sector chain through `table`. With want == UINT64_MAX it runs to ENDOFCHAIN;
// otherwise it collects exactly `want` links and does not look at the terminator. Every link
// must be below `limit` and may occur once; links whose successor is needed must also have a
// table entry. Memory is bounded by `limit`.
bool WalkChain(const std::vector<std::uint32_t>& table, std::uint32_t start, std::uint64_t want,
               std::uint32_t limit, std::vector<std::uint32_t>& out, std::string& why) {
    out.clear();
    if (want == 0) return true;
    const bool toEnd = want == UINT64_MAX;
    if (!toEnd && want > limit) {
        why = "chain longer than the file";
        return false;
    }
    std::vector<bool> seen(limit, false);
    std::uint32_t sector = start;
    while (true) {
        if (toEnd && sector == kEndOfChain) return true;
        if (sector >= limit) {
            why = sector == kEndOfChain || sector == kFreeSector ? "chain ends early"
                                                                 : "sector number outside the file";
            return false;
        }
        if (seen[sector]) {
            why = "chain loops";
            return false;
        }
        seen[sector] = true;
        out.push_back(sector);
        if (!toEnd && out.size() == want) return true;
        if (sector >= table.size()) {
            why = "chain leaves the allocation table";
            return false;
        }
        sector = table[sector];
    }
}

std::uint64_t CeilDiv(std::uint64_t a, std::uint64_t b) { return a / b + (a % b != 0); }

bool LoadHeaderAndTables(Storage& s, std::string& why) {
    std::uint8_t header[kHeaderSize];
    if (s.fileSize < kHeaderSize || !s.source->ReadAt(0, header, kHeaderSize)) {
        why = "file shorter than a compound-file header";
        return false;
    }
    ByteReader h(header, kHeaderSize);
    if (std::memcmp(h.Bytes(8).data(), kSignature, 8) != 0) {
        why = "no compound-file signature";
        return false;
    }
    h.Skip(16);  // CLSID
    h.U16();     // minor version
    std::uint16_t major = h.U16();
    std::uint16_t byteOrder = h.U16();
    std::uint16_t sectorShift = h.U16();
    std::uint16_t miniShift = h.U16();
    if (byteOrder != 0xFFFE || (sectorShift != 9 && sectorShift != 12) || miniShift != 6) {
        why = "unsupported header (byte order, sector or mini sector size)";
        return false;
    }
    // The major version should agree with the sector size (3: 512, 4: 4096); some writers get
    // it wrong, and the sector shift is what the layout actually follows.
    (void)major;
    s.sectorShift = sectorShift;
    s.sectorSize = 1u << sectorShift;
    s.version3 = sectorShift == 9;
    h.Seek(44);
    std::uint32_t fatCount = h.U32();
    std::uint32_t firstDir = h.U32();
    h.U32();  // transaction signature
    h.U32();  // mini stream cutoff (see kMiniStreamCutoff)
    std::uint32_t firstMiniFat = h.U32();
    h.U32();  // mini FAT sector count: the chain itself is authoritative
    std::uint32_t firstDifat = h.U32();
    h.U32();  // DIFAT sector count: likewise

    // The header occupies the first sector; sector n starts at (n + 1) * sectorSize.
    if (s.fileSize <= s.sectorSize) {
        why = "file holds no sectors";
        return false;
    }
    std::uint64_t body = s.fileSize - s.sectorSize;
    std::uint64_t limit = kMaxRegularSector + 1ull;
    s.fullSectors = static_cast<std::uint32_t>(std::min<std::uint64_t>(body >> s.sectorShift, limit));
    s.anySectors = static_cast<std::uint32_t>(std::min<std::uint64_t>(CeilDiv(body, s.sectorSize), limit));

    // FAT sectors: the first 109 are listed in the header, the rest in the DIFAT chain.
    if (fatCount == 0 || fatCount > s.fullSectors) {
        why = "FAT sector count impossible for the file's length";
        return false;
    }
    std::vector<std::uint32_t> fatSectors;
    fatSectors.reserve(fatCount);
    for (std::size_t i = 0; i < kHeaderDifatEntries && fatSectors.size() < fatCount; ++i)
        fatSectors.push_back(LoadLE<std::uint32_t>(header + 76 + 4 * i));
    const std::uint32_t perDifat = s.sectorSize / 4 - 1;
    std::vector<bool> seenDifat(s.fullSectors, false);
    std::vector<std::uint8_t> sector(s.sectorSize);
    std::uint32_t difat = firstDifat;
    while (fatSectors.size() < fatCount) {
        if (difat >= s.fullSectors || seenDifat[difat]) {
            why = difat < s.fullSectors ? "DIFAT chain loops" : "DIFAT chain ends before the FAT is complete";
            return false;
        }
        seenDifat[difat] = true;
        if (!s.ReadSector(difat, sector.data())) {
            why = "DIFAT sector unreadable";
            return false;
        }
        for (std::uint32_t i = 0; i < perDifat && fatSectors.size() < fatCount; ++i)
            fatSectors.push_back(LoadLE<std::uint32_t>(sector.data() + 4 * i));
        difat = LoadLE<std::uint32_t>(sector.data() + 4 * perDifat);
    }
    const std::uint32_t perSector = s.sectorSize / 4;
    s.fat.resize(std::size_t{fatCount} * perSector);
    for (std::size_t i = 0; i < fatSectors.size(); ++i) {
        if (fatSectors[i] >= s.fullSectors || !s.ReadSector(fatSectors[i], sector.data())) {
            why = "FAT sector outside the file";
            return false;
        }
        for (std::uint32_t j = 0; j < perSector; ++j)
            s.fat[i * perSector + j] = LoadLE<std::uint32_t>(sector.data() + 4 * j);
    }

    // Directory.
    std::vector<std::uint32_t> chain;
    if (!WalkChain(s.fat, firstDir, UINT64_MAX, s.fullSectors, chain, why)) {
        why = "directory: " + why;
        return false;
    }
    if (chain.empty()) {
        why = "directory: empty";
        return false;
    }
    s.directory.resize(chain.size() * std::size_t{s.sectorSize});
    for (std::size_t i = 0; i < chain.size(); ++i) {
        if (!s.ReadSector(chain[i], s.directory.data() + i * s.sectorSize)) {
            why = "directory sector unreadable";
            return false;
        }
    }
    s.entryCount = static_cast<std::uint32_t>(s.directory.size() / kDirEntrySize);

    // Mini FAT (absent in files without small streams).
    if (firstMiniFat != kEndOfChain && firstMiniFat != kFreeSector) {
        if (!WalkChain(s.fat, firstMiniFat, UINT64_MAX, s.fullSectors, chain, why)) {
            why = "mini FAT: " + why;
            return false;
        }
        s.miniFat.resize(chain.size() * std::size_t{perSector});
        for (std::size_t i = 0; i < chain.size(); ++i) {
            if (!s.ReadSector(chain[i], sector.data())) {
                why = "mini FAT sector unreadable";
                return false;
            }
            for (std::uint32_t j = 0; j < perSector; ++j)
                s.miniFat[i * perSector + j] = LoadLE<std::uint32_t>(sector.data() + 4 * j);
        }
    }

    DirEntry root = ParseEntry(s, 0);
    if (root.type != kRootEntry) {
        why = "first directory entry is not the root";
        return false;
    }
    // The mini stream is the root entry's data.
    s.miniStreamSize = root.size;
    if (root.size == 0) {
        s.miniStreamOk = true;
    } else {
        std::uint64_t want = CeilDiv(root.size, s.sectorSize);
        std::string miniWhy;
        if (WalkChain(s.fat, root.start, want, s.anySectors, s.miniStreamSectors, miniWhy)) {
            std::uint32_t last = s.miniStreamSectors.back();
            std::uint64_t tail = root.size - (want - 1) * s.sectorSize;
            bool inside = s.SectorOffset(last) + tail <= s.fileSize;
            for (std::size_t i = 0; i + 1 < s.miniStreamSectors.size() && inside; ++i)
                inside = s.miniStreamSectors[i] < s.fullSectors;
            s.miniStreamOk = inside;
            if (!inside) miniWhy = "mini stream runs past the end of the file";
        }
        if (!s.miniStreamOk) s.miniStreamError = "mini stream: " + miniWhy;
    }
    return true;
}

// The elements of storage `parent`, in its child tree's in-order walk. A tree that leads back to
// one of its own entries or to the storage itself is damaged.
bool ListTree(const Storage& s, std::uint32_t parent, std::vector<CompoundElement>& out, std::string& why) {
    out.clear();
    std::vector<bool> seen(s.entryCount, false);
    seen[parent] = true;
    const std::uint32_t child = ParseEntry(s, parent).child;
    std::vector<std::pair<std::uint32_t, DirEntry>> stack;
    std::uint32_t cur = child;
    while (cur != kNoStream || !stack.empty()) {
        while (cur != kNoStream) {
            if (cur >= s.entryCount) {
                why = "directory tree refers to a missing entry";
                return false;
            }
            if (seen[cur]) {
                why = "directory tree loops";
                return false;
            }
            seen[cur] = true;
            DirEntry e = ParseEntry(s, cur);
            // Only storages and streams belong in a tree; anything else (an unallocated slot,
            // a second root) is treated as an empty branch.
            if (e.type != kStorageEntry && e.type != kStreamEntry) break;
            std::uint32_t left = e.left;
            stack.emplace_back(cur, std::move(e));
            cur = left;
        }
        if (stack.empty()) break;
        auto [id, e] = std::move(stack.back());
        stack.pop_back();
        CompoundElement el;
        el.name = std::move(e.name);
        el.isStorage = e.type == kStorageEntry;
        el.size = el.isStorage ? 0 : e.size;
        el.id = id;
        out.push_back(std::move(el));
        cur = e.right;
    }
    return true;
}

}  // namespace
}  // namespace cfb

// ---------------------------------------------------------------------------------------------
// CompoundStream

CompoundStream::~CompoundStream() = default;

bool CompoundStream::ReadPhysical(std::uint64_t fileOffset, std::size_t length, std::uint8_t* out) {
    const cfb::Storage& s = *storage_;
    const std::uint64_t sectorSize = s.sectorSize;
    std::uint64_t sectorStart = fileOffset & ~(sectorSize - 1);
    if (length < sectorSize && fileOffset + length <= sectorStart + sectorSize) {
        if (cacheOffset_ != sectorStart) {
            cache_.resize(s.sectorSize);
            std::size_t have = static_cast<std::size_t>(
                std::min<std::uint64_t>(sectorSize, s.fileSize > sectorStart ? s.fileSize - sectorStart : 0));
            cacheOffset_ = UINT64_MAX;
            if (have == 0 || !s.source->ReadAt(sectorStart, cache_.data(), have)) return false;
            cacheOffset_ = sectorStart;
            cacheLength_ = have;
        }
        std::size_t at = static_cast<std::size_t>(fileOffset - sectorStart);
        if (at + length > cacheLength_) return false;
        std::memcpy(out, cache_.data() + at, length);
        return true;
    }
    return s.source->ReadAt(fileOffset, out, length);
}

std::ptrdiff_t CompoundStream::Read(void* buffer, std::size_t count) {
    if (!storage_) {
        status_ = CompoundStatus::ReadFailed;
        return -1;
    }
    if (position_ >= size_ || count == 0) return 0;
    const cfb::Storage& s = *storage_;
    count = static_cast<std::size_t>(std::min<std::uint64_t>(count, size_ - position_));
    count = std::min<std::size_t>(count, static_cast<std::size_t>(std::numeric_limits<std::ptrdiff_t>::max()));
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        std::uint64_t pos = position_ + done;
        std::uint64_t fileOffset;
        std::size_t piece;
        if (!mini_) {
            std::size_t index = static_cast<std::size_t>(pos >> s.sectorShift);
            std::size_t within = static_cast<std::size_t>(pos & (s.sectorSize - 1));
            // Take as many physically consecutive sectors as the request spans in one read.
            std::size_t end = index;
            std::uint64_t span = s.sectorSize - within;
            while (span < count - done && end + 1 < sectors_.size() && sectors_[end + 1] == sectors_[end] + 1) {
                ++end;
                span += s.sectorSize;
            }
            piece = static_cast<std::size_t>(std::min<std::uint64_t>(span, count - done));
            fileOffset = s.SectorOffset(sectors_[index]) + within;
        } else {
            std::size_t index = static_cast<std::size_t>(pos / cfb::kMiniSectorSize);
            std::size_t within = static_cast<std::size_t>(pos % cfb::kMiniSectorSize);
            piece = std::min<std::size_t>(cfb::kMiniSectorSize - within, count - done);
            std::uint64_t inMini = std::uint64_t{sectors_[index]} * cfb::kMiniSectorSize + within;
            std::size_t container = static_cast<std::size_t>(inMini >> s.sectorShift);
            fileOffset = s.SectorOffset(s.miniStreamSectors[container]) + (inMini & (s.sectorSize - 1));
        }
        if (!ReadPhysical(fileOffset, piece, out + done)) {
            position_ += done;
            status_ = CompoundStatus::ReadFailed;
            return -1;
        }
        done += piece;
    }
    position_ += done;
    return static_cast<std::ptrdiff_t>(done);
}

bool CompoundStream::Write(const void*, std::size_t) {
    status_ = CompoundStatus::WriteFailed;
    return false;
}

bool CompoundStream::Seek(std::int64_t offset, SeekOrigin origin) {
    std::int64_t base;
    switch (origin) {
        case SeekOrigin::Begin: base = 0; break;
        case SeekOrigin::Current: base = static_cast<std::int64_t>(std::min<std::uint64_t>(position_, INT64_MAX)); break;
        case SeekOrigin::End: base = static_cast<std::int64_t>(std::min<std::uint64_t>(size_, INT64_MAX)); break;
        default: status_ = CompoundStatus::SeekFailed; return false;
    }
    std::int64_t target;
    if (__builtin_add_overflow(base, offset, &target) || target < 0) {
        status_ = CompoundStatus::SeekFailed;
        return false;
    }
    position_ = static_cast<std::uint64_t>(target);
    return true;
}

// ---------------------------------------------------------------------------------------------
// A std::istream over a CompoundStream.

namespace {

class CompoundStreamBuf final : public std::streambuf {
public:
    explicit CompoundStreamBuf(std::unique_ptr<CompoundStream> stream) : stream_(std::move(stream)) {
        setg(buffer_, buffer_, buffer_);
    }

protected:
    int_type underflow() override {
        if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
        std::ptrdiff_t got = stream_->Read(buffer_, sizeof buffer_);
        if (got <= 0) {
            setg(buffer_, buffer_, buffer_);
            return traits_type::eof();
        }
        setg(buffer_, buffer_, buffer_ + got);
        return traits_type::to_int_type(*gptr());
    }
    pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode which) override {
        if (!(which & std::ios_base::in)) return pos_type(off_type(-1));
        std::int64_t target;
        if (dir == std::ios_base::beg) {
            target = off;
        } else if (dir == std::ios_base::cur) {
            // The stream is ahead of the caller by what is still buffered.
            std::int64_t here = static_cast<std::int64_t>(stream_->Tell()) - (egptr() - gptr());
            if (__builtin_add_overflow(here, static_cast<std::int64_t>(off), &target))
                return pos_type(off_type(-1));
        } else {
            if (__builtin_add_overflow(static_cast<std::int64_t>(stream_->Size()), static_cast<std::int64_t>(off), &target))
                return pos_type(off_type(-1));
        }
        if (!stream_->Seek(target, SeekOrigin::Begin)) return pos_type(off_type(-1));
        setg(buffer_, buffer_, buffer_);
        return pos_type(off_type(target));
    }
    pos_type seekpos(pos_type pos, std::ios_base::openmode which) override {
        return seekoff(off_type(pos), std::ios_base::beg, which);
    }

private:
    std::unique_ptr<CompoundStream> stream_;
    char buffer_[4096];
};

class CompoundIStream final : public std::istream {
public:
    explicit CompoundIStream(std::unique_ptr<CompoundStream> stream)
        : std::istream(nullptr), buf_(std::move(stream)) {
        rdbuf(&buf_);
    }

private:
    CompoundStreamBuf buf_;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// CompoundFileReader

CompoundFileReader::CompoundFileReader() = default;
CompoundFileReader::~CompoundFileReader() = default;

bool CompoundFileReader::IsCompoundData(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= cfb::kHeaderSize && std::memcmp(bytes.data(), cfb::kSignature, 8) == 0;
}

namespace {

// Opens a path for reading without blocking on FIFOs or devices; only regular files qualify.
int OpenRegularFile(const std::string& path, std::uint64_t& size) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return -1;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) {
        ::close(fd);
        return -1;
    }
    int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    size = static_cast<std::uint64_t>(st.st_size);
    return fd;
}

}  // namespace

bool CompoundFileReader::IsCompoundFile(const std::string& path) {
    std::uint64_t size = 0;
    int fd = OpenRegularFile(path, size);
    if (fd < 0) return false;
    cfb::FileSource source(fd);  // closes fd
    std::uint8_t head[8];
    return size >= cfb::kHeaderSize && source.ReadAt(0, head, sizeof head) &&
           std::memcmp(head, cfb::kSignature, 8) == 0;
}

bool CompoundFileReader::Fail(CompoundStatus status, std::string why) {
    status_ = status;
    error_ = std::move(why);
    return false;
}

bool CompoundFileReader::Open(const std::string& path) {
    Close();
    std::uint64_t size = 0;
    int fd = OpenRegularFile(path, size);
    if (fd < 0) return Fail(CompoundStatus::OpenFailed, "cannot open the file for reading");
    auto storage = std::make_shared<cfb::Storage>();
    storage->source = std::make_unique<cfb::FileSource>(fd);
    storage->fileSize = size;
    return Finish(std::move(storage));
}

bool CompoundFileReader::OpenMemory(std::span<const std::uint8_t> bytes) {
    Close();
    auto storage = std::make_shared<cfb::Storage>();
    storage->source = std::make_unique<cfb::MemorySource>(bytes);
    storage->fileSize = bytes.size();
    return Finish(std::move(storage));
}

bool CompoundFileReader::Finish(std::shared_ptr<cfb::Storage> storage) {
    std::string why;
    std::vector<CompoundElement> root;
    if (!cfb::LoadHeaderAndTables(*storage, why)) return Fail(CompoundStatus::OpenFailed, why);
    if (!cfb::ListTree(*storage, 0, root, why))
        return Fail(CompoundStatus::OpenFailed, "root storage: " + why);
    storage_ = std::move(storage);
    root_ = std::move(root);
    status_ = CompoundStatus::Ok;
    error_.clear();
    return true;
}

void CompoundFileReader::Close() {
    storage_.reset();
    root_.clear();
    status_ = CompoundStatus::Ok;
    error_.clear();
}

std::uint32_t CompoundFileReader::SectorSize() const { return storage_ ? storage_->sectorSize : 0; }

bool CompoundFileReader::Children(const CompoundElement& storage, std::vector<CompoundElement>& out) {
    out.clear();
    if (!storage_) return Fail(CompoundStatus::OpenFailed, "no file is open");
    if (storage.id >= storage_->entryCount) return Fail(CompoundStatus::OpenFailed, "no such entry");
    cfb::DirEntry e = cfb::ParseEntry(*storage_, storage.id);
    if (e.type != cfb::kStorageEntry && e.type != cfb::kRootEntry)
        return Fail(CompoundStatus::OpenFailed, "not a storage");
    std::string why;
    if (!cfb::ListTree(*storage_, storage.id, out, why)) {
        out.clear();
        return Fail(CompoundStatus::OpenFailed, "storage '" + e.name + "': " + why);
    }
    return true;
}

std::unique_ptr<CompoundStream> CompoundFileReader::OpenStream(const std::string& name) {
    if (!storage_) {
        Fail(CompoundStatus::NoSuchStream, "no file is open");
        return nullptr;
    }
    for (const auto& el : root_)
        if (!el.isStorage && el.name == name) return OpenStream(el);
    Fail(CompoundStatus::NoSuchStream, "no stream named '" + name + "'");
    return nullptr;
}

std::unique_ptr<CompoundStream> CompoundFileReader::OpenStream(const CompoundElement& element) {
    auto fail = [&](std::string why) -> std::unique_ptr<CompoundStream> {
        Fail(CompoundStatus::NoSuchStream, std::move(why));
        return nullptr;
    };
    if (!storage_) return fail("no file is open");
    const cfb::Storage& s = *storage_;
    if (element.id == 0 || element.id >= s.entryCount) return fail("no such entry");
    // The directory, not the caller's copy of the element, says where the data is.
    cfb::DirEntry e = cfb::ParseEntry(s, element.id);
    if (e.type != cfb::kStreamEntry) return fail("'" + e.name + "' is not a stream");
    std::unique_ptr<CompoundStream> stream(new CompoundStream());
    stream->storage_ = storage_;
    stream->name_ = e.name;
    stream->size_ = e.size;
    std::string why;
    if (e.size == 0) return stream;
    if (e.size < cfb::kMiniStreamCutoff) {
        if (!s.miniStreamOk) return fail("'" + e.name + "': " + s.miniStreamError);
        std::uint64_t want = cfb::CeilDiv(e.size, cfb::kMiniSectorSize);
        std::uint64_t slots = cfb::CeilDiv(s.miniStreamSize, cfb::kMiniSectorSize);
        std::uint32_t limit = static_cast<std::uint32_t>(std::min<std::uint64_t>(slots, UINT32_MAX));
        if (!cfb::WalkChain(s.miniFat, e.start, want, limit, stream->sectors_, why))
            return fail("'" + e.name + "': mini chain: " + why);
        // Every mini sector but the last must lie wholly in the mini stream, the last as far as
        // the stream's data reaches.
        for (std::size_t i = 0; i < stream->sectors_.size(); ++i) {
            bool last = i + 1 == stream->sectors_.size();
            std::uint64_t need = last ? e.size - (want - 1) * cfb::kMiniSectorSize : cfb::kMiniSectorSize;
            if (std::uint64_t{stream->sectors_[i]} * cfb::kMiniSectorSize + need > s.miniStreamSize)
                return fail("'" + e.name + "': data runs past the end of the mini stream");
        }
        stream->mini_ = true;
        return stream;
    }
    std::uint64_t want = cfb::CeilDiv(e.size, s.sectorSize);
    if (want > s.anySectors) return fail("'" + e.name + "': size exceeds the file");
    if (!cfb::WalkChain(s.fat, e.start, want, s.anySectors, stream->sectors_, why))
        return fail("'" + e.name + "': " + why);
    for (std::size_t i = 0; i + 1 < stream->sectors_.size(); ++i)
        if (stream->sectors_[i] >= s.fullSectors) return fail("'" + e.name + "': sector outside the file");
    std::uint64_t tail = e.size - (want - 1) * s.sectorSize;
    if (s.SectorOffset(stream->sectors_.back()) + tail > s.fileSize)
        return fail("'" + e.name + "': data runs past the end of the file");
    return stream;
}

std::unique_ptr<std::istream> CompoundFileReader::OpenIStream(const std::string& name) {
    auto stream = OpenStream(name);
    if (!stream) return nullptr;
    return std::make_unique<CompoundIStream>(std::move(stream));
}

std::unique_ptr<std::istream> CompoundFileReader::OpenIStream(const CompoundElement& element) {
    auto stream = OpenStream(element);
    if (!stream) return nullptr;
    return std::make_unique<CompoundIStream>(std::move(stream));
}

}  // namespace kelto::platform
