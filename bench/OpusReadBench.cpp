// Reading 1,000 Bruker OPUS files of 1,800 points into one table (one row per file), as stored
// and interpolated onto a common axis, side by side with the independent Python decoder of
// tests/peers (its opus_file() on the same files, one process, the files decoded in turn).
//
//   bench_opus_read
//
// The files are written once into $KELTO_BENCH_DIR/opus (default: the system's temporary
// directory) and kept. Counters: files, cells, and peer_s: the Python decoder's seconds for
// all files, measured once.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "data/SpreadsheetData.h"
#include "formats/spectral/BrukerOPUS.h"
#include "tests/formats/spectral/OpusFixtures.h"

namespace {

namespace fs = std::filesystem;

constexpr int kFiles = 1000;
constexpr int kPoints = 1800;

fs::path BenchDir() {
    const char* dir = std::getenv("KELTO_BENCH_DIR");
    fs::path p = (dir && *dir ? fs::path(dir) : fs::temp_directory_path() / "kelto-bench") / "opus";
    fs::create_directories(p);
    return p;
}

// The multi-file argument "dir\0name\0...\0\0" for the files, written when missing.
const std::string& Selection() {
    static const std::string argument = [] {
        const fs::path dir = BenchDir();
        std::string s = dir.string();
        s += '\0';
        for (int f = 0; f < kFiles; ++f) {
            const std::string name = "spectrum" + std::to_string(f) + ".0";
            if (!fs::exists(dir / name)) {
                kelto::test::spectral::Opus o;
                o.points = kPoints;
                o.first = 9000 + 0.001 * f;  // slightly shifted: the interpolation has work to do
                o.last = 4000;
                o.y = [f](int i) { return 0.001f * static_cast<float>(i % 997) + 0.0001f * static_cast<float>(f); };
                const auto bytes = o.Build();
                std::ofstream((dir / name).string(), std::ios::binary)
                    .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
            }
            s += name + '\0';
        }
        return s + '\0';
    }();
    return argument;
}

template <typename Format>
void Read(benchmark::State& state) {
    const std::string& argument = Selection();
    // Shifted first x values make the reader as stored ask; the default answer is Yes.
    std::int64_t cells = 0;
    for (auto _ : state) {
        Format file;
        if (file.Open(true, argument.c_str(), nullptr) != 0) state.SkipWithError("open failed");
        FloatStringSpreadsheetData table;
        table.SetDataSize(file.GetNumCols(), file.GetNumRows());
        if (file.Read(&table) != 0) state.SkipWithError("read failed");
        cells = static_cast<std::int64_t>(table.GetNumberOfColumns()) * table.GetNumberOfRows();
        benchmark::DoNotOptimize(table);
    }
    state.counters["files"] = kFiles;
    state.counters["cells"] = static_cast<double>(cells);
}

// The peer's time for the same files, measured once per process.
double PeerSeconds() {
    static const double seconds = [] {
        Selection();
        const std::string script = std::string(KELTO_SOURCE_DIR) + "/tests/peers";
        const std::string command = "cd '" + script + "' && /usr/bin/python3 -c \"import glob,time,opus_chemstation_peer as p;"
                                    "f=sorted(glob.glob('" + BenchDir().string() + "/*.0'));t=time.perf_counter();"
                                    "[p.opus_file(x) for x in f];print(time.perf_counter()-t)\"";
        std::FILE* pipe = popen(command.c_str(), "r");
        double s = -1;
        if (pipe) {
            if (std::fscanf(pipe, "%lf", &s) != 1) s = -1;
            pclose(pipe);
        }
        return s;
    }();
    return seconds;
}

void BM_OpusAsStored(benchmark::State& state) {
    Read<BrukerOPUS>(state);
    state.counters["peer_s"] = PeerSeconds();
}
void BM_OpusInterpolated(benchmark::State& state) { Read<BrukerOPUSInterpolated>(state); }

BENCHMARK(BM_OpusAsStored)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_OpusInterpolated)->Unit(benchmark::kMillisecond)->MinTime(2);

}  // namespace

BENCHMARK_MAIN();
