#pragma once
// A rectangular grid of cells held as separate row vectors behind one array of row pointers,
// so that inserting, removing, reordering and moving rows between matrices moves pointers,
// never cells or texts. Rows and columns count from 1; row 0 is a null placeholder.
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "data/FloatStringVector.h"
#include "outside/qmstream/UStream.h"
#include "plugin/Export.h"

class KELTO_API FloatStringMatrix : public UStreamBase {
public:
    class KELTO_API DerivedStreamableData : public UStreamableData {
    public:
        using UStreamableData::UStreamableData;
    };
    // The record that heads a streamed matrix: "FSMat", version 1.
    static DerivedStreamableData MyStreamableData;
    static constexpr short kStreamVersion = 1;

    FloatStringMatrix();
    FloatStringMatrix(const FloatStringMatrix& other);
    FloatStringMatrix& operator=(const FloatStringMatrix& other);
    ~FloatStringMatrix() override;
    void swap(FloatStringMatrix& other) noexcept;

    int GetNumColumns() const { return numColumns_; }
    int GetNumRows() const { return numRows_; }

    // Positions are not checked: callers keep them within 1 to the counts.
    FloatStringVector& operator[](int row) { return *rows_[static_cast<std::size_t>(row)]; }
    const FloatStringVector& operator[](int row) const { return *rows_[static_cast<std::size_t>(row)]; }

    // Cell access, column first.
    FloatString& Cell(int col, int row) { return (*this)[row][col]; }
    const FloatString& Cell(int col, int row) const { return (*this)[row][col]; }
    void Set(int col, int row, float v) { Cell(col, row).Set(v); }
    void Set(int col, int row, double v) { Cell(col, row).Set(v); }
    void Set(int col, int row, std::int64_t v) { Cell(col, row).Set(v); }
    void Set(int col, int row, const char* text) { Cell(col, row).Set(text); }
    void Set(int col, int row, const std::string& text) { Cell(col, row).Set(text); }
    float GetFloatValue(int col, int row) const { return Cell(col, row).GetFloatValue(); }
    std::int64_t GetIntValue(int col, int row) const { return Cell(col, row).GetIntValue(); }
    std::string GetStringValue(int col, int row, EFloatType::Enum type, int precision, bool keepMissing) const {
        return Cell(col, row).GetStringValue(type, precision, keepMissing);
    }
    bool IsFloat(int col, int row) const { return Cell(col, row).IsFloat(); }
    bool IsString(int col, int row) const { return Cell(col, row).IsString(); }
    bool IsInt64(int col, int row) const { return Cell(col, row).IsInt64(); }
    bool IsMissing(int col, int row, bool textIsMissing) const { return Cell(col, row).IsMissing(textIsMissing); }

    // n missing columns before column pos (beyond the last: appended at the right).
    void InsertColumn(int pos, int n);
    // Columns pos to pos + n - 1. Throws Exception when the range leaves the matrix or n is
    // below 1; n of 0 does nothing.
    void RemoveColumn(int pos, int n);
    // n rows of missing cells before row pos (beyond the last: appended at the bottom).
    void InsertRow(int pos, int n);
    // Rows pos to pos + n - 1; the part of that range outside the matrix is ignored.
    void RemoveRow(int pos, int n);
    // Empties the matrix (0 x 0).
    void Remove();
    // Cell (c, r) becomes cell (r, c); texts change owner, they are not copied.
    void Transpose();
    // Copies of the other's columns at the right; rows the other lacks get missing cells,
    // rows this matrix lacks are added as missing cells first.
    void AppendRight(const FloatStringMatrix& other);
    // The other's rows, moved below the last row; the narrower side is padded with missing
    // cells. The other is left empty.
    void MoveBelow(FloatStringMatrix& other);
    // Row i + 1 becomes the old row order[i]; rows beyond order.size() stay. Throws Exception,
    // changing nothing, unless order is a permutation of 1 to order.size() within the rows.
    void SetRowOrder(const std::vector<int>& order);

    // Versioned stream form: the "FSMat" record, the row and column counts, then each row.
    // A matrix is written and read once per streaming pass (until UStreamableReset).
    bool UStreamableStartWrite(std::ostream& out) override;
    // Refuses a stream of another version, and any stream that does not hold a whole,
    // rectangular matrix, without changing this matrix.
    bool UStreamableStartRead(std::istream& in) override;
    void UStreamableReset() override;
    bool UStreamableWrite(std::ostream& out);
    bool UStreamableRead(std::istream& in);
    bool UStreamableWriteBases(std::ostream&) { return true; }
    bool UStreamableReadBases(std::istream&) { return true; }
    short GetMyUStreamVersionNumber() const { return MyStreamableData.GetMyUStreamVersionNumber(); }
    // The version of the last record this matrix read (until then, the one this code writes).
    short GetUStreamVersionNumber() const { return streamVersion_; }

private:
    using Row = std::unique_ptr<FloatStringVector>;

    bool streamed_ = false;
    short streamVersion_ = kStreamVersion;
    int numColumns_ = 0;
    int numRows_ = 0;
    std::vector<Row> rows_;  // rows_[0] is null
};
