#pragma once
// The bound on the size of a table a read may ask for. A reader sizes the host's table from
// what a file claims (a header, a dimension record); a damaged or hostile file, or a faulty
// plug-in, can claim far more than any computer holds. Every place where a table grows to a
// size it was told checks it here first, so that such a read ends with a message instead of
// the process being killed for memory.
#include <cstdint>
#include <stdexcept>
#include <string>

#include "plugin/Export.h"

namespace kelto {

// More cells than this are refused whatever the memory: row and cell counts are ints.
inline constexpr std::uint64_t kMaxTableCells = std::uint64_t{1} << 31;
// What a table needs at the least: one 16-byte cell each, and a row object and its pointer.
inline constexpr std::uint64_t kTableBytesPerCell = 16;
inline constexpr std::uint64_t kTableBytesPerRow = 48;

// The physical memory of this computer in bytes (0 when it cannot be told).
KELTO_API std::uint64_t PhysicalMemoryBytes();

// A table of `rows` by `cols` that cannot be held: too many cells, or more bytes than
// `memoryBytes` (0: no memory bound).
class KELTO_API TableTooLarge : public std::runtime_error {
public:
    TableTooLarge(std::int64_t rows, std::int64_t cols, std::uint64_t memoryBytes);
    std::int64_t Rows() const { return rows_; }
    std::int64_t Cols() const { return cols_; }
    // The message naming the file that asked for the table.
    std::string MessageFor(const std::string& file) const;

private:
    std::int64_t rows_, cols_;
    std::uint64_t memoryBytes_;
};

// Throws TableTooLarge when a table of `rows` by `cols` has more than kMaxTableCells cells or
// needs more than `memoryBytes` (by default this computer's physical memory). Negative
// counts are taken as 0, as the tables do.
KELTO_API void CheckTableSize(std::int64_t rows, std::int64_t cols, std::uint64_t memoryBytes = PhysicalMemoryBytes());

}  // namespace kelto
