#pragma once
// A row of cells counted from 1. Element 0 of the storage is a placeholder (a missing float)
// that is never data, so position i is simply element i.
#include <cstdint>
#include <cstddef>
#include <iosfwd>
#include <new>
#include <string>
#include <vector>

#include "data/FloatString.h"
#include "plugin/Export.h"

class FloatStringMatrix;

namespace kelto::data {

// Memory of rows: the row objects and their cells. Tables sized for many rows at once would
// otherwise pay one heap block per row object and one per row of cells, and touch every page
// of them one by one. While a RowBatch lives on a thread, row memory made on that thread is
// carved from large chunks instead (2 MB each);
// every other time it comes from the heap. Each block records in the 8 bytes before it the
// chunk it came from (or none), so a row keeps its own memory wherever it goes: rows move
// between matrices, grow onto the heap and die in any order, and a chunk returns to the
// system when the last block carved from it is released.
// Text: the string objects of text cells, carved only while a TextArena is in use (below).
enum class RowMemory { Object, Cells, Text };
KELTO_API void* AllocateRowMemory(std::size_t bytes, RowMemory kind);
KELTO_API void ReleaseRowMemory(void* block) noexcept;
// Bytes of chunks currently held (for measurements: the heap's statistics do not see them).
KELTO_API std::size_t RowMemoryInChunks();

class KELTO_API RowBatch {
public:
    // `expectedBytes`: about how much row memory the batch will make; small batches use the
    // heap as usual.
    explicit RowBatch(std::size_t expectedBytes);
    ~RowBatch();
    RowBatch(const RowBatch&) = delete;
    RowBatch& operator=(const RowBatch&) = delete;

    // Room taken by a row of n cells made in a batch: the object, its cells and two headers.
    static std::size_t RowBytes(int n);

private:
    bool active_ = false;
};

namespace detail {
struct Chunk;
// Where the next block of a chunk is carved.
struct ChunkStream {
    Chunk* chunk = nullptr;
    char* cursor = nullptr;
    char* limit = nullptr;
};
}  // namespace detail

// Memory of one table's texts. A large table has many text cells, each with a string object
// of its own; from the heap that is one block each, in fresh pages that fault one by one.
// The table owns an arena and puts it in use while it sets a cell, so the texts it keeps
// are carved from chunks (2 MB each, apart from the rows'), once the table is large enough
// to fill them. Texts made anywhere else (a reader's scratch cell, a copy) come from the
// heap, so short-lived texts never pin a chunk. A text keeps its chunk alive as a row does:
// it may outlive the table, move, and die on any thread.
class KELTO_API TextArena {
public:
    TextArena() = default;
    ~TextArena();
    TextArena(const TextArena&) = delete;
    TextArena& operator=(const TextArena&) = delete;

    // `expectedBytes`: about how much row memory the table holds; below what a RowBatch
    // would carve, texts stay on the heap.
    void Expect(std::size_t expectedBytes);

    // While a Use lives on a thread, texts made on that thread come from `arena` (null: from
    // the heap). Uses nest.
    class KELTO_API Use {
    public:
        explicit Use(TextArena* arena) noexcept;
        ~Use();
        Use(const Use&) = delete;
        Use& operator=(const Use&) = delete;

    private:
        TextArena* previous_;
    };

private:
    friend void* AllocateRowMemory(std::size_t bytes, RowMemory kind);
    detail::ChunkStream stream_;
    bool enabled_ = false;
};

// The allocator of a row's cells. It holds no state: where a block came from is in the block.
template <typename T>
struct RowAllocator {
    using value_type = T;
    RowAllocator() noexcept = default;
    template <typename U>
    RowAllocator(const RowAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) {
        if (n > static_cast<std::size_t>(-1) / 2 / sizeof(T)) throw std::bad_array_new_length();
        return static_cast<T*>(AllocateRowMemory(n * sizeof(T), RowMemory::Cells));
    }
    void deallocate(T* p, std::size_t) noexcept { ReleaseRowMemory(p); }
    template <typename U>
    bool operator==(const RowAllocator<U>&) const noexcept {
        return true;
    }
};

}  // namespace kelto::data

class KELTO_API FloatStringVector {
public:
    // Row objects live in row memory too (see RowBatch).
    static void* operator new(std::size_t bytes) {
        return kelto::data::AllocateRowMemory(bytes, kelto::data::RowMemory::Object);
    }
    static void operator delete(void* p) noexcept { kelto::data::ReleaseRowMemory(p); }

    FloatStringVector() : cells_(1) {}
    // n missing cells, with room for one more (a reader that finds one more column need not
    // move every row). Not more: a large table is written cell by cell, and spare room is
    // memory every row pays for.
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

    std::vector<FloatString, kelto::data::RowAllocator<FloatString>> cells_;
};
