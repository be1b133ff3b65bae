// Reading a large delimited file through the entry points, side by side with pandas.
//
//   bench_text_read                         (both files, one repetition each)
//   bench_text_read --benchmark_filter=Csv  (one of them)
//
// The files (1,000,000 rows of 10 numbers, about 114 MB each, TAB- and comma-separated) are
// written once into $KELTO_BENCH_DIR (default: the system's temporary directory) and kept.
// Each side runs in a process of its own so that its whole-process peak memory (ru_maxrss)
// is its own: our read in a forked child (QmImportOpen, QmImportEstablishSize, sizing a
// FloatStringSpreadsheetData, QmImportRead through the host's callback record), pandas in
// /usr/bin/python3 (read_csv alone is timed, after the import). Counters:
//   ours_s, pandas_s, time_ratio          seconds of the read and ours / pandas
//   ours_peak_MB, pandas_peak_MB, peak_ratio
//   ours_cpu_s, pandas_cpu_s, cpu_ratio   processor time of the same reads (user + system),
//                                         steadier than wall time on a shared machine
// The benchmark's own time is ours.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "data/SpreadsheetData.h"
#include "plugin/HostCallbacks.h"
#include "plugin/QmImport.h"

namespace {

namespace fs = std::filesystem;

constexpr int kRows = 1000000;
constexpr int kCols = 10;

fs::path BenchDir() {
    const char* dir = std::getenv("KELTO_BENCH_DIR");
    fs::path p = dir && *dir ? fs::path(dir) : fs::temp_directory_path() / "kelto-bench";
    fs::create_directories(p);
    return p;
}

// Numbers with six decimals between -1000 and 1000, the same for both files.
fs::path DataFile(char delimiter) {
    fs::path path = BenchDir() / (delimiter == '\t' ? "numbers_1M_x10.tsv" : "numbers_1M_x10.csv");
    if (fs::exists(path) && fs::file_size(path) > 100000000) return path;
    std::mt19937_64 rng(7);
    std::uniform_int_distribution<long long> micros(-999999999, 999999999);
    std::string out;
    out.reserve(1 << 20);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    char cell[32];
    for (int r = 0; r < kRows; ++r) {
        for (int c = 0; c < kCols; ++c) {
            long long v = micros(rng);
            int n = std::snprintf(cell, sizeof cell, "%s%lld.%06lld", v < 0 ? "-" : "", std::llabs(v) / 1000000,
                                  std::llabs(v) % 1000000);
            out.append(cell, static_cast<std::size_t>(n));
            out += c + 1 < kCols ? delimiter : '\n';
        }
        if (out.size() > (1 << 20) - 256) {
            file << out;
            out.clear();
        }
    }
    file << out;
    return path;
}

int FormatIndex(const char* name) {
    for (int i = 1; i <= QmImportSizeFileFormatsSupported(); ++i)
        if (std::string(QmImportGetFileFormatInfo(i)->name) == name) return i;
    return -1;
}

struct Measure {
    double seconds = -1;
    double cpuSeconds = -1;
    double peakMB = -1;
};

double CpuSeconds() {
    struct rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Our read in a forked child: the child reports its time through a pipe, the parent takes
// its peak from wait4.
Measure OursInChild(const fs::path& file, const char* format) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        int index = FormatIndex(format);
        const double cpuStart = CpuSeconds();
        auto start = std::chrono::steady_clock::now();
        SpreadsheetFile* handle = nullptr;
        bool ok = QmImportOpen(index, file.c_str(), true, &handle, nullptr);
        int rows = 0, cols = 0;
        FloatStringSpreadsheetData table;
        ok = ok && QmImportEstablishSize(index, handle, &rows, &cols);
        table.SetDataSize(cols, rows);
        HostReadCallbacks callbacks(table);
        ok = ok && QmImportRead(index, handle, callbacks.Record());
        double times[2] = {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
                           CpuSeconds() - cpuStart};
        ok = ok && table.GetNumberOfRows() == kRows && table.GetNumberOfColumns() == kCols &&
             table.IsFloat(kCols, kRows);
        QmImportClose(index, handle);
        if (!ok) times[0] = -1;
        if (write(fds[1], times, sizeof times) != sizeof times) _exit(2);
        _exit(0);
    }
    close(fds[1]);
    Measure m;
    double times[2] = {-1, -1};
    if (read(fds[0], times, sizeof times) != sizeof times) times[0] = -1;
    close(fds[0]);
    int wstatus = 0;
    struct rusage usage {};
    wait4(pid, &wstatus, 0, &usage);
    m.seconds = times[0];
    m.cpuSeconds = times[1];
    m.peakMB = static_cast<double>(usage.ru_maxrss) / 1024.0;
    return m;
}

Measure Pandas(const fs::path& file, char delimiter) {
    std::string script =
        "import sys, time, resource\n"
        "import pandas as pd\n"
        "t, c = time.perf_counter(), time.process_time()\n"
        "df = pd.read_csv(sys.argv[1], sep=sys.argv[2], header=None)\n"
        "t, c = time.perf_counter() - t, time.process_time() - c\n"
        "assert df.shape == (1000000, 10)\n"
        "print(t, c, resource.getrusage(resource.RUSAGE_SELF).ru_maxrss)\n";
    fs::path scriptPath = BenchDir() / "read_csv.py";
    std::ofstream(scriptPath) << script;
    std::string command = "/usr/bin/python3 '" + scriptPath.string() + "' '" + file.string() + "' '" +
                          (delimiter == '\t' ? std::string("\t") : std::string(1, delimiter)) + "'";
    Measure m;
    if (FILE* p = popen(command.c_str(), "r")) {
        double seconds = -1, cpu = -1, kb = -1;
        if (std::fscanf(p, "%lf %lf %lf", &seconds, &cpu, &kb) == 3) {
            m.seconds = seconds;
            m.cpuSeconds = cpu;
            m.peakMB = kb / 1024.0;
        }
        pclose(p);
    }
    return m;
}

void ReadSideBySide(benchmark::State& state, char delimiter, const char* format) {
    const fs::path file = DataFile(delimiter);
    for (auto _ : state) {
        Measure pandas = Pandas(file, delimiter);
        Measure ours = OursInChild(file, format);
        if (ours.seconds < 0) {
            state.SkipWithError("our read failed");
            return;
        }
        state.SetIterationTime(ours.seconds);
        state.counters["ours_s"] = ours.seconds;
        state.counters["ours_peak_MB"] = ours.peakMB;
        if (pandas.seconds > 0) {
            state.counters["pandas_s"] = pandas.seconds;
            state.counters["pandas_peak_MB"] = pandas.peakMB;
            state.counters["time_ratio"] = ours.seconds / pandas.seconds;
            state.counters["peak_ratio"] = ours.peakMB / pandas.peakMB;
            state.counters["ours_cpu_s"] = ours.cpuSeconds;
            state.counters["pandas_cpu_s"] = pandas.cpuSeconds;
            state.counters["cpu_ratio"] = ours.cpuSeconds / pandas.cpuSeconds;
        }
    }
    state.SetLabel(file.filename().string() + (fs::exists("/usr/bin/python3") ? "" : " (no /usr/bin/python3)"));
}

void BM_TsvTextFileVsPandas(benchmark::State& state) { ReadSideBySide(state, '\t', "Text File"); }
void BM_CsvFileVsPandas(benchmark::State& state) { ReadSideBySide(state, ',', "CSV File"); }

BENCHMARK(BM_TsvTextFileVsPandas)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CsvFileVsPandas)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
