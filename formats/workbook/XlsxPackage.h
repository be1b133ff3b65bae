#pragma once
// The zip package of an Office Open XML workbook, read through libzip, with every part
// streamed in blocks and bounded by what the package really holds.
//
// Bounds (a zip bomb is a part that claims, or inflates to, far more than its compressed
// bytes can honestly give):
// - only stored and deflated parts are read, never encrypted ones;
// - a deflated part's uncompressed size in the central directory must be one deflate could
//   produce from its compressed size (at most 1032 bytes out per byte in, plus slack);
// - a part that inflates to more bytes than that size says is corrupt, and reading stops
//   there, so no part yields more than its directory entry claims.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct zip;
struct zip_file;

namespace kelto::workbook::xlsx {

enum class PartStatus {
    Ok,
    Missing,      // no such part
    Corrupt,      // inflate or CRC failure, a size that lies, or more bytes than claimed
    Unsupported,  // encrypted, or a compression method other than store and deflate
};

// Bytes of one part, read in blocks.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Up to `capacity` bytes into `buffer`: the count read, 0 at the end, or -1 on failure
    // (status() then says why).
    virtual std::ptrdiff_t Read(char* buffer, std::size_t capacity) = 0;
    virtual PartStatus status() const = 0;
    // The size the part claims to have; never exceeded.
    virtual std::uint64_t DeclaredSize() const = 0;
};

class PartStream : public ByteSource {
public:
    ~PartStream() override;
    PartStream(const PartStream&) = delete;
    PartStream& operator=(const PartStream&) = delete;

    std::ptrdiff_t Read(char* buffer, std::size_t capacity) override;
    PartStatus status() const override { return status_; }
    // The uncompressed size the central directory gives.
    std::uint64_t DeclaredSize() const override { return declared_; }

private:
    friend class Package;
    PartStream(zip_file* file, std::uint64_t declared) : file_(file), declared_(declared) {}
    zip_file* file_;
    std::uint64_t declared_;
    std::uint64_t delivered_ = 0;
    PartStatus status_ = PartStatus::Ok;
};

class Package {
public:
    Package() = default;
    ~Package();
    Package(const Package&) = delete;
    Package& operator=(const Package&) = delete;

    // False when the file cannot be opened or is not a zip archive.
    bool OpenFile(const std::string& path);
    // The archive in `size` bytes at `data`, which must outlive the package (tests, fuzzing).
    bool OpenMemory(const void* data, std::size_t size);
    bool IsOpen() const { return archive_ != nullptr; }

    // The part's name as stored: an exact match, else one that differs only in letter case;
    // empty when there is none. Leading "/" of `name` is ignored.
    std::string Find(const std::string& name) const;
    // Opens a part for streaming; null with `status` set when it cannot be read.
    std::unique_ptr<PartStream> Open(const std::string& name, PartStatus& status) const;
    // The whole part, for the small ones (relationships); bounded by `limit` bytes, beyond
    // which the status is Corrupt.
    PartStatus ReadAll(const std::string& name, std::string& text, std::size_t limit) const;

private:
    zip* archive_ = nullptr;
};

// Bytes in memory, handed out at most `step` at a time (tests and fuzzing use small steps to
// cut the text at every place).
class MemorySource : public ByteSource {
public:
    MemorySource(std::string_view bytes, std::size_t step) : bytes_(bytes), step_(step ? step : 1) {}
    std::ptrdiff_t Read(char* buffer, std::size_t capacity) override {
        std::size_t n = bytes_.size() - at_;
        if (n > capacity) n = capacity;
        if (n > step_) n = step_;
        for (std::size_t i = 0; i < n; ++i) buffer[i] = bytes_[at_ + i];
        at_ += n;
        return static_cast<std::ptrdiff_t>(n);
    }
    PartStatus status() const override { return PartStatus::Ok; }
    std::uint64_t DeclaredSize() const override { return bytes_.size(); }

private:
    std::string_view bytes_;
    std::size_t step_;
    std::size_t at_ = 0;
};

// The part a relationship target names, seen from the part `source` ("xl/workbook.xml"):
// relative to its folder, or from the package root when it starts with "/"; "." and ".."
// segments are resolved. Empty when ".." climbs above the root.
std::string ResolvePartName(const std::string& source, const std::string& target);

// The relationships part of `source`: "xl/_rels/workbook.xml.rels" for "xl/workbook.xml".
std::string RelationshipsPartOf(const std::string& source);

// True when the file starts with the signature of an OLE compound file, which is what an
// encrypted (password protected) workbook is.
bool LooksLikeCompoundFile(const std::string& path);

}  // namespace kelto::workbook::xlsx
