// Decoding JCAMP-DX text: one 2.5 MB file of compressed (DIF/DUP/SQZ) data, and 500 files of
// 4,000 points each read together (AFFN, one row per file), each into a sink that keeps nothing
// (the reader's own work) and into the in-memory table (what a host sees). Counters:
//   MB/s (bytes_per_second)   JCAMP text decoded per second: open, header scan, size pass and
//                             read
//   peer_s                    the same files through jcampconverter's convert() in node, when
//                             NODE_PATH names a folder holding it (see tests/peers/)
//
// The files are written once into $KELTO_BENCH_DIR (default: the system's temporary
// directory) and kept.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "data/SpreadsheetData.h"
#include "formats/spectral/JCAMPFile.h"

namespace fs = std::filesystem;

namespace {

fs::path BenchDir() {
    const char* dir = std::getenv("KELTO_BENCH_DIR");
    fs::path path = fs::path(dir && *dir ? dir : fs::temp_directory_path().string()) / "kelto-jcamp-bench";
    fs::create_directories(path);
    return path;
}

// A spectrum of integer ordinates: a few bands over a slow baseline, with noise.
std::vector<long> Ordinates(std::size_t n, unsigned seed) {
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0.0, 3.0);
    std::vector<long> y(n);
    for (std::size_t k = 0; k < n; ++k) {
        const double t = static_cast<double>(k) / static_cast<double>(n);
        double v = 2000 + 500 * t;
        for (double centre : {0.13, 0.31, 0.52, 0.77}) v += 60000 * std::exp(-std::pow((t - centre) * 400, 2));
        y[k] = std::lround(v + noise(random));
    }
    return y;
}

std::string Sqz(long v) {
    std::string digits = std::to_string(std::labs(v));
    digits[0] = v < 0 ? "@abcdefghi"[digits[0] - '0'] : "@ABCDEFGHI"[digits[0] - '0'];
    return digits;
}
std::string Dif(long d) {
    std::string digits = std::to_string(std::labs(d));
    digits[0] = d < 0 ? "%jklmnopqr"[digits[0] - '0'] : "%JKLMNOPQR"[digits[0] - '0'];
    return digits;
}
std::string Dup(std::size_t count) {
    std::string digits = std::to_string(count);
    digits[0] = "STUVWXYZs"[digits[0] - '1'];
    return digits;
}

std::string Header(const std::string& title, std::size_t n, double firstX, double lastX) {
    char text[512];
    std::snprintf(text, sizeof text,
                  "##TITLE=%s\n##JCAMP-DX=4.24\n##DATA TYPE=INFRARED SPECTRUM\n##XUNITS=1/CM\n"
                  "##YUNITS=ABSORBANCE\n##XFACTOR=1\n##YFACTOR=0.00001\n##FIRSTX=%.6f\n##LASTX=%.6f\n"
                  "##NPOINTS=%zu\n##XYDATA=(X++(Y..Y))\n",
                  title.c_str(), firstX, lastX, n);
    return text;
}

// DIF form with DUP runs, ten differences a line, each line starting with the y check.
std::string DifDupFile(std::size_t n) {
    const std::vector<long> y = Ordinates(n, 7);
    // An NMR-like axis in Hz, falling from 24038.5 to 0 as in Bruker's files.
    std::string text = Header("compressed", n, 24038.5, 0);
    std::size_t k = 0;
    while (k < n) {
        text += std::to_string(k) + Sqz(y[k]);
        std::size_t end = std::min(n - 1, k + 10);
        std::size_t i = k + 1;
        while (i <= end) {
            const long d = y[i] - y[i - 1];
            std::size_t run = 1;
            while (i + run <= end && y[i + run] - y[i + run - 1] == d) ++run;
            text += Dif(d);
            if (run > 1) text += Dup(run);
            i += run;
        }
        text += '\n';
        if (end == n - 1) break;
        k = end;
    }
    return text + "##END=\n";
}

std::string AffnFile(std::size_t n, unsigned seed) {
    const std::vector<long> y = Ordinates(n, seed);
    std::string text = Header("plain " + std::to_string(seed), n, 400, 400 + static_cast<double>(n - 1));
    for (std::size_t k = 0; k < n; k += 8) {
        text += std::to_string(400 + k);
        for (std::size_t i = k; i < std::min(n, k + 8); ++i) text += ' ' + std::to_string(y[i]);
        text += '\n';
    }
    return text + "##END=\n";
}

struct Input {
    std::string argument;           // the path, or the multi-file form
    std::vector<fs::path> files;
    std::uint64_t bytes = 0;
    int rows = 0, cols = 0;
};

