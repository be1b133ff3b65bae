#include "data/FloatStringMatrix.h"

#include <algorithm>
#include <istream>
#include <ostream>
#include <utility>

#include "data/StreamBudget.h"
#include "outside/utl/BinaryIO.h"
#include "outside/utl/Exception.h"

using namespace kelto::data;

FloatStringMatrix::DerivedStreamableData FloatStringMatrix::MyStreamableData(kStreamVersion, "FSMat");

namespace {

// Grows rows [first, last] from `width` to `width + n` cells, or leaves them all as they
// were: a matrix whose rows disagree about the column count would be read out of bounds.
template <typename Rows>
void WidenRows(Rows& rows, int first, int last, int width, int n) {
    if (n <= 0) return;
    int r = first;
    try {
        for (; r <= last; ++r) rows[r]->Insert(width + 1, n);
    } catch (...) {
        for (int k = first; k < r; ++k) rows[k]->Remove(width + 1, n);
        throw;
    }
}

// Row memory for `rows` new rows of `cols` cells, for a RowBatch (saturating).
std::size_t BatchBytes(std::size_t rows, int cols) {
    std::size_t each = RowBatch::RowBytes(cols);
    return rows > static_cast<std::size_t>(-1) / each ? static_cast<std::size_t>(-1) : rows * each;
}

}  // namespace

FloatStringMatrix::FloatStringMatrix() : rows_(1) {}

FloatStringMatrix::FloatStringMatrix(const FloatStringMatrix& other)
    : UStreamBase(other), numColumns_(other.numColumns_), numRows_(other.numRows_) {
    rows_.reserve(static_cast<std::size_t>(numRows_) + 1);
    rows_.emplace_back();
    RowBatch batch(BatchBytes(static_cast<std::size_t>(numRows_), numColumns_));
    for (int r = 1; r <= numRows_; ++r) rows_.push_back(std::make_unique<FloatStringVector>(*other.rows_[r]));
}

FloatStringMatrix& FloatStringMatrix::operator=(const FloatStringMatrix& other) {
    if (this != &other) {
        FloatStringMatrix copy(other);
        swap(copy);
    }
    return *this;
}

FloatStringMatrix::~FloatStringMatrix() = default;

void FloatStringMatrix::swap(FloatStringMatrix& other) noexcept {
    rows_.swap(other.rows_);
    std::swap(numColumns_, other.numColumns_);
    std::swap(numRows_, other.numRows_);
}

void FloatStringMatrix::InsertColumn(int pos, int n) {
    if (n <= 0) return;
    int at = std::clamp(pos, 1, numColumns_ + 1);
    int r = 1;
    try {
        for (; r <= numRows_; ++r) rows_[r]->Insert(at, n);
    } catch (...) {
        for (int k = 1; k < r; ++k) rows_[k]->Remove(at, n);
        throw;
    }
    numColumns_ += n;
}

void FloatStringMatrix::RemoveColumn(int pos, int n) {
    if (n == 0) return;
    if (pos < 1 || static_cast<long>(pos) + n > static_cast<long>(numColumns_) + 1)
        throw Exception(
            ExceptionMessage::translate("RemoveColumn: Column index out of range. Number of Columns: {1}") % numColumns_);
    if (n < 1) throw Exception(ExceptionMessage::translate("RemoveColumn: Number of columns to remove is less than 1"));
    for (int r = 1; r <= numRows_; ++r) rows_[r]->Remove(pos, n);
    numColumns_ -= n;
}

