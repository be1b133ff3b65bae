#pragma once
// Read-only access to OLE compound files ("structured storage", the Compound File Binary
// format of [MS-CFB]): the container of BIFF5-8 workbooks and of several product data files.
//
// What is supported: 512- and 4096-byte sectors, the FAT with its DIFAT (header array and
// DIFAT sector chain), the mini FAT and the mini stream, and the directory's red-black trees.
// Nothing is written and the file is never locked: it is opened with a plain read-only
// descriptor and read with pread, so other programs may read or write it meanwhile.
//
// The files are untrusted. Every sector number is checked against the sectors the file really
// holds, every chain is followed with a visited set (a chain that loops or leaves the file is an
// error, never a hang or an out-of-bounds read), and nothing is allocated from a count the file
// declares before that count has been checked against the file's length: the tables the reader
// keeps (FAT, mini FAT, directory, one stream's sector list) are each at most the size of the
// file.
//
// Order of elements: a storage's elements are listed in the in-order walk of its directory tree
// (left subtree, entry, right subtree). In a well-formed file that tree is sorted by the format's
// name order (shorter names first, then by upper-cased UTF-16 code units), so the listing is in
// that order -- the order in which Windows' own enumerator hands out a storage's elements. For a
// file whose tree is not sorted (some writers get the balancing wrong) we keep the walk order
// rather than re-sorting, so that every element is still listed exactly once.
//
// Status codes follow the structured-storage failures the workbook reader distinguishes:
//   1 the file could not be opened as a compound file, or its elements could not be listed;
//   2 no such stream, or it could not be opened;
//   3 a read failed;  4 a write failed (the storage is read-only);  6 a seek or tell failed.
// A read that reaches the end of a stream returns the bytes that were there: that is not an
// error, a caller that expects more must notice the short count itself.
#include <cstddef>
#include <cstdint>
#include <istream>
#include <memory>
#include <span>
#include <string>
#include <vector>


namespace kelto::platform {

enum class CompoundStatus : int {
    Ok = 0,
    OpenFailed = 1,
    NoSuchStream = 2,
    ReadFailed = 3,
    WriteFailed = 4,
    SeekFailed = 6,
};

enum class SeekOrigin { Begin = 0, Current = 1, End = 2 };

// One element of a storage, as the listing gives it.
struct CompoundElement {
    std::string name;        // UTF-8 (control characters such as the \x05 of property sets kept)
    bool isStorage = false;  // a sub-storage; otherwise a stream
    std::uint64_t size = 0;  // the stream's length in bytes; 0 for a storage
    std::uint32_t id = 0;    // directory entry number, for OpenStream / Children
};

namespace cfb {
struct Storage;  // the parsed file, shared by the reader and its open streams
}

// One open stream. Keeps the file alive on its own: it stays usable after its reader is closed
// or destroyed. One stream object serves one caller at a time; several streams of one file may
// be read from different threads.
class CompoundStream {
public:
    ~CompoundStream();
    CompoundStream(const CompoundStream&) = delete;
    CompoundStream& operator=(const CompoundStream&) = delete;

    // Copies up to `count` bytes from the current position and advances past them. Returns the
    // number copied: fewer than `count` only at the end of the stream (0 at or past the end).
    // Returns -1 and sets status 3 when the file cannot be read (it shrank, an I/O error).
    std::ptrdiff_t Read(void* buffer, std::size_t count);
    // The storage is read-only: always fails with status 4.
    bool Write(const void* buffer, std::size_t count);
    // Moves the position; positions past the end are allowed (reads there return 0 bytes).
    // A resulting position below 0 fails with status 6 and leaves the position unchanged.
    bool Seek(std::int64_t offset, SeekOrigin origin);
    std::uint64_t Tell() const { return position_; }
    std::uint64_t Size() const { return size_; }
    const std::string& Name() const { return name_; }
    // The code of the last failure (0 while none happened).
    CompoundStatus Status() const { return status_; }

private:
    friend class CompoundFileReader;
    CompoundStream() = default;
    bool ReadPhysical(std::uint64_t fileOffset, std::size_t length, std::uint8_t* out);

    std::shared_ptr<const cfb::Storage> storage_;
    std::string name_;
    std::uint64_t size_ = 0;
    std::uint64_t position_ = 0;
    bool mini_ = false;
    // Regular streams: the stream's sectors in order. Mini streams: its mini sectors.
    std::vector<std::uint32_t> sectors_;
    CompoundStatus status_ = CompoundStatus::Ok;
    // The last file sector read for a small request, so record-by-record readers do not pay a
    // system call per field.
    std::vector<std::uint8_t> cache_;
    std::uint64_t cacheOffset_ = UINT64_MAX;
    std::size_t cacheLength_ = 0;
};

class CompoundFileReader {
public:
    CompoundFileReader();
    ~CompoundFileReader();
    CompoundFileReader(const CompoundFileReader&) = delete;
    CompoundFileReader& operator=(const CompoundFileReader&) = delete;

    // Whether the file starts with the compound-file signature and holds at least a whole
    // header. Never throws; any failure to read answers false.
    static bool IsCompoundFile(const std::string& path);
    static bool IsCompoundData(std::span<const std::uint8_t> bytes);

    // Opens the file read-only (no locks, other readers and writers are not shut out), reads
    // the header, FAT, mini FAT and directory and lists the root storage. False with status 1
    // when any of that fails; LastError() then says why.
    bool Open(const std::string& path);
    // The same over bytes in memory (copied; the caller need not keep them).
    bool OpenMemory(std::span<const std::uint8_t> bytes);
    void Close();
    bool IsOpen() const { return storage_ != nullptr; }

    // The root storage's elements, in the order described at the top of this file.
    const std::vector<CompoundElement>& RootElements() const { return root_; }
    // The elements of a sub-storage (same order). False with status 1 when `storage` is not a
    // storage of this file or its tree is damaged. A damaged file can make storages contain
    // each other: a caller that walks down through storages must remember the ids it has seen.
    bool Children(const CompoundElement& storage, std::vector<CompoundElement>& out);

    // Opens a stream of the root storage by its exact name (UTF-8, case-sensitive), or any
    // stream element from a listing. Null with status 2 when there is no such stream, the
    // element is a storage, or the stream's sectors do not lie within the file.
    std::unique_ptr<CompoundStream> OpenStream(const std::string& name);
    std::unique_ptr<CompoundStream> OpenStream(const CompoundElement& element);
    // The stream wrapped as a std::istream (binary, seekable); null with status 2 as above.
    std::unique_ptr<std::istream> OpenIStream(const std::string& name);
    std::unique_ptr<std::istream> OpenIStream(const CompoundElement& element);

    // The code of the last failure of Open, Children or OpenStream (0 while none happened).
    CompoundStatus Status() const { return status_; }
    // A short English description of the last failure, for logs and tests.
    const std::string& LastError() const { return error_; }

    // The sector size of the open file (512 or 4096); 0 when nothing is open.
    std::uint32_t SectorSize() const;

private:
    bool Fail(CompoundStatus status, std::string why);
    bool Finish(std::shared_ptr<cfb::Storage> storage);

    std::shared_ptr<const cfb::Storage> storage_;
    std::vector<CompoundElement> root_;
    CompoundStatus status_ = CompoundStatus::Ok;
    std::string error_;
};

}  // namespace kelto::platform
