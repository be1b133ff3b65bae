#include "host/ColumnarSpreadsheetData.h"

#include <algorithm>
#include <charconv>
#include <clocale>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "data/FloatString.h"
#include "outside/utl/Exception.h"
#include "plugin/TableBound.h"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr std::int64_t kMissingInteger = -99;

bool RowLess(const std::pair<int, std::string>& entry, int row) { return entry.first < row; }

// The row table's cell for a stored text: a text the reader gave was decided once already and
// decides the same way again ("007" stays a text); a text set with SetText that reads as a
// number ("12") is taken as that number, as the row table would have taken it.
FloatString CellOfText(const std::string& text) {
    FloatString cell;
    cell.Set(text.c_str());
    return cell;
}

}  // namespace

ColumnarSpreadsheetData::ColumnarSpreadsheetData() = default;

ColumnarSpreadsheetData::~ColumnarSpreadsheetData() = default;

void ColumnarSpreadsheetData::ThrowCancelled() { throw CancelException(); }

// ---------------------------------------------------------------------------------------
// Storing cells

const std::string* ColumnarSpreadsheetData::FindText(const ColumnarColumn& c, std::size_t r) {
    const int row = static_cast<int>(r);
    if (!c.texts.empty() && c.texts.back().first == row) return &c.texts.back().second;
    auto at = std::lower_bound(c.texts.begin(), c.texts.end(), row, RowLess);
    return at != c.texts.end() && at->first == row ? &at->second : nullptr;
}

void ColumnarSpreadsheetData::EraseText(ColumnarColumn& c, std::size_t r) {
    const int row = static_cast<int>(r);
    if (!c.texts.empty() && c.texts.back().first == row) {
        c.texts.pop_back();
        return;
    }
    auto at = std::lower_bound(c.texts.begin(), c.texts.end(), row, RowLess);
    if (at != c.texts.end() && at->first == row) c.texts.erase(at);
}

inline void ColumnarSpreadsheetData::StoreNumber(ColumnarColumn& c, std::size_t r, float value) {
    if (c.kinds[r] == CellKind::Text) EraseText(c, r);
    c.kinds[r] = CellKind::Number;
    c.numbers[r] = value;
    if (!c.integers.empty()) c.integers[r] = 0;
    c.hasNumber = true;
}

void ColumnarSpreadsheetData::StoreInteger(ColumnarColumn& c, std::size_t r, std::int64_t value) {
    if (c.kinds[r] == CellKind::Text) EraseText(c, r);
    // Integers are rare in most columns: the column pays for them only once one arrives.
    if (c.integers.empty()) c.integers.assign(c.kinds.size(), 0);
    c.kinds[r] = CellKind::Integer;
    c.numbers[r] = kNaN;
    c.integers[r] = value;
    c.hasInteger = true;
}

void ColumnarSpreadsheetData::StoreText(ColumnarColumn& c, std::size_t r, std::string&& text) {
    const int row = static_cast<int>(r);
    c.numbers[r] = kNaN;
    if (!c.integers.empty()) c.integers[r] = 0;
    c.hasText = true;
    if (c.kinds[r] == CellKind::Text) {
        // A text set again: its entry is there already.
        auto at = std::lower_bound(c.texts.begin(), c.texts.end(), row, RowLess);
        at->second = std::move(text);
        return;
    }
    c.kinds[r] = CellKind::Text;
    // Cells come row after row: appending keeps the entries in row order; a reader that goes
    // back pays for an insertion.
    if (c.texts.size() == c.texts.capacity() && c.texts.size() >= 64) {
        // Room for as many texts as the rows so far promise for the whole column: a column of
        // texts grows once or twice instead of doubling twenty times through fresh pages. A
        // promise not kept (texts only at the top) costs address space: pages never written
        // are never made.
        const std::size_t rows = c.kinds.size();
        const std::size_t promised = c.texts.size() / (r + 1) * rows + c.texts.size() % (r + 1) * rows / (r + 1);
        const std::size_t room = std::min(rows, std::max(promised + promised / 8, 2 * c.texts.size()));
        if (room > c.texts.size()) c.texts.reserve(room);
    }
    if (c.texts.empty() || c.texts.back().first < row) {
        c.texts.emplace_back(row, std::move(text));
    } else {
        auto at = std::lower_bound(c.texts.begin(), c.texts.end(), row, RowLess);
        c.texts.emplace(at, row, std::move(text));
    }
}

inline void ColumnarSpreadsheetData::StoreMissing(ColumnarColumn& c, std::size_t r) {
    if (c.kinds[r] == CellKind::Text) EraseText(c, r);
    c.kinds[r] = CellKind::Missing;
    c.numbers[r] = kNaN;
    if (!c.integers.empty()) c.integers[r] = 0;
}

