// Reading a 2000 x 5000 matrix of doubles from MAT-files through the entry points, side by
// side with scipy.io.loadmat:
//
//   bench_mat_read                            (level 4, level 5, level 5 compressed)
//   bench_mat_read --benchmark_filter=Level4  (one of them)
//
// /usr/bin/python3 writes the three files once with scipy.io.savemat (format "4", format "5",
// format "5" compressed) into $KELTO_BENCH_DIR (default: the system's temporary directory),
// values with three decimals between -1000 and 1000, so both sides read the same bytes. Each
// side runs in a process of its own so its peak memory is its own: our read in a forked child
// (QmImportOpen, QmImportEstablishSize, a FloatStringSpreadsheetData, QmImportRead through the
// host's callback record), scipy in /usr/bin/python3 (loadmat alone is timed). Counters:
//   ours_s, scipy_s, time_ratio, ours_cpu_s, scipy_cpu_s, cpu_ratio, ours_peak_MB, scipy_peak_MB
//   ours_MB_per_s, scipy_MB_per_s   the matrix's 80 MB over each side's time
// The "ReaderOnly" runs read with MatFile into a sink that only counts cells, to separate the
// reader's cost from the table's (sizing 10 million cells is most of the first runs' time).
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "data/SpreadsheetData.h"
#include "formats/workbook/MatFile.h"
#include "plugin/HostCallbacks.h"
#include "plugin/QmImport.h"

namespace {

namespace fs = std::filesystem;

constexpr int kRows = 2000;
constexpr int kCols = 5000;
constexpr double kMatrixMB = kRows * kCols * 8 / 1e6;

fs::path BenchDir() {
    const char* dir = std::getenv("KELTO_BENCH_DIR");
    fs::path p = dir && *dir ? fs::path(dir) : fs::temp_directory_path() / "kelto-bench";
    fs::create_directories(p);
    return p;
}

bool RunPython(const std::string& script, const std::string& args, std::string* output) {
    const fs::path scriptPath = BenchDir() / "mat_bench.py";
    std::ofstream(scriptPath) << script;
    const std::string command = "/usr/bin/python3 '" + scriptPath.string() + "' " + args;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return false;
    char buffer[256];
    std::string out;
    while (std::fgets(buffer, sizeof buffer, p)) out += buffer;
    const int rc = pclose(p);
    if (output) *output = out;
    return rc == 0;
}

// The three files, written by scipy once.
fs::path DataFile(const std::string& kind) {
    const fs::path path = BenchDir() / ("matrix_2000x5000_" + kind + ".mat");
    if (fs::exists(path)) return path;
    const std::string script =
        "import sys\n"
        "import numpy as np, scipy.io\n"
        "rng = np.random.default_rng(7)\n"
        "a = np.round(rng.uniform(-1000, 1000, (2000, 5000)), 3)\n"
        "kind = sys.argv[2]\n"
        "scipy.io.savemat(sys.argv[1], {'DATA': a}, format='4' if kind == 'v4' else '5',\n"
        "                 do_compression=(kind == 'v5z'))\n";
    RunPython(script, "'" + path.string() + "' " + kind, nullptr);
    return path;
}

int FormatIndex(const char* name) {
    for (int i = 1; i <= QmImportSizeFileFormatsSupported(); ++i)
        if (std::string(QmImportGetFileFormatInfo(i)->name) == name) return i;
    return -1;
}

struct Measure {
    double seconds = -1, cpuSeconds = -1, peakMB = -1;
};

double CpuSeconds() {
    struct rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Counts cells and nothing else: the reader's own cost, without building a table.
class CountingSink : public ReadSpreadSheetData {
public:
    using ReadSpreadSheetData::Set;
    void Set(int, int, float) override { ++cells; }
    void Set(int, int, double) override { ++cells; }
    void Set(int, int, const char*) override { ++cells; }
    void SetDataSize(int c, int r) override { cols = c, rows = r; }
    int GetNumberOfColumns() const override { return cols; }
    int GetNumberOfRows() const override { return rows; }
    long long cells = 0;
    int cols = 0, rows = 0;
};

Measure OursInChild(const fs::path& file, bool table) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const int index = FormatIndex("Matlab File");
        const double cpuStart = CpuSeconds();
        auto start = std::chrono::steady_clock::now();
        bool ok = false;
        if (table) {
            SpreadsheetFile* handle = nullptr;
            ok = QmImportOpen(index, file.c_str(), true, &handle, nullptr);
            int rows = 0, cols = 0;
            FloatStringSpreadsheetData target;
            ok = ok && QmImportEstablishSize(index, handle, &rows, &cols);
            target.SetDataSize(cols, rows);
            HostReadCallbacks callbacks(target);
            ok = ok && QmImportRead(index, handle, callbacks.Record());
            ok = ok && target.GetNumberOfRows() == kRows && target.GetNumberOfColumns() == kCols &&
                 target.IsFloat(kCols, kRows);
            QmImportClose(index, handle);
        } else {
            MatFile reader;
            CountingSink sink;
            ok = reader.Open(true, file.c_str(), nullptr) == 0 && reader.GetNumRows() == kRows &&
                 reader.GetNumCols() == kCols;
            sink.SetDataSize(kCols, kRows);
            ok = ok && reader.Read(&sink) == 0 && sink.cells == std::int64_t{kRows} * kCols;
        }
        double times[2] = {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
                           CpuSeconds() - cpuStart};
        if (!ok) times[0] = -1;
        if (write(fds[1], times, sizeof times) != sizeof times) _exit(2);
        _exit(0);
    }
    close(fds[1]);
    double times[2] = {-1, -1};
    if (read(fds[0], times, sizeof times) != sizeof times) times[0] = -1;
    close(fds[0]);
    int wstatus = 0;
    struct rusage usage {};
    wait4(pid, &wstatus, 0, &usage);
    return {times[0], times[1], static_cast<double>(usage.ru_maxrss) / 1024.0};
}

