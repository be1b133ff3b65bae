#include "data/SpreadsheetData.h"

#include <algorithm>

SpreadsheetData::~SpreadsheetData() = default;

FloatStringSpreadsheetData::FloatStringSpreadsheetData() = default;

FloatStringSpreadsheetData::~FloatStringSpreadsheetData() = default;

void FloatStringSpreadsheetData::SetDataSize(int cols, int rows) {
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
    return Inside(col, row) ? matrix_->GetStringValue(col, row, EFloatType::General, 6, false) : std::string();
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
