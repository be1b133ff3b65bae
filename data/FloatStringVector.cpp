#include "data/FloatStringVector.h"

#include <algorithm>
#include <istream>
#include <ostream>

#include "data/StreamBudget.h"
#include "outside/utl/BinaryIO.h"

using namespace kelto::data;

FloatStringVector::FloatStringVector(int n) {
    n = std::max(n, 0);
    cells_.reserve(static_cast<std::size_t>(n) + 5);
    cells_.resize(static_cast<std::size_t>(n) + 1);
}

void FloatStringVector::Insert(int pos, int n) {
    if (n <= 0) return;
    int count = size();
    pos = std::clamp(pos, 1, count + 1);
    // A small row receiving a large insertion gets its final size at once rather than
    // through a series of doublings.
    if (count < 10 && n >= 101) cells_.reserve(static_cast<std::size_t>(count) + 5 + static_cast<std::size_t>(n));
    cells_.insert(cells_.begin() + pos, static_cast<std::size_t>(n), FloatString());
}

void FloatStringVector::Remove(int pos, int n) {
    if (n <= 0) return;
    long first = std::max(pos, 1);
    long last = std::min(static_cast<long>(pos) + n - 1, static_cast<long>(size()));
    if (first > last) return;
    cells_.erase(cells_.begin() + first, cells_.begin() + last + 1);
}

void FloatStringVector::Append(const FloatStringVector& other) {
    if (&other == this) {
        FloatStringVector copy(other);
        Append(copy);
        return;
    }
    cells_.insert(cells_.end(), other.cells_.begin() + 1, other.cells_.end());
}

bool FloatStringVector::WriteToStream(std::ostream& out) const {
    std::int32_t count = size();
    if (!WriteFourBytes(out, &count)) return false;
    for (int i = 1; i <= count; ++i)
        if (!cells_[i].WriteToStream(out)) return false;
    return out.good();
}

bool FloatStringVector::ReadFromStream(std::istream& in) {
    std::uint64_t budget = BytesLeft(in);
    return ReadFromStream(in, budget);
}

bool FloatStringVector::ReadFromStream(std::istream& in, std::uint64_t& budget) {
    std::int32_t count = 0;
    if (budget < kMinVectorBytes || !ReadFourBytes(in, &count)) {
        in.setstate(std::ios::failbit);
        return false;
    }
    Spend(budget, kMinVectorBytes);
    if (count < 0 || static_cast<std::uint64_t>(count) > budget / kMinCellBytes) {
        in.setstate(std::ios::failbit);
        return false;
    }
    // With a known budget the count is now plausible; without one, storage grows as cells
    // actually arrive.
    std::size_t first = std::min<std::size_t>(count, budget == kUnknownBudget ? 4096 : count);
    cells_.resize(first + 1);
    for (int i = 1; i <= count; ++i) {
        if (static_cast<std::size_t>(i) >= cells_.size()) cells_.emplace_back();
        FloatString& cell = cells_[i];
        if (!cell.ReadFromStream(in)) {
            cells_.resize(i);  // keep the cells read so far
            return false;
        }
        Spend(budget, cell.StreamBytes());
    }
    cells_.resize(static_cast<std::size_t>(count) + 1);
    return in.good();
}
