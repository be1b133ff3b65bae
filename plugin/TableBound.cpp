#include "plugin/TableBound.h"

#include <unistd.h>

#include <algorithm>

#include "platform/Translate.h"

namespace kelto {

namespace {

bool TooManyCells(std::int64_t rows, std::int64_t cols) {
    // Both are below 2^63 and at most one of them is above 2^31 when the product is not.
    const auto r = static_cast<std::uint64_t>(rows), c = static_cast<std::uint64_t>(cols);
    return c != 0 && r > kMaxTableCells / c;
}

std::uint64_t BytesOf(std::int64_t rows, std::int64_t cols) {
    const auto r = static_cast<std::uint64_t>(rows), c = static_cast<std::uint64_t>(cols);
    return r * c * kTableBytesPerCell + r * kTableBytesPerRow;  // cells <= 2^31: no overflow
}

}  // namespace

std::uint64_t PhysicalMemoryBytes() {
    const long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0) return 0;
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
}

TableTooLarge::TableTooLarge(std::int64_t rows, std::int64_t cols, std::uint64_t memoryBytes)
    : std::runtime_error(TranslateFormat("A table of %1% rows by %2% columns is too large to import.", rows, cols)),
      rows_(rows),
      cols_(cols),
      memoryBytes_(memoryBytes) {}

std::string TableTooLarge::MessageFor(const std::string& file) const {
    if (TooManyCells(rows_, cols_))
        return TranslateFormat(
            "%1% asks for a table of %2% rows by %3% columns, more than the %4% cells a table can hold. Import "
            "will be aborted.",
            file, rows_, cols_, kMaxTableCells);
    return TranslateFormat(
        "%1% asks for a table of %2% rows by %3% columns, which needs more memory than this computer has (%4% MB). "
        "Import will be aborted.",
        file, rows_, cols_, memoryBytes_ >> 20);
}

void CheckTableSize(std::int64_t rows, std::int64_t cols, std::uint64_t memoryBytes) {
    rows = std::max<std::int64_t>(rows, 0);
    cols = std::max<std::int64_t>(cols, 0);
    if (TooManyCells(rows, cols) || (memoryBytes != 0 && BytesOf(rows, cols) > memoryBytes))
        throw TableTooLarge(rows, cols, memoryBytes);
}

}  // namespace kelto