void ColumnarSpreadsheetData::Set(int col, int row, const char* text) {
    ColumnarColumn* c = Target(col, row);
    if (!c) return;
    const std::size_t r = static_cast<std::size_t>(row - 1);
    // The row table's own decision, on a cell that lives on the stack: numbers cost no
    // allocation, and no second parser can disagree with the first.
    FloatString cell;
    cell.Set(text);
    if (cell.IsString()) {
        StoreText(*c, r, cell.GetStringValue(EFloatType::General, -1, true));
    } else if (cell.IsInt64()) {
        const std::int64_t value = cell.GetIntValue();
        if (value == kMissingInteger)
            StoreMissing(*c, r);
        else
            StoreInteger(*c, r, value);
    } else {
        const float value = cell.GetFloatValue();
        if (value == FloatString::kMissing)
            StoreMissing(*c, r);
        else
            StoreNumber(*c, r, value);
    }
}

void ColumnarSpreadsheetData::Set(int col, int row, float value) {
    ColumnarColumn* c = Target(col, row);
    if (!c) return;
    const std::size_t r = static_cast<std::size_t>(row - 1);
    FloatString cell;  // the row table's treatment of NaN, infinities and subnormals
    cell.Set(value);
    value = cell.GetFloatValue();
    if (value == FloatString::kMissing)
        StoreMissing(*c, r);
    else
        StoreNumber(*c, r, value);
}

void ColumnarSpreadsheetData::Set(int col, int row, std::int64_t value) {
    ColumnarColumn* c = Target(col, row);
    if (!c) return;
    const std::size_t r = static_cast<std::size_t>(row - 1);
    if (value == kMissingInteger)
        StoreMissing(*c, r);
    else
        StoreInteger(*c, r, value);
}

void ColumnarSpreadsheetData::SetDataSize(int cols, int rows) {
    if (cancel_.load(std::memory_order_relaxed)) ThrowCancelled();
    kelto::CheckTableSize(rows, cols);
    cols = std::max(cols, 0);
    rows = std::max(rows, 0);
    const std::size_t n = static_cast<std::size_t>(rows);
    columns_.resize(static_cast<std::size_t>(cols));
    for (ColumnarColumn& c : columns_) {
        if (n < c.kinds.size()) {
            auto first = std::lower_bound(c.texts.begin(), c.texts.end(), rows, RowLess);
            c.texts.erase(first, c.texts.end());
        }
        c.numbers.resize(n, kNaN);
        c.kinds.resize(n, CellKind::Missing);
        if (!c.integers.empty()) c.integers.resize(n, 0);
    }
    rows_ = rows;
}

// ---------------------------------------------------------------------------------------
// Building

void ColumnarSpreadsheetData::SetColumnNumbers(int col, const float* values, std::size_t n) {
    if (n > static_cast<std::size_t>(rows_)) throw std::out_of_range("more values than rows");
    for (std::size_t i = 0; i < n; ++i) {
        ColumnarColumn* c = Target(col, static_cast<int>(i) + 1);
        if (!c) throw std::out_of_range("no such column");
        FloatString cell;
        cell.Set(values[i]);
        const float value = cell.GetFloatValue();
        if (value == FloatString::kMissing)
            StoreMissing(*c, i);
        else
            StoreNumber(*c, i, value);
    }
}

void ColumnarSpreadsheetData::SetColumnNumbers(int col, const double* values, std::size_t n) {
    if (n > static_cast<std::size_t>(rows_)) throw std::out_of_range("more values than rows");
    if (n > 0 && !Target(col, 1)) throw std::out_of_range("no such column");
    for (std::size_t i = 0; i < n; ++i) Set(col, static_cast<int>(i) + 1, static_cast<float>(values[i]));
}

void ColumnarSpreadsheetData::SetColumnIntegers(int col, const std::int64_t* values, std::size_t n) {
    if (n > static_cast<std::size_t>(rows_)) throw std::out_of_range("more values than rows");
    if (n > 0 && !Target(col, 1)) throw std::out_of_range("no such column");
    for (std::size_t i = 0; i < n; ++i) Set(col, static_cast<int>(i) + 1, values[i]);
}

void ColumnarSpreadsheetData::SetText(int col, int row, std::string text) {
    ColumnarColumn* c = Target(col, row);
    if (!c) return;
    if (text.empty())
        StoreMissing(*c, static_cast<std::size_t>(row - 1));
    else
        StoreText(*c, static_cast<std::size_t>(row - 1), std::move(text));
}