void FloatStringMatrix::InsertRow(int pos, int n) {
    if (n <= 0) return;
    std::size_t at = static_cast<std::size_t>(std::clamp(pos, 1, numRows_ + 1));
    std::size_t old = rows_.size();
    std::size_t count = static_cast<std::size_t>(n);
    if (numRows_ < 10 && n >= 101) {
        // A small matrix receiving many rows (a table being sized for a read) gets its final
        // pointer array at once.
        rows_.reserve(static_cast<std::size_t>(numRows_) + 5 + count);
    } else if (rows_.capacity() < old + count) {
        rows_.reserve(old + std::max(old, count));  // one step, as vector::insert would grow
    }
    // New rows go at the end first and are rotated into place, so a failed allocation can
    // drop them again without touching the existing rows.
    try {
        RowBatch batch(BatchBytes(count, numColumns_));
        for (std::size_t k = 0; k < count; ++k) rows_.push_back(std::make_unique<FloatStringVector>(numColumns_));
    } catch (...) {
        rows_.resize(old);
        throw;
    }
    if (at < old) std::rotate(rows_.begin() + static_cast<std::ptrdiff_t>(at), rows_.begin() + static_cast<std::ptrdiff_t>(old), rows_.end());
    numRows_ += n;
}

void FloatStringMatrix::RemoveRow(int pos, int n) {
    if (n <= 0) return;
    long first = std::max(pos, 1);
    long last = std::min(static_cast<long>(pos) + n - 1, static_cast<long>(numRows_));
    if (first > last) return;
    rows_.erase(rows_.begin() + first, rows_.begin() + last + 1);
    numRows_ -= static_cast<int>(last - first + 1);
}

void FloatStringMatrix::Remove() {
    rows_.resize(1);
    rows_.shrink_to_fit();
    numColumns_ = 0;
    numRows_ = 0;
}

void FloatStringMatrix::Transpose() {
    // All new rows are made before any cell moves, so a failed allocation changes nothing.
    std::vector<Row> turned;
    turned.reserve(static_cast<std::size_t>(numColumns_) + 1);
    turned.emplace_back();
    RowBatch batch(BatchBytes(static_cast<std::size_t>(numColumns_), numRows_));
    for (int c = 1; c <= numColumns_; ++c) turned.push_back(std::make_unique<FloatStringVector>(numRows_));
    for (int r = 1; r <= numRows_; ++r) {
        FloatStringVector& row = *rows_[r];
        for (int c = 1; c <= numColumns_; ++c) (*turned[c])[r].Transfer(row[c]);
        rows_[r].reset();
    }
    rows_.swap(turned);
    std::swap(numColumns_, numRows_);
}

void FloatStringMatrix::AppendRight(const FloatStringMatrix& other) {
    if (&other == this) {
        FloatStringMatrix copy(other);
        AppendRight(copy);
        return;
    }
    int oldRows = numRows_;
    if (other.numRows_ > numRows_) InsertRow(numRows_ + 1, other.numRows_ - numRows_);
    int r = 1;
    try {
        for (; r <= other.numRows_; ++r) rows_[r]->Append(*other.rows_[r]);
        for (; r <= numRows_; ++r) rows_[r]->Insert(numColumns_ + 1, other.numColumns_);
    } catch (...) {
        for (int k = 1; k < r; ++k) rows_[k]->Remove(numColumns_ + 1, other.numColumns_);
        RemoveRow(oldRows + 1, numRows_ - oldRows);
        throw;
    }
    numColumns_ += other.numColumns_;
}

void FloatStringMatrix::MoveBelow(FloatStringMatrix& other) {
    if (&other == this) return;
    rows_.reserve(static_cast<std::size_t>(numRows_) + static_cast<std::size_t>(other.numRows_) + 1);
    int width = std::max(numColumns_, other.numColumns_);
    WidenRows(other.rows_, 1, other.numRows_, other.numColumns_, width - other.numColumns_);
    try {
        WidenRows(rows_, 1, numRows_, numColumns_, width - numColumns_);
    } catch (...) {
        for (int r = 1; r <= other.numRows_; ++r) other.rows_[r]->Remove(other.numColumns_ + 1, width - other.numColumns_);
        throw;
    }
    for (int r = 1; r <= other.numRows_; ++r) rows_.push_back(std::move(other.rows_[r]));
    numColumns_ = width;
    numRows_ += other.numRows_;
    other.Remove();
}