Measure Scipy(const fs::path& file) {
    const std::string script =
        "import sys, time, resource\n"
        "import scipy.io\n"
        "t, c = time.perf_counter(), time.process_time()\n"
        "d = scipy.io.loadmat(sys.argv[1])\n"
        "t, c = time.perf_counter() - t, time.process_time() - c\n"
        "assert d['DATA'].shape == (2000, 5000)\n"
        "print(t, c, resource.getrusage(resource.RUSAGE_SELF).ru_maxrss)\n";
    Measure m;
    std::string out;
    double kb = -1;
    if (RunPython(script, "'" + file.string() + "'", &out) &&
        std::sscanf(out.c_str(), "%lf %lf %lf", &m.seconds, &m.cpuSeconds, &kb) == 3)
        m.peakMB = kb / 1024.0;
    return m;
}

void ReadSideBySide(benchmark::State& state, const std::string& kind, bool table = true) {
    const fs::path file = DataFile(kind);
    if (!fs::exists(file)) {
        state.SkipWithError("no file: scipy could not write it");
        return;
    }
    for (auto _ : state) {
        Measure scipy = Scipy(file);
        Measure ours = OursInChild(file, table);
        if (ours.seconds < 0) {
            state.SkipWithError("our read failed");
            return;
        }
        state.SetIterationTime(ours.seconds);
        state.counters["ours_s"] = ours.seconds;
        state.counters["ours_cpu_s"] = ours.cpuSeconds;
        state.counters["ours_peak_MB"] = ours.peakMB;
        state.counters["ours_MB_per_s"] = kMatrixMB / ours.seconds;
        if (scipy.seconds > 0) {
            state.counters["scipy_s"] = scipy.seconds;
            state.counters["scipy_cpu_s"] = scipy.cpuSeconds;
            state.counters["scipy_peak_MB"] = scipy.peakMB;
            state.counters["scipy_MB_per_s"] = kMatrixMB / scipy.seconds;
            state.counters["time_ratio"] = ours.seconds / scipy.seconds;
            state.counters["cpu_ratio"] = ours.cpuSeconds / scipy.cpuSeconds;
        }
    }
    state.SetLabel(file.filename().string() + (table ? " into the in-memory table" : " into a counting sink"));
}

void BM_Level4VsScipy(benchmark::State& state) { ReadSideBySide(state, "v4"); }
void BM_Level5VsScipy(benchmark::State& state) { ReadSideBySide(state, "v5"); }
void BM_Level5CompressedVsScipy(benchmark::State& state) { ReadSideBySide(state, "v5z"); }

// The reader alone: cells counted, no table built (scipy builds one numpy array).
void BM_Level4ReaderOnly(benchmark::State& state) { ReadSideBySide(state, "v4", false); }
void BM_Level5ReaderOnly(benchmark::State& state) { ReadSideBySide(state, "v5", false); }
void BM_Level5CompressedReaderOnly(benchmark::State& state) { ReadSideBySide(state, "v5z", false); }

BENCHMARK(BM_Level4VsScipy)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Level5VsScipy)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Level5CompressedVsScipy)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Level4ReaderOnly)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Level5ReaderOnly)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Level5CompressedReaderOnly)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
