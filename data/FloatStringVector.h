#pragma once
// A row of cells counted from 1. Element 0 of the storage is a placeholder (a missing float)
// that is never data, so position i is simply element i.
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "data/FloatString.h"
#include "plugin/Export.h"

class FloatStringMatrix;

class KELTO_API FloatStringVector {
public:
    FloatStringVector() : cells_(1) {}
    // n missing cells, with room for a few more (rows often gain a column or two).
    explicit FloatStringVector(int n);
    FloatStringVector(const FloatStringVector& other) = default;
    // A moved-from vector is empty (no cells), not broken.
    FloatStringVector(FloatStringVector&& other) : FloatStringVector() { swap(other); }
    FloatStringVector& operator=(const FloatStringVector& other) = default;
    FloatStringVector& operator=(FloatStringVector&& other) {
        if (this != &other) {
            FloatStringVector taken(std::move(other));
            swap(taken);
        }
        return *this;
    }
    void swap(FloatStringVector& other) noexcept { cells_.swap(other.cells_); }

    int size() const { return static_cast<int>(cells_.size()) - 1; }
    // Cells the storage can hold without reallocating (the placeholder not counted).
    int capacity() const { return static_cast<int>(cells_.capacity()) - 1; }

    // Positions are not checked: callers keep them within 1 to size() (0 addresses the
    // placeholder).
    FloatString& operator[](int i) { return cells_[static_cast<std::size_t>(i)]; }
    const FloatString& operator[](int i) const { return cells_[static_cast<std::size_t>(i)]; }

    void Set(int i, float v) { (*this)[i].Set(v); }
    void Set(int i, double v) { (*this)[i].Set(v); }
    void Set(int i, std::int64_t v) { (*this)[i].Set(v); }
    void Set(int i, const char* text) { (*this)[i].Set(text); }
    void Set(int i, const std::string& text) { (*this)[i].Set(text); }
    float GetFloatValue(int i) const { return (*this)[i].GetFloatValue(); }
    std::int64_t GetIntValue(int i) const { return (*this)[i].GetIntValue(); }
    std::string GetStringValue(int i, EFloatType::Enum type, int precision, bool keepMissing) const {
        return (*this)[i].GetStringValue(type, precision, keepMissing);
    }
    bool IsFloat(int i) const { return (*this)[i].IsFloat(); }
    bool IsString(int i) const { return (*this)[i].IsString(); }
    bool IsInt64(int i) const { return (*this)[i].IsInt64(); }
    bool IsMissing(int i, bool textIsMissing) const { return (*this)[i].IsMissing(textIsMissing); }

    // n missing cells before position pos; a pos beyond size() appends (one below 1 inserts
    // at 1: the placeholder stays first).
    void Insert(int pos, int n);
    // Cells pos to pos + n - 1; the part of that range outside 1 to size() is ignored.
    void Remove(int pos, int n);
    // Copies of the other's cells at the end.
    void Append(const FloatStringVector& other);

    // A 4-byte count, then the cells.
    bool WriteToStream(std::ostream& out) const;
    // Reads what WriteToStream wrote. On failure the vector keeps the cells read so far.
    bool ReadFromStream(std::istream& in);

private:
    friend class FloatStringMatrix;
    // `budget`: an upper bound of the bytes the stream still holds, lowered by what is read.
    bool ReadFromStream(std::istream& in, std::uint64_t& budget);

    std::vector<FloatString> cells_;
};
