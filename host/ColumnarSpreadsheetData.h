#pragma once
// A table held column by column, for hosts that hand columns on as arrays (a scripting
// binding's data frames) instead of walking cells. Each column keeps its numbers as floats,
// its 64-bit integers (only once one arrives), one kind byte per cell and its texts apart,
// about 5 bytes a numeric cell against the row table's 16 and more.
//
// The cell rules are the row table's: a text set into it is decided by FloatString (blank is
// missing, numbers become numbers, large whole numbers exact integers, "007" stays a text),
// so that a read gives the same kinds whichever table it fills. Unlike the row table it keeps
// the 64-bit and int forms of Set as integers rather than rounding them to floats.
//
// Filling from several threads at once needs one table per thread; RequestCancel is the one
// call that may come from another thread during a read.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "data/SpreadsheetData.h"
#include "plugin/Export.h"

enum class CellKind : std::uint8_t { Missing = 0, Number = 1, Integer = 2, Text = 3 };

struct KELTO_API ColumnarColumn {
    std::vector<float> numbers;          // rows long; NaN where the cell is not a Number
    std::vector<std::int64_t> integers;  // empty until the column gets an Integer cell, then rows long (0 elsewhere)
    std::vector<CellKind> kinds;         // rows long
    // (0-based row, text), in row order when the cells were filled in row order; one entry
    // per Text cell.
    std::vector<std::pair<int, std::string>> texts;
    // Whether a cell of the kind was ever set in the column (a cell set again to another
    // kind does not clear them).
    bool hasNumber = false, hasInteger = false, hasText = false;
};

class KELTO_API ColumnarSpreadsheetData : public SpreadsheetData {
public:
    ColumnarSpreadsheetData();
    ~ColumnarSpreadsheetData() override;
    ColumnarSpreadsheetData(const ColumnarSpreadsheetData&) = delete;
    ColumnarSpreadsheetData& operator=(const ColumnarSpreadsheetData&) = delete;

    // --- Filling (what readers call). Cells outside the current size are ignored.
    using SpreadsheetData::Set;
    // A text is decided as the row table decides it (FloatString::Set).
    void Set(int col, int row, const char* text) override;
    // Number, unless it is the missing value -99, NaN or an infinity (Missing); subnormals
    // become 0, as in the row table.
    void Set(int col, int row, float value) override;
    // Integer, unless it is the missing value -99.
    void Set(int col, int row, std::int64_t value) override;
    void Set(int col, int row, int value) override { Set(col, row, static_cast<std::int64_t>(value)); }
    // Exactly cols x rows afterwards, keeping the cells that remain; new cells are missing.
    // A size beyond the bound of plugin/TableBound.h throws kelto::TableTooLarge, changing
    // nothing. Negative counts are taken as 0.
    void SetDataSize(int cols, int rows) override;

    // Makes the next Set or SetDataSize throw CancelException, which ends a read as
    // cancelled. Safe to call from any thread (a signal watcher's, say) while a read runs;
    // ClearCancel before the table is filled again.
    void RequestCancel() { cancel_.store(true, std::memory_order_relaxed); }
    void ClearCancel() { cancel_.store(false, std::memory_order_relaxed); }

    // --- Building a table column by column (for writing tables that come from elsewhere).
    // Each sets rows 1..n of column `col` (1-based; nothing outside the size): numbers
    // follow Set(float), integers Set(int64). Throws std::out_of_range when `col` is not a
    // column or n exceeds the rows.
    void SetColumnNumbers(int col, const float* values, std::size_t n);
    void SetColumnNumbers(int col, const double* values, std::size_t n);
    void SetColumnIntegers(int col, const std::int64_t* values, std::size_t n);
    // A text kept as it is, not decided as a number (an empty text is a missing cell).
    void SetText(int col, int row, std::string text);
    void SetMissing(int col, int row);

    // --- Reading the columns.
    int GetNumberOfColumns() const override { return static_cast<int>(columns_.size()); }
    int GetNumberOfRows() const override { return rows_; }
    // `col` from 1 to the columns (not checked).
    const ColumnarColumn& Column(int col) const { return columns_[static_cast<std::size_t>(col - 1)]; }
    // Moves the column's vectors out, so that they can be handed on without a copy; the
    // column is left empty (no cells: every cell reads as missing afterwards, and cells set
    // into it are ignored) until the next SetDataSize gives it rows again.
    ColumnarColumn TakeColumn(int col);
    // The kind of a cell; Missing outside the size.
    CellKind Kind(int col, int row) const;

    // --- The cell source for writers, with the row table's answers.
    float GetFloatData(int col, int row) const override;
    std::string GetStringValue(int col, int row) const override;
    bool GetFirstDataCell(int* col, int* row) const override;
    bool IsFloat(int col, int row) const override;
    bool IsMisVal(int col, int row) const override;
    bool IsString(int col, int row) const override;
    bool IsInt64(int col, int row) const override;
    std::int64_t GetInt64(int col, int row) const override;

private:
    // The column of a cell inside the size, or null.
    ColumnarColumn* Target(int col, int row) {
        if (cancel_.load(std::memory_order_relaxed)) ThrowCancelled();
        if (static_cast<unsigned>(col - 1) >= columns_.size() || static_cast<unsigned>(row - 1) >= static_cast<unsigned>(rows_))
            return nullptr;
        ColumnarColumn* c = &columns_[static_cast<std::size_t>(col - 1)];
        return c->kinds.empty() ? nullptr : c;  // a taken column
    }
    const ColumnarColumn* Source(int col, int row) const;
    [[noreturn]] static void ThrowCancelled();

    // Each leaves the cell (0-based `r`) of `c` as the kind it names; the cell was any kind.
    static void StoreNumber(ColumnarColumn& c, std::size_t r, float value);
    void StoreInteger(ColumnarColumn& c, std::size_t r, std::int64_t value);
    static void StoreText(ColumnarColumn& c, std::size_t r, std::string&& text);
    static void StoreMissing(ColumnarColumn& c, std::size_t r);
    // Drops the text entry of a Text cell about to become another kind.
    static void EraseText(ColumnarColumn& c, std::size_t r);
    static const std::string* FindText(const ColumnarColumn& c, std::size_t r);

    std::vector<ColumnarColumn> columns_;
    int rows_ = 0;
    std::atomic<bool> cancel_{false};
};