const Input& Compressed() {
    static const Input input = [] {
        Input in;
        fs::path path = BenchDir() / "compressed_difdup.jdx";
        if (!fs::exists(path)) std::ofstream(path, std::ios::binary) << DifDupFile(1200000);
        in.argument = path.string();
        in.files = {path};
        in.bytes = fs::file_size(path);
        in.rows = 3;
        in.cols = 1200002;
        return in;
    }();
    return input;
}

const Input& ManyFiles() {
    static const Input input = [] {
        Input in;
        fs::path dir = BenchDir() / "many";
        fs::create_directories(dir);
        in.argument = dir.string() + '\0';
        for (unsigned i = 0; i < 500; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "spectrum_%03u.jdx", i);
            fs::path path = dir / name;
            if (!fs::exists(path)) std::ofstream(path, std::ios::binary) << AffnFile(4000, i);
            in.argument += std::string(name) + '\0';
            in.files.push_back(path);
            in.bytes += fs::file_size(path);
        }
        in.argument += '\0';
        in.rows = 502;
        in.cols = 4002;
        return in;
    }();
    return input;
}

// jcampconverter over the same files, timed inside node; -1 when it cannot run.
double PeerSeconds(const Input& in) {
    const char* nodePath = std::getenv("NODE_PATH");
    if (!nodePath || !*nodePath) return -1;
    fs::path script = BenchDir() / "peer.js";
    std::ofstream(script) << "const fs = require('fs');\n"
                             "const { convert } = require('jcampconverter');\n"
                             "const texts = process.argv.slice(2).map((f) => fs.readFileSync(f, 'latin1'));\n"
                             "const t = process.hrtime.bigint();\n"
                             "for (const text of texts) convert(text);\n"
                             "console.log(Number(process.hrtime.bigint() - t) / 1e9);\n";
    std::string command = "node '" + script.string() + "'";
    for (const fs::path& f : in.files) command += " '" + f.string() + "'";
    double seconds = -1;
    if (FILE* p = popen(command.c_str(), "r")) {
        if (std::fscanf(p, "%lf", &seconds) != 1) seconds = -1;
        pclose(p);
    }
    return seconds;
}

// Counts the cells and keeps nothing.
class NullSink : public ReadSpreadSheetData {
public:
    using ReadSpreadSheetData::Set;
    void Set(int, int, const char*) override { ++cells; }
    void Set(int, int, float) override { ++cells; }
    void SetDataSize(int c, int r) override { cols = c, rows = r; }
    int GetNumberOfColumns() const override { return cols; }
    int GetNumberOfRows() const override { return rows; }
    bool IsFloat(int, int) const { return cells > 0; }
    std::int64_t cells = 0;
    int cols = 0, rows = 0;
};

template <typename Table>
void ReadJcamp(benchmark::State& state, const Input& in) {
    for (auto _ : state) {
        JCAMPFile file;
        Table table;
        if (file.Open(true, in.argument.c_str(), nullptr) != 0) {
            state.SkipWithError("open failed");
            return;
        }
        const int rows = file.GetNumRows();
        const int cols = file.GetNumCols();
        table.SetDataSize(cols, rows);
        if (rows != in.rows || cols != in.cols || file.Read(&table) != 0 || file.JCAMPWarning() ||
            !table.IsFloat(cols, rows)) {
            state.SkipWithError("the read did not give the whole table");
            return;
        }
        benchmark::DoNotOptimize(table);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.bytes));
    if (!std::is_same_v<Table, NullSink>) return;
    const double peer = PeerSeconds(in);
    if (peer > 0) {
        state.counters["peer_s"] = peer;
        state.counters["peer_MB_per_s"] = static_cast<double>(in.bytes) / 1e6 / peer;
    }
}

void BM_CompressedFileDecode(benchmark::State& state) { ReadJcamp<NullSink>(state, Compressed()); }
void BM_FiveHundredFilesDecode(benchmark::State& state) { ReadJcamp<NullSink>(state, ManyFiles()); }
void BM_CompressedFileIntoTable(benchmark::State& state) { ReadJcamp<FloatStringSpreadsheetData>(state, Compressed()); }
void BM_FiveHundredFilesIntoTable(benchmark::State& state) { ReadJcamp<FloatStringSpreadsheetData>(state, ManyFiles()); }

BENCHMARK(BM_CompressedFileDecode)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_FiveHundredFilesDecode)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_CompressedFileIntoTable)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_FiveHundredFilesIntoTable)->Unit(benchmark::kMillisecond)->MinTime(2);

}  // namespace

BENCHMARK_MAIN();
