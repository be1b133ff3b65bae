// Number parsing on the text-import path: every cell read from text goes through qmstrtod.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <locale.h>
#include <string>
#include <vector>

#include "outside/utl/QmString.h"

namespace {

const std::vector<std::string>& Cells() {
    // The shapes of numbers found in exported tables and instrument files.
    static const std::vector<std::string> cells = {
        "0", "-0", "0.0", "1", "42", "-7", "12.5", "-123.456", "0.001", "3.14159265358979", "1234567",
        "999990", "6.02214076e23", "-1.6e-19", "1e10", "0.5", "100", "-99", "2.718281828", "4095.75",
    };
    return cells;
}

void BM_Qmstrtod_Single(benchmark::State& state, const char* text) {
    char* end = nullptr;
    for (auto _ : state) {
        double v = QmString::qmstrtod(text, &end);
        benchmark::DoNotOptimize(v);
        benchmark::DoNotOptimize(end);
    }
}

void BM_Qmstrtod_MixedCells(benchmark::State& state) {
    const auto& cells = Cells();
    char* end = nullptr;
    for (auto _ : state) {
        for (const auto& c : cells) {
            double v = QmString::qmstrtod(c.c_str(), &end);
            benchmark::DoNotOptimize(v);
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(cells.size()));
}

// The C library's parser on the same cells, for comparison.
void BM_StrtodL_MixedCells(benchmark::State& state) {
    static locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    const auto& cells = Cells();
    char* end = nullptr;
    for (auto _ : state) {
        for (const auto& s : cells) {
            double v = strtod_l(s.c_str(), &end, c);
            benchmark::DoNotOptimize(v);
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(cells.size()));
}

}  // namespace

BENCHMARK_CAPTURE(BM_Qmstrtod_Single, zero, "0");
BENCHMARK_CAPTURE(BM_Qmstrtod_Single, negative_zero, "-0");
BENCHMARK_CAPTURE(BM_Qmstrtod_Single, zero_point_zero, "0.0");
BENCHMARK_CAPTURE(BM_Qmstrtod_Single, integer, "1234567");
BENCHMARK_CAPTURE(BM_Qmstrtod_Single, decimal, "-123.456");
BENCHMARK_CAPTURE(BM_Qmstrtod_Single, exponent, "6.02214076e23");
BENCHMARK_CAPTURE(BM_Qmstrtod_Single, long_decimal, "3.14159265358979323846");
BENCHMARK_CAPTURE(BM_Qmstrtod_Single, text_cell, "Sample A");
BENCHMARK(BM_Qmstrtod_MixedCells);
BENCHMARK(BM_StrtodL_MixedCells);

BENCHMARK_MAIN();
