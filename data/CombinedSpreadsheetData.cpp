#include "data/CombinedSpreadsheetData.h"

#include <algorithm>
#include <stdexcept>

#include "platform/Translate.h"

CombinedSpreadsheetData::CombinedSpreadsheetData() = default;

CombinedSpreadsheetData::~CombinedSpreadsheetData() = default;

void CombinedSpreadsheetData::AddSpreadsheetData(std::unique_ptr<SpreadsheetData> part) {
    if (part) parts_.push_back(std::move(part));
}

const SpreadsheetData* CombinedSpreadsheetData::GetData(std::size_t i) const {
    return i < parts_.size() ? parts_[i].get() : nullptr;
}

int CombinedSpreadsheetData::GetNumberOfColumns() const {
    int n = 0;
    for (const auto& part : parts_)
        n = sideBySide_ ? n + part->GetNumberOfColumns() : std::max(n, part->GetNumberOfColumns());
    return n;
}

int CombinedSpreadsheetData::GetNumberOfRows() const {
    int n = 0;
    for (const auto& part : parts_)
        n = sideBySide_ ? std::max(n, part->GetNumberOfRows()) : n + part->GetNumberOfRows();
    return n;
}

SpreadsheetData* CombinedSpreadsheetData::GetData(int& col, int& row) const {
    int& along = sideBySide_ ? col : row;
    int before = 0;
    for (const auto& part : parts_) {
        int extent = sideBySide_ ? part->GetNumberOfColumns() : part->GetNumberOfRows();
        if (before + extent >= along) {
            along -= before;
            return part.get();
        }
        before += extent;
    }
    throw std::out_of_range(kelto::TranslateFormat("%1%, %2% is out of range for %3%, %4%", col, row,
                                                   GetNumberOfColumns(), GetNumberOfRows()));
}

bool CombinedSpreadsheetData::Inside(const SpreadsheetData& part, int col, int row) {
    return col >= 1 && col <= part.GetNumberOfColumns() && row >= 1 && row <= part.GetNumberOfRows();
}

void CombinedSpreadsheetData::Set(int col, int row, float value) {
    SpreadsheetData* part = GetData(col, row);
    if (!Inside(*part, col, row))
        part->SetDataSize(std::max(part->GetNumberOfColumns(), col), std::max(part->GetNumberOfRows(), row));
    part->Set(col, row, value);
}

void CombinedSpreadsheetData::Set(int col, int row, const char* text) {
    SpreadsheetData* part = GetData(col, row);
    if (!Inside(*part, col, row))
        part->SetDataSize(std::max(part->GetNumberOfColumns(), col), std::max(part->GetNumberOfRows(), row));
    part->Set(col, row, text);
}

void CombinedSpreadsheetData::SetDataSize(int, int) {
    throw std::runtime_error(
        kelto::Translate("CombinedSpreadsheetData::SetDataSize is not supported. Resize in original data"));
}

int CombinedSpreadsheetData::GetNextRow(int row) const {
    int col = 1, local = row;
    SpreadsheetData* part = GetData(col, local);
    if (!Inside(*part, col, local)) return row + 1;
    return row + (part->GetNextRow(local) - local);
}

float CombinedSpreadsheetData::GetFloatData(int col, int row) const {
    SpreadsheetData* part = GetData(col, row);
    return Inside(*part, col, row) ? part->GetFloatData(col, row) : -99.0f;
}

std::string CombinedSpreadsheetData::GetStringValue(int col, int row) const {
    SpreadsheetData* part = GetData(col, row);
    return Inside(*part, col, row) ? part->GetStringValue(col, row) : std::string();
}

bool CombinedSpreadsheetData::GetFirstDataCell(int* col, int* row) const {
    if (parts_.empty()) {
        if (col) *col = 1;
        if (row) *row = 1;
        return false;
    }
    return parts_.front()->GetFirstDataCell(col, row);
}

bool CombinedSpreadsheetData::IsFloat(int col, int row) const {
    SpreadsheetData* part = GetData(col, row);
    return Inside(*part, col, row) && part->IsFloat(col, row);
}

bool CombinedSpreadsheetData::IsMisVal(int col, int row) const {
    SpreadsheetData* part = GetData(col, row);
    return Inside(*part, col, row) && part->IsMisVal(col, row);
}

bool CombinedSpreadsheetData::IsString(int col, int row) const {
    SpreadsheetData* part = GetData(col, row);
    return Inside(*part, col, row) && part->IsString(col, row);
}

bool CombinedSpreadsheetData::IsInt64(int col, int row) const {
    SpreadsheetData* part = GetData(col, row);
    return Inside(*part, col, row) && part->IsInt64(col, row);
}

std::int64_t CombinedSpreadsheetData::GetInt64(int col, int row) const {
    SpreadsheetData* part = GetData(col, row);
    return Inside(*part, col, row) ? part->GetInt64(col, row) : 0;
}
