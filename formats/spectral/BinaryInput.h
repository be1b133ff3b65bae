#pragma once
// A binary input file for the instrument readers: whole-block reads and forward skips that
// are checked against the size the file had when it was opened, so that a count taken from
// the file can be compared with the bytes that really remain before anything is read or
// allocated for it. Only regular files are opened: a directory, a pipe or a device would
// otherwise be "opened" and then block, or never end.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace kelto::spectral {

class BinaryInput {
public:
    BinaryInput() = default;
    ~BinaryInput() { Close(); }
    BinaryInput(const BinaryInput&) = delete;
    BinaryInput& operator=(const BinaryInput&) = delete;

    // False (and nothing open) when `path` is not a regular file that opens for reading.
    bool Open(const std::string& path);
    void Close();
    bool IsOpen() const { return file_ != nullptr; }

    // Size in bytes when the file was opened.
    std::uint64_t Size() const { return size_; }
    std::uint64_t Position() const { return position_; }
    // Bytes between the position and the end, as measured at open.
    std::uint64_t Remaining() const { return position_ < size_ ? size_ - position_ : 0; }

    bool Rewind();
    // Reads up to `count` bytes (no further than the size seen at open) and returns how
    // many came.
    std::size_t Read(void* out, std::size_t count);
    bool ReadExact(void* out, std::size_t count) { return Read(out, count) == count; }
    // Moves forward by `count` bytes when that many remain; otherwise does not move.
    bool Skip(std::uint64_t count);

private:
    std::FILE* file_ = nullptr;
    std::uint64_t size_ = 0;
    std::uint64_t position_ = 0;
};

}  // namespace kelto::spectral