void ColumnarSpreadsheetData::SetMissing(int col, int row) {
    if (ColumnarColumn* c = Target(col, row)) StoreMissing(*c, static_cast<std::size_t>(row - 1));
}

ColumnarColumn ColumnarSpreadsheetData::TakeColumn(int col) {
    if (static_cast<unsigned>(col - 1) >= columns_.size()) return ColumnarColumn{};
    return std::exchange(columns_[static_cast<std::size_t>(col - 1)], ColumnarColumn{});
}

// ---------------------------------------------------------------------------------------
// Reading

const ColumnarColumn* ColumnarSpreadsheetData::Source(int col, int row) const {
    if (static_cast<unsigned>(col - 1) >= columns_.size() || static_cast<unsigned>(row - 1) >= static_cast<unsigned>(rows_))
        return nullptr;
    const ColumnarColumn* c = &columns_[static_cast<std::size_t>(col - 1)];
    return c->kinds.empty() ? nullptr : c;
}

CellKind ColumnarSpreadsheetData::Kind(int col, int row) const {
    const ColumnarColumn* c = Source(col, row);
    return c ? c->kinds[static_cast<std::size_t>(row - 1)] : CellKind::Missing;
}

float ColumnarSpreadsheetData::GetFloatData(int col, int row) const {
    const ColumnarColumn* c = Source(col, row);
    if (!c) return FloatString::kMissing;
    const std::size_t r = static_cast<std::size_t>(row - 1);
    switch (c->kinds[r]) {
        case CellKind::Number:
            return c->numbers[r];
        case CellKind::Integer:
            return static_cast<float>(c->integers[r]);
        case CellKind::Text:
            return CellOfText(*FindText(*c, r)).GetFloatValue();
        default:
            return FloatString::kMissing;
    }
}

std::string ColumnarSpreadsheetData::GetStringValue(int col, int row) const {
    const ColumnarColumn* c = Source(col, row);
    if (!c) return std::string();
    const std::size_t r = static_cast<std::size_t>(row - 1);
    switch (c->kinds[r]) {
        case CellKind::Text:
            return *FindText(*c, r);
        case CellKind::Integer: {
            char buffer[24];
            return std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, c->integers[r]).ptr);
        }
        case CellKind::Number: {
            // As the row table gives it: the shortest text that reads back as the same
            // float, with the C library's decimal point.
            char buffer[32];
            std::string text(buffer, std::to_chars(buffer, buffer + sizeof buffer, c->numbers[r]).ptr);
            const char point = *std::localeconv()->decimal_point;
            if (point != '\0' && point != '.') std::replace(text.begin(), text.end(), '.', point);
            return text;
        }
        default:
            return std::string();
    }
}

bool ColumnarSpreadsheetData::GetFirstDataCell(int* col, int* row) const {
    if (col) *col = 1;
    if (row) *row = 1;
    return true;
}

bool ColumnarSpreadsheetData::IsFloat(int col, int row) const {
    const ColumnarColumn* c = Source(col, row);
    if (!c) return false;
    const std::size_t r = static_cast<std::size_t>(row - 1);
    switch (c->kinds[r]) {
        case CellKind::Number:
        case CellKind::Integer:
            return true;
        case CellKind::Text: {
            // Texts kept for their leading zeros still count as numbers.
            const FloatString cell = CellOfText(*FindText(*c, r));
            return cell.IsFloat() && cell.GetFloatValue() != FloatString::kMissing;
        }
        default:
            return false;
    }
}

bool ColumnarSpreadsheetData::IsMisVal(int col, int row) const {
    return Source(col, row) && Kind(col, row) == CellKind::Missing;
}

bool ColumnarSpreadsheetData::IsString(int col, int row) const {
    const ColumnarColumn* c = Source(col, row);
    if (!c) return false;
    const std::size_t r = static_cast<std::size_t>(row - 1);
    return c->kinds[r] == CellKind::Text && !CellOfText(*FindText(*c, r)).IsFloat();
}

bool ColumnarSpreadsheetData::IsInt64(int col, int row) const { return Kind(col, row) == CellKind::Integer; }

std::int64_t ColumnarSpreadsheetData::GetInt64(int col, int row) const {
    const ColumnarColumn* c = Source(col, row);
    if (!c) return 0;
    const std::size_t r = static_cast<std::size_t>(row - 1);
    switch (c->kinds[r]) {
        case CellKind::Integer:
            return c->integers[r];
        case CellKind::Number: {
            FloatString cell;
            cell.Set(c->numbers[r]);
            return cell.GetIntValue();
        }
        case CellKind::Text:
            return CellOfText(*FindText(*c, r)).GetIntValue();
        default:
            return kMissingInteger;
    }
}
