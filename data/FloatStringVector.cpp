#include "data/FloatStringVector.h"

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <istream>
#include <ostream>

#include "data/StreamBudget.h"
#include "outside/utl/BinaryIO.h"

using namespace kelto::data;

// ---------------------------------------------------------------------------------------
// Row memory

#if defined(__SANITIZE_ADDRESS__)
#define KELTO_ROW_CHUNKS_FROM_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KELTO_ROW_CHUNKS_FROM_HEAP 1
#endif
#endif

namespace kelto::data {

namespace {

constexpr std::size_t kChunkBytes = std::size_t{2} << 20;
constexpr std::size_t kHeader = 8;                         // the chunk of a block, or null
// Below this a batch is not worth a chunk (a small table would hold a mostly empty one).
constexpr std::size_t kMinBatchBytes = std::size_t{4} << 20;

}  // namespace

struct detail::Chunk {
    // Blocks carved and not yet released, plus one while a batch or an arena still carves
    // from it.
    std::atomic<std::size_t> refs{1};
};

namespace {

using detail::Chunk;
constexpr std::size_t kChunkHead = 16;  // the Chunk, keeping blocks 8-byte aligned
static_assert(sizeof(Chunk) <= kChunkHead);

std::atomic<std::size_t> g_chunkBytes{0};

// Row objects and cells are carved from chunks of their own: when a batch-made table later
// grows its rows (their cells move to the heap), the chunks of old cells empty and return to
// the system, while the small row objects keep theirs.
using Stream = detail::ChunkStream;

struct BatchState {
    int depth = 0;
    Stream streams[2];  // RowMemory::Object, RowMemory::Cells
};
thread_local BatchState t_batch;
thread_local TextArena* t_textArena = nullptr;

Chunk* NewChunk() {
#ifdef KELTO_ROW_CHUNKS_FROM_HEAP
    // Under AddressSanitizer chunks come from the heap, so that leaks of them are reported.
    void* memory = std::aligned_alloc(kChunkBytes, kChunkBytes);
    if (!memory) return nullptr;
#else
    // Straight from the system, so that a chunk goes back to it as soon as its rows die.
    // Aligned to its size and offered as one transparent huge page: a table written cell by
    // cell across tens of megabytes of 4 KB pages pays a TLB miss every 4 KB (in a virtual
    // machine a costly one), and filling 200,000 rows took twice as long. Populated at once:
    // every page is about to be written, and where huge pages are off one call still costs
    // less than a fault per page.
    void* raw = ::mmap(nullptr, 2 * kChunkBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    char* base = static_cast<char*>(raw);
    char* memory = reinterpret_cast<char*>((reinterpret_cast<std::uintptr_t>(base) + kChunkBytes - 1) & ~(kChunkBytes - 1));
    if (memory > base) ::munmap(base, static_cast<std::size_t>(memory - base));
    if (memory + kChunkBytes < base + 2 * kChunkBytes)
        ::munmap(memory + kChunkBytes, static_cast<std::size_t>(base + 2 * kChunkBytes - (memory + kChunkBytes)));
    ::madvise(memory, kChunkBytes, MADV_HUGEPAGE);  // a hint: refused where huge pages are off
#ifdef MADV_POPULATE_WRITE
    ::madvise(memory, kChunkBytes, MADV_POPULATE_WRITE);  // older kernels refuse it: pages then fault in
#endif
#endif
    g_chunkBytes.fetch_add(kChunkBytes, std::memory_order_relaxed);
    return new (memory) Chunk;
}

void Drop(Chunk* chunk) noexcept {
    if (chunk->refs.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    chunk->~Chunk();
    g_chunkBytes.fetch_sub(kChunkBytes, std::memory_order_relaxed);
#ifdef KELTO_ROW_CHUNKS_FROM_HEAP
    std::free(chunk);
#else
    ::munmap(chunk, kChunkBytes);
#endif
}

void* Carve(Stream& b, std::size_t bytes) {
    if (static_cast<std::size_t>(b.limit - b.cursor) < bytes) {
        Chunk* fresh = NewChunk();
        if (!fresh) return nullptr;
        if (b.chunk) Drop(b.chunk);
        b.chunk = fresh;
        b.cursor = reinterpret_cast<char*>(fresh) + kChunkHead;
        b.limit = reinterpret_cast<char*>(fresh) + kChunkBytes;
    }
    char* block = b.cursor;
    b.cursor += bytes;
    b.chunk->refs.fetch_add(1, std::memory_order_relaxed);
    return block;
}

}  // namespace

void* AllocateRowMemory(std::size_t bytes, RowMemory kind) {
    if (bytes > static_cast<std::size_t>(-1) / 2) throw std::bad_alloc();
    const std::size_t total = ((bytes + 7) & ~std::size_t{7}) + kHeader;
    BatchState& b = t_batch;
    Chunk* from = nullptr;
    char* block = nullptr;
    Stream* stream = nullptr;
    if (kind == RowMemory::Text) {
        if (t_textArena && t_textArena->enabled_) stream = &t_textArena->stream_;
    } else if (b.depth > 0) {
        stream = &b.streams[kind == RowMemory::Object ? 0 : 1];
    }
    if (stream && total <= kChunkBytes - kChunkHead) {
        block = static_cast<char*>(Carve(*stream, total));
        if (block) from = stream->chunk;
    }
    if (!block) block = static_cast<char*>(::operator new(total));
    std::memcpy(block, &from, sizeof from);
    return block + kHeader;
}

void ReleaseRowMemory(void* p) noexcept {
    if (!p) return;
    char* block = static_cast<char*>(p) - kHeader;
    Chunk* from;
    std::memcpy(&from, block, sizeof from);
    if (from)
        Drop(from);
    else
        ::operator delete(block);
}

std::size_t RowMemoryInChunks() { return g_chunkBytes.load(std::memory_order_relaxed); }

RowBatch::RowBatch(std::size_t expectedBytes) {
    if (expectedBytes < kMinBatchBytes) return;
    active_ = true;
    ++t_batch.depth;
}

RowBatch::~RowBatch() {
    if (!active_) return;
    BatchState& b = t_batch;
    if (--b.depth > 0) return;
    for (Stream& stream : b.streams)
        if (stream.chunk) Drop(stream.chunk);
    b = BatchState{};
}

TextArena::~TextArena() {
    if (stream_.chunk) Drop(stream_.chunk);
}

void TextArena::Expect(std::size_t expectedBytes) { enabled_ = expectedBytes >= kMinBatchBytes; }

TextArena::Use::Use(TextArena* arena) noexcept : previous_(t_textArena) { t_textArena = arena; }

TextArena::Use::~Use() { t_textArena = previous_; }

std::size_t RowBatch::RowBytes(int n) {
    // What FloatStringVector(n) takes: the object, and room for n + 2 cells (the placeholder,
    // the n cells and one more), each with its header.
    std::size_t cells = (static_cast<std::size_t>(n > 0 ? n : 0) + 2) * sizeof(FloatString);
    return 2 * kHeader + ((sizeof(FloatStringVector) + 7) & ~std::size_t{7}) + cells;
}

}  // namespace kelto::data

// ---------------------------------------------------------------------------------------
// Vectors

FloatStringVector::FloatStringVector(int n) {
    n = std::max(n, 0);
    cells_.reserve(static_cast<std::size_t>(n) + 2);
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