void FloatStringMatrix::SetRowOrder(const std::vector<int>& order) {
    // A position used twice would put one row in two places (and free it twice).
    std::size_t n = order.size();
    bool valid = n <= static_cast<std::size_t>(numRows_);
    std::vector<bool> used(valid ? n + 1 : 0);
    for (std::size_t i = 0; valid && i < n; ++i) {
        int p = order[i];
        valid = p >= 1 && static_cast<std::size_t>(p) <= n && !used[p];
        if (valid) used[p] = true;
    }
    if (!valid)
        throw Exception(ExceptionMessage::translate("SetRowOrder: The row order is not a permutation of rows 1 to %1%") %
                        n);
    std::vector<Row> old(n);
    for (std::size_t i = 0; i < n; ++i) old[i] = std::move(rows_[i + 1]);
    for (std::size_t i = 0; i < n; ++i) rows_[i + 1] = std::move(old[static_cast<std::size_t>(order[i]) - 1]);
}

bool FloatStringMatrix::UStreamableStartWrite(std::ostream& out) {
    if (streamed_) return true;
    streamed_ = true;
    if (!MyStreamableData.Write(out) || !UStreamBase::UStreamableStartWrite(out)) return false;
    UStreamableWrite(out);
    return out.good();
}

bool FloatStringMatrix::UStreamableWrite(std::ostream& out) {
    std::int32_t counts[2] = {numRows_, numColumns_};
    if (!WriteFourBytes(out, counts, 2)) return false;
    for (int r = 1; r <= numRows_; ++r)
        if (!rows_[r]->WriteToStream(out)) return false;
    return out.good();
}

bool FloatStringMatrix::UStreamableStartRead(std::istream& in) {
    if (streamed_) return true;
    streamed_ = true;
    // The version found belongs to this matrix: the descriptor is shared by all of them.
    if (!MyStreamableData.Check(in, streamVersion_)) return false;
    return UStreamableRead(in);
}

bool FloatStringMatrix::UStreamableRead(std::istream& in) {
    if (!UStreamBase::UStreamableStartRead(in)) return false;
    if (GetUStreamVersionNumber() != kStreamVersion) return false;

    std::uint64_t budget = BytesLeft(in);
    std::int32_t counts[2] = {0, 0};
    if (budget < 8 || !ReadFourBytes(in, counts, 2)) {
        in.setstate(std::ios::failbit);
        return false;
    }
    Spend(budget, 8);
    std::int32_t rows = counts[0], cols = counts[1];
    std::uint64_t rowBytes = kMinVectorBytes + kMinCellBytes * static_cast<std::uint64_t>(cols > 0 ? cols : 0);
    if (rows < 0 || cols < 0 || static_cast<std::uint64_t>(rows) > budget / rowBytes) {
        in.setstate(std::ios::failbit);
        return false;
    }

    // Read into a matrix of our own and take it only when every row arrived whole and as
    // wide as announced: a failed read leaves this matrix as it was.
    FloatStringMatrix read;
    read.rows_.reserve(std::min<std::size_t>(static_cast<std::size_t>(rows), budget == kUnknownBudget ? 4096 : rows) + 1);
    // Rows whose count the stream has vouched for (the budget above) share chunks.
    RowBatch batch(budget == kUnknownBudget ? 0 : BatchBytes(static_cast<std::size_t>(rows), cols));
    for (std::int32_t r = 1; r <= rows; ++r) {
        auto row = std::make_unique<FloatStringVector>();
        if (!row->ReadFromStream(in, budget) || row->size() != cols) {
            in.setstate(std::ios::failbit);
            return false;
        }
        read.rows_.push_back(std::move(row));
    }
    read.numRows_ = rows;
    read.numColumns_ = cols;
    swap(read);
    return in.good();
}

void FloatStringMatrix::UStreamableReset() { streamed_ = false; }
