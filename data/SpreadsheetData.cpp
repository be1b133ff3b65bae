#include "data/SpreadsheetData.h"

#include <algorithm>
#include <charconv>
#include <clocale>

#include "plugin/TableBound.h"

SpreadsheetData::~SpreadsheetData() = default;

FloatStringSpreadsheetData::FloatStringSpreadsheetData() = default;

FloatStringSpreadsheetData::~FloatStringSpreadsheetData() = default;

static_assert(sizeof(FloatString) <= kelto::kTableBytesPerCell);

void FloatStringSpreadsheetData::SetDataSize(int cols, int rows) {
    kelto::CheckTableSize(rows, cols);
    if (!matrix_) matrix_ = std::make_unique<FloatStringMatrix>();
    cols = std::max(cols, 0);
    rows = std::max(rows, 0);
    FloatStringMatrix& m = *matrix_;
    // Columns first: new rows are then made at their final width in one allocation each.
    int numCols = m.GetNumColumns();
    if (cols > numCols)
        m.InsertColumn(numCols + 1, cols - numCols);
    else if (cols < numCols)
        m.RemoveColumn(cols + 1, numCols - cols);
    // A table large enough for its rows to be carved from chunks gets its texts carved too.
    texts_.Expect(static_cast<std::size_t>(rows) * kelto::data::RowBatch::RowBytes(cols));
    int numRows = m.GetNumRows();
    if (rows > numRows)
        m.InsertRow(numRows + 1, rows - numRows);
    else if (rows < numRows)
        m.RemoveRow(rows + 1, numRows - rows);
}

float FloatStringSpreadsheetData::GetFloatData(int col, int row) const {
    return Inside(col, row) ? matrix_->GetFloatValue(col, row) : FloatString::kMissing;
}

std::string FloatStringSpreadsheetData::GetStringValue(int col, int row) const {
    if (!Inside(col, row)) return std::string();
    const FloatString& cell = matrix_->Cell(col, row);
    if (cell.IsString() || cell.IsInt64()) return cell.GetStringValue(EFloatType::General, 6, false);
    // Writers put this text into files that are read again: it must give back the same
    // float. Six significant digits would lose the rest, and a locale's digit grouping
    // ("1.234,5") reads back as no number at all, so: the shortest text that reads back
    // exactly, with no grouping, and the C library's decimal point as Fixed and Scientific use.
    const float value = cell.GetFloatValue();
    if (value == FloatString::kMissing) return std::string();
    char buffer[32];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    std::string text(buffer, end);
    const char point = *std::localeconv()->decimal_point;
    if (point != '\0' && point != '.') std::replace(text.begin(), text.end(), '.', point);
    return text;
}

bool FloatStringSpreadsheetData::GetFirstDataCell(int* col, int* row) const {
    if (col) *col = 1;
    if (row) *row = 1;
    return true;
}

bool FloatStringSpreadsheetData::IsFloat(int col, int row) const {
    if (!Inside(col, row)) return false;
    const FloatString& cell = matrix_->Cell(col, row);
    return cell.IsFloat() && cell.GetFloatValue() != FloatString::kMissing;
}

bool FloatStringSpreadsheetData::IsMisVal(int col, int row) const {
    if (!Inside(col, row)) return false;
    const FloatString& cell = matrix_->Cell(col, row);
    return cell.IsFloat() && cell.GetFloatValue() == FloatString::kMissing;
}

bool FloatStringSpreadsheetData::IsString(int col, int row) const {
    return Inside(col, row) && !matrix_->Cell(col, row).IsFloat();
}

bool FloatStringSpreadsheetData::IsInt64(int col, int row) const {
    return Inside(col, row) && matrix_->Cell(col, row).IsInt64();
}

std::int64_t FloatStringSpreadsheetData::GetInt64(int col, int row) const {
    return Inside(col, row) ? matrix_->GetIntValue(col, row) : 0;
}
