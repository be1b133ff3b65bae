// Filling the columnar table (the scripting binding's target) against the row table: a
// 1,000,000 x 10 table of numeric texts, as a CSV import delivers it, and the whole path from
// a CSV file through the host's read.
//
//   bench_columnar_fill --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
//
// "time/cell" is the time per cell; "heap_MB" what the filled table holds on the heap.
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "data/SpreadsheetData.h"
#include "host/ColumnarSpreadsheetData.h"
#include "host/HostRead.h"

namespace {

constexpr int kCols = 10;
constexpr int kRows = 1000000;

std::vector<std::string> NumericTexts(std::size_t n) {
    std::mt19937_64 rng(42);
    std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
    std::uniform_int_distribution<int> exponent(-4, 5);
    std::vector<std::string> out;
    for (std::size_t i = 0; i < n; ++i) out.push_back(fmt::format("{:.6g}", mantissa(rng) * std::pow(10.0, exponent(rng))));
    return out;
}

// The heap in use plus the chunks the row table's rows share (the heap's statistics do not
// see those).
std::size_t HeapInUse() { return mallinfo2().uordblks + mallinfo2().hblkhd + kelto::data::RowMemoryInChunks(); }

template <typename Table>
void Fill(benchmark::State& state) {
    const std::vector<std::string> texts = NumericTexts(4096);
    double heap = 0;
    for (auto _ : state) {
        const std::size_t before = HeapInUse();
        auto table = std::make_unique<Table>();
        table->SetDataSize(kCols, kRows);
        std::size_t next = 0;
        for (int r = 1; r <= kRows; ++r)
            for (int c = 1; c <= kCols; ++c) {
                table->Set(c, r, texts[next].c_str());
                if (++next == texts.size()) next = 0;
            }
        state.PauseTiming();
        heap = static_cast<double>(HeapInUse() - before);
        benchmark::DoNotOptimize(table->GetFloatData(kCols, kRows));
        table.reset();
        state.ResumeTiming();
    }
    state.counters["time/cell"] = benchmark::Counter(static_cast<double>(kRows) * kCols,
                                                   benchmark::Counter::kIsIterationInvariantRate |
                                                       benchmark::Counter::kInvert);
    state.counters["heap_MB"] = heap / 1e6;
}

void BM_FillRowTable(benchmark::State& state) { Fill<FloatStringSpreadsheetData>(state); }
void BM_FillColumnarTable(benchmark::State& state) { Fill<ColumnarSpreadsheetData>(state); }
BENCHMARK(BM_FillRowTable)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_FillColumnarTable)->Unit(benchmark::kMillisecond)->Iterations(1);

bool csvWritten = false;

// A CSV file of kRows x kCols numbers, written once.
const std::string& CsvFile() {
    static const std::string path = [] {
        std::string p = fmt::format("/tmp/kelto-columnar-bench-{}.csv", getpid());
        std::ofstream out(p);
        const std::vector<std::string> texts = NumericTexts(4096);
        std::size_t next = 0;
        for (int r = 0; r < kRows; ++r)
            for (int c = 0; c < kCols; ++c) {
                out << texts[next] << (c + 1 < kCols ? ',' : '\n');
                if (++next == texts.size()) next = 0;
            }
        csvWritten = true;
        return p;
    }();
    return path;
}

// The whole read as the scripting binding makes it: format, guessed options, reader, table.
template <typename Table>
void ReadCsv(benchmark::State& state) {
    ImportHelperBase helper(nullptr, nullptr);
    kelto::host::ReadRequest request;
    request.paths = {CsvFile()};
    for (auto _ : state) {
        Table table;
        if (!kelto::host::Read(helper, request, table).ok) state.SkipWithError("the read failed");
        benchmark::DoNotOptimize(table.GetFloatData(kCols, kRows));
    }
    state.counters["time/cell"] = benchmark::Counter(static_cast<double>(kRows) * kCols,
                                                   benchmark::Counter::kIsIterationInvariantRate |
                                                       benchmark::Counter::kInvert);
}

void BM_ReadCsvRowTable(benchmark::State& state) { ReadCsv<FloatStringSpreadsheetData>(state); }
void BM_ReadCsvColumnarTable(benchmark::State& state) { ReadCsv<ColumnarSpreadsheetData>(state); }
BENCHMARK(BM_ReadCsvRowTable)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_ReadCsvColumnarTable)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (csvWritten) std::remove(CsvFile().c_str());
    return 0;
}
