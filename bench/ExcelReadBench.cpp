// Reading a large BIFF8 sheet, side by side with xlrd.
//
//   bench_excel_read
//
// The workbook (65,536 rows of 10 numbers with up to four decimals, written by LibreOffice:
// `soffice --headless --convert-to xls` from a CSV) is made once in $KELTO_BENCH_DIR (default:
// the system's temporary directory) and kept. Each side runs in a process of its own:
//   ours_s, ours_peak_MB     our read in a forked child through the entry points (open, size,
//                            read into a FloatStringSpreadsheetData)
//   process_s                the whole process of `kelto-import show --max-rows 0` on the file
//   xlrd_s, xlrd_peak_MB     xlrd.open_workbook + reading every cell, in /usr/bin/python3
//   speedup                  xlrd_s / process_s (the whole process against xlrd's read)
//   process_cpu_s, xlrd_cpu_s, cpu_speedup   the same in processor time (user + system)
//   table_MB                 the decoded table's own size (cells x sizeof(FloatString))
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

constexpr int kRows = 65536;
constexpr int kCols = 10;

fs::path BenchDir() {
    const char* dir = std::getenv("KELTO_BENCH_DIR");
    fs::path p = dir && *dir ? fs::path(dir) : fs::temp_directory_path() / "kelto-bench";
    fs::create_directories(p);
    return p;
}

// The workbook, converted by LibreOffice from a CSV of the same numbers.
fs::path Workbook() {
    const fs::path xls = BenchDir() / "numbers_65536_x10.xls";
    if (fs::exists(xls) && fs::file_size(xls) > 1000000) return xls;
    const fs::path csv = BenchDir() / "numbers_65536_x10.csv";
    {
        std::mt19937_64 rng(11);
        std::uniform_int_distribution<long long> tenThousandths(-99999999, 99999999);
        std::ofstream out(csv, std::ios::binary | std::ios::trunc);
        char cell[32];
        for (int r = 0; r < kRows; ++r) {
            for (int c = 0; c < kCols; ++c) {
                const long long v = tenThousandths(rng);
                std::snprintf(cell, sizeof cell, "%s%lld.%04lld", v < 0 ? "-" : "", std::llabs(v) / 10000, std::llabs(v) % 10000);
                out << cell << (c + 1 < kCols ? ',' : '\n');
            }
        }
    }
    const fs::path profile = BenchDir() / "soffice-profile";
    const std::string command = "cd '" + BenchDir().string() + "' && HOME='" + profile.string() +
                                "' soffice --headless --convert-to xls '" + csv.string() + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return {};
    return fs::exists(xls) ? xls : fs::path();
}

int FormatIndex(const char* name) {
    for (int i = 1; i <= QmImportSizeFileFormatsSupported(); ++i)
        if (std::string(QmImportGetFileFormatInfo(i)->name) == name) return i;
    return -1;
}

struct Measure {
    double seconds = -1;
    double cpuSeconds = -1;  // user + system
    double peakMB = -1;
};

double CpuOf(const struct rusage& u) {
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Our read in a forked child, which reports its time through a pipe; the peak from wait4.
Measure OursInChild(const fs::path& file) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const int index = FormatIndex("Excel File");
        const auto start = std::chrono::steady_clock::now();
        SpreadsheetFile* handle = nullptr;
        bool ok = QmImportOpen(index, file.c_str(), true, &handle, nullptr);
        int rows = 0, cols = 0;
        FloatStringSpreadsheetData table;
        ok = ok && QmImportEstablishSize(index, handle, &rows, &cols);
        table.SetDataSize(cols, rows);
        HostReadCallbacks callbacks(table);
        ok = ok && QmImportRead(index, handle, callbacks.Record());
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ok = ok && rows == kRows && cols == kCols && table.IsFloat(kCols, kRows);
        QmImportClose(index, handle);
        if (!ok) seconds = -1;
        if (write(fds[1], &seconds, sizeof seconds) != sizeof seconds) _exit(2);
        _exit(0);
    }
    close(fds[1]);
    Measure m;
    if (read(fds[0], &m.seconds, sizeof m.seconds) != sizeof m.seconds) m.seconds = -1;
    close(fds[0]);
    int wstatus = 0;
    struct rusage usage {};
    wait4(pid, &wstatus, 0, &usage);
    m.peakMB = static_cast<double>(usage.ru_maxrss) / 1024.0;
    return m;
}

// The whole kelto-import process (start, loading the plug-ins, the read, exit).
Measure WholeProcess(const fs::path& file) {
    const fs::path program = fs::read_symlink("/proc/self/exe").parent_path() / "kelto-import";
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        std::freopen("/dev/null", "w", stdout);
        execl(program.c_str(), "kelto-import", "show", "--max-rows", "0", file.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int wstatus = 0;
    struct rusage usage {};
    wait4(pid, &wstatus, 0, &usage);
    Measure m;
    if (WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0)
        m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    m.cpuSeconds = CpuOf(usage);
    m.peakMB = static_cast<double>(usage.ru_maxrss) / 1024.0;
    return m;
}

Measure Xlrd(const fs::path& file) {
    const fs::path script = BenchDir() / "read_xls.py";
    std::ofstream(script) << "import sys, time, resource\n"
                             "import xlrd\n"
                             "t, c = time.perf_counter(), time.process_time()\n"
                             "book = xlrd.open_workbook(sys.argv[1])\n"
                             "n = 0\n"
                             "for sheet in book.sheets():\n"
                             "    for r in range(sheet.nrows):\n"
                             "        for v in sheet.row_values(r):\n"
                             "            n += 1\n"
                             "t, c = time.perf_counter() - t, time.process_time() - c\n"
                             "assert n == 655360, n\n"
                             "print(t, c, resource.getrusage(resource.RUSAGE_SELF).ru_maxrss)\n";
    Measure m;
    const std::string command = "/usr/bin/python3 '" + script.string() + "' '" + file.string() + "'";
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

void BM_Biff8SheetVsXlrd(benchmark::State& state) {
    const fs::path file = Workbook();
    if (file.empty()) {
        state.SkipWithError("soffice could not write the workbook");
        return;
    }
    for (auto _ : state) {
        const Measure xlrd = Xlrd(file);
        const Measure ours = OursInChild(file);
        const Measure process = WholeProcess(file);
        if (ours.seconds < 0 || process.seconds < 0) {
            state.SkipWithError("our read failed");
            return;
        }
        state.SetIterationTime(ours.seconds);
        state.counters["ours_s"] = ours.seconds;
        state.counters["ours_peak_MB"] = ours.peakMB;
        state.counters["process_s"] = process.seconds;
        state.counters["process_peak_MB"] = process.peakMB;
        state.counters["table_MB"] = static_cast<double>(kRows) * kCols * sizeof(FloatString) / (1 << 20);
        if (xlrd.seconds > 0) {
            state.counters["xlrd_s"] = xlrd.seconds;
            state.counters["xlrd_peak_MB"] = xlrd.peakMB;
            state.counters["speedup"] = xlrd.seconds / process.seconds;
            // Processor time is steadier than wall time on a shared machine.
            state.counters["process_cpu_s"] = process.cpuSeconds;
            state.counters["xlrd_cpu_s"] = xlrd.cpuSeconds;
            state.counters["cpu_speedup"] = xlrd.cpuSeconds / process.cpuSeconds;
        }
    }
    state.SetLabel(file.filename().string());
}

BENCHMARK(BM_Biff8SheetVsXlrd)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
