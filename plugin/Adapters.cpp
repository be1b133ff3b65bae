#include "plugin/Adapters.h"

#include <charconv>

void DLLReadSpreadSheetData::Set(int col, int row, float value) { record_->SetFloat(record_, row, col, value); }

void DLLReadSpreadSheetData::Set(int col, int row, const char* text) {
    record_->SetString(record_, row, col, text);
}

void DLLReadSpreadSheetData::Set(int col, int row, double value) {
    if (IsLargeWholeNumber(value))
        Set(col, row, static_cast<std::int64_t>(value));
    else
        Set(col, row, static_cast<float>(value));
}

void DLLReadSpreadSheetData::Set(int col, int row, std::int64_t value) {
    if (value == -99) {
        Set(col, row, "");
        return;
    }
    char text[24];
    auto end = std::to_chars(text, text + sizeof text - 1, value).ptr;
    *end = '\0';
    Set(col, row, static_cast<const char*>(text));
}

int DLLReadSpreadSheetData::GetNextRow(int row) const { return record_->GetNextRow(record_, row); }

void DLLReadSpreadSheetData::SetDataSize(int cols, int rows) { record_->SetDataSize(record_, rows, cols); }

int DLLReadSpreadSheetData::GetNumberOfColumns() const { return record_->numCols; }

int DLLReadSpreadSheetData::GetNumberOfRows() const { return record_->numRows; }

float DLLWriteSpreadSheetData::GetFloatData(int col, int row) const { return record_->GetFloat(record_, row, col); }

std::string DLLWriteSpreadSheetData::GetStringValue(int col, int row) const {
    const char* text = record_->GetString(record_, row, col);
    return text ? std::string(text) : std::string();
}

bool DLLWriteSpreadSheetData::GetFirstDataCell(int* col, int* row) const {
    return record_->GetFirstDataCell(record_, col, row);
}

bool DLLWriteSpreadSheetData::IsFloat(int col, int row) const {
    return record_->GetCellType(record_, row, col) == kCellNumber;
}

bool DLLWriteSpreadSheetData::IsMisVal(int col, int row) const {
    return record_->GetCellType(record_, row, col) == kCellMissing;
}

bool DLLWriteSpreadSheetData::IsString(int col, int row) const {
    return record_->GetCellType(record_, row, col) == kCellText;
}

bool DLLWriteSpreadSheetData::IsInt64(int, int) const { return false; }

std::int64_t DLLWriteSpreadSheetData::GetInt64(int, int) const { return 0; }

int DLLWriteSpreadSheetData::GetNumberOfColumns() const { return record_->numCols; }

int DLLWriteSpreadSheetData::GetNumberOfRows() const { return record_->numRows; }
