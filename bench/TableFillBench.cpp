// How fast text cells land in the in-memory table, and what a large table costs in memory.
//
//   bench_table_fill --benchmark_repetitions=10 --benchmark_report_aggregates_only=true
//   /usr/bin/time -v bench_table_fill --benchmark_filter=Fill10M   (whole-process peak)
//
// "time/cell" is the time per cell set (the figure to compare with the targets); Fill10M also
// reports the heap the filled table holds, split into its parts, and how many rows had to
// move their cells while being filled (0 when sizing reserved them once).
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <sys/resource.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "data/SpreadsheetData.h"

namespace {

constexpr int kCols = 10;

// Texts as a delimited export would hold them; a pool larger than the caches' hot lines but
// small enough to stay in L2, reused round-robin.
std::vector<std::string> NumericTexts(std::size_t n) {
    std::mt19937_64 rng(42);
    std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
    std::uniform_int_distribution<int> exponent(-4, 5);
    std::vector<std::string> out;
    for (std::size_t i = 0; i < n; ++i) {
        double v = mantissa(rng) * std::pow(10.0, exponent(rng));
        out.push_back(fmt::format("{:.6g}", v));
    }
    return out;
}

std::vector<std::string> ShortTexts(std::size_t n) {
    static const char* words[] = {"Sample", "Batch", "Lot", "ok", "A", "Control", "QC", "run", "pH high", "n/a"};
    std::vector<std::string> out;
    for (std::size_t i = 0; i < n; ++i) out.push_back(std::string(words[i % 10]) + "_" + std::to_string(i % 997));
    return out;
}

std::vector<std::string> IntegerTexts(std::size_t n, std::int64_t base) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < n; ++i) out.push_back(std::to_string(base + static_cast<std::int64_t>(i * 7919 % 100000)));
    return out;
}

// Sets rows of kCols cells into a table of 100000 rows, cycling through the texts.
void SetTexts(benchmark::State& state, const std::vector<std::string>& texts) {
    constexpr int kRows = 100000;
    FloatStringSpreadsheetData table;
    table.SetDataSize(kCols, kRows);
    std::vector<const char*> p;
    for (const auto& t : texts) p.push_back(t.c_str());
    std::size_t next = 0;
    int row = 1;
    for (auto _ : state) {
        for (int c = 1; c <= kCols; ++c) {
            table.Set(c, row, p[next]);
            if (++next == p.size()) next = 0;
        }
        if (++row > kRows) row = 1;
    }
    benchmark::DoNotOptimize(table.GetFloatData(1, 1));
    state.SetItemsProcessed(state.iterations() * kCols);
    state.counters["time/cell"] =
        benchmark::Counter(static_cast<double>(kCols), benchmark::Counter::kIsIterationInvariantRate |
                                                                 benchmark::Counter::kInvert);
}

void BM_SetNumericText(benchmark::State& state) { SetTexts(state, NumericTexts(4096)); }
void BM_SetSmallIntegerText(benchmark::State& state) { SetTexts(state, IntegerTexts(4096, 0)); }
void BM_SetLargeIntegerText(benchmark::State& state) { SetTexts(state, IntegerTexts(4096, 1700000000000)); }
void BM_SetShortAsciiText(benchmark::State& state) { SetTexts(state, ShortTexts(4096)); }
void BM_SetNonAsciiText(benchmark::State& state) {
    std::vector<std::string> texts;
    for (int i = 0; i < 4096; ++i) texts.push_back(i % 2 ? "Caf\xC3\xA9 " + std::to_string(i) : "Cafe\xCC\x81 " + std::to_string(i));
    SetTexts(state, texts);
}

BENCHMARK(BM_SetNumericText);
BENCHMARK(BM_SetSmallIntegerText);
BENCHMARK(BM_SetLargeIntegerText);
BENCHMARK(BM_SetShortAsciiText);
BENCHMARK(BM_SetNonAsciiText);

// The heap in use plus the chunks that rows made in batches share (the heap's statistics
// do not see those).
std::size_t HeapInUse() { return mallinfo2().uordblks + mallinfo2().hblkhd + kelto::data::RowMemoryInChunks(); }

// A 1,000,000 x 10 table sized once and filled with numeric text, as a text import does.
void BM_Fill10M(benchmark::State& state) {
    constexpr int kRows = 1000000;
    std::vector<std::string> texts = NumericTexts(4096);
    double tableBytes = 0, moved = 0, slotBytes = 0, rowObjects = 0;
    for (auto _ : state) {
        std::size_t before = HeapInUse();
        auto table = std::make_unique<FloatStringSpreadsheetData>();
        table->SetDataSize(kCols, kRows);
        state.PauseTiming();
        FloatStringMatrix& m = table->GetFloatStringMatrix();
        std::vector<const FloatString*> where(kRows + 1);
        for (int r = 1; r <= kRows; ++r) where[r] = &m[r][1];
        state.ResumeTiming();

        std::size_t next = 0;
        for (int r = 1; r <= kRows; ++r)
            for (int c = 1; c <= kCols; ++c) {
                table->Set(c, r, texts[next].c_str());
                if (++next == texts.size()) next = 0;
            }

        state.PauseTiming();
        moved = 0;
        slotBytes = 0;
        for (int r = 1; r <= kRows; ++r) {
            moved += where[r] != &m[r][1];
            slotBytes += (m[r].capacity() + 1) * sizeof(FloatString);
        }
        where = {};
        where.shrink_to_fit();
        tableBytes = static_cast<double>(HeapInUse() - before);
        rowObjects = static_cast<double>(kRows) * sizeof(FloatStringVector);
        benchmark::DoNotOptimize(table->GetFloatData(kCols, kRows));
        table.reset();
        state.ResumeTiming();
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["time/cell"] = benchmark::Counter(static_cast<double>(kRows) * kCols,
                                                   benchmark::Counter::kIsIterationInvariantRate |
                                                       benchmark::Counter::kInvert);
    state.counters["heap_MB"] = tableBytes / 1e6;
    state.counters["cells_MB"] = static_cast<double>(kRows) * kCols * sizeof(FloatString) / 1e6;
    state.counters["row_slots_MB"] = slotBytes / 1e6;
    state.counters["row_objects_MB"] = rowObjects / 1e6;
    state.counters["row_pointers_MB"] = static_cast<double>(kRows + 5 + 1) * sizeof(void*) / 1e6;
    // Block headers, allocator rounding and the unused ends of chunks.
    state.counters["malloc_overhead_MB"] = (tableBytes - slotBytes - rowObjects - (kRows + 6) * sizeof(void*)) / 1e6;
    state.counters["rows_moved"] = moved;
    state.counters["peak_RSS_MB"] = static_cast<double>(usage.ru_maxrss) / 1e3;
}

BENCHMARK(BM_Fill10M)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
